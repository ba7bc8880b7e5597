#include "registry_tool.h"
#include "store/reg_file.h"
#include "support/program_run.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace orvane {
namespace {

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

ToolRun RunOn(KeyStore& store, const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunRegistryTool(store, args, out, err);
    return {code, out.str(), err.str()};
}

class RegistryToolTest : public testing::Test {
  protected:
    ToolRun Run(const std::vector<std::string>& args) { return RunOn(store, args); }

    test::TempStore temp;
    KeyStore store = std::move(*KeyStore::Open(temp.path()).store);
};

constexpr const char* kSettingKey = "HKCU\\Software\\Quillmar-Brakken\\Orvane\\Setting";

// What reg prints for add, query (one value, one key, /s), export and delete; overwriting
// needs /f, and every refusal is one line.
TEST_F(RegistryToolTest, AddQueryExportAndDeleteAsRegDoes) {
    const std::string orvane = "HKCU\\Software\\Quillmar-Brakken\\Orvane";
    EXPECT_EQ(
        Run({"add", kSettingKey, "/v", "CheckTimer", "/t", "REG_DWORD", "/d", "0x1e"}).exitCode, 0);
    EXPECT_EQ(Run({"add", orvane + "\\Key", "/v", "RECPath", "/d", "C:\\clips \"main\""}).exitCode,
              0);
    EXPECT_EQ(Run({"add", orvane + "\\Call", "/v", "B", "/t", "REG_DWORD", "/d", "2"}).exitCode, 0);
    EXPECT_EQ(Run({"query", kSettingKey, "/v", "checktimer"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Setting\n"
              "    checktimer    REG_DWORD    0x1e\n");
    EXPECT_NE(Run({"query", orvane})
                  .out.find("HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\"
                            "Orvane\\Setting\n"),
              std::string::npos);
    EXPECT_EQ(Run({"query", orvane, "/s"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\n"
              "\nHKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Call\n"
              "    B    REG_DWORD    0x2\n"
              "\nHKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Key\n"
              "    RECPath    REG_SZ    C:\\clips \"main\"\n"
              "\nHKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Setting\n"
              "    CheckTimer    REG_DWORD    0x1e\n");
    EXPECT_EQ(Run({"export", "HKCU\\Software\\Quillmar-Brakken"}).out,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Call]\n"
              "\"B\"=dword:00000002\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Key]\n"
              "\"RECPath\"=\"C:\\\\clips \\\"main\\\"\"\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Setting]\n"
              "\"CheckTimer\"=dword:0000001e\n\n");

    ASSERT_EQ(Run({"add", kSettingKey, "/v", "Note", "/d", "first"}).exitCode, 0);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"add", kSettingKey, "/v", "Note", "/d", "second"},  // no /f
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
    EXPECT_EQ(Run({"add", kSettingKey, "/v", "Note", "/d", "second", "/f"}).exitCode, 0);
    // A read-only open sees what is still in the open store's log.
    auto reader = KeyStore::OpenReadOnly(temp.path());
    ASSERT_TRUE(reader.store) << reader.detail;
    const ToolRun read = RunOn(*reader.store, {"query", kSettingKey, "/v", "Note"});
    EXPECT_NE(read.out.find("    Note    REG_SZ    second\n"), std::string::npos) << read.err;

    EXPECT_EQ(Run({"delete", kSettingKey, "/v", "Note", "/f"}).exitCode, 0);
    EXPECT_EQ(Run({"query", kSettingKey, "/v", "Note"}).exitCode, 1);
    EXPECT_EQ(Run({"delete", "HKCU\\Software\\Quillmar-Brakken", "/f"}).exitCode, 0);
    EXPECT_EQ(Run({"query", "HKCU\\Software\\Quillmar-Brakken"}).exitCode, 1);
    EXPECT_EQ(Run({"query", "HKCU\\Software"}).exitCode, 0);
}

TEST_F(RegistryToolTest, AnExportedFileImportsIntoAnEmptyStoreAndExportsTheSameBytes) {
    const RegKey key = store.CreateKey(KeyStore::kRoot, "Software\\Quillmar-Brakken\\Guard").value;
    const std::string padded("gate\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0",
                             35);
    store.SetString(key, "Name", padded);
    store.SetString(key, "", "C:\\clips \"main\"");
    // Opens with a byte order mark, which is text of the value, not a mark of the file.
    const std::string memo =
        "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
        "e \xE2\x9C\x93";
    store.SetString(key, "Memo", memo);
    store.SetDword(key, "Tel", 0xdeadbeef);

    const ToolRun printed = Run({"export", "HKCU\\Software"});
    EXPECT_NE(printed.out.find("\n\"Name\"=hex(1):67,00,61,00,74,00,65,00,00,00,"),
              std::string::npos)
        << printed.out;
    std::istringstream lines(printed.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
    ASSERT_EQ(Run({"export", "HKCU\\Software", temp.File("first.reg")}).exitCode, 0);
    const std::string first = test::ReadFileBytes(temp.File("first.reg"));
    EXPECT_EQ(first, EncodeRegFile(printed.out));
    EXPECT_EQ(first.substr(0, 10), std::string("\xFF\xFEW\0i\0n\0d\0", 10));
    EXPECT_EQ(Run({"export", "HKCU\\Software", temp.File("first.reg")}).exitCode, 1);  // no /y

    test::TempStore emptyTemp;
    KeyStore empty = std::move(*KeyStore::Open(emptyTemp.path()).store);
    ASSERT_EQ(RunOn(empty, {"import", temp.File("first.reg")}).exitCode, 0);
    ASSERT_EQ(RunOn(empty, {"export", "HKCU\\Software", temp.File("again.reg")}).exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(temp.File("again.reg")), first);
    const auto copied = empty.OpenKey(KeyStore::kRoot, "Software\\Quillmar-Brakken\\Guard");
    EXPECT_EQ(empty.QueryValue(copied.value, "Name").value.data, padded);
    EXPECT_EQ(empty.QueryValue(copied.value, "Memo").value.data, memo);
}

TEST_F(RegistryToolTest, ImportDeletesWhatIsMarkedWithAMinusAndReadsPrintedExports) {
    Run({"add", "HKCU\\Software\\T\\Old", "/v", "X", "/d", "x"});
    Run({"add", "HKCU\\Software\\T", "/v", "Gone", "/d", "1"});
    Run({"add", "HKCU\\Software\\T", "/v", "Stay", "/d", "2"});
    test::WriteFileBytes(temp.File("plain.reg"),  // UTF-8 and LF, as export prints it
                         "Windows Registry Editor Version 5.00\n\n"
                         "; a comment\n[-HKEY_CURRENT_USER\\Software\\T\\Old]\n\n"
                         "[HKEY_CURRENT_USER\\Software\\T]\n\"Gone\"=-\n@=dword:0000002a\n");
    ASSERT_EQ(Run({"import", temp.File("plain.reg")}).exitCode, 0);
    EXPECT_EQ(Run({"query", "HKCU\\Software\\T", "/s"}).out,
              "\nHKEY_CURRENT_USER\\Software\\T\n"
              "    (Default)    REG_DWORD    0x2a\n"
              "    Stay    REG_SZ    2\n");
}

TEST_F(RegistryToolTest, ImportTakesNothingOfAFileWithABadLineAndNamesIt) {
    const std::string good =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\T]\n\"A\"=\"1\"\n";
    const std::string clips = "[HKEY_CURRENT_USER\\software\\Quillmar-Brakken\\RemoteRecord\\";
    const struct {
        std::string text;
        int line;
    } cases[] = {
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n", 1},
        {good + "\"B\"=hex:01,02\n", 5},                            // a type the store cannot hold
        {good + "\"B\"=\"open\n", 5},                               // quote not closed
        {good + "\"B\"=\"a\\tb\"\n", 5},                            // an escape reg does not write
        {good + "\"B\"=dword:123456789\n", 5},                      // more than 32 bits
        {good + "\n\"B\"=hex(1):41,00,\\\n  42\n", 6},              // half a UTF-16 unit
        {good + "\"B\"=hex(1):41,00,\\\n", 5},                      // ends inside the list
        {good + "[HKEY_LOCAL_MACHINE\\Software]\n", 5},             // another root
        {good + "[-HKEY_CURRENT_USER]\n", 5},                       // the root itself
        {good + "B=1\n", 5},                                        // not a value line
        {good + clips + "..]\n", 5},                                // names of the clip index
        {good + clips + "a.avi\\x]\n", 5},                          //
        {good + clips + "a.avi]\n\"FileName\"=\"../a.avi\"\n", 5},  //
    };
    for (const auto& c : cases) {
        test::WriteFileBytes(temp.File("in.reg"), EncodeRegFile(c.text));  // as export writes it
        const ToolRun run = Run({"import", temp.File("in.reg")});
        EXPECT_EQ(run.exitCode, 1) << c.text;
        EXPECT_NE(run.err.find(" line " + std::to_string(c.line) + ": "), std::string::npos)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(store.OpenKey(KeyStore::kRoot, "Software\\T").status, StoreStatus::NotFound)
            << c.text;
    }
}

// An export that cannot be written to its end (the file size limit stands in for a full disk)
// leaves the file /y would replace as it was, and no half-written one.
TEST_F(RegistryToolTest, AnExportThatCannotBeWrittenLeavesTheFileItWouldReplace) {
    Run({"add", kSettingKey, "/v", "Long", "/d", std::string(4000, 'x')});
    test::WriteFileBytes(temp.File("kept.reg"), "old");
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1000;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0) << std::strerror(errno);
    const ToolRun run = Run({"export", "HKCU\\Software", temp.File("kept.reg"), "/y"});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "ERROR: cannot write " + temp.File("kept.reg") + ": File too large\n");
    EXPECT_EQ(test::ReadFileBytes(temp.File("kept.reg")), "old");
    EXPECT_EQ(QDir(QString::fromStdString(temp.folder()))
                  .entryList({"*.reg*"}, QDir::Files | QDir::Hidden),
              QStringList{"kept.reg"});
}

// A file that cannot be read, a folder among them, is one error line, never an abort.
TEST_F(RegistryToolTest, ImportOfAFileThatCannotBeReadNamesIt) {
    const std::string huge = temp.File("huge.reg");  // sparse: no disk is used
    QFile hugeFile(QString::fromStdString(huge));
    ASSERT_TRUE(hugeFile.open(QIODevice::WriteOnly) && hugeFile.resize((qint64{256} << 20) + 1));
    hugeFile.close();
    for (const std::string& path : {temp.File("missing.reg"), temp.folder(), huge}) {
        const ToolRun run = Run({"import", path});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.rfind("ERROR: cannot read " + path + ": ", 0), 0u) << run.err;
    }
}

