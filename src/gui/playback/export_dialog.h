#pragma once

#include "export/clip_export.h"
#include "store/clip_index.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

class QWidget;

namespace orvane {

// "Export...": what to export (a range dialog), where to (a save dialog, asking before an
// existing file is replaced), then the export on a worker thread with a progress dialog that
// can cancel it, and the result told to the operator.

// The choice the range dialog offers: everything, or a part between two times.
struct ExportRangeQuestion {
    QString wholeText;         // "The whole clip", "The selected clips"
    QString partText;          // "From the current frame to", "Each selected channel's clips"
    bool partHasStart = true;  // the part's start is typed (else it is fixed, e.g. a frame)
    QDateTime start;
    QDateTime end;
};
struct ExportRangeAnswer {
    bool whole = true;
    QDateTime start;  // local time; the part only
    QDateTime end;
};

namespace exporttext {
inline constexpr const char* kAction = "Export...";
inline constexpr const char* kTitle = "Export";
inline constexpr const char* kSaveTitle = "Export to file";
inline constexpr const char* kWholeClip = "The whole clip";
inline constexpr const char* kFromCurrentFrame = "From the current frame to";
inline constexpr const char* kSelectedClips = "The selected clips";
inline constexpr const char* kChannelBetween = "The selected channel's clips between";
inline constexpr const char* kFilter = "MP4 video (*.mp4)";
inline constexpr const char* kProgress = "Exporting %1...";
inline QString ReplaceQuestion(const QString& file) {
    return QStringLiteral("\n\n %1 exists.\n Do you want to replace it? \n\n").arg(file);
}
// missing: frames the clips list that their files no longer hold; the export lacks them.
inline QString Done(const QString& file, std::int64_t frames, const QString& manifest,
                    std::int64_t missing = 0) {
    const QString lacking = missing > 0
                                ? QStringLiteral(
                                      "\n\n Not exported: %1 frames that the clip lists but its "
                                      "file\n no longer holds (cut short or damaged).")
                                      .arg(missing)
                                : QString();
    return QStringLiteral(
               "\n\n Exported %1 frames to\n %2%3\n\n The manifest, to verify it "
               "with orvane-cli verify:\n %4 \n\n")
        .arg(frames)
        .arg(file, lacking, manifest);
}
inline QString Failed(const QString& file, const QString& why) {
    return QStringLiteral("\n\n Could not export %1:\n %2 \n\n").arg(file, why);
}
inline constexpr const char* kNothingSelected = "\n\n No clip is selected. \n\n";
inline constexpr const char* kNoClipsBetween = "\n\n No clip lies between these times. \n\n";
}  // namespace exporttext

// The questions are asked without waiting in an event loop of their own: each answer comes
// to a continuation, which a closed window may never see.
class ExportDialogs {
  public:
    // nullopt: cancelled. The program's is a small window-modal dialog.
    using RangeChooser =
        std::function<void(QWidget* parent, const ExportRangeQuestion& question,
                           std::function<void(std::optional<ExportRangeAnswer>)> answer)>;
    // An empty path is a cancel. The program's is a window-modal save dialog for .mp4 files.
    using TargetChooser = std::function<void(QWidget* parent, const QString& suggested,
                                             std::function<void(QString)> answer)>;
    static RangeChooser chooseRange;
    static TargetChooser chooseTarget;
};

// From a player: the clip it shows, and the frame on screen.
void ExportFromPlayer(QWidget* player, const ClipRecord& clip, std::int64_t currentFrame);

// From the clip browser: the selected clips (one channel's), or every clip of the given
// channels between two times, one file per channel. Each channel's clips oldest first.
void ExportFromBrowser(QWidget* browser, const std::vector<ClipRecord>& selected,
                       const std::vector<std::vector<ClipRecord>>& channels);

// Runs exports one after another on a thread of its own and follows them in a progress
// dialog (shown once one takes longer than a second); tells the operator each result. Lives
// until the last export is over, then deletes itself. GUI thread only; the worker talks to it
// by queued notifications.
class ExportRun : public QObject {
    Q_OBJECT
  public:
    static ExportRun* Start(QWidget* parent, std::vector<ExportRequest> requests);
    ~ExportRun() override;

    void Cancel() { cancel_ = true; }
    QProgressDialog* progressDialog() const { return progress_; }
    // Told, on the GUI thread, once every export is over (tests).
    static std::function<void(const std::vector<ExportResult>&)> finished;

  private:
    ExportRun(QWidget* parent, std::vector<ExportRequest> requests);
    void Work();
    void ShowProgress(std::size_t job, std::int64_t done, std::int64_t total);
    void Done(std::vector<ExportResult> results);

    QPointer<QWidget> parent_;
    QPointer<QProgressDialog> progress_;
    std::vector<ExportRequest> requests_;
    std::atomic<bool> cancel_ = false;
    std::thread worker_;
};

}  // namespace orvane
