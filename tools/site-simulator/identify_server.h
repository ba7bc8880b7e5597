#pragma once

#include "wire/frame_assembler.h"

#include <QHostAddress>
#include <QObject>

#include <map>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace orvane::sim {

// An identify server: answers an ID code with the site's IPv4 address (IdentifyAddress and
// IdentifyDone in one chunk), or IdentifyUnknown. Silent mode accepts and never answers.
// A refusing server is simply one that is not listening.
class IdentifyServer : public QObject {
    Q_OBJECT
  public:
    explicit IdentifyServer(QObject* parent = nullptr);

    bool Listen(const QHostAddress& address, quint16 port);
    quint16 port() const;

    // address as dotted IPv4 text
    void AddSite(const std::string& idCode, const QString& address) { sites_[idCode] = address; }
    void SetSilent(bool silent) { silent_ = silent; }
    const std::vector<std::string>& queries() const { return queries_; }

  private:
    void Answer(QTcpSocket* socket, const std::string& idCode);

    QTcpServer* server_ = nullptr;
    std::map<std::string, QString> sites_;
    std::vector<std::string> queries_;
    bool silent_ = false;
};

}  // namespace orvane::sim
