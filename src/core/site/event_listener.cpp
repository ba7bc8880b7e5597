#include "site/event_listener.h"

#include "common/log.h"
#include "site/call_back_probe.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace orvane {

EventListener::EventListener(QObject* parent)
    : QObject(parent), proofTimeoutMs_(CallBackProbe::kProofTimeoutMs) {}

EventListener::~EventListener() = default;

void EventListener::SetCallBackHandling(Greeting greeting, Adopt adopt) {
    greeting_ = std::move(greeting);
    adopt_ = std::move(adopt);
}

bool EventListener::Listen(quint16 port) {
    delete server_;
    server_ = new QTcpServer(this);
    server_->setMaxPendingConnections(kBacklog);
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

void EventListener::Refuse(QTcpSocket* socket) {
    ++refused_;
    socket->abort();
    socket->deleteLater();
}

void EventListener::OnNewConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (!adopt_ || !greeting_ || pending_ >= kMaxPendingCallers) {
            Refuse(socket);
            continue;
        }
        auto* probe = new CallBackProbe(socket, this);
        ++pending_;
        connect(probe, &CallBackProbe::failed, this, [this, probe] {
            --pending_;
            ++refused_;
            probe->deleteLater();
        });
        connect(probe, &CallBackProbe::proved, this, [this, probe] {
            --pending_;
            QTcpSocket* caller = probe->TakeSocket();
            Block received = probe->received();
            qCInfo(lcSite) << "call-back from" << probe->peer() << "taken";
            probe->deleteLater();
            adopt_(caller, std::move(received));
        });
        probe->Begin(greeting_(), proofTimeoutMs_);
    }
}

}  // namespace orvane
