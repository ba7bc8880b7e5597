// The Connect menu's dialogs: the IP address control as operators type into it, the site book,
// text refused when the site's code page cannot hold it, and the keys of remote control.
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
#include <optional>
#include <string_view>

namespace orvane {
namespace {

constexpr Qt::Key kMoves[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Backspace};

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

TEST(IpAddressEditTest, KeysFillTheFieldsAsAnOperatorExpectsAndNoFieldStaysAbove255) {
    IpAddressEdit edit;
    edit.show();
    edit.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&edit));
    for (const TypingRow& row : kTypingRows) {
        SCOPED_TRACE(row.what);
        row.start ? edit.setValue(*row.start) : edit.clear();
        QLineEdit* field = edit.field(row.field);
        field->setFocus();
        field->deselect();  // where a click puts the caret, unless the row selects
        row.cursor < 0 ? field->selectAll() : field->setCursorPosition(row.cursor);
        // Keys go wherever the focus is, as they do for an operator.
        const std::string_view keys(row.keys);
        for (std::size_t at = 0; at < keys.size(); ++at) {
            QWidget* focus = QApplication::focusWidget();
            if (keys[at] == '^') {
                QApplication::clipboard()->setText(QString::fromLatin1(keys.substr(at + 1)));
                QTest::keyClick(focus, Qt::Key_V, Qt::ControlModifier);
                break;
            }
            const auto move = std::string_view("<>\b").find(keys[at]);
            move == keys.npos ? QTest::keyClick(focus, keys[at])
                              : QTest::keyClick(focus, kMoves[move]);
        }
        const QStringList fields{edit.field(0)->text(), edit.field(1)->text(),
                                 edit.field(2)->text(), edit.field(3)->text()};
        EXPECT_EQ(fields.join('.').toStdString(), row.fields);
        if (!fields.contains(QString())) {  // a whole address: the control's text and value
            EXPECT_EQ(edit.text().toStdString(), row.fields);
            EXPECT_EQ(QHostAddress(edit.value()).toString().toStdString(), row.fields);
        }
        if (row.focus >= 0) {
            EXPECT_EQ(QApplication::focusWidget(), edit.field(row.focus));
            if (row.cursorAfter >= 0) {
                EXPECT_EQ(edit.field(row.focus)->cursorPosition(), row.cursorAfter);
            }
        }
    }
    // A value that came in some other way is set right when the field is left.
    edit.field(2)->setText("700");
    edit.field(2)->setFocus();
    edit.field(1)->setFocus();
    EXPECT_EQ(edit.field(2)->text(), "255");
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

// One row per user, sorted whatever the letter case, in the store and the dialog's own copy;
// what the book cannot keep or no site could be sent is refused, each with its reason.
TEST_F(SiteBookDialogTest, AddKeepsOneSortedRowPerUserRefusesWhatNoSiteTakesAndOnlyExitCloses) {
    ASSERT_TRUE(book.AddSiteBookEntry({"delta", "d", 4, ""}));
    ASSERT_TRUE(book.AddSiteBookEntry({"Alpha", "a", 1, ""}));
    SiteBookDialog dialog(false, book, CodePage());
    Add(dialog, "gate", "old", kAddress192_168_1_5);
    EXPECT_EQ(Column(dialog, 0), (QStringList{"Alpha", "delta", "gate"}));
    EXPECT_EQ(Column(dialog, 1), (QStringList{"0.0.0.1", "0.0.0.4", "192.168.1.5"}));
    Add(dialog, "gate", "new", 0);  // an untouched address is 0
    EXPECT_EQ(Column(dialog, 1), (QStringList{"0.0.0.1", "0.0.0.4", "0.0.0.0"}));
    Add(dialog, "", "pw", 1);
    // A separator would store the entry where the book never finds it again.
    Add(dialog, "site\\a", "pw", 1);
    // Beyond the code page: the login could never reach a site.
    Add(dialog, QString::fromUtf8("\u03A9mega"), "pw", 1);
    Add(dialog, "omega", QString::fromUtf8("\u03C0"), 1);
    ASSERT_EQ(prompts.texts().size(), 4);
    EXPECT_TRUE(prompts.texts()[1].contains('\\'));
    EXPECT_TRUE(prompts.texts()[2].contains(QString::fromUtf8("\u03A9")));
    EXPECT_FALSE(prompts.texts()[3].contains(QString::fromUtf8("\u03C0")));  // a password
    EXPECT_EQ(Stored().size(), 3u);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.accept();  // Enter leads nowhere in the book's upkeep
    dialog.exitButton()->click();
    EXPECT_EQ(finished.count(), 1);
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
        EXPECT_EQ(connect.userEdit()->text() + connect.passwordEdit()->text(), "gatesecret");
        EXPECT_EQ(connect.ipEdit()->value(), kAddress192_168_1_5);
    }
    EXPECT_EQ(prompts.texts().size(), 2);
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

// Each field is checked in turn; the caret goes to the one refused, nothing is stored, a
// password is named but never shown, and the ID code only counts when it is used.
TEST(ConnectDialogText, EachFieldWithCharactersOutsideTheCodePageIsRefused) {
    test::ScriptedPrompts prompts;
    Settings settings{KeyStore::OpenInMemory()};
    ConnectDialog dialog(settings);
    dialog.show();
    dialog.ipEdit()->setValue(0x7F000001);
    const struct {
        const char *user, *password, *id, *named;
        QWidget* focus;
    } rows[] = {{"Dvořák", "€uro", "", "\"ř\" cannot be sent", dialog.userEdit()},
                {"Dvorák", "Пароль", "", "password", dialog.passwordEdit()},
                {"Dvorák", "€uro", "站点42", "\"站点\"", dialog.idEdit()}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.named);
        dialog.userEdit()->setText(QString::fromUtf8(row.user));
        dialog.passwordEdit()->setText(QString::fromUtf8(row.password));
        dialog.identifyRadio()->setChecked(*row.id != 0);
        dialog.idEdit()->setText(QString::fromUtf8(row.id));
        const qsizetype shown = prompts.texts().size();
        dialog.accept();
        ASSERT_EQ(prompts.texts().size(), shown + 1);
        EXPECT_TRUE(prompts.texts().constLast().contains(QString::fromUtf8(row.named)));
        EXPECT_FALSE(prompts.texts().constLast().contains(QString::fromUtf8(row.password)));
        EXPECT_EQ(dialog.focusWidget(), row.focus);
        EXPECT_EQ(settings.LoadCall().user, "");
    }
    dialog.ipRadio()->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings.LoadCall().user, "Dvorák");
    // The code page is the one the net settings name (Qt without ICU's code pages falls back
    // to windows-1252, and says so).
    settings.WriteProfileString("Net", "CodePage", "windows-1250");
    ConnectDialog central(settings);
    central.userEdit()->setText(QString::fromUtf8("Dvořák"));
    const qsizetype shown = prompts.texts().size();
    central.accept();
    if (prompts.texts().size() == shown) {
        EXPECT_EQ(central.result(), QDialog::Accepted);
    } else {
        EXPECT_TRUE(prompts.texts().constLast().contains("windows-1252"));
    }
}

