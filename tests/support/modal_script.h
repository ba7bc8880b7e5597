#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <typeinfo>
#include <vector>

namespace orvane::test {

// Answers modal dialogs as they open, in order: each step names the dialog class it expects
// and what to do with it. Polls the active modal widget, so it works however deeply the
// program nests its dialogs. A dialog of an unexpected class is rejected and recorded.
class ModalScript : public QObject {
  public:
    ModalScript() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, &ModalScript::Poll);
        timer_.start();
    }

    template <typename D>
    ModalScript& Then(std::function<void(D*)> act) {
        steps_.push_back([act](QDialog* dialog) {
            D* typed = qobject_cast<D*>(dialog);
            if (typed) {
                act(typed);
            }
            return typed != nullptr;
        });
        return *this;
    }

    bool finished() const { return next_ == steps_.size(); }
    int unexpected() const { return unexpected_; }

  private:
    void Poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        // A QPointer, not an address: the next dialog may be built where the last one was.
        if (!dialog || dialog == last_.data()) {
            return;
        }
        last_ = dialog;
        if (next_ < steps_.size() && steps_[next_](dialog)) {
            ++next_;
            return;
        }
        ++unexpected_;
        dialog->reject();
    }

    QTimer timer_;
    std::vector<std::function<bool(QDialog*)>> steps_;
    std::size_t next_ = 0;
    int unexpected_ = 0;
    QPointer<QDialog> last_;
};

}  // namespace orvane::test
