#pragma once

#include "store/settings.h"

#include <string>
#include <string_view>

namespace orvane {

// The program lock: a user name and password of the program's own, kept as typed in
// section "Key". Limits count characters, as the dialogs do: both are read cut to the 20
// characters the dialogs accept, so a value written longer by another tool can still be
// matched by typing its first 20 characters.
class ProgramLock {
  public:
    explicit ProgramLock(Settings& settings) : settings_(settings) {}

    std::string StoredUser() const;
    std::string StoredPassword() const;
    // A lock is set when the stored user name or password is not empty.
    bool IsSet() const;
    // True only when both match the stored pair exactly, letter case counting.
    bool CheckPassword(std::string_view user, std::string_view password) const;
    // Writes "User", then "PassWord", in one transaction. Refuses, storing nothing, a user name or
    // password longer than 20 characters: it could never be typed back. False when refused or when
    // the store could not be written.
    bool SavePassword(std::string_view user, std::string_view password);

  private:
    Settings& settings_;
};

}  // namespace orvane
