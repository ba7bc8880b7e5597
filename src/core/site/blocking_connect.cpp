#include "site/blocking_connect.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

namespace orvane {

bool ConnectBlocking(QTcpSocket& socket, const QString& host, quint16 port, int timeoutMs) {
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.abort();
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket.connectToHost(host, port);
    if (socket.state() != QAbstractSocket::ConnectedState &&
        socket.state() != QAbstractSocket::UnconnectedState) {
        deadline.start(timeoutMs);
        loop.exec();
    }
    if (socket.state() != QAbstractSocket::ConnectedState) {
        socket.abort();
        return false;
    }
    return true;
}

}  // namespace orvane
