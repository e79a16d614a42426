#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "engine/ParsedSession.h"
#include "engine/Saturating.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

BilledTurn turn(std::string key, std::string model, std::int64_t input, double cost,
                std::optional<TimePoint> date = std::nullopt) {
    return BilledTurn{std::move(key), std::move(model), input, 2, 3, 4, 5, cost, date};
}

}  // namespace

TEST(ParsedSession, AbsorbMergesUsageDatesAndTexts) {
    // Costs add up as in CostModel's folding of subagents; here the rest.
    ParsedSession a, b;
    a.perModel["m"] = {10, 20, 30, 40, 50, 1.5};
    a.todayCost = 0.5;
    a.lastActivity = utc(2026, 7, 5, 10);
    a.firstActivity = utc(2026, 7, 5, 9);
    a.cwd = "/work/a";
    a.sourceThreadId = "thread-a";
    b.perModel["m"] = {1, 2, 3, 4, 5, 0.25};
    b.todayCost = 2;
    b.lastActivity = utc(2026, 7, 5, 11);
    b.firstActivity = utc(2026, 7, 5, 9, 30);
    b.hadTodayActivity = b.hasUnknownModel = b.isSubagent = true;
    b.title = "Fix the build";
    b.cwd = "/work/b";
    b.sourceThreadId = "thread-b";
    b.turns = {turn("k2", "m", 1, 0.25)};

    a.absorb(b);
    EXPECT_EQ(a.perModel.at("m"), (ModelUsage{11, 22, 33, 44, 55, 1.75}));
    EXPECT_EQ(a.todayCost, 2.5);
    EXPECT_EQ(a.lastActivity, utc(2026, 7, 5, 11));
    EXPECT_EQ(a.firstActivity, utc(2026, 7, 5, 9));
    EXPECT_TRUE(a.hadTodayActivity && a.hasUnknownModel);
    EXPECT_EQ(a.title, "Fix the build");  // ours was empty
    EXPECT_EQ(a.cwd, "/work/a");           // ours was set
    // Thread and subagent fields stay the absorbing record's own.
    EXPECT_EQ(a.sourceThreadId, "thread-a");
    EXPECT_FALSE(a.isSubagent);
    EXPECT_EQ(a.turns, b.turns);

    // A record without dated activity leaves both dates alone.
    ParsedSession before = a;
    a.absorb(ParsedSession{});
    EXPECT_EQ(a, before);
}

TEST(ParsedSession, CountersSaturateInsteadOfOverflowing) {
    ParsedSession a;
    a.perModel["m1"] = {kMax - 1, 0, 0, 0, 0, 0};
    a.perModel["m2"] = {5, kMax, 0, 0, 0, 0};
    EXPECT_EQ(a.totalTokens(), kMax);

    ParsedSession b;
    b.perModel["m1"] = {10, 0, 0, 0, kMin, 0};
    a.absorb(b);
    EXPECT_EQ(a.perModel.at("m1").input, kMax);
    EXPECT_EQ(a.perModel.at("m1").cacheWrite1h, kMin);

    ParsedSession c;
    c.perModel["m"] = {kMax, 0, 0, 0, 0, 0};
    c.perModel["n"] = {kMin, 0, 0, 0, 0, 0};
    EXPECT_EQ(c.totalTokens(), -1);

    // One past either limit, either way.
    EXPECT_EQ(satAdd(kMax, 1), kMax);
    EXPECT_EQ(satAdd(kMin, -1), kMin);
    EXPECT_EQ(satSub(kMin, 1), kMin);
    EXPECT_EQ(satSub(kMax, -1), kMax);
    EXPECT_EQ(satSub(-2, kMax), kMin);
    EXPECT_EQ(satSub(0, kMin), kMax);

    // A count read as a double: the 64-bit range holds -2^63 but not 2^63.
    EXPECT_EQ(truncatedOrZero(-9223372036854775808.0), kMin);
    EXPECT_EQ(truncatedOrZero(9223372036854775808.0), 0);
    EXPECT_EQ(truncatedOrZero(1e300), 0);
    EXPECT_EQ(truncatedOrZero(-1e300), 0);
    EXPECT_EQ(truncatedOrZero(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(truncatedOrZero(-2.9), -2);
}

TEST(ParsedSession, RebuiltRetotalsFromKeptTurnsOnly) {
    // How totals add up from the turns is checked on every fixture file;
    // here: what is dropped with the turns, and what is kept.
    ParsedSession s;
    s.lastActivity = utc(2026, 7, 5, 12);
    s.title = "Refactor";
    s.isSubagent = true;
    s.turns = {turn("a", "claude-opus-4-8", 100, 1.0, utc(2026, 7, 5, 12)),
               turn("b", "Claude-Opus-4-8", 200, 2.0, utc(2026, 7, 4, 11)), turn("c", "claude-opus-4-8", 300, 4.0)};
    s.perModel["stale"] = {1, 1, 1, 1, 1, 99};
    s.totalCost = 99;
    s.hasUnknownModel = true;

    // Dropping the only turn of a model outside the table clears the flag;
    // "today" is the window given to the rebuild.
    ParsedSession kept = s.rebuilt({s.turns[0], s.turns[2]}, utcDay(utc(2026, 7, 5)));
    EXPECT_FALSE(kept.hasUnknownModel);
    EXPECT_EQ(kept.perModel.size(), 1u);
    EXPECT_EQ(kept.totalCost, 5.0);
    EXPECT_EQ(kept.todayCost, 1.0);  // the undated turn stays out
    EXPECT_TRUE(kept.hadTodayActivity);

    // Keeping it sets the flag again; a turn of another day is no part of
    // today.
    ParsedSession withUnknown = s.rebuilt({s.turns[0], s.turns[1]}, utcDay(utc(2026, 7, 5)));
    EXPECT_TRUE(withUnknown.hasUnknownModel);
    EXPECT_EQ(withUnknown.totalCost, 3.0);
    EXPECT_EQ(withUnknown.todayCost, 1.0);
    const ParsedSession yesterday = s.rebuilt({s.turns[1]}, utcDay(utc(2026, 7, 5)));
    EXPECT_EQ(yesterday.todayCost, 0.0);
    EXPECT_FALSE(yesterday.hadTodayActivity);

    ParsedSession none = s.rebuilt({}, utcDay(utc(2026, 7, 5)));
    ParsedSession expected = s;
    expected.perModel.clear();
    expected.totalCost = 0;
    expected.hasUnknownModel = false;
    expected.turns.clear();
    EXPECT_EQ(none, expected);  // dates, title and thread fields kept
}
