#pragma once

#include "wire/frame_assembler.h"
#include "wire/message_builder.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpSocket;

namespace orvane {

// A caller on the listening port before it is trusted. A site that calls back waits for the
// client to speak first, so the probe greets it with the alarm login and reads the answer.
// Only a caller whose first complete message is a valid site message proves to be a site;
// anything else (a port scan, a stray HTTP request, junk, silence until the deadline, a closed
// link) fails, and the operator's connection is never touched for it.
//
// GUI thread. The probe owns the socket until TakeSocket(); it never deletes itself.
class CallBackProbe : public QObject {
    Q_OBJECT
  public:
    static constexpr int kProofTimeoutMs = 10000;

    // Takes the socket as a child.
    explicit CallBackProbe(QTcpSocket* socket, QObject* parent = nullptr);
    ~CallBackProbe() override;

    // Sends greeting (the alarm Login and EventQuery) and waits at most timeoutMs for the
    // caller's first message. proved() or failed() follows exactly once, possibly from here.
    void Begin(const Block& greeting, int timeoutMs);

    // Every byte read from the caller so far, in order: its new owner dispatches them first.
    const Block& received() const { return received_; }
    // Gives up on the caller now: failed() follows, unless it has already decided.
    void Abandon(const QString& reason) { Fail(reason); }
    // Hands the socket over (no longer a child, no signal of this probe left on it).
    QTcpSocket* TakeSocket();
    QString peer() const { return peer_; }

  signals:
    void proved();
    void failed(const QString& reason);

  private:
    void OnReadyRead();
    void Fail(const QString& reason);

    QPointer<QTcpSocket> socket_;
    QTimer deadline_;
    FrameAssembler assembler_;
    Block received_;
    QString peer_;
    bool decided_ = false;
};

}  // namespace orvane
