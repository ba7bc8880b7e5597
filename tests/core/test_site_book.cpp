// The site book store: the stored layout, overwriting, addresses, and what loading makes of
// names and texts it did not write itself.
#include "store/registry_layout.h"
#include "store/site_book.h"
#include "support/message_guard.h"
#include "support/temp_store.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

constexpr std::uint32_t kAddress192_168_1_5 = 0xC0A80105;

class SiteBookTest : public testing::Test {
  protected:
    test::TempStore temp;
    KeyStore store{std::move(*KeyStore::Open(temp.path()).store)};
    SiteBook book{store};

    std::vector<SiteBookEntry> Load() const {
        std::vector<SiteBookEntry> entries;
        book.LoadSiteBook(entries);
        return entries;
    }
    static std::string KeyPath(const std::string& name) {
        return std::string(kSiteBookKeyPath) + "\\" + name;
    }
    StoredValue Raw(const std::string& name, const char* value) const {
        const auto key = store.OpenKey(KeyStore::kRoot, KeyPath(name));
        EXPECT_TRUE(key.ok()) << name;
        const auto stored = store.QueryValue(key.value, value);
        EXPECT_TRUE(stored.ok()) << name << ' ' << value;
        return stored.value;
    }
    // An entry as another tool may leave it.
    RegKey Foreign(const std::string& name) {
        return store.CreateKey(KeyStore::kRoot, KeyPath(name)).value;
    }
};

// Texts without their NUL and the address as a number; names beyond ASCII (Windows-1252's)
// kept as typed; the same user name overwrites its one entry, and the entry is found again
// by that name to be deleted.
TEST_F(SiteBookTest, StoresTextsWithoutTerminatorAndTheAddressAsANumber) {
    const QString name = QString::fromUtf8("J\u00FCrgen \u20AC");
    const SiteBookEntry gate{name, QString::fromUtf8("p\u00E4\u00DF"), kAddress192_168_1_5,
                             QString::fromUtf8("caf\u00E9")};
    ASSERT_TRUE(book.AddSiteBookEntry(gate));
    const std::string key = name.toStdString();
    for (const auto& [value, data] :
         {std::pair{"Name", "J\xC3\xBCrgen \xE2\x82\xAC"},
          std::pair{"PassWord", "p\xC3\xA4\xC3\x9F"}, std::pair{"Memo", "caf\xC3\xA9"}}) {
        EXPECT_EQ(Raw(key, value).type, static_cast<std::uint32_t>(ValueType::String)) << value;
        EXPECT_EQ(Raw(key, value).data, data) << value;
    }
    EXPECT_EQ(Raw(key, "Dial").type, static_cast<std::uint32_t>(ValueType::Dword));
    EXPECT_EQ(Raw(key, "Dial").data, std::string("\x05\x01\xA8\xC0", 4));
    EXPECT_EQ(Load(), std::vector<SiteBookEntry>{gate});

    ASSERT_TRUE(book.AddSiteBookEntry({"beta", "two", 2, ""}));
    ASSERT_TRUE(book.AddSiteBookEntry({name, "new", 0x0A000001, ""}));
    EXPECT_EQ(Load(),
              (std::vector<SiteBookEntry>{{"beta", "two", 2, ""}, {name, "new", 0x0A000001, ""}}));
    EXPECT_TRUE(book.DeleteSiteBookEntry(name));
    EXPECT_EQ(Load(), (std::vector<SiteBookEntry>{{"beta", "two", 2, ""}}));
    const test::ExpectedMessage gone(QtWarningMsg, "orvane.store", "site book entry");
    EXPECT_FALSE(book.DeleteSiteBookEntry(name));
}

TEST_F(SiteBookTest, NamesThatCannotBeAKeyOfTheirOwnAreRefused) {
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "user name");
    const test::ExpectedMessage notEntry(QtWarningMsg, "orvane.store", "not a site book entry");
    // The separator would nest "site" and "a" and the entry would never be loaded again.
    EXPECT_FALSE(book.AddSiteBookEntry({"site\\a", "x", 1, ""}));
    EXPECT_FALSE(book.AddSiteBookEntry({"", "x", 1, ""}));
    EXPECT_FALSE(store.OpenKey(KeyStore::kRoot, kSiteBookKeyPath).ok());
    EXPECT_TRUE(Load().empty());

    ASSERT_TRUE(book.AddSiteBookEntry({"site", "x", 1, ""}));
    EXPECT_FALSE(book.DeleteSiteBookEntry("site\\a"));
    EXPECT_FALSE(book.DeleteSiteBookEntry(""));
    EXPECT_EQ(Load().size(), 1u);
}

TEST_F(SiteBookTest, EntriesLeftByOtherToolsLoadWithinTheDialogsLimits) {
    // Too long for the dialog's fields, one with a terminator stored as data, a 'é' of two
    // bytes where the cut falls.
    const RegKey longOne = Foreign("long");
    store.SetString(longOne, "Name", std::string(19, 'n') + "\xC3\xA9" + "tail");
    store.SetString(longOne, "PassWord", std::string(25, 'p'));
    store.SetString(longOne, "Memo", std::string(80, 'm'));
    store.SetDword(longOne, "Dial", kAddress192_168_1_5);
    // No address and no name: address 0, the key's name.
    const RegKey bare = Foreign("bare");
    store.SetString(bare, "PassWord", std::string("pw\0junk", 7));
    // An address of the wrong type counts as none.
    const RegKey odd = Foreign("odd");
    store.SetString(odd, "Name", "odd");
    store.SetString(odd, "Dial", "192.168.1.5");

    const auto entries = Load();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (SiteBookEntry{"bare", "pw", 0, ""}));
    EXPECT_EQ(entries[1], (SiteBookEntry{QString(19, 'n') + QString::fromUtf8("\u00E9"),
                                         QString(20, 'p'), kAddress192_168_1_5, QString(50, 'm')}));
    EXPECT_EQ(entries[2], (SiteBookEntry{"odd", "", 0, ""}));
}

}  // namespace
}  // namespace orvane
