#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <ctime>
#include <functional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/CostSource.h"
#include "engine/FileTimes.h"
#include "engine/ParallelFor.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;
namespace fs = std::filesystem;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOREL_UNDER_SANITIZER 1
#endif
#endif

namespace {

// The listed paths relative to `root`.
std::vector<std::string> relative(const std::vector<TranscriptFile>& files, const fs::path& root) {
    std::vector<std::string> out;
    for (const TranscriptFile& f : files) out.push_back(fs::path(f.path).lexically_relative(root).string());
    return out;
}

// Lowers the limit on open file descriptors to at most `most` for a scope.
struct FewDescriptors {
    rlimit old{};
    explicit FewDescriptors(rlim_t most) {
        EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
        rlimit low = old;
        low.rlim_cur = std::min(old.rlim_cur, most);
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    }
    ~FewDescriptors() { ::setrlimit(RLIMIT_NOFILE, &old); }
};

// Leaves only `free` file descriptors to open for a scope.
struct DescriptorsLeft {
    FewDescriptors few{512};
    std::vector<int> spare;
    explicit DescriptorsLeft(int free) {
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) spare.push_back(fd);
        for (int i = 0; i < free && !spare.empty(); ++i, spare.pop_back()) ::close(spare.back());
    }
    ~DescriptorsLeft() {
        for (int fd : spare) ::close(fd);
    }
};

// The listing of `root` with one descriptor to spare, enough for the root
// alone: what it finds below is what the listing did not have to open.
std::vector<TranscriptFile> listedWithOneDescriptor(const fs::path& root) {
    DescriptorsLeft one(1);
    return listTranscripts(root.string());
}

// A folder opener that moves the folder `movedFolder` (by inode) from
// `moveFrom` to `moveTo` when the walk first opens ".." from inside it, and
// counts what it opens.
std::atomic<ino_t> movedFolder{0};
std::string moveFrom, moveTo;
std::atomic<int> namedOpens{0}, upOpens{0};

int movingOpener(int folder, const char* path, int flags) {
    if (std::string_view(path).starts_with("..")) {
        ++upOpens;
        struct stat st {};
        ino_t want = movedFolder.load();
        if (want != 0 && ::fstat(folder, &st) == 0 && st.st_ino == want && movedFolder.compare_exchange_strong(want, 0)) {
            EXPECT_EQ(::rename(moveFrom.c_str(), moveTo.c_str()), 0);
        }
    } else {
        ++namedOpens;
    }
    return ::openat(folder, path, flags);
}

// Writes folders s00 to s31 with a file each, enough at the top for each
// to be walked on its own, by opening folder after folder, and in s00 the
// folders p, q in p and r in q with a file each; what is written, in the
// order listed.
std::vector<std::string> writeWideTree(const TempDir& dir) {
    std::vector<std::string> written;
    for (int i = 0; i < 32; ++i) {
        const std::string name = (i < 10 ? "s0" : "s") + std::to_string(i) + "/f.jsonl";
        dir.write(name, "");
        written.push_back(name);
        if (i > 0) continue;
        for (const char* inner : {"s00/p/q/r/x.jsonl", "s00/p/q/z.jsonl", "s00/p/w.jsonl"}) {
            dir.write(inner, "");
            written.push_back(inner);
        }
    }
    return written;
}

// A folder opener that frees descriptor 0 (held until then) just before it
// opens `zeroAt`, which so gets descriptor 0.
std::string zeroAt;
std::atomic<bool> zeroFreed{false};

int zeroFreeingOpener(int folder, const char* path, int flags) {
    if (path == zeroAt && !zeroFreed.exchange(true)) ::close(0);
    return ::openat(folder, path, flags);
}

// Threads the system refuses: a listing walks on the calling thread alone.
std::thread refusedThread(std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

}  // namespace

