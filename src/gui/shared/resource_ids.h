#pragma once

// Resources and controls, named by the identifiers the program has always used.
namespace orvane::res {

inline constexpr const char* kSplashBitmap = ":/images/splash.svg";  // bitmap 100
inline constexpr int kSplashWidth = 245;
inline constexpr int kSplashHeight = 240;
inline constexpr const char* kAppIcon = ":/icons/orvane.svg";  // icon 115
inline constexpr const char* kLockIcon = ":/icons/lock.svg";   // icon 134

inline constexpr int kUserNameEdit = 1021;
inline constexpr int kPasswordEdit = 1022;
inline constexpr int kConfirmEdit = 1023;
inline constexpr int kResetButton = 1073;
inline constexpr int kOkButton = 1;
inline constexpr int kCancelButton = 2;

}  // namespace orvane::res
