#pragma once

#include "store/key_store.h"
#include "store/registry_layout.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane {

// The site book dialog's fields hold no more characters than these; the user name and the
// password are those of the connect dialog.
inline constexpr std::size_t kSiteBookUserNameMaxChars = kUserNameMaxBytes;
inline constexpr std::size_t kSiteBookPasswordMaxChars = kPasswordMaxBytes;
inline constexpr std::size_t kSiteBookMemoMaxChars = 50;

// One site the operator keeps: the login for it, its address and a free note.
struct SiteBookEntry {
    QString userName;
    QString password;
    std::uint32_t address = 0;  // IPv4, first octet in the most significant byte
    QString memo;
    // The name of the key it was loaded from, whole; empty for an entry not loaded. It is the
    // entry's identity in the store: another tool may have written a "Name" that differs
    // from it or is longer than the dialog shows.
    QString key = {};

    // The key where the entry is (or would be) stored.
    QString storeKey() const { return key.isEmpty() ? userName : key; }
    // The entry as the operator sees it; where it is stored does not count.
    friend bool operator==(const SiteBookEntry& a, const SiteBookEntry& b) {
        return a.userName == b.userName && a.password == b.password && a.address == b.address &&
               a.memo == b.memo;
    }
};

// The site book: one key per entry below the site book key, named by the entry's user name,
// holding "Name", "PassWord", "Memo" (text without a terminator) and "Dial" (the address as
// a number). Texts are kept as the operator typed them; the code page applies only where a
// text goes to a site. Nothing here shows a message; failures come back as results.
class SiteBook {
  public:
    explicit SiteBook(KeyStore& store) : store_(store) {}

    // A name that can be a key of its own: not empty, no key separator.
    static bool IsUsableUserName(const QString& userName);
    // Whether two key names name the same key: the store ignores the case of ASCII letters
    // only.
    static bool SameKey(const QString& a, const QString& b);

    // Appends every entry in the store's enumeration order, all read at once. Texts are cut
    // to what the dialog's fields hold; an entry without an address has address 0. Nothing is
    // appended when the book cannot be read.
    void LoadSiteBook(std::vector<SiteBookEntry>& entries) const;
    // Creates the entry or overwrites the one of the same user name. False (logged) when the
    // name cannot be a key, or the key or a value cannot be written.
    bool AddSiteBookEntry(const SiteBookEntry& entry);
    // False when there is no such entry or it cannot be deleted.
    bool DeleteSiteBookEntry(const QString& userName);

  private:
    KeyStore& store_;
};

}  // namespace orvane
