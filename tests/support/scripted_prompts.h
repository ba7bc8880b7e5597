#pragma once

#include "shared/prompt_service.h"

#include <QStringList>

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
    QStringList texts() const;

    PromptAnswer Answer(QWidget* parent, const PromptRequest& request) override;

  private:
    std::deque<PromptAnswer> script_;
    std::vector<PromptRequest> shown_;
};

}  // namespace orvane::test
