#pragma once

#include "site/site_interfaces.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace orvane::test {

// Stands in for the main frame: records posted commands (delivered later, as posting does)
// and every status line.
class FakeMainFrame final : public MainFrameLink {
  public:
    void PostCommand(int commandId) override {
        QTimer::singleShot(0, &context_, [this, commandId] { commands.push_back(commandId); });
    }
    void SetStatusLine(const QString& text) override { statusLines << text; }

    bool Posted(int commandId) const {
        return std::find(commands.begin(), commands.end(), commandId) != commands.end();
    }

    std::vector<int> commands;
    QStringList statusLines;

  private:
    QObject context_;  // posted commands die with the fake
};

// Collects event records.
class FakeEventLog final : public EventRecordSink {
  public:
    void AddEventRecord(std::span<const std::uint8_t> record) override {
        records.emplace_back(record.begin(), record.end());
    }
    std::vector<std::vector<std::uint8_t>> records;
};

}  // namespace orvane::test
