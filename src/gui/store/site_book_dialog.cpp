#include "store/site_book_dialog.h"

#include "net/ip_address_edit.h"
#include "shared/list_colours.h"
#include "shared/prompt_service.h"
#include "shared/tool_icons.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace orvane {
namespace {

// Controls of the dialog, by the identifiers the program has always used.
constexpr int kUserId = 1013;
constexpr int kListId = 1014;
constexpr int kDeleteId = 1015;
constexpr int kAddId = 1016;
constexpr int kPasswordId = 1017;
constexpr int kIpId = 1018;
constexpr int kMemoId = 1019;
constexpr int kSelectId = 1;
constexpr int kExitId = 2;

enum Column { kUserColumn = 0, kAddressColumn = 1, kMemoColumn = 2 };

// The rows' picture is drawn this size.
const QSize kRowIconSize(34, 20);
// The list shows this many rows before it scrolls.
constexpr int kVisibleRows = 10;

QTreeWidgetItem* FirstSelected(QTreeWidget* list) {
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->isSelected()) {
            return list->topLevelItem(row);
        }
    }
    return nullptr;
}

}  // namespace

QString DottedAddress(std::uint32_t address) {
    return QString::asprintf("%d.%d.%d.%d", static_cast<int>(address >> 24 & 0xFF),
                             static_cast<int>(address >> 16 & 0xFF),
                             static_cast<int>(address >> 8 & 0xFF),
                             static_cast<int>(address & 0xFF));
}

SiteBookDialog::SiteBookDialog(bool selectMode, SiteBook& book, const CodePage& codePage,
                               QWidget* parent)
    : QDialog(parent), book_(book), codePage_(codePage) {
    setWindowTitle(tr(sitebooktext::kTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    book_.LoadSiteBook(entries_);

    user_ = new QLineEdit(this);
    user_->setProperty("controlId", kUserId);
    user_->setMaxLength(static_cast<int>(kSiteBookUserNameMaxChars));
    password_ = new QLineEdit(this);
    password_->setProperty("controlId", kPasswordId);
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(static_cast<int>(kSiteBookPasswordMaxChars));
    ip_ = new IpAddressEdit(this);
    ip_->setProperty("controlId", kIpId);
    memo_ = new QLineEdit(this);
    memo_->setProperty("controlId", kMemoId);
    memo_->setMaxLength(static_cast<int>(kSiteBookMemoMaxChars));

    list_ = new QTreeWidget(this);
    list_->setProperty("controlId", kListId);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setIconSize(kRowIconSize);
    list_->setHeaderLabels({tr("User name"), tr("IP Address"), tr("Memo")});
    list_->header()->setSectionsClickable(false);
    list_->header()->setStretchLastSection(false);
    list_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int charWidth = fontMetrics().averageCharWidth();
    int listWidth = 0;
    for (int column = 0; column < static_cast<int>(std::size(kColumnChars)); ++column) {
        list_->header()->resizeSection(column, kColumnChars[column] * charWidth);
        listWidth += kColumnChars[column] * charWidth;
    }
    PaintListBackground(list_);
    list_->setMinimumSize(listWidth + 2 * list_->frameWidth(),
                          kVisibleRows * std::max(fontMetrics().height(), kRowIconSize.height()));
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { ShowFirstSelected(); });

    const auto button = [this](const char* text, int controlId) {
        auto* made = new QPushButton(tr(text), this);
        made->setProperty("controlId", controlId);
        made->setAutoDefault(false);
        return made;
    };
    addButton_ = button("&Add", kAddId);
    deleteButton_ = button("&Delete", kDeleteId);
    selectButton_ = button("&Select", kSelectId);
    selectButton_->setEnabled(selectMode);
    exitButton_ = button("E&xit", kExitId);
    exitButton_->setDefault(true);
    connect(addButton_, &QPushButton::clicked, this, &SiteBookDialog::Add);
    connect(deleteButton_, &QPushButton::clicked, this, &SiteBookDialog::DeleteSelected);
    connect(selectButton_, &QPushButton::clicked, this, &SiteBookDialog::accept);
    connect(exitButton_, &QPushButton::clicked, this, &SiteBookDialog::reject);

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(tr("User name:"), this), 0, 0);
    fields->addWidget(user_, 0, 1);
    fields->addWidget(new QLabel(tr("Password:"), this), 1, 0);
    fields->addWidget(password_, 1, 1);
    fields->addWidget(new QLabel(tr("IP Address:"), this), 0, 2);
    fields->addWidget(ip_, 0, 3);
    fields->addWidget(new QLabel(tr("Note:"), this), 1, 2);
    fields->addWidget(memo_, 1, 3);
    auto* editButtons = new QVBoxLayout;
    editButtons->addWidget(addButton_);
    editButtons->addWidget(deleteButton_);
    auto* top = new QHBoxLayout;
    top->addLayout(fields, 1);
    top->addLayout(editButtons);
    auto* closeButtons = new QHBoxLayout;
    closeButtons->addStretch();
    closeButtons->addWidget(selectButton_);
    closeButtons->addWidget(exitButton_);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top);
    outer->addWidget(list_);
    outer->addLayout(closeButtons);
    // Laid out as designed: the dialog keeps the size its controls ask for.
    outer->setSizeConstraint(QLayout::SetFixedSize);

    for (const SiteBookEntry& entry : entries_) {
        FillRow(entry);
    }
}

