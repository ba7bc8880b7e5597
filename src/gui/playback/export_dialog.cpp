#include "playback/export_dialog.h"

#include "common/log.h"
#include "media/frame_times.h"
#include "shared/prompt_service.h"

#include <QApplication>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QProgressDialog>
#include <QRadioButton>

#include <algorithm>
#include <memory>

namespace orvane {
namespace {

constexpr const char* kTimeFormat = "yyyy-MM-dd HH:mm:ss";
constexpr int kProgressDelayMs = 1000;
constexpr int kProgressSteps = 1000;

// "yyyy/mm/dd" and "hh:mm" of an index entry, local time.
QDateTime EntryTime(const QString& date, const QString& time) {
    return QDateTime::fromString(date + ' ' + time, QStringLiteral("yyyy/MM/dd hh:mm"));
}

QString ClipPath(const ClipRecord& clip) {
    return clip.path + clip.fileName;
}

ExportRequest RequestFor(std::vector<ClipRecord> clips) {
    std::sort(clips.begin(), clips.end(), [](const ClipRecord& a, const ClipRecord& b) {
        return NewerClip(b.fileName, a.fileName);
    });
    ExportRequest request;
    for (const ClipRecord& clip : clips) {
        request.clips.push_back(ClipPath(clip));
    }
    const ClipRecord& first = clips.front();
    request.site = first.site;
    request.channel =
        first.location.isEmpty() ? QStringLiteral("Channel %1").arg(first.channel) : first.location;
    return request;
}

void AskRange(QWidget* parent, const ExportRangeQuestion& question,
              std::function<void(std::optional<ExportRangeAnswer>)> answer) {
    auto* dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QObject::tr(exporttext::kTitle));
    auto* layout = new QGridLayout(dialog);
    auto* whole = new QRadioButton(question.wholeText, dialog);
    auto* part = new QRadioButton(question.partText, dialog);
    whole->setChecked(true);
    auto* start = new QDateTimeEdit(question.start, dialog);
    auto* end = new QDateTimeEdit(question.end, dialog);
    for (QDateTimeEdit* edit : {start, end}) {
        edit->setDisplayFormat(kTimeFormat);
        edit->setEnabled(false);
        QObject::connect(part, &QRadioButton::toggled, edit, &QWidget::setEnabled);
    }
    start->setVisible(question.partHasStart);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    layout->addWidget(whole, 0, 0, 1, 2);
    layout->addWidget(part, 1, 0, 1, 2);
    layout->addWidget(start, 2, 0);
    layout->addWidget(end, 2, 1);
    layout->addWidget(buttons, 3, 0, 1, 2);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(dialog, &QDialog::finished, dialog, [=](int result) {
        if (result != QDialog::Accepted) {
            answer(std::nullopt);
            return;
        }
        answer(ExportRangeAnswer{whole->isChecked(), start->dateTime(), end->dateTime()});
    });
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

void AskTarget(QWidget* parent, const QString& suggested, std::function<void(QString)> answer) {
    auto* dialog = new QFileDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QObject::tr(exporttext::kSaveTitle));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // The question of replacing a file is ours: through the prompts, and answered for every
    // file of an export of several channels.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setDefaultSuffix(QStringLiteral("mp4"));
    dialog->setNameFilter(QObject::tr(exporttext::kFilter));
    dialog->selectFile(suggested);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, answer](int result) {
        const QStringList files = dialog->selectedFiles();
        answer(result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString());
    });
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

// The file of each further channel: the chosen name with the channel's number.
QString TargetOf(const QString& chosen, std::size_t index, const ClipRecord& clip) {
    if (index == 0) {
        return chosen;
    }
    const QFileInfo info(chosen);
    return info.dir().filePath(QStringLiteral("%1-%2.%3")
                                   .arg(info.completeBaseName())
                                   .arg(clip.channel, 4, 10, QChar('0'))
                                   .arg(info.suffix().isEmpty() ? "mp4" : info.suffix()));
}

