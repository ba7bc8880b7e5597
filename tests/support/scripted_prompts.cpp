#include "support/scripted_prompts.h"

namespace orvane::test {

QStringList ScriptedPrompts::texts() const {
    QStringList result;
    for (const auto& request : shown_) {
        result << request.text;
    }
    return result;
}

PromptAnswer ScriptedPrompts::Answer(QWidget* parent, const PromptRequest& request) {
    shown_.push_back(request);
    parents_.emplace_back(parent);
    if (!script_.empty()) {
        const PromptAnswer answer = script_.front();
        script_.pop_front();
        return answer;
    }
    switch (request.buttons) {
        case PromptButtons::YesNo:
        case PromptButtons::YesNoCancel:
            return PromptAnswer::Yes;
        default:
            return PromptAnswer::Ok;
    }
}

}  // namespace orvane::test
