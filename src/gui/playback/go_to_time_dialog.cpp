#include "playback/go_to_time_dialog.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QLabel>
#include <QTimeZone>
#include <QVBoxLayout>

namespace orvane {
namespace {

// The editor shows a UTC date and time whose fields are the clip's local ones: it then
// neither applies this computer's time zone nor skips a daylight-saving hour the site kept.
QDateTime AtOffset(std::int64_t utcMicros, std::int32_t utcOffsetSeconds) {
    const std::int64_t local = utcMicros + std::int64_t{utcOffsetSeconds} * 1'000'000;
    const auto millis = local >= 0 ? local / 1000 : (local - 999) / 1000;
    return QDateTime::fromMSecsSinceEpoch(millis, QTimeZone::utc());
}

}  // namespace

GoToTimeDialog::GoToTimeDialog(std::int64_t firstUtcMicros, std::int64_t lastUtcMicros,
                               std::int64_t currentUtcMicros, std::int32_t utcOffsetSeconds,
                               QWidget* parent)
    : QDialog(parent), utcOffsetSeconds_(utcOffsetSeconds) {
    setWindowTitle(tr(playertext::kGoToTime));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr(playertext::kGoToTimeLabel), this));
    edit_ = new QDateTimeEdit(this);
    edit_->setTimeSpec(Qt::UTC);
    edit_->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    edit_->setDateTimeRange(AtOffset(firstUtcMicros, utcOffsetSeconds),
                            AtOffset(lastUtcMicros, utcOffsetSeconds));
    edit_->setDateTime(AtOffset(currentUtcMicros, utcOffsetSeconds));
    edit_->setCurrentSection(QDateTimeEdit::SecondSection);
    layout->addWidget(edit_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::int64_t GoToTimeDialog::chosenUtcMicros() const {
    return (edit_->dateTime().toMSecsSinceEpoch() - std::int64_t{utcOffsetSeconds_} * 1000) * 1000 +
           999;
}

}  // namespace orvane
