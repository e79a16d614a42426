// The single-instance lock: a second launch asks the first to show its
// window and leaves; a quit or a crash hands the name to the next launch.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSysInfo>
#include <QUuid>
#include <cstring>

#include "GuiTestSupport.h"
#include "SingleInstance.h"

using vorel::platform::SingleInstance;
using vorel::test::waitFor;

namespace {

// A name no other test or running application uses, and the number of
// times the instance that claimed it was asked to show its window.
class SingleInstanceTest : public ::testing::Test {
protected:
    void TearDown() override {
        QFile::remove(QDir::temp().filePath(name));
        QFile::remove(QDir::temp().filePath(name + QStringLiteral(".lock")));
    }
    void countShows(SingleInstance& s) { QObject::connect(&s, &SingleInstance::showRequested, [this] { ++shows; }); }
    QString name = QStringLiteral("vorel-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
    int shows = 0;
};

// What a crashed process leaves behind: a socket file nobody listens on ...
void leaveDeadSocket(const QString& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    ASSERT_LT(static_cast<size_t>(p.size()), sizeof(addr.sun_path));
    std::memcpy(addr.sun_path, p.constData(), static_cast<size_t>(p.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);  // makes the file
    ::close(fd);
}

// ... and a lock file naming a process that no longer exists.
void leaveDeadLock(const QString& path) {
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    ASSERT_TRUE(gone.waitForStarted());
    qint64 pid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished());
    QFile lock(path);
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid) + "\nvorel\n" + QSysInfo::machineHostName().toUtf8() + "\n");
}

}  // namespace

TEST_F(SingleInstanceTest, EveryLaterLaunchAsksTheFirstToShowItsWindowAndNothingElseDoes) {
    SingleInstance first(name);
    ASSERT_TRUE(first.claim());
    countShows(first);
    // A stranger's message on the socket is not a request.
    QLocalSocket stranger;
    stranger.connectToServer(name);
    ASSERT_TRUE(stranger.waitForConnected(2000));
    stranger.write("hello\n");
    stranger.waitForBytesWritten(2000);
    stranger.disconnectFromServer();
    vorel::test::spin(100);
    EXPECT_EQ(shows, 0);
    for (int launch = 1; launch <= 2; ++launch) {
        SingleInstance later(name);
        EXPECT_FALSE(later.claim());
        ASSERT_TRUE(waitFor([&] { return shows == launch; }));
    }
    EXPECT_TRUE(first.isPrimary());
}

TEST_F(SingleInstanceTest, TheNextLaunchTakesOverAfterAQuitOrACrash) {
    ASSERT_TRUE(SingleInstance(name).claim());
    EXPECT_TRUE(SingleInstance(name).claim());  // after a quit
    leaveDeadSocket(QDir::temp().filePath(name));
    leaveDeadLock(QDir::temp().filePath(name + QStringLiteral(".lock")));
    SingleInstance next(name);
    ASSERT_TRUE(next.claim());
    countShows(next);
    // The new instance listens on the name: later launches reach it.
    SingleInstance later(name);
    EXPECT_FALSE(later.claim());
    EXPECT_TRUE(waitFor([&] { return shows == 1; }));
}
