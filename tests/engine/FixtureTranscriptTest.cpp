#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "TestSupport.h"
#include "Transcript.h"

using namespace vorel;
using namespace vorel::Transcript;
using namespace std::chrono;
using vorel::test::fixturesDir;
using vorel::test::utc;
using vorel::test::utcDay;

namespace {

const std::string kClaude = "/claude/projects/-home-USER-projects-spotter/";
const std::string kCodex = "/codex/sessions/2026/05/11/";
const std::string kCodexCli = "rollout-2026-05-11T11-26-55-019e1625-789d-76c0-80ab-3724b5ddb799.jsonl";
const std::string kCodexDesktop = "rollout-2026-05-11T13-28-45-019e1695-0522-7c83-8b39-0dd379793f80.jsonl";

const BilledTurn* turnWithKey(const ParsedSession& s, std::string_view keyStart) {
    for (const BilledTurn& t : s.turns) {
        if (t.key.starts_with(keyStart)) return &t;
    }
    ADD_FAILURE() << "no turn with key " << keyStart;
    return nullptr;
}

}  // namespace

TEST(FixtureTranscript, ClaudeCodeResponsesWorkedByHand) {
    ParsedSession shortSession = parseClaude(fixturesDir() + kClaude + "short.jsonl", utcDay(utc(2026, 2, 10)));
    // msg_01MKH1… is written five times; it counts once. claude-opus-4-6 at
    // 5 / 25, cache read 0.5, 1-hour write 10:
    // 3 x 5 + 13 x 25 + 11515 x 0.5 + 0 x 6.25 + 13835 x 10 = 144447.5 per million.
    ASSERT_EQ(shortSession.turns.size(), 1u);
    const BilledTurn& t = shortSession.turns[0];
    EXPECT_EQ(t.key, "msg_01MKH1ccEGrZGNPvu8pYiiQa");
    EXPECT_EQ(t.usage(), (ModelUsage{3, 13, 11515, 0, 13835, t.cost}));
    EXPECT_NEAR(t.cost, 0.1444475, 1e-12);
    EXPECT_EQ(shortSession.todayCost, shortSession.totalCost);
    EXPECT_EQ(shortSession.title, "mix phx.server doesnt seem to start");
    EXPECT_EQ(shortSession.cwd, "/home/USER/projects/spotter");
    // Only the billed response dates the file, not the earlier prompt.
    EXPECT_EQ(shortSession.firstActivity, utc(2026, 2, 10, 21, 11, 59) + milliseconds{186});
    EXPECT_EQ(shortSession.lastActivity, shortSession.firstActivity);

    ParsedSession toolHeavy = parseClaude(fixturesDir() + kClaude + "tool_heavy.jsonl", utcDay(utc(2026, 2, 11)));
    EXPECT_EQ(toolHeavy.todayCost, 0);
    EXPECT_EQ(toolHeavy.title, "start phoenix in background");
    ASSERT_EQ(toolHeavy.turns.size(), 4u);
    // msg_019BN3… appears twice, with 25 and then 173 output tokens; the
    // first line counts: 47 x 5 + 25 x 25 + 26504 x 0.5 + 1115 x 10 = 25262 per million.
    const BilledTurn& repeated = toolHeavy.turns[3];
    EXPECT_EQ(repeated.key, "msg_019BN3FRqb7NU4DgBN5jdsym");
    EXPECT_EQ(repeated.output, 25);
    EXPECT_NEAR(repeated.cost, 0.025262, 1e-12);

    // claude-haiku-4-5-20251001 takes the claude-haiku-4-5 row, 1 / 5, cache
    // read 0.1, 1-hour write 2: 3 x 1 + 3 x 5 + 10136 x 0.1 + 1906 x 2 = 4843.6 per million.
    ParsedSession haiku = parseClaude(fixturesDir() + "/claude/projects/-home-USER-projects-spotter-worktrees-spotter-0rt/"
                                          "6c2214d7-b87e-4432-8e41-22ba294ea584/subagents/agent-afc096d.jsonl",
                                      DayWindow{});
    ASSERT_FALSE(haiku.turns.empty());
    EXPECT_NEAR(haiku.turns[0].cost, 0.0048436, 1e-12);
}

