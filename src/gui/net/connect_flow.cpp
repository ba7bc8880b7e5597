#include "net/connect_flow.h"

#include "net/connect_dialog.h"
#include "shared/prompt_service.h"
#include "shared/resource_ids.h"
#include "site/site_session.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace orvane {
namespace {

// One of the retry dialog's five pictures: a ring with a bright segment that moves on.
QPixmap RetryFrame(int frame) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(170, 170, 170), 4));
    p.drawEllipse(QRectF(4, 4, 24, 24));
    p.setPen(QPen(QColor(210, 60, 40), 4));
    p.drawArc(QRectF(4, 4, 24, 24), 90 * 16 - frame * 72 * 16, -72 * 16);
    return pixmap;
}

}  // namespace

WaitDialog::WaitDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    auto* row = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(res::kAppIcon).pixmap(32, 32));
    row->addWidget(icon);
    row->addWidget(new QLabel(tr(connecttext::kWaitText), this));
    setModal(false);
    show();
    repaint();
}

void WaitDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
}

RetryDialog::RetryDialog(const QString& message, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Connect to local site"));
    icon_ = new QLabel(this);
    icon_->setProperty("controlId", 1010);
    icon_->setPixmap(RetryFrame(0));
    auto* text = new QLabel(message, this);
    text->setProperty("controlId", 1011);
    auto* tryAgain = new QPushButton(tr("&Try Again"), this);
    tryAgain->setDefault(true);
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    connect(tryAgain, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* texts = new QVBoxLayout;
    texts->addWidget(new QLabel(tr(connecttext::kRetryPrompt), this));
    texts->addWidget(text);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(tryAgain);
    buttons->addWidget(cancel);
    texts->addLayout(buttons);
    auto* row = new QHBoxLayout(this);
    row->addWidget(icon_, 0, Qt::AlignTop);
    row->addLayout(texts);
    row->setSizeConstraint(QLayout::SetFixedSize);

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        icon_->setPixmap(RetryFrame(frame_));
    });
    timer->start(kFrameMs);
}

void RunConnectFlow(QWidget* parent, SiteSession& session, Settings& settings) {
    // Nothing here is held across a wait but the session, which outlives every flow: the
    // parent is looked at only through a QPointer.
    QPointer<QWidget> owner(parent);
    ConnectDialog dialog(settings, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    session.TearDown();
    QString host = dialog.addressText();
    if (dialog.identifyMode()) {
        IdentifyOutcome outcome;
        {
            WaitDialog wait(parent);
            outcome = session.ResolveIdCode(dialog.idCode());
        }
        // A site's call-back may have taken the link meanwhile: it stays.
        if (!owner || outcome.abandoned || session.state() != SiteSession::State::Closed) {
            return;
        }
        if (outcome.address.empty()) {
            if (!outcome.message.isEmpty()) {
                PromptService::Show(owner, outcome.message);
            }
            return;
        }
        host = QString::fromStdString(outcome.address);
    }
    while (owner) {
        SiteSession::ConnectResult result;
        {
            WaitDialog wait(owner);
            result = session.ConnectTo(host);
        }
        if (result != SiteSession::ConnectResult::Failed || !owner) {
            return;  // connected, or given up while waiting (Disconnect, Exit)
        }
        RetryDialog retry(QStringLiteral("IP Address : ") + host, owner);
        // A site calling back while the question is open has the link now: the question is
        // moot, and neither answer may tear that link down.
        QObject::connect(&session, &SiteSession::stateChanged, &retry,
                         [&retry](SiteSession::State state) {
                             if (state != SiteSession::State::Closed) {
                                 retry.reject();
                             }
                         });
        const int answer = retry.exec();
        if (session.state() != SiteSession::State::Closed) {
            return;
        }
        if (answer != QDialog::Accepted) {
            session.TearDown();
            return;
        }
    }
}

}  // namespace orvane
