#pragma once

#include "site/site_interfaces.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace orvane {
class SiteConnection;
}  // namespace orvane

namespace orvane::cli {

// Takes a connection's notices and hands them on once the dispatch that raised them is
// over, as the session does for the program.
class LinkNotices final : public ConnectionObserver {
  public:
    std::function<void(SiteNotice)> onNotice;
    void Notify(SiteNotice notice) override {
        QTimer::singleShot(0, &context_, [this, notice] {
            if (onNotice) {
                onNotice(notice);
            }
        });
    }
    void SetStatusLine(const QString&) override {}

  private:
    QObject context_;  // notices still posted die with it
};

// Why a notice ends a command's run; empty when it does not.
QString FailureFor(SiteNotice notice);

// Why a run timed out before the first frame: a listener that takes the connection but
// never answers the login is another fault than a site that took it and sends nothing.
QString TimeoutBeforeFrames(const SiteConnection& connection);

}  // namespace orvane::cli
