#pragma once

#include <QString>

class QTcpSocket;

namespace orvane {

// Connects and waits for the outcome while the event loop keeps running (a nested loop), so
// windows repaint and commands are served meanwhile. True when connected; false as well when
// the socket was destroyed during the wait (then it is not touched again). On failure, reason
// (when given) says why: "timeout" when nothing answered in time, else the socket's error.
bool ConnectBlocking(QTcpSocket& socket, const QString& host, quint16 port, int timeoutMs,
                     QString* reason = nullptr);

}  // namespace orvane
