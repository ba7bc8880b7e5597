#include "site/blocking_connect.h"

#include <QEventLoop>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace orvane {

bool ConnectBlocking(QTcpSocket& socket, const QString& host, quint16 port, int timeoutMs,
                     QString* reason) {
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.abort();
    }
    // The wait runs the event loop: the socket's owner may go (Disconnect, Exit) before it
    // ends, and the socket with it.
    QPointer<QTcpSocket> alive(&socket);
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QObject::destroyed, &loop, &QEventLoop::quit);
    // Aborted by its owner meanwhile (a quit signal, a Disconnect): no use waiting on.
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop,
                     [&loop](QAbstractSocket::SocketState state) {
                         if (state == QAbstractSocket::UnconnectedState) {
                             loop.quit();
                         }
                     });
    socket.connectToHost(host, port);
    if (socket.state() != QAbstractSocket::ConnectedState &&
        socket.state() != QAbstractSocket::UnconnectedState) {
        deadline.start(timeoutMs);
        loop.exec();
    }
    if (!alive) {
        if (reason) {
            *reason = QStringLiteral("closed while connecting");
        }
        return false;
    }
    if (alive->state() != QAbstractSocket::ConnectedState) {
        // A connect still under way when the deadline came has no error of its own yet: the
        // socket would call it "Unknown error".
        const bool noError = alive->error() == QAbstractSocket::UnknownSocketError;
        if (reason) {
            *reason = !noError              ? alive->errorString()
                      : deadline.isActive() ? QStringLiteral("closed while connecting")
                                            : QStringLiteral("timeout (no answer within %1 s)")
                                                  .arg((timeoutMs + 999) / 1000);
        }
        alive->abort();
        return false;
    }
    return true;
}

}  // namespace orvane
