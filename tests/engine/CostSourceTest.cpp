#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "engine/CostSource.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;
namespace fs = std::filesystem;

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

}  // namespace

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

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOREL_UNDER_SANITIZER 1
#endif
#endif

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

    std::vector<TranscriptFile> files;
    {
        FewDescriptors few(512);
        std::vector<int> spare;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) spare.push_back(fd);
        for (int i = 0; i < 2 && !spare.empty(); ++i, spare.pop_back()) ::close(spare.back());
        files = listTranscripts(dir.path().string());
        for (int fd : spare) ::close(fd);
    }
    EXPECT_EQ(relative(files, dir.path()), (std::vector<std::string>{"a/c.jsonl", "m/n.jsonl", "z.jsonl"}));
    // With descriptors to spare, the deep file is found again.
    EXPECT_EQ(listTranscripts(dir.path().string()).size(), 4u);
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
