#include "store/key_store.h"
#include "support/temp_store.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace orvane {
namespace {

KeyStore OpenOrDie(const std::string& path) {
    auto opened = KeyStore::Open(path);
    EXPECT_TRUE(opened.store.has_value()) << opened.detail;
    return std::move(*opened.store);
}

std::string Child(const KeyStore& store, RegKey key, int index) {
    return store.SubkeyName(key, index).value;
}

class KeyStoreTest : public testing::Test {
  protected:
    test::TempStore temp;
    KeyStore store = OpenOrDie(temp.path());
};

TEST_F(KeyStoreTest, KeyNamesKeepTheirCaseButLookupsIgnoreIt) {
    const auto created = store.CreateKey(KeyStore::kRoot, "Software\\Quillmar-Brakken\\Orvane");
    ASSERT_TRUE(created.ok());

    const auto opened = store.OpenKey(KeyStore::kRoot, "SOFTWARE\\quillmar-brakken\\orVANE");
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(opened.value, created.value);

    const auto again = store.CreateKey(KeyStore::kRoot, "software\\QUILLMAR-BRAKKEN");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(Child(store, again.value, 0), "Orvane");
    EXPECT_EQ(store.SubkeyCount(again.value).value, 1);
}

// Subkeys are enumerated in case-insensitive name order, one by one or all with their values
// in one go.
TEST_F(KeyStoreTest, SubkeysAndTheirValuesAreEnumeratedInCaseInsensitiveNameOrder) {
    const auto parent = store.CreateKey(KeyStore::kRoot, "Book").value;
    for (const char* name : {"delta", "Bravo", "alpha", "Charlie"}) {
        ASSERT_TRUE(store.CreateKey(parent, name).ok());
    }
    EXPECT_EQ(store.SubkeyCount(parent).value, 4);
    for (const auto& [index, name] : {std::pair{0, "alpha"}, std::pair{1, "Bravo"},
                                      std::pair{2, "Charlie"}, std::pair{3, "delta"}}) {
        EXPECT_EQ(Child(store, parent, index), name);
    }
    EXPECT_EQ(store.SubkeyName(parent, 4).status, StoreStatus::NotFound);
    EXPECT_EQ(store.SubkeyName(parent, -1).status, StoreStatus::NotFound);
    ASSERT_TRUE(store.CreateKey(parent, "alpha\\inner").ok());  // not a value of alpha
    const RegKey bravo = store.OpenKey(parent, "Bravo").value;
    const RegKey delta = store.OpenKey(parent, "delta").value;
    ASSERT_EQ(store.SetString(bravo, "Text", std::string("a\0b", 3)), StoreStatus::Ok);
    ASSERT_EQ(store.SetDword(bravo, "Count", 7), StoreStatus::Ok);
    ASSERT_EQ(store.SetString(delta, "Empty", ""), StoreStatus::Ok);

    EXPECT_EQ(store.SubkeyNames(parent).value,
              (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
    std::vector<std::string> seen;
    std::set<std::int64_t> ids;
    ASSERT_EQ(store.VisitSubkeyValues(parent,
                                      [&](const SubkeyValueView& value) {
                                          ids.insert(value.subkeyId);
                                          std::string line(value.subkey);
                                          if (value.hasValue) {
                                              line += " " + std::string(value.name) + " " +
                                                      std::to_string(value.type) + " [" +
                                                      std::string(value.data) + "]";
                                          }
                                          seen.push_back(line);
                                      }),
              StoreStatus::Ok);
    std::sort(seen.begin() + 1, seen.begin() + 3);  // the values of one key in any order
    using namespace std::string_literals;
    EXPECT_EQ(seen,
              (std::vector<std::string>{"alpha", "Bravo Count 4 [\x07\0\0\0]"s,
                                        "Bravo Text 1 [a\0b]"s, "Charlie", "delta Empty 1 []"}));
    EXPECT_EQ(ids.size(), 4u);

    const RegKey gone{9999};
    EXPECT_EQ(store.SubkeyNames(gone).status, StoreStatus::NotFound);
    EXPECT_EQ(store.VisitSubkeyValues(gone, [](const SubkeyValueView&) { FAIL(); }),
              StoreStatus::NotFound);
}

TEST_F(KeyStoreTest, DeletingAKeyIsRefusedWhileItHasSubkeys) {
    const auto parent = store.CreateKey(KeyStore::kRoot, "Records\\One").value;
    ASSERT_EQ(store.SetString(parent, "Path", "/tmp"), StoreStatus::Ok);

    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, "Records"), StoreStatus::HasSubkeys);
    EXPECT_TRUE(store.OpenKey(KeyStore::kRoot, "Records\\One").ok());

    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, "records\\ONE"), StoreStatus::Ok);
    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, "Records"), StoreStatus::Ok);
    EXPECT_EQ(store.OpenKey(KeyStore::kRoot, "Records").status, StoreStatus::NotFound);
    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, "Records"), StoreStatus::NotFound);

    // A key made again under the old name starts empty, and the old handle is dead.
    const auto recreated = store.CreateKey(KeyStore::kRoot, "Records\\One").value;
    EXPECT_EQ(store.QueryValue(recreated, "Path").status, StoreStatus::NotFound);
    EXPECT_EQ(store.SetString(parent, "Path", "x"), StoreStatus::NotFound);
}

