#pragma once

#include <QObject>
#include <QString>

class QTcpServer;

namespace orvane {

// The listening socket on which sites call the client back on an event ("Net"/"ListenPort").
// Until call-backs are taken, every caller is refused at once. GUI thread.
class EventListener : public QObject {
    Q_OBJECT
  public:
    explicit EventListener(QObject* parent = nullptr);
    ~EventListener() override;

    // Listens on every address at port; false (with errorString()) when the port is taken.
    bool Listen(quint16 port);
    bool listening() const;
    quint16 port() const;
    QString errorString() const { return error_; }
    int refused() const { return refused_; }

  private:
    void OnNewConnection();

    QTcpServer* server_ = nullptr;  // a child
    QString error_;
    int refused_ = 0;
};

}  // namespace orvane
