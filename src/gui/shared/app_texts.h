#pragma once

// Texts the program shows, kept word for word.
namespace orvane::text {

inline constexpr const char* kAppTitle = "Orvane";
inline constexpr const char* kVersion = "Orvane version 5.50";
inline constexpr const char* kAboutTitle = "About Orvane...";
inline constexpr const char* kSocketsFailed = "Windows sockets Initialize faid.";
inline constexpr const char* kPasswordNotCorrect = "\n\n Password is not correct! \n\n";
inline constexpr const char* kPleaseInputUserName = "\n\n Please input user name! \n\n";
inline constexpr const char* kPasswordNotSaved =
    "\n\n The password could not be saved: the settings store cannot be written. \n\n"
    " The lock is as it was. \n\n";
inline constexpr const char* kEnterPasswordTitle = "Enter password";
inline constexpr const char* kSetupPasswordTitle = "Setup password";

}  // namespace orvane::text
