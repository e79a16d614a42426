#include <gtest/gtest.h>

#include <climits>

#include "engine/Transcript.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::Transcript;
using namespace vorel::test;

namespace {

ParsedSession parse(std::string bytes) { return parseCodexText(textOf(std::move(bytes)), utcDay(utc(2026, 7, 5))); }

std::string line(const std::string& type, const std::string& payload, const std::string& ts = "2026-07-05T10:00:00Z") {
    return "{" + (ts.empty() ? "" : R"("timestamp":")" + ts + R"(",)") + R"("type":")" + type +
           R"(","payload":)" + payload + "}\n";
}

std::string model(const std::string& type, const std::string& id) { return line(type, R"({"model":")" + id + "\"}"); }

// A token-count event with this call's usage and, unless "", the running totals.
std::string tokens(long long input, long long cached, long long output, const std::string& totals = "",
                   const std::string& ts = "2026-07-05T10:00:00Z") {
    std::string last = R"({"input_tokens":)" + std::to_string(input) + R"(,"cached_input_tokens":)" +
                       std::to_string(cached) + R"(,"output_tokens":)" + std::to_string(output) + "}";
    std::string t = totals.empty() ? "" : R"(,"total_token_usage":)" + totals;
    return line("event_msg", R"({"type":"token_count","info":{"last_token_usage":)" + last + t + "}}", ts);
}

}  // namespace

TEST(CodexTranscript, PricesCallsWithTheLongContextSwitch) {
    ParsedSession s = parse(model("turn_context", "gpt-5.5") + tokens(200000, 150000, 1000) +
                            tokens(128000, 0, 0) + tokens(100, 150, 0) + tokens(LLONG_MAX, -5, 0));
    ASSERT_EQ(s.turns.size(), 4u);
    // Long rates 10 / cached 1 / 45: 50000 x 10 + 150000 x 1 + 1000 x 45 = 695000 per million.
    EXPECT_NEAR(s.turns[0].cost, 0.695, 1e-15);
    EXPECT_EQ(s.turns[0].usage(), (ModelUsage{50000, 1000, 150000, 0, 0, s.turns[0].cost}));
    // At 128000 the standard 5 per million applies: 0.64, not 1.28.
    EXPECT_NEAR(s.turns[1].cost, 0.64, 1e-15);
    // Cached above input is capped at input: 0 uncached, 100 cached at 0.5.
    EXPECT_EQ(s.turns[2].usage(), (ModelUsage{0, 0, 100, 0, 0, s.turns[2].cost}));
    EXPECT_NEAR(s.turns[2].cost, 100 * 0.5 / 1e6, 1e-18);
    // A negative cached count does not overflow the uncached one.
    EXPECT_EQ(s.turns[3].input, LLONG_MAX);
    EXPECT_EQ(s.perModel.at("gpt-5.5").cacheRead, 150000 + 100 - 5);
}

TEST(CodexTranscript, RepeatedRunningTotalsAreBilledOnce) {
    auto totals = [](int reasoning) {
        return R"({"input_tokens":1200,"cached_input_tokens":800,"output_tokens":95,"reasoning_output_tokens":)" +
               std::to_string(reasoning) + R"(,"total_tokens":1295})";
    };
    ParsedSession s = parse(model("turn_context", "gpt-5.4") + tokens(1200, 800, 95, totals(40)) +
                            tokens(9999, 0, 9999, totals(40)) +  // same totals: dropped
                            tokens(1200, 800, 95, totals(41)) + tokens(10, 0, 0) + tokens(10, 0, 0) +
                            tokens(10, 0, 0, R"({"input_tokens":-7,"output_tokens":"3"})") + tokens(10, 0, 0, "[1]"));
    ASSERT_EQ(s.turns.size(), 6u);
    EXPECT_EQ(s.turns[0].key, "input_tokens=1200;cached_input_tokens=800;output_tokens=95;"
                              "reasoning_output_tokens=40;total_tokens=1295");
    // gpt-5.4 at 2.5 / cached 0.25 / 15: 400 x 2.5 + 800 x 0.25 + 95 x 15 = 2625 per million.
    EXPECT_NEAR(s.turns[0].cost, 0.002625, 1e-15);
    // Reasoning tokens change the key, never the cost.
    EXPECT_NE(s.turns[1].key, s.turns[0].key);
    EXPECT_EQ(s.turns[1].cost, s.turns[0].cost);
    // Without totals every event gets a fresh key.
    EXPECT_NE(s.turns[2].key, s.turns[3].key);
    EXPECT_EQ(s.turns[4].key, "input_tokens=-7;cached_input_tokens=0;output_tokens=0;"
                              "reasoning_output_tokens=0;total_tokens=0");
    EXPECT_EQ(s.turns[5].key.size(), 36u);
}