// Runs the tool on the store at path; with dropRoot, as nobody when run as root, so that file
// modes bind.
test::ProgramRun RunTool(const std::string& path, const QStringList& args, bool dropRoot = false) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_REGISTRY", QString::fromStdString(path));
    if (dropRoot && ::geteuid() == 0) {
        return test::RunProgram("setpriv",
                                QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                            ORVANE_REGISTRY_BINARY} +
                                    args,
                                env);
    }
    return test::RunProgram(ORVANE_REGISTRY_BINARY, args, env);
}

TEST(RegistryToolProgram, ReadingNeverCreatesTheStoreAndNeedsNoWriteAccess) {
    test::TempStore temp;
    const std::string typo = temp.File("registry.sqlite");
    for (const char* op : {"query", "export"}) {
        const test::ProgramRun run = RunTool(typo, {op, kSettingKey});
        EXPECT_EQ(run.code, 1) << op;
        EXPECT_TRUE(run.err.startsWith("ERROR: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromStdString(typo))) << run.err.toStdString();
        EXPECT_FALSE(std::filesystem::exists(typo)) << op;
    }

    {
        KeyStore written = std::move(*KeyStore::Open(temp.path()).store);
        ASSERT_EQ(RunOn(written, {"add", kSettingKey, "/v", "Note", "/d", "kept"}).exitCode, 0);
    }
    // A store this user may only read, in a folder this user cannot write to either.
    ::chmod(temp.path().c_str(), 0444);
    ::chmod(temp.folder().c_str(), 0555);
    const test::ProgramRun query = RunTool(temp.path(), {"query", kSettingKey, "/v", "Note"}, true);
    const test::ProgramRun exported = RunTool(temp.path(), {"export", kSettingKey}, true);
    ::chmod(temp.folder().c_str(), 0700);
    EXPECT_EQ(query.code, 0) << query.err.toStdString();
    EXPECT_TRUE(query.out.contains("    Note    REG_SZ    kept\n"));
    EXPECT_EQ(exported.code, 0) << exported.err.toStdString();
    EXPECT_TRUE(exported.out.contains("\"Note\"=\"kept\"\n"));
}

}  // namespace
}  // namespace orvane
