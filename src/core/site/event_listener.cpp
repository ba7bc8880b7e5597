#include "site/event_listener.h"

#include "common/log.h"
#include "site/call_back_probe.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

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

void EventListener::Forget(CallBackProbe* probe) {
    pending_.erase(std::remove(pending_.begin(), pending_.end(), probe), pending_.end());
}

void EventListener::Refuse(QTcpSocket* socket) {
    ++refused_;
    socket->abort();
    socket->deleteLater();
}

void EventListener::OnNewConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (!adopt_ || !greeting_) {
            qCInfo(lcSite) << "call-back refused: not taking call-backs";
            Refuse(socket);
            continue;
        }
        // Before the greeting: a host that may not call learns nothing, not even that a
        // client listens here, and costs no probe.
        if (admission_ && !admission_().Admits(socket->peerAddress())) {
            qCWarning(lcSite).noquote() << "call-back from" << socket->peerAddress().toString()
                                        << "refused: not a host \"CallBackFrom\" admits";
            Refuse(socket);
            continue;
        }
        if (pending_.size() >= kMaxPendingCallers) {
            // A site answers the greeting within moments; callers that have kept quiet longest
            // make room, so idle connections can never lock a real site's alarm out.
            pending_.front()->Abandon(QStringLiteral("crowded out by a newer caller"));
        }
        auto* probe = new CallBackProbe(socket, this);
        pending_.push_back(probe);
        connect(probe, &CallBackProbe::failed, this, [this, probe] {
            Forget(probe);
            ++refused_;
            probe->deleteLater();
        });
        connect(probe, &CallBackProbe::proved, this, [this, probe] {
            Forget(probe);
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