TEST_F(KeyStoreTest, ValuesAreTypedAndKeepTheirExactBytes) {
    const auto key = store.CreateKey(KeyStore::kRoot, "Values").value;
    const std::string withNul("abc\0", 4);
    ASSERT_EQ(store.SetString(key, "Text", withNul), StoreStatus::Ok);
    ASSERT_EQ(store.SetDword(key, "Number", 0xFFFFFFFEu), StoreStatus::Ok);

    const auto text = store.QueryValue(key, "text");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text.value.type, static_cast<std::uint32_t>(ValueType::String));
    EXPECT_EQ(text.value.data, withNul);

    const auto number = store.QueryValue(key, "NUMBER");
    ASSERT_TRUE(number.ok());
    EXPECT_EQ(number.value.type, static_cast<std::uint32_t>(ValueType::Dword));
    EXPECT_EQ(number.value.data, std::string("\xFE\xFF\xFF\xFF", 4));

    // Rewriting through another spelling keeps the first spelling and replaces the data.
    ASSERT_EQ(store.SetDword(key, "TEXT", 7), StoreStatus::Ok);
    EXPECT_EQ(store.QueryValue(key, "Text").value.type,
              static_cast<std::uint32_t>(ValueType::Dword));
    EXPECT_EQ(store.ValueNames(key).value, (std::vector<std::string>{"Number", "Text"}));

    // Empty texts are values too, not missing ones.
    ASSERT_EQ(store.SetString(key, "Empty", std::string_view()), StoreStatus::Ok);
    EXPECT_TRUE(store.QueryValue(key, "Empty").ok());
    EXPECT_EQ(store.QueryValue(key, "Empty").value.data, "");
    ASSERT_EQ(store.DeleteValue(key, "Empty"), StoreStatus::Ok);

    EXPECT_EQ(store.DeleteValue(key, "number"), StoreStatus::Ok);
    EXPECT_EQ(store.DeleteValue(key, "number"), StoreStatus::NotFound);
    EXPECT_EQ(store.QueryValue(key, "Number").status, StoreStatus::NotFound);
}

TEST_F(KeyStoreTest, MalformedKeyPathsAreRefused) {
    EXPECT_EQ(store.CreateKey(KeyStore::kRoot, "A\\\\B").status, StoreStatus::InvalidName);
    EXPECT_EQ(store.CreateKey(KeyStore::kRoot, "\\A").status, StoreStatus::InvalidName);
    EXPECT_EQ(store.CreateKey(KeyStore::kRoot, "A\\").status, StoreStatus::InvalidName);
    EXPECT_EQ(store.CreateKey(KeyStore::kRoot, std::string(256, 'k')).status,
              StoreStatus::InvalidName);
    EXPECT_TRUE(store.CreateKey(KeyStore::kRoot, std::string(255, 'k')).ok());
    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, ""), StoreStatus::InvalidName);
    EXPECT_EQ(store.SubkeyCount(KeyStore::kRoot).value, 1);
}

TEST(KeyStoreFile, IsPrivateAndKeepsEveryWriteAcrossReopening) {
    test::TempStore temp;
    const std::string nested = temp.File("new/folder/registry.sqlite3");
    {
        KeyStore store = OpenOrDie(nested);
        const auto key = store.CreateKey(KeyStore::kRoot, "Software\\Orvane").value;
        ASSERT_EQ(store.SetString(key, "RECPath", "/srv/clips"), StoreStatus::Ok);
    }
    struct stat info {};
    ASSERT_EQ(::stat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);

    KeyStore reopened = OpenOrDie(nested);
    const auto key = reopened.OpenKey(KeyStore::kRoot, "software\\orvane");
    ASSERT_TRUE(key.ok());
    EXPECT_EQ(reopened.QueryValue(key.value, "RECPath").value.data, "/srv/clips");
}

TEST(KeyStoreFile, TwoProcessesWritingAtOnceLoseNothing) {
    test::TempStore temp;
    { OpenOrDie(temp.path()); }  // create the file before the writers race
    constexpr int kWrites = 150;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto opened = KeyStore::Open(temp.path());
            bool ok = opened.store.has_value();
            for (int i = 0; ok && i < kWrites; ++i) {
                const auto key = opened.store->CreateKey(KeyStore::kRoot,
                                                         "Shared\\Writer" + std::to_string(writer));
                ok = key.ok() &&
                     opened.store->SetDword(key.value, "V" + std::to_string(i),
                                            static_cast<std::uint32_t>(i)) == StoreStatus::Ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    KeyStore store = OpenOrDie(temp.path());
    for (int writer = 0; writer < 2; ++writer) {
        const auto key = store.OpenKey(KeyStore::kRoot, "Shared\\Writer" + std::to_string(writer));
        ASSERT_TRUE(key.ok());
        EXPECT_EQ(store.ValueNames(key.value).value.size(), static_cast<std::size_t>(kWrites));
    }
    EXPECT_EQ(store.SubkeyCount(store.OpenKey(KeyStore::kRoot, "Shared").value).value, 2);
}

}  // namespace
}  // namespace orvane
