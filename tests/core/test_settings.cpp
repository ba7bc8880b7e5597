#include "store/program_lock.h"
#include "store/settings.h"
#include "support/message_guard.h"
#include "support/temp_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <variant>

namespace orvane {
namespace {

// A store in a folder of its own, which is also the working directory (never to be used).
class SettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(temp.File("work"));
        std::filesystem::current_path(temp.File("work"));
        settings.SetDefaultRecordFolder(temp.File("videos/Orvane"));
    }
    void TearDown() override { std::filesystem::current_path(previous); }

    const std::filesystem::path previous = std::filesystem::current_path();
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
};

// A section's key, where a test writes as another program would: straight into the key store.
RegKey Section(Settings& settings, const std::string& name) {
    return settings.store().CreateKey(KeyStore::kRoot, kProfileKeyPath + ("\\" + name)).value;
}

// Every reading of the profile a row below may check, as "; name=value;" items.
std::string Readings(const Settings& s) {
    const CallSettings call = s.LoadCall();
    const NetSettings net = s.LoadNet();
    std::ostringstream out;
    out << "; VideoArrange=" << s.VideoArrange() << "; LimitDiskSpaceMb=" << s.LimitDiskSpaceMb()
        << "; CheckTimerSeconds=" << s.CheckTimerSeconds() << "; AutoRun=" << s.AutoRun()
        << "; Setting LimitDiskSpace=" << s.GetSetting(SettingId::LimitDiskSpace)
        << "; Setting 2=" << s.GetSetting(static_cast<SettingId>(2))
        << "; Call Option=" << call.option << "; Call Quality=" << call.quality
        << "; Call User=" << call.user << "; Call Identify=" << call.identify
        << "; Net SitePort=" << net.sitePort << "; Net ListenPort=" << net.listenPort
        << "; Net IdentifyPrimary=" << net.identifyPrimary << ";";
    return out.str();
}

// What the program reads from a value as another program may have left it: nothing at all,
// values out of range or of the wrong type, texts with or without their NUL or longer than
// their fields.
TEST(StoredSettings, ValuesOutOfRangeOrOfTheWrongTypeReadAsDefaultsAndTextsAreCut) {
    const struct {
        const char *section, *name;
        std::variant<std::monostate, std::uint32_t, std::string> stored;
        std::string reading;
    } cases[] = {
        {"", "", {}, "Setting LimitDiskSpace=-1"},
        {"Setting", "LimitDiskSpace", 0u, "LimitDiskSpaceMb=50"},
        {"Setting", "LimitDiskSpace", 9999u, "LimitDiskSpaceMb=9999"},
        {"Setting", "LimitDiskSpace", 10000u, "LimitDiskSpaceMb=50"},
        {"Setting", "LimitDiskSpace", 10000u, "Setting LimitDiskSpace=10000"},
        {"Setting", "CheckTimer", 301u, "CheckTimerSeconds=10"},
        {"Setting", "VideoArrange", 5u, "VideoArrange=1"},
        {"Setting", "AutoRun", 2u, "AutoRun=0"},
        {"Setting", "", 77u, "Setting 2=77"},  // an unknown id reads the unnamed value
        {"Call", "Quality", 150u, "Call Quality=30"},
        {"Call", "Option", 2u, "Call Option=" + std::to_string(kAddressModeIp)},
        {"Net", "SitePort", 0u, "Net SitePort=1000"},
        {"Net", "ListenPort", 70000u, "Net ListenPort=1500"},
        {"Net", "IdentifyPrimary", "", "Net IdentifyPrimary=127.0.0.1"},
        // Of the wrong type; a number whose data is not four bytes long is not trusted either.
        {"Setting", "LimitDiskSpace", "100", "LimitDiskSpaceMb=50"},
        {"Setting", "LimitDiskSpace", "100", "Setting LimitDiskSpace=-1"},
        {"Call", "User", 42u, "Call User="},
        // Texts with or without their NUL, cut to their fields.
        {"Call", "Identify", std::string("A1234\0", 6), "Call Identify=A1234"},
        {"Call", "User", std::string(30, 'u'), "Call User=" + std::string(20, 'u')},
        {"Call", "Identify", "0123456789ABCDEF", "Call Identify=0123456789"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.section << "\\" << c.name << ": " << c.reading);
        Settings settings{KeyStore::OpenInMemory()};
        const RegKey key = Section(settings, c.section);
        if (const auto* number = std::get_if<std::uint32_t>(&c.stored)) {
            settings.store().SetDword(key, c.name, *number);
        } else if (const auto* text = std::get_if<std::string>(&c.stored)) {
            settings.store().SetString(key, c.name, *text);
        }
        const std::string readings = Readings(settings);
        EXPECT_NE(readings.find("; " + c.reading + ";"), std::string::npos) << readings;
    }
}

