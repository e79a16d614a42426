#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "detail/ConversationDetailCache.h"
#include "tests/detail/DetailTestSupport.h"

using namespace vorel;
using namespace vorel::test;
namespace fs = std::filesystem;

namespace {

const std::string kClaude = "Claude Code";

std::vector<int> turns(const ConversationDetail& d) {
    std::vector<int> out;
    for (const ConversationEvent& e : d.costEvents()) out.push_back(e.turnIndex);
    return out;
}

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
    EXPECT_EQ(ConversationDetailParser::readingOrder(std::vector<ConversationDetailParser::FileDate>(3)),
              (std::vector<size_t>{0, 1, 2}));

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
              "Assistant|Response|first\n"
              "Tokens|API call|model \u2068claude-haiku-4-5\u2069 \u00b7 input 0 \u00b7 output 10 \u00b7 cache read 0 \u00b7 cache write 0\n"
              "Tokens|API call|model \u2068claude-haiku-4-5\u2069 \u00b7 input 0 \u00b7 output 10 \u00b7 cache read 0 \u00b7 cache write 0\n");
    EXPECT_EQ(d.events[0].timestamp, utc(2026, 7, 5, 10, 0, 1));  // the older file's
    EXPECT_EQ(d.stats.toolResults, 3);
    EXPECT_EQ(d.stats.tokenSnapshots, 2);
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
    EXPECT_EQ(d.costEvents().size(), 1u);
    EXPECT_EQ(d.claudeCostEventIndex.at("m1"), 1);
}

TEST(ConversationDetailPipeline, UnreadableFilesAndLinesCostOnlyThemselves) {
    TempDir dir;
    EXPECT_EQ(ConversationDetailParser::parse({}, kClaude), ConversationDetail{});
    EXPECT_EQ(ConversationDetailParser::parse({dir.file("missing.jsonl"), dir.path().string()}, "Codex"), ConversationDetail{});
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
              "User|Prompt|undated\nAssistant|Response|undated reply\n"
              "Tokens|API call|model \u2068claude-haiku-4-5\u2069 \u00b7 input 0 \u00b7 output 1 \u00b7 cache read 0 \u00b7 cache write 0\n"
              "Assistant|Response|same time\n"
              "Tokens|API call|model \u2068claude-haiku-4-5\u2069 \u00b7 input 0 \u00b7 output 10 \u00b7 cache read 0 \u00b7 cache write 0\n"
              "User|Prompt|go\n");
    for (size_t i = 0; i < d.events.size(); ++i) EXPECT_EQ(d.events[i].id, static_cast<int>(i));
}

TEST(ConversationDetailPipeline, TurnsArePromptsWithTheCallsThatFollow) {
    // P = prompt, C = API call, in time order.
    const std::map<std::string, std::vector<int>> cases = {
        {"PCCPC", {1, 1, 2}}, {"CPC", {1, 1}}, {"PPC", {1}}, {"PCPPC", {1, 2}}, {"", {}}};
    for (const auto& [sequence, expected] : cases) {
        std::vector<std::string> lines;
        for (size_t i = 0; i < sequence.size(); ++i) {
            int second = static_cast<int>(i) + 1;
            lines.push_back(sequence[i] == 'P' ? prompt(second, "p" + std::to_string(i))
                                               : call(second, "m" + std::to_string(i), "r" + std::to_string(i)));
        }
        EXPECT_EQ(turns(parseLines(kClaude, lines)), expected) << sequence;
    }
    // A Codex call that prices to nothing neither starts nor ends a turn.
    auto codexPrompt = [](int s) {
        return codexLine("response_item", R"({"type":"message","role":"user","content":[{"text":"p"}]})", at(s));
    };
    ConversationDetail d = parseLines("Codex", {codexPrompt(1), codexTokens(5, 2, at(2)), codexPrompt(3), codexTokens(0, 4, at(4)),
                                                codexPrompt(5), codexTokens(5, 6, at(6))});
    EXPECT_EQ(turns(d), (std::vector<int>{1, 2}));
    EXPECT_EQ(d.events[3].turnIndex, 0);
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
    ConversationDetail codex = ConversationDetailParser::parse({rollout.string()}, "Codex");
    EXPECT_EQ(codex.stats, (ConversationStats{17, 25, 102, 102, 6, 3, 66, 0}));
    EXPECT_EQ(codex.costEvents().size(), 66u);
    EXPECT_EQ(codex.currentModel, "gpt-5.5");
    // gpt-5.5: 18703 x 5 + 167 x 30; then 607 x 5 + 18304 x 0.5 + 37 x 30.
    EXPECT_EQ(codex.costEvents()[0].detail, "model \u2068gpt-5.5\u2069 \u00b7 input 18703 \u00b7 cached 0 \u00b7 output 167");
    EXPECT_NEAR(*codex.costEvents()[0].cost, 0.098525, 1e-15);
    EXPECT_EQ(codex.costEvents()[1].detail, "model \u2068gpt-5.5\u2069 \u00b7 input 607 \u00b7 cached 18304 \u00b7 output 37");
    EXPECT_NEAR(*codex.costEvents()[1].cost, 0.013297, 1e-15);
}
