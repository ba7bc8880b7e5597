#pragma once

#include "site/channel_table.h"
#include "site/event_listener.h"
#include "site/identify_client.h"
#include "site/site_connection.h"
#include "site/site_interfaces.h"
#include "store/settings.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QTcpSocket;

namespace orvane {

class ClipRecorder;

// The life of the one site link: connecting by address or by ID code, the reconnect loop
// with its pause, call-backs, teardown, and the ports these use. Windows and dialogs ask it
// and show what it reports; they never hold the connection across a wait.
//
// Two calls wait while the event loop runs (ConnectTo, ResolveIdCode), so anything may
// happen meanwhile, this session's own teardown included. They hold no raw pointer across
// the wait, and a notice of a connection that has since been torn down or restarted
// is dropped. The reconnect loop does not wait: its attempts and pauses run on signals and
// timers, so a modal dialog opened meanwhile neither holds it up nor is held up by it. GUI
// thread only.
class SiteSession : public QObject {
    Q_OBJECT
  public:
    struct Services {
        Settings& settings;
        ChannelTable& channels;
        ChannelWindowHost& host;
        EventRecordSink* events = nullptr;
    };

    enum class State { Closed, Connecting, Connected, Reconnecting };
    enum class ConnectResult {
        Connected,
        Failed,     // the site could not be reached
        Abandoned,  // torn down (Disconnect, Exit) while waiting
    };

    struct Timing {
        int connectTimeoutMs = 10000;
        // Between failed reconnect attempts: an instantly refused connect must not spin a
        // core or flood the site. The event loop keeps running meanwhile.
        int reconnectPauseMs = 1000;
        int tickMs = SiteConnection::kTickMilliseconds;
    };

    explicit SiteSession(Services services, QObject* parent = nullptr);
    ~SiteSession() override;

    void SetTiming(Timing timing) { timing_ = timing; }
    // The clock the channels' feeds are judged by, from the next connection on; tests move
    // one of their own.
    void SetFeedClock(FeedClock clock) { feedClock_ = std::move(clock); }

    // The link itself, for the command-line tools, tests and benchmarks; windows and dialogs
    // go through the calls below, which answer for whatever link is current.
    SiteConnection* connection() const { return connection_.data(); }
    State state() const { return state_; }
    const QString& siteAddress() const { return siteAddress_; }
    bool reconnecting() const { return reconnecting_; }
    // An ID code is being asked for (ResolveIdCode waits): Disconnect abandons it.
    bool lookingUp() const { return lookup_ != nullptr; }

    // Asks the identify servers ("Net": primary, then fallback) for an ID code's address.
    // The event loop runs meanwhile; TearDown (Disconnect, Exit, a call-back) abandons it.
    IdentifyOutcome ResolveIdCode(const std::string& idCode);
    // Tears down the current link, then connects to host on the site port and starts a new
    // connection. The event loop runs while it waits.
    ConnectResult ConnectTo(const QString& host);
    // The client's own teardown: no close handling, no posted command, windows closed.
    void TearDown();
    // The operator's Disconnect: tears down at once (a reconnect loop or an ID code lookup
    // ends with it) and forgets the site, unless it ended a reconnect loop.
    void Disconnect();
    // Ends a running reconnect loop at once, with its link and the kept windows; true when
    // one was running.
    bool StopReconnect();
    // Connects to host without waiting, attempt after attempt with the reconnect loop's
    // pause between, until it works or is stopped (a start that resumes the last run: the
    // site or the network may not be up yet).
    void ConnectInBackground(const QString& host);
    // The link is a site's call-back, not the operator's own.
    bool callBackLink() const { return connection_ && callBackLink_; }
    // Command 32799: starts connecting again to the same site, attempt after attempt with a
    // pause between, until it works or is stopped. Returns at once; the kept windows stay.
    void Reconnect();

