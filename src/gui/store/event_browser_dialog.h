#pragma once

#include "common/code_page.h"

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace orvane {

class EventLog;

// "Browse event notify": the stored event notifications, read once when the dialog opens, one
// row each in the log's order; selected rows can be deleted together with their entries.
class EventBrowserDialog : public QDialog {
    Q_OBJECT
  public:
    // Column widths in average character widths of the dialog's font.
    static constexpr int kColumnChars[] = {20, 30, 30, 60, 60};

    EventBrowserDialog(EventLog& log, const CodePage& codePage, QWidget* parent = nullptr);

    QTreeWidget* list() const { return list_; }
    QPushButton* deleteButton() const { return deleteButton_; }

    // After one question, removes every selected row and deletes its entry; an entry that
    // cannot be deleted still loses its row.
    void DeleteSelected();

  private:
    void FillList(const CodePage& codePage);

    EventLog& log_;
    QTreeWidget* list_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
};

namespace eventbrowsertext {
inline constexpr const char* kTitle = "Browse event notify";
inline constexpr const char* kDeleteQuestion = "\n\n Delete select item(s) ? \n\n";
}  // namespace eventbrowsertext

}  // namespace orvane
