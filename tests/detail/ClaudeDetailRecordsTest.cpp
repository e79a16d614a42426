#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "detail/DetailRecords.h"
#include "tests/detail/DetailTestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

constexpr SourceKind kClaude = SourceKind::claudeCode;

std::string user(std::string_view text, std::string_view extra = "") {
    return R"({"type":"user",)" + std::string(extra) + R"("message":{"content":)" + jsonString(text) + "}}";
}

// An assistant line with one content block and the given usage.
std::string assistant(std::string_view id, std::string_view time, std::string_view usage,
                      std::string_view model = "claude-opus-4-8", std::string_view block = R"({"type":"text","text":"ok"})") {
    std::string idField = id.empty() ? "" : R"("id":")" + std::string(id) + R"(",)";
    return R"({"type":"assistant","timestamp":"2026-07-05T10:00:0)" + std::string(time) + R"(Z","message":{)" + idField +
           R"("model":")" + std::string(model) + R"(","usage":{)" + std::string(usage) + R"(},"content":[)" +
           std::string(block) + "]}}";
}

}  // namespace

TEST(ClaudeDetailRecords, UserTextIsAPromptUnlessMarked) {
    struct Case {
        std::string line, expected;
    } const cases[] = {
        {user(" \n\t "), ""},
        {user("  Fix the\n\nbuild "), "User|Prompt|Fix the build\n"},
        {user("plain words", R"("isMeta":true,)"), "Internal|Injected context|plain words\n"},
        {user("plain words", R"("isMeta":"yes",)"), "User|Prompt|plain words\n"},
        {user("<div>hi</div>"), "Internal|Injected context|<div>hi</div>\n"},
        {user("This session is being continued from"), "Internal|Session continuation|This session is being continued from\n"},
        {user("[Request interrupted by user]"), "Internal|Interruption|[Request interrupted by user]\n"},
        {user("<task-notification>done"), "Internal|Task notification|<task-notification>done\n"},
        {user("<command-name>/clear"), "Internal|Command|<command-name>/clear\n"},
        {user("<local-command-stdout>x"), "Internal|Command|<local-command-stdout>x\n"},
        {user("Caveat: below"), "Internal|Command|Caveat: below\n"},
        {user("<bash-stdout>ok"), "Internal|Shell output|<bash-stdout>ok\n"},
        {user("<system-reminder>r", R"("isMeta":true,)"), "Internal|System reminder|<system-reminder>r\n"},
        // Blocks: a tool's output as sorted compact JSON, a text through the
        // same rules as a plain content; a list holding a non-object is not
        // read at all.
        {R"({"type":"user","message":{"content":[{"type":"tool_result","content":[{"type":"text","text":"out"}]},)"
         R"({"type":"text","text":"next"},{"type":"image"}]}})",
         "Tool result|Tool result|[{\"text\":\"out\",\"type\":\"text\"}]\nUser|Prompt|next\n"},
        {R"({"type":"user","message":{"content":[{"type":"text","text":"lost"},"stray"]}})", ""},
        {R"({"type":"user","message":"not an object"})", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(timeline(parseLines(kClaude, {c.line})), c.expected);
    }
}

TEST(ClaudeDetailRecords, AssistantBlocksTitlesAndSystemLines) {
    ConversationDetail d = parseLines(
        kClaude,
        {R"({"type":"assistant","message":{"content":[{"type":"text","text":" a  b "},{"type":"thinking","thinking":"hm"},)"
         R"({"type":"tool_use","input":{"b":1,"a":2}},{"type":"tool_use","name":"","input":"ls"},{"type":"image"}]}})",
         R"({"type":"assistant","message":{"model":"claude-opus-4-8","usage":{"output_tokens":10},"content":"plain"}})",
         R"({"type":"system","subtype":"away_summary","content":"Went\naway"})",
         R"({"type":"system","subtype":"away_summary","content":""})",
         R"({"type":"system"})",
         R"({"type":"ai-title","aiTitle":"First"})", R"({"type":"ai-title","aiTitle":"Second"})",
         R"({"type":"ai-title","aiTitle":""})", R"({"type":"ai-title","aiTitle":7})"});
    EXPECT_EQ(timeline(d),
              "Assistant|Response|a b\nReasoning|Thinking block|hm\nTool call|Tool|{\"a\":2,\"b\":1}\nTool call||ls\n"
              "System|Away summary|Went away\nSystem|away_summary|\nSystem|System event|\n"
              // Undated like the rest, the token event goes after them.
              "Tokens|API call|model \u2068claude-opus-4-8\u2069 \u00b7 input 0 \u00b7 output 10 \u00b7 cache read 0 \u00b7 cache write 0\n");
    EXPECT_EQ(d.summaries, std::vector<std::string>{"Went away"});
    EXPECT_EQ(d.generatedTitle, "Second");
}

TEST(ClaudeDetailRecords, ApiCallIsPricedByHandAndItsTokenSumsSaturate) {
    // claude-opus-4-8: input 5, output 25, cache read 0.5, 5-minute write 6.25
    // and 1-hour write 10 dollars per million tokens.
    ConversationDetail d = parseLines(
        kClaude, {assistant("m1", "1", R"("input_tokens":1000,"output_tokens":2000,"cache_read_input_tokens":10000,)"
                                       R"("cache_creation_input_tokens":4000)"),
                  assistant("m2", "2", R"("input_tokens":1,"cache_creation_input_tokens":999,)"
                                       R"("cache_creation":{"ephemeral_5m_input_tokens":100,"ephemeral_1h_input_tokens":200})")});
    const std::vector<ConversationEvent> calls = d.costEvents();
    ASSERT_EQ(calls.size(), 2u);
    const ConversationEvent &call = calls[0], &split = calls[1];
    EXPECT_NEAR(*call.cost, 0.085, 1e-15);
    const std::pair<double, double> parts[] = {{call.freshInputCost, 0.005}, {call.cacheCost, 0.03}, {call.outputCost, 0.05}};
    for (auto [part, want] : parts) EXPECT_NEAR(part, want, 1e-15);
    EXPECT_EQ(call.tokens, 17000);
    EXPECT_EQ(call.detail,
              "model \u2068claude-opus-4-8\u2069 \u00b7 input 1000 \u00b7 output 2000 \u00b7 cache read 10000 \u00b7 cache write 4000");
    // The split by lifetime wins over the total.
    EXPECT_NEAR(*split.cost, (5 + 100 * 6.25 + 200 * 10) / 1e6, 1e-15);
    EXPECT_EQ(split.tokens, 301);

    // The token sums of one call saturate.
    const std::string max = std::to_string(std::numeric_limits<std::int64_t>::max());
    ConversationDetail huge = parseLines(
        kClaude, {assistant("m1", "1", R"("input_tokens":)" + max + R"(,"output_tokens":)" + max +
                                           R"(,"cache_creation":{"ephemeral_5m_input_tokens":)" + max +
                                           R"(,"ephemeral_1h_input_tokens":)" + max + "}")});
    ASSERT_EQ(huge.events.size(), 2u);
    EXPECT_EQ(huge.events[1].tokens, std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(huge.events[1].detail.ends_with("cache write " + max)) << huge.events[1].detail;
}

TEST(ClaudeDetailRecords, OneResponseOverSeveralLinesIsOneApiCall) {
    const std::string usage = R"("output_tokens":100)";
    ConversationDetail d = parseFiles(
        kClaude, {{assistant("m1", "2", R"("output_tokens":0)"),  // prices to 0: key left free
                   assistant("m1", "4", usage, "claude-opus-4-8", R"({"type":"thinking","thinking":"t"})"),
                   assistant("m1", "3", usage, "claude-opus-4-8", R"({"type":"tool_use","name":"Bash"})"),
                   assistant("s1", "1", usage, "<synthetic>"), assistant("s1", "1", usage, ""),
                   // A repeat written earlier keeps the later time.
                   assistant("s1", "6", usage), assistant("s1", "5", usage), assistant("", "7", usage),
                   assistant("", "7", usage),
                   // Usage without a model, a model without usage: nothing to bill.
                   R"({"type":"assistant","message":{"id":"u1","usage":{"output_tokens":100},"content":[]}})",
                   R"({"type":"assistant","message":{"id":"u2","model":"claude-opus-4-8","usage":7,"content":[]}})"},
                  // The same response again in a later file: only its time counts.
                  {assistant("m1", "5", R"("output_tokens":999)")}});
    std::vector<ConversationEvent> calls = d.costEvents();
    ASSERT_EQ(calls.size(), 4u);  // m1, s1 and two without a key
    EXPECT_DOUBLE_EQ(*calls[0].cost, 100 * 25 / 1e6);
    EXPECT_EQ(std::tuple(calls[0].timestamp, calls[1].timestamp),
              std::tuple(test::utc(2026, 7, 5, 10, 0, 5), test::utc(2026, 7, 5, 10, 0, 6)));
    // Every line's content stays, the synthetic ones' too (the later file's
    // repeated response is dropped as a repeat of an earlier file's event).
    EXPECT_EQ(std::tuple(d.stats.messages, d.stats.reasoning, d.stats.toolCalls), std::tuple(7, 1, 1));
    EXPECT_EQ(d.claudeCostEventIndex.size(), 4u);
    // The synthetic and unnamed models bill nothing: s1 is the named model's call.
    for (const ConversationEvent& call : calls)
        EXPECT_TRUE(call.detail.starts_with("model \u2068claude-opus-4-8\u2069")) << call.detail;
}

TEST(ClaudeDetailRecords, OnlyALaterTimeMovesARepeatedResponse) {
    // Moved events are sorted again when a reading continues: a repeat at
    // the same or an earlier time moves nothing.
    ConversationDetailParser::DetailBuilder b;
    for (std::string_view time : {"4", "4", "3", "6"}) {
        Json line(assistant("m1", time, R"("output_tokens":100)"));
        ConversationDetailParser::parseClaude(line.value()->get_object().value(), b);
    }
    EXPECT_EQ(b.moved(), std::vector<std::uint32_t>{0});
    const ConversationEvent& call = b.d.events[0];
    EXPECT_EQ(call.timestamp, test::utc(2026, 7, 5, 10, 0, 6));
    // Numbering comes only once the timeline is sorted.
    EXPECT_EQ(std::tuple(call.id, call.turnIndex), std::tuple(0, 0));
}
