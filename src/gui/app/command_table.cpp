#include "app/command_table.h"

#include <QAction>

namespace orvane {

void CommandTable::Register(int commandId, Command command) {
    commands_[commandId] = std::move(command);
}

bool CommandTable::Enabled(int commandId) const {
    const auto it = commands_.find(commandId);
    return it != commands_.end() && (!it->second.enabled || it->second.enabled());
}

bool CommandTable::Run(int commandId) const {
    const auto it = commands_.find(commandId);
    if (it == commands_.end() || !it->second.run) {
        return false;
    }
    // Copied: a command may register others, or close what registered it.
    const Handler run = it->second.run;
    run();
    return true;
}

void CommandTable::Update(const std::map<int, QAction*>& actions) const {
    for (const auto& [id, action] : actions) {
        const auto it = commands_.find(id);
        if (it == commands_.end()) {
            action->setEnabled(false);
            continue;
        }
        action->setEnabled(!it->second.enabled || it->second.enabled());
        if (it->second.checked) {
            action->setChecked(it->second.checked());
        }
    }
}

}  // namespace orvane
