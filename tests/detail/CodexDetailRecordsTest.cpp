#include <gtest/gtest.h>

#include <tuple>

#include "tests/detail/DetailTestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

constexpr SourceKind kCodex = SourceKind::codex;

std::string item(std::string_view payload) { return R"({"type":"response_item","payload":)" + std::string(payload) + "}"; }
std::string event(std::string_view payload) { return R"({"type":"event_msg","payload":)" + std::string(payload) + "}"; }

std::string tokenCount(int total, std::string_view last) {
    return event(R"({"type":"token_count","info":{"total_token_usage":{"input_tokens":)" + std::to_string(total) +
                 "}" + (last.empty() ? "" : R"(,"last_token_usage":)" + std::string(last)) + "}}");
}

}  // namespace

TEST(CodexDetailRecords, ItemsAndMessages) {
    ConversationDetail d = parseLines(
        kCodex,
        {R"({"type":"session_meta","payload":{"title":"Named","cwd":"/w","agent_role":{"b":1,"a":[]},"id":"x"}})",
         R"({"type":"session_meta","payload":{"title":""}})",
         item(R"({"type":"message","role":"user","content":[{"input_text":"fix"},{"text":7,"input_text":"it"},{"x":1}]})"),
         item(R"({"type":"message","role":"user","content":[{"text":"  "}]})"),
         item(R"({"type":"message","role":"user","content":[{"text":"<environment_context>"}]})"),
         item(R"({"type":"message","content":[]})"),
         // A part that is not an object spoils the whole list; no content at all.
         item(R"({"type":"message","role":"user","content":[{"text":"lost"},"stray"]})"),
         item(R"({"type":"message"})"),
         item(R"({"type":"reasoning","encrypted_content":null})"),
         item(R"({"type":"reasoning","summary":[],"encrypted_content":"e"})"),
         item(R"({"type":"function_call","arguments":"{\"cmd\":1}","input":"no"})"),
         item(R"({"type":"custom_tool_call","name":"apply_patch","input":null})"),
         item(R"({"type":"web_search_call","query":"q"})"),
         item(R"({"type":"function_call_output","output":{"z":1,"a":"x y"}})"),
         item(R"({"type":"something_else"})"),
         event(R"({"type":"task_started","turn":1})"),
         event(R"({"type":"web_search_end","query":"q"})"),
         event(R"({"type":"patch_apply_end","ok":true})"),
         event(R"({"type":"agent_message","message":"not shown"})"),
         R"({"type":"response_item"})"});
    EXPECT_EQ(timeline(d),
              "Lifecycle|Session started|cwd: \u2068/w\u2069 \u00b7 agent_role: \u2068{\"a\":[],\"b\":1}\u2069\n"
              "Lifecycle|Session started|\n"
              "User|Prompt|fix it\n"
              "Internal|Injected context|<environment_context>\n"
              "Assistant|Response|\n"
              "Assistant|Response|\n"
              "Reasoning|Reasoning|Encrypted reasoning content stored in transcript.\n"
              "Reasoning|Reasoning|[]\n"
              "Tool call|function_call|{\"cmd\":1}\n"
              "Tool call|apply_patch|null\n"
              "Web search|web_search_call|q\n"
              "Tool result|function_call_output|{\"a\":\"x y\",\"z\":1}\n"
              "Lifecycle|task started|{\"turn\":1,\"type\":\"task_started\"}\n"
              "Web search|Search completed|{\"query\":\"q\",\"type\":\"web_search_end\"}\n"
              "Patch|Patch applied|{\"ok\":true,\"type\":\"patch_apply_end\"}\n");
    EXPECT_EQ(d.generatedTitle, "Named");
}

TEST(CodexDetailRecords, EachValueOfAMetaLineIsIsolatedFromTheRest) {
    // A stray end of isolate in one value cannot end its isolate early; an
    // override stays inside. A value too long for the line is cut as
    // before.
    const std::string longPath = "/" + std::string(300, 'p');
    ConversationDetail d = parseLines(
        kCodex, {R"({"type":"session_meta","payload":{"model":"m\u2069\u202Ex","cwd":"/w","agent_role":"r"}})",
                 R"({"type":"turn_context","payload":{"model":"m","cwd":")" + longPath + R"("}})"});
    ASSERT_EQ(d.events.size(), 2u);
    EXPECT_EQ(d.events[0].detail,
              "model: \u2068m\u202Ex\u2069 \u00b7 cwd: \u2068/w\u2069 \u00b7 agent_role: \u2068r\u2069");
    const std::string& cut = d.events[1].detail;
    EXPECT_EQ(cut.rfind("model: \u2068m\u2069 \u00b7 cwd: \u2068/ppp", 0), 0u) << cut;
    EXPECT_TRUE(cut.ends_with("pp...")) << cut;

    // A value past the first piece read, made short by collapsing its white
    // space, is read to its end before the next key.
    ConversationDetail spaced = parseLines(
        kCodex, {R"({"type":"session_meta","payload":{"cwd":")" + std::string(5000, ' ') + R"(end","agent_role":"r"}})"});
    ASSERT_EQ(spaced.events.size(), 1u);
    EXPECT_EQ(spaced.events[0].detail, "cwd: \u2068 end\u2069 \u00b7 agent_role: \u2068r\u2069");
}

