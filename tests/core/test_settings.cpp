#include "store/program_lock.h"
#include "store/settings.h"
#include "support/message_guard.h"
#include "support/temp_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

namespace orvane {
namespace {

class SettingsTest : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};

    // Writes a value as another program would: straight into the key store.
    RegKey Section(const char* name) {
        return settings.store()
            .CreateKey(KeyStore::kRoot, std::string(kProfileKeyPath) + "\\" + name)
            .value;
    }
};

TEST_F(SettingsTest, AFreshStoreGivesTheDefaults) {
    EXPECT_TRUE(settings.VideoArrange());
    EXPECT_EQ(settings.LimitDiskSpaceMb(), 50);
    EXPECT_EQ(settings.CheckTimerSeconds(), 10);
    EXPECT_FALSE(settings.AutoRun());
    EXPECT_EQ(settings.GetSetting(SettingId::AutoRun), -1);

    const CallSettings call = settings.LoadCall();
    EXPECT_EQ(call.option, kAddressModeIp);
    EXPECT_EQ(call.formatSize, 1);
    EXPECT_EQ(call.quality, 30);
    EXPECT_TRUE(call.reLinkOn());
    EXPECT_FALSE(call.savesPassword());
    EXPECT_EQ(call.dial, 0u);
    EXPECT_EQ(call.user, "");

    const NetSettings net = settings.LoadNet();
    EXPECT_EQ(net.sitePort, 1000);
    EXPECT_EQ(net.identifyPort, 169);
    EXPECT_EQ(net.listenPort, 1500);
    EXPECT_EQ(net.identifyPrimary, "127.0.0.1");
    EXPECT_EQ(net.identifyFallback, "127.0.0.2");
    EXPECT_EQ(net.codePage, "windows-1252");
}

struct SettingCase {
    SettingId id;
    std::int32_t stored;
    std::int32_t limitDiskSpace;  // expected readings, -2 where the case does not apply
    std::int32_t checkTimer;
    int videoArrange;
    int autoRun;
};

class SettingRanges : public SettingsTest, public testing::WithParamInterface<SettingCase> {};

