#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <new>

#include "engine/IncrementalTranscript.h"
#include "engine/Transcript.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::Transcript;
using namespace vorel::test;
using Kind = SourceKind;

// AddressSanitizer keeps its own books on operator new, which a replaced one
// would upset; the guard-page check below runs in the other builds.
#if defined(__SANITIZE_ADDRESS__)
#define VOREL_GUARD_PAGES 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOREL_GUARD_PAGES 0
#endif
#endif
#ifndef VOREL_GUARD_PAGES
#define VOREL_GUARD_PAGES 1
#endif

#if VOREL_GUARD_PAGES
namespace {

// While set, each allocation ends (to within 16 bytes) just before a page
// that cannot be read, so a read past the end of a buffer faults: the JSON
// parser reads up to its padding past a line, and a line kept without that
// padding must show. Guarded blocks are never reused.
std::atomic<bool> gGuardPages{false};
std::atomic<char*> gArena{nullptr};
size_t gArenaUsed = 0;
constexpr size_t kPage = 4096, kArenaBytes = size_t{1} << 28;

void* guardedAlloc(size_t size) {
    if (!gArena.load()) {
        void* a = ::mmap(nullptr, kArenaBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (a == MAP_FAILED) std::abort();
        gArena = static_cast<char*>(a);
    }
    size_t rounded = (std::max<size_t>(size, 1) + 15) & ~size_t{15};
    size_t span = (rounded + kPage - 1) / kPage * kPage;
    if (gArenaUsed + span + kPage > kArenaBytes) std::abort();
    char* start = gArena.load() + gArenaUsed;
    if (::mprotect(start, span, PROT_READ | PROT_WRITE) != 0) std::abort();
    gArenaUsed += span + kPage;
    return start + span - rounded;
}

}  // namespace

void* operator new(size_t size) {
    if (gGuardPages.load(std::memory_order_relaxed)) return guardedAlloc(size);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    char* arena = gArena.load(std::memory_order_relaxed);
    if (arena && static_cast<char*>(p) >= arena && static_cast<char*>(p) < arena + kArenaBytes) return;
    std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
#endif

namespace {

const DayWindow kToday = utcDay(utc(2026, 7, 5));
const DayWindow kYesterday = utcDay(utc(2026, 7, 4));

// A transcript format: lines that give the folder, title and model, and a
// billed response whose de-duplication key is made from `key`, so a
// repeated `key` is a repeated response. Every response carries an id, so
// no key is random and a parse gives the same turns every time.
struct Format {
    Kind kind;
    std::string intro;
    std::string (*response)(int key, int tokens, const std::string& day, const std::string& note);
};

const Format kClaude{
    Kind::claudeCode,
    R"({"cwd":"/w","type":"user","timestamp":"2026-07-04T09:00:00Z","message":{"content":"Fix the build"}})" "\n",
    [](int key, int tokens, const std::string& day, const std::string& note) {
        return R"({"note":")" + note + R"(","type":"assistant","timestamp":")" + day +
               R"(T10:00:00Z","message":{"id":"m)" + std::to_string(key) +
               R"(","model":"claude-haiku","usage":{"output_tokens":)" + std::to_string(tokens) + "}}}\n";
    }};

const Format kCodex{
    Kind::codex,
    R"({"type":"session_meta","payload":{"cwd":"/w","id":"t1"},"timestamp":"2026-07-04T09:00:00Z"})" "\n"
    R"({"timestamp":"2026-07-04T09:00:01Z","type":"turn_context","payload":{"model":"gpt-5.5"}})" "\n"
    R"({"type":"event_msg","payload":{"type":"user_message","message":"Fix the build"}})" "\n",
    [](int key, int tokens, const std::string& day, const std::string& note) {
        return R"({"note":")" + note + R"(","timestamp":")" + day +
               R"(T10:00:00Z","type":"event_msg","payload":{"type":"token_count","info":{"last_token_usage":)"
               R"({"input_tokens":100,"output_tokens":)" +
               std::to_string(tokens) + R"(},"total_token_usage":{"input_tokens":)" + std::to_string(key) + "}}}}\n";
    }};

void append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// A kept parse of one file, checked against a parse of the whole file after
// every update.
struct Follower {
    Kind kind;
    std::string path;
    IncrementalTranscript kept{kind};

