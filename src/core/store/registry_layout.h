#pragma once

#include "common/code_page.h"
#include "common/version.h"

#include <cstddef>
#include <cstdint>

// Names, defaults and valid ranges of everything the program keeps in its key store.
namespace orvane {

inline constexpr const char* kCompanyKeyName = kCompanyName;
inline constexpr const char* kApplicationName = "Orvane";
// The application profile; one subkey per section below it.
inline constexpr const char* kProfileKeyPath = "Software\\Quillmar-Brakken\\Orvane";
// Hand-built keys beside the application's own subkey.
inline constexpr const char* kSiteBookKeyPath = "software\\Quillmar-Brakken\\RemotePhone";
inline constexpr const char* kEventLogKeyPath = "software\\Quillmar-Brakken\\RemotePerson";
inline constexpr const char* kClipIndexKeyPath = "software\\Quillmar-Brakken\\RemoteRecord";

namespace section {
inline constexpr const char* kKey = "Key";
inline constexpr const char* kSetting = "Setting";
inline constexpr const char* kCall = "Call";
inline constexpr const char* kNet = "Net";
}  // namespace section

// Section "Key": the program lock and the record folder.
namespace keyvalue {
inline constexpr const char* kUser = "User";
inline constexpr const char* kPassWord = "PassWord";
inline constexpr const char* kRecPath = "RECPath";
}  // namespace keyvalue
// The lock's dialogs accept this many characters; the lock is kept and compared in them.
inline constexpr std::size_t kLockFieldMaxChars = 20;

// Section "Setting", addressed by SettingId.
enum class SettingId : int {
    VideoArrange = 1,
    LimitDiskSpace = 10,
    CheckTimer = 11,
    AutoRun = 50,
    ResumeAtStart = 60,  // 1: a start connects to the last site and records as before
    // Room for new recordings.
    DeleteOldClips = 61,
    KeepDays = 62,
};
// Kept for ResumeAtStart, in section "Setting": the operator's last site (an address) and
// the channel ids recording there, as decimal numbers separated by commas.
namespace resumevalue {
inline constexpr const char* kSite = "ResumeSite";
inline constexpr const char* kChannels = "ResumeChannels";
}  // namespace resumevalue
inline constexpr std::int32_t kSettingAbsent = -1;
inline constexpr std::int32_t kDefaultLimitDiskSpaceMb = 50;
inline constexpr std::int32_t kMaxLimitDiskSpaceMb = 9999;
inline constexpr std::int32_t kDefaultCheckTimerSeconds = 10;
inline constexpr std::int32_t kMaxCheckTimerSeconds = 300;
inline constexpr std::int32_t kMaxKeepDays = 9999;

// Section "Call": the last-used connection parameters.
namespace callvalue {
inline constexpr const char* kOption = "Option";
inline constexpr const char* kUser = "User";
inline constexpr const char* kPassWord = "PassWord";
inline constexpr const char* kDial = "Dial";
inline constexpr const char* kIdentify = "Identify";
inline constexpr const char* kFormatSize = "FormatSize";
inline constexpr const char* kQuality = "Quality";
inline constexpr const char* kSave = "Save";
inline constexpr const char* kReLink = "ReLink";
}  // namespace callvalue

inline constexpr std::int32_t kAddressModeIp = 0;
inline constexpr std::int32_t kAddressModeIdentify = 1;
inline constexpr std::int32_t kFormatSizeLarge = 1;  // 320 x 240; any other value is 160 x 120
inline constexpr std::int32_t kDefaultQuality = 30;
inline constexpr std::int32_t kMaxQuality = 100;

// Field sizes: the dialogs accept no more characters, the wire carries no more bytes (the
// same count, as wire text is single-byte).
inline constexpr std::size_t kUserNameMaxBytes = 20;
inline constexpr std::size_t kPasswordMaxBytes = 20;
inline constexpr std::size_t kIdentifyCodeMaxBytes = 10;
inline constexpr std::size_t kServerAddressMaxBytes = 255;

// Section "Net": ports and identify servers.
namespace netvalue {
inline constexpr const char* kSitePort = "SitePort";
inline constexpr const char* kIdentifyPort = "IdentifyPort";
inline constexpr const char* kListenPort = "ListenPort";
inline constexpr const char* kIdentifyPrimary = "IdentifyPrimary";
inline constexpr const char* kIdentifyFallback = "IdentifyFallback";
inline constexpr const char* kCodePage = "CodePage";
// Who may call back: addresses and a.b.c.d/nn ranges, comma-separated; empty for anyone.
inline constexpr const char* kCallBackFrom = "CallBackFrom";
}  // namespace netvalue

inline constexpr std::uint16_t kDefaultSitePort = 1000;
inline constexpr std::uint16_t kDefaultIdentifyPort = 169;
inline constexpr std::uint16_t kDefaultListenPort = 1500;
inline constexpr const char* kDefaultIdentifyPrimary = "127.0.0.1";
inline constexpr const char* kDefaultIdentifyFallback = "127.0.0.2";
// The character set of text on the wire.
inline constexpr const char* kDefaultCodePage = CodePage::kBuiltInName;

}  // namespace orvane
