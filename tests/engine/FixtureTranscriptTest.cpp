#include <gtest/gtest.h>

#include <set>

#include "engine/Transcript.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::Transcript;
using namespace std::chrono;
using namespace vorel::test;

namespace {

const std::string kClaude = "/claude/projects/-home-USER-projects-spotter/";
const std::string kCodex = "/codex/sessions/2026/05/11/";
const std::string kCodexCli = "rollout-2026-05-11T11-26-55-019e1625-789d-76c0-80ab-3724b5ddb799.jsonl";
const std::string kCodexDesktop = "rollout-2026-05-11T13-28-45-019e1695-0522-7c83-8b39-0dd379793f80.jsonl";

// The cost of the turn whose key starts so.
double costOf(const ParsedSession& s, std::string_view keyStart) {
    for (const BilledTurn& t : s.turns)
        if (t.key.starts_with(keyStart)) return t.cost;
    ADD_FAILURE() << "no turn with key " << keyStart;
    return -1;
}

}  // namespace

TEST(FixtureTranscript, ResponsesWorkedByHand) {
    VOREL_NEEDS_FIXTURES();
    ParsedSession shortSession = parseClaude(fixturesDir() + kClaude + "short.jsonl", utcDay(utc(2026, 2, 10)));
    // msg_01MKH1… is written five times; it counts once. claude-opus-4-6 at
    // 5 / 25, cache read 0.5, 1-hour write 10:
    // 3 x 5 + 13 x 25 + 11515 x 0.5 + 0 x 6.25 + 13835 x 10 = 144447.5 per million.
    ASSERT_EQ(shortSession.turns.size(), 1u);
    const BilledTurn& t = shortSession.turns[0];
    EXPECT_EQ(t.usage(), (ModelUsage{3, 13, 11515, 0, 13835, t.cost}));
    EXPECT_NEAR(t.cost, 0.1444475, 1e-12);

    ParsedSession s = parseCodex(fixturesDir() + kCodex + kCodexCli, utcDay(utc(2026, 5, 11)));
    // Line timestamps count, not the session's own start inside its payload.
    EXPECT_EQ(s.firstActivity, utc(2026, 5, 11, 8, 27, 17) + milliseconds{490});
    // gpt-5.5, 126369 input, below the threshold at 5 / cached 0.5 / 30:
    // 545 x 5 + 125824 x 0.5 + 119 x 30 = 69207 per million.
    EXPECT_NEAR(costOf(s, "input_tokens=4498877;"), 0.069207, 1e-12);
    // 128860 input, long context at 10 / cached 1 / 45:
    // 2524 x 10 + 126336 x 1 + 94 x 45 = 155806 per million.
    EXPECT_NEAR(costOf(s, "input_tokens=4627737;"), 0.155806, 1e-12);

    // The desktop client's file has no token counts: nothing billed, but
    // title and dates are read.
    ParsedSession desktop = parseCodex(fixturesDir() + kCodex + kCodexDesktop, utcDay(utc(2026, 5, 11)));
    EXPECT_TRUE(desktop.title.starts_with("# Files mentioned by the user:\n\n## Sample Project Demo Prep.vtt"));
    EXPECT_EQ(desktop.lastActivity, utc(2026, 5, 11, 11, 48, 14) + milliseconds{988});
}

TEST(FixtureTranscript, EveryFileIsConsistentWithItsTurns) {
    VOREL_NEEDS_FIXTURES();
    size_t files = 0, turns[2] = {0, 0};  // Claude Code, Codex
    double cost[2] = {0, 0};
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
        // Read from the file and from its text alike.
        std::ifstream in(path, std::ios::binary);
        auto text = textOf(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        EXPECT_EQ(s, codex ? parseCodexText(text, day) : parseClaudeText(text, day));

        std::set<std::string> keys;
        for (const BilledTurn& t : s.turns) {
            EXPECT_TRUE(keys.insert(t.key).second) << "repeated key " << t.key;
            EXPECT_FALSE(t.model.empty() || t.model == "<synthetic>");
            ASSERT_TRUE(t.date);
            EXPECT_LE(s.firstActivity, *t.date);
            EXPECT_LE(*t.date, s.lastActivity);
            EXPECT_GT(t.cost, 0);
        }
        // Totals, today's cost and the usage per model add up from the turns.
        EXPECT_EQ(s.rebuilt(s.turns, day), s);
        EXPECT_FALSE(s.hasUnknownModel);
        EXPECT_FALSE(s.cwd.empty());
        turns[codex] += s.turns.size();
        cost[codex] += s.totalCost;
    }
    // Turn counts and totals from a separate implementation of the same rules.
    EXPECT_EQ(files, 22u);
    EXPECT_EQ(turns[0], 899u);
    EXPECT_NEAR(cost[0], 48.4238628, 1e-9);
    EXPECT_EQ(turns[1], 66u);
    EXPECT_NEAR(cost[1], 9.208097, 1e-9);
}
