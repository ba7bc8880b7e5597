#pragma once

#include <QString>
#include <QtGlobal>

namespace orvane::test {

// Makes every warning of an "orvane.*" category, and every critical or fatal message of any
// category, fail the running test, unless the test declared it with ExpectedMessage. Qt's own
// warnings stay warnings: they are printed, as before, by the handler installed earlier.
void InstallMessageGuard();

// Declares, for its lifetime, a message the running test provokes on purpose: messages of
// this type and category whose text contains `fragment` pass without failing the test. The
// declaration fails the test when no such message came, so it cannot outlive its reason.
class ExpectedMessage {
  public:
    enum class Occurrence { AtLeastOnce, Optional };

    ExpectedMessage(QtMsgType type, const char* category, QString fragment,
                    Occurrence occurrence = Occurrence::AtLeastOnce);
    ~ExpectedMessage();
    ExpectedMessage(const ExpectedMessage&) = delete;
    ExpectedMessage& operator=(const ExpectedMessage&) = delete;

    int seen() const;
    // Counts the message when it is this one; the guard calls it under its lock.
    bool Claim(QtMsgType type, const char* category, const QString& text);

  private:
    QtMsgType type_;
    QString category_, fragment_;
    Occurrence occurrence_;
    int seen_ = 0;
};

}  // namespace orvane::test
