#pragma once

#include "shared/prompt_service.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <deque>
#include <vector>

namespace orvane::test {

// Answers the program's message boxes without a modal loop while it lives: records every
// request and answers from a script, then with the box's first button (OK or Yes).
class ScriptedPrompts final : public PromptAnswerer {
  public:
    ScriptedPrompts() { PromptService::SetAnswerer(this); }
    ~ScriptedPrompts() override { PromptService::SetAnswerer(nullptr); }

    void Queue(PromptAnswer answer) { script_.push_back(answer); }
    const std::vector<PromptRequest>& shown() const { return shown_; }
    // The window each box was asked for over (null once that window is gone).
    const std::vector<QPointer<QWidget>>& parents() const { return parents_; }
    const QStringList& texts() const { return texts_; }

    PromptAnswer Answer(QWidget* parent, const PromptRequest& request) override {
        shown_.push_back(request);
        texts_ << request.text;
        parents_.emplace_back(parent);
        if (!script_.empty()) {
            const PromptAnswer answer = script_.front();
            script_.pop_front();
            return answer;
        }
        const bool yesNo = request.buttons == PromptButtons::YesNo ||
                           request.buttons == PromptButtons::YesNoCancel;
        return yesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }

  private:
    std::deque<PromptAnswer> script_;
    std::vector<PromptRequest> shown_;
    QStringList texts_;
    std::vector<QPointer<QWidget>> parents_;
};

}  // namespace orvane::test