TEST(TranscriptListing, DescriptorZeroIsAFolderLikeAnyOther) {
    // On one thread, so that which folders get descriptor 0 is known: p
    // first, then each one opened while 0 is free: r, p again through
    // "..", and the tops of the walks after the first.
    TempDir wide;
    const std::vector<std::string> expected = writeWideTree(wide);
    // A folder read before the walks begin.
    TempDir narrow;
    narrow.write("a/b.jsonl", "");
    narrow.write("c.jsonl", "");

    const int descriptors = openDescriptorCount();
    std::vector<TranscriptFile> wideFiles, narrowFiles, narrowFromZero;
    {
        setThreadStarter(refusedThread);
        setFolderOpener(zeroFreeingOpener);
        NoStandardInput none;
        auto listedWithZeroAt = [](const char* name, const TempDir& dir) {
            EXPECT_EQ(::open("/dev/null", O_RDONLY | O_CLOEXEC), 0);  // held until `name` is opened
            zeroAt = name;
            zeroFreed = false;
            std::vector<TranscriptFile> files = listTranscripts(dir.path().string());
            EXPECT_TRUE(zeroFreed) << name;
            return files;
        };
        wideFiles = listedWithZeroAt("p", wide);
        narrowFiles = listedWithZeroAt("a", narrow);
        setFolderOpener(nullptr);
        setThreadStarter(nullptr);
        // The root itself opened as descriptor 0.
        narrowFromZero = listTranscripts(narrow.path().string());
    }
    EXPECT_EQ(relative(wideFiles, wide.path()), expected);
    EXPECT_EQ(relative(narrowFiles, narrow.path()), (std::vector<std::string>{"a/b.jsonl", "c.jsonl"}));
    EXPECT_EQ(relative(narrowFromZero, narrow.path()), (std::vector<std::string>{"a/b.jsonl", "c.jsonl"}));
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(TranscriptListing, KeepsOnlyVisibleRegularJsonlFilesInNameOrder) {
    TempDir dir;
    const fs::path& root = dir.path();
    dir.write("p1/b.jsonl", "b");
    dir.write("p1/a.jsonl", "abc");
    // Hidden names and other extensions are left out; a folder named like a
    // transcript is entered, not listed.
    for (const char* name : {"p1/.notes.jsonl", ".cache/x.jsonl", "p1/x.JSONL", "p1/x.jsonl.bak",
                             "p1/dir.jsonl/inner.jsonl", "p1/s1/subagents/agent-x.jsonl", "deep/a/b/c/d.jsonl"})
        dir.write(name, "");
    ASSERT_EQ(::mkfifo(dir.file("p1/fifo.jsonl").c_str(), 0600), 0);  // must neither be listed nor block
    fs::create_directory_symlink(root / "p1", root / "p0-link");      // not followed
    fs::create_directory_symlink(root / "loop", root / "loop");        // a link to itself
    fs::create_symlink(root / "nowhere.jsonl", root / "dangling.jsonl");

    struct timespec times[2] = {{1'700'000'000, 5}, {1'700'000'000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("p1/a.jsonl").c_str(), times, 0), 0);

    auto files = listTranscripts(root.string() + "//");
    EXPECT_EQ(relative(files, root),
              (std::vector<std::string>{"deep/a/b/c/d.jsonl", "p1/a.jsonl", "p1/b.jsonl", "p1/dir.jsonl/inner.jsonl",
                                        "p1/s1/subagents/agent-x.jsonl"}));
    // Paths are joined without doubled slashes from a root given with trailing ones.
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files[1].path, (root / "p1/a.jsonl").string());
    EXPECT_EQ(files[1].size, 3);
    EXPECT_EQ(files[1].mtimeNs, 1'700'000'000'000'000'005LL);
    struct stat st {};
    ASSERT_EQ(::stat(files[1].path.c_str(), &st), 0);
    EXPECT_EQ(files[1].ctimeNs, st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec);
    EXPECT_EQ(files[1].inode, st.st_ino);

    // A root that is itself a link to a folder is listed through it.
    EXPECT_EQ(listTranscripts((root / "p0-link").string()).size(), 4u);

    // A root named relative to the working folder, shorter than the names
    // below it, gives paths relative to the same folder.
    const fs::path before = fs::current_path();
    fs::current_path(root);
    std::vector<std::string> paths;
    for (const TranscriptFile& f : listTranscripts("p1")) paths.push_back(f.path);
    fs::current_path(before);
    EXPECT_EQ(paths, (std::vector<std::string>{"p1/a.jsonl", "p1/b.jsonl", "p1/dir.jsonl/inner.jsonl",
                                               "p1/s1/subagents/agent-x.jsonl"}));

    EXPECT_TRUE(listTranscripts((root / "missing").string()).empty());
    EXPECT_TRUE(listTranscripts((root / "p1/a.jsonl").string()).empty());  // a file is no root
    EXPECT_TRUE(listTranscripts("").empty());
}

