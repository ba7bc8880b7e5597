// How the built orvane program starts, run as the child processes it is: its command line, a
// start without a display, and one program per settings store.
#include "store/single_instance.h"
#include "support/media_samples.h"
#include "support/program_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

class AppStartTest : public testing::Test {
  protected:
    AppStartTest() {
        env.insert("ORVANE_REGISTRY", store);
        env.insert("XDG_STATE_HOME", folder.path() + "/state");
        env.insert("QT_QPA_PLATFORM", "offscreen");
    }

    test::ProgramRun Run(const QStringList& arguments) const {
        return test::RunProgram(ORVANE_APP_BINARY, arguments, env);
    }
    // Starts the program and waits until its stderr says it listens; seen keeps all of it.
    bool StartListening(QProcess& process, const QStringList& arguments) {
        process.setProcessEnvironment(env);
        process.start(ORVANE_APP_BINARY, arguments);
        seen.clear();
        return WaitForOutput(process, "listens for other starts");
    }
    bool WaitForOutput(QProcess& process, const QString& text) {
        process.setReadChannel(QProcess::StandardError);
        do {
            seen += QString::fromLocal8Bit(process.readAllStandardError());
        } while (!seen.contains(text) && process.waitForReadyRead(10000));
        return seen.contains(text);
    }

    QTemporaryDir folder;
    QString store = folder.path() + "/settings/registry.sqlite3";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString seen;
};

// A start that cannot run says why in its one line and ends with its status: a usage error
// with 2, no display (none named, or one that cannot be reached) with 1 and without Qt's
// advice to reinstall.
TEST_F(AppStartTest, AStartThatCannotRunSaysWhyAndEndsWithItsStatus) {
    const test::ProgramRun usage = Run({"-platform", "offscreen", "--bogus", "/Automation"});
    EXPECT_EQ(usage.code, 2);
    EXPECT_EQ(usage.err, "orvane: unknown argument '--bogus'. Try 'orvane --help'.\n");
    QProcessEnvironment none = env;
    for (const QString name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        none.remove(name);
    }
    QProcessEnvironment unreachable = none;
    unreachable.insert("DISPLAY", ":4093");
    for (const QProcessEnvironment& environment : {none, unreachable}) {
        SCOPED_TRACE(environment.value("DISPLAY", "no display").toStdString());
        const test::ProgramRun run = test::RunProgram(ORVANE_APP_BINARY, {}, environment);
        EXPECT_EQ(run.code, 1);
        EXPECT_TRUE(run.err.contains("orvane: Orvane needs a graphical display") &&
                    !run.err.contains("Reinstalling"))
            << run.err.toStdString();
    }
}

TEST_F(AppStartTest, ASecondStartHandsItsClipsToTheFirstAndEnds) {
    const QString clip = QFileInfo(test::MediaSample("fc_mjpeg.avi")).canonicalFilePath();
    QProcess first;
    ASSERT_TRUE(StartListening(first, {"-platform", "offscreen", "/Embedding"}))
        << seen.toStdString();
    const test::ProgramRun second = Run({clip});
    EXPECT_TRUE(second.code == 0 && second.err.contains("Orvane already runs on"))
        << second.err.toStdString();
    EXPECT_TRUE(WaitForOutput(first, "opens the clip " + clip)) << seen.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // A crash leaves its lock file and its socket behind; neither holds the next start back.
    // A start whose environment names another runtime folder (su, ssh) finds the holder too.
    first.kill();
    first.waitForFinished();
    QProcess next;
    ASSERT_TRUE(StartListening(next, {"/Embedding"})) << seen.toStdString();
    QProcessEnvironment elsewhere = env;
    elsewhere.insert("XDG_RUNTIME_DIR", folder.path());
    EXPECT_EQ(test::RunProgram(ORVANE_APP_BINARY, {}, elsewhere).code, 0);
    EXPECT_TRUE(WaitForOutput(next, "hands over 0 clip(s)")) << seen.toStdString();
    next.terminate();
    EXPECT_TRUE(next.waitForFinished(10000) && next.exitCode() == 0);

    // A holder that never answers keeps the second start from running.
    const StoreLock held(CanonicalStorePath(store.toStdString()));
    ASSERT_EQ(held.state(), StoreLock::State::Held);
    const test::ProgramRun run = Run({});
    EXPECT_TRUE(run.code == 1 &&
                run.err.contains("holds the settings store " + store + " but does not answer"))
        << run.err.toStdString();
}

// A desktop's dotfiles often reach the store through a link to the folder or to the file itself;
// every way of naming the one file is one store, with one lock.
TEST(StoreLockTest, EveryNameOfOneStoreTakesTheSameLock) {
    const QTemporaryDir folder;
    const QString real = folder.path() + "/real";
    ASSERT_TRUE(QDir().mkpath(real));
    const QString store = real + "/registry.sqlite3";
    ASSERT_TRUE(QFile::link(real, folder.path() + "/folder-link"));
    ASSERT_TRUE(QFile::link(store, folder.path() + "/file-link.sqlite3"));
    ASSERT_TRUE(QFile::link("real/registry.sqlite3", folder.path() + "/relative-link.sqlite3"));
    ASSERT_TRUE(QFile::link(folder.path() + "/file-link.sqlite3", folder.path() + "/link-to-link"));
    for (const bool storeExists : {false, true}) {
        if (storeExists) {
            QFile file(store);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        const StoreLock held(CanonicalStorePath(store.toStdString()));
        ASSERT_EQ(held.state(), StoreLock::State::Held);
        for (const char* name : {"folder-link/registry.sqlite3", "real/../real/registry.sqlite3",
                                 "file-link.sqlite3", "relative-link.sqlite3", "link-to-link"}) {
            SCOPED_TRACE(testing::Message() << name << (storeExists ? "" : ", store not made yet"));
            const StoreLock other(CanonicalStorePath((folder.path() + "/" + name).toStdString()));
            EXPECT_EQ(other.state(), StoreLock::State::HeldByOther);
        }
    }
}

}  // namespace
}  // namespace orvane
