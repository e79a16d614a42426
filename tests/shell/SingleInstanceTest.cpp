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

#include "SingleInstance.h"
#include "GuiTestSupport.h"

using vorel::platform::SingleInstance;
using vorel::test::waitFor;

namespace {

// A name no other test or running application uses.
QString uniqueName() {
    return QStringLiteral("vorel-test-%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void TearDown() override {
        QFile::remove(QDir::temp().filePath(name));
        QFile::remove(QDir::temp().filePath(name + QStringLiteral(".lock")));
    }
    QString name = uniqueName();
};

// What a process that crashed leaves behind: a socket file nobody listens
// on.
void leaveDeadSocket(const QString& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    QByteArray p = QFile::encodeName(path);
    ASSERT_LT(static_cast<size_t>(p.size()), sizeof(addr.sun_path));
    std::memcpy(addr.sun_path, p.constData(), static_cast<size_t>(p.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));
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

TEST_F(SingleInstanceTest, SecondLaunchAsksTheFirstToShowItsWindow) {
    SingleInstance first(name);
    ASSERT_TRUE(first.claim());
    int shows = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&] { ++shows; });

    SingleInstance second(name);
    EXPECT_FALSE(second.claim());
    EXPECT_FALSE(second.isPrimary());
    ASSERT_TRUE(waitFor([&] { return shows == 1; }));

    // A third launch is turned away the same way.
    SingleInstance third(name);
    EXPECT_FALSE(third.claim());
    ASSERT_TRUE(waitFor([&] { return shows == 2; }));
    EXPECT_TRUE(first.isPrimary());
}

TEST_F(SingleInstanceTest, TheNextLaunchTakesOverAfterAQuitOrACrash) {
    {
        SingleInstance first(name);
        ASSERT_TRUE(first.claim());
    }
    {
        SingleInstance next(name);
        EXPECT_TRUE(next.claim());
    }

    leaveDeadSocket(QDir::temp().filePath(name));
    leaveDeadLock(QDir::temp().filePath(name + QStringLiteral(".lock")));
    SingleInstance next(name);
    ASSERT_TRUE(next.claim());
    int shows = 0;
    QObject::connect(&next, &SingleInstance::showRequested, [&] { ++shows; });
    // The new instance listens on the name: later launches reach it.
    SingleInstance later(name);
    EXPECT_FALSE(later.claim());
    EXPECT_TRUE(waitFor([&] { return shows == 1; }));
}

TEST_F(SingleInstanceTest, OtherMessagesDoNotShowTheWindow) {
    SingleInstance first(name);
    ASSERT_TRUE(first.claim());
    int shows = 0;
    QObject::connect(&first, &SingleInstance::showRequested, [&] { ++shows; });

    QLocalSocket stranger;
    stranger.connectToServer(name);
    ASSERT_TRUE(stranger.waitForConnected(2000));
    stranger.write("hello\n");
    stranger.waitForBytesWritten(2000);
    stranger.disconnectFromServer();
    vorel::test::spin(100);
    EXPECT_EQ(shows, 0);
}
