// The connect dialog and its parts: the IP address control as an operator types into it, the
// site book it takes entries from and adds to, and typed text refused when the code page of
// the site cannot hold it (the command dialog's too).
#include "net/connect_dialog.h"
#include "net/ip_address_edit.h"
#include "net/remote_control_dialogs.h"
#include "store/registry_layout.h"
#include "store/site_book.h"
#include "store/site_book_dialog.h"
#include "support/modal_script.h"
#include "support/scripted_prompts.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>

namespace orvane {
namespace {

class IpAddressEditTest : public ::testing::Test {
  protected:
    void SetUp() override {
        edit_.show();
        edit_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&edit_));
    }

    // Puts the caret into a field as a click would, without selecting.
    void Enter(int index, int cursor) {
        edit_.field(index)->setFocus();
        edit_.field(index)->deselect();
        edit_.field(index)->setCursorPosition(cursor);
    }

    IpAddressEdit edit_;
};

// What the operator's keys leave in the four fields (joined by dots) and where the caret
// ends. Keys: '<' Left, '>' Right, '\b' Backspace, '^' Ctrl+V of the rest of the keys put on the
// clipboard; anything else is typed as it is.
struct TypingRow {
    const char* what;
    std::optional<quint32> start;  // none: every field empty
    int field;
    int cursor;  // -1: the field's text selected, as the connect dialog opens
    const char* keys;
    const char* fields;
    int focus;             // -1: not looked at
    int cursorAfter = -1;  // -1: not looked at
};

const TypingRow kTypingRows[] = {
    {"dots move on", {}, 0, 0, "10.0.5.21", "10.0.5.21", 3},
    {"over zeros, as with no address saved", 0, 0, 1, "10.0.5.21", "10.0.5.21", 3},
    {"spaces move on too", {}, 0, 0, "1 2 3 4", "1.2.3.4", 3},
    {"a dot after three digits ends that octet only", 0x09090909, 0, -1, "192.168.1.20",
     "192.168.1.20", 3},
    {"too high, three digits each", 0x09090909, 0, -1, "300.256.999.1", "255.255.255.1", 3},
    {"leading zeros", 0x09090909, 0, -1, "010.001.002.003", "10.1.2.3", 3},
    {"a dot or a letter in an empty field changes nothing", {}, 0, 0, ".x 7..8", "7.8..", 1},
    {"a dot in the last field stays there", {}, 3, 0, "9.", "...9", 3},
    {"a leading zero gives way, the third digit moves on", 0, 0, 1, "19201", "192.1.0.0", 1},
    {"left at a start goes to the end before", 0x0A0B0C0D, 1, 0, "<", "10.11.12.13", 0, 2},
    {"right at an end goes to the start after", 0x0A0B0C0D, 1, 0, "<>", "10.11.12.13", 1, 0},
    {"right past the end", 0x0A0B0C0D, 1, 0, ">>>", "10.11.12.13", 2, 0},
    {"backspace at a start goes to the end before", 0x0A0B0C0D, 2, 0, "\b", "10.11.12.13", 1, 2},
    {"backspace empties a field and stays", 0x0A0B0C0D, 2, 0, "\b\b\b", "10..12.13", 1},
    {"backspace in an empty field goes back", 0x0A0B0C0D, 2, 0, "\b\b\b\b", "10..12.13", 0, 2},
    {"the first field's start stays", 0x0A0B0C0D, 0, 0, "<\b", "10.11.12.13", 0, 0},
    {"the last field's end stays", 0x0A0B0C0D, 3, 2, ">", "10.11.12.13", 3},
    {"a pasted address fills every field", {}, 2, 0, "^ 192.168.1.20 ", "192.168.1.20", -1},
    {"three octets are no address", 0x0A000001, 1, 0, "^10.0.0", "10.0.0.1", -1},
    {"an octet too high is no address", 0x0A000001, 1, 0, "^1.2.3.400", "10.0.0.1", -1},
    {"bare digits go where the caret is", 0x0A000001, 2, 0, "^7", "10.0.7.1", -1},
};

