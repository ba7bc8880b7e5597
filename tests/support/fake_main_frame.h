#pragma once

#include "site/site_interfaces.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace orvane::test {

// Stands in for the main frame: records the connection's notices (delivered later, as the
// session delivers them) and every status line.
class FakeMainFrame final : public ConnectionObserver {
  public:
    void Notify(SiteNotice notice) override {
        QTimer::singleShot(0, &context_, [this, notice] { notices.push_back(notice); });
    }
    void SetStatusLine(const QString& text) override { statusLines << text; }

    bool Noticed(SiteNotice notice) const {
        return std::find(notices.begin(), notices.end(), notice) != notices.end();
    }

    std::vector<SiteNotice> notices;
    QStringList statusLines;

  private:
    QObject context_;  // posted commands die with the fake
};

class FakeEventLog final : public EventRecordSink {
  public:
    void AddEventRecord(std::span<const std::uint8_t> record) override {
        records.emplace_back(record.begin(), record.end());
    }
    std::vector<std::vector<std::uint8_t>> records;
};

}  // namespace orvane::test
