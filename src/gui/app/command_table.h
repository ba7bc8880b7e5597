#pragma once

#include <functional>
#include <map>

class QAction;

namespace orvane {

// The main frame's commands: each identifier with what it does and when it is enabled or
// checked (the update handlers). Every feature registers its own commands, so the frame
// routes commands without knowing them.
class CommandTable {
  public:
    using Handler = std::function<void()>;
    using Rule = std::function<bool()>;

    struct Command {
        Handler run;
        Rule enabled;  // empty: always enabled
        Rule checked;  // empty: not checkable
    };

    void Register(int commandId, Command command);
    bool Has(int commandId) const { return commands_.count(commandId) != 0; }
    // Runs a registered command while its rule enables it; true when it ran.
    bool Run(int commandId) const;
    bool Enabled(int commandId) const;
    // Sets each action's enabled and checked state from its command's rules.
    void Update(const std::map<int, QAction*>& actions) const;

  private:
    std::map<int, Command> commands_;
};

}  // namespace orvane
