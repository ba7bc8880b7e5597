// The log file: how it rotates, what a line holds, what reaches it, and what never does.
#include "common/log.h"
#include "common/message_log.h"
#include "identify_server.h"
#include "store/store_location.h"
#include "support/scoped_env.h"
#include "support/simulated_link.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ranges>

namespace orvane {
namespace {

Q_LOGGING_CATEGORY(lcQtLike, "qt.orvane.test")

QStringList g_terminal;  // what reached the terminal

// A log folder of the test's own, and a link for what a connect logs.
class LogFileTest : public test::SessionLink {
  protected:
    QString Read(const QString& name = "orvane.log") const {
        QFile file(folder + "/" + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir state;
    test::ScopedEnv stateHome{"XDG_STATE_HOME", state.path().toUtf8()};
    QString folder = state.path() + "/Quillmar-Brakken";
};

TEST_F(LogFileTest, KeepsFiveFilesOfAtMostTheLimit) {
    constexpr int kLines = 400;  // about 10 files' worth
    {
        LogFile file(LogFilePath(), 2000);
        for (int i = 0; i < kLines; ++i) {
            file.Append(QtInfoMsg, "orvane.app", QStringLiteral("line %1").arg(i));
        }
    }
    const QStringList names{"orvane.log", "orvane.log.1", "orvane.log.2", "orvane.log.3",
                            "orvane.log.4"};
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name), names);
    // From the oldest file to the newest, the kept lines run on without a gap to the last.
    QStringList lines;
    for (const QString& name : names | std::views::reverse) {
        EXPECT_LE(Read(name).toUtf8().size(), 2000) << name.toStdString();
        lines += Read(name).split('\n', Qt::SkipEmptyParts);
    }
    ASSERT_GT(lines.size(), 100);
    for (int k = 0; k < lines.size(); ++k) {
        ASSERT_TRUE(lines[k].endsWith(QStringLiteral(" line %1").arg(kLines - lines.size() + k)))
            << lines[k].toStdString();
    }
}

TEST_F(LogFileTest, TakesOurMessagesAndQtWarningsWhateverTheTerminalShows) {
    const struct {
        const char* rules;
        QtMsgType type;
        const QLoggingCategory& category;
        const char* text;
        bool inFile, onTerminal;
    } cases[] = {
        {"", QtInfoMsg, lcSite(), "site info on both", true, true},
        {"orvane.site.info=false", QtInfoMsg, lcSite(), "site info in the file alone", true, false},
        {"orvane.media.debug=false", QtDebugMsg, lcMedia(), "media debug nowhere", false, false},
        {"", QtWarningMsg, lcQtLike(), "Qt's warning on both", true, true},
        {"", QtInfoMsg, lcQtLike(), "Qt's info on the terminal alone", false, true},
    };
    const QtMessageHandler guard = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { g_terminal << text; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        g_terminal.clear();
        QLoggingCategory::setFilterRules(QString::fromLatin1(c.rules));
        {
            const MessageLog log(LogFilePath());  // made after the rules, as at start-up
            QMessageLogger logger;
            (c.type == QtInfoMsg    ? logger.info(c.category)
             : c.type == QtDebugMsg ? logger.debug(c.category)
                                    : logger.warning(c.category))
                << c.text;
        }
        EXPECT_EQ(Read().contains(c.text), c.inFile);
        EXPECT_EQ(g_terminal.contains(c.text), c.onTerminal);
    }
    QLoggingCategory::setFilterRules({});
    qInstallMessageHandler(guard);
    // A line: the local time to the millisecond, the category, the kind, the text.
    const QRegularExpression line(
        R"((?m)^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} orvane\.site info: site info on both$)");
    EXPECT_TRUE(line.match(Read()).hasMatch()) << Read().toStdString();
}

TEST_F(LogFileTest, HoldsTheConnectButNeverAPasswordOrAnIdCode) {
    constexpr const char* kPassword = "Zq7-never-logged";
    constexpr const char* kIdCode = "SITE7Q9W2";
    MessageLog log(LogFilePath());
    sim::SiteSimulatorOptions options;
    options.accounts = {{"admin", kPassword}};
    const auto site = test::StartSite(options);
    sim::IdentifyServer identify;
    identify.AddSite(kIdCode, "127.0.0.1");
    ASSERT_TRUE(identify.Listen(QHostAddress::LocalHost, 0));
    settings.WriteProfileInt("Net", "IdentifyPort", identify.port());
    settings.WriteProfileString("Net", "IdentifyPrimary", "127.0.0.1");
    settings.WriteProfileString("Call", "PassWord", kPassword);

    ASSERT_EQ(session.ResolveIdCode(kIdCode).address, "127.0.0.1");
    ASSERT_TRUE(ConnectTo(*site));
    log.Flush();

    const QString text = Read();
    EXPECT_TRUE(text.contains("orvane.site info: connected to \"127.0.0.1\" port"))
        << text.toStdString();
    EXPECT_FALSE(text.contains(kPassword)) << text.toStdString();
    EXPECT_FALSE(text.contains(kIdCode)) << text.toStdString();
}

// Every tool finds the log and the store from these two; a relative base folder would move them
// with the folder a tool was started in, so it is ignored as desktops ignore it.
TEST(BaseFolders, ARelativeOrEmptyBaseFolderFallsBackToTheHomeFolder) {
    const test::ScopedEnv home{"HOME", "/home/op"};
    const test::ScopedEnv noRegistry{"ORVANE_REGISTRY", ""};
    const struct {
        QByteArray value;
        std::string config, state;
    } cases[] = {
        {"/x", "/x", "/x"},
        {"", "/home/op/.config", "/home/op/.local/state"},
        {"./rel", "/home/op/.config", "/home/op/.local/state"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        const test::ScopedEnv config{"XDG_CONFIG_HOME", c.value};
        const test::ScopedEnv state{"XDG_STATE_HOME", c.value};
        EXPECT_EQ(KeyStorePath(), c.config + "/Quillmar-Brakken/registry.sqlite3");
        EXPECT_EQ(LogFilePath(), c.state + "/Quillmar-Brakken/orvane.log");
    }
}

}  // namespace
}  // namespace orvane
