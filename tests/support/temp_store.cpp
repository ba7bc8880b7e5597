#include "support/temp_store.h"

#include "store/settings.h"
#include "store/store_location.h"

#include <QTcpServer>

#include <fstream>
#include <iterator>
#include <sstream>

namespace orvane::test {

TempStore::TempStore() : path_(dir_.path().toStdString() + "/registry.sqlite3") {
    hadPrevious_ = qEnvironmentVariableIsSet(kRegistryEnvVar);
    previous_ = qgetenv(kRegistryEnvVar);
    qputenv(kRegistryEnvVar, QByteArray::fromStdString(path_));
}

TempStore::~TempStore() {
    if (hadPrevious_) {
        qputenv(kRegistryEnvVar, previous_);
    } else {
        qunsetenv(kRegistryEnvVar);
    }
}

void PrepareSiteStore(const std::string& path, quint16 sitePort, int reLink, quint16 listenPort) {
    if (listenPort == 0) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        listenPort = probe.serverPort();
    }
    auto opened = OpenSettings(path);
    opened.settings.WriteProfileInt("Net", "SitePort", sitePort);
    opened.settings.WriteProfileInt("Net", "ListenPort", listenPort);
    CallSettings call;
    call.user = "admin";
    call.password = "admin";
    call.dial = 0x7F000001;
    call.reLink = reLink;
    opened.settings.SaveCall(call);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace orvane::test
