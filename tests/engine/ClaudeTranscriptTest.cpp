#include <gtest/gtest.h>

#include <vector>

#include "engine/Transcript.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::Transcript;
using namespace vorel::test;

namespace {

const DayWindow kToday = utcDay(utc(2026, 7, 5));

ParsedSession parse(std::string bytes, const DayWindow& today = kToday) {
    return parseClaudeText(textOf(std::move(bytes)), today);
}

// One assistant line. `top` goes first in the line, `ids` first in the message.
std::string assistant(const std::string& ids, const std::string& model, const std::string& usage,
                      const std::string& top = R"("timestamp":"2026-07-05T10:00:00.000Z",)") {
    std::string m = model.empty() ? "" : R"("model":")" + model + R"(",)";
    return "{" + top + R"("type":"assistant","message":{)" + ids + m + R"("usage":)" + usage + "}}\n";
}

// The keys billed from `lines`, random ones shown as "?". The lines are read
// alone and after a line that gives folder and title, from which point
// repeats are recognised before the full parse; both must agree.
std::vector<std::string> keysBothWays(const std::string& lines) {
    auto keys = [](const ParsedSession& s) {
        std::vector<std::string> out;
        for (const BilledTurn& t : s.turns)
            out.push_back(t.key.size() == 36 && t.key[8] == '-' && t.key[14] == '4' ? "?" : t.key);
        return out;
    };
    std::vector<std::string> plain = keys(parse(lines));
    EXPECT_EQ(plain, keys(parse(R"({"type":"user","cwd":"/w","message":{"content":"Hi"}})" "\n" + lines)));
    return plain;
}

}  // namespace

TEST(ClaudeTranscript, PricesOneResponse) {
    // claude-opus-4-8 at 5 / 25, cache read 0.5, 5-minute write 6.25:
    // 1000 x 5 + 2000 x 25 + 10000 x 0.5 + 4000 x 6.25 = 85000 per million.
    ParsedSession s = parse(assistant(R"("id":"m1",)", "claude-opus-4-8",
                                      R"({"input_tokens":1000,"output_tokens":2000,)"
                                      R"("cache_read_input_tokens":10000,"cache_creation_input_tokens":4000})"));
    ASSERT_EQ(s.turns.size(), 1u);
    const BilledTurn& t = s.turns[0];
    EXPECT_NEAR(t.cost, 0.085, 1e-15);
    EXPECT_EQ(t.usage(), (ModelUsage{1000, 2000, 10000, 4000, 0, t.cost}));
    EXPECT_FALSE(s.hasUnknownModel);
    EXPECT_EQ(t.date, utc(2026, 7, 5, 10));

    // A model with capitals is outside the table: Claude fallback 5 / 25,
    // flagged; 100 x 5 + 10 x 25 = 750 per million.
    ParsedSession odd = parse(assistant("", "Claude-Opus-4-8", R"({"input_tokens":100,"output_tokens":10})"));
    EXPECT_NEAR(odd.totalCost, 0.00075, 1e-15);
    EXPECT_TRUE(odd.hasUnknownModel);
}

TEST(ClaudeTranscript, DeduplicationKeyPrecedence) {
    const std::string u = R"({"input_tokens":1})";
    const std::string lines = assistant(R"("id":"m1",)", "claude-haiku", u, R"("requestId":"r1","uuid":"u1",)") +
                              assistant("", "claude-haiku", u, R"("requestId":"r1","uuid":"u9",)") +
                              assistant(R"("id":"m1",)", "claude-haiku", R"({"input_tokens":500})") +  // repeat
                              assistant("", "claude-haiku", u, R"("requestId":7,"uuid":"u2",)") +
                              assistant("", "claude-haiku", u) +  // no key at all: always counted
                              assistant("", "claude-haiku", u) +
                              assistant(R"("id":"",)", "claude-haiku", u) +  // the empty string is a key
                              assistant(R"("id":"",)", "claude-haiku", u) +
                              assistant(R"("id":5,)", "claude-haiku", u, R"("requestId":"r2",)") +
                              assistant("", "claude-haiku", u, R"("uuid":"u2",)") +
                              assistant(R"("id":"m1","id":"m3",)", "claude-haiku", u);  // the last id counts
    EXPECT_EQ(keysBothWays(lines), (std::vector<std::string>{"m1", "r1", "u2", "?", "?", "", "r2", "m3"}));
    ParsedSession s = parse(lines);
    EXPECT_NE(s.turns[3].key, s.turns[4].key);
    EXPECT_EQ(s.perModel.at("claude-haiku").input, 8);  // the first line of a repeat counts

    // The key is taken before the model check: a repeat of an unbilled
    // "<synthetic>" or model-less line stays unbilled. A line without a usage
    // object, or not of type assistant, takes no key.
    EXPECT_EQ(keysBothWays(
                  assistant(R"("id":"s1",)", "<synthetic>", u) + assistant(R"("id":"s1",)", "claude-haiku", u) +
                  assistant(R"("id":"s2",)", "", u) + assistant(R"("id":"s2",)", "claude-haiku", u) +
                  assistant(R"("id":"s3",)", "claude-haiku", "[1]") +
                  R"({"type":"user","message":{"id":"s4","model":"claude-haiku","usage":{"input_tokens":1}}})" "\n" +
                  assistant(R"("id":"s3",)", "claude-haiku", u) + assistant(R"("id":"s4",)", "claude-haiku", u)),
              (std::vector<std::string>{"s3", "s4"}));
}

