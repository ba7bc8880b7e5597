#include "store/program_lock.h"

#include "common/fixed_text.h"

namespace orvane {

std::string ProgramLock::StoredUser() const {
    return CutToBytes(settings_.GetProfileString(section::kKey, keyvalue::kUser, ""),
                      kUserNameMaxBytes);
}

std::string ProgramLock::StoredPassword() const {
    return CutToBytes(settings_.GetProfileString(section::kKey, keyvalue::kPassWord, ""),
                      kPasswordMaxBytes);
}

bool ProgramLock::IsSet() const {
    return !CheckPassword("", "");
}

bool ProgramLock::CheckPassword(std::string_view user, std::string_view password) const {
    return user == StoredUser() && password == StoredPassword();
}

void ProgramLock::SavePassword(std::string_view user, std::string_view password) {
    settings_.WriteProfileString(section::kKey, keyvalue::kUser, user);
    settings_.WriteProfileString(section::kKey, keyvalue::kPassWord, password);
}

}  // namespace orvane