TEST_F(IpAddressEditTest, KeysFillTheFieldsAsAnOperatorExpects) {
    for (const TypingRow& row : kTypingRows) {
        SCOPED_TRACE(row.what);
        row.start ? edit_.setValue(*row.start) : edit_.clear();
        Enter(row.field, std::max(row.cursor, 0));
        if (row.cursor < 0) {
            edit_.field(row.field)->selectAll();
        }
        // Keys go wherever the focus is, as they do for an operator.
        const std::string_view keys(row.keys);
        for (std::size_t at = 0; at < keys.size(); ++at) {
            QWidget* focus = QApplication::focusWidget();
            if (keys[at] == '^') {
                QApplication::clipboard()->setText(QString::fromLatin1(keys.substr(at + 1)));
                QTest::keyClick(focus, Qt::Key_V, Qt::ControlModifier);
                break;
            }
            const std::map<char, Qt::Key> moves{
                {'<', Qt::Key_Left}, {'>', Qt::Key_Right}, {'\b', Qt::Key_Backspace}};
            moves.contains(keys[at]) ? QTest::keyClick(focus, moves.at(keys[at]))
                                     : QTest::keyClick(focus, keys[at]);
        }
        QStringList fields;
        for (int i = 0; i < 4; ++i) {
            fields << edit_.field(i)->text();
        }
        EXPECT_EQ(fields.join('.').toStdString(), row.fields);
        if (!fields.contains(QString())) {  // a whole address: the control's text and value
            EXPECT_EQ(edit_.text().toStdString(), row.fields);
            EXPECT_EQ(QHostAddress(edit_.value()).toString().toStdString(), row.fields);
        }
        if (row.focus >= 0) {
            EXPECT_EQ(QApplication::focusWidget(), edit_.field(row.focus));
        }
        if (row.cursorAfter >= 0) {
            EXPECT_EQ(edit_.field(row.focus)->cursorPosition(), row.cursorAfter);
        }
    }
}

// A value that came in some other way is set right when the field is left.
TEST_F(IpAddressEditTest, AFieldAbove255IsSetRightWhenLeft) {
    edit_.clear();
    edit_.field(2)->setText("700");
    Enter(2, 3);
    edit_.field(1)->setFocus();
    EXPECT_EQ(edit_.field(2)->text(), "255");
}

constexpr std::uint32_t kAddress192_168_1_5 = 0xC0A80105;

class SiteBookDialogTest : public testing::Test {
  protected:
    Settings settings{KeyStore::OpenInMemory()};
    SiteBook book{settings.store()};
    test::ScriptedPrompts prompts;

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
                    std::uint32_t address) {
        dialog.userEdit()->setText(user);
        dialog.passwordEdit()->setText(password);
        if (address != 0) {
            dialog.ipEdit()->setValue(address);
        }
        dialog.addButton()->click();
    }
};

