#include "store/site_book.h"

#include "common/fixed_text.h"
#include "common/log.h"

#include <QByteArrayView>

#include <string>
#include <string_view>
#include <utility>

namespace orvane {
namespace {

namespace sitevalue {
constexpr const char* kName = "Name";
constexpr const char* kPassWord = "PassWord";
constexpr const char* kDial = "Dial";
constexpr const char* kMemo = "Memo";
}  // namespace sitevalue

std::string EntryKeyPath(const QString& userName) {
    return std::string(kSiteBookKeyPath) + "\\" + userName.toStdString();
}

// Value names compare as the store compares them: ASCII letters without case.
bool SameValueName(std::string_view stored, const char* name) {
    return QByteArrayView(stored).compare(QByteArrayView(name), Qt::CaseInsensitive) == 0;
}

QString FromUtf8(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Another tool may have stored a longer text, or one with its terminator: the entry shows
// what the dialog's field can hold.
QString ReadText(const SubkeyValueView& value, std::size_t maxChars) {
    if (value.type != static_cast<std::uint32_t>(ValueType::String)) {
        return {};
    }
    return FromUtf8(CutToChars(TextBeforeNul(value.data), maxChars));
}

void ReadInto(SiteBookEntry& entry, const SubkeyValueView& value) {
    if (SameValueName(value.name, sitevalue::kName)) {
        // An empty name could be neither shown nor deleted: the key's name stays.
        if (QString name = ReadText(value, kSiteBookUserNameMaxChars); !name.isEmpty()) {
            entry.userName = std::move(name);
        }
    } else if (SameValueName(value.name, sitevalue::kPassWord)) {
        entry.password = ReadText(value, kSiteBookPasswordMaxChars);
    } else if (SameValueName(value.name, sitevalue::kDial)) {
        entry.address = ReadDword(value);
    } else if (SameValueName(value.name, sitevalue::kMemo)) {
        entry.memo = ReadText(value, kSiteBookMemoMaxChars);
    }
}

}  // namespace

bool SiteBook::IsUsableUserName(const QString& userName) {
    // An empty name would address the book's own key, and a separator would nest keys that
    // loading the book never finds.
    return !userName.isEmpty() && !userName.contains(QLatin1Char('\\'));
}

void SiteBook::LoadSiteBook(std::vector<SiteBookEntry>& entries) const {
    const auto book = store_.OpenKey(KeyStore::kRoot, kSiteBookKeyPath);
    if (!book.ok()) {
        // No site was ever added.
        if (book.status != StoreStatus::NotFound) {
            qCWarning(lcStore) << "cannot open the site book";
        }
        return;
    }
    // The whole book in one read.
    const std::size_t first = entries.size();
    std::int64_t entry = -1;
    const StoreStatus status =
        store_.VisitSubkeyValues(book.value, [&](const SubkeyValueView& value) {
            if (value.subkeyId != entry) {
                entry = value.subkeyId;
                // The key's name stands in for a missing "Name" value, so that such an entry
                // can still be found and deleted.
                SiteBookEntry& added = entries.emplace_back();
                added.userName = FromUtf8(CutToChars(value.subkey, kSiteBookUserNameMaxChars));
                added.key = FromUtf8(value.subkey);
            }
            if (value.hasValue) {
                ReadInto(entries.back(), value);
            }
        });
    if (status != StoreStatus::Ok) {
        qCWarning(lcStore) << "cannot read the site book entries";
        entries.resize(first);
    }
}

bool SiteBook::AddSiteBookEntry(const SiteBookEntry& entry) {
    if (!IsUsableUserName(entry.userName)) {
        qCWarning(lcStore) << "site book entry refused: not a usable user name:" << entry.userName;
        return false;
    }
    const auto key = store_.CreateKey(KeyStore::kRoot, EntryKeyPath(entry.userName));
    if (!key.ok()) {
        qCWarning(lcStore) << "cannot create the site book entry" << entry.userName;
        return false;
    }
    bool written = true;
    const auto check = [&](const char* name, StoreStatus status) {
        if (status != StoreStatus::Ok) {
            qCWarning(lcStore) << "cannot write" << name << "of the site book entry"
                               << entry.userName;
            written = false;
        }
    };
    check(sitevalue::kName,
          store_.SetString(key.value, sitevalue::kName, entry.userName.toStdString()));
    check(sitevalue::kPassWord,
          store_.SetString(key.value, sitevalue::kPassWord, entry.password.toStdString()));
    check(sitevalue::kDial, store_.SetDword(key.value, sitevalue::kDial, entry.address));
    check(sitevalue::kMemo,
          store_.SetString(key.value, sitevalue::kMemo, entry.memo.toStdString()));
    return written;
}

bool SiteBook::DeleteSiteBookEntry(const QString& userName) {
    if (!IsUsableUserName(userName)) {
        qCWarning(lcStore) << "not a site book entry:" << userName;
        return false;
    }
    const StoreStatus status = store_.DeleteKey(KeyStore::kRoot, EntryKeyPath(userName));
    if (status != StoreStatus::Ok) {
        qCWarning(lcStore) << "cannot delete the site book entry" << userName;
        return false;
    }
    return true;
}

bool SiteBook::SameKey(const QString& a, const QString& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        const QChar x = a[i];
        const QChar y = b[i];
        if (x != y && !(x.unicode() < 128 && y.unicode() < 128 && x.toLower() == y.toLower())) {
            return false;
        }
    }
    return true;
}

}  // namespace orvane
