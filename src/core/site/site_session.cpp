#include "site/site_session.h"

#include "common/command_ids.h"
#include "common/event_pump.h"
#include "common/log.h"
#include "site/blocking_connect.h"
#include "site/login_payload.h"

#include <QTcpSocket>

namespace orvane {

// What the current connection uses to reach the main frame: commands go out stamped with
// the connection they came from, and are delivered only while it is still the current one.
class SiteSession::ConnectionLink final : public MainFrameLink {
  public:
    explicit ConnectionLink(SiteSession& session) : session_(session) {}

    void PostCommand(int commandId) override {
        // Queued on the session: dropped with it if it goes first.
        QMetaObject::invokeMethod(
            &session_,
            [session = &session_, token = session_.token_, commandId] {
                session->Deliver(token, commandId);
            },
            Qt::QueuedConnection);
    }
    void SetStatusLine(const QString& text) override { emit session_.statusLineChanged(text); }

  private:
    SiteSession& session_;
};

SiteSession::SiteSession(Services services, QObject* parent)
    : QObject(parent), services_(services), link_(std::make_unique<ConnectionLink>(*this)) {
    listener_.SetCallBackHandling(
        [this] {
            return BuildAlarmGreeting(services_.settings.LoadCall(),
                                      CodePage(services_.settings.LoadNet().codePage));
        },
        [this](QTcpSocket* socket, Block received) { AdoptCallBack(socket, std::move(received)); });
}

SiteSession::~SiteSession() {
    stopReconnect_ = true;
    // The connection tells the link and the host as it goes: both must still be there.
    delete connection_.data();
}

void SiteSession::SetState(State state) {
    if (state_ != state) {
        state_ = state;
        emit stateChanged(state);
    }
}

void SiteSession::Deliver(std::uint64_t token, int commandId) {
    if (!Current(token) || !connection_) {
        qCDebug(lcSite) << "command" << commandId << "of a connection that is gone: dropped";
        return;
    }
    emit commandPosted(commandId);
}

void SiteSession::MakeConnection() {
    ++token_;
    connection_ = new SiteConnection(
        SiteConnection::Services{services_.channels, services_.host, *link_, services_.events},
        services_.settings.LoadCall(), this);
    connection_->SetTickInterval(timing_.tickMs);
    connection_->SetCodePage(CodePage(services_.settings.LoadNet().codePage));
}

IdentifyOutcome SiteSession::ResolveIdCode(const std::string& idCode) {
    IdentifyClient client;
    return ResolveSiteAddress(client, idCode, services_.settings.LoadNet());
}

SiteSession::ConnectResult SiteSession::ConnectTo(const QString& host) {
    TearDown();
    MakeConnection();
    const std::uint64_t token = token_;
    SetState(State::Connecting);
    const quint16 port = services_.settings.LoadNet().sitePort;
    const bool connected =
        ConnectBlocking(connection_->socket(), host, port, timing_.connectTimeoutMs);
    if (!Current(token) || !connection_) {
        return ConnectResult::Abandoned;
    }
    if (!connected) {
        SetState(State::Closed);
        return ConnectResult::Failed;
    }
    siteAddress_ = host;
    ++token_;
    connection_->Start(false);
    SetState(State::Connected);
    return ConnectResult::Connected;
}

void SiteSession::TearDown() {
    ++token_;
    if (SiteConnection* connection = connection_.data()) {
        connection_.clear();
        // Destroyed now, not later: its windows close and its socket goes before anything
        // else runs, so nothing can reach a half-dead link.
        delete connection;
    }
    SetState(State::Closed);
}

void SiteSession::Disconnect() {
    StopReconnect();
    if (!reconnecting_) {
        TearDown();
        siteAddress_.clear();
    }
}

bool SiteSession::StopReconnect() {
    stopReconnect_ = true;
    if (reconnecting_ && connection_) {
        // An attempt in progress ends now, not at its deadline: the loop waits on this socket.
        connection_->RecreateSocket();
    }
    return reconnecting_;
}

void SiteSession::Reconnect() {
    if (!connection_ || reconnecting_) {
        return;
    }
    if (siteAddress_.isEmpty()) {
        // A site's call-back dropped before the operator ever connected: there is no site
        // of the operator's to go back to, so the link ends as without ReLink.
        TearDown();
        return;
    }
    reconnecting_ = true;
    stopReconnect_ = false;
    SetState(State::Reconnecting);
    connection_->RecreateSocket();
    const QPointer<SiteConnection> reconnecting = connection_;
    const quint16 port = services_.settings.LoadNet().sitePort;
    while (!stopReconnect_ && connection_) {
        const std::uint64_t token = token_;
        const bool connected =
            ConnectBlocking(connection_->socket(), siteAddress_, port, timing_.connectTimeoutMs);
        if (!Current(token) || !connection_) {
            break;  // torn down while waiting
        }
        if (connected) {
            ++token_;
            connection_->SetCallSettings(services_.settings.LoadCall());
            connection_->Start(false);
            reconnecting_ = false;
            SetState(State::Connected);
            return;
        }
        PumpEventsFor(timing_.reconnectPauseMs, [this] { return stopReconnect_; });
    }
    reconnecting_ = false;
    if (connection_ && connection_ != reconnecting) {
        return;  // a site's call-back took over meanwhile: its link stays
    }
    TearDown();
}

void SiteSession::AdoptCallBack(QTcpSocket* socket, Block received) {
    // A call-back always replaces the link the operator had, with its windows; a reconnect
    // loop or a connect still waiting ends without touching the new one.
    stopReconnect_ = true;
    TearDown();
    MakeConnection();
    connection_->AdoptSocket(socket);
    ++token_;
    connection_->StartCalledBack(std::move(received));
    ++callBacks_;
    SetState(State::Connected);
}

bool SiteSession::OpenListener() {
    return listener_.Listen(services_.settings.LoadNet().listenPort);
}

}  // namespace orvane