TEST(TranscriptListing, FolderThatCannotBeOpenedDoesNotEndTheListing) {
#ifdef VOREL_UNDER_SANITIZER
    // The sanitizer runtime opens files of its own (the process's memory
    // map) to check pointers, and reports false errors when none are left.
    GTEST_SKIP() << "needs every file descriptor; runs in the normal build";
#endif
    // Running as root, permissions do not stop reading; running out of file
    // descriptors does. With two descriptors left, the root and one folder
    // below it open, and a folder two levels down cannot.
    TempDir dir;
    for (const char* name : {"a/b/deep.jsonl", "a/c.jsonl", "m/n.jsonl", "z.jsonl"}) dir.write(name, "");

    const int descriptors = openDescriptorCount();
    std::vector<TranscriptFile> files;
    {
        DescriptorsLeft two(2);
        files = listTranscripts(dir.path().string());
    }
    EXPECT_EQ(relative(files, dir.path()), (std::vector<std::string>{"a/c.jsonl", "m/n.jsonl", "z.jsonl"}));
    EXPECT_EQ(openDescriptorCount(), descriptors);  // none left open
    // With descriptors to spare, the deep file is found again.
    EXPECT_EQ(listTranscripts(dir.path().string()).size(), 4u);
}

TEST(TranscriptListing, FoldersKnownFromAnEarlierListingAreTrustedWhileUnchanged) {
    TempDir dir;
    for (const char* name : {"a/b/deep.jsonl", "a/c.jsonl", "m/n.jsonl", "z.jsonl"}) dir.write(name, "");
    const std::vector<std::string> all{"a/b/deep.jsonl", "a/c.jsonl", "m/n.jsonl", "z.jsonl"};
    // Listed a tick after their last change (and what follows within two
    // seconds), the folders are kept.
    FileClockAt later(FileTimes::nowNs() + FileTimes::kTickNs + 2'000'000'000);
    EXPECT_EQ(relative(listTranscripts(dir.path().string()), dir.path()), all);
#ifndef VOREL_UNDER_SANITIZER
    // Unchanged, they are not read again, and those with few entries are
    // not even opened: the root's descriptor is all the listing needs.
    EXPECT_EQ(relative(listedWithOneDescriptor(dir.path()), dir.path()), all);
#endif

    // A file renamed, and the folder's modification time put back (its size
    // stays): its status-change time still shows the change.
    struct stat before {};
    ASSERT_EQ(::stat(dir.file("a/b").c_str(), &before), 0);
    fs::rename(dir.file("a/b/deep.jsonl"), dir.file("a/b/deeper.jsonl"));
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("a/b").c_str(), times, 0), 0);
    dir.write("m/o.jsonl", "");
    const std::vector<std::string> changed{"a/b/deeper.jsonl", "a/c.jsonl", "m/n.jsonl", "m/o.jsonl", "z.jsonl"};
    EXPECT_EQ(relative(listTranscripts(dir.path().string()), dir.path()), changed);
#ifndef VOREL_UNDER_SANITIZER
    // Read again, they are kept as they are now.
    EXPECT_EQ(relative(listedWithOneDescriptor(dir.path()), dir.path()), changed);
#endif
}

TEST(TranscriptListing, AFolderIsKeptOnlyATickAfterItsLastChange) {
#ifdef VOREL_UNDER_SANITIZER
    GTEST_SKIP() << "needs every file descriptor; runs in the normal build";
#endif
    // Whether a folder listed with the file times' clock `offset` after
    // its last change is kept: if so, a listing with one descriptor finds
    // its file without opening it.
    auto keptAt = [](std::int64_t offset) {
        TempDir dir;
        dir.write("a/x.jsonl", "");
        struct stat st {};
        EXPECT_EQ(::stat(dir.file("a").c_str(), &st), 0);
        FileClockAt clock(st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec + offset);
        EXPECT_EQ(listTranscripts(dir.path().string()).size(), 1u);
        return !listedWithOneDescriptor(dir.path()).empty();
    };
    // A tick after, and not a nanosecond sooner, it cannot change unseen.
    EXPECT_TRUE(keptAt(FileTimes::kTickNs));
    EXPECT_FALSE(keptAt(FileTimes::kTickNs - 1));
    EXPECT_FALSE(keptAt(0));
    // A change less than a tick ahead of the clock is waited for too; one a
    // whole tick ahead (the clock was set back since) is not, as a later
    // change gets an earlier time.
    EXPECT_FALSE(keptAt(-FileTimes::kTickNs + 1));
    EXPECT_TRUE(keptAt(-FileTimes::kTickNs));
}

