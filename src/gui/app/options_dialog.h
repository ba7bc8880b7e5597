#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace orvane {

class Settings;

// "Options": automatic tiling of video windows, the free-space threshold and check period
// of the disk watch, whether old clips are deleted for room and how long clips are kept,
// whether the program starts with the desktop session, and whether a start resumes the last
// run. OK stores
// them; a number out of range keeps the dialog open and stores nothing.
class OptionsDialog : public QDialog {
    Q_OBJECT
  public:
    // Writes or removes the autostart entry (and stores "AutoRun").
    using AutoRunSetter = std::function<void(bool on)>;

    OptionsDialog(Settings& settings, AutoRunSetter setAutoRun, QWidget* parent = nullptr);

    // The values taken on OK.
    bool autoArrange() const { return autoArrange_; }
    std::uint32_t limitMB() const { return limitMB_; }
    std::uint32_t checkSeconds() const { return checkSeconds_; }
    bool autoRun() const { return autoRun_; }
    bool resumeAtStart() const { return resume_; }

    QCheckBox* arrangeBox() const { return arrange_; }
    QLineEdit* limitEdit() const { return limit_; }
    QLineEdit* periodEdit() const { return period_; }
    QCheckBox* autoRunBox() const { return autoRunBox_; }
    QCheckBox* resumeBox() const { return resumeBox_; }
    QCheckBox* deleteOldBox() const { return deleteOld_; }
    QLineEdit* keepDaysEdit() const { return keepDays_; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

  private:
    // The field's number when it lies in low..high; otherwise the range warning, the field
    // selected for retyping, and nothing.
    std::optional<std::uint32_t> TakeNumber(QLineEdit* edit, std::uint32_t low, std::uint32_t high,
                                            const char* warning);

    Settings& settings_;
    AutoRunSetter setAutoRun_;
    QCheckBox* arrange_;
    QLineEdit* limit_;
    QLineEdit* period_;
    QCheckBox* autoRunBox_;
    QCheckBox* deleteOld_;
    QLineEdit* keepDays_;
    QPushButton* ok_;
    bool autoArrange_ = false;
    std::uint32_t limitMB_ = 0;
    std::uint32_t checkSeconds_ = 0;
    bool autoRun_ = false;
    // Back after a restart ("ResumeAtStart").
    QCheckBox* resumeBox_;
    bool resume_ = false;
};

namespace optionstext {
inline constexpr const char* kLimitRange = "Please enter a number between 0 and 9999.";
inline constexpr const char* kPeriodRange = "Please enter a number between 1 and 300.";
inline constexpr const char* kDeleteOldClips = "Delete the oldest clips when disk space is low";
inline constexpr const char* kKeepDaysRange = "Please enter a number between 0 and 9999.";
}  // namespace optionstext

}  // namespace orvane
