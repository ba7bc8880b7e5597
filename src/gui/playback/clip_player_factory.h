#pragma once

#include "store/clip_index.h"

#include <functional>

class QWidget;

namespace orvane {

// Opens a player window for the clip, owned by owner (it closes when owner closes); returns it
// or nullptr.
using ClipPlayerFactory = std::function<QWidget*(const ClipRecord& clip, QWidget* owner)>;

// The program's player windows, for the dialogs that play clips.
QWidget* MakeClipPlayer(const ClipRecord& clip, QWidget* owner);

}  // namespace orvane
