#pragma once

#include <string>

namespace orvane {

// A base folder of the desktop's layout: the value of variable (XDG_CONFIG_HOME,
// XDG_STATE_HOME) when it is an absolute path, otherwise $HOME/homeRelative. A relative or empty
// value is ignored, as desktops ignore it, so every tool finds the same store and log whatever
// folder it was started in. Without HOME it is the current folder.
std::string BaseFolder(const char* variable, const char* homeRelative);

}  // namespace orvane
