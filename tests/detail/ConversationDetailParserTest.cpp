#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <tuple>

#include "detail/ConversationDetailCache.h"
#include "detail/DetailRecords.h"
#include "tests/detail/DetailTestSupport.h"

using namespace vorel;
using namespace vorel::test;
using Step = ConversationDetailCache::Step;
namespace fs = std::filesystem;

namespace {

constexpr SourceKind kClaude = SourceKind::claudeCode;
constexpr SourceKind kCodex = SourceKind::codex;

// The timeline line of a call() of `output` tokens.
std::string callLine(int output = 10) {
    return "Tokens|API call|model \u2068claude-haiku-4-5\u2069 \u00b7 input 0 \u00b7 output " + std::to_string(output) +
           " \u00b7 cache read 0 \u00b7 cache write 0\n";
}

std::vector<int> turns(const ConversationDetail& d) {
    std::vector<int> out;
    for (const ConversationEvent& e : d.costEvents()) out.push_back(e.turnIndex);
    return out;
}

std::string tokenCount(int second, int total, std::string_view model = "") {
    return (model.empty() ? "" : codexLine("turn_context", R"({"model":")" + std::string(model) + "\"}", at(second))) +
           codexTokens(total, total, at(second));
}

void append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}
void rewrite(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A file's status-change time in nanoseconds.
std::int64_t changedNs(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
}

// A conversation kept by the cache, checked against a parse of all its
// files after every change.
struct Follower {
    SourceKind source;
    std::vector<std::string> paths = {};
    ConversationDetailCache cache = {};
    std::shared_ptr<const ConversationDetail> last = {};
    TempDir dir = {};

    // Adds a file of `bytes` modified `order` seconds after a fixed instant.
    const std::string& add(const std::string& name, const std::string& bytes, int order) {
        paths.push_back(dir.write(name, bytes));
        setFileTime(paths.back(), order);
        return paths.back();
    }

    Step update() {
        last = cache.detail(paths, source);
        ConversationDetail whole = ConversationDetailParser::parse(paths, source);
        EXPECT_EQ(timeline(*last), timeline(whole));
        EXPECT_TRUE(*last == whole) << "same timeline, other fields differ";
        return cache.lastStep();
    }
};

}  // namespace

TEST(ConversationDetailPipeline, FilesAreReadOldestFirstTiesInGivenOrder) {
    TempDir dir;
    auto file = [&](const std::string& name, const std::string& title, int second) {
        std::string path = dir.write(name, R"({"type":"ai-title","aiTitle":")" + title + "\"}\n");
        setFileTime(path, second);
        return path;
    };
    std::vector<std::string> paths = {file("a", "A", 1), file("b", "B", 1), file("c", "C", 0), dir.file("gone")};
    // c, a, b: the last title read is b's; a missing path sorts first and adds nothing.
    EXPECT_EQ(ConversationDetailParser::parse(paths, kClaude).generatedTitle, "B");

    // Written within one microsecond, d after e: e is read first, by the
    // reader and by its cache alike.
    auto at = [&](const std::string& name, long nanoseconds) {
        std::string path = file(name, name == "d" ? "D" : "E", 2);
        struct timespec times[2] = {{1'780'000'002, nanoseconds}, {1'780'000'002, nanoseconds}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    };
    paths = {at("d", 500), at("e", 100)};
    EXPECT_EQ(ConversationDetailParser::parse(paths, kClaude).generatedTitle, "D");
    EXPECT_EQ(ConversationDetailCache().detail(paths, kClaude)->generatedTitle, "D");
}

TEST(ConversationDetailPipeline, RepeatsAcrossFilesAreShownOnce) {
    ConversationDetail d = parseFiles(kClaude, {{toolResult(1, "same"), toolResult(2, "twice"), toolResult(3, "twice"),
                                                 call(4, "m1", "first")},
                                                {toolResult(5, "same"), toolResult(6, "twice"), call(7, "m2", "first")}});
    EXPECT_EQ(timeline(d),
              "Tool result|Tool result|same\nTool result|Tool result|twice\nTool result|Tool result|twice\n"
              "Assistant|Response|first\n" + callLine() + callLine());
    EXPECT_EQ(d.events[0].timestamp, utc(2026, 7, 5, 10, 0, 1));  // the older file's
    EXPECT_EQ(std::pair(d.stats.toolResults, d.stats.tokenSnapshots), std::pair(3, 2));
}

