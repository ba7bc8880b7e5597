#include "store/disk_watch.h"

#include "store/settings.h"

namespace orvane {

DiskWatch DiskWatch::FromSettings(const Settings& settings) {
    return DiskWatch(static_cast<std::uint32_t>(settings.LimitDiskSpaceMb()),
                     static_cast<std::uint32_t>(settings.CheckTimerSeconds()));
}

DiskWatch::TickAction DiskWatch::Tick(std::uint32_t freeMB) {
    if (!checking()) {
        return TickAction::None;
    }
    low_ = freeMB < limitMB_;
    TickAction action = TickAction::None;
    if (low_ && !warned_) {
        warned_ = true;
        action = TickAction::ShowWarning;
    }
    blink_ = !blink_;
    return action;
}

void DiskWatch::ApplyOptions(std::uint32_t limitMB, std::uint32_t checkSeconds) {
    limitMB_ = limitMB;
    checkSeconds_ = checkSeconds;
    warned_ = false;
    if (!checking()) {
        // With the check off nothing is low any more: an indicator left lit by the last
        // check would stay lit, unblinking, for the rest of the run.
        low_ = false;
        blink_ = false;
    }
}

std::string DiskWatch::StatusText(std::uint32_t freeMB, const std::string& mountPoint) {
    return std::to_string(freeMB) + " MB Free on " + mountPoint;
}

}  // namespace orvane
