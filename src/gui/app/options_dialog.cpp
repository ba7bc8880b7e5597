#include "app/options_dialog.h"

#include "shared/prompt_service.h"
#include "store/settings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace orvane {
namespace {

// Room for more digits than any valid value has, so a number too large can still be typed
// and is answered by the range warning rather than by keys that do nothing.
constexpr int kNumberMaxChars = 6;
constexpr int kNumberWidthChars = 7;

QLineEdit* MakeNumberEdit(std::int32_t value, int controlId, QWidget* parent) {
    auto* edit = new QLineEdit(QString::number(value), parent);
    edit->setProperty("controlId", controlId);
    edit->setMaxLength(kNumberMaxChars);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setFixedWidth(
        edit->fontMetrics().horizontalAdvance(QString(kNumberWidthChars, QLatin1Char('0'))));
    edit->setAlignment(Qt::AlignRight);
    return edit;
}

}  // namespace

OptionsDialog::OptionsDialog(Settings& settings, AutoRunSetter setAutoRun, QWidget* parent)
    : QDialog(parent), settings_(settings), setAutoRun_(std::move(setAutoRun)) {
    setWindowTitle(tr("Options"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    arrange_ = new QCheckBox(tr("Auto arrange video channel window"), this);
    arrange_->setProperty("controlId", 1025);
    arrange_->setChecked(settings_.VideoArrange());
    limit_ = MakeNumberEdit(settings_.LimitDiskSpaceMb(), 1026, this);
    period_ = MakeNumberEdit(settings_.CheckTimerSeconds(), 1027, this);
    autoRunBox_ = new QCheckBox(tr("Auto run Orvane"), this);
    autoRunBox_->setProperty("controlId", 1068);
    autoRunBox_->setChecked(settings_.AutoRun());

    auto* group = new QGroupBox(tr("Detect hard disk capacity:"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(tr("Notify insufficient disk space:"), group), 0, 0);
    grid->addWidget(limit_, 0, 1);
    grid->addWidget(new QLabel(tr("MB"), group), 0, 2);
    grid->addWidget(new QLabel(tr("How long to check disk space:"), group), 1, 0);
    grid->addWidget(period_, 1, 1);
    grid->addWidget(new QLabel(tr("Sec."), group), 1, 2);

    // Room for new recordings.
    deleteOld_ = new QCheckBox(tr(optionstext::kDeleteOldClips), group);
    deleteOld_->setChecked(settings_.DeleteOldClips());
    keepDays_ = MakeNumberEdit(settings_.KeepDays(), 1070, group);
    grid->addWidget(deleteOld_, 2, 0, 1, 3);
    grid->addWidget(new QLabel(tr("Keep clips at most"), group), 3, 0);
    grid->addWidget(keepDays_, 3, 1);
    grid->addWidget(new QLabel(tr("days"), group), 3, 2);

    ok_ = new QPushButton(tr("&OK"), this);
    ok_->setDefault(true);
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    connect(ok_, &QPushButton::clicked, this, &OptionsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &OptionsDialog::reject);

    auto* fields = new QVBoxLayout;
    fields->addWidget(arrange_);
    fields->addWidget(group);
    fields->addWidget(autoRunBox_);
    // Back after a restart.
    resumeBox_ = new QCheckBox(tr("Reconnect and resume recording at start"), this);
    resumeBox_->setObjectName("resumeAtStart");
    resumeBox_->setChecked(settings_.ResumeAtStart());
    fields->addWidget(resumeBox_);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* outer = new QHBoxLayout(this);
    outer->addLayout(fields, 1);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);
}

std::optional<std::uint32_t> OptionsDialog::TakeNumber(QLineEdit* edit, std::uint32_t low,
                                                       std::uint32_t high, const char* warning) {
    bool ok = false;
    const qulonglong value = edit->text().toULongLong(&ok);
    if (ok && value >= low && value <= high) {
        return static_cast<std::uint32_t>(value);
    }
    PromptService::Show(this, tr(warning), PromptButtons::Ok, PromptIcon::Exclamation);
    edit->setFocus();
    edit->selectAll();
    return std::nullopt;
}

void OptionsDialog::accept() {
    const auto limit = TakeNumber(limit_, 0, kMaxLimitDiskSpaceMb, optionstext::kLimitRange);
    if (!limit) {
        return;
    }
    const auto period = TakeNumber(period_, 1, kMaxCheckTimerSeconds, optionstext::kPeriodRange);
    if (!period) {
        return;
    }
    const auto keepDays = TakeNumber(keepDays_, 0, kMaxKeepDays, optionstext::kKeepDaysRange);
    if (!keepDays) {
        return;
    }
    autoArrange_ = arrange_->isChecked();
    limitMB_ = *limit;
    checkSeconds_ = *period;
    autoRun_ = autoRunBox_->isChecked();

    if (setAutoRun_) {
        setAutoRun_(autoRun_);
    }
    settings_.SetSetting(SettingId::AutoRun, autoRun_ ? 1 : 0);
    settings_.SetSetting(SettingId::VideoArrange, autoArrange_ ? 1 : 0);
    settings_.SetSetting(SettingId::LimitDiskSpace, static_cast<std::int32_t>(limitMB_));
    settings_.SetSetting(SettingId::CheckTimer, static_cast<std::int32_t>(checkSeconds_));
    resume_ = resumeBox_->isChecked();
    settings_.SetSetting(SettingId::ResumeAtStart, resume_ ? 1 : 0);
    settings_.SetSetting(SettingId::DeleteOldClips, deleteOld_->isChecked() ? 1 : 0);
    settings_.SetSetting(SettingId::KeepDays, static_cast<std::int32_t>(*keepDays));
    QDialog::accept();
}

}  // namespace orvane
