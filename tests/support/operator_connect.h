#pragma once

#include "app/main_frame.h"
#include "net/connect_dialog.h"
#include "shared/command_ids.h"
#include "support/event_loop.h"
#include "support/modal_script.h"
#include "video/open_channel_dialog.h"

#include <QLineEdit>

namespace orvane::test {

// The operator's Connect as most tests need it: the password typed into the connect dialog
// (the store has the address and user), and the first channel the site offers opened. Returns
// once the channel dialog, which follows the login, has been answered, or on a timeout.
inline void ConnectAsOperator(MainFrame* frame, const QString& password = QStringLiteral("admin")) {
    ModalScript script;
    script
        .Then<ConnectDialog>([password](ConnectDialog* dialog) {
            dialog->passwordEdit()->setText(password);
            dialog->accept();
        })
        .Then<OpenChannelDialog>([](OpenChannelDialog* dialog) { dialog->accept(); });
    frame->RunCommand(cmd::kConnect);
    WaitUntil([&] { return script.finished(); });
}

}  // namespace orvane::test