TEST(ConversationDetailPipeline, ARejectedFileLeavesNoTrace) {
    // The bad byte lies far into the file, after lines were already read.
    std::vector<std::string> bad = {R"({"type":"ai-title","aiTitle":"Bad"})", toolResult(1, "kept once"), call(2, "m1")};
    for (int i = 0; i < 3000; ++i) bad.push_back(toolResult(3, "padding " + std::string(100, 'p')));
    bad.push_back(toolResult(4, "bad \xFF byte"));
    ConversationDetail d = parseFiles(kClaude, {bad, {toolResult(5, "kept once"), call(6, "m1")}});
    EXPECT_EQ(d.generatedTitle, "");
    EXPECT_EQ(d.events.size(), 3u);
    EXPECT_EQ(d.events[0].timestamp, utc(2026, 7, 5, 10, 0, 5));
    EXPECT_EQ(d.claudeCostEventIndex.at("m1"), 1);
}

TEST(ConversationDetailPipeline, UnreadableFilesAndLinesCostOnlyThemselves) {
    TempDir dir;
    EXPECT_EQ(ConversationDetailParser::parse({dir.file("missing.jsonl"), dir.path().string()}, kCodex), ConversationDetail{});
    // Broken lines, and a last line cut inside a character.
    std::string path = dir.write("s.jsonl", "[1]\n42\n{\"type\":\n" + prompt(1, "one") + "\n" + prompt(2, "caf\xC3"));
    EXPECT_EQ(timeline(ConversationDetailParser::parse({path}, kClaude)), "User|Prompt|one\n");
    // A whole last line without its line feed counts.
    std::string whole = dir.write("t.jsonl", prompt(1, "one") + "\n" + prompt(2, "two"));
    EXPECT_EQ(timeline(ConversationDetailParser::parse({whole}, kClaude)), "User|Prompt|one\nUser|Prompt|two\n");
    // A FIFO is never waited for.
    std::string fifo = dir.file("pipe.jsonl");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ConversationDetailParser::parse({fifo, whole}, kClaude).events.size(), 2u);
}

TEST(ConversationDetailPipeline, SortsByTimeWithTokensLastAtEqualTimes) {
    ConversationDetail d = parseLines(kClaude, {call(2, "m1", "same time"), prompt(3),
                                                R"({"type":"user","message":{"content":"undated"}})",
                                                R"({"type":"assistant","message":{"id":"u","model":"claude-haiku-4-5",)"
                                                R"("usage":{"output_tokens":1},"content":[{"type":"text","text":"undated reply"}]}})"});
    EXPECT_EQ(timeline(d),
              "User|Prompt|undated\nAssistant|Response|undated reply\n" + callLine(1) + "Assistant|Response|same time\n" +
                  callLine() + "User|Prompt|go\n");
    for (size_t i = 0; i < d.events.size(); ++i) EXPECT_EQ(d.events[i].id, static_cast<int>(i));
    // Only an API call carries a cost split.
    for (const ConversationEvent& e : d.events) {
        if (e.kind != ConversationEventKind::token) {
            EXPECT_EQ(std::tuple(e.freshInputCost, e.cacheCost, e.outputCost), std::tuple(0.0, 0.0, 0.0)) << e.title;
        }
    }
}

TEST(ConversationDetailPipeline, TurnsArePromptsWithTheCallsThatFollow) {
    // P = prompt, C = API call, T = a tool named "Prompt", in time order.
    const std::map<std::string, std::vector<int>> cases = {
        {"PCCPC", {1, 1, 2}}, {"CPC", {1, 1}}, {"PPC", {1}}, {"PCPPC", {1, 2}}, {"PCTC", {1, 1}}, {"", {}}};
    for (const auto& [sequence, expected] : cases) {
        std::vector<std::string> lines;
        for (size_t i = 0; i < sequence.size(); ++i) {
            int second = static_cast<int>(i) + 1;
            if (sequence[i] == 'T')
                lines.push_back(R"({"type":"assistant","timestamp":")" + at(second) +
                                R"(","message":{"content":[{"type":"tool_use","name":"Prompt","input":{}}]}})");
            else
                lines.push_back(sequence[i] == 'P' ? prompt(second, "p" + std::to_string(i))
                                                   : call(second, "m" + std::to_string(i), "r" + std::to_string(i)));
        }
        EXPECT_EQ(turns(parseLines(kClaude, lines)), expected) << sequence;
    }
    // A Codex call that prices to nothing neither starts nor ends a turn.
    auto codexPrompt = [](int s) {
        return codexLine("response_item", R"({"type":"message","role":"user","content":[{"text":"p"}]})", at(s));
    };
    ConversationDetail d = parseLines(kCodex, {codexPrompt(1), codexTokens(5, 2, at(2)), codexPrompt(3), codexTokens(0, 4, at(4)),
                                                codexPrompt(5), codexTokens(5, 6, at(6))});
    EXPECT_EQ(turns(d), (std::vector<int>{1, 2}));
    EXPECT_EQ(d.events[3].turnIndex, 0);
    // Nor does any event whose cost is 0.
    ConversationEvent free;
    free.cost = 0.0;
    int turn = 1;
    bool pending = false;
    ConversationDetailParser::number(free, 4, turn, pending);
    EXPECT_EQ(std::tuple(free.id, free.turnIndex, turn, pending), std::tuple(4, 0, 1, false));
}

