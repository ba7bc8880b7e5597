#include "site/login_payload.h"

#include "wire/byte_order.h"
#include "wire/message_builder.h"

#include <span>

namespace orvane {

LoginPayload BuildLoginPayload(const CallSettings& call, bool alarmMode) {
    LoginPayload payload{};
    const std::span<std::uint8_t> bytes(payload);
    PutTextField(bytes.subspan(0, kLoginNameField), alarmMode ? kAlarmUser : call.user);
    PutTextField(bytes.subspan(kLoginPasswordOffset, kLoginPasswordField),
                 alarmMode ? kAlarmPassword : call.password);
    WriteLe32(bytes, kLoginFormatOffset, call.formatSize == kFormatSizeLarge ? 1 : 0);
    const bool qualityInRange = call.quality >= 0 && call.quality <= kMaxQuality;
    WriteLe32(bytes, kLoginQualityOffset,
              static_cast<std::uint32_t>(qualityInRange ? call.quality : kDefaultQuality));
    return payload;
}

}  // namespace orvane
