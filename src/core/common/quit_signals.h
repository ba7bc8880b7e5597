#pragma once

#include <QObject>

#include <array>
#include <csignal>
#include <memory>

class QSocketNotifier;

namespace orvane {

// Turns SIGTERM, SIGINT and SIGHUP into the Qt signal quitRequested, delivered on the thread
// that created this object once its event loop runs; a SIGHUP ignored when the object is made
// (nohup) stays ignored. The handlers only write a byte to a
// socket pair, the one thing that is safe inside a signal handler; everything else happens in
// the event loop. One instance at a time holds the handlers; destroying it puts the earlier
// dispositions back.
class QuitSignals : public QObject {
    Q_OBJECT
  public:
    static constexpr std::array<int, 3> kSignals{SIGTERM, SIGINT, SIGHUP};

    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // False when the handlers could not be installed: another instance holds them, or the
    // system refused the socket pair or a handler. The signals then keep their dispositions.
    bool installed() const { return installed_; }

  signals:
    void quitRequested(int signalNumber);

  private:
    class Descriptor {
      public:
        Descriptor() = default;
        explicit Descriptor(int fd) : fd_(fd) {}
        ~Descriptor();
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        int get() const { return fd_; }

      private:
        int fd_ = -1;
    };

    bool Install();
    void RestoreHandlers(std::size_t count);
    void OnReadable();

    std::unique_ptr<Descriptor> readEnd_;
    std::unique_ptr<Descriptor> writeEnd_;
    // Declared after the descriptors so it goes before them: it watches readEnd_.
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<struct sigaction, kSignals.size()> previous_{};
    bool installed_ = false;
};

}  // namespace orvane
