#include "store/auto_run.h"
#include "store/settings.h"
#include "support/message_guard.h"
#include "support/scoped_env.h"
#include "support/temp_store.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>

namespace orvane {
namespace {

using test::ScopedEnv;

// The program a launcher runs for the entry's Exec line: the string value's escapes undone,
// then the quoting's (an unquoted value ends at the first space), then %% made %.
std::string ExecProgram(const QStringList& lines) {
    static const QRegularExpression escaped(QStringLiteral(R"(\\(.))"));
    QString exec = lines.filter(QRegularExpression(QStringLiteral("^Exec="))).value(0).mid(5);
    exec.replace(escaped, QStringLiteral("\\1"));
    if (exec.startsWith('"')) {
        exec = exec.mid(1, exec.size() - 2).replace(escaped, QStringLiteral("\\1"));
    } else {
        exec = exec.section(' ', 0, 0);
    }
    return exec.replace(QStringLiteral("%%"), QStringLiteral("%")).toStdString();
}

class AutoRunTest : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    ScopedEnv config{"XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config"))};
    std::string entry = temp.File("config") + "/autostart/Quillmar.desktop";

    QStringList EntryLines() const {
        return QString::fromStdString(test::ReadFileBytes(entry)).split('\n', Qt::SkipEmptyParts);
    }
};

// The entry names the program however odd its path, and a relative or empty config home
// (which desktops ignore) puts it under the home folder; off removes it.
TEST_F(AutoRunTest, OnWritesAnEntryNamingTheProgramAndOffRemovesIt) {
    ASSERT_EQ(AutostartEntryPath(), entry);
    for (const std::string program : {"/usr/bin/orvane", "/opt/Orvane Viewer/bin/orvane",
                                      R"(/tmp/a "b" $c\d `e` 100%/orvane)", "/srv/x'y/orvane"}) {
        ASSERT_TRUE(SetAutoRun(true, settings, program));
        EXPECT_EQ(ExecProgram(EntryLines()), program) << test::ReadFileBytes(entry);
    }
    EXPECT_EQ(EntryLines().value(0), "[Desktop Entry]");
    EXPECT_TRUE(EntryLines().contains("Type=Application"));
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 1);

    EXPECT_TRUE(SetAutoRun(false, settings, "/usr/bin/orvane"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(entry)));
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 0);
    EXPECT_TRUE(SetAutoRun(false, settings, "/usr/bin/orvane"));  // nothing to remove is fine
    // A file where the autostart folder belongs: no entry even for root, yet the choice is kept.
    const std::string folder = temp.File("config") + "/autostart";
    ASSERT_TRUE(std::filesystem::remove(folder));
    test::WriteFileBytes(folder, "in the way");
    const test::ExpectedMessage warned(QtWarningMsg, "orvane.store", "autostart entry");
    EXPECT_FALSE(SetAutoRun(true, settings, "/usr/bin/orvane"));
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 1);
    EXPECT_EQ(test::ReadFileBytes(folder), "in the way");

    ScopedEnv home("HOME", QByteArray::fromStdString(temp.folder()));
    for (const QByteArray& value : {QByteArray(), QByteArray("relative/config")}) {
        ScopedEnv configHome("XDG_CONFIG_HOME", value);
        EXPECT_EQ(AutostartEntryPath(), temp.folder() + "/.config/autostart/Quillmar.desktop")
            << value.toStdString();
    }
}

}  // namespace
}  // namespace orvane
