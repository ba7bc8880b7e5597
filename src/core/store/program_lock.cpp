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
    return settings_.WriteProfileString(section::kKey, keyvalue::kUser, user) &&
           settings_.WriteProfileString(section::kKey, keyvalue::kPassWord, password);
}

}  // namespace orvane