    // Whether update() continued the earlier parse.
    bool update(const DayWindow& day = kToday) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        bool resumed = kept.update(path, st.st_ino, st.st_size, day);
        ParsedSession full = kind == Kind::codex ? parseCodex(path, day) : parseClaude(path, day);
        EXPECT_EQ(kept.parsed(), full) << kept.parsed().turns.size() << " turns kept, " << full.turns.size() << " in all";
        return resumed;
    }
    // Appends to the file, then updates.
    bool grow(const std::string& bytes, const DayWindow& day = kToday) {
        append(path, bytes);
        return update(day);
    }
};

}  // namespace

TEST(IncrementalTranscript, EveryStepEqualsAParseOfTheWholeFile) {
    for (const Format& f : {kClaude, kCodex}) {
        SCOPED_TRACE(f.kind == Kind::codex ? "codex" : "claude");
        TempDir dir;
        auto r = [&](int key, int tokens, const std::string& day = "2026-07-05", const std::string& note = "") {
            return f.response(key, tokens, day, note);
        };
        auto unfinished = [](std::string line) { return line.substr(0, line.size() - 1); };
        std::string path = dir.write("s.jsonl", f.intro + r(1, 1000, "2026-07-04") + r(2, 2000));
        Follower follow{f.kind, path};
        EXPECT_FALSE(follow.update());
        const std::string grownOnce = f.intro + r(1, 1000, "2026-07-04") + r(2, 2000) + r(3, 3000);
        EXPECT_TRUE(follow.grow(r(3, 3000) + r(4, 4000)));

        // A whole line without its line feed counts until the line feed
        // comes. (Lines and characters cut anywhere: see the fixtures below.)
        EXPECT_TRUE(follow.grow(unfinished(r(5, 5000))));
        EXPECT_EQ(follow.kept.parsed().turns.size(), 5u);
        EXPECT_TRUE(follow.grow("\r\n\n"));
        // A piece that parses on its own bills until the rest of its line
        // spoils it.
        EXPECT_TRUE(follow.grow(unfinished(r(50, 5000))));
        EXPECT_EQ(follow.kept.parsed().turns.size(), 6u);
        EXPECT_TRUE(follow.grow(" and more\n"));
        EXPECT_EQ(follow.kept.parsed().turns.size(), 5u);

        // A response repeated in the appended part, also as the unfinished
        // piece, bills nothing.
        EXPECT_TRUE(follow.grow(r(2, 9000) + r(6, 6000) + unfinished(r(6, 7000))));
        EXPECT_TRUE(follow.grow("\n"));
        EXPECT_EQ(follow.kept.parsed().turns.size(), 6u);

        // Truncated (written anew in place, the inode stays): parsed anew,
        // and later appends resume again.
        dir.write("s.jsonl", grownOnce);
        EXPECT_FALSE(follow.update());
        EXPECT_TRUE(follow.grow(r(8, 8000) + r(9, 9000, "2026-07-04")));

        // Written anew with the same size, and with a larger size but the
        // same first bytes: neither may be taken for an append.
        std::string same = f.intro + r(1, 1000, "2026-07-04") + r(2, 2000) + r(3, 3000) + r(8, 8001) +
                           r(9, 9000, "2026-07-04");
        ASSERT_EQ(same.size(), std::filesystem::file_size(path));
        dir.write("s.jsonl", same);
        EXPECT_FALSE(follow.update());
        EXPECT_EQ(follow.kept.parsed().turns[3].output, 8001);
        // Edited in the middle as it grew, with its first bytes and those
        // just before the old end unchanged: read whole all the same.
        std::string edited = f.intro + r(1, 1000, "2026-07-04") + r(2, 2000) + r(3, 7000) + r(8, 8001) +
                             r(9, 9000, "2026-07-04") + r(12, 1200);
        dir.write("s.jsonl", edited);
        EXPECT_FALSE(follow.update());
        EXPECT_EQ(follow.kept.parsed().turns[2].output, 7000);
        EXPECT_TRUE(follow.grow(r(13, 1300)));
        std::string body = r(1, 1000, "2026-07-04") + r(22, 2200) + r(33, 3300) + r(44, 4400) + r(55, 5500) + r(56, 5600);
        dir.write("s.jsonl", f.intro + body);
        EXPECT_FALSE(follow.update());
        // Other first bytes, the same last ones, and more.
        std::string otherStart = f.intro;
        otherStart.replace(otherStart.find("/w"), 2, "/v");
        body += r(66, 6600);
        dir.write("s.jsonl", otherStart + body);
        EXPECT_FALSE(follow.update());
        EXPECT_EQ(follow.kept.parsed().cwd, "/v");

        // Replaced by a new file that holds the old bytes and more.
        body += r(77, 7700);
        std::filesystem::rename(dir.write("new.jsonl", otherStart + body), path);
        EXPECT_FALSE(follow.update());

        // A new day as the file grows: the earlier lines are judged again.
        EXPECT_FALSE(follow.grow(r(10, 1000, "2026-07-04"), kYesterday));
        EXPECT_TRUE(follow.grow(r(11, 1100, "2026-07-04"), kYesterday));

        // An invalid byte in the unfinished piece drops that piece; once its
        // line is finished, the whole file is rejected, also after more appends.
        follow.grow(r(88, 8800, "2026-07-05", "bad \xff byte").substr(0, 90), kYesterday);
        EXPECT_EQ(follow.kept.parsed().turns.size(), 10u);
        follow.grow("\n", kYesterday);
        EXPECT_EQ(follow.kept.parsed(), ParsedSession{});
        EXPECT_FALSE(follow.grow(r(99, 9900), kYesterday));
        EXPECT_EQ(follow.kept.parsed(), ParsedSession{});
    }
}

