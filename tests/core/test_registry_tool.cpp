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

using test::ProgramRun;

// The tool run in this process on store, its output read back as a program's.
ProgramRun RunOn(KeyStore& store, const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = RunRegistryTool(store, args, out, err);
    return {code, QString::fromStdString(out.str()), QString::fromStdString(err.str())};
}

class RegistryToolTest : public testing::Test {
  protected:
    ProgramRun Run(const std::vector<std::string>& args) { return RunOn(store, args); }

    test::TempStore temp;
    KeyStore store = std::move(*KeyStore::Open(temp.path()).store);
};

constexpr const char* kSettingKey = "HKCU\\Software\\Quillmar-Brakken\\Orvane\\Setting";

// What reg prints for add, query (one value, one key, /s), export and delete; overwriting
// needs /f, and every refusal is one line.
TEST_F(RegistryToolTest, AddQueryExportAndDeleteAsRegDoes) {
    const std::string orvane = "HKCU\\Software\\Quillmar-Brakken\\Orvane";
    EXPECT_EQ(Run({"add", kSettingKey, "/v", "CheckTimer", "/t", "REG_DWORD", "/d", "0x1e"}).code,
              0);
    EXPECT_EQ(Run({"add", orvane + "\\Key", "/v", "RECPath", "/d", "C:\\clips \"main\""}).code, 0);
    EXPECT_EQ(Run({"add", orvane + "\\Call", "/v", "B", "/t", "REG_DWORD", "/d", "2"}).code, 0);
    EXPECT_EQ(Run({"query", kSettingKey, "/v", "checktimer"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Setting\n"
              "    checktimer    REG_DWORD    0x1e\n");
    EXPECT_TRUE(
        Run({"query", orvane})
            .out.contains("HKEY_CURRENT_USER\\Software\\Quillmar-Brakken\\Orvane\\Setting\n"));
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
    ASSERT_EQ(Run({"add", kSettingKey, "/v", "Note", "/d", "first"}).code, 0);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"add", kSettingKey, "/v", "Note", "/d", "second"},  // no /f
             {"add", kSettingKey, "/v", "N", "/t", "REG_DWORD", "/d", "12abc"},
             {"add", kSettingKey, "/v", "N", "/t", "REG_BINARY", "/d", "00"},
             {"query", "HKLM\\Software"},
             {"query", "HKCU\\Missing"},
             {"delete", kSettingKey},
             {"frobnicate", kSettingKey},
             {"query"}}) {
        const ProgramRun run = Run(bad);
        EXPECT_TRUE(run.code == 1 && run.err.count('\n') == 1) << bad[0] << run.err.toStdString();
    }
    EXPECT_EQ(Run({"add", kSettingKey, "/v", "Note", "/d", "second", "/f"}).code, 0);
    // A read-only open sees what is still in the open store's log.
    auto reader = KeyStore::OpenReadOnly(temp.path());
    ASSERT_TRUE(reader.store) << reader.detail;
    EXPECT_TRUE(RunOn(*reader.store, {"query", kSettingKey, "/v", "Note"})
                    .out.contains("    Note    REG_SZ    second\n"));
    EXPECT_EQ(Run({"delete", kSettingKey, "/v", "Note", "/f"}).code, 0);
    EXPECT_EQ(Run({"query", kSettingKey, "/v", "Note"}).code, 1);
    EXPECT_EQ(Run({"delete", "HKCU\\Software\\Quillmar-Brakken", "/f"}).code, 0);
    EXPECT_EQ(Run({"query", "HKCU\\Software\\Quillmar-Brakken"}).code, 1);
    EXPECT_EQ(Run({"query", "HKCU\\Software"}).code, 0);
}