TEST(FixtureTranscript, CodexEventsWorkedByHand) {
    ParsedSession s = parseCodex(fixturesDir() + kCodex + kCodexCli, utcDay(utc(2026, 5, 11)));
    ASSERT_EQ(s.turns.size(), 66u);
    EXPECT_EQ(s.perModel.count("gpt-5.5"), 1u);
    EXPECT_EQ(s.cwd, "/Users/Sample_User/repos/codemie-ai/codemie-code");
    EXPECT_EQ(s.sourceThreadId, "019e1625-789d-76c0-80ab-3724b5ddb799");
    EXPECT_TRUE(s.title.starts_with("# AGENTS.md instructions for /Users/Sample_User/repos/codemie-ai/codemie-code"));
    // Line timestamps count, not the session's own start inside its payload.
    EXPECT_EQ(s.firstActivity, utc(2026, 5, 11, 8, 27, 17) + milliseconds{490});
    EXPECT_EQ(s.lastActivity, utc(2026, 5, 11, 8, 44, 58) + milliseconds{544});

    // gpt-5.5 standard: 5 / cached 0.5 / 30.
    // First call: 18703 x 5 + 0 x 0.5 + 167 x 30 = 98525 per million.
    EXPECT_NEAR(s.turns[0].cost, 0.098525, 1e-12);
    // 18911 input of which 18304 cached: 607 x 5 + 18304 x 0.5 + 37 x 30 = 13297 per million.
    const BilledTurn* second = turnWithKey(s, "input_tokens=37614;cached_input_tokens=18304;");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->usage(), (ModelUsage{607, 37, 18304, 0, 0, second->cost}));
    EXPECT_NEAR(second->cost, 0.013297, 1e-12);
    // 126369 input, below the threshold: 545 x 5 + 125824 x 0.5 + 119 x 30 = 69207 per million.
    const BilledTurn* below = turnWithKey(s, "input_tokens=4498877;");
    ASSERT_TRUE(below);
    EXPECT_NEAR(below->cost, 0.069207, 1e-12);
    // 128860 input, long context at 10 / cached 1 / 45:
    // 2524 x 10 + 126336 x 1 + 94 x 45 = 155806 per million.
    const BilledTurn* above = turnWithKey(s, "input_tokens=4627737;");
    ASSERT_TRUE(above);
    EXPECT_NEAR(above->cost, 0.155806, 1e-12);

    // The desktop client's file has no token counts: nothing billed, but
    // title, folder, thread and dates are read.
    ParsedSession desktop = parseCodex(fixturesDir() + kCodex + kCodexDesktop, utcDay(utc(2026, 5, 11)));
    EXPECT_TRUE(desktop.turns.empty());
    EXPECT_EQ(desktop.totalCost, 0);
    EXPECT_TRUE(desktop.title.starts_with("# Files mentioned by the user:\n\n## Sample Project Demo Prep.vtt"));
    EXPECT_EQ(desktop.sourceThreadId, "019e1695-0522-7c83-8b39-0dd379793f80");
    EXPECT_EQ(desktop.firstActivity, utc(2026, 5, 11, 10, 29, 40) + milliseconds{150});
    EXPECT_EQ(desktop.lastActivity, utc(2026, 5, 11, 11, 48, 14) + milliseconds{988});
}

