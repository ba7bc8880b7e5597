#include "common/quit_signals.h"

#include "common/log.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace orvane {
namespace {

// The write end the handler uses; -1 while no instance holds the handlers. A lock-free
// atomic is safe to read in a signal handler.
std::atomic<int> g_writeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void OnQuitSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = g_writeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        // A full pair means quits are already waiting; dropping this one loses nothing.
        const auto byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

const char* SignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "unknown signal";
    }
}

}  // namespace

QuitSignals::Descriptor::~Descriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
    installed_ = Install();
}

QuitSignals::~QuitSignals() {
    if (installed_) {
        // Handlers first: none may run once the descriptor it writes to is closed.
        RestoreHandlers(kSignals.size());
        g_writeFd.store(-1);
    }
}

bool QuitSignals::Install() {
    std::array<int, 2> fds{-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds.data()) != 0) {
        qCWarning(lcApp) << "cannot create the quit signal pair:" << std::strerror(errno);
        return false;
    }
    readEnd_ = std::make_unique<Descriptor>(fds[0]);
    writeEnd_ = std::make_unique<Descriptor>(fds[1]);

    int expected = -1;
    if (!g_writeFd.compare_exchange_strong(expected, writeEnd_->get())) {
        qCWarning(lcApp) << "quit signal handlers are already installed";
        return false;
    }

    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    // While one quit signal is handled the others wait, so the handler never nests; system
    // calls it interrupts carry on.
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kSignals) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        // A hang-up ignored by whoever started us (nohup) stays ignored: the program was
        // asked to outlive its terminal.
        if (kSignals[i] == SIGHUP && ::sigaction(SIGHUP, nullptr, &previous_[i]) == 0 &&
            !(previous_[i].sa_flags & SA_SIGINFO) && previous_[i].sa_handler == SIG_IGN) {
            qCInfo(lcApp) << "SIGHUP is ignored, as it was when the program started";
            continue;
        }
        if (::sigaction(kSignals[i], &action, &previous_[i]) != 0) {
            qCWarning(lcApp) << "cannot handle" << SignalName(kSignals[i]) << ":"
                             << std::strerror(errno);
            RestoreHandlers(i);
            g_writeFd.store(-1);
            return false;
        }
    }

    notifier_ = std::make_unique<QSocketNotifier>(readEnd_->get(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitSignals::OnReadable);
    return true;
}

void QuitSignals::RestoreHandlers(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
}

void QuitSignals::OnReadable() {
    unsigned char byte = 0;
    if (::read(readEnd_->get(), &byte, 1) != 1) {
        return;
    }
    const int signalNumber = byte;
    qCInfo(lcApp) << "quit requested by" << SignalName(signalNumber);
    // A receiver may run a nested event loop (a dialog, a reconnect pause); a signal arriving
    // meanwhile waits in the pair until this delivery is over instead of re-entering it.
    notifier_->setEnabled(false);
    const QPointer<QuitSignals> self(this);
    emit quitRequested(signalNumber);
    if (self) {
        notifier_->setEnabled(true);
    }
}

}  // namespace orvane