// The "Call" values reach the file in the order the connect dialog lists them, texts with
// their NUL as the profile always wrote them, and come back as saved; texts are cut to the
// dialog's fields in characters, not bytes, also when another tool wrote them longer.
TEST_F(SettingsTest, CallValuesAreWrittenInTheOrderTheConnectDialogListsThem) {
    const test::ValueWriteLog written(temp.path());
    const CallSettings call{.option = kAddressModeIdentify,
                            .user = "Jürgen-Bräuer-Öster",       // 19 characters
                            .password = "äöüßäöüßäöüßäöüßäöüß",  // 20, 40 bytes of UTF-8
                            .dial = 0xC0A80001,
                            .identify = "ÄÖÜ4567890",  // 10 characters
                            .formatSize = 2,
                            .quality = 80,
                            .save = 1,
                            .reLink = 0};
    settings.SaveCall(call);
    EXPECT_EQ(written.names(),
              (std::vector<std::string>{"Option", "User", "PassWord", "Dial", "FormatSize",
                                        "Quality", "Save", "Identify", "ReLink"}));
    EXPECT_EQ(settings.store().QueryValue(Section(settings, "Call"), "User").value.data,
              call.user + std::string(1, '\0'));
    const CallSettings loaded = settings.LoadCall();
    EXPECT_EQ(std::tie(loaded.option, loaded.user, loaded.password, loaded.dial, loaded.identify,
                       loaded.formatSize, loaded.quality, loaded.save, loaded.reLink),
              std::tie(call.option, call.user, call.password, call.dial, call.identify,
                       call.formatSize, call.quality, call.save, call.reLink));
    settings.WriteProfileString("Call", "PassWord", "ééééééééééééééééééééééé");  // 23
    EXPECT_EQ(settings.LoadCall().password, "éééééééééééééééééééé");
}

// What a recording starting now does with each state of the stored folder: the folder it
// uses, what is made, and whether the operator is told. The working directory is never used.
TEST_F(SettingsTest, ARecordingUsesTheStoredFolderOrTheDefaultAndNeverRemakesAMissingOne) {
    test::WriteFileBytes(temp.File("a-file"), "x");
    std::filesystem::create_directory(temp.File("clips"));
    const struct {
        const char* what;
        std::string stored;  // empty: nothing stored
        bool usesStored, told;
    } cases[] = {
        {"nothing stored", "", false, false},
        {"an existing folder", temp.File("clips"), true, false},
        {"an existing folder with separator", temp.File("clips") + "/", true, false},
        {"the root", "/", true, false},
        {"a volume not mounted", temp.File("media/usb/clips"), false, true},
        {"a file, not a folder", temp.File("a-file"), false, true},
    };
    const std::string fallback = temp.File("videos/Orvane") + "/";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(temp.File("videos"));
        settings.store().DeleteValue(Section(settings, "Key"), "RECPath");
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
        EXPECT_FALSE(std::filesystem::exists(temp.File("media")));
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

    SCOPED_TRACE("told again only after it was back");
    settings.SetRecordPath(temp.File("usb/clips"));
    RecordFolderNotice notice;
    EXPECT_FALSE(notice.After(settings.PrepareRecordFolder()).empty());
    std::filesystem::create_directories(temp.File("usb/clips"));  // mounted
    EXPECT_TRUE(notice.After(settings.PrepareRecordFolder()).empty());
    std::filesystem::remove_all(temp.File("usb"));  // gone again
    EXPECT_FALSE(notice.After(settings.PrepareRecordFolder()).empty());

    SCOPED_TRACE("a default folder that cannot be made is not ready");
    settings.SetDefaultRecordFolder(temp.File("a-file") + "/Orvane");
    test::ExpectedMessage warning(QtWarningMsg, "orvane.store", "cannot make the record folder");
    const RecordFolder folder = settings.PrepareRecordFolder();
    EXPECT_FALSE(folder.ready);
    EXPECT_EQ(folder.path, temp.File("a-file") + "/Orvane/");
}

// The program lock: what is saved through the dialog, or written longer by another tool, and
// which user name and password open it. Both compare exactly and count characters, not bytes,
// as the dialog's fields of 20 (UTF-16 units) do.
TEST(ProgramLock, OpensWithExactlyWhatCouldBeTypedIntoTheDialog) {
    const std::string twenty = "äöüßäöüßäöüßäöüßäöüß";  // 40 bytes of UTF-8
    const std::string emoji = "😀😀😀😀😀😀😀😀😀😀";             // ten of two UTF-16 units each
    const struct {
        const char* what;
        bool saved;  // through the dialog; otherwise written by another tool
        std::string user, password;
        bool stored;  // whether the lock took it
        std::string typedUser, typedPassword;
        bool opens;
    } cases[] = {
        {"nothing set", false, "", "", true, "", "", true},
        {"case counts", true, "Admin", "", true, "admin", "", false},
        {"a password alone locks", false, "", "pw", true, "", "pw", true},
        {"20 characters of 40 bytes", true, "Wächter", twenty, true, "Wächter", twenty, true},
        {"one password character too many", true, "Wächter", twenty + "x", false, "Wächter",
         twenty + "x", false},
        {"one user character too many", true, twenty + "é", "pw", false, twenty + "é", "pw", false},
        {"ten emoji fit", true, "u", emoji, true, "u", emoji, true},
        {"eleven do not", true, "u", emoji + "😀", false, "u", emoji + "😀", false},
        {"first 20 characters of longer texts", false, twenty + "ÄÖÜ", "éééééééééééééééééééééééé",
         true, twenty, "éééééééééééééééééééé", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Settings settings{KeyStore::OpenInMemory()};
        ProgramLock lock(settings);
        if (c.saved) {
            std::optional<test::ExpectedMessage> refused;
            if (!c.stored) {
                refused.emplace(QtWarningMsg, "orvane.store", "not stored");
            }
            EXPECT_EQ(lock.SavePassword(c.user, c.password), c.stored);
        } else if (!(c.user + c.password).empty()) {
            settings.WriteProfileString("Key", "User", c.user);
            settings.WriteProfileString("Key", "PassWord", c.password);
        }
        EXPECT_EQ(lock.IsSet(), c.stored && !(c.user + c.password).empty());
        EXPECT_EQ(lock.CheckPassword(c.typedUser, c.typedPassword), c.opens);
    }
}

}  // namespace
}  // namespace orvane
