#pragma once

#include <QIcon>

namespace orvane {

// The program's own toolbar pictures, drawn rather than loaded.
enum class ToolGlyph {
    Connect,
    Disconnect,
    SiteBook,
    StopAlarm,
    OpenChannel,
    VideoWindow,
    Playback,
    RecordPath,
    Password,
    Exit,
    Record,
    StopRecord,
    Fix,
    Snapshot,
    Close,
    // The clip player's.
    Play,
    Pause,
    StopPlay,
    FirstFrame,
    StepBack,
    StepForward,
    LastFrame,
    ZoomIn,
    ZoomOut,
    GoToTime,
};

QIcon ToolIcon(ToolGlyph glyph);

}  // namespace orvane
