#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "detail/ConversationDetailCache.h"
#include "tests/detail/DetailTestSupport.h"

using namespace vorel;
using namespace vorel::test;
using Step = ConversationDetailCache::Step;
namespace fs = std::filesystem;

namespace {

std::string tokenCount(int second, int total, std::string_view model = "") {
    return (model.empty() ? "" : codexLine("turn_context", R"({"model":")" + std::string(model) + "\"}", at(second))) +
           codexTokens(total, total, at(second));
}

void append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// A conversation kept by the cache, checked against a parse of all its
// files after every change.
struct Follower {
    std::string source;
    std::vector<std::string> paths;
    ConversationDetailCache cache;
    std::shared_ptr<const ConversationDetail> last;

    Step update() {
        last = cache.detail(paths, source);
        ConversationDetail whole = ConversationDetailParser::parse(paths, source);
        EXPECT_EQ(timeline(*last), timeline(whole));
        EXPECT_TRUE(*last == whole) << "same timeline, other fields differ";
        return cache.lastStep();
    }
};

}  // namespace

TEST(ConversationDetailCache, AppendsToTheNewestFileContinueTheReading) {
    TempDir dir;
    Follower f{"Claude Code", {}, {}, {}};
    f.paths.push_back(dir.write("main.jsonl", joinLines({toolResult(3, "main"), call(4, "m2")})));
    f.paths.push_back(dir.write("agent.jsonl", joinLines({toolResult(1, "shared"), call(2, "m1")})));
    setFileTime(f.paths[1], 0);
    setFileTime(f.paths[0], 1);
    const std::string& main = f.paths[0];

    EXPECT_EQ(f.update(), Step::parsed);
    auto first = f.last;
    EXPECT_EQ(f.update(), Step::reused);
    EXPECT_EQ(f.last, first);

    // An older file's response repeated later (its event moves to the end),
    // repeats of an older file's and of this file's events, new calls.
    append(main, joinLines({call(9, "m1", "ok", 500), toolResult(5, "shared"), toolResult(6, "main"), call(7, "m3")}));
    EXPECT_EQ(f.update(), Step::appended);
    EXPECT_EQ(f.last->events.back().timestamp, utc(2026, 7, 5, 10, 0, 9));
    EXPECT_DOUBLE_EQ(*f.last->events.back().cost, 10 * 5 / 1e6);

    // Half a line, then the rest.
    const std::string next = call(10, "m4") + "\n";
    append(main, next.substr(0, 40));
    EXPECT_EQ(f.update(), Step::appended);
    append(main, next.substr(40));
    EXPECT_EQ(f.update(), Step::appended);

    // An unfinished line that parses on its own, moving a response's time
    // and adding one, until the rest of the line spoils it.
    append(main, call(30, "m2"));
    EXPECT_EQ(f.update(), Step::appended);
    append(main, " trailing\n" + call(11, "m5") + "\n");
    EXPECT_EQ(f.update(), Step::appended);
    append(main, call(12, "m6"));
    EXPECT_EQ(f.update(), Step::appended);
    append(main, "x\n");
    EXPECT_EQ(f.update(), Step::appended);
    EXPECT_EQ(f.last->costEvents().size(), 5u);

    // An invalid byte in a whole line rejects the whole file.
    append(main, toolResult(13, "bad \xFF") + "\n");
    EXPECT_EQ(f.update(), Step::parsed);
    EXPECT_EQ(timeline(*f.last), "Tool result|Tool result|shared\nAssistant|Response|ok\n"
                                  "Tokens|API call|model \u2068claude-haiku-4-5\u2069 \u00b7 input 0 \u00b7 output 10 \u00b7 "
                                  "cache read 0 \u00b7 cache write 0\n");
}