QString SiteBookDialog::userName() const {
    return user_->text();
}
QString SiteBookDialog::password() const {
    return password_->text();
}

QTreeWidgetItem* SiteBookDialog::RowOf(const QString& storeKey) const {
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        if (SiteBook::SameKey(item->data(kUserColumn, Qt::UserRole).toString(), storeKey)) {
            return item;
        }
    }
    return nullptr;
}

SiteBookEntry* SiteBookDialog::FindStored(const QString& storeKey) {
    const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const SiteBookEntry& e) {
        return SiteBook::SameKey(e.storeKey(), storeKey);
    });
    return found == entries_.end() ? nullptr : &*found;
}

void SiteBookDialog::FillRow(const SiteBookEntry& entry) {
    // One row per stored key, found as the store finds keys; the row takes the name as last
    // typed.
    QTreeWidgetItem* item = RowOf(entry.storeKey());
    if (!item) {
        item = new QTreeWidgetItem;
        item->setIcon(kUserColumn, ToolIcon(ToolGlyph::SiteBook));
        // The text's own background, which the list's colour alone does not set.
        for (int column = 0; column < list_->columnCount(); ++column) {
            item->setBackground(column, ListBackground());
        }
        // Ascending by user name, as the list has always sorted: letter case aside.
        int row = 0;
        while (row < list_->topLevelItemCount() &&
               QString::compare(list_->topLevelItem(row)->text(kUserColumn), entry.userName,
                                Qt::CaseInsensitive) <= 0) {
            ++row;
        }
        list_->insertTopLevelItem(row, item);
        item->setData(kUserColumn, Qt::UserRole, entry.storeKey());
    }
    item->setText(kUserColumn, entry.userName);
    item->setText(kAddressColumn, DottedAddress(entry.address));
    item->setText(kMemoColumn, entry.memo);
}

void SiteBookDialog::Add() {
    const SiteBookEntry entry{user_->text(), password_->text(), ip_->value(), memo_->text()};
    if (!SiteBook::IsUsableUserName(entry.userName)) {
        // The name is the entry's key in the store, where "\" separates keys.
        PromptService::Show(window(), entry.userName.isEmpty()
                                          ? sitebooktext::kInputUserName
                                          : sitebooktext::kNoBackslashInUserName);
        user_->setFocus();
        return;
    }
    // The login goes to a site: what its code page cannot hold is refused here, as the
    // connect dialog refuses it.
    for (QLineEdit* field : {user_, password_}) {
        if (!codePage_.CanEncode(field->text())) {
            PromptService::Show(window(), field->echoMode() == QLineEdit::Normal
                                              ? CannotSendMessage(codePage_, field->text())
                                              : CannotSendPasswordMessage(codePage_));
            field->setFocus();
            return;
        }
    }
    // A store that refuses the entry has logged why; the list shows it for this session.
    book_.AddSiteBookEntry(entry);
    FillRow(entry);
    if (SiteBookEntry* existing = FindStored(entry.userName)) {
        const QString key = existing->key;
        *existing = entry;
        existing->key = key;
    } else {
        entries_.push_back(entry);
    }
    user_->clear();
    password_->clear();
    memo_->clear();
    ip_->clear();
    user_->setFocus();
}

void SiteBookDialog::DeleteSelected() {
    if (!FirstSelected(list_)) {
        return;
    }
    if (PromptService::Show(window(), sitebooktext::kDeleteQuestion, PromptButtons::OkCancel,
                            PromptIcon::Question) != PromptAnswer::Ok) {
        return;
    }
    while (QTreeWidgetItem* selected = FirstSelected(list_)) {
        // By the key it is stored under, which the name shown may not match.
        const QString storeKey = selected->data(kUserColumn, Qt::UserRole).toString();
        // The row goes even when the store cannot delete the entry (it has logged why).
        const std::unique_ptr<QTreeWidgetItem> row(
            list_->takeTopLevelItem(list_->indexOfTopLevelItem(selected)));
        std::erase_if(entries_, [&](const SiteBookEntry& e) {
            return SiteBook::SameKey(e.storeKey(), storeKey);
        });
        book_.DeleteSiteBookEntry(storeKey);
    }
}

const SiteBookEntry* SiteBookDialog::ShowFirstSelected() {
    QTreeWidgetItem* selected = FirstSelected(list_);
    if (!selected) {
        return nullptr;
    }
    user_->setText(selected->text(kUserColumn));
    memo_->setText(selected->text(kMemoColumn));
    memo_->setCursorPosition(0);  // a long note shows its beginning
    const SiteBookEntry* entry = FindStored(selected->data(kUserColumn, Qt::UserRole).toString());
    if (entry) {
        ip_->setValue(entry->address);
        password_->setText(entry->password);
    }
    return entry;
}

void SiteBookDialog::accept() {
    if (!selectButton_->isEnabled()) {
        return;
    }
    if (!FirstSelected(list_)) {
        PromptService::Show(window(), sitebooktext::kInputError);
        return;
    }
    if (const SiteBookEntry* entry = ShowFirstSelected()) {
        chosenAddress_ = entry->address;
    }
    QDialog::accept();
}

}  // namespace orvane
