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
    QStringList texts() const;

    PromptAnswer Answer(QWidget* parent, const PromptRequest& request) override;

  private:
    std::deque<PromptAnswer> script_;
    std::vector<PromptRequest> shown_;
    std::vector<QPointer<QWidget>> parents_;
};

}  // namespace orvane::test
