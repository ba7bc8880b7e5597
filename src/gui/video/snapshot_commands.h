#pragma once

// The commands of a snapshot window's context menu, by the identifiers they have always had.
namespace orvane::snapcmd {

inline constexpr int kSaveFile = 32812;
inline constexpr int kPrint = 32813;

}  // namespace orvane::snapcmd