TEST_P(SettingRanges, OutOfRangeValuesReadAsTheirDefaults) {
    const SettingCase c = GetParam();
    settings.SetSetting(c.id, c.stored);
    EXPECT_EQ(settings.GetSetting(c.id), c.stored);
    if (c.limitDiskSpace != -2) {
        EXPECT_EQ(settings.LimitDiskSpaceMb(), c.limitDiskSpace);
    }
    if (c.checkTimer != -2) {
        EXPECT_EQ(settings.CheckTimerSeconds(), c.checkTimer);
    }
    if (c.videoArrange != -2) {
        EXPECT_EQ(settings.VideoArrange(), c.videoArrange == 1);
    }
    if (c.autoRun != -2) {
        EXPECT_EQ(settings.AutoRun(), c.autoRun == 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingRanges,
    testing::Values(SettingCase{SettingId::LimitDiskSpace, 0, 50, -2, -2, -2},
                    SettingCase{SettingId::LimitDiskSpace, -5, 50, -2, -2, -2},
                    SettingCase{SettingId::LimitDiskSpace, 1, 1, -2, -2, -2},
                    SettingCase{SettingId::LimitDiskSpace, 9999, 9999, -2, -2, -2},
                    SettingCase{SettingId::LimitDiskSpace, 10000, 50, -2, -2, -2},
                    SettingCase{SettingId::CheckTimer, 0, -2, 10, -2, -2},
                    SettingCase{SettingId::CheckTimer, 300, -2, 300, -2, -2},
                    SettingCase{SettingId::CheckTimer, 301, -2, 10, -2, -2},
                    SettingCase{SettingId::VideoArrange, 0, -2, -2, 0, -2},
                    SettingCase{SettingId::VideoArrange, 5, -2, -2, 1, -2},
                    SettingCase{SettingId::AutoRun, 1, -2, -2, -2, 1},
                    SettingCase{SettingId::AutoRun, 2, -2, -2, -2, 0}));

TEST_F(SettingsTest, CallAndNetValuesOutOfRangeReadAsDefaults) {
    const RegKey call = Section("Call");
    settings.store().SetDword(call, "Quality", 150);
    settings.store().SetDword(call, "Option", 2);
    EXPECT_EQ(settings.LoadCall().quality, 30);
    EXPECT_EQ(settings.LoadCall().option, kAddressModeIp);
    settings.store().SetDword(call, "Quality", static_cast<std::uint32_t>(-1));
    EXPECT_EQ(settings.LoadCall().quality, 30);
    settings.store().SetDword(call, "Quality", 100);
    EXPECT_EQ(settings.LoadCall().quality, 100);

    const RegKey net = Section("Net");
    settings.store().SetDword(net, "SitePort", 0);
    settings.store().SetDword(net, "ListenPort", 70000);
    settings.store().SetDword(net, "IdentifyPort", 4169);
    settings.store().SetString(net, "IdentifyPrimary", "");
    EXPECT_EQ(settings.LoadNet().sitePort, 1000);
    EXPECT_EQ(settings.LoadNet().listenPort, 1500);
    EXPECT_EQ(settings.LoadNet().identifyPort, 4169);
    EXPECT_EQ(settings.LoadNet().identifyPrimary, "127.0.0.1");
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeReadAsDefaults) {
    settings.store().SetString(Section("Setting"), "LimitDiskSpace", "100");
    EXPECT_EQ(settings.LimitDiskSpaceMb(), 50);
    EXPECT_EQ(settings.GetSetting(SettingId::LimitDiskSpace), -1);

    settings.store().SetDword(Section("Call"), "User", 42);
    EXPECT_EQ(settings.LoadCall().user, "");

    // A number whose data is not four bytes long is not trusted either.
    settings.store().SetString(Section("Setting"), "CheckTimer", "12");
    EXPECT_EQ(settings.CheckTimerSeconds(), 10);
}

TEST_F(SettingsTest, TextReadsTheSameWithOrWithoutATerminatingNul) {
    const RegKey call = Section("Call");
    settings.store().SetString(call, "Identify", std::string("A1234\0", 6));
    settings.store().SetString(call, "User", "admin");
    EXPECT_EQ(settings.LoadCall().identify, "A1234");
    EXPECT_EQ(settings.LoadCall().user, "admin");

    // The program itself writes profile texts with their NUL, as the profile always did.
    settings.WriteProfileString("Call", "User", "op");
    EXPECT_EQ(settings.store().QueryValue(call, "User").value.data, std::string("op\0", 3));
    EXPECT_EQ(settings.GetProfileString("Call", "User", "x"), "op");
}

TEST_F(SettingsTest, OverLongTextsAreCutToTheirFields) {
    const RegKey call = Section("Call");
    settings.store().SetString(call, "User", std::string(30, 'u'));
    settings.store().SetString(call, "PassWord", std::string(25, 'p'));
    settings.store().SetString(call, "Identify", "0123456789ABCDEF");
    const CallSettings loaded = settings.LoadCall();
    EXPECT_EQ(loaded.user, std::string(20, 'u'));
    EXPECT_EQ(loaded.password, std::string(20, 'p'));
    EXPECT_EQ(loaded.identify, "0123456789");
}

TEST_F(SettingsTest, CallTextsAreCutToCharactersNotBytes) {
    CallSettings call;
    call.user = "Jürgen-Bräuer-Öster";       // 19 characters
    call.password = "äöüßäöüßäöüßäöüßäöüß";  // 20 characters, 40 bytes of UTF-8
    call.identify = "ÄÖÜ4567890";            // 10 characters
    settings.SaveCall(call);
    CallSettings loaded = settings.LoadCall();
    EXPECT_EQ(loaded.user, call.user);
    EXPECT_EQ(loaded.password, call.password);
    EXPECT_EQ(loaded.identify, call.identify);

    // Written longer by another tool: the first characters the dialog could hold.
    settings.WriteProfileString("Call", "PassWord", "ééééééééééééééééééééééé");  // 23
    loaded = settings.LoadCall();
    EXPECT_EQ(loaded.password, "éééééééééééééééééééé");
}

TEST_F(SettingsTest, CallSettingsRoundTrip) {
    CallSettings call;
    call.option = kAddressModeIdentify;
    call.user = "guard";
    call.password = "s3cret";
    call.dial = 0xC0A80001;  // 192.168.0.1
    call.identify = "SITE42";
    call.formatSize = 2;
    call.quality = 80;
    call.save = 1;
    call.reLink = 0;
    settings.SaveCall(call);

    const CallSettings loaded = settings.LoadCall();
    EXPECT_EQ(loaded.option, kAddressModeIdentify);
    EXPECT_EQ(loaded.user, "guard");
    EXPECT_EQ(loaded.password, "s3cret");
    EXPECT_EQ(loaded.dial, 0xC0A80001u);
    EXPECT_EQ(loaded.identify, "SITE42");
    EXPECT_EQ(loaded.formatSize, 2);
    EXPECT_EQ(loaded.quality, 80);
    EXPECT_TRUE(loaded.savesPassword());
    EXPECT_FALSE(loaded.reLinkOn());
}

// The "Call" values in the order they reach the file, as a second reader of it sees them go
// in: each write is a commit of its own, and at each commit the ones before it are in.
struct CommitOrder {
    static inline sqlite3* reader = nullptr;
    static inline std::vector<std::string> names;
    static void Note() {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(reader,
                           "SELECT v.name FROM reg_values v JOIN reg_keys k ON v.key_id = k.id "
                           "WHERE k.name = 'Call'",
                           -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const std::string name =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
        }
        sqlite3_finalize(statement);
    }
};

TEST_F(SettingsTest, CallValuesAreWrittenInTheOrderTheConnectDialogListsThem) {
    ASSERT_EQ(sqlite3_open(temp.path().c_str(), &CommitOrder::reader), SQLITE_OK);
    CommitOrder::names.clear();
    SetStoreCommitObserver(&CommitOrder::Note);
    settings.SaveCall(CallSettings{});
    SetStoreCommitObserver(nullptr);
    CommitOrder::Note();
    sqlite3_close(CommitOrder::reader);
    const std::vector<std::string> expected{"Option",  "User", "PassWord", "Dial",  "FormatSize",
                                            "Quality", "Save", "Identify", "ReLink"};
    EXPECT_EQ(CommitOrder::names, expected);
}

TEST_F(SettingsTest, UnknownSettingIdReadsTheSectionsUnnamedValue) {
    settings.store().SetDword(Section("Setting"), "", 77);
    EXPECT_EQ(settings.GetSetting(static_cast<SettingId>(2)), 77);
}

class RecordPathTest : public SettingsTest {
  protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        std::filesystem::create_directory(temp.File("work"));
        std::filesystem::current_path(temp.File("work"));
        settings.SetDefaultRecordFolder(temp.File("videos/Orvane"));
    }
    void TearDown() override { std::filesystem::current_path(previous); }

    std::filesystem::path previous;
};

// What a recording starting now does with each state of the stored folder: the folder it
// uses, what is made, and whether the operator is told. The working directory is never used.
TEST_F(RecordPathTest, ARecordingUsesTheStoredFolderOrTheDefaultAndNeverRemakesAMissingOne) {
    test::WriteFileBytes(temp.File("a-file"), "x");
    std::filesystem::create_directory(temp.File("clips"));
    struct Case {
        const char* what;
        std::string stored;  // empty: nothing stored
        bool usesStored;
        bool told;
    } const cases[] = {
        {"nothing stored", "", false, false},
        {"an existing folder", temp.File("clips"), true, false},
        {"an existing folder with separator", temp.File("clips") + "/", true, false},
        {"the root", "/", true, false},
        {"a volume not mounted", temp.File("media/usb/clips"), false, true},
        {"a file, not a folder", temp.File("a-file"), false, true},
    };
    const std::string fallback = temp.File("videos/Orvane") + "/";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(temp.File("videos"));
        settings.store().DeleteValue(Section("Key"), "RECPath");
        if (!c.stored.empty()) {
            settings.SetRecordPath(c.stored);
        }
        const std::string expected =
            c.usesStored ? (c.stored.back() == '/' ? c.stored : c.stored + "/") : fallback;
        EXPECT_EQ(settings.GetRecordPath(), expected);

        const RecordFolder folder = settings.PrepareRecordFolder();
        EXPECT_EQ(folder.path, expected);
        EXPECT_TRUE(folder.ready);
        EXPECT_EQ(folder.made, !c.usesStored);
        EXPECT_EQ(std::filesystem::is_directory(temp.File("videos/Orvane")), !c.usesStored);
        if (!c.usesStored && !c.stored.empty()) {
            EXPECT_FALSE(std::filesystem::exists(temp.File("media")));
        }
        RecordFolderNotice notice;
        const std::string told = notice.After(folder);
        EXPECT_EQ(!told.empty(), c.told);
        if (c.told) {
            EXPECT_NE(told.find(c.stored), std::string::npos) << told;
            EXPECT_NE(told.find(fallback), std::string::npos) << told;
            // Once: the next recording into the default folder is not told again.
            EXPECT_TRUE(notice.After(settings.PrepareRecordFolder()).empty());
        }
    }
    EXPECT_EQ(std::filesystem::current_path(), temp.File("work"));
}

