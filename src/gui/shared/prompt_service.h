#pragma once

#include <QString>

class QWidget;

namespace orvane {

enum class PromptIcon { None, Exclamation, Question, Information, Stop };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No };

struct PromptRequest {
    QString text;
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
};

// Whoever answers prompts: real message boxes in the program, a script in tests.
class PromptAnswerer {
  public:
    virtual ~PromptAnswerer() = default;
    virtual PromptAnswer Answer(QWidget* parent, const PromptRequest& request) = 0;
};

// Every message box of the program goes through here: a modal box titled "Orvane". A box
// that names no icon gets the exclamation icon. The box belongs to the parent's top-level
// window, never to a child such as a video window, which the box's own event loop may see
// destroyed (a link that drops closes its windows) before it is answered; a question such a
// child asked goes with it, answered as not confirmed (No or Cancel).
class PromptService {
  public:
    static PromptAnswer Show(QWidget* parent, const QString& text,
                             PromptButtons buttons = PromptButtons::Ok,
                             PromptIcon icon = PromptIcon::None);

    // Installs another answerer (tests); nullptr brings the real message boxes back.
    static void SetAnswerer(PromptAnswerer* answerer);

    // The icon a request is shown with.
    static PromptIcon EffectiveIcon(const PromptRequest& request);
};

}  // namespace orvane
