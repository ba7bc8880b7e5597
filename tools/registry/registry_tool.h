#pragma once

#include "store/key_store.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace orvane {

// The orvane-registry command line, modelled on Windows' reg:
//   query KEY [/v NAME]
//   add KEY /v NAME /t REG_SZ|REG_DWORD /d DATA [/f]
//   delete KEY [/v NAME] /f
//   export KEY
// KEY starts with HKCU or HKEY_CURRENT_USER. Returns the exit code: 0 on success, 1 with a
// one-line error on err otherwise.
int RunRegistryTool(KeyStore& store, const std::vector<std::string>& args, std::ostream& out,
                    std::ostream& err);

// The same, opening the store named by ORVANE_REGISTRY or the default location.
int RunRegistryTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orvane
