#pragma once

#include <QHostAddress>
#include <QTcpServer>

namespace orvane::bench {

// A port nobody listens on now, for the call-back listener: 0 reads as unset, which gives
// the usual port, and another Orvane on this machine (a test, a soak) may hold that.
inline quint16 FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

}  // namespace orvane::bench