TEST_F(RegistryToolTest, AnExportedFileImportsIntoAnEmptyStoreAndExportsTheSameBytes) {
    const RegKey key = store.CreateKey(KeyStore::kRoot, "Software\\Quillmar-Brakken\\Guard").value;
    const std::string padded = "gate" + std::string(31, '\0');
    store.SetString(key, "Name", padded);
    store.SetString(key, "", "C:\\clips \"main\"");
    // Opens with a byte order mark, which is text of the value, not a mark of the file.
    const std::string memo = "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F\x65 \xE2\x9C\x93";
    store.SetString(key, "Memo", memo);
    store.SetDword(key, "Tel", 0xdeadbeef);

    const QString printed = Run({"export", "HKCU\\Software"}).out;
    EXPECT_TRUE(printed.contains("\n\"Name\"=hex(1):67,00,61,00,74,00,65,00,00,00,"));
    for (const QString& line : printed.split('\n')) {
        EXPECT_LE(line.size(), 80) << line.toStdString();
    }
    ASSERT_EQ(Run({"export", "HKCU\\Software", temp.File("first.reg")}).code, 0);
    const std::string first = test::ReadFileBytes(temp.File("first.reg"));
    EXPECT_EQ(first, EncodeRegFile(printed.toStdString()));
    EXPECT_EQ(first.substr(0, 10), std::string("\xFF\xFEW\0i\0n\0d\0", 10));
    EXPECT_EQ(Run({"export", "HKCU\\Software", temp.File("first.reg")}).code, 1);  // no /y

    test::TempStore emptyTemp;
    KeyStore empty = std::move(*KeyStore::Open(emptyTemp.path()).store);
    ASSERT_EQ(RunOn(empty, {"import", temp.File("first.reg")}).code, 0);
    ASSERT_EQ(RunOn(empty, {"export", "HKCU\\Software", temp.File("again.reg")}).code, 0);
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
    ASSERT_EQ(Run({"import", temp.File("plain.reg")}).code, 0);
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
        const ProgramRun run = Run({"import", temp.File("in.reg")});
        EXPECT_EQ(run.code, 1) << c.text;
        EXPECT_TRUE(run.err.contains(QStringLiteral(" line %1: ").arg(c.line)) &&
                    run.err.count('\n') == 1)
            << run.err.toStdString();
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
    const rlimit small{1000, saved.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0) << std::strerror(errno);
    const ProgramRun run = Run({"export", "HKCU\\Software", temp.File("kept.reg"), "/y"});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err.toStdString(),
              "ERROR: cannot write " + temp.File("kept.reg") + ": File too large\n");
    EXPECT_EQ(test::ReadFileBytes(temp.File("kept.reg")), "old");
    EXPECT_EQ(QDir(QString::fromStdString(temp.folder()))
                  .entryList({"*.reg*"}, QDir::Files | QDir::Hidden),
              QStringList{"kept.reg"});
}

// A file that cannot be read, a folder among them, is one error line, never an abort.
TEST_F(RegistryToolTest, ImportOfAFileThatCannotBeReadNamesIt) {
    const std::string huge = temp.File("huge.reg");  // sparse: no disk is used
    test::WriteFileBytes(huge, "");
    ASSERT_TRUE(QFile::resize(QString::fromStdString(huge), (qint64{256} << 20) + 1));
    for (const std::string& path : {temp.File("missing.reg"), temp.folder(), huge}) {
        const ProgramRun run = Run({"import", path});
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.err.startsWith(QString::fromStdString("ERROR: cannot read " + path + ": ")))
            << run.err.toStdString();
    }
}

// Runs the tool on the store at path; with dropRoot, as nobody when run as root, so that file
// modes bind.
ProgramRun RunTool(const std::string& path, const QStringList& args, bool dropRoot = false) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_REGISTRY", QString::fromStdString(path));
    const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups",
                             ORVANE_REGISTRY_BINARY};
    return dropRoot && ::geteuid() == 0 ? test::RunProgram("setpriv", nobody + args, env)
                                        : test::RunProgram(ORVANE_REGISTRY_BINARY, args, env);
}

TEST(RegistryToolProgram, ReadingNeverCreatesTheStoreAndNeedsNoWriteAccess) {
    test::TempStore temp;
    const std::string typo = temp.File("registry.sqlite");
    for (const char* op : {"query", "export"}) {
        const ProgramRun run = RunTool(typo, {op, kSettingKey});
        EXPECT_TRUE(run.code == 1 && run.err.startsWith("ERROR: ") &&
                    run.err.contains(QString::fromStdString(typo)))
            << run.err.toStdString();
        EXPECT_FALSE(std::filesystem::exists(typo)) << op;
    }

    {
        KeyStore written = std::move(*KeyStore::Open(temp.path()).store);
        ASSERT_EQ(RunOn(written, {"add", kSettingKey, "/v", "Note", "/d", "kept"}).code, 0);
    }
    // A store this user may only read, in a folder this user cannot write to either.
    ::chmod(temp.path().c_str(), 0444);
    ::chmod(temp.folder().c_str(), 0555);
    const ProgramRun query = RunTool(temp.path(), {"query", kSettingKey, "/v", "Note"}, true);
    const ProgramRun exported = RunTool(temp.path(), {"export", kSettingKey}, true);
    ::chmod(temp.folder().c_str(), 0700);
    EXPECT_TRUE(query.code == 0 && query.out.contains("    Note    REG_SZ    kept\n"))
        << query.err.toStdString();
    EXPECT_TRUE(exported.code == 0 && exported.out.contains("\"Note\"=\"kept\"\n"))
        << exported.err.toStdString();
}

}  // namespace
}  // namespace orvane
