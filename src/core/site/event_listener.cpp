#include "site/event_listener.h"

#include "common/log.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace orvane {

EventListener::EventListener(QObject* parent) : QObject(parent) {}

EventListener::~EventListener() = default;

bool EventListener::Listen(quint16 port) {
    delete server_;
    server_ = new QTcpServer(this);
    if (!server_->listen(QHostAddress::Any, port)) {
        error_ = server_->errorString();
        qCWarning(lcSite) << "cannot listen for call-backs on port" << port << error_;
        delete server_;
        server_ = nullptr;
        return false;
    }
    error_.clear();
    connect(server_, &QTcpServer::newConnection, this, &EventListener::OnNewConnection);
    return true;
}

bool EventListener::listening() const {
    return server_ && server_->isListening();
}

quint16 EventListener::port() const {
    return server_ ? server_->serverPort() : 0;
}

void EventListener::OnNewConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        ++refused_;
        socket->abort();
        socket->deleteLater();
    }
}

}  // namespace orvane
