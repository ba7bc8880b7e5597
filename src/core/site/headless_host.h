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
    bool IsRecording() const override { return recording_; }
    void RecordFrame(std::span<const std::uint8_t> packedFrame) override;
    void StoreFrame(std::span<const std::uint8_t> packedFrame) override;
    void DrawPicture(const DecodedPicture& picture) override;
    void MarkStopped() override { stopped_ = true; }
    bool IsStopped() const override { return stopped_; }
    void StartAlarmActions() override { alarmActions_ = true; }
    void CloseWindow() override;

    const ChannelWindowParams& params() const { return params_; }
    void SetRecording(bool recording) { recording_ = recording; }
    const QImage& firstPicture() const { return firstPicture_; }
    const QImage& lastPicture() const { return lastPicture_; }
    const Block& lastFrame() const { return lastFrame_; }
    int picturesDrawn() const { return picturesDrawn_; }
    int framesStored() const { return framesStored_; }
    int framesRecorded() const { return framesRecorded_; }
    bool alarmActionsStarted() const { return alarmActions_; }
    bool closed() const { return closed_; }
    // Milliseconds from the first drawn picture to the latest one.
    qint64 firstToLastDrawMs() const { return lastDrawAtMs_; }

  signals:
    void pictureDrawn(int count);

  private:
    ChannelWindowParams params_;
    bool recording_ = false;
    bool stopped_ = false;
    bool alarmActions_ = false;
    bool closed_ = false;
    QImage firstPicture_;
    QImage lastPicture_;
    Block lastFrame_;
    int picturesDrawn_ = 0;
    int framesStored_ = 0;
    int framesRecorded_ = 0;
    QElapsedTimer firstDraw_;
    qint64 lastDrawAtMs_ = 0;
};

// Makes HeadlessChannelWindows and remembers them; counts arrangements and alarms.
class HeadlessChannelHost : public ChannelWindowHost {
  public:
    explicit HeadlessChannelHost(QSize videoArea = QSize(1024, 700)) : videoArea_(videoArea) {}

    ChannelWindow* CreateChannelWindow(const ChannelWindowParams& params) override;
    QSize VideoAreaSize() const override { return videoArea_; }
    void ArrangeVideoWindows() override { ++arrangements_; }
    void PlayAlarm() override { ++alarms_; }

    // Windows in creation order; closed ones stay listed (closed() tells).
    const std::vector<std::unique_ptr<HeadlessChannelWindow>>& windows() const { return windows_; }
    HeadlessChannelWindow* WindowFor(std::uint32_t channelNumber) const;
    int arrangements() const { return arrangements_; }
    int alarms() const { return alarms_; }
    void SetRefuseWindows(bool refuse) { refuse_ = refuse; }

    // Called for every window made, for observers such as the probe.
    std::function<void(HeadlessChannelWindow*)> onWindowCreated;

  private:
    QSize videoArea_;
    std::vector<std::unique_ptr<HeadlessChannelWindow>> windows_;
    int arrangements_ = 0;
    int alarms_ = 0;
    bool refuse_ = false;
};

}  // namespace orvane