QPushButton* ButtonNamed(const QWidget& dialog, const QString& text) {
    const auto buttons = dialog.findChildren<QPushButton*>();
    const auto named = std::ranges::find(buttons, text, &QPushButton::text);
    return named == buttons.end() ? nullptr : *named;
}

// Return takes Exit, the default with the focus; a letter alone chooses as its button does.
TEST(RemoteControlDialogLook, ALetterAloneChoosesAsItsButtonDoes) {
    const std::pair<Qt::Key, RemoteControlDialog::Choice> rows[] = {
        {Qt::Key_Return, RemoteControlDialog::kNone},
        {Qt::Key_A, RemoteControlDialog::kCloseSite},
        {Qt::Key_B, RemoteControlDialog::kRebootSite},
        {Qt::Key_C, RemoteControlDialog::kRunProgram},
        {Qt::Key_Q, RemoteControlDialog::kNone}};
    for (const auto& [key, choice] : rows) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        RemoteControlDialog dialog;
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        QPushButton* exit = ButtonNamed(dialog, "&Q.Exit");
        EXPECT_TRUE(exit->isDefault() && QApplication::focusWidget() == exit);
        for (QPushButton* other : dialog.findChildren<QPushButton*>()) {
            EXPECT_TRUE(other == exit || !(other->isDefault() || other->autoDefault()))
                << other->text().toStdString();
        }
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.choice(), choice);
        EXPECT_FALSE(dialog.isVisible());
    }
}

// Outside the command line a letter chooses as its button does; what the code page cannot
// hold is refused with the caret back in the line, the rest goes as its bytes.
TEST(RemoteControlDialogLook, TheCommandsLettersWorkAloneOnlyOutsideTheCommandLine) {
    test::ScriptedPrompts prompts;
    CommandDialog dialog{CodePage()};
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.combo()->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), "cocoa");
    EXPECT_EQ(dialog.commandLine(), "cocoa");
    dialog.combo()->setCurrentText(QString::fromUtf8("start 漢字.exe"));
    ButtonNamed(dialog, "&OK")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O);
    ASSERT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts()[0].contains(QString::fromUtf8("\"漢字\" cannot be sent")));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.combo()->hasFocus() || dialog.focusWidget() == dialog.combo());
    EXPECT_EQ(dialog.commandBytes(), std::nullopt);
    dialog.combo()->setCurrentText(QString::fromUtf8("café.exe"));
    EXPECT_EQ(dialog.commandBytes(), std::optional<std::string>("caf\xE9.exe"));
    ButtonNamed(dialog, "&OK")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace orvane