TEST(CodexDetailRecords, CompactionsAreCountedAsRead) {
    ConversationDetail d = parseFiles(kCodex, {{R"({"type":"compacted"})",
                                                R"({"type":"compacted","payload":{"message":"So\nfar"}})",
                                                event(R"({"type":"context_compacted"})")},
                                               {R"({"type":"compacted"})"}});
    // Four read, though the later file's event is dropped as a repeat.
    EXPECT_EQ(d.stats.compactions, 4);
    EXPECT_EQ(d.events.size(), 3u);
    EXPECT_EQ(d.summaries, std::vector<std::string>{"So far"});
}

TEST(CodexDetailRecords, TokenCountsArePricedOncePerRunningTotals) {
    ConversationDetail d = parseFiles(
        kCodex,
        {{tokenCount(1, R"({"input_tokens":1000000})"),  // before any model: the Claude fallback, input 5
          R"({"type":"turn_context","payload":{"model":"gpt-5.5"}})",
          // 200,000 input (150,000 cached) and 1,000 output: long-context rates 10, 1 and 45.
          tokenCount(2, R"({"input_tokens":200000,"cached_input_tokens":150000,"output_tokens":1000})"),
          tokenCount(2, R"({"input_tokens":1})"),  // the same totals again: nothing at all
          tokenCount(3, R"({"input_tokens":10,"cached_input_tokens":99})"),
          tokenCount(4, R"({})"),
          tokenCount(5, ""),
          event(R"({"type":"token_count","info":null})"), event(R"({"type":"token_count","info":null})"),
          event(R"({"type":"token_count"})")},
         {tokenCount(2, R"({"input_tokens":7})"), event(R"({"type":"token_count","info":null})")}});
    std::vector<std::string> lines;
    for (const ConversationEvent& e : d.events) lines.push_back(e.title + "|" + e.detail);
    // All undated: the token events follow the others.
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Turn context|model: \u2068gpt-5.5\u2069",
                         "API call|model \u2068(unknown OpenAI model)\u2069 \u00b7 input 1000000 \u00b7 cached 0 \u00b7 output 0",
                         "API call|model \u2068gpt-5.5\u2069 \u00b7 input 50000 \u00b7 cached 150000 \u00b7 output 1000",
                         "API call|model \u2068gpt-5.5\u2069 \u00b7 input 0 \u00b7 cached 10 \u00b7 output 0",
                         "API call|model \u2068gpt-5.5\u2069 \u00b7 input 0 \u00b7 cached 0 \u00b7 output 0",
                         "API call|{\"total_token_usage\":{\"input_tokens\":5}}",
                         "Token usage|null", "Token usage|null", "Token usage|"}));
    EXPECT_DOUBLE_EQ(*d.events[1].cost, 5.0);
    const ConversationEvent& longContext = d.events[2];
    const std::pair<double, double> parts[] = {
        {longContext.freshInputCost, 0.5}, {longContext.cacheCost, 0.15}, {longContext.outputCost, 0.045}};
    for (auto [part, want] : parts) EXPECT_DOUBLE_EQ(part, want);
    EXPECT_NEAR(*longContext.cost, 0.695, 1e-15);
    EXPECT_EQ(longContext.tokens, 201000);
    // All zeros: tokens but no cost, no turn, not plotted.
    EXPECT_TRUE(d.events[4].tokens == 0 && !d.events[4].cost);
    // Totals without the last call's usage: no tokens and no cost parts.
    const ConversationEvent& unpriced = d.events[5];
    EXPECT_EQ(unpriced.tokens, std::nullopt);
    EXPECT_EQ(std::tuple(unpriced.freshInputCost, unpriced.cacheCost, unpriced.outputCost), std::tuple(0.0, 0.0, 0.0));
    EXPECT_EQ(d.costEvents().size(), 3u);
    EXPECT_EQ(d.stats.tokenSnapshots, 8);
    EXPECT_NEAR(d.itemizedCost, 5.0 + 0.695 + 10 * 0.5 / 1e6, 1e-12);
}

TEST(CodexDetailRecords, AMessageReadInPiecesIsCutOnlyAtWholeCharacters) {
    // 300 characters, the last a letter with a combining accent whose two
    // bytes come just past the first piece read: the text is shown whole.
    std::string text;
    for (int i = 0; i < 137; ++i) text += "\U0001F1EB\U0001F1F7";
    for (int i = 0; i < 3; ++i) text += "\U0001F600";
    text += std::string(159, 'x') + "e\u0301";
    for (std::string_view role : {"user", "assistant"}) {
        SCOPED_TRACE(role);
        ConversationDetail d = parseLines(kCodex, {item(R"({"type":"message","role":")" + std::string(role) +
                                                        R"(","content":[{"text":)" + jsonString(text) + "}]}")});
        ASSERT_EQ(d.events.size(), 1u);
        EXPECT_EQ(d.events[0].detail, text);
    }
}
