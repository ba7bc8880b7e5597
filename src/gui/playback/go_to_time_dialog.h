#pragma once

#include <QDialog>

#include <cstdint>

class QDateTimeEdit;

namespace orvane {

// Asks for the date and time to go to in a clip, to the millisecond, at the clip's UTC
// offset: it starts at the frame on screen and reaches from the clip's first frame to its
// last.
class GoToTimeDialog : public QDialog {
    Q_OBJECT
  public:
    GoToTimeDialog(std::int64_t firstUtcMicros, std::int64_t lastUtcMicros,
                   std::int64_t currentUtcMicros, std::int32_t utcOffsetSeconds, QWidget* parent);

    // The moment chosen, in UTC microseconds: the end of the millisecond shown, so that the
    // time shown for a frame (its milliseconds, the microseconds dropped) finds that frame.
    std::int64_t chosenUtcMicros() const;
    QDateTimeEdit* editor() const { return edit_; }

  private:
    std::int32_t utcOffsetSeconds_ = 0;
    QDateTimeEdit* edit_ = nullptr;
};

namespace playertext {
inline constexpr const char* kGoToTime = "Go to time";
inline constexpr const char* kGoToTimeLabel = "Date and time of the frame:";
inline constexpr const char* kBeforeFirstFrame =
    "\n\n No frame was seen at or before %1: the clip starts at %2. \n\n";
}  // namespace playertext

}  // namespace orvane
