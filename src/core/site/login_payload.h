#pragma once

#include "common/code_page.h"
#include "store/settings.h"
#include "wire/message_builder.h"
#include "wire/message_layout.h"

#include <array>
#include <cstdint>

namespace orvane {

using LoginPayload = std::array<std::uint8_t, kLoginPayloadSize>;

// The 48-byte Login payload: user name and password in the code page, NUL-padded in 20-byte
// fields (a 20-character name fills its field without NUL), image format 1 for 320 x 240 and
// 0 for 160 x 120, quality 0..100 with anything else sent as 30. In alarm mode the built-in
// account replaces the stored one. A name or password the code page cannot hold goes out
// empty, never altered: the site refuses the login instead of checking another password.
LoginPayload BuildLoginPayload(const CallSettings& call, bool alarmMode,
                               const CodePage& codePage = CodePage());

// What the client says first on a site's call-back: the alarm-mode Login, then EventQuery.
Block BuildAlarmGreeting(const CallSettings& call, const CodePage& codePage = CodePage());

}  // namespace orvane
