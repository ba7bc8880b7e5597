#include "store/single_instance.h"

#include "common/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane {
namespace {

// A request is a QStringList in QDataStream's form; the answer is one byte.
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;
constexpr char kAnswer = 'k';
// No list of paths a desktop hands over comes near this; a bigger request is no request.
constexpr qint64 kMaxRequestBytes = 4 << 20;
constexpr int kRetryMs = 100;
// A socket's path fits in far less (sockaddr_un).
constexpr std::size_t kMaxNoteBytes = 4096;
// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kMaxLinkHops = 40;

void MakeFolders(const std::string& path) {
    for (auto slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);  // one that exists stays as it is
    }
}

}  // namespace

std::string CanonicalStorePath(const std::string& storePath) {
    QFileInfo info(QString::fromStdString(storePath));
    // The store file may itself be a link (a dotfile manager's, say), perhaps to a file not
    // made yet: it is the file at the end that is locked. A loop of links stops somewhere.
    for (int hop = 0; hop < kMaxLinkHops && info.isSymLink(); ++hop) {
        info = QFileInfo(info.symLinkTarget());
    }
    const QString folder = info.absolutePath();
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    const QString base = canonicalFolder.isEmpty() ? QDir::cleanPath(folder) : canonicalFolder;
    return (base + QLatin1Char('/') + info.fileName()).toStdString();
}

StoreLock::StoreLock(const std::string& canonicalStore) : path_(canonicalStore + ".lock") {
    MakeFolders(path_);
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        state_ = State::Held;
        WriteNote({});  // a crashed holder's note names a socket nobody listens on
        return;
    }
    if (errno == EWOULDBLOCK) {
        state_ = State::HeldByOther;
        return;
    }
    error_ = std::strerror(errno);
}

StoreLock::~StoreLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // lets go of the lock; the file stays for the next run
    }
}

bool StoreLock::WriteNote(const std::string& note) const {
    if (state_ != State::Held || ::ftruncate(fd_, 0) != 0) {
        return false;
    }
    return ::pwrite(fd_, note.data(), note.size(), 0) == static_cast<ssize_t>(note.size());
}

std::string StoreLock::ReadNote() const {
    if (fd_ < 0) {
        return {};
    }
    std::string note(kMaxNoteBytes, '\0');
    const ssize_t read = ::pread(fd_, note.data(), note.size(), 0);
    note.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
    return note;
}

QString InstanceSocketName(const std::string& canonicalStore) {
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(canonicalStore),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(16);
    const QString name = QStringLiteral("orvane-") + QString::fromLatin1(hash);
    // The runtime folder is the user's alone; the shared temporary folder is the fall-back.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString inRuntime = runtime + QLatin1Char('/') + name;
    if (runtime.startsWith(QLatin1Char('/')) && QFileInfo(runtime).isDir() &&
        inRuntime.toLocal8Bit().size() < static_cast<qsizetype>(sizeof(sockaddr_un::sun_path))) {
        return inRuntime;
    }
    return name;
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::OnNewConnection);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::Listen(const QString& name) {
    QLocalServer::removeServer(name);
    if (!server_->listen(name)) {
        qCWarning(lcApp).noquote()
            << "cannot listen for other starts on" << name << ":" << server_->errorString();
        return false;
    }
    qCInfo(lcApp).noquote() << "listens for other starts on" << server_->fullServerName();
    return true;
}

QString InstanceServer::fullName() const {
    return server_->fullServerName();
}

void InstanceServer::OnNewConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadRequest(socket); });
        ReadRequest(socket);  // what came with the connection
    }
}

void InstanceServer::ReadRequest(QLocalSocket* socket) {
    if (socket->bytesAvailable() > kMaxRequestBytes) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.setVersion(kStreamVersion);
    in.startTransaction();
    QStringList clips;
    in >> clips;
    if (!in.commitTransaction()) {
        if (in.status() != QDataStream::ReadPastEnd) {
            socket->abort();  // not a request of ours
        }
        return;  // the rest is still on its way
    }
    socket->write(&kAnswer, 1);
    socket->disconnectFromServer();
    emit clipsPassed(clips);
}

bool PassToRunningInstance(const QString& socketName, const QStringList& clips, int waitMs) {
    QByteArray request;
    {
        QDataStream out(&request, QIODevice::WriteOnly);
        out.setVersion(kStreamVersion);
        out << clips;
    }
    const QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketName);
        if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            // Nobody listens yet: the other program may still be starting.
            QThread::msleep(
                static_cast<unsigned long>(std::min<qint64>(kRetryMs, deadline.remainingTime())));
            continue;
        }
        socket.write(request);
        while (socket.bytesToWrite() > 0 &&
               socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        }
        // Connected, so the program is there; it answers once its event loop reads the request.
        while (socket.bytesAvailable() < 1 &&
               socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        }
        char answer = 0;
        return socket.read(&answer, 1) == 1 && answer == kAnswer;
    }
    return false;
}

}  // namespace orvane
