#pragma once

#include "site/site_interfaces.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace orvane {

// A channel window without a screen: keeps the latest picture and counts what it receives.
// Used by the command-line probe, the tests and the benchmarks.
class HeadlessChannelWindow : public QObject, public ChannelWindow {
    Q_OBJECT
  public:
    explicit HeadlessChannelWindow(const ChannelWindowParams& params) : params_(params) {}

    QObject* object() override { return this; }
    void DrawPicture(const DecodedPicture& picture) override;
    void MarkStopped() override { stopped_ = true; }
    void MarkFeed(const QString& mark) override { feedMark_ = mark; }
    void MarkReduced(bool reduced) override { reduced_ = reduced; }
    FrameSink* StartAlarmActions() override {
        alarmActions_ = true;
        return nullptr;
    }
    void CloseWindow() override;

    const ChannelWindowParams& params() const { return params_; }
    bool IsStopped() const { return stopped_; }
    const QString& feedMark() const { return feedMark_; }
    bool markedReduced() const { return reduced_; }
    const QImage& firstPicture() const { return firstPicture_; }
    const QImage& lastPicture() const { return lastPicture_; }
    int picturesDrawn() const { return picturesDrawn_; }
    bool alarmActionsStarted() const { return alarmActions_; }
    bool closed() const { return closed_; }
    // Milliseconds from the first drawn picture to the latest one.
    qint64 firstToLastDrawMs() const { return lastDrawAtMs_; }

  signals:
    void pictureDrawn(int count);

  private:
    ChannelWindowParams params_;
    bool stopped_ = false;
    bool alarmActions_ = false;
    bool closed_ = false;
    bool reduced_ = false;
    QString feedMark_;
    QImage firstPicture_;
    QImage lastPicture_;
    int picturesDrawn_ = 0;
    QElapsedTimer firstDraw_;
    qint64 lastDrawAtMs_ = 0;
};

// Makes HeadlessChannelWindows and remembers them; counts window changes and alarms.
class HeadlessChannelHost : public ChannelWindowHost {
  public:
    HeadlessChannelHost() = default;

    ChannelWindow* CreateChannelWindow(const ChannelWindowParams& params) override;
    void ChannelWindowsChanged() override { ++windowChanges_; }
    void PlayAlarm() override {
        ++alarms_;
        if (onAlarm) {
            onAlarm();
        }
    }

    // Windows in creation order; closed ones stay listed (closed() tells).
    const std::vector<std::unique_ptr<HeadlessChannelWindow>>& windows() const { return windows_; }
    HeadlessChannelWindow* WindowFor(std::uint32_t channelNumber) const;
    int windowChanges() const { return windowChanges_; }
    int alarms() const { return alarms_; }
    void SetRefuseWindows(bool refuse) { refuse_ = refuse; }

    // Called for every window made, for observers such as the probe, and every alarm.
    std::function<void(HeadlessChannelWindow*)> onWindowCreated;
    std::function<void()> onAlarm;

  private:
    std::vector<std::unique_ptr<HeadlessChannelWindow>> windows_;
    int windowChanges_ = 0;
    int alarms_ = 0;
    bool refuse_ = false;
};

}  // namespace orvane
