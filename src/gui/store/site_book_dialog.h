#pragma once

#include "common/code_page.h"
#include "store/site_book.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvane {

class IpAddressEdit;

// "Setup site book": the sites the operator keeps, one row each, with fields to add or
// overwrite an entry. In select mode "&Select" closes with the chosen entry, whose user name,
// password and address the caller then reads; otherwise the dialog only maintains the book.
class SiteBookDialog : public QDialog {
    Q_OBJECT
  public:
    // Column widths in average character widths of the dialog's font.
    static constexpr int kColumnChars[] = {25, 20, 50};

    SiteBookDialog(bool selectMode, SiteBook& book, const CodePage& codePage,
                   QWidget* parent = nullptr);

    // The choice, after the dialog closed with OK.
    QString userName() const;
    QString password() const;
    std::uint32_t address() const { return chosenAddress_; }

    QLineEdit* userEdit() const { return user_; }
    QLineEdit* passwordEdit() const { return password_; }
    QLineEdit* memoEdit() const { return memo_; }
    IpAddressEdit* ipEdit() const { return ip_; }
    QTreeWidget* list() const { return list_; }
    QPushButton* addButton() const { return addButton_; }
    QPushButton* deleteButton() const { return deleteButton_; }
    QPushButton* selectButton() const { return selectButton_; }
    QPushButton* exitButton() const { return exitButton_; }

    // Stores the fields as an entry (a new one, or over the one of the same user name) and
    // empties them.
    void Add();
    // After one question, removes every selected row with its entry.
    void DeleteSelected();
    // "&Select": the first selected row becomes the choice.
    void accept() override;

  private:
    // Puts the first selected row's entry into the fields; the entry, when the book has it.
    const SiteBookEntry* ShowFirstSelected();
    void FillRow(const SiteBookEntry& entry);
    // The entry, and its row, stored under storeKey (as the store compares key names).
    SiteBookEntry* FindStored(const QString& storeKey);
    QTreeWidgetItem* RowOf(const QString& storeKey) const;

    SiteBook& book_;
    CodePage codePage_;
    std::vector<SiteBookEntry> entries_;
    std::uint32_t chosenAddress_ = 0;

    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    IpAddressEdit* ip_ = nullptr;
    QLineEdit* memo_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QPushButton* selectButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
};

// The address as the list shows it: "%d.%d.%d.%d", first octet from the most significant byte.
QString DottedAddress(std::uint32_t address);

namespace sitebooktext {
inline constexpr const char* kTitle = "Setup site book";
inline constexpr const char* kInputUserName = "\n\n Please input user name! \n\n";
inline constexpr const char* kNoBackslashInUserName =
    "\n\n The user name cannot contain \"\\\". \n\n";
inline constexpr const char* kDeleteQuestion = "\n\n Delete select item(s) ? \n\n";
inline constexpr const char* kInputError = "\n\n Input error! \n\n";
}  // namespace sitebooktext

}  // namespace orvane
