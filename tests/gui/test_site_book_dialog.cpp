// "Setup site book": adding, overwriting and deleting entries, choosing one for the connect
// dialog, and the connect dialog's own way into the book.
#include "net/connect_dialog.h"
#include "net/ip_address_edit.h"
#include "store/registry_layout.h"
#include "store/site_book.h"
#include "store/site_book_dialog.h"
#include "support/modal_script.h"
#include "support/scripted_prompts.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace orvane {
namespace {

constexpr std::uint32_t kAddress192_168_1_5 = 0xC0A80105;

class SiteBookDialogTest : public testing::Test {
  protected:
    Settings settings{KeyStore::OpenInMemory()};
    SiteBook book{settings.store()};
    test::ScriptedPrompts prompts;

    std::unique_ptr<SiteBookDialog> Open(bool selectMode) {
        return std::make_unique<SiteBookDialog>(selectMode, book, CodePage());
    }
    std::vector<SiteBookEntry> Stored() const {
        std::vector<SiteBookEntry> entries;
        book.LoadSiteBook(entries);
        return entries;
    }
    static QStringList Column(const SiteBookDialog& dialog, int column) {
        QStringList texts;
        for (int row = 0; row < dialog.list()->topLevelItemCount(); ++row) {
            texts << dialog.list()->topLevelItem(row)->text(column);
        }
        return texts;
    }
    static void Add(SiteBookDialog& dialog, const QString& user, const QString& password,
                    std::uint32_t address, const QString& memo = {}) {
        dialog.userEdit()->setText(user);
        dialog.passwordEdit()->setText(password);
        if (address != 0) {
            dialog.ipEdit()->setValue(address);
        }
        dialog.memoEdit()->setText(memo);
        dialog.addButton()->click();
    }
};

// Sorted by user name whatever the letter case, a row added meanwhile too; the same user added
// again is one row with the new values, in the store and in the dialog's own copy.
TEST_F(SiteBookDialogTest, AddingKeepsOneSortedRowPerUserAndOnlyExitCloses) {
    ASSERT_TRUE(book.AddSiteBookEntry({"delta", "d", 4, ""}));
    ASSERT_TRUE(book.AddSiteBookEntry({"Alpha", "a", 1, ""}));
    const auto dialog = Open(false);
    Add(*dialog, "gate", "old", kAddress192_168_1_5, "north door");
    EXPECT_EQ(Column(*dialog, 0), (QStringList{"Alpha", "delta", "gate"}));
    EXPECT_EQ(Column(*dialog, 1), (QStringList{"0.0.0.1", "0.0.0.4", "192.168.1.5"}));
    // The fields are emptied for the next entry.
    EXPECT_TRUE(dialog->userEdit()->text().isEmpty() && dialog->ipEdit()->isBlank());

    Add(*dialog, "gate", "new", 0);  // an untouched address is 0
    EXPECT_EQ(Column(*dialog, 1), (QStringList{"0.0.0.1", "0.0.0.4", "0.0.0.0"}));
    EXPECT_EQ(Stored().size(), 3u);
    dialog->list()->topLevelItem(2)->setSelected(true);
    emit dialog->list()->itemDoubleClicked(dialog->list()->topLevelItem(2), 0);
    EXPECT_EQ(dialog->userEdit()->text(), "gate");
    EXPECT_EQ(dialog->passwordEdit()->text(), "new");

    // Enter leads nowhere in the book's upkeep: the dialog only closes through Exit.
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    dialog->accept();
    EXPECT_EQ(finished.count(), 0);
    dialog->exitButton()->click();
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(SiteBookDialogTest, AddRefusesNamesTheBookCannotKeepAndTextNoSiteCanBeSent) {
    const auto dialog = Open(false);
    Add(*dialog, "", "pw", 1);
    // A separator would store the entry where the book never finds it again.
    Add(*dialog, "site\\a", "pw", 1);
    // Beyond the code page: the login could never reach a site.
    Add(*dialog, QString::fromUtf8("\u03A9mega"), "pw", 1);
    Add(*dialog, "omega", QString::fromUtf8("\u03C0"), 1);

    EXPECT_EQ(prompts.texts().mid(0, 2),
              (QStringList{"\n\n Please input user name! \n\n",
                           "\n\n The user name cannot contain \"\\\". \n\n"}));
    ASSERT_EQ(prompts.shown().size(), 4u);
    EXPECT_TRUE(prompts.texts()[2].contains(QString::fromUtf8("\u03A9")));
    EXPECT_FALSE(prompts.texts()[3].contains(QString::fromUtf8("\u03C0")));  // a password
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 0);
    EXPECT_TRUE(Stored().empty());
}

TEST_F(SiteBookDialogTest, DeletingThreeSelectedRowsAsksOnceAndRemovesThemEverywhere) {
    for (const char* name : {"a", "b", "c", "d"}) {
        ASSERT_TRUE(book.AddSiteBookEntry({name, "pw", 1, ""}));
    }
    const auto dialog = Open(false);
    for (const int row : {0, 2, 3}) {
        dialog->list()->topLevelItem(row)->setSelected(true);
    }
    prompts.Queue(PromptAnswer::Cancel);
    dialog->deleteButton()->click();
    EXPECT_EQ(Stored().size(), 4u);

    dialog->deleteButton()->click();
    EXPECT_EQ(Column(*dialog, 0), QStringList{"b"});
    EXPECT_EQ(Stored(), (std::vector<SiteBookEntry>{{"b", "pw", 1, ""}}));

    dialog->list()->clearSelection();  // nothing selected: no question
    dialog->deleteButton()->click();
    EXPECT_EQ(prompts.shown().size(), 2u);
}

// Select wants a row and hands its entry over, Exit leaves the connect dialog as it was;
// "Add directory" asks, and refuses a name the book cannot keep before asking.
TEST_F(SiteBookDialogTest, TheConnectDialogTakesAnEntryFromTheBookAndAddsItsSiteToIt) {
    ASSERT_TRUE(book.AddSiteBookEntry({"gate", "secret", kAddress192_168_1_5, "north"}));
    ASSERT_TRUE(book.AddSiteBookEntry({"yard", "other", 0x0A000002, ""}));
    {
        const auto dialog = Open(true);
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        dialog->selectButton()->click();
        EXPECT_EQ(prompts.texts(), QStringList{"\n\n Input error! \n\n"});
        EXPECT_EQ(finished.count(), 0);
    }
    ConnectDialog connect(settings);
    connect.userEdit()->setText("typed");
    for (const bool select : {true, false}) {
        test::ModalScript script;
        script.Then<SiteBookDialog>([select](SiteBookDialog* dialog) {
            dialog->list()->topLevelItem(select ? 0 : 1)->setSelected(true);
            select ? dialog->selectButton()->click() : dialog->exitButton()->click();
        });
        connect.siteBookButton()->click();
        EXPECT_TRUE(script.finished());
        EXPECT_EQ(connect.userEdit()->text(), "gate");
        EXPECT_EQ(connect.passwordEdit()->text(), "secret");
        EXPECT_EQ(connect.ipEdit()->value(), kAddress192_168_1_5);
    }

    connect.userEdit()->clear();
    connect.addDirectoryButton()->click();  // no user name: nothing to ask
    EXPECT_EQ(prompts.shown().size(), 1u);
    connect.userEdit()->setText("night");
    prompts.Queue(PromptAnswer::No);
    connect.addDirectoryButton()->click();
    EXPECT_EQ(Stored().size(), 2u);
    connect.addDirectoryButton()->click();
    EXPECT_EQ(prompts.shown().size(), 3u);
    const auto stored = Stored();
    EXPECT_EQ(std::count(stored.begin(), stored.end(),
                         SiteBookEntry{"night", "secret", kAddress192_168_1_5, ""}),
              1);
    connect.userEdit()->setText("a\\b");
    connect.addDirectoryButton()->click();
    ASSERT_EQ(prompts.shown().size(), 4u);
    EXPECT_EQ(prompts.shown()[3].text, "\n\n Please input user name! \n\n");
    EXPECT_EQ(Stored().size(), 3u);
}

TEST_F(SiteBookDialogTest, EntriesAreFoundByTheKeyTheyAreStoredUnder) {
    // Written by another tool: a "Name" that is not its key's, and keys that differ in a
    // letter the store tells apart ("ü" and "Ü") but a list search would not.
    KeyStore& store = settings.store();
    const auto odd =
        store.CreateKey(KeyStore::kRoot, std::string(kSiteBookKeyPath) + "\\othername");
    ASSERT_TRUE(odd.ok());
    ASSERT_EQ(store.SetString(odd.value, "Name", "different"), StoreStatus::Ok);
    ASSERT_TRUE(book.AddSiteBookEntry({QString::fromUtf8("m\u00FCller"), "a", 1, ""}));
    ASSERT_TRUE(book.AddSiteBookEntry({QString::fromUtf8("M\u00DCLLER"), "b", 2, ""}));

    const auto dialog = Open(false);
    ASSERT_EQ(dialog->list()->topLevelItemCount(), 3);  // every stored entry has its row
    dialog->list()->selectAll();
    prompts.Queue(PromptAnswer::Ok);
    dialog->deleteButton()->click();
    EXPECT_EQ(dialog->list()->topLevelItemCount(), 0);
    EXPECT_TRUE(Stored().empty());  // none comes back when the book opens again
}

}  // namespace
}  // namespace orvane