TEST(ClaudeTranscript, CacheWritesPreferTheSplitByLifetime) {
    const std::string total = R"("cache_creation_input_tokens":150})";
    ParsedSession s = parse(
        assistant("", "claude-sonnet",
                  R"({"cache_creation":{"ephemeral_5m_input_tokens":100,"ephemeral_1h_input_tokens":50},)" + total) +
        assistant("", "claude-sonnet", R"({"cache_creation":{},)" + total) +
        assistant("", "claude-sonnet", "{" + total) + assistant("", "claude-sonnet", R"({"cache_creation":7,)" + total) +
        assistant("", "claude-sonnet",
                  R"({"input_tokens":"9","output_tokens":null,"cache_read_input_tokens":2.9,)"
                  R"("cache_creation_input_tokens":123456789012345678901234567890})"));
    ASSERT_EQ(s.turns.size(), 5u);
    // claude-sonnet: 100 5-minute writes at 3.75 and 50 1-hour writes at 6.
    EXPECT_EQ(s.turns[0].usage(), (ModelUsage{0, 0, 0, 100, 50, s.turns[0].cost}));
    EXPECT_NEAR(s.turns[0].cost, (100 * 3.75 + 50 * 6.0) / 1e6, 1e-15);
    EXPECT_EQ(s.turns[1].usage(), ModelUsage{});  // the split wins even when empty
    EXPECT_EQ(s.turns[2].usage(), (ModelUsage{0, 0, 0, 150, 0, s.turns[2].cost}));
    EXPECT_EQ(s.turns[3].cacheWrite5m, 150);
    // Unreadable counts are 0; a count past 64 bits does not cost the line.
    EXPECT_EQ(s.turns[4].usage(), (ModelUsage{0, 0, 2, 0, 0, s.turns[4].cost}));
}

TEST(ClaudeTranscript, TodayAndActivityComeFromDatedBilledResponses) {
    const std::string u = R"({"output_tokens":1000})";  // 0.005 each at claude-haiku's 5
    auto at = [](const std::string& ts) { return R"("timestamp":")" + ts + R"(",)"; };
    ParsedSession s = parse(
        R"({"type":"user","timestamp":"2026-07-05T23:00:00Z","message":{"content":"Hi"}})" "\n" +
        assistant(R"("id":"a",)", "claude-haiku", u, at("2026-07-05T08:00:00Z")) +
        assistant(R"("id":"b",)", "claude-haiku", u, at("2026-07-04T23:59:59.999Z")) +
        assistant(R"("id":"c",)", "claude-haiku", u, "") + assistant(R"("id":"d",)", "claude-haiku", u, at("2026-07-06")) +
        assistant(R"("id":"e",)", "claude-haiku", u, R"("timestamp":12,)") +
        assistant(R"("id":"a",)", "claude-haiku", u, at("2026-07-05T22:00:00Z")) +
        assistant(R"("id":"f",)", "<synthetic>", u, at("2026-07-05T22:30:00Z")));
    ASSERT_EQ(s.turns.size(), 5u);
    EXPECT_NEAR(s.totalCost, 0.025, 1e-15);
    EXPECT_NEAR(s.todayCost, 0.005, 1e-15);
    EXPECT_TRUE(s.hadTodayActivity);
    EXPECT_EQ(s.firstActivity, utc(2026, 7, 4, 23, 59, 59) + std::chrono::milliseconds{999});
    EXPECT_EQ(s.lastActivity, utc(2026, 7, 5, 8));
    EXPECT_FALSE(s.turns[2].date || s.turns[3].date || s.turns[4].date);

    ParsedSession undated = parse(assistant(R"("id":"a",)", "claude-haiku", u, ""));
    EXPECT_EQ(undated.lastActivity, kDistantPast);
    EXPECT_EQ(undated.firstActivity, kDistantFuture);
}

