#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace orvane::test {

// Sets an environment variable for its lifetime, then puts back what was there.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), previous_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() { had_ ? qputenv(name_, previous_) : qunsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    bool had_;
    QByteArray previous_;
};

}  // namespace orvane::test