TEST(CodexTranscript, CurrentModelAndUnknownModel) {
    ParsedSession s = parse(tokens(1000, 200, 100) +                 // before any model
                            model("session_meta", "gpt-5.4-mini") +  // first model
                            tokens(1000, 0, 0) + model("session_meta", "gpt-5.4") +  // ignored
                            model("turn_context", "gpt-5.5") +                       // replaces
                            model("turn_context", "") + tokens(1000, 0, 0) +        // empty: ignored
                            model("session_meta", "gpt-5.4") + tokens(1000, 0, 0));
    ASSERT_EQ(s.turns.size(), 4u);
    // "(unknown OpenAI model)" begins with "(", so the Claude fallback prices it:
    // 800 x 5 + 200 x 0.5 + 100 x 25 = 6600 per million (not 7100 at OpenAI's 30).
    EXPECT_EQ(s.turns[0].model, "(unknown OpenAI model)");
    EXPECT_NEAR(s.turns[0].cost, 0.0066, 1e-15);
    EXPECT_TRUE(s.hasUnknownModel);
    EXPECT_EQ(s.turns[1].model, "gpt-5.4-mini");
    EXPECT_EQ(s.turns[2].model, "gpt-5.5");
    EXPECT_EQ(s.turns[3].model, "gpt-5.5");
}

TEST(CodexTranscript, EveryDatedLineMovesActivityButOnlyBilledEventsCountToday) {
    ParsedSession s = parse(model("turn_context", "gpt-5.4") +  // 1000 input: 0.0025 per call
                            R"({"timestamp":"2026-07-04T21:00:00Z","type":"event_msg"})" "\n" +
                            line("event_msg", R"({"type":"agent_message"})", "2026-07-06T01:00:00Z") +
                            tokens(1000, 0, 0, "", "2026-07-05T09:00:00Z") +
                            tokens(1000, 0, 0, "", "2026-07-04T23:00:00Z") + tokens(1000, 0, 0, "", "") +
                            tokens(1000, 0, 0, "", "yesterday") +
                            line("event_msg", R"({"type":"token_count","info":{"total_token_usage":{}}})") +
                            line("event_msg", R"({"type":"token_count","info":null})"));
    ASSERT_EQ(s.turns.size(), 4u);
    EXPECT_EQ(s.firstActivity, utc(2026, 7, 4, 21));
    EXPECT_EQ(s.lastActivity, utc(2026, 7, 6, 1));
    EXPECT_NEAR(s.totalCost, 0.01, 1e-15);
    EXPECT_NEAR(s.todayCost, 0.0025, 1e-15);
    EXPECT_TRUE(s.hadTodayActivity);
    EXPECT_EQ(s.turns[0].date, utc(2026, 7, 5, 9));
    EXPECT_FALSE(s.turns[2].date || s.turns[3].date);
}

TEST(CodexTranscript, TitleWorkingFolderAndThreadFields) {
    ParsedSession s = parse(
        line("session_meta", R"({"id":"t1","cwd":"/repo","parent_thread_id":"","agent_nickname":"Scout",)"
                             R"("source":{"subagent":{"thread_spawn":{"parent_thread_id":"nested"}}}})") +
        line("turn_context", R"({"cwd":"/elsewhere"})") +
        line("event_msg", R"({"type":"user_message","message":"  <environment_context>cwd</environment_context>"})") +
        line("response_item", R"({"type":"message","role":"assistant","content":[{"type":"input_text","text":"No"}]})") +
        line("response_item", R"({"type":"message","role":"user","content":["x",{"type":"input_text","text":"No"}]})") +
        line("response_item", R"({"type":"message","role":"user","content":[{},{"type":"text","text":"No"},)"
                              R"({"type":"input_text","text":"<environment_context>x"},)"
                              R"({"type":"input_text","text":"\n Real ask \n"}]})") +
        line("event_msg", R"({"type":"user_message","message":"Later"})") +
        line("session_meta", R"({"id":"t2","thread_source":"subagent","agent_role":"explorer","parent_thread_id":"p1"})") +
        line("session_meta", R"({"id":"","thread_source":"user","agent_nickname":""})"));
    EXPECT_EQ(s.title, "Real ask");
    EXPECT_EQ(s.cwd, "/repo");
    EXPECT_EQ(s.sourceThreadId, "t2");
    EXPECT_EQ(s.parentThreadId, "p1");  // the later top-level id replaces the nested one
    EXPECT_TRUE(s.isSubagent);          // never cleared
    EXPECT_EQ(s.subagentName, "Scout");
    EXPECT_EQ(s.subagentRole, "explorer");

    // The nested parent id counts only while there is none; a subagent may have no parent.
    ParsedSession nested = parse(line("session_meta", R"({"parent_thread_id":"top"})") +
                                 line("session_meta", R"({"source":{"subagent":{"thread_spawn":{"parent_thread_id":"n"}}}})"));
    EXPECT_EQ(nested.parentThreadId, "top");
    ParsedSession orphan = parse(line("session_meta", R"({"thread_source":"subagent","source":"cli"})"));
    EXPECT_TRUE(orphan.isSubagent);
    EXPECT_EQ(orphan.parentThreadId, "");

    // A user message gives the title; another event's message does not.
    EXPECT_EQ(parse(line("event_msg", R"({"type":"agent_message","message":"No"})") +
                    line("event_msg", R"({"type":"user_message","message":" First ask "})"))
                  .title,
              "First ask");
}
