#include "site/site_session.h"

#include "common/code_page.h"
#include "common/fixed_text.h"
#include "common/log.h"
#include "media/clip_recorder.h"
#include "site/blocking_connect.h"
#include "site/login_payload.h"
#include "store/event_log.h"

#include <QTcpSocket>

#include <algorithm>

namespace orvane {

// What the current connection tells the session: notices go out stamped with the
// connection they came from, and are delivered only while it is still the current one.
class SiteSession::ConnectionLink final : public ConnectionObserver {
  public:
    explicit ConnectionLink(SiteSession& session) : session_(session) {}

    void Notify(SiteNotice notice) override {
        // Queued on the session: dropped with it if it goes first.
        QMetaObject::invokeMethod(
            &session_,
            [session = &session_, token = session_.token_, notice] {
                session->Deliver(token, notice);
            },
            Qt::QueuedConnection);
    }
    void SetStatusLine(const QString& text) override { emit session_.statusLineChanged(text); }

  private:
    SiteSession& session_;
};

// Where the connections' event records go: on to the event log, and for a call-back its
// event's name to the alarm.
class SiteSession::EventTap final : public EventRecordSink {
  public:
    explicit EventTap(SiteSession& session) : session_(session) {}

    void AddEventRecord(std::span<const std::uint8_t> record) override {
        if (session_.services_.events) {
            session_.services_.events->AddEventRecord(record);
        }
        if (!session_.callBackLink_) {
            return;
        }
        const auto field = EventLog::kNameField;
        const std::span<const std::uint8_t> bytes =
            record.subspan(0, std::min(record.size(), field.size));
        const std::string_view text = TextBeforeNul(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        session_.callerEvent_ = CodePage(session_.services_.settings.LoadNet().codePage)
                                    .Decode(std::span(text.data(), text.size()))
                                    .trimmed();
        if (session_.alarmTold_) {
            emit session_.alarmed(session_.caller_, session_.callerEvent_);
        }
    }

  private:
    SiteSession& session_;
};

SiteSession::SiteSession(Services services, QObject* parent)
    : QObject(parent),
      services_(services),
      link_(std::make_unique<ConnectionLink>(*this)),
      eventTap_(std::make_unique<EventTap>(*this)) {
    attemptDeadline_.setSingleShot(true);
    reconnectPause_.setSingleShot(true);
    connect(&reconnectPause_, &QTimer::timeout, this, &SiteSession::TryReconnect);
    connect(&attemptDeadline_, &QTimer::timeout, this, [this] { EndAttempt(token_, false); });
    listener_.SetCallBackHandling(
        [this] {
            return BuildAlarmGreeting(services_.settings.LoadCall(),
                                      CodePage(services_.settings.LoadNet().codePage));
        },
        [this](QTcpSocket* socket, Block received) { AdoptCallBack(socket, std::move(received)); });
    listener_.SetAdmission([this] { return CallersAdmitted(); });
}

CallerFilter SiteSession::CallersAdmitted() {
    // Read for each caller, so a change in Options counts from the next call on; parsed
    // again, and its faults logged, only when the text has changed.
    const std::string text = services_.settings.LoadNet().callBackFrom;
    if (!callerFilter_ || text != callerFilterText_) {
        CallerFilter::Parsed parsed = CallerFilter::Parse(text);
        for (const std::string& entry : parsed.invalid) {
            qCWarning(lcSite) << "\"CallBackFrom\" entry is not an address or a range:"
                              << entry.c_str();
        }
        if (!parsed.filter.admitsAnyone() && parsed.filter.ranges().empty()) {
            qCWarning(lcSite) << "\"CallBackFrom\" has no valid entry: no site may call back";
        }
        callerFilter_ = std::move(parsed.filter);
        callerFilterText_ = text;
    }
    return *callerFilter_;
}

SiteSession::~SiteSession() {
    EndReconnect();
    // The connection tells the link and the host as it goes: both must still be there.
    delete connection_.data();
}

void SiteSession::SetState(State state) {
    if (state_ != state) {
        state_ = state;
        emit stateChanged(state);
    }
}

void SiteSession::Deliver(std::uint64_t token, SiteNotice notice) {
    if (!Current(token) || !connection_) {
        qCDebug(lcSite) << "notice" << SiteNoticeName(notice)
                        << "of a connection that is gone: dropped";
        return;
    }
    emit notified(notice);
}

void SiteSession::MakeConnection() {
    ++token_;
    ++linkId_;
    callBackLink_ = false;
    connection_ = new SiteConnection(
        SiteConnection::Services{services_.channels, services_.host, *link_, eventTap_.get()},
        services_.settings.LoadCall(), this);
    connection_->SetTickInterval(timing_.tickMs);
    connection_->channels().SetClock(feedClock_);
    connect(&connection_->channels(), &ChannelSet::feedOutage, this, &SiteSession::feedOutage);
    connection_->SetCodePage(CodePage(services_.settings.LoadNet().codePage));
}

IdentifyOutcome SiteSession::ResolveIdCode(const std::string& idCode) {
    IdentifyClient client;
    lookup_ = &client;
    emit stateChanged(state_);  // busy now: the commands' states follow
    IdentifyOutcome outcome = ResolveSiteAddress(client, idCode, services_.settings.LoadNet());
    lookup_ = nullptr;
    emit stateChanged(state_);
    return outcome;
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
    qCInfo(lcSite) << "connected to" << host << "port" << port;
    siteAddress_ = host;
    ++token_;
    connection_->Start(false);
    SetState(State::Connected);
    return ConnectResult::Connected;
}

void SiteSession::TearDown() {
    EndReconnect();
    // A lookup still asking ends too: Disconnect, Exit or a call-back has made it moot.
    if (lookup_) {
        lookup_->Abandon();
    }
    ++token_;
    if (SiteConnection* connection = connection_.data()) {
        connection_.clear();
        // Destroyed now, not later: its windows close and its socket goes before anything
        // else runs, so nothing can reach a half-dead link.
        delete connection;
        emit linkGone(linkId_);
    }
    SetState(State::Closed);
}

void SiteSession::Disconnect() {
    const bool wasReconnecting = reconnecting_;
    TearDown();  // a reconnect loop ends with it
    // A loop ended this way keeps the operator's site: a site's call-back that drops later
    // still goes back to it.
    if (!wasReconnecting) {
        siteAddress_.clear();
    }
}

bool SiteSession::StopReconnect() {
    if (!reconnecting_) {
        return false;
    }
    // The attempt in progress ends now, not at its deadline, and the kept windows go.
    TearDown();
    return true;
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
    if (callBackLink_) {
        // The operator's site is another site than the one that called: it gets a
        // connection of its own, so that nothing asked of the caller's link (its channel
        // dialog, its remote control) reaches the operator's site.
        TearDown();
        MakeConnection();
    }
    reconnecting_ = true;
    reconnectPort_ = services_.settings.LoadNet().sitePort;
    SetState(State::Reconnecting);
    // The link the dialogs were opened for is lost, though its windows stay for the next.
    emit linkGone(linkId_);
    TryReconnect();
}

void SiteSession::ConnectInBackground(const QString& host) {
    TearDown();
    MakeConnection();
    siteAddress_ = host;
    reconnecting_ = true;
    reconnectPort_ = services_.settings.LoadNet().sitePort;
    SetState(State::Reconnecting);
    TryReconnect();
}

// One attempt, without waiting here: the event loop goes on as it was, so a dialog opened
// meanwhile neither holds the reconnect up nor is held up by it.
void SiteSession::TryReconnect() {
    if (!reconnecting_ || !connection_) {
        return;
    }
    connection_->RecreateSocket();
    QTcpSocket* socket = &connection_->socket();
    const std::uint64_t token = token_;
    connect(socket, &QTcpSocket::connected, this, [this, token] { EndAttempt(token, true); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, token] { EndAttempt(token, false); });
    attemptDeadline_.start(timing_.connectTimeoutMs);
    socket->connectToHost(siteAddress_, reconnectPort_);
}

void SiteSession::EndAttempt(std::uint64_t token, bool connected) {
    if (!reconnecting_ || !Current(token) || !connection_) {
        return;  // an attempt of a loop that has ended, or of another connection
    }
    attemptDeadline_.stop();
    QTcpSocket* socket = &connection_->socket();
    socket->disconnect(this);
    if (connected && socket->state() == QAbstractSocket::ConnectedState) {
        qCInfo(lcSite) << "reconnected to" << siteAddress_ << "port" << reconnectPort_;
        EndReconnect();
        ++token_;
        connection_->SetCallSettings(services_.settings.LoadCall());
        connection_->Start(false);
        SetState(State::Connected);
        emit notified(SiteNotice::LinkBack);
        return;
    }
    socket->abort();
    // An instantly refused connect must not spin a core or flood the site.
    reconnectPause_.start(timing_.reconnectPauseMs);
}

void SiteSession::EndReconnect() {
    const bool wasReconnecting = reconnecting_;
    reconnecting_ = false;
    attemptDeadline_.stop();
    reconnectPause_.stop();
    // Only an attempt connects the socket's signals to the session.
    if (wasReconnecting && connection_ && connection_->hasSocket()) {
        connection_->socket().disconnect(this);
    }
}

void SiteSession::AdoptCallBack(QTcpSocket* socket, Block received) {
    // A call-back always replaces the link the operator had, with its windows; a reconnect
    // loop or a connect still waiting ends without touching the new one.
    TearDown();
    MakeConnection();
    bool isIpv4 = false;
    const quint32 v4 = socket->peerAddress().toIPv4Address(&isIpv4);
    caller_ = isIpv4 ? QHostAddress(v4).toString() : socket->peerAddress().toString();
    callerEvent_.clear();
    alarmTold_ = false;
    connection_->AdoptSocket(socket);
    callBackLink_ = true;
    ++token_;
    const QPointer<SiteConnection> connection = connection_;
    connection_->StartCalledBack(std::move(received));
    ++callBacks_;
    SetState(State::Connected);
    // The alarm stands from the call-in, whatever the site goes on to send; its event, read
    // with the proof, is usually here already.
    if (connection_ == connection) {
        alarmTold_ = true;
        emit alarmed(caller_, callerEvent_);
    }
}

bool SiteSession::linkActive() const {
    return connection_ && connection_->active();
}

bool SiteSession::IsActiveLink(std::uint64_t id) const {
    return id != 0 && id == linkId() && linkActive();
}

bool SiteSession::channelOpenPermission() const {
    // What the last login allowed counts only while that login holds.
    return connection_ && connection_->active() && connection_->loggedIn() &&
           connection_->channelOpenPermission();
}

int SiteSession::OpenWindowCount() const {
    return connection_ ? connection_->OpenWindowCount() : 0;
}

const ChannelWindow* SiteSession::fixedWindow() const {
    return connection_ ? connection_->fixedWindow() : nullptr;
}

std::vector<std::uint32_t> SiteSession::WindowChannelNumbers() const {
    return connection_ ? connection_->channels().WindowChannelNumbers()
                       : std::vector<std::uint32_t>{};
}

bool SiteSession::OpenChannel(std::uint32_t channelId) {
    return connection_ && connection_->active() && connection_->OpenChannel(channelId);
}

void SiteSession::CloseChannel(const ChannelWindow* window, bool sendRequest) {
    if (connection_) {
        connection_->CloseChannel(window, sendRequest);
    }
}

bool SiteSession::FixChannel(const ChannelWindow* window) {
    return connection_ && connection_->FixChannel(window);
}

void SiteSession::SetDisplaySize(const ChannelWindow* window, QSize size) {
    if (connection_) {
        connection_->channels().SetDisplaySize(window, size);
    }
}

Block SiteSession::LatestFrame(const ChannelWindow* window) const {
    return connection_ ? connection_->channels().LatestFrame(window) : Block();
}

bool SiteSession::StartRecording(const ChannelWindow* window, ClipRecorder& recorder,
                                 const QString& recordPath, QString& error) {
    if (!connection_) {
        return recorder.StartRecording(recordPath, {}, error);
    }
    return connection_->channels().StartRecording(window, recorder, recordPath, error);
}

void SiteSession::StopRecording(ClipRecorder& recorder) {
    if (connection_) {
        connection_->channels().StopRecording(recorder);
    } else {
        recorder.StopRecording();
    }
}

bool SiteSession::SendCloseSite() {
    return connection_ && connection_->SendCloseSite();
}

bool SiteSession::SendRebootSite() {
    return connection_ && connection_->SendRebootSite();
}

bool SiteSession::SendRunProgram(std::string_view commandLine) {
    return connection_ && connection_->SendRunProgram(commandLine);
}

bool SiteSession::OpenListener() {
    CallersAdmitted();  // a faulty "CallBackFrom" is logged at the start, not at a call
    return listener_.Listen(services_.settings.LoadNet().listenPort);
}

}  // namespace orvane