    // The current link, as windows and dialogs see it. A dialog remembers linkId() when it
    // opens and acts only while IsActiveLink() still says yes for it: the link it was opened
    // for may have gone (and another come) while it was up.
    std::uint64_t linkId() const { return connection_ ? linkId_ : 0; }
    bool IsActiveLink(std::uint64_t id) const;
    bool linkActive() const;
    // The site has accepted the current link's login (remote control waits for it).
    bool loginAccepted() const { return linkActive() && connection_->loggedIn(); }
    bool channelOpenPermission() const;
    int OpenWindowCount() const;
    const ChannelWindow* fixedWindow() const;
    // The channel numbers of the open windows, in the order their channels came.
    std::vector<std::uint32_t> WindowChannelNumbers() const;
    bool OpenChannel(std::uint32_t channelId);
    void CloseChannel(const ChannelWindow* window, bool sendRequest);
    bool FixChannel(const ChannelWindow* window);
    // The window's channel's latest frame as received; empty without one.
    Block LatestFrame(const ChannelWindow* window) const;
    // The window shows pictures at this size (device pixels) from now on.
    void SetDisplaySize(const ChannelWindow* window, QSize size);
    // Starts recorder on the window's channel with the frames kept since its key frame; it
    // then takes every frame of the channel. False with the reason in error.
    bool StartRecording(const ChannelWindow* window, ClipRecorder& recorder,
                        const QString& recordPath, QString& error);
    // Detaches recorder from its channel and ends its clip.
    void StopRecording(ClipRecorder& recorder);
    bool SendCloseSite();
    bool SendRebootSite();
    bool SendRunProgram(std::string_view commandLine);

    // Opens the call-back listener on "Net"/"ListenPort"; false when the port is taken.
    bool OpenListener();
    EventListener& listener() { return listener_; }
    // Calls-back taken since the start (each replaced the connection).
    int callBacks() const { return callBacks_; }

  signals:
    // What the current connection told, delivered later (queued); LinkBack when a reconnect
    // has a link again.
    void notified(SiteNotice notice);
    // The link linkId() named is gone (torn down), or lost until a reconnect brings it back:
    // what was opened for it goes too.
    void linkGone(std::uint64_t linkId);
    void statusLineChanged(const QString& text);
    void stateChanged(SiteSession::State state);
    // A caller proved itself a site (its call-in is an alarm), at caller (an address), for
    // the event it sent (its name; empty while none came). Said again when the site's event
    // comes after the proof.
    void alarmed(const QString& caller, const QString& eventName);
    // A channel's feed has been dead for a minute, is back after that, or its window closed
    // while it was dead: once each per outage.
    void feedOutage(const orvane::FeedOutage& outage);

  private:
    class ConnectionLink;
    class EventTap;

    void SetState(State state);
    void MakeConnection();
    // A caller proved to be a site: it becomes the connection, in alarm mode.
    void AdoptCallBack(QTcpSocket* socket, Block received);
    // The hosts "Net"/"CallBackFrom" admits now.
    CallerFilter CallersAdmitted();
    void Deliver(std::uint64_t token, SiteNotice notice);
    void TryReconnect();
    void EndAttempt(std::uint64_t token, bool connected);
    void EndReconnect();
    bool Current(std::uint64_t token) const { return token == token_; }

    Services services_;
    Timing timing_;
    FeedClock feedClock_ = &FeedTime::Now;
    QPointer<SiteConnection> connection_;  // owned: deleted by TearDown
    std::unique_ptr<ConnectionLink> link_;
    std::unique_ptr<EventTap> eventTap_;  // the connections' event sink, passing them on
    EventListener listener_;
    QPointer<IdentifyClient> lookup_;  // the lookup ResolveIdCode is waiting on
    QString siteAddress_;
    State state_ = State::Closed;
    bool reconnecting_ = false;
    bool callBackLink_ = false;  // the connection is a site's call-back
    QString caller_;             // the call-back's address
    QString callerEvent_;        // the name in the call-back's event record
    bool alarmTold_ = false;     // alarmed() went out for this call-back
    quint16 reconnectPort_ = 0;
    QTimer attemptDeadline_;
    QTimer reconnectPause_;
    int callBacks_ = 0;
    std::optional<CallerFilter> callerFilter_;
    std::string callerFilterText_;
    // Changes whenever the connection is made, started or torn down: what a posted command
    // carries to say which connection it came from.
    std::uint64_t token_ = 0;
    std::uint64_t linkId_ = 0;  // counts the connections made
};

}  // namespace orvane
