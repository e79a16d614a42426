// The single-instance lock: one instance per metadata folder whatever the
// launches' environment; a second launch asks the first to show its window
// and leaves; a quit or a crash hands the folder to the next launch; a lock
// that cannot be made is told apart from one that is held.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <filesystem>
#include <fstream>

#include "platform/SingleInstance.h"
#include "tests/GuiTestSupport.h"

using vorel::platform::SingleInstance;
using vorel::test::EnvVar;
using vorel::test::TempDir;
using vorel::test::waitFor;
using Claim = SingleInstance::Claim;
namespace fs = std::filesystem;

namespace {

QString q(const fs::path& p) { return QString::fromStdString(p.string()); }

// A metadata folder of its own, and the number of times the instance that
// claimed it was asked to show its window.
class SingleInstanceTest : public ::testing::Test {
protected:
    void countShows(SingleInstance& s) { QObject::connect(&s, &SingleInstance::showRequested, [this] { ++shows; }); }
    TempDir dir;
    fs::path folder = dir.path() / "Vorel";
    int shows = 0;
};

}  // namespace

TEST_F(SingleInstanceTest, EveryLaterLaunchOnTheFolderAsksTheFirstToShowWhateverItsTempFolder) {
    SingleInstance first(q(folder));
    ASSERT_EQ(first.claim(), Claim::Primary);
    EXPECT_TRUE(fs::exists(folder / ".metadata.lock"));
    countShows(first);
    // A stranger's message on the socket is not a request.
    QLocalSocket stranger;
    stranger.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    stranger.connectToServer(first.serverName());
    ASSERT_TRUE(stranger.waitForConnected(2000));
    stranger.write("hello\n");
    stranger.waitForBytesWritten(2000);
    stranger.disconnectFromServer();
    vorel::test::spin(100);
    EXPECT_EQ(shows, 0);

    // Each later launch has a temporary folder of its own (or an unusable
    // one) and spells the metadata folder its own way.
    dir.write("plain-file", "");
    fs::create_directory(dir.path() / "tmp2");
    fs::create_directory_symlink(folder, dir.path() / "link");
    const struct {
        std::string tmpdir;
        fs::path folder;
    } launches[] = {
        {(dir.path() / "tmp2").string(), folder},
        {(dir.path() / "plain-file").string(), folder.string() + "/"},
        {"/nonexistent-tmp", dir.path() / "link"},
    };
    int launch = 0;
    for (const auto& l : launches) {
        EnvVar tmp("TMPDIR", l.tmpdir);
        SingleInstance later(q(l.folder));
        EXPECT_EQ(later.claim(), Claim::AnotherRuns) << l.tmpdir;
        EXPECT_TRUE(later.reachedRunningInstance()) << l.tmpdir;
        EXPECT_FALSE(later.isPrimary());
        ++launch;
        ASSERT_TRUE(waitFor([&] { return shows == launch; })) << l.tmpdir;
    }
    EXPECT_TRUE(first.isPrimary());

    // Another folder is another instance.
    SingleInstance other(q(dir.path() / "Other"));
    EXPECT_EQ(other.claim(), Claim::Primary);
    EXPECT_NE(other.serverName(), first.serverName());
}

TEST_F(SingleInstanceTest, TheNextLaunchTakesOverAfterAQuitOrACrash) {
    EXPECT_EQ(SingleInstance(q(folder)).claim(), Claim::Primary);
    // The lock file is left behind, as after a crash, with whatever in it.
    std::ofstream(folder / ".metadata.lock") << "4242\nvorel\n";
    SingleInstance next(q(folder));
    ASSERT_EQ(next.claim(), Claim::Primary);
    countShows(next);
    // The new instance listens: later launches reach it.
    SingleInstance later(q(folder));
    EXPECT_EQ(later.claim(), Claim::AnotherRuns);
    EXPECT_TRUE(waitFor([&] { return shows == 1; }));
}

TEST_F(SingleInstanceTest, ALockThatCannotBeMadeIsNotTakenForARunningInstance) {
    dir.write("plain-file", "");
    const struct {
        fs::path folder;
        const char* reason;
    } unusable[] = {
        {dir.path() / "plain-file", "Not a directory"},
        {dir.path() / "plain-file" / "Vorel", "Not a directory"},
        {"", "no home folder"},
    };
    for (const auto& u : unusable) {
        SingleInstance s(q(u.folder));
        EXPECT_EQ(s.claim(), Claim::Unlocked) << u.folder;
        EXPECT_FALSE(s.isPrimary());
        EXPECT_TRUE(s.lockError().contains(QString::fromUtf8(u.reason))) << s.lockError().toStdString();
    }

    // A folder that became read-only still locks with the file already
    // there; without it, the lock cannot be made (permission bits do not
    // stop the superuser).
    EXPECT_EQ(SingleInstance(q(folder)).claim(), Claim::Primary);
    fs::permissions(folder, fs::perms(0555));
    {
        SingleInstance readOnly(q(folder));
        EXPECT_EQ(readOnly.claim(), Claim::Primary);
        EXPECT_EQ(SingleInstance(q(folder)).claim(), Claim::AnotherRuns);
    }
    fs::permissions(folder, fs::perms(0755));
    if (::geteuid() != 0) {
        fs::remove(folder / ".metadata.lock");
        fs::permissions(folder, fs::perms(0555));
        SingleInstance noFile(q(folder));
        EXPECT_EQ(noFile.claim(), Claim::Unlocked);
        EXPECT_TRUE(noFile.lockError().contains(QStringLiteral("Permission denied"))) << noFile.lockError().toStdString();
        fs::permissions(folder, fs::perms(0755));
    }
}

TEST_F(SingleInstanceTest, ARunAsRootLeavesTheLockFileToTheFoldersOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    // A lock file a run as root made, or left, in the user's folder is the
    // user's afterwards: theirs could not open it otherwise.
    fs::create_directories(folder);
    ASSERT_EQ(::chown(folder.c_str(), 4242, 4343), 0);
    const fs::path lock = folder / ".metadata.lock";
    std::ofstream(lock).put('\n');
    for (int run = 0; run < 2; ++run) {  // left over, then made anew
        {
            SingleInstance s(q(folder));
            EXPECT_EQ(s.claim(), Claim::Primary);
        }
        struct stat st {};
        ASSERT_EQ(::stat(lock.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4242u) << run;
        EXPECT_EQ(st.st_gid, 4343u) << run;
        fs::remove(lock);
    }
}
