#include "site/login_payload.h"

#include "common/log.h"
#include "wire/byte_order.h"
#include "wire/message_builder.h"

#include <span>

namespace orvane {
namespace {

std::string FieldText(const CodePage& codePage, const std::string& text, std::size_t field) {
    auto bytes = codePage.EncodeField(QString::fromStdString(text), field);
    if (!bytes) {
        qCWarning(lcSite) << "login text has characters outside code page" << codePage.name()
                          << "- sent empty";
        return {};
    }
    return std::move(*bytes);
}

}  // namespace

LoginPayload BuildLoginPayload(const CallSettings& call, bool alarmMode, const CodePage& codePage) {
    LoginPayload payload{};
    const std::span<std::uint8_t> bytes(payload);
    PutTextField(bytes.subspan(0, kLoginNameField),
                 alarmMode ? kAlarmUser : FieldText(codePage, call.user, kLoginNameField));
    PutTextField(
        bytes.subspan(kLoginPasswordOffset, kLoginPasswordField),
        alarmMode ? kAlarmPassword : FieldText(codePage, call.password, kLoginPasswordField));
    WriteLe32(bytes, kLoginFormatOffset, call.formatSize == kFormatSizeLarge ? 1 : 0);
    const bool qualityInRange = call.quality >= 0 && call.quality <= kMaxQuality;
    WriteLe32(bytes, kLoginQualityOffset,
              static_cast<std::uint32_t>(qualityInRange ? call.quality : kDefaultQuality));
    return payload;
}

Block BuildAlarmGreeting(const CallSettings& call, const CodePage& codePage) {
    const LoginPayload payload = BuildLoginPayload(call, true, codePage);
    Block greeting =
        Flatten(BuildMessage(static_cast<std::uint8_t>(ClientMessage::Login), payload));
    const Block query =
        Flatten(BuildWordMessage(static_cast<std::uint8_t>(ClientMessage::EventQuery), 0));
    greeting.insert(greeting.end(), query.begin(), query.end());
    return greeting;
}

}  // namespace orvane