// Sorted by user name whatever the letter case, a row added meanwhile too; the same user added
// again is one row with the new values, in the store and in the dialog's own copy.
TEST_F(SiteBookDialogTest, AddingKeepsOneSortedRowPerUserAndOnlyExitCloses) {
    ASSERT_TRUE(book.AddSiteBookEntry({"delta", "d", 4, ""}));
    ASSERT_TRUE(book.AddSiteBookEntry({"Alpha", "a", 1, ""}));
    SiteBookDialog dialog(false, book, CodePage());
    Add(dialog, "gate", "old", kAddress192_168_1_5);
    EXPECT_EQ(Column(dialog, 0), (QStringList{"Alpha", "delta", "gate"}));
    EXPECT_EQ(Column(dialog, 1), (QStringList{"0.0.0.1", "0.0.0.4", "192.168.1.5"}));

    Add(dialog, "gate", "new", 0);  // an untouched address is 0
    EXPECT_EQ(Column(dialog, 1), (QStringList{"0.0.0.1", "0.0.0.4", "0.0.0.0"}));

    // Enter leads nowhere in the book's upkeep: the dialog only closes through Exit.
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.accept();
    EXPECT_EQ(finished.count(), 0);
    dialog.exitButton()->click();
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(SiteBookDialogTest, AddRefusesNamesTheBookCannotKeepAndTextNoSiteCanBeSent) {
    SiteBookDialog dialog(false, book, CodePage());
    Add(dialog, "", "pw", 1);
    // A separator would store the entry where the book never finds it again.
    Add(dialog, "site\\a", "pw", 1);
    // Beyond the code page: the login could never reach a site.
    Add(dialog, QString::fromUtf8("\u03A9mega"), "pw", 1);
    Add(dialog, "omega", QString::fromUtf8("\u03C0"), 1);

    EXPECT_EQ(prompts.texts().mid(0, 2),
              (QStringList{sitebooktext::kInputUserName,
                           "\n\n The user name cannot contain \"\\\". \n\n"}));
    EXPECT_TRUE(prompts.texts().value(2).contains(QString::fromUtf8("\u03A9")));
    EXPECT_EQ(prompts.texts().size(), 4);
    EXPECT_FALSE(prompts.texts().value(3).contains(QString::fromUtf8("\u03C0")));  // a password
    EXPECT_TRUE(Stored().empty());
}

// Select wants a row and hands its entry over, Exit leaves the connect dialog as it was;
// "Add directory" asks, and refuses a name the book cannot keep before asking.
TEST_F(SiteBookDialogTest, TheConnectDialogTakesAnEntryFromTheBookAndAddsItsSiteToIt) {
    ASSERT_TRUE(book.AddSiteBookEntry({"gate", "secret", kAddress192_168_1_5, "north"}));
    ASSERT_TRUE(book.AddSiteBookEntry({"yard", "other", 0x0A000002, ""}));
    ConnectDialog connect(settings);
    connect.userEdit()->setText("typed");
    for (const bool select : {true, false}) {
        test::ModalScript script;
        script.Then<SiteBookDialog>([select](SiteBookDialog* dialog) {
            dialog->selectButton()->click();  // no row yet: refused, the book stays
            dialog->list()->topLevelItem(select ? 0 : 1)->setSelected(true);
            select ? dialog->selectButton()->click() : dialog->exitButton()->click();
        });
        connect.siteBookButton()->click();
        EXPECT_TRUE(script.finished());
        EXPECT_EQ(connect.userEdit()->text(), "gate");
        EXPECT_EQ(connect.passwordEdit()->text(), "secret");
        EXPECT_EQ(connect.ipEdit()->value(), kAddress192_168_1_5);
    }
    EXPECT_EQ(prompts.texts(), QStringList(2, sitebooktext::kInputError));

    connect.userEdit()->clear();
    connect.addDirectoryButton()->click();  // no user name: nothing to ask
    connect.userEdit()->setText("night");
    prompts.Queue(PromptAnswer::No);
    connect.addDirectoryButton()->click();
    EXPECT_EQ(Stored().size(), 2u);
    connect.addDirectoryButton()->click();
    EXPECT_EQ(Stored().at(1), (SiteBookEntry{"night", "secret", kAddress192_168_1_5, ""}));
    connect.userEdit()->setText("a\\b");
    connect.addDirectoryButton()->click();
    using namespace connecttext;
    EXPECT_EQ(prompts.texts().mid(2),
              (QStringList{kAddToSiteBook, kAddToSiteBook, kInputUserName}));
    EXPECT_EQ(Stored().size(), 3u);
}

// Delete asks once for every selected row and removes them, by the key each is stored under.
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
    ASSERT_TRUE(book.AddSiteBookEntry({"b", "pw", 1, ""}));

    SiteBookDialog dialog(false, book, CodePage());
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 4);  // every stored entry has its row
    dialog.list()->selectAll();
    dialog.list()->findItems("b", Qt::MatchExactly).value(0)->setSelected(false);
    prompts.Queue(PromptAnswer::Cancel);
    dialog.deleteButton()->click();
    EXPECT_EQ(Stored().size(), 4u);
    dialog.deleteButton()->click();
    EXPECT_EQ(Column(dialog, 0), QStringList{"b"});
    // None comes back when the book opens again.
    EXPECT_EQ(Stored(), (std::vector<SiteBookEntry>{{"b", "pw", 1, ""}}));
}