TEST(ConversationDetailCache, AnythingButAnAppendReadsAllAgain) {
    TempDir dir;
    Follower f{"Claude Code", {}, {}, {}};
    f.paths.push_back(dir.write("agent.jsonl", call(1, "m1") + "\n"));
    f.paths.push_back(dir.write("main.jsonl", joinLines({call(2, "m2"), call(3, "m3")})));
    setFileTime(f.paths[0], 0);
    setFileTime(f.paths[1], 1);
    EXPECT_EQ(f.update(), Step::parsed);

    // Truncated; written anew in place, longer but with other bytes before
    // where it ended.
    std::ofstream(f.paths[1], std::ios::binary | std::ios::trunc) << call(2, "m2") + "\n";
    EXPECT_EQ(f.update(), Step::parsed);
    std::ofstream(f.paths[1], std::ios::binary | std::ios::trunc)
        << joinLines({call(2, "m9", "rewritten"), call(3, "m3"), call(4, "m4")});
    EXPECT_EQ(f.update(), Step::parsed);
    // Edited in the middle as it grew, its first bytes and those just
    // before where it ended unchanged.
    std::ofstream(f.paths[1], std::ios::binary | std::ios::trunc)
        << joinLines({call(2, "m9", "rewritten"), call(3, "m3", "ok", 30), call(4, "m4"), call(5, "m7")});
    EXPECT_EQ(f.update(), Step::parsed);
    // An older file grew; the newest grew but is no longer the newest.
    append(f.paths[0], call(5, "m5") + "\n");
    setFileTime(f.paths[0], 0);
    EXPECT_EQ(f.update(), Step::parsed);
    append(f.paths[1], call(6, "m6") + "\n");
    setFileTime(f.paths[1], -10);
    EXPECT_EQ(f.update(), Step::parsed);
    // Another source or another list of files.
    f.source = "Codex";
    EXPECT_EQ(f.update(), Step::parsed);
    f.paths.pop_back();
    EXPECT_EQ(f.update(), Step::parsed);
}

TEST(ConversationDetailCache, CodexReadingStateCarriesOver) {
    TempDir dir;
    Follower f{"Codex", {dir.write("rollout.jsonl", tokenCount(1, 1, "gpt-5.5") + tokenCount(2, 2))}, {}, {}};
    EXPECT_EQ(f.update(), Step::parsed);
    // The model of the earlier part prices the new count; a repeat of seen
    // totals gives nothing; a new model prices what follows it.
    append(f.paths[0], tokenCount(3, 3) + tokenCount(4, 2) + tokenCount(5, 5, "gpt-5.4"));
    EXPECT_EQ(f.update(), Step::appended);
    // Unfinished: counted, then taken back when its line goes bad, then
    // counted once when written whole.
    const std::string pending = tokenCount(6, 6, "gpt-5.5-pro");
    append(f.paths[0], pending.substr(0, pending.size() - 1));
    EXPECT_EQ(f.update(), Step::appended);
    append(f.paths[0], ",\n" + pending);
    EXPECT_EQ(f.update(), Step::appended);
    EXPECT_EQ(f.last->costEvents().size(), 5u);
    EXPECT_EQ(f.last->currentModel, "gpt-5.5-pro");
}

// The real conversation's newest file written a piece at a time, cut
// anywhere: inside a line, inside a character.
TEST(ConversationDetailCache, FixtureWrittenPieceByPiece) {
    VOREL_NEEDS_FIXTURES();
    const fs::path root = fs::path(test::fixturesDir()) / "claude/projects/-home-USER-projects-spotter-worktrees-spotter-gqc";
    TempDir dir;
    Follower f{"Claude Code", {}, {}, {}};
    for (const auto& entry : fs::directory_iterator(root / "258c7280-ae70-4798-800f-63464d01a85d/subagents")) {
        f.paths.push_back(dir.file(entry.path().filename().string()));
        fs::copy_file(entry.path(), f.paths.back());
        setFileTime(f.paths.back(), static_cast<int>(f.paths.size()));
    }
    std::ifstream in(root / "258c7280-ae70-4798-800f-63464d01a85d.jsonl", std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::mt19937 random(7);
    size_t written = whole.size() / 3;
    f.paths.push_back(dir.write("main.jsonl", whole.substr(0, written)));
    EXPECT_EQ(f.update(), Step::parsed);
    while (written < whole.size()) {
        size_t piece = std::min(whole.size() - written, size_t{1} + random() % 120000);
        append(f.paths.back(), whole.substr(written, piece));
        written += piece;
        EXPECT_EQ(f.update(), Step::appended) << "at byte " << written;
    }
}
