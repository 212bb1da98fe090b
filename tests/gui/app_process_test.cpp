// The program as a process: one copy per user, and a clean exit that deletes the scratch
// database.

#include <gtest/gtest.h>
#include <net/if.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "gui_test_support.h"
#include "support/program_folder.h"
#include "system/single_instance.h"

namespace {

// The program in a folder of its own, where it makes its database.
struct Program : fd::test::ProgramFolder {
    Program() : ProgramFolder("fielddesk") {}
    QString Path() const { return QString::fromStdString(ProgramFolder::Program()); }
    QString Database() const { return QString::fromStdString(ProgramFolder::Path("data.mdb")); }
};

QProcessEnvironment EnvWithRuntimeDir(const QString& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

// Only loopback exists: an isolated network namespace, where the engine may broadcast.
// (if_nameindex asks the kernel of our own namespace; /sys may show the host's.)
bool InIsolatedNetwork() {
    struct if_nameindex* list = if_nameindex();
    if (list == nullptr) return false;
    bool onlyLoopback = true;
    for (struct if_nameindex* i = list; i->if_index != 0; ++i) {
        if (std::strcmp(i->if_name, "lo") != 0) onlyLoopback = false;
    }
    if_freenameindex(list);
    return onlyLoopback;
}

TEST(AppProcess, ScreenshotWorksWhileAnotherCopyHoldsTheLock) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    const QString shot = runtime.path() + "/shot.png";
    // The running copy holds the lock (here: this test, through the same lock file).
    fd::SingleInstanceLock first;
    ASSERT_EQ(first.Acquire("Norvu_FieldDesk", runtime.path().toStdString()),
              fd::SingleInstanceLock::Result::Acquired);
    const Program program;
    ASSERT_TRUE(program.Ok()) << program.Error();
    QProcess picture;
    picture.setProcessEnvironment(EnvWithRuntimeDir(runtime.path()));
    picture.start(program.Path(), {"--screenshot", shot, "--page", "8"});
    ASSERT_TRUE(picture.waitForFinished(60000));
    EXPECT_EQ(picture.exitCode(), 0) << picture.readAllStandardError().toStdString();
    EXPECT_EQ(QImage(shot).size(), QSize(1260, 780));

    // On a small screen the picture shows the window as it would open there.
    ASSERT_TRUE(QFile::remove(shot));
    picture.start(program.Path(), {"--screenshot", shot, "--page", "1", "--screen", "1366x728"});
    ASSERT_TRUE(picture.waitForFinished(60000));
    EXPECT_EQ(picture.exitCode(), 0) << picture.readAllStandardError().toStdString();
    EXPECT_EQ(QImage(shot).size(), QSize(1260, 728));
}

TEST(AppProcess, SecondCopyExitsSilentlyAndANewOneStartsAfterTheFirst) {
    // A second copy that failed to see the first would start the protocol engine.
    if (!InIsolatedNetwork()) {
        GTEST_SKIP() << "may run the protocol engine: only inside an isolated network namespace";
    }
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    fd::SingleInstanceLock first;
    ASSERT_EQ(first.Acquire("Norvu_FieldDesk", runtime.path().toStdString()),
              fd::SingleInstanceLock::Result::Acquired);
    const Program program;
    ASSERT_TRUE(program.Ok()) << program.Error();
    QProcess second;
    second.setProcessEnvironment(EnvWithRuntimeDir(runtime.path()));
    second.start(program.Path(), {});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    // It never got as far as its database.
    EXPECT_FALSE(QFile::exists(program.Database()));
}

TEST(AppProcess, NormalExitDeletesTheDatabase) {
    if (!InIsolatedNetwork()) {
        GTEST_SKIP() << "runs the protocol engine: only inside an isolated network namespace";
    }
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    const Program program;
    ASSERT_TRUE(program.Ok()) << program.Error();
    const QString db = program.Database();
    QProcess app;
    app.setProcessEnvironment(EnvWithRuntimeDir(runtime.path()));
    app.start(program.Path(), {});
    ASSERT_TRUE(app.waitForStarted(60000));
    // The store creates the file while the program comes up.
    EXPECT_TRUE(fdtest::WaitFor([&] { return QFile::exists(db); }, 60000));
    app.terminate();  // SIGTERM: closes the main window the normal way
    ASSERT_TRUE(app.waitForFinished(60000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(db));
}

}  // namespace