TEST(FixtureTranscript, EveryFileIsConsistentWithItsTurns) {
    // Turn counts and totals from a separate implementation of the same rules.
    const std::map<std::string, std::pair<size_t, double>> expected = {
        {"-0rt/6c2214d7-b87e-4432-8e41-22ba294ea584/subagents/agent-afc096d.jsonl", {18, 0.1250208}},
        {"-4te/ae4a77f8-aedd-4bc1-888f-c94edc91af04.jsonl", {217, 4.77803585}},
        {"-4te/ae4a77f8-aedd-4bc1-888f-c94edc91af04/subagents/agent-aac57f5.jsonl", {3, 0.0866637}},
        {"-4te/ae4a77f8-aedd-4bc1-888f-c94edc91af04/subagents/agent-acompact-946d2b.jsonl", {1, 0.76969225}},
        {"-a0y/fa812bfe-b295-4cca-9c2f-fdf01028cb46.jsonl", {157, 9.4439725}},
        {"-a0y/fa812bfe-b295-4cca-9c2f-fdf01028cb46/subagents/agent-a93ccab.jsonl", {11, 0.09014325}},
        {"-a0y/fa812bfe-b295-4cca-9c2f-fdf01028cb46/subagents/agent-aa84377.jsonl", {9, 0.096445}},
        {"-a0y/fa812bfe-b295-4cca-9c2f-fdf01028cb46/subagents/agent-acompact-70d8e7.jsonl", {1, 0.098689}},
        {"-dov/4d5611e5-241a-462a-8d15-5122611a9569.jsonl", {139, 9.00559975}},
        {"-dov/4d5611e5-241a-462a-8d15-5122611a9569/subagents/agent-a2898e3.jsonl", {12, 0.45065955}},
        {"-dov/4d5611e5-241a-462a-8d15-5122611a9569/subagents/agent-acompact-e1f845.jsonl", {1, 0.13688625}},
        {"-fum/8463c716-a2ea-4c14-9efa-87158ebd9f20.jsonl", {143, 10.7974955}},
        {"-fum/8463c716-a2ea-4c14-9efa-87158ebd9f20/subagents/agent-a7be2f0.jsonl", {13, 0.0573157}},
        {"-fum/8463c716-a2ea-4c14-9efa-87158ebd9f20/subagents/agent-acompact-f46190.jsonl", {1, 0.1118515}},
        {"-gqc/258c7280-ae70-4798-800f-63464d01a85d.jsonl", {152, 11.1428985}},
        {"-gqc/258c7280-ae70-4798-800f-63464d01a85d/subagents/agent-a881341.jsonl", {3, 0.2633937}},
        {"-gqc/258c7280-ae70-4798-800f-63464d01a85d/subagents/agent-acompact-fffbd0.jsonl", {1, 0.108414}},
        {"/short.jsonl", {1, 0.1444475}},
        {"/subagent.jsonl", {12, 0.493293}},
        {"/tool_heavy.jsonl", {4, 0.2229455}},
        {kCodexCli, {66, 9.208097}},
        {kCodexDesktop, {0, 0.0}},
    };

    size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(fixturesDir())) {
        std::string path = entry.path().string();
        if (entry.path().extension() != ".jsonl") continue;
        SCOPED_TRACE(path);
        ++files;
        bool codex = path.find("/codex/") != std::string::npos;
        ParsedSession probe = codex ? parseCodex(path, DayWindow{}) : parseClaude(path, DayWindow{});
        // "Today" is the day of the file's last activity, so some turns fall in it.
        DayWindow day = utcDay(probe.lastActivity);
        ParsedSession s = codex ? parseCodex(path, day) : parseClaude(path, day);

        double total = 0, today = 0;
        std::map<std::string, ModelUsage, std::less<>> models;
        std::set<std::string> keys;
        for (const BilledTurn& t : s.turns) {
            total += t.cost;
            if (t.date && day.contains(*t.date)) today += t.cost;
            models[t.model].add(t.usage());
            EXPECT_TRUE(keys.insert(t.key).second) << "repeated key " << t.key;
            EXPECT_FALSE(t.model.empty() || t.model == "<synthetic>");
            ASSERT_TRUE(t.date);
            EXPECT_LE(s.firstActivity, *t.date);
            EXPECT_LE(*t.date, s.lastActivity);
            EXPECT_GT(t.cost, 0);
        }
        EXPECT_EQ(s.totalCost, total);
        EXPECT_EQ(s.todayCost, today);
        EXPECT_EQ(s.perModel, models);
        EXPECT_EQ(s.rebuilt(s.turns, day), s);
        EXPECT_FALSE(s.hasUnknownModel);
        EXPECT_FALSE(s.cwd.empty());

        auto found = std::find_if(expected.begin(), expected.end(),
                                  [&](const auto& e) { return path.ends_with(e.first); });
        ASSERT_NE(found, expected.end());
        EXPECT_EQ(s.turns.size(), found->second.first);
        EXPECT_NEAR(s.totalCost, found->second.second, 1e-9);
    }
    EXPECT_EQ(files, expected.size());
}
