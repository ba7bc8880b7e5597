#include "shared/prompt_service.h"

#include "shared/app_texts.h"
#include "shared/message_box_placement.h"

#include <QMessageBox>

namespace orvane {
namespace {

// Centred on its window, where the operator is looking. QMessageBox settles its size only as
// it is shown, so the place is worked out then.
class CentredMessageBox final : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (const QWidget* owner = parentWidget()) {
            move(MessageBoxTopLeft(*owner, frameGeometry().size()));
        }
    }
};

class MessageBoxAnswerer final : public PromptAnswerer {
  public:
    PromptAnswer Answer(QWidget* parent, const PromptRequest& request) override {
        CentredMessageBox box(parent ? parent->window() : nullptr);
        box.setWindowTitle(text::kAppTitle);
        box.setText(request.text);
        box.setIcon(IconOf(PromptService::EffectiveIcon(request)));
        switch (request.buttons) {
            case PromptButtons::Ok:
                box.setStandardButtons(QMessageBox::Ok);
                break;
            case PromptButtons::OkCancel:
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                break;
            case PromptButtons::YesNo:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                break;
            case PromptButtons::YesNoCancel:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
                break;
        }
        // A question about a window that goes while it is open (a link that drops closes
        // its windows) is withdrawn: answered later, it would act on nothing. A message that
        // only tells something stays to be read.
        if (parent && parent != parent->window() && request.buttons != PromptButtons::Ok) {
            QObject::connect(parent, &QObject::destroyed, &box, [&box] { box.done(-1); });
        }
        switch (box.exec()) {
            case QMessageBox::Yes:
                return PromptAnswer::Yes;
            case QMessageBox::No:
                return PromptAnswer::No;
            case QMessageBox::Cancel:
                return PromptAnswer::Cancel;
            default:
                return request.buttons == PromptButtons::Ok         ? PromptAnswer::Ok
                       : request.buttons == PromptButtons::OkCancel ? PromptAnswer::Ok
                                                                    : PromptAnswer::Cancel;
        }
    }

  private:
    static QMessageBox::Icon IconOf(PromptIcon icon) {
        switch (icon) {
            case PromptIcon::Exclamation:
                return QMessageBox::Warning;
            case PromptIcon::Question:
                return QMessageBox::Question;
            case PromptIcon::Information:
                return QMessageBox::Information;
            case PromptIcon::Stop:
                return QMessageBox::Critical;
            case PromptIcon::None:
                break;
        }
        return QMessageBox::NoIcon;
    }
};

MessageBoxAnswerer& RealAnswerer() {
    static MessageBoxAnswerer answerer;
    return answerer;
}

PromptAnswerer* g_answerer = nullptr;

}  // namespace

PromptAnswer PromptService::Show(QWidget* parent, const QString& text, PromptButtons buttons,
                                 PromptIcon icon) {
    const PromptRequest request{text, buttons, icon};
    PromptAnswerer* answerer = g_answerer ? g_answerer : &RealAnswerer();
    return answerer->Answer(parent, request);
}

void PromptService::SetAnswerer(PromptAnswerer* answerer) {
    g_answerer = answerer;
}

PromptIcon PromptService::EffectiveIcon(const PromptRequest& request) {
    return request.icon == PromptIcon::None ? PromptIcon::Exclamation : request.icon;
}

}  // namespace orvane
