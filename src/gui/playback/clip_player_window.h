#pragma once

#include "media/clip_player_engine.h"
#include "store/clip_index.h"
#include "store/clips_in_use.h"

#include <optional>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>

class QAction;
class QToolBar;

namespace orvane {

class PlayerControlBar;
class PlayerVideoView;

// Video display sizes of the zoom steps.
inline constexpr std::array<QSize, 5> kZoomSizeTable{
    {{160, 120}, {176, 144}, {320, 240}, {352, 288}, {480, 360}}};
inline constexpr int kDefaultZoomIndex = 3;

// One recorded clip in a window of its own, owned by the dialog that opened it: two header
// lines (channel and location; start and end), the video, a status line with the position,
// and at the bottom the player's toolbar and control bar. The window has a fixed size that
// only the zoom steps change.
class ClipPlayerWindow : public QWidget, public PlayerView {
    Q_OBJECT
  public:
    explicit ClipPlayerWindow(QWidget* owner);
    ~ClipPlayerWindow() override;

    // Opens a player for the clip and starts playing it. A clip that cannot be opened, or
    // whose frames cannot be read later on, is reported ("\n\n Open file error! \n\n") and
    // its window closes itself.
    static ClipPlayerWindow* Open(const ClipRecord& clip, QWidget* owner);

    // Puts the window beside the one that opened it, a step down and right of each other player
    // of that window on show. The error a clip that cannot be opened gives is centred on where
    // the window is, so it is placed by the program rather than left to the window manager.
    void PlaceBesideOwner();
    bool OpenClip(const ClipRecord& clip);
    void SetVideoSize(int width, int height);
    void SaveSnapshot();
    // Asks for a date and time and shows the last frame seen at or before it.
    void GoToTime();
    void RunCommand(int commandId);

    ClipPlayerEngine& engine() { return engine_; }
    int zoomIndex() const { return zoomIndex_; }
    int lineHeight() const { return lineHeight_; }
    QRect videoRect() const;
    // The narrowest the window gets: its bars, and the longest status line.
    int minimumClientWidth() const;
    QString statusText() const;
    PlayerControlBar* controlBar() const { return controlBar_; }
    QToolBar* toolBar() const { return toolBar_; }
    QAction* action(int commandId) const;
    const QImage& shownPicture() const;

    // PlayerView
    void ResetZoom() override;
    void DrawHeader() override { update(HeaderRect()); }
    void UpdatePositionText() override;
    void UpdateSpeedText() override;
    void EnableControls(std::int64_t durationFrames, int rateIndex) override;
    void OpenFinished(bool opened) override;
    void ClipUnreadable() override { ReportOpenError(); }
    VideoSurface* surface() override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QRect HeaderRect() const;
    QRect StatusRect() const;
    int BarsHeight() const;
    void ReportOpenError();

    // The clip shown is never deleted to make room while the window is open.
    std::optional<ClipUse> inUse_;
    ClipRecord clip_;  // what "Export..." exports
    ClipPlayerEngine engine_;
    QToolBar* toolBar_ = nullptr;
    PlayerControlBar* controlBar_ = nullptr;
    PlayerVideoView* video_ = nullptr;
    int zoomIndex_ = kDefaultZoomIndex;
    int lineHeight_ = 0;
    // The widest status line a clip gives, so that the window never cuts it off.
    int statusWidth_ = 0;
    // The clip has been reported as unplayable: once is enough, the window is closing.
    bool errorReported_ = false;
};

namespace playertext {
inline constexpr const char* kIdleTitle = "Video clip";
inline constexpr const char* kOpenFileError = "\n\n Open file error! \n\n";
inline constexpr const char* kSaveOk = "\n\n Save OK. \n\n";
}  // namespace playertext

}  // namespace orvane