TEST(TranscriptListing, AFolderMovedWhileTheWalkIsInsideItLosesNoOtherFile) {
    TempDir dir;
    const std::vector<std::string> expected = writeWideTree(dir);
    // r is moved out of q just as the walk goes back up from it: ".." then
    // leads elsewhere, and q is found again from the top of the walk.
    struct stat r {};
    ASSERT_EQ(::stat(dir.file("s00/p/q/r").c_str(), &r), 0);
    moveFrom = dir.file("s00/p/q/r");
    moveTo = dir.file("moved-r");
    movedFolder = r.st_ino;
    namedOpens = upOpens = 0;
    const int descriptors = openDescriptorCount();
    setFolderOpener(movingOpener);
    const std::vector<TranscriptFile> files = listTranscripts(dir.path().string());
    setFolderOpener(nullptr);
    EXPECT_EQ(movedFolder, 0u);
    EXPECT_EQ(relative(files, dir.path()), expected);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    // Each folder was opened once (the 32 at the top, p, q and r), p and q
    // once more after the move; the way back up went through ".." from r
    // and from q, and from nowhere else.
    EXPECT_EQ(namedOpens, 32 + 3 + 2);
    EXPECT_EQ(upOpens, 2);
}

TEST(TranscriptListing, AnyDepthWithFewDescriptors) {
    // A chain of 300 folders, with a side folder 100 levels down: paths
    // past the system's path limit, and more levels than descriptors.
    constexpr int kLevels = 300, kSide = 100;
    const char* const kName = "a-folder-with-a-name";
    TempDir dir;
    const int rootFd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(rootFd, 0);
    // At the end, the chain is cut into pieces short enough for the
    // temporary folder to be removed by path.
    struct Cut {
        int rootFd;
        const char* name;
        ~Cut() {
            int at = ::openat(rootFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            for (int level = 2; at >= 0; ++level) {
                const int next = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (level % 50 == 0) ::renameat(at, name, rootFd, ("piece" + std::to_string(level)).c_str());
                ::close(at);
                at = next;
            }
            ::close(rootFd);
        }
    } cut{rootFd, kName};
    auto writeAt = [](int folder, const char* name, const std::string& bytes) {
        int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    };
    int at = ::dup(rootFd);
    for (int level = 1; level <= kLevels; ++level) {
        ASSERT_EQ(::mkdirat(at, kName, 0755), 0) << level;
        const int next = ::openat(at, kName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(at);
        at = next;
        ASSERT_GE(at, 0) << level;
        if (level == kSide) {
            ASSERT_EQ(::mkdirat(at, "g", 0755), 0);
            writeAt(at, "g/x.jsonl", "");
        }
    }
    writeAt(at, "deep.jsonl", "abc");
    ::close(at);
    dir.write("z.jsonl", "");

    const int descriptors = openDescriptorCount();
    std::vector<TranscriptFile> files;
    {
        // Far fewer descriptors than levels (the sanitizer runtime needs
        // its own, so it keeps the usual limit).
#ifdef VOREL_UNDER_SANITIZER
        FewDescriptors few(RLIM_INFINITY);
#else
        FewDescriptors few(256);
#endif
        files = listTranscripts(dir.path().string());
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);  // none left open
    std::string chain;
    for (int level = 1; level <= kLevels; ++level) chain.append(kName).append("/");
    ASSERT_GT(chain.size(), size_t{PATH_MAX});
    const std::string side = chain.substr(0, chain.size() / kLevels * kSide) + "g/x.jsonl";
    EXPECT_EQ(relative(files, dir.path()), (std::vector<std::string>{chain + "deep.jsonl", side, "z.jsonl"}));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].size, 3);
}

