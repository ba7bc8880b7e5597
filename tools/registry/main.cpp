// orvane-registry: reads and changes Orvane's key store from a shell, like Windows' reg.
#include "common/version.h"
#include "registry_tool.h"

#include <iostream>

namespace {

constexpr const char* kHelp =
    "usage: orvane-registry query KEY [/v NAME | /s]\n"
    "       orvane-registry add KEY [/v NAME] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
    "       orvane-registry delete KEY [/v NAME] /f\n"
    "       orvane-registry export KEY [FILE [/y]]\n"
    "       orvane-registry import FILE\n"
    "       orvane-registry --help | --version\n"
    "\n"
    "Reads and changes Orvane's settings store, laid out as the registry keys under\n"
    "HKEY_CURRENT_USER (HKCU for short), e.g. HKCU\\Software\\Quillmar-Brakken\\Orvane\\Setting.\n"
    "The store is $ORVANE_REGISTRY when set, else\n"
    "$XDG_CONFIG_HOME/Quillmar-Brakken/registry.sqlite3 (~/.config when XDG_CONFIG_HOME is\n"
    "unset or not an absolute path). query and export only read it: they never create it,\n"
    "and work on a store that may only be read.\n"
    "\n"
    "Operations:\n"
    "  query   print a key's values and subkeys, or the one value /v names; with /s,\n"
    "          every key below it with its values\n"
    "  add     create the key and set the value /v names (the key's default value when\n"
    "          absent) to /d DATA (empty, or 0, when absent), of type /t (REG_SZ when\n"
    "          absent; REG_DWORD takes decimal or 0x hexadecimal); an existing value is\n"
    "          overwritten only with /f\n"
    "  delete  delete the value /v names, or the key with everything below it; needs /f\n"
    "  export  write the key and everything below it as a .reg file (\"Windows Registry\n"
    "          Editor Version 5.00\": UTF-16LE, CRLF) to FILE, which must not exist\n"
    "          unless /y is given; without FILE, print the same text as UTF-8\n"
    "  import  write the keys and values of a .reg file (as export writes or prints it)\n"
    "          into the store: every line is checked first, and a file with any line\n"
    "          the store cannot take changes nothing\n"
    "\n"
    "Switches may be written with / or -, in any letter case.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  failure, including a malformed command line, with one line \"ERROR: ...\" on\n"
    "     stderr (as reg does)\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string first = args.empty() ? std::string() : args[0];
    if (first == "--help" || first == "-h" || first == "/?") {
        std::cout << kHelp;
        return 0;
    }
    if (first == "--version") {
        std::cout << "orvane-registry " << orvane::kVersion << "\n";
        return 0;
    }
    return orvane::RunRegistryTool(args, std::cout, std::cerr);
}
