#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <string>

class QLocalServer;
class QLocalSocket;

namespace orvane {

// The store's path with its own and its folder's symbolic links and "." / ".." resolved, so that
// two spellings of one store share a lock and a socket. The file itself need not exist yet.
std::string CanonicalStorePath(const std::string& storePath);

// The program's hold on one settings store: an exclusive flock on "<store>.lock", kept for the
// whole run. The kernel lets go of it when the process ends however it ends, so a crash never
// leaves a stale lock behind. Only the operator's program takes it; the command-line tools
// work beside a running program.
class StoreLock {
  public:
    enum class State {
        Held,         // this process holds the store
        HeldByOther,  // another process holds it
        Failed,       // the lock file cannot be made or locked (a read-only folder)
    };

    // Takes the lock on canonicalStore without waiting; makes the store's folder when missing.
    explicit StoreLock(const std::string& canonicalStore);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    State state() const { return state_; }
    const std::string& path() const { return path_; }
    // Why the lock failed (strerror), for State::Failed.
    const std::string& error() const { return error_; }

    // The lock file also tells where its holder listens, since a later start may run with
    // another runtime folder (su, ssh, cron) and would look for the socket elsewhere. Written by
    // the holder (false when it cannot be), read by anyone who opened the file; empty when the
    // holder has not written it.
    bool WriteNote(const std::string& note) const;
    std::string ReadNote() const;

  private:
    std::string path_;
    std::string error_;
    int fd_ = -1;
    State state_ = State::Failed;
};

// The local socket the program holding a store listens on: named after the store's canonical
// path (a hash, so any path fits a socket name), in $XDG_RUNTIME_DIR when that is usable and
// otherwise where Qt puts local sockets.
QString InstanceSocketName(const std::string& canonicalStore);

// What the program holding the store listens for: the clip files another start of the program
// was asked to open. Every request is answered once it is read, before clipsPassed.
class InstanceServer : public QObject {
    Q_OBJECT
  public:
    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens on name; a socket left there by a program that ended is replaced (the caller holds
    // the store's lock, so nobody else listens there). False, with a warning, when it cannot.
    bool Listen(const QString& name);
    // The socket's path once listening.
    QString fullName() const;

  signals:
    // Absolute paths, possibly none: the other start asked only to be brought to the front.
    void clipsPassed(const QStringList& clips);

  private:
    void OnNewConnection();
    void ReadRequest(QLocalSocket* socket);

    QLocalServer* server_;
};

// Hands the clips to the program holding the store and waits, without an event loop, for its
// answer for at most waitMs (while it may still be starting). False when nobody answered.
bool PassToRunningInstance(const QString& socketName, const QStringList& clips, int waitMs);

}  // namespace orvane