TEST(TranscriptSources, RootsComeFromTheSettingsAtListingTime) {
    TempDir dir;
    for (const char* name : {"home/.claude/projects/p1/abc.jsonl", "home/.codex/sessions/2026/07/05/b.jsonl",
                             "home/.codex/archived_sessions/a.jsonl", "data/sessions/s.jsonl",
                             "data/archived_sessions/2026/old.jsonl"})
        dir.write(name, "");
    ClaudeCodeSource claude;
    CodexSource codex;
    {
        ScopedSettings home(Settings{.claudeRoot = dir.file("home/.claude/projects"),
                                     .codexRoot = dir.file("home/.codex/sessions")});
        // The hidden folders on the way to a root do not hide its files.
        EXPECT_EQ(relative(claude.transcriptURLs(), dir.path()),
                  (std::vector<std::string>{"home/.claude/projects/p1/abc.jsonl"}));
        EXPECT_EQ(relative(codex.transcriptURLs(), dir.path()),
                  (std::vector<std::string>{"home/.codex/sessions/2026/07/05/b.jsonl",
                                            "home/.codex/archived_sessions/a.jsonl"}));
    }
    {
        // The same sources, other settings: the archive is the root's
        // sibling and is listed after the root.
        ScopedSettings data(Settings{.codexRoot = dir.file("data/sessions") + "/"});
        EXPECT_EQ(CodexSource::archivedRoot(), dir.file("data/archived_sessions"));
        EXPECT_EQ(relative(codex.transcriptURLs(), dir.path()),
                  (std::vector<std::string>{"data/sessions/s.jsonl", "data/archived_sessions/2026/old.jsonl"}));
        ScopedSettings relativeRoot(Settings{.codexRoot = "sessions"});
        EXPECT_EQ(CodexSource::archivedRoot(), "./archived_sessions");
        ScopedSettings nestedRoot(Settings{.codexRoot = "data/sessions"});
        EXPECT_EQ(CodexSource::archivedRoot(), "data/archived_sessions");
        ScopedSettings topRoot(Settings{.codexRoot = "/sessions"});
        EXPECT_EQ(CodexSource::archivedRoot(), "/archived_sessions");
        ScopedSettings systemRoot(Settings{.codexRoot = "//"});  // "/" is its own parent
        EXPECT_EQ(CodexSource::archivedRoot(), "/archived_sessions");
    }
    {
        // No folder named: the working folder is never scanned, and there
        // is no archive beside it.
        TempDir work;
        work.write("x.jsonl", "");
        work.write("archived_sessions/y.jsonl", "");
        fs::path before = fs::current_path();
        fs::current_path(work.path());
        ScopedSettings none(Settings{});
        bool nothing = claude.transcriptURLs().empty() && codex.transcriptURLs().empty();
        fs::current_path(before);
        EXPECT_TRUE(nothing);
        EXPECT_EQ(CodexSource::archivedRoot(), "");
    }
}

TEST(ClaudeCodeSource, IdsComeFromThePathAlone) {
    ClaudeCodeSource src;
    // Thread facts in the parse are Codex's; Claude Code ignores them.
    ParsedSession misleading;
    misleading.sourceThreadId = misleading.parentThreadId = misleading.subagentName = "Scout";
    EXPECT_EQ(src.transcriptId("/r/p1/abc.jsonl", misleading), "abc");
    EXPECT_FALSE(src.isSubagent("/r/p1/abc.jsonl", misleading));

    const std::string sub = "/r/p1/abc/subagents/agent-x1.jsonl";
    EXPECT_EQ(src.transcriptId(sub, misleading), "abc:agent:agent-x1");
    EXPECT_EQ(src.parentTranscriptId(sub, misleading), "abc");
    EXPECT_EQ(src.subagentLabel("/r/p/s/subagents/my-agent-agent-2.jsonl", misleading), "my-Agent Agent 2");
    // Only a folder named exactly "subagents" holds subagents.
    EXPECT_EQ(src.transcriptId("/r/p1/abc/Subagents/agent-x1.jsonl", {}), "agent-x1");
    EXPECT_EQ(fileStem("/r/p/x.y.jsonl"), "x.y");
    EXPECT_EQ(fileStem("/r/p/a.jsonl"), "a");
    EXPECT_EQ(fileStem("/r/p/.jsonl"), ".jsonl");  // all extension: the name stays whole
    EXPECT_EQ(fileStem("noext"), "noext");
}