// Real transcripts: one Claude Code conversation with its three subagent
// files, and one Codex rollout. Costs checked by hand against the rates.
TEST(ConversationDetailPipeline, FixtureConversations) {
    VOREL_NEEDS_FIXTURES();
    const fs::path session = fs::path(fixturesDir()) / "claude/projects/-home-USER-projects-spotter-worktrees-spotter-a0y" /
                             "fa812bfe-b295-4cca-9c2f-fdf01028cb46";
    TempDir dir;
    std::vector<std::string> paths;  // the subagents' files, then the newest, the main one
    for (const fs::path& file : {session / "subagents/agent-a93ccab.jsonl", session / "subagents/agent-aa84377.jsonl",
                                 session / "subagents/agent-acompact-70d8e7.jsonl", fs::path(session.string() + ".jsonl")}) {
        paths.push_back(dir.file(std::to_string(paths.size())));
        fs::copy_file(file, paths.back());
        setFileTime(paths.back(), static_cast<int>(paths.size()));
    }

    ConversationDetail claude = ConversationDetailParser::parse(paths, kClaude);
    std::map<std::string, int> kinds;
    for (const ConversationEvent& e : claude.events) ++kinds[std::string(rawValue(e.kind))];
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"Assistant", 127}, {"Internal", 15}, {"Reasoning", 11},
                                                 {"System", 6}, {"Tokens", 178}, {"Tool call", 225},
                                                 {"Tool result", 219}, {"User", 5}}));
    EXPECT_EQ(claude.stats, (ConversationStats{132, 11, 225, 219, 0, 0, 178, 0}));
    EXPECT_NEAR(claude.itemizedCost, 9.72924975, 1e-9);
    std::map<std::string, double> byDetail;
    for (const ConversationEvent& e : claude.costEvents()) byDetail[e.detail] = *e.cost;
    // claude-opus-4-6: 3 x 5 + 9 x 25 + 17842 x 0.5 + 8216 x 6.25 = 60511 dollars per million.
    EXPECT_NEAR(byDetail.at("model \u2068claude-opus-4-6\u2069 \u00b7 input 3 \u00b7 output 9 \u00b7 cache read 17842 \u00b7 cache write 8216"),
                0.060511, 1e-15);

    const fs::path rollout = fs::path(fixturesDir()) /
                             "codex/sessions/2026/05/11/rollout-2026-05-11T11-26-55-019e1625-789d-76c0-80ab-3724b5ddb799.jsonl";
    ConversationDetail codex = ConversationDetailParser::parse({rollout.string()}, kCodex);
    EXPECT_EQ(codex.stats, (ConversationStats{17, 25, 102, 102, 6, 3, 66, 0}));
    EXPECT_EQ(codex.costEvents().size(), 66u);
    EXPECT_EQ(codex.currentModel, "gpt-5.5");
    // gpt-5.5: 607 x 5 + 18304 x 0.5 + 37 x 30.
    EXPECT_EQ(codex.costEvents()[1].detail, "model \u2068gpt-5.5\u2069 \u00b7 input 607 \u00b7 cached 18304 \u00b7 output 37");
    EXPECT_NEAR(*codex.costEvents()[1].cost, 0.013297, 1e-15);
}

