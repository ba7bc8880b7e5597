#include "registry_tool.h"
#include "support/temp_store.h"

#include <QProcess>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <sstream>

namespace orvane {
namespace {

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

class RegistryToolTest : public testing::Test {
  protected:
    ToolRun Run(std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        const int code = RunRegistryTool(store, args, out, err);
        return {code, out.str(), err.str()};
    }

    test::TempStore temp;
    KeyStore store = std::move(*KeyStore::Open(temp.path()).store);
};

constexpr const char* kSettingKey = "HKCU\\Software\\Quillmar-Brakken\\Orvane\\Setting";

TEST_F(RegistryToolTest, AddedValuesQueryBackLikeReg) {
    EXPECT_EQ(
        Run({"add", kSettingKey, "/v", "CheckTimer", "/t", "REG_DWORD", "/d", "0x1e"}).exitCode, 0);
    EXPECT_EQ(Run({"add", kSettingKey, "/v", "Note", "/t", "REG_SZ", "/d", "x"}).exitCode, 0);

    const ToolRun value = Run({"query", kSettingKey, "/v", "checktimer"});
    EXPECT_EQ(value.exitCode, 0);
    EXPECT_NE(value.out.find("    checktimer    REG_DWORD    0x1e\n"), std::string::npos)
        << value.out;

    const ToolRun all = Run({"query", "HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane"});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_NE(all.out.find("HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Setting\n"),
              std::string::npos)
        << all.out;

    const ToolRun text = Run({"query", kSettingKey});
    EXPECT_NE(text.out.find("    CheckTimer    REG_DWORD    0x1e\n"), std::string::npos);
    EXPECT_NE(text.out.find("    Note    REG_SZ    x\n"), std::string::npos);
}

TEST_F(RegistryToolTest, OverwritingNeedsForceAndErrorsAreOneLine) {
    ASSERT_EQ(Run({"add", kSettingKey, "/v", "Note", "/d", "first"}).exitCode, 0);
    const ToolRun refused = Run({"add", kSettingKey, "/v", "Note", "/d", "second"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1);
    EXPECT_EQ(Run({"add", kSettingKey, "/v", "Note", "/d", "second", "/f"}).exitCode, 0);
    EXPECT_NE(Run({"query", kSettingKey, "/v", "Note"}).out.find("second"), std::string::npos);

    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"add", kSettingKey, "/v", "N", "/t", "REG_DWORD", "/d", "12abc"},
             {"add", kSettingKey, "/v", "N", "/t", "REG_BINARY", "/d", "00"},
             {"query", "HKLM\\Software"},
             {"query", "HKCU\\Missing"},
             {"delete", kSettingKey},
             {"frobnicate", kSettingKey},
             {"query"}}) {
        const ToolRun run = Run(bad);
        EXPECT_EQ(run.exitCode, 1) << bad[0];
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST_F(RegistryToolTest, DeleteRemovesValuesAndWholeTrees) {
    Run({"add", kSettingKey, "/v", "A", "/d", "1"});
    Run({"add", "HKCU\\Software\\Quillmar-Brakken\\RemotePhone\\guard", "/v", "Memo", "/d", "m"});

    EXPECT_EQ(Run({"delete", kSettingKey, "/v", "A", "/f"}).exitCode, 0);
    EXPECT_EQ(Run({"query", kSettingKey, "/v", "A"}).exitCode, 1);

    EXPECT_EQ(Run({"delete", "HKCU\\Software\\Quillmar-Brakken", "/f"}).exitCode, 0);
    EXPECT_EQ(Run({"query", "HKCU\\Software\\Quillmar-Brakken"}).exitCode, 1);
    EXPECT_EQ(Run({"query", "HKCU\\Software"}).exitCode, 0);
}

TEST_F(RegistryToolTest, ExportWritesEveryKeyAndValue) {
    Run({"add", kSettingKey, "/v", "AutoRun", "/t", "REG_DWORD", "/d", "1"});
    Run({"add", "HKCU\\Software\\Quillmar-Brakken\\Orvane\\Key", "/v", "RECPath", "/d",
         "C:\\clips \"main\""});
    const ToolRun run = Run({"export", "HKCU\\Software\\Quillmar-Brakken"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Key]\n"
              "\"RECPath\"=\"C:\\\\clips \\\"main\\\"\"\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Setting]\n"
              "\"AutoRun\"=dword:00000001\n\n");
}

TEST(RegistryToolProgram, WritesAPrivateStoreNamedByTheEnvironment) {
    test::TempStore temp;  // sets ORVANE_REGISTRY for the child processes
    QProcess add;
    add.start(ORVANE_REGISTRY_BINARY,
              {"add", kSettingKey, "/v", "Greeting", "/t", "REG_SZ", "/d", "x"});
    ASSERT_TRUE(add.waitForFinished(10000));
    EXPECT_EQ(add.exitCode(), 0) << add.readAllStandardError().toStdString();

    QProcess query;
    query.start(ORVANE_REGISTRY_BINARY, {"query", kSettingKey, "/v", "Greeting"});
    ASSERT_TRUE(query.waitForFinished(10000));
    EXPECT_EQ(query.exitCode(), 0);
    EXPECT_TRUE(query.readAllStandardOutput().contains("    Greeting    REG_SZ    x\n"));

    struct stat info {};
    ASSERT_EQ(::stat(temp.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
}

}  // namespace
}  // namespace orvane
