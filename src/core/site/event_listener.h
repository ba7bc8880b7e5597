#pragma once

#include "site/caller_filter.h"
#include "wire/message_builder.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace orvane {

class CallBackProbe;

// The listening socket on which sites call the client back on an event ("Net"/"ListenPort").
// A caller is greeted and must prove to be a site (CallBackProbe) before it is handed on:
// until then the operator's connection stays as it is. Without call-back handling every
// caller is refused at once. GUI thread.
class EventListener : public QObject {
    Q_OBJECT
  public:
    // The bytes that greet a caller (the alarm login and the event query), built when it calls.
    using Greeting = std::function<Block()>;
    // Takes a proven caller's socket (now without parent) and the bytes it has sent so far.
    using Adopt = std::function<void(QTcpSocket* socket, Block received)>;

    // Callers waiting to prove themselves at once; a newer one makes the oldest give up (a
    // port scan must not pile up sockets and timers, nor keep a site out).
    static constexpr int kMaxPendingCallers = 8;
    static constexpr int kBacklog = 5;

    explicit EventListener(QObject* parent = nullptr);
    ~EventListener() override;

    void SetCallBackHandling(Greeting greeting, Adopt adopt);
    // Who may call, asked for each caller before it is greeted; without it anyone may.
    using Admission = std::function<CallerFilter()>;
    void SetAdmission(Admission admission) { admission_ = std::move(admission); }
    void SetProofTimeout(int milliseconds) { proofTimeoutMs_ = milliseconds; }

    // Listens on every address at port; false (with errorString()) when the port is taken.
    bool Listen(quint16 port);
    bool listening() const;
    quint16 port() const;
    QString errorString() const { return error_; }
    // Callers turned away: refused at once (not taking call-backs, or from a host not
    // admitted) or failed to prove themselves.
    int refused() const { return refused_; }
    int pendingCallers() const { return static_cast<int>(pending_.size()); }

  private:
    void OnNewConnection();
    void Refuse(QTcpSocket* socket);
    void Forget(CallBackProbe* probe);

    QTcpServer* server_ = nullptr;  // a child
    Greeting greeting_;
    Adopt adopt_;
    Admission admission_;
    QString error_;
    int refused_ = 0;
    std::vector<CallBackProbe*> pending_;  // children, oldest first
    int proofTimeoutMs_;
};

}  // namespace orvane
