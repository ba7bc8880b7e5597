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

class SiteBookTest : public test::StoreFileTest {
  protected:
    std::vector<SiteBookEntry> Load() const {
        std::vector<SiteBookEntry> entries;
        book.LoadSiteBook(entries);
        return entries;
    }
    RegKey Entry(const std::string& name) {
        return Key(std::string(kSiteBookKeyPath) + "\\" + name);
    }

    SiteBook book{store_};
};

// Texts without their NUL and the address as a number; names beyond ASCII (Windows-1252's)
// kept as typed; the same user name overwrites its one entry, and the entry is found again
// by that name to be deleted. Names that cannot be a key of their own are refused: the
// separator would nest "site" and "a", never to be loaded again.
TEST_F(SiteBookTest, StoresTextsWithoutTerminatorAndTheAddressAsANumber) {
    const QString name = QString::fromUtf8("J\u00FCrgen \u20AC");
    const SiteBookEntry gate{name, QString::fromUtf8("p\u00E4\u00DF"), kAddress192_168_1_5,
                             QString::fromUtf8("caf\u00E9")};
    ASSERT_TRUE(book.AddSiteBookEntry(gate));
    const RegKey key = Entry(name.toStdString());
    for (const auto& [value, data] :
         {std::pair{"Name", "J\xC3\xBCrgen \xE2\x82\xAC"},
          std::pair{"PassWord", "p\xC3\xA4\xC3\x9F"}, std::pair{"Memo", "caf\xC3\xA9"},
          std::pair{"Dial", "\x05\x01\xA8\xC0"}}) {
        const StoredValue stored = store_.QueryValue(key, value).value;
        EXPECT_EQ(stored.type,
                  static_cast<std::uint32_t>(value == std::string("Dial") ? ValueType::Dword
                                                                          : ValueType::String))
            << value;
        EXPECT_EQ(stored.data, data) << value;
    }
    EXPECT_EQ(Load(), std::vector<SiteBookEntry>{gate});

    ASSERT_TRUE(book.AddSiteBookEntry({"beta", "two", 2, ""}));
    ASSERT_TRUE(book.AddSiteBookEntry({name, "new", 0x0A000001, ""}));
    EXPECT_EQ(Load(),
              (std::vector<SiteBookEntry>{{"beta", "two", 2, ""}, {name, "new", 0x0A000001, ""}}));
    EXPECT_TRUE(book.DeleteSiteBookEntry(name));
    EXPECT_EQ(Load(), (std::vector<SiteBookEntry>{{"beta", "two", 2, ""}}));
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "site book entry");
    EXPECT_FALSE(book.DeleteSiteBookEntry(name));
    EXPECT_FALSE(book.AddSiteBookEntry({"beta\\a", "x", 1, ""}));
    EXPECT_FALSE(book.AddSiteBookEntry({"", "x", 1, ""}));
    EXPECT_FALSE(book.DeleteSiteBookEntry("beta\\a"));
    EXPECT_EQ(Load().size(), 1u);
}

TEST_F(SiteBookTest, EntriesLeftByOtherToolsLoadWithinTheDialogsLimits) {
    // Too long for the dialog's fields, one with a terminator stored as data, a 'é' of two
    // bytes where the cut falls.
    const RegKey longOne = Entry("long");
    store_.SetString(longOne, "Name", std::string(19, 'n') + "\xC3\xA9" + "tail");
    store_.SetString(longOne, "PassWord", std::string(25, 'p'));
    store_.SetString(longOne, "Memo", std::string(80, 'm'));
    store_.SetDword(longOne, "Dial", kAddress192_168_1_5);
    // No address and no name: address 0, the key's name.
    store_.SetString(Entry("bare"), "PassWord", std::string("pw\0junk", 7));
    // An address of the wrong type counts as none.
    const RegKey odd = Entry("odd");
    store_.SetString(odd, "Name", "odd");
    store_.SetString(odd, "Dial", "192.168.1.5");

    EXPECT_EQ(Load(),
              (std::vector<SiteBookEntry>{{"bare", "pw", 0, ""},
                                          {QString(19, 'n') + QString::fromUtf8("\u00E9"),
                                           QString(20, 'p'), kAddress192_168_1_5, QString(50, 'm')},
                                          {"odd", "", 0, ""}}));
}

}  // namespace
}  // namespace orvane
