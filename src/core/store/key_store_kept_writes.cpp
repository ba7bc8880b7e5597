#include "store/key_store.h"

#include "common/log.h"
#include "store/key_store_internals.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace orvane {
namespace {

// Kept writes are tried again this often while the event loop runs.
constexpr int kRetryIntervalMs = 250;
// A closing store waits this long for a lock to go before it gives up on kept writes.
constexpr int kCloseWaitMs = 2000;

}  // namespace

void KeyStore::CloseKept() {
    if (!behind_ || !db_) {
        behind_.reset();
        return;
    }
    behind_->retry.reset();
    if (!FlushPendingWrites(kCloseWaitMs)) {
        qCWarning(lcStore) << behind_->writes.size()
                           << "settings changes are lost: the store file stayed locked by "
                              "another program";
    }
    behind_.reset();
}

std::size_t KeyStore::pendingWrites() const {
    return behind_ ? behind_->writes.size() : 0;
}

bool KeyStore::FlushPendingWrites(int waitMs) {
    if (!behind_ || behind_->writes.empty()) {
        return true;
    }
    busyWait_->budgetMs = waitMs;
    while (!behind_->writes.empty()) {
        const StoreStatus status =
            keystore::TryWithin(db_.get(), busyWait_->workers, waitMs, busy_,
                                [&] { return Apply(behind_->writes.front()); });
        if (status == StoreStatus::Failed && busy_) {
            break;
        }
        if (status != StoreStatus::Ok) {
            // Its key went meanwhile, or the file refused it: it cannot go in any more.
            qCWarning(lcStore) << "a kept store write could not be made:"
                               << behind_->writes.front().path.c_str();
        }
        behind_->writes.pop_front();
    }
    busyWait_->budgetMs = kBusyWaitMs;
    if (!behind_->writes.empty()) {
        return false;
    }
    if (behind_->retry) {
        behind_->retry->stop();
    }
    qCInfo(lcStore) << "the store is free again; kept writes are in the file";
    return true;
}

StoreStatus KeyStore::Apply(const PendingWrite& write) {
    const RegKey key = Real(RegKey{write.key});
    if (key.id < 0) {
        return StoreStatus::NotFound;  // its key was never made
    }
    switch (write.kind) {
        case PendingWrite::Kind::CreateKey: {
            const auto names = SplitKeyPath(write.path);
            const auto made = CreateKeyNow(key, names.value_or(std::vector<std::string>{}));
            if (made.ok()) {
                behind_->madeKeys[write.madeKey] = made.value.id;
            }
            return made.status;
        }
        case PendingWrite::Kind::DeleteKey:
            return DeleteKeyNow(key, write.path);
        case PendingWrite::Kind::SetValue:
            return SetValueNow(key, write.path, write.type, write.data);
        case PendingWrite::Kind::DeleteValue: {
            const StoreStatus status = DeleteValueNow(key, write.path);
            return status == StoreStatus::NotFound ? StoreStatus::Ok : status;
        }
    }
    return StoreStatus::Failed;
}

bool KeyStore::Keeping() {
    if (!behind_ || behind_->writes.empty()) {
        return false;
    }
    // One try that waits per retry interval; between tries, writes join the queue at once,
    // so that a run of them (a clip's entry) costs one wait, not one each.
    const auto now = std::chrono::steady_clock::now();
    if (now - behind_->lastTry < std::chrono::milliseconds(kRetryIntervalMs)) {
        return true;
    }
    behind_->lastTry = now;
    return !FlushPendingWrites(kBusyWaitMs);
}

void KeyStore::Keep(PendingWrite write) {
    if (!behind_) {
        behind_ = std::make_unique<WriteBehind>();
        behind_->owner = this;
    }
    if (behind_->writes.empty()) {
        behind_->lastTry = std::chrono::steady_clock::now();
        qCInfo(lcStore) << "the store file is locked by another connection; writes are kept "
                           "until it is free";
    }
    behind_->writes.push_back(std::move(write));
    // Retried from the event loop of the thread the store belongs to, when it has one.
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread()) {
        return;
    }
    if (!behind_->retry) {
        behind_->retry = std::make_unique<QTimer>();
        behind_->retry->setInterval(kRetryIntervalMs);
        WriteBehind* behind = behind_.get();
        QObject::connect(behind->retry.get(), &QTimer::timeout,
                         [behind] { behind->owner->FlushPendingWrites(0); });
    }
    if (!behind_->retry->isActive()) {
        behind_->retry->start();
    }
}

RegKey KeyStore::Real(RegKey key) const {
    if (key.id >= 0 || !behind_) {
        return key;
    }
    const auto made = behind_->madeKeys.find(key.id);
    return made == behind_->madeKeys.end() ? key : RegKey{made->second};
}

bool KeyStore::KnownKey(RegKey key) const {
    if (key.id >= 0) {
        return KeyExists(key);
    }
    return behind_ && key.id > behind_->nextMadeKey;
}

const KeyStore::PendingWrite* KeyStore::LatestKept(std::int64_t key, std::string_view name) const {
    if (!behind_) {
        return nullptr;
    }
    for (auto it = behind_->writes.rbegin(); it != behind_->writes.rend(); ++it) {
        if ((it->kind == PendingWrite::Kind::SetValue ||
             it->kind == PendingWrite::Kind::DeleteValue) &&
            Real(RegKey{it->key}).id == key && keystore::SameName(it->path, name)) {
            return &*it;
        }
    }
    return nullptr;
}

}  // namespace orvane