// Where to, each file asked about when it exists, then the exports.
void ChooseTargetsAndRun(QWidget* parent, std::vector<ExportRequest> requests,
                         std::vector<ClipRecord> firstClips) {
    const QString suggested = QDir::home().filePath(
        QFileInfo(requests.front().clips.front()).completeBaseName() + QStringLiteral(".mp4"));
    QPointer<QWidget> alive(parent);
    ExportDialogs::chooseTarget(
        parent, suggested,
        [alive, requests = std::move(requests), firstClips](QString chosen) mutable {
            if (chosen.isEmpty() || !alive) {
                return;
            }
            for (std::size_t i = 0; i < requests.size(); ++i) {
                ExportRequest& request = requests[i];
                request.target = TargetOf(chosen, i, firstClips[i]);
                if (QFileInfo::exists(request.target) ||
                    QFileInfo::exists(ExportManifestPath(request.target))) {
                    const PromptAnswer replace =
                        PromptService::Show(alive, exporttext::ReplaceQuestion(request.target),
                                            PromptButtons::YesNo, PromptIcon::Question);
                    if (replace != PromptAnswer::Yes) {
                        return;
                    }
                    request.replace = true;
                }
            }
            ExportRun::Start(alive, std::move(requests));
        });
}

}  // namespace

ExportDialogs::RangeChooser ExportDialogs::chooseRange = AskRange;
ExportDialogs::TargetChooser ExportDialogs::chooseTarget = AskTarget;
std::function<void(const std::vector<ExportResult>&)> ExportRun::finished;

void ExportFromPlayer(QWidget* player, const ClipRecord& clip, std::int64_t currentFrame) {
    ExportRangeQuestion question;
    question.wholeText = QObject::tr(exporttext::kWholeClip);
    question.partText = QObject::tr(exporttext::kFromCurrentFrame);
    question.partHasStart = false;
    question.start = EntryTime(clip.startDate, clip.startTime);
    question.end = EntryTime(clip.endDate, clip.endTime).addSecs(60);
    QPointer<QWidget> alive(player);
    ExportDialogs::chooseRange(
        player, question, [alive, clip, currentFrame](std::optional<ExportRangeAnswer> answer) {
            if (!answer || !alive) {
                return;
            }
            ExportRequest request = RequestFor({clip});
            if (!answer->whole) {
                request.fromFrame = currentFrame;
                request.toUtcMicros = EndOfTypedMillisecond(answer->end.toMSecsSinceEpoch() * 1000);
            }
            ChooseTargetsAndRun(alive, {std::move(request)}, {clip});
        });
}

void ExportFromBrowser(QWidget* browser, const std::vector<ClipRecord>& selected,
                       const std::vector<std::vector<ClipRecord>>& channels) {
    QDateTime earliest;
    QDateTime latest;
    for (const auto& clips : channels) {
        for (const ClipRecord& clip : clips) {
            const QDateTime start = EntryTime(clip.startDate, clip.startTime);
            const QDateTime end = EntryTime(clip.endDate, clip.endTime).addSecs(60);
            earliest = earliest.isValid() ? std::min(earliest, start) : start;
            latest = latest.isValid() ? std::max(latest, end) : end;
        }
    }
    ExportRangeQuestion question;
    question.wholeText = QObject::tr(exporttext::kSelectedClips);
    question.partText = QObject::tr(exporttext::kChannelBetween);
    question.start = earliest;
    question.end = latest;
    QPointer<QWidget> alive(browser);
    ExportDialogs::chooseRange(
        browser, question, [alive, selected, channels](std::optional<ExportRangeAnswer> answer) {
            if (!answer || !alive) {
                return;
            }
            std::vector<ExportRequest> requests;
            std::vector<ClipRecord> firsts;
            if (answer->whole) {
                if (selected.empty()) {
                    PromptService::Show(alive, exporttext::kNothingSelected);
                    return;
                }
                requests.push_back(RequestFor(selected));
                firsts.push_back(selected.front());
            } else {
                for (const auto& clips : channels) {
                    std::vector<ClipRecord> between;
                    for (const ClipRecord& clip : clips) {
                        const QDateTime start = EntryTime(clip.startDate, clip.startTime);
                        const QDateTime end = EntryTime(clip.endDate, clip.endTime).addSecs(60);
                        if (start <= answer->end && end >= answer->start) {
                            between.push_back(clip);
                        }
                    }
                    if (between.empty()) {
                        continue;
                    }
                    ExportRequest request = RequestFor(between);
                    request.fromUtcMicros = answer->start.toMSecsSinceEpoch() * 1000;
                    request.toUtcMicros =
                        EndOfTypedMillisecond(answer->end.toMSecsSinceEpoch() * 1000);
                    requests.push_back(std::move(request));
                    firsts.push_back(between.front());
                }
                if (requests.empty()) {
                    PromptService::Show(alive, exporttext::kNoClipsBetween);
                    return;
                }
            }
            ChooseTargetsAndRun(alive, std::move(requests), std::move(firsts));
        });
}