TEST(ClaudeTranscript, TitleAndWorkingFolder) {
    ParsedSession s = parse(
        R"({"type":"progress","cwd":""})" "\n"
        R"({"type":"summary","cwd":"/home/me/app"})" "\n"
        R"({"type":"user","cwd":"/other","message":{"content":"  <command-name>/clear</command-name>"}})" "\n"
        R"({"type":"user","message":{"content":"Caveat: generated by a local command"}})" "\n"
        R"({"type":"user","message":{"content":["loose",{"type":"text","text":"Not from here"}]}})" "\n"
        R"({"type":"assistant","message":{"content":[{"type":"text","text":"Assistant words"}]}})" "\n"
        R"({"type":"user","message":{"content":[{},{"type":"text","text":" \n "},{"type":"text","text":7},)"
        R"({"type":"text","text":"\u2003 Fix the build\r\n"},{"type":"text","text":"second"}]}})" "\n"
        R"({"type":"user","message":{"content":"Later prompt"}})" "\n");
    EXPECT_EQ(s.cwd, "/home/me/app");
    EXPECT_EQ(s.title, "Fix the build");
    EXPECT_TRUE(s.turns.empty());
}

TEST(ClaudeTranscript, KeysSpelledWithEscapesCountOnceFolderAndTitleAreKnown) {
    // Lines that cannot change the record are passed over unread once folder
    // and title are known; a "usage" or "user" spelled with \u escapes can,
    // at the end of a line or inside it.
    const std::string folder = R"({"type":"summary","cwd":"/w"})" "\n";
    const std::string padding = R"("content":[{"type":"text","text":"some words of the reply, long enough"}],)";
    ParsedSession s = parse(
        folder + R"({"type":"\u0075ser","message":{"content":"Escaped prompt"}})" "\n" +
        R"({"type":"assistant","message":{"id":"m1","model":"claude-haiku","\u0075sage":{"output_tokens":1000}}})" "\n" +
        R"({"type":"assistant","message":{"id":"m2",)" + padding + R"("model":"claude-haiku","us\u0061ge":{"output_tokens":2000}}})" "\n" +
        R"({"type":"assistant","message":{"id":"m3","model":"claude-haiku","usag\u0065":{"output_tokens":4000},)" + padding + R"("x":1}})" "\n");
    EXPECT_EQ(s.title, "Escaped prompt");
    std::vector<std::int64_t> outputs;
    for (const BilledTurn& t : s.turns) outputs.push_back(t.output);
    EXPECT_EQ(outputs, (std::vector<std::int64_t>{1000, 2000, 4000}));

    // A "user" in the last bytes of a line, whatever the line's length.
    for (size_t pad = 0; pad < 16; ++pad) {
        ParsedSession last = parse(folder + R"({"message":{"content":"Last key"},"x":")" + std::string(pad, 'p') +
                                   R"(","type":"user"})" "\n");
        EXPECT_EQ(last.title, "Last key") << pad;
    }
}

TEST(ClaudeTranscript, RepeatsAndLinesThatCannotMatterAreNotParsedInFull) {
    // Until folder and title are known every line is parsed; after that, the
    // content blocks that repeat a billed response and user lines without a
    // usage are passed over, which is what keeps reading a large file cheap.
    const std::string usage = R"({"output_tokens":1000})";
    const std::string lines =
        R"({"type":"summary","cwd":"/w"})" "\n"
        R"({"type":"user","message":{"content":[{"type":"tool_result","content":"before the title"}]}})" "\n"
        R"({"type":"assistant","message":{"content":"thinking aloud"}})" "\n"
        R"({"type":"user","message":{"content":"Hi"}})" "\n" +
        assistant(R"("id":"m1",)", "claude-haiku", usage) + assistant(R"("id":"m1",)", "claude-haiku", usage) +
        assistant(R"("id":"m1",)", "claude-haiku", usage, R"("requestId":"r1","uuid":"u1",)") +
        // Keyed by its request id, as its last message id is not a string.
        assistant(R"("id":"m1","id":null,)", "claude-haiku", usage, R"("requestId":"m1",)") +
        // Escapes, digits and quoted words that spell neither key.
        R"({"type":"user","message":{"content":[{"type":"tool_result","tool_use_id":"toolu_0167",)"
        R"("content":"long\noutput \"user\" \u00e9 u \u0041 u0067 x\u1067"}]}})" "\n" +
        assistant(R"("id":"m2",)", "claude-haiku", usage);
    const std::uint64_t before = claudeLinesPassedOver();
    ParsedSession s = parse(lines);
    EXPECT_EQ(claudeLinesPassedOver() - before, 5u);
    EXPECT_EQ(s.title, "Hi");
    EXPECT_EQ(s.turns.size(), 2u);

    // While either the folder or the title is missing, a repeat may still
    // give it, and is read in full.
    const std::string billed = assistant(R"("id":"m1",)", "claude-haiku", usage);
    ParsedSession noTitle = parse(R"({"type":"summary","cwd":"/w"})" "\n" + billed +
                                  R"({"type":"user","message":{"id":"m1","usage":{},"content":"Late title"}})" "\n");
    EXPECT_EQ(noTitle.title, "Late title");
    ParsedSession noFolder = parse(R"({"type":"user","message":{"content":"Hi"}})" "\n" + billed +
                                   assistant(R"("id":"m1",)", "claude-haiku", usage, R"("cwd":"/late",)"));
    EXPECT_EQ(noFolder.cwd, "/late");
    EXPECT_EQ(noFolder.turns.size(), 1u);
}

