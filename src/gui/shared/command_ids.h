#pragma once

// Command identifiers: the names commands are routed and tested by.
namespace orvane::cmd {

inline constexpr int kConnect = 32771;
inline constexpr int kDisconnect = 32772;
inline constexpr int kPlaybackVideo = 32773;
inline constexpr int kStartRecord = 32774;
inline constexpr int kStopRecord = 32775;
inline constexpr int kFixChannel = 32776;
inline constexpr int kCloseChannel = 32777;
inline constexpr int kOpenChannel = 32779;
inline constexpr int kVideoWindowMenu = 32780;
inline constexpr int kChangeVideoSize = 32781;
inline constexpr int kArrangeVideoWindows = 32783;
inline constexpr int kSetupSiteBook = 32784;
inline constexpr int kToggleToolbar = 32785;
inline constexpr int kSetupRecordPath = 32786;
inline constexpr int kOnlineHelp = 32787;
inline constexpr int kSetupPassword = 32788;
inline constexpr int kSnapshot = 32789;
inline constexpr int kOptions = 32790;
inline constexpr int kLoginError = 32791;
inline constexpr int kStopAlarm = 32793;
inline constexpr int kBrowseEvents = 32794;
inline constexpr int kRemoteControl = 32796;
inline constexpr int kLimitError = 32797;
inline constexpr int kCodecError = 32798;
inline constexpr int kReconnect = 32799;
// The clip player's toolbar.
inline constexpr int kPlayerPlay = 32800;
inline constexpr int kPlayerPause = 32801;
inline constexpr int kPlayerStop = 32802;
inline constexpr int kPlayerFirstFrame = 32803;
inline constexpr int kPlayerRewind = 32804;
inline constexpr int kPlayerForward = 32805;
inline constexpr int kPlayerLastFrame = 32806;
inline constexpr int kPlayerIncrease = 32807;
inline constexpr int kPlayerDecrease = 32808;
inline constexpr int kPlayerSnapshot = 32809;
inline constexpr int kPlayerExport = 32810;
inline constexpr int kPlayerGoToTime = 32811;
inline constexpr int kAbout = 57664;
inline constexpr int kExit = 57665;

}  // namespace orvane::cmd
