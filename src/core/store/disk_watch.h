#pragma once

#include <cstdint>
#include <string>

namespace orvane {

class Settings;

// The main frame's watch over the free space of the record folder's volume: the threshold,
// the check period and the indicator state. The frame feeds it readings on its timer and
// shows what it says; the state alone decides the status text and the indicator.
class DiskWatch {
  public:
    enum class TickAction {
        None,
        ShowWarning,  // space just fell below the threshold for the first time since Options
    };

    DiskWatch(std::uint32_t limitMB, std::uint32_t checkSeconds)
        : limitMB_(limitMB), checkSeconds_(checkSeconds) {}
    // "LimitDiskSpace" when 1 to 9999 else 50, "CheckTimer" when 1 to 300 else 10.
    static DiskWatch FromSettings(const Settings& settings);

    // One timer tick with the free space just read. The warning is marked as given before
    // the caller shows it, so ticks that run while the message box is open ask for nothing.
    TickAction Tick(std::uint32_t freeMB);
    // A confirmed Options dialog: the new threshold (0 switches the check off) and period;
    // the warning may be given again.
    void ApplyOptions(std::uint32_t limitMB, std::uint32_t checkSeconds);

    std::uint32_t limitMB() const { return limitMB_; }
    std::uint32_t checkSeconds() const { return checkSeconds_; }
    std::uint32_t periodMs() const { return checkSeconds_ * 1000u; }
    bool checking() const { return limitMB_ != 0; }
    bool warned() const { return warned_; }
    bool low() const { return low_; }
    bool blink() const { return blink_; }

    // The indicator's second icon, and which of its two pictures to draw.
    bool ShowsLowIcon() const { return low_; }
    bool LowIconBright() const { return low_ && blink_; }

    // Status pane 2: "1234 MB Free on /home".
    static std::string StatusText(std::uint32_t freeMB, const std::string& mountPoint);

  private:
    std::uint32_t limitMB_;
    std::uint32_t checkSeconds_;
    bool warned_ = false;
    bool low_ = false;
    bool blink_ = false;
};

}  // namespace orvane