TEST(ClaudeTranscript, RepeatsPassedOverCheaplyAreRealRepeats) {
    // Once folder and title are known, a line whose first "id" names a billed
    // response is read lazily for its key; the key the full parse would take
    // must decide, so only true repeats are passed over.
    auto out = [](int n) { return R"({"output_tokens":)" + std::to_string(n) + "}"; };
    const std::string again =
        R"({"type":"assistant","message":{"id":"m1","model":"claude-haiku","usage":{"output_tokens":1}})";
    const std::string lines =
        assistant(R"("id":"m1",)", "claude-haiku", out(1000)) +
        // The message key repeated: its last value counts, with a new id, or
        // without one (the request id, or a random key, then keys it).
        again + R"(,"message":{"id":"m2","model":"claude-haiku","usage":{"output_tokens":2000}}})" "\n" +
        again + R"(,"requestId":"r3","message":{"model":"claude-haiku","usage":{"output_tokens":3000}}})" "\n" +
        again + R"(,"message":{"model":"claude-haiku","usage":{"output_tokens":3500}}})" "\n" +
        again + R"(,"requestId":"m2","message":{"id":7,"model":"claude-haiku","usage":{"output_tokens":1}}})" "\n" +
        again + R"(,"message":{"id":"m1","model":"claude-haiku","usage":5}})" "\n" +
        assistant(R"("id":"m1","id":null,)", "claude-haiku", out(3700), R"("requestId":"r7",)") +
        // Keys spelled with escapes are the same keys.
        assistant(R"("id":"m1","\u0069d":"m4",)", "claude-haiku", out(4000)) +
        assistant(R"("\u0069d":"m4",)", "claude-haiku", out(1)) +
        again + R"(,"m\u0065ssage":{"id":"m5","model":"claude-haiku","usage":{"output_tokens":5000}}})" "\n" +
        R"({"type":"assistant","message":{"id":"m5","model":"claude-haiku","\u0075sage":{"output_tokens":1}}})" "\n" +
        // Broken lines bill nothing and take no key, whatever id they name.
        again + "\n" + again + "},\n" + again + R"(,"message":{"id":"m6","model":"claude-haiku","usage":{}}}x)" "\n" +
        assistant(R"("id":"m6",)", "claude-haiku", out(6000));
    EXPECT_EQ(keysBothWays(lines), (std::vector<std::string>{"m1", "m2", "r3", "?", "r7", "m4", "m5", "m6"}));
    ParsedSession s = parse(R"({"type":"user","cwd":"/w","message":{"content":"Hi"}})" "\n" + lines);
    std::vector<std::int64_t> outputs;
    for (const BilledTurn& t : s.turns) outputs.push_back(t.output);
    EXPECT_EQ(outputs, (std::vector<std::int64_t>{1000, 2000, 3000, 3500, 3700, 4000, 5000, 6000}));
    EXPECT_NEAR(s.totalCost, 28200 * 5 / 1e6, 1e-15);

    // Without a message or request id a response is keyed by its own uuid,
    // not by another field that names a billed key.
    EXPECT_EQ(keysBothWays(
                  R"({"type":"assistant","uuid":"k1","message":{"model":"claude-haiku","usage":{"output_tokens":1}}})" "\n"
                  R"({"type":"assistant","uuid":"k2","x":[{"id":"k1"}],"parentUuid":"k1",)"
                  R"("message":{"model":"claude-haiku","usage":{"output_tokens":2}}})" "\n"),
              (std::vector<std::string>{"k1", "k2"}));
}
