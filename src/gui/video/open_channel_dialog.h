#pragma once

#include <QDialog>

class QComboBox;

namespace orvane {

class ChannelTable;

// "Open local site video channel": one channel of the connected site, picked from a list of
// "%04d name" items. The chosen id is read back from the item's first four characters.
class OpenChannelDialog : public QDialog {
    Q_OBJECT
  public:
    OpenChannelDialog(const ChannelTable& channels, QWidget* parent = nullptr);

    // 0 until Open is pressed with an item selected.
    std::int32_t selectedChannelId() const { return selectedChannelId_; }
    QComboBox* list() const { return list_; }

    void accept() override;

  private:
    QComboBox* list_;
    std::int32_t selectedChannelId_ = 0;
};

}  // namespace orvane
