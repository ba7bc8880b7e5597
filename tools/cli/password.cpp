#include "password.h"

#include <QFile>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace orvane::cli {
namespace {

// What the signal handler needs to give the terminal its echo back.
int g_terminal = -1;
termios g_saved{};
constexpr std::array<int, 4> kEndingSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreEchoAndEnd(int signal) {
    ::tcsetattr(g_terminal, TCSAFLUSH, &g_saved);
    [[maybe_unused]] const auto written = ::write(g_terminal, "\n", 1);
    // The handler was reset to the default on entry: the signal ends the program as it would
    // have, once this handler returns and it is no longer blocked.
    ::raise(signal);
}

// The echo is off while it lives; a signal that ends the program puts it back first.
class EchoOff {
  public:
    explicit EchoOff(int terminal) {
        if (::tcgetattr(terminal, &g_saved) != 0) {
            return;
        }
        g_terminal = terminal;
        for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
            struct sigaction action {};
            action.sa_handler = RestoreEchoAndEnd;
            action.sa_flags = SA_RESETHAND;
            sigemptyset(&action.sa_mask);
            ::sigaction(kEndingSignals[i], nullptr, &previous_[i]);
            // A signal ignored when the program started (nohup) stays ignored.
            if (previous_[i].sa_handler != SIG_IGN) {
                ::sigaction(kEndingSignals[i], &action, nullptr);
            }
        }
        termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ok_ = ::tcsetattr(terminal, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (g_terminal < 0) {
            return;
        }
        ::tcsetattr(g_terminal, TCSAFLUSH, &g_saved);
        for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
            ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
        }
        g_terminal = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    bool ok() const { return ok_; }

  private:
    std::array<struct sigaction, kEndingSignals.size()> previous_{};
    bool ok_ = false;
};

}  // namespace

std::optional<QString> ReadPasswordFile(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray line = file.readLine();
    if (line.isEmpty() && file.error() != QFileDevice::NoError) {
        error =
            QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    return QString::fromLocal8Bit(line);
}

std::optional<QString> AskPassword(QString& error) {
    if (!::isatty(STDIN_FILENO)) {
        return std::nullopt;
    }
    // The controlling terminal, where the prompt goes even when stderr is a file.
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    const int terminal = tty >= 0 ? tty : STDIN_FILENO;
    const int prompt = tty >= 0 ? tty : STDERR_FILENO;
    QByteArray typed;
    {
        const EchoOff echoOff(terminal);
        const auto failed = [&error](const char* what) {
            error = QStringLiteral("cannot %1: %2")
                        .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        };
        if (!echoOff.ok()) {
            failed("turn the terminal's echo off");
        } else if (::write(prompt, "Password: ", 10) != 10) {
            failed("ask for the password");
        } else {
            char c = 0;
            ssize_t n = 0;
            while ((n = ::read(terminal, &c, 1)) == 1 && c != '\n') {
                typed.append(c);
            }
            if (n < 0) {
                failed("read the password");
            }
        }
    }
    if (tty >= 0) {
        ::close(tty);
    }
    if (!error.isEmpty()) {
        return std::nullopt;
    }
    if (typed.endsWith('\r')) {
        typed.chop(1);
    }
    return QString::fromLocal8Bit(typed);
}

PasswordResult FindPassword(const PasswordSources& sources) {
    PasswordResult result;
    if (sources.option) {
        result.password = sources.option;
    } else if (sources.file) {
        result.password = ReadPasswordFile(*sources.file, result.error);
    } else if (qEnvironmentVariableIsSet("ORVANE_PASSWORD")) {
        result.password = qEnvironmentVariable("ORVANE_PASSWORD");
    } else {
        result.password = AskPassword(result.error);
    }
    return result;
}

}  // namespace orvane::cli