TEST(ConversationDetailCache, AppendsToTheNewestFileContinueTheReading) {
    Follower f{kClaude};
    const std::string main = f.add("main.jsonl", joinLines({toolResult(3, "main"), call(4, "m2")}), 1);
    f.add("agent.jsonl", joinLines({toolResult(1, "shared"), call(2, "m1")}), 0);

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
    EXPECT_EQ(timeline(*f.last), "Tool result|Tool result|shared\nAssistant|Response|ok\n" + callLine());

    // Written anew without the bad line while an older file grew: nothing
    // of the rejected reading is continued.
    rewrite(main, joinLines({toolResult(3, "main"), call(14, "m7")}));
    append(f.paths[1], call(15, "m8") + "\n");
    setFileTime(f.paths[1], 0);
    setFileTime(main, 1);
    EXPECT_EQ(f.update(), Step::parsed);
}

TEST(ConversationDetailCache, AnythingButAnAppendReadsAllAgain) {
    Follower f{kClaude};
    const std::string agent = f.add("agent.jsonl", call(1, "m1") + "\n", 0);
    const std::string main = f.add("main.jsonl", joinLines({call(2, "m2"), call(3, "m3")}), 1);
    EXPECT_EQ(f.update(), Step::parsed);

    // Truncated; written anew in place, longer but with other bytes before
    // where it ended; edited in the middle as it grew, its first bytes and
    // those just before where it ended unchanged.
    for (const std::string& bytes : {call(2, "m2") + "\n", joinLines({call(2, "m9", "rewritten"), call(3, "m3"), call(4, "m4")}),
                                     joinLines({call(2, "m9", "rewritten"), call(3, "m3", "ok", 30), call(4, "m4"), call(5, "m7")})}) {
        rewrite(main, bytes);
        EXPECT_EQ(f.update(), Step::parsed);
    }
    // Replaced by another file that starts with the same bytes.
    {
        std::ifstream in(main, std::ios::binary);
        const std::string was((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fs::rename(f.dir.write("replacement.jsonl", was + call(6, "m8") + "\n"), main);
        setFileTime(main, 1);
        EXPECT_EQ(f.update(), Step::parsed);
    }
    // An older file changed while the newest grew.
    append(agent, call(4, "m10") + "\n");
    append(main, call(7, "m11") + "\n");
    setFileTime(agent, 0);
    setFileTime(main, 1);
    EXPECT_EQ(f.update(), Step::parsed);
    // An older file grew; the newest grew but is no longer the newest.
    append(agent, call(5, "m5") + "\n");
    setFileTime(agent, 0);
    EXPECT_EQ(f.update(), Step::parsed);
    append(main, call(6, "m6") + "\n");
    setFileTime(main, -10);
    EXPECT_EQ(f.update(), Step::parsed);
    // Another source or another list of files.
    f.source = kCodex;
    EXPECT_EQ(f.update(), Step::parsed);
    f.paths.pop_back();
    EXPECT_EQ(f.update(), Step::parsed);
}

TEST(ConversationDetailCache, AFileChangedWithoutItsTimesShowingItIsReadAgain) {
    Follower f{kClaude};
    const std::string agent = f.add("agent.jsonl", call(1, "m1", "ok", 10) + "\n", 0);
    const std::string main = f.add("main.jsonl", call(2, "m2", "ok", 10) + "\n", 1);
    EXPECT_EQ(f.update(), Step::parsed);
    // Rewritten at the same size with the old modification time.
    rewrite(main, call(2, "m2", "ok", 20) + "\n");
    setFileTime(main, 1);
    EXPECT_EQ(f.update(), Step::parsed);

    // Changed with no time moving, the newest file and an older one: each
    // was read soon after its last change, so its content is checked.
    for (const std::string& path : {main, agent}) {
        SCOPED_TRACE(path);
        MappedFile mapped(path);
        const int second = path == main ? 2 : 1;
        const std::string id = path == main ? "m8" : "m9";
        mapped.put(call(second, id, "ok", 30) + "\n");
        EXPECT_EQ(f.update(), Step::parsed);
        mapped.put(call(second, id, "ok", 40) + "\n");
        EXPECT_EQ(f.update(), Step::parsed);
        EXPECT_EQ(f.update(), Step::reused);
    }
    EXPECT_EQ(f.last->costEvents().size(), 2u);
    EXPECT_DOUBLE_EQ(f.last->itemizedCost, 2 * 40 * 5 / 1e6);

    // An older file rejected for a bad byte, then mended with no time
    // moving: read again, now whole.
    rewrite(agent, call(1, "m1", "x\xFF") + "\n");
    setFileTime(agent, 0);
    EXPECT_EQ(f.update(), Step::parsed);
    MappedFile mapped(agent);
    mapped.put(call(1, "m1", "x\xFE") + "\n");
    EXPECT_EQ(f.update(), Step::parsed);
    mapped.put(call(1, "m1", "xy") + "\n");
    EXPECT_EQ(f.update(), Step::parsed);
    EXPECT_EQ(f.last->costEvents().size(), 2u);
}

TEST(ConversationDetailCache, OnlyAFileReadWithinATickOfItsLastChangeIsCheckedAgain) {
    Follower f{kClaude};
    f.add("agent.jsonl", call(1, "m1") + "\n", 0);
    const std::string main = f.add("main.jsonl", call(2, "m2", "ok", 10) + "\n", 1);
    FileClockAt clock(FileTimes::nowNs());
    {
        // Read a whole tick after every change: trusted from then on, so a
        // change that its times do not show stays unseen.
        MappedFile mapped(main);
        mapped.put(call(2, "m2", "ok", 20) + "\n");
        clock.set(changedNs(main) + FileTimes::kTickNs);
        EXPECT_EQ(f.update(), Step::parsed);
        mapped.put(call(2, "m2", "ok", 30) + "\n");
        f.cache.detail(f.paths, kClaude);
        EXPECT_EQ(f.cache.lastStep(), Step::reused);
    }
    // Read just within the tick: checked again.
    rewrite(main, call(2, "m2", "ok", 40) + "\n");
    setFileTime(main, 1);
    MappedFile mapped(main);
    mapped.put(call(2, "m2", "ok", 50) + "\n");
    clock.set(changedNs(main) + FileTimes::kTickNs - 1);
    EXPECT_EQ(f.update(), Step::parsed);
    mapped.put(call(2, "m2", "ok", 60) + "\n");
    EXPECT_EQ(f.update(), Step::parsed);
    EXPECT_DOUBLE_EQ(*f.last->costEvents().back().cost, 60 * 5 / 1e6);
}

TEST(ConversationDetailCache, FilesPastThePathLimitAreRead) {
    TempDir dir;
    DeepFolder deep(dir.path(), 300, "a-folder-with-a-name");
    const std::vector<std::string> paths = {deep.write("agent.jsonl", call(1, "m1") + "\n"),
                                            deep.write("main.jsonl", call(2, "m2") + "\n")};
    ConversationDetailCache cache;
    EXPECT_EQ(cache.detail(paths, kClaude)->costEvents().size(), 2u);
    EXPECT_EQ(ConversationDetailParser::parse(paths, kClaude).costEvents().size(), 2u);
    deep.write("main.jsonl", call(3, "m3") + "\n", true);
    EXPECT_EQ(cache.detail(paths, kClaude)->costEvents().size(), 3u);
    EXPECT_EQ(cache.lastStep(), Step::appended);
}

TEST(ConversationDetailCache, CodexReadingStateCarriesOver) {
    Follower f{kCodex};
    f.add("rollout.jsonl", tokenCount(1, 1, "gpt-5.5") + tokenCount(2, 2), 0);
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
    Follower f{kClaude};
    auto read = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    for (const auto& entry : fs::directory_iterator(root / "258c7280-ae70-4798-800f-63464d01a85d/subagents"))
        f.add(entry.path().filename().string(), read(entry.path()), static_cast<int>(f.paths.size()));
    const std::string whole = read(root / "258c7280-ae70-4798-800f-63464d01a85d.jsonl");
    ASSERT_GE(f.paths.size(), 1u) << "no subagent files";
    ASSERT_GT(whole.size(), 100000u);
    std::mt19937 random(7);
    size_t written = whole.size() / 3;
    f.add("main.jsonl", whole.substr(0, written), 100);
    EXPECT_EQ(f.update(), Step::parsed);
    int pieces = 0;
    while (written < whole.size()) {
        size_t piece = std::min(whole.size() - written, size_t{1} + random() % 120000);
        append(f.paths.back(), whole.substr(written, piece));
        written += piece;
        EXPECT_EQ(f.update(), Step::appended) << "at byte " << written;
        ++pieces;
    }
    // The whole conversation was read: several appends, and calls with a cost.
    EXPECT_GE(pieces, 3);
    EXPECT_FALSE(f.last->costEvents().empty());
}
