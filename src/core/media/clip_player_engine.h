#pragma once

#include "media/clip_playback.h"
#include "store/clip_index.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

namespace orvane {

// The playback speeds an operator picks on the speed slider: the slider shows the row, the
// label is shown beside it, the rate is what the graph plays at. The labels of rows 1 to 4
// are the ones operators know, not the rates.
struct RateRow {
    double rate;
    const char* label;
};
inline constexpr std::array<RateRow, 20> kRateTable{
    {{0.1, "/10"},  {0.2, "/8"},   {0.4, "/6"},   {0.6, "/4"},   {0.8, "/2"},
     {1.0, "x1"},   {1.5, "x1.5"}, {2.0, "x2"},   {2.5, "x2.5"}, {3.0, "x3"},
     {4.0, "x4"},   {5.0, "x5"},   {6.0, "x6"},   {8.0, "x8"},   {9.0, "x9"},
     {10.0, "x10"}, {20.0, "x20"}, {30.0, "x30"}, {40.0, "x40"}, {50.0, "x50"}}};
inline constexpr int kDefaultRateIndex = 5;

// The values are the ones a player's state has always been reported with.
enum class PlayerState : int { Playing = 0, Stopped = 1, Paused = 2, Closed = 3 };

// What the engine asks of the window around it.
class PlayerView {
  public:
    virtual ~PlayerView() = default;
    // Back to the default zoom row: the window takes its size and places the video.
    virtual void ResetZoom() = 0;
    virtual void DrawHeader() = 0;
    // Reads the position (RefreshPosition) and shows it: status line and position slider.
    virtual void UpdatePositionText() = 0;
    virtual void UpdateSpeedText() = 0;
    // A clip that can be positioned: the position slider spans its frames, the speed slider
    // the rate rows, and the control bar is usable.
    virtual void EnableControls(std::int64_t durationFrames, int rateIndex) = 0;
    // The open has finished: the window title is known; a clip that failed is closed.
    virtual void OpenFinished(bool opened) = 0;
    // A frame of the open clip could not be read (its file was cut short, removed or
    // damaged while open): the clip has stopped at the frame on show.
    virtual void ClipUnreadable() = 0;
    virtual VideoSurface* surface() = 0;
};

// The engine of one clip player: loads the clip for playback, keeps it in one of four
// states, and carries out the player's commands (play, pause, stop, first, last, one back,
// one forward, seek, go to a time, rate). Every positioning pauses a playing clip. Each
// command finishes within its call; the clip's pictures, its end and its faults arrive as
// notifications, so nothing here ever waits or runs the event loop. GUI thread only.
class ClipPlayerEngine : public QObject {
    Q_OBJECT
  public:
    explicit ClipPlayerEngine(PlayerView& view, QObject* parent = nullptr);
    ~ClipPlayerEngine() override;

    // "%04d" of the channel, a blank and the location; "Start:date[time]"; "Ending:...".
    // Starts loading the clip, to play it once open; false when it is refused at once.
    bool OpenClip(const ClipRecord& clip);
    // Starts loading the clip; the view hears OpenFinished.
    bool LoadClip(const QString& path, const QString& fileName);
    void CloseClip();
    bool ChangeGraphState(ClipPlayback::State target);

    void Play();
    void Pause();
    void Stop();
    void GoFirstFrame();
    void GoLastFrame();
    void StepBack();
    void StepForward();
    void SeekToFrame(std::int64_t frame);
    // To the last frame seen at or before the moment (UTC microseconds); false, changing
    // nothing, when the clip starts after it.
    bool GoToTime(std::int64_t utcMicros);

    double StepRate(bool up);
    double SetRateIndex(int index);
    void ApplyRate(double rate);

    // Reads the current frame and its times.
    void RefreshPosition();

    PlayerState state() const { return state_; }
    int rateIndex() const { return rateIndex_; }
    std::int64_t currentFrame() const { return currentFrame_; }
    std::int64_t durationFrames() const { return durationFrames_; }
    double currentSeconds() const { return currentSeconds_; }
    double durationSeconds() const { return durationSeconds_; }
    // The measured period: the mean over the clip's frame times (the header's with fewer
    // than two frames).
    double averageTimePerFrame() const { return averageTimePerFrame_; }
    // When the frame on show was seen (the last frame's past the end); 0 without a clip.
    std::int64_t currentUtcMicros() const;
    // "yyyy-MM-dd HH:mm:ss.zzz" of it at the clip's offset; empty without a clip.
    QString currentTimeText() const;
    const QString& titleLine() const { return titleLine_; }
    const QString& startText() const { return startText_; }
    const QString& endText() const { return endText_; }
    // The clip's file name and its size: "%8dK" of the length in kilobytes.
    const QString& windowTitle() const { return windowTitle_; }
    // The clip being played, open or still opening; nullptr when closed.
    ClipPlayback* playback() const { return playback_.get(); }
    bool isOpen() const { return playback_ && playback_->isOpen(); }

  private:
    void SetPositions();
    void OnOpened();
    void OnOpenFailed(const QString& reason);
    void OnEnded();
    void OnFailed();

    PlayerView& view_;
    std::unique_ptr<ClipPlayback> playback_;
    QString fileName_;
    bool playWhenOpen_ = false;
    PlayerState state_ = PlayerState::Closed;
    int rateIndex_ = kDefaultRateIndex;
    double averageTimePerFrame_ = 0.0;
    double durationSeconds_ = 0.0;
    double currentSeconds_ = 0.0;
    std::int64_t durationFrames_ = 0;
    std::int64_t currentFrame_ = 0;
    QString titleLine_;
    QString startText_;
    QString endText_;
    QString windowTitle_;
};

}  // namespace orvane