TEST(IncrementalTranscript, SameContentMeansTheBytesLastRead) {
    TempDir dir;
    const std::string bytes = kClaude.intro + kClaude.response(1, 1000, "2026-07-05", "");
    const std::string path = dir.write("s.jsonl", bytes);
    const auto size = static_cast<std::int64_t>(bytes.size());
    IncrementalTranscript kept(Kind::claudeCode);
    EXPECT_FALSE(kept.sameContent(path, size));  // nothing read yet
    Follower follow{Kind::claudeCode, path};
    follow.update();
    EXPECT_TRUE(follow.kept.sameContent(path, size));
    EXPECT_FALSE(follow.kept.sameContent(path, size - 1));
    std::string changed = bytes;
    changed.replace(changed.find("/w"), 2, "/v");
    dir.write("s.jsonl", changed);
    EXPECT_FALSE(follow.kept.sameContent(path, size));
    std::filesystem::remove(path);
    EXPECT_FALSE(follow.kept.sameContent(path, size));
    // A rejected file is never the same content.
    const std::string rejected = bytes + "{\"bad\":\"\xff\"}\n";
    dir.write("s.jsonl", rejected);
    follow.update();
    EXPECT_FALSE(follow.kept.sameContent(path, static_cast<std::int64_t>(rejected.size())));
}

TEST(IncrementalTranscript, FixturesFedInRandomChunksEqualTheirWholeParse) {
    VOREL_NEEDS_FIXTURES();
    std::mt19937 rng(20260705);
    TempDir dir;
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(fixturesDir())) {
        if (entry.path().extension() != ".jsonl") continue;
        ++files;
        bool codex = entry.path().string().find("/codex/") != std::string::npos;
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(bytes.empty());

        std::string path = dir.write(entry.path().filename().string(), "");
        Follower follow{codex ? Kind::codex : Kind::claudeCode, path};
        DayWindow day = codex ? utcDay(utc(2026, 5, 11)) : utcDay(utc(2026, 2, 10));
        // Mostly large pieces, with runs of tiny ones that cut lines and
        // characters anywhere.
        std::uniform_int_distribution<size_t> large(1, 100000), tiny(1, 40), pick(0, 3);
        for (size_t at = 0; at < bytes.size();) {
            size_t n = std::min(bytes.size() - at, pick(rng) == 0 ? tiny(rng) : large(rng));
            // Only the first piece is parsed from the start.
            EXPECT_EQ(follow.grow(bytes.substr(at, n), day), at > 0);
            at += n;
            if (::testing::Test::HasFailure()) return;
        }
        EXPECT_FALSE(follow.kept.parsed().cwd.empty());
    }
    EXPECT_GE(files, 20);
}

#if VOREL_GUARD_PAGES
// The unfinished piece is parsed at the end of an update; like every line it
// must be parsed where the padding after it is.
TEST(IncrementalTranscript, LinesAreParsedWithTheirPadding) {
    for (const Format& f : {kClaude, kCodex}) {
        TempDir dir;
        const std::string last = f.response(3, 3000, "2026-07-05", std::string(300, 'n'));
        std::string path = dir.write("s.jsonl", f.intro + f.response(1, 1000, "2026-07-05", ""));
        Follower follow{f.kind, path};
        follow.update();
        append(path, f.response(2, 2000, "2026-07-05", "") + last.substr(0, last.size() - 1));
        gGuardPages = true;
        follow.update();
        gGuardPages = false;
        EXPECT_EQ(follow.kept.parsed().turns.size(), 3u);
    }
}
#endif
