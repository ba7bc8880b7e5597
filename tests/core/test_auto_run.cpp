#include "store/auto_run.h"
#include "store/settings.h"
#include "support/message_guard.h"
#include "support/scoped_env.h"
#include "support/temp_store.h"

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace orvane {
namespace {

using test::ScopedEnv;

// Reads a desktop entry back as a launcher would: the group, then key=value lines with the
// string escapes undone.
std::map<std::string, std::string> ReadEntry(const std::string& path, std::string* group) {
    std::istringstream in(test::ReadFileBytes(path));
    std::map<std::string, std::string> keys;
    std::string line;
    std::getline(in, *group);
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string value;
        const std::string raw = line.substr(eq + 1);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                const char next = raw[++i];
                value.push_back(next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next);
            } else {
                value.push_back(raw[i]);
            }
        }
        keys[line.substr(0, eq)] = value;
    }
    return keys;
}

// The program an Exec value with no arguments names: quotes and their escapes undone, %%
// made %.
std::string ExecProgram(const std::string& exec) {
    std::string program;
    const bool quoted = !exec.empty() && exec.front() == '"';
    for (std::size_t i = quoted ? 1 : 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted && c == '"') {
            break;
        }
        if (quoted && c == '\\' && i + 1 < exec.size()) {
            program.push_back(exec[++i]);
        } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
            program.push_back('%');
            ++i;
        } else {
            program.push_back(c);
        }
    }
    return program;
}

class AutoRunTest : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    ScopedEnv config{"XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File("config"))};
    std::string entry = temp.File("config") + "/autostart/Quillmar.desktop";
};

TEST_F(AutoRunTest, TheEntryNamesTheRealProgramWhereverItWasStartedFrom) {
    ASSERT_EQ(AutostartEntryPath(), entry);
    const std::string program = "/opt/Orvane Viewer/bin/orvane";
    // Started from somewhere else entirely: the entry must not be built from this folder.
    const auto previous = std::filesystem::current_path();
    std::filesystem::create_directories(temp.File("elsewhere"));
    std::filesystem::current_path(temp.File("elsewhere"));
    const bool written = SetAutoRun(true, settings, program);
    std::filesystem::current_path(previous);

    EXPECT_TRUE(written);
    std::string group;
    auto keys = ReadEntry(entry, &group);
    EXPECT_EQ(group, "[Desktop Entry]");
    EXPECT_EQ(keys["Type"], "Application");
    EXPECT_EQ(keys["Name"], "Orvane");
    EXPECT_EQ(keys["X-GNOME-Autostart-enabled"], "true");
    EXPECT_EQ(keys["Exec"].front(), '"');
    EXPECT_EQ(ExecProgram(keys["Exec"]), program);
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 1);
    EXPECT_TRUE(settings.AutoRun());
}

TEST_F(AutoRunTest, AwkwardProgramPathsSurviveTheEscaping) {
    for (const std::string program :
         {"/usr/bin/orvane", R"(/tmp/a "b" $c\d `e` 100%/orvane)", "/srv/x'y/orvane"}) {
        ASSERT_TRUE(SetAutoRun(true, settings, program));
        std::string group;
        auto keys = ReadEntry(entry, &group);
        EXPECT_EQ(ExecProgram(keys["Exec"]), program) << keys["Exec"];
    }
    EXPECT_EQ(DesktopExecValue("/usr/bin/orvane"), "/usr/bin/orvane");
}

TEST_F(AutoRunTest, OffRemovesTheEntry) {
    ASSERT_TRUE(SetAutoRun(true, settings, "/usr/bin/orvane"));
    ASSERT_TRUE(QFile::exists(QString::fromStdString(entry)));
    EXPECT_TRUE(SetAutoRun(false, settings, "/usr/bin/orvane"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(entry)));
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 0);
    // Nothing to remove is no failure.
    EXPECT_TRUE(SetAutoRun(false, settings, "/usr/bin/orvane"));
}

TEST_F(AutoRunTest, AnUnwritableFolderStillStoresTheChoice) {
    // A file where the autostart folder belongs: no entry can be made there, even for root.
    std::filesystem::create_directories(temp.File("config"));
    test::WriteFileBytes(temp.File("config") + "/autostart", "in the way");
    {
        test::ExpectedMessage warned(QtWarningMsg, "orvane.store", "autostart entry");
        EXPECT_FALSE(SetAutoRun(true, settings, "/usr/bin/orvane"));
    }
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), 1);
    EXPECT_EQ(test::ReadFileBytes(temp.File("config") + "/autostart"), "in the way");
}

TEST_F(AutoRunTest, WithoutAConfigHomeTheEntryGoesUnderTheHomeFolder) {
    ScopedEnv home("HOME", QByteArray::fromStdString(temp.folder()));
    {
        ScopedEnv unset("XDG_CONFIG_HOME", QByteArray());
        EXPECT_EQ(AutostartEntryPath(), temp.folder() + "/.config/autostart/Quillmar.desktop");
    }
    // A relative value is no base directory at all.
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(AutostartEntryPath(), temp.folder() + "/.config/autostart/Quillmar.desktop");
}

}  // namespace
}  // namespace orvane