// Each field is checked in turn; the caret goes to the one refused, nothing is changed or
// stored, a password is named but never shown, and the ID code only counts when it is used.
TEST(ConnectDialogText, EachFieldWithCharactersOutsideTheCodePageIsRefused) {
    test::ScriptedPrompts prompts;
    Settings settings{KeyStore::OpenInMemory()};
    ConnectDialog dialog(settings);
    dialog.show();
    dialog.ipEdit()->setValue(0x7F000001);
    dialog.userEdit()->setText(QString::fromUtf8("Dvořák"));
    dialog.passwordEdit()->setText(QString::fromUtf8("€uro"));
    dialog.accept();
    EXPECT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts().value(0).contains(QString::fromUtf8("\"ř\" cannot be sent")));
    EXPECT_EQ(dialog.focusWidget(), dialog.userEdit());
    EXPECT_EQ(settings.LoadCall().user, "");

    dialog.userEdit()->setText(QString::fromUtf8("Dvorák"));
    dialog.passwordEdit()->setText(QString::fromUtf8("Пароль"));
    dialog.accept();
    EXPECT_TRUE(prompts.texts().value(1).contains("password"));
    EXPECT_FALSE(prompts.texts().value(1).contains(QString::fromUtf8("Пароль")));
    EXPECT_EQ(dialog.focusWidget(), dialog.passwordEdit());

    dialog.passwordEdit()->setText(QString::fromUtf8("€uro"));
    dialog.identifyRadio()->setChecked(true);
    dialog.idEdit()->setText(QString::fromUtf8("站点42"));
    dialog.accept();
    EXPECT_TRUE(prompts.texts().value(2).contains(QString::fromUtf8("\"站点\"")));
    EXPECT_EQ(dialog.focusWidget(), dialog.idEdit());
    dialog.ipRadio()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.LoadCall().user, "Dvorák");

    // The code page is the one the net settings name.
    settings.WriteProfileString("Net", "CodePage", "windows-1250");
    ConnectDialog central(settings);
    central.show();
    central.userEdit()->setText(QString::fromUtf8("Dvořák"));
    central.accept();
    ASSERT_GE(prompts.texts().size(), 3);
    if (prompts.texts().size() == 3) {
        EXPECT_EQ(central.result(), QDialog::Accepted);
    } else {  // Qt without ICU code pages: windows-1252 is used instead
        EXPECT_TRUE(prompts.texts()[3].contains("windows-1252"));
    }
}

TEST(CommandDialogText, ACommandLineOutsideTheCodePageIsRefusedAndOtherwiseGivenAsBytes) {
    test::ScriptedPrompts prompts;
    CommandDialog dialog{CodePage()};
    dialog.show();
    dialog.combo()->setCurrentText(QString::fromUtf8("start 漢字.exe"));
    dialog.accept();
    EXPECT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts().value(0).contains(QString::fromUtf8("\"漢字\" cannot be sent")));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.combo()->hasFocus() || dialog.focusWidget() == dialog.combo());
    EXPECT_EQ(dialog.commandBytes(), std::nullopt);

    dialog.combo()->setCurrentText(QString::fromUtf8("café.exe"));
    EXPECT_EQ(dialog.commandBytes(), std::optional<std::string>("caf\xE9.exe"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace orvane
