#pragma once

#include <QDBusConnection>
#include <QObject>

#include <optional>

namespace orvane {

// Keeps the screensaver and screen blanking away while wanted, through
// org.freedesktop.ScreenSaver (Inhibit -> cookie, UnInhibit(cookie)) on the session bus.
// Asynchronous: nothing waits for the bus, and without a bus or the service nothing fails.
class ScreenInhibitor : public QObject {
    Q_OBJECT
  public:
    explicit ScreenInhibitor(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);
    ~ScreenInhibitor() override;

    // Wanted on: inhibit (once); off: release. Repeating the same value does nothing.
    void SetWanted(bool wanted);
    bool wanted() const { return wanted_; }
    // The desktop has granted the inhibit and it is held.
    bool held() const { return cookie_.has_value(); }

    static constexpr char kService[] = "org.freedesktop.ScreenSaver";
    static constexpr char kPath[] = "/org/freedesktop/ScreenSaver";

  private:
    void Inhibit();
    void Release();

    QDBusConnection bus_;
    bool wanted_ = false;
    bool asking_ = false;  // an Inhibit is on its way
    std::optional<uint> cookie_;
    bool toldUnavailable_ = false;
};

}  // namespace orvane
