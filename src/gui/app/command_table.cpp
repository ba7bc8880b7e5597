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
    // A command posted while its rule says no (a login's channel dialog on a site that lets
    // no channel open) does not run, as a greyed menu item would not.
    if (it == commands_.end() || !it->second.run || !Enabled(commandId)) {
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
