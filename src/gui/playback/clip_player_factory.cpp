#include "playback/clip_player_factory.h"

#include "playback/clip_player_window.h"

namespace orvane {

QWidget* MakeClipPlayer(const ClipRecord& clip, QWidget* owner) {
    return ClipPlayerWindow::Open(clip, owner);
}

}  // namespace orvane
