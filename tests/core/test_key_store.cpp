// The key store: keys and values as the registry it stands in for keeps them, in a file of
// its own that several processes write.
#include "store/key_store.h"
#include "support/temp_store.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// Names keep their case but are found whatever it is, and subkeys are listed in that order;
// values keep their type and exact bytes; a key with subkeys is not deleted, and one made
// again under its name starts empty.
TEST(KeyStore, KeysAndValuesAreFoundWhateverTheCaseAndKeepTheirBytes) {
    KeyStore store = KeyStore::OpenInMemory();
    const auto created = store.CreateKey(KeyStore::kRoot, "Software\\Quillmar-Brakken\\Orvane");
    ASSERT_TRUE(created.ok());
    EXPECT_EQ(store.OpenKey(KeyStore::kRoot, "SOFTWARE\\quillmar-brakken\\orVANE").value,
              created.value);
    const auto book = store.CreateKey(KeyStore::kRoot, "software\\QUILLMAR-BRAKKEN\\Book").value;
    for (const char* name : {"delta", "Bravo", "alpha", "Charlie", "alpha\\inner"}) {
        ASSERT_TRUE(store.CreateKey(book, name).ok());
    }
    EXPECT_EQ(store.SubkeyNames(book).value,
              (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));
    EXPECT_EQ(store.SubkeyName(book, 1).value, "Bravo");
    EXPECT_EQ(store.SubkeyName(book, 4).status, StoreStatus::NotFound);

    const RegKey key = created.value;
    const std::string withNul("abc\0", 4);
    ASSERT_EQ(store.SetString(key, "Text", withNul), StoreStatus::Ok);
    ASSERT_EQ(store.SetDword(key, "Number", 0xFFFFFFFEu), StoreStatus::Ok);
    ASSERT_EQ(store.SetString(key, "Empty", std::string_view()), StoreStatus::Ok);
    EXPECT_EQ(test::Raw(store, key, "text"), std::pair(1u, withNul));
    EXPECT_EQ(test::Raw(store, key, "NUMBER"), std::pair(4u, std::string("\xFE\xFF\xFF\xFF", 4)));
    EXPECT_TRUE(store.QueryValue(key, "Empty").ok());  // an empty text is a value, not none
    // Rewriting through another spelling keeps the first spelling and replaces the data.
    ASSERT_EQ(store.SetDword(key, "TEXT", 7), StoreStatus::Ok);
    EXPECT_EQ(test::Raw(store, key, "Text").first, 4u);
    EXPECT_EQ(store.ValueNames(key).value, (std::vector<std::string>{"Empty", "Number", "Text"}));
    EXPECT_EQ(store.DeleteValue(key, "number"), StoreStatus::Ok);
    EXPECT_EQ(store.DeleteValue(key, "number"), StoreStatus::NotFound);

    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, "Software"), StoreStatus::HasSubkeys);
    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, "software\\quillmar-brakken\\ORVANE"),
              StoreStatus::Ok);
    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, "software\\quillmar-brakken\\ORVANE"),
              StoreStatus::NotFound);
    const auto recreated = store.CreateKey(KeyStore::kRoot, "Software\\Quillmar-Brakken\\Orvane");
    EXPECT_EQ(store.QueryValue(recreated.value, "Empty").status, StoreStatus::NotFound);
    EXPECT_EQ(store.SetString(key, "Text", "x"), StoreStatus::NotFound);  // the old handle
    EXPECT_EQ(store.VisitSubkeyValues(RegKey{9999}, [](const SubkeyValueView&) { FAIL(); }),
              StoreStatus::NotFound);

    for (const std::string& malformed :
         std::vector<std::string>{"A\\\\B", "\\A", "A\\", std::string(256, 'k')}) {
        EXPECT_EQ(store.CreateKey(KeyStore::kRoot, malformed).status, StoreStatus::InvalidName);
    }
    EXPECT_TRUE(store.CreateKey(KeyStore::kRoot, std::string(255, 'k')).ok());
    EXPECT_EQ(store.DeleteKey(KeyStore::kRoot, ""), StoreStatus::InvalidName);
}

// The file is made with its folders, readable by its owner alone, and two processes writing it
// at once lose nothing.
TEST(KeyStoreFile, IsPrivateAndTwoProcessesWritingAtOnceLoseNothing) {
    test::TempStore temp;
    const std::string nested = temp.File("new/folder/registry.sqlite3");
    ASSERT_TRUE(KeyStore::Open(nested).store);  // made before the writers race
    struct stat info {};
    ASSERT_EQ(::stat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    constexpr int kWrites = 150;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto opened = KeyStore::Open(nested);
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
    KeyStore store = std::move(*KeyStore::Open(nested).store);
    for (int writer = 0; writer < 2; ++writer) {
        const auto key = store.OpenKey(KeyStore::kRoot, "shared\\writer" + std::to_string(writer));
        ASSERT_TRUE(key.ok());
        EXPECT_EQ(store.ValueNames(key.value).value.size(), static_cast<std::size_t>(kWrites));
    }
    EXPECT_EQ(store.SubkeyCount(store.OpenKey(KeyStore::kRoot, "Shared").value).value, 2);
}

}  // namespace
}  // namespace orvane
