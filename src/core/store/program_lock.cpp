#include "store/program_lock.h"

#include "common/fixed_text.h"
#include "common/log.h"

namespace orvane {

std::string ProgramLock::StoredUser() const {
    return CutToChars(settings_.GetProfileString(section::kKey, keyvalue::kUser, ""),
                      kLockFieldMaxChars);
}

std::string ProgramLock::StoredPassword() const {
    return CutToChars(settings_.GetProfileString(section::kKey, keyvalue::kPassWord, ""),
                      kLockFieldMaxChars);
}

bool ProgramLock::IsSet() const {
    return !CheckPassword("", "");
}

bool ProgramLock::CheckPassword(std::string_view user, std::string_view password) const {
    return user == StoredUser() && password == StoredPassword();
}

bool ProgramLock::SavePassword(std::string_view user, std::string_view password) {
    if (CharCount(user) > kLockFieldMaxChars || CharCount(password) > kLockFieldMaxChars) {
        qCWarning(lcStore) << "program lock not stored: longer than" << kLockFieldMaxChars
                           << "characters";
        return false;
    }
    // A user written without its password would lock the program with a password nobody
    // chose: both go in together or neither does.
    return settings_.store().WriteTogether([&] {
        return settings_.WriteProfileString(section::kKey, keyvalue::kUser, user) &&
               settings_.WriteProfileString(section::kKey, keyvalue::kPassWord, password);
    }) == StoreStatus::Ok;
}

}  // namespace orvane
