#pragma once

#include <string>

namespace orvane {

class Settings;

// The login-session autostart entry that starts the program with the desktop:
// $XDG_CONFIG_HOME/autostart/Quillmar.desktop (~/.config when the variable is unset).
std::string AutostartEntryPath();

// Writes the entry, naming executablePath, when on; removes it when off. Either way
// "AutoRun" is stored as on. An entry that cannot be written or removed is left as it was
// and logged; the return value tells whether the entry now matches on.
bool SetAutoRun(bool on, Settings& settings, const std::string& executablePath);

// The Exec value of a desktop entry that runs program with no arguments: quoted when it
// holds a reserved character, escaped for the quoting and for the string value.
std::string DesktopExecValue(const std::string& program);

}  // namespace orvane