ExportRun* ExportRun::Start(QWidget* parent, std::vector<ExportRequest> requests) {
    return new ExportRun(parent, std::move(requests));
}

// Owned by the application, not the window: a player closed meanwhile leaves the export
// running to its end, and a program that quits stops it (and waits for its last frame).
ExportRun::ExportRun(QWidget* parent, std::vector<ExportRequest> requests)
    : QObject(QCoreApplication::instance()), parent_(parent), requests_(std::move(requests)) {
    progress_ = new QProgressDialog(
        tr(exporttext::kProgress).arg(QFileInfo(requests_.front().target).fileName()), tr("Cancel"),
        0, kProgressSteps, parent);
    progress_->setWindowTitle(tr(exporttext::kTitle));
    progress_->setMinimumDuration(kProgressDelayMs);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    progress_->setValue(0);
    connect(progress_, &QProgressDialog::canceled, this, &ExportRun::Cancel);
    worker_ = std::thread([this] { Work(); });
}

ExportRun::~ExportRun() {
    cancel_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
    delete progress_.data();
}

void ExportRun::Work() {
    std::vector<ExportResult> results;
    for (std::size_t job = 0; job < requests_.size(); ++job) {
        ExportControl control;
        control.cancel = &cancel_;
        control.progress = [this, job](std::int64_t done, std::int64_t total) {
            QMetaObject::invokeMethod(
                this, [this, job, done, total] { ShowProgress(job, done, total); },
                Qt::QueuedConnection);
        };
        results.push_back(ExportClips(requests_[job], control));
        if (!results.back().done()) {
            break;
        }
    }
    QMetaObject::invokeMethod(
        this, [this, results = std::move(results)]() mutable { Done(std::move(results)); },
        Qt::QueuedConnection);
}

void ExportRun::ShowProgress(std::size_t job, std::int64_t done, std::int64_t total) {
    if (!progress_ || total <= 0) {
        return;
    }
    const double share = 1.0 / double(requests_.size());
    const double part = (double(job) + double(done) / double(total)) * share;
    progress_->setLabelText(
        tr(exporttext::kProgress).arg(QFileInfo(requests_[job].target).fileName()));
    progress_->setValue(std::min(kProgressSteps - 1, int(part * kProgressSteps)));
}

void ExportRun::Done(std::vector<ExportResult> results) {
    if (worker_.joinable()) {
        worker_.join();
    }
    delete progress_.data();
    if (finished) {
        finished(results);
    }
    QPointer<ExportRun> self(this);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const ExportResult& result = results[i];
        if (result.outcome == ExportResult::Outcome::Cancelled) {
            continue;
        }
        const QString text =
            result.done() ? exporttext::Done(result.file, result.manifest.frames,
                                             result.manifestFile, result.manifest.missingFrames())
                          : exporttext::Failed(requests_[i].target, result.error);
        const bool whole = result.done() && result.manifest.missingFrames() == 0;
        PromptService::Show(parent_, text, PromptButtons::Ok,
                            whole ? PromptIcon::Information : PromptIcon::Exclamation);
        if (!self) {
            return;
        }
    }
    deleteLater();
}

}  // namespace orvane