TEST_F(RecordPathTest, AMissingFolderIsToldAgainOnlyAfterItWasBack) {
    const std::string clips = temp.File("usb/clips");
    settings.SetRecordPath(clips);
    RecordFolderNotice notice;
    EXPECT_FALSE(notice.After(settings.PrepareRecordFolder()).empty());
    std::filesystem::create_directories(clips);  // mounted
    EXPECT_TRUE(notice.After(settings.PrepareRecordFolder()).empty());
    std::filesystem::remove_all(temp.File("usb"));  // gone again
    EXPECT_FALSE(notice.After(settings.PrepareRecordFolder()).empty());
}

TEST_F(RecordPathTest, ADefaultFolderThatCannotBeMadeIsNotReady) {
    test::WriteFileBytes(temp.File("a-file"), "x");
    settings.SetDefaultRecordFolder(temp.File("a-file") + "/Orvane");
    test::ExpectedMessage warning(QtWarningMsg, "orvane.store", "cannot make the record folder");
    const RecordFolder folder = settings.PrepareRecordFolder();
    EXPECT_FALSE(folder.ready);
    EXPECT_EQ(folder.path, temp.File("a-file") + "/Orvane/");
}

TEST(OpenSettings, AnUnusableFileGivesDefaultsAndStaysAsItWas) {
    const test::ExpectedMessage unusable(QtWarningMsg, "orvane.store", "unusable");
    test::TempStore temp;
    const std::string bytes = "this is not a database, but somebody's notes\n";
    test::WriteFileBytes(temp.path(), bytes);

    OpenedSettings opened = OpenSettings(temp.path());
    EXPECT_EQ(opened.problem, OpenProblem::NotADatabase);
    EXPECT_TRUE(opened.settings.store().inMemory());
    EXPECT_EQ(opened.settings.LimitDiskSpaceMb(), 50);

    // Changes still work for the run, but never reach the file.
    opened.settings.SetSetting(SettingId::CheckTimer, 20);
    EXPECT_EQ(opened.settings.CheckTimerSeconds(), 20);
    EXPECT_EQ(test::ReadFileBytes(temp.path()), bytes);
}

TEST_F(SettingsTest, ProgramLockComparesExactlyAndCutsToTheDialogFields) {
    ProgramLock lock(settings);
    EXPECT_FALSE(lock.IsSet());
    EXPECT_TRUE(lock.CheckPassword("", ""));

    lock.SavePassword("Admin", "");
    EXPECT_TRUE(lock.IsSet());
    EXPECT_TRUE(lock.CheckPassword("Admin", ""));
    EXPECT_FALSE(lock.CheckPassword("admin", ""));

    // Set by another tool: a password without a user name still locks.
    settings.WriteProfileString("Key", "User", "");
    settings.WriteProfileString("Key", "PassWord", "pw");
    EXPECT_TRUE(lock.IsSet());
    EXPECT_TRUE(lock.CheckPassword("", "pw"));

    // Longer than the dialog accepts: its first 20 characters open it.
    settings.WriteProfileString("Key", "User", std::string(25, 'a'));
    EXPECT_TRUE(lock.CheckPassword(std::string(20, 'a'), "pw"));
}

TEST_F(SettingsTest, ProgramLockLimitsAndComparesInCharactersNotBytes) {
    ProgramLock lock(settings);
    const std::string twenty = "äöüßäöüßäöüßäöüßäöüß";  // 40 bytes of UTF-8
    EXPECT_TRUE(lock.SavePassword("Wächter", twenty));
    EXPECT_TRUE(lock.CheckPassword("Wächter", twenty));

    // One character more could never be typed back: nothing is stored.
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "not stored");
    EXPECT_FALSE(lock.SavePassword("Wächter", twenty + "x"));
    EXPECT_FALSE(lock.SavePassword(twenty + "é", "pw"));
    EXPECT_EQ(settings.GetProfileString("Key", "User", ""), "Wächter");
    EXPECT_EQ(settings.GetProfileString("Key", "PassWord", ""), twenty);

    // Two UTF-16 units each, as the dialog counts them: ten fit, eleven do not.
    std::string emoji;
    for (int i = 0; i < 10; ++i) {
        emoji += "😀";
    }
    EXPECT_TRUE(lock.SavePassword("u", emoji));
    EXPECT_FALSE(lock.SavePassword("u", emoji + "😀"));

    // Longer non-ASCII values written by another tool open with their first 20 characters.
    settings.WriteProfileString("Key", "User", twenty + "ÄÖÜ");
    settings.WriteProfileString("Key", "PassWord", "éééééééééééééééééééééééé");
    EXPECT_TRUE(lock.CheckPassword(twenty, "éééééééééééééééééééé"));
}

}  // namespace
}  // namespace orvane
