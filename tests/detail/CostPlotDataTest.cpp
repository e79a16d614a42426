#include "CostPlotData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TestSupport.h"

namespace vorel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A priced API call with its breakdown.
ConversationEvent call(int id, int turn, double fresh, double cache, double output, std::optional<double> cost) {
    ConversationEvent e;
    e.id = id;
    e.kind = ConversationEventKind::token;
    e.title = "API call";
    e.turnIndex = turn;
    e.freshInputCost = fresh;
    e.cacheCost = cache;
    e.outputCost = output;
    e.cost = cost;
    return e;
}

// A call whose parts add up to its cost.
ConversationEvent call(int id, int turn, double cost) { return call(id, turn, cost, 0, 0, cost); }

// A call with a bill but no breakdown.
ConversationEvent billOnly(int id, int turn, double cost) { return call(id, turn, 0, 0, 0, cost); }

std::vector<int> ids(const std::vector<PlotItem>& items) {
    std::vector<int> out;
    for (const PlotItem& i : items) out.push_back(i.id);
    return out;
}

std::vector<double> totals(const CostPlotData& plot) {
    std::vector<double> out;
    for (const CumulativeEntry& c : plot.cumulative()) out.push_back(c.total);
    return out;
}

void expectTicks(double maximum, const std::vector<double>& expected) {
    std::vector<double> ticks = CostPlotData::axisTicks(maximum);
    ASSERT_EQ(ticks.size(), expected.size()) << "maximum " << maximum;
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_DOUBLE_EQ(ticks[i], expected[i]) << "maximum " << maximum;
}

TEST(CostPlotEnums, RawValuesRoundTripAndMatchExactly) {
    EXPECT_EQ(rawValue(CostPlotMode::cumulative), "Cumulative cost");
    EXPECT_EQ(rawValue(CostPlotMode::turns), "Itemized costs");
    EXPECT_EQ(rawValue(CostUnit::calls), "API calls");
    EXPECT_EQ(rawValue(CostUnit::turns), "Turns");
    EXPECT_EQ(rawValue(CostPart::input), "Input");
    EXPECT_EQ(rawValue(CostPart::cached), "Cached");
    EXPECT_EQ(rawValue(CostPart::output), "Output");
    for (CostPlotMode m : allCostPlotModes) EXPECT_EQ(costPlotModeFromRawValue(rawValue(m)), m);
    for (CostUnit u : allCostUnits) EXPECT_EQ(costUnitFromRawValue(rawValue(u)), u);
    for (CostPart p : allCostPartsInOrder) EXPECT_EQ(costPartFromRawValue(rawValue(p)), p);
    EXPECT_EQ(costUnitFromRawValue("turns"), std::nullopt);
    EXPECT_EQ(costPartFromRawValue("input"), std::nullopt);
    EXPECT_EQ(costPlotModeFromRawValue("Cumulative cost "), std::nullopt);
}

TEST(CostPlotEnums, PlotUnitVariableStartsTurnsOnlyOnExactTurns) {
    {
        test::EnvVar v("VOREL_PLOT_UNIT", "turns");
        EXPECT_EQ(initialCostUnit(), CostUnit::turns);
    }
    for (const char* other : {"Turns", "turn", "turns ", "", "calls"}) {
        test::EnvVar v("VOREL_PLOT_UNIT", other);
        EXPECT_EQ(initialCostUnit(), CostUnit::calls) << '"' << other << '"';
    }
    test::EnvVar unset("VOREL_PLOT_UNIT", std::nullopt);
    EXPECT_EQ(initialCostUnit(), CostUnit::calls);
}

TEST(CostPlotItems, NoEventsGiveTheEmptyDefaults) {
    for (CostUnit unit : allCostUnits) {
        CostPlotData plot({}, unit);
        EXPECT_TRUE(plot.items().empty());
        EXPECT_TRUE(plot.cumulative().empty());
        EXPECT_EQ(plot.cumulativeScaleMax(), 1.0);
        EXPECT_EQ(plot.turnAxisCeiling(), 0.0);
        EXPECT_EQ(plot.turnScaleMax(), 1.0);
        expectTicks(plot.turnScaleMax(), {0, 0.25, 0.5, 0.75});
        expectTicks(plot.cumulativeScaleMax(), {0, 0.25, 0.5, 0.75});
        EXPECT_EQ(plot.nearestEventId(10, 400), std::nullopt);
    }
}

TEST(CostPlotItems, PerCallItemsCarryTheEventsOwnValues) {
    CostPlotData plot({call(4, 1, 0.1, 0.2, 0.3, 0.6), call(9, 1, 0.5)}, CostUnit::calls);
    ASSERT_EQ(plot.items().size(), 2u);
    EXPECT_EQ(plot.items()[0], (PlotItem{4, 1, 1, 0.1, 0.2, 0.3, 0.6}));
    EXPECT_EQ(plot.items()[1], (PlotItem{9, 2, 1, 0.5, 0, 0, 0.5}));
    EXPECT_EQ(plot.itemLabel(plot.items()[1]), "Call 2");
}

TEST(CostPlotItems, TurnsMergeOnlyConsecutiveCallsOfOneTurn) {
    CostPlotData plot({call(3, 1, 0.1), call(5, 1, 0.2), call(6, 2, 0.4), call(8, 1, 0.8)}, CostUnit::turns);
    ASSERT_EQ(plot.items().size(), 3u);
    EXPECT_EQ(ids(plot.items()), (std::vector<int>{3, 6, 8}));
    EXPECT_EQ(plot.items()[0].callCount, 2);
    EXPECT_EQ(plot.items()[1].callCount, 1);
    EXPECT_EQ(plot.items()[2].callCount, 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(plot.items()[i].ordinal, i + 1);
    EXPECT_DOUBLE_EQ(plot.items()[0].billed, 0.1 + 0.2);
    EXPECT_DOUBLE_EQ(plot.items()[0].fresh, 0.1 + 0.2);
    EXPECT_EQ(plot.itemLabel(plot.items()[2]), "Turn 3");
}

TEST(CostPlotItems, ChangingTheUnitRegroupsTheSameEvents) {
    CostPlotData plot({call(0, 1, 1), call(1, 1, 2), call(2, 2, 4)}, CostUnit::calls);
    EXPECT_EQ(plot.items().size(), 3u);
    plot.setUnit(CostUnit::turns);
    EXPECT_EQ(ids(plot.items()), (std::vector<int>{0, 2}));
    EXPECT_EQ(totals(plot), (std::vector<double>{3, 7}));
    plot.setEvents({call(7, 5, 1)});
    EXPECT_EQ(ids(plot.items()), (std::vector<int>{7}));
    EXPECT_EQ(totals(plot), (std::vector<double>{1}));
}

TEST(CostPlotItems, NegativeAndNotANumberAmountsCountAsZero) {
    CostPlotData plot({call(0, 1, -0.5, kNaN, 0.25, -1.0), call(1, 1, 0.1, 0, 0, kNaN), call(2, 2, 0, 0, 0, std::nullopt)},
                      CostUnit::calls);
    const PlotItem& first = plot.items()[0];
    EXPECT_EQ(first.fresh, 0.0);
    EXPECT_EQ(first.cache, 0.0);
    EXPECT_EQ(first.output, 0.25);
    EXPECT_EQ(first.billed, 0.0);
    EXPECT_EQ(plot.items()[1].billed, 0.0);
    EXPECT_EQ(plot.items()[2].billed, 0.0);
    // Summed per turn, the clamped values do not pull a sum down.
    plot.setUnit(CostUnit::turns);
    EXPECT_DOUBLE_EQ(plot.items()[0].fresh, 0.1);
    EXPECT_EQ(plot.items()[0].billed, 0.0);
}

TEST(CostPlotValues, PartsSelectWhatBarsShow) {
    CostPlotData plot({call(0, 1, 0.1, 0.2, 0.4, 0.7)});
    const PlotItem item = plot.items()[0];
    EXPECT_DOUBLE_EQ(plot.visibleValue(item), 0.7);
    plot.setSelectedParts({CostPart::cached, CostPart::output});
    EXPECT_DOUBLE_EQ(plot.visibleValue(item), 0.6);
    EXPECT_EQ(plot.drawnValue(item, CostPart::input), 0.0);
    EXPECT_EQ(plot.drawnValue(item, CostPart::cached), 0.2);
    EXPECT_EQ(plot.drawnValue(item, CostPart::output), 0.4);
    EXPECT_DOUBLE_EQ(plot.turnAxisCeiling(), 0.6);
}

TEST(CostPlotValues, ABillWithoutBreakdownIsOneInputSegmentOnlyWithAllParts) {
    CostPlotData plot({billOnly(0, 1, 0.4), call(1, 2, 0, 0, 0.2, 0.2)});
    const PlotItem item = plot.items()[0];
    EXPECT_EQ(plot.visibleValue(item), 0.4);
    EXPECT_EQ(plot.drawnValue(item, CostPart::input), 0.4);
    EXPECT_EQ(plot.drawnValue(item, CostPart::cached), 0.0);
    EXPECT_EQ(plot.drawnValue(item, CostPart::output), 0.0);
    EXPECT_EQ(plot.turnAxisCeiling(), 0.4);

    plot.setSelectedParts({CostPart::output});
    EXPECT_EQ(plot.visibleValue(item), 0.0);
    EXPECT_EQ(plot.drawnValue(item, CostPart::input), 0.0);
    // Left out of the ceiling: only the other item's output counts.
    EXPECT_EQ(plot.turnAxisCeiling(), 0.2);
    // The cumulative series still counts every bill.
    EXPECT_DOUBLE_EQ(plot.cumulative().back().total, 0.6);
}

TEST(CostPlotValues, AnEmptyPartSetMeansAllParts) {
    CostPlotData plot({call(0, 1, 0.1, 0.2, 0.3, 0.6)}, CostUnit::calls, {});
    EXPECT_EQ(plot.selectedParts(), allCostParts());
    plot.setSelectedParts({CostPart::input});
    plot.setSelectedParts({});
    EXPECT_EQ(plot.selectedParts(), allCostParts());
}

TEST(CostPlotScales, CumulativeRunsOverBilledAndTopsSixPercentAbove) {
    CostPlotData plot({call(0, 1, 1), call(1, 1, 2), call(2, 2, 0.5)}, CostUnit::calls);
    EXPECT_EQ(totals(plot), (std::vector<double>{1, 3, 3.5}));
    EXPECT_EQ(plot.cumulative()[1].item, plot.items()[1]);
    EXPECT_DOUBLE_EQ(plot.cumulativeScaleMax(), 3.5 * 1.06);
    // A total too large to be finite falls back to 1.
    CostPlotData huge({call(0, 1, 1e308), call(1, 1, 1e308)});
    EXPECT_EQ(huge.cumulativeScaleMax(), 1.0);
}

TEST(CostPlotScales, CeilingIgnoresOneOutlierFromTenItems) {
    std::vector<ConversationEvent> events;
    for (int i = 0; i < 9; ++i) events.push_back(call(i, i + 1, 1.0));
    CostPlotData nine(events);
    events.push_back(call(9, 10, 100.0));
    CostPlotData ten(events);
    EXPECT_EQ(ten.turnAxisCeiling(), 1.0);
    EXPECT_DOUBLE_EQ(ten.turnScaleMax(), 1.06);
    EXPECT_GT(ten.visibleValue(ten.items()[9]), ten.turnScaleMax());  // off scale

    // Nine items with the outlier among them: the largest value.
    events.erase(events.begin());
    CostPlotData nineWithOutlier(events);
    EXPECT_EQ(nineWithOutlier.turnAxisCeiling(), 100.0);
    EXPECT_EQ(nine.turnAxisCeiling(), 1.0);
}

TEST(CostPlotScales, CeilingTakesTheLargestValueWithinTheLimit) {
    // Twenty items: p is the value at index 18 (2.0), the limit 5.0.
    std::vector<ConversationEvent> events;
    for (int i = 0; i < 17; ++i) events.push_back(call(i, i + 1, 1.0));
    events.push_back(call(17, 18, 1.5));
    events.push_back(call(18, 19, 2.0));
    events.push_back(call(19, 20, 4.9));
    CostPlotData within(events);
    EXPECT_EQ(within.turnAxisCeiling(), 4.9);
    events[19] = call(19, 20, 5.1);
    CostPlotData beyond(events);
    EXPECT_EQ(beyond.turnAxisCeiling(), 2.0);
}

TEST(CostPlotScales, TurnScaleFallsBackToOneWithoutAFiniteCeiling) {
    CostPlotData plot({call(0, 1, 0, 0, 0, kInf)});
    EXPECT_EQ(plot.turnAxisCeiling(), kInf);
    EXPECT_EQ(plot.turnScaleMax(), 1.0);
}

TEST(CostPlotAxis, TicksStepOneTwoTwoAndAHalfOrFive) {
    expectTicks(1.0, {0, 0.25, 0.5, 0.75});
    expectTicks(1.06, {0, 0.5, 1});
    expectTicks(4.24, {0, 2, 4});
    expectTicks(10, {0, 2.5, 5, 7.5});
    expectTicks(123.4, {0, 50, 100});
    expectTicks(0.0318, {0, 0.01, 0.02, 0.03});
}

TEST(CostPlotAxis, TicksOfDegenerateMaxima) {
    expectTicks(0, {0, 1});
    expectTicks(-3, {0, 1});
    expectTicks(kInf, {0, 1});
    expectTicks(kNaN, {0, 1});
    // So small that its quarter underflows: only the ends, never a run of 0s.
    const double tiny = std::numeric_limits<double>::denorm_min();
    expectTicks(tiny, {0, tiny});
    for (double m : {1e-300, 1e300, std::numeric_limits<double>::max()}) {
        std::vector<double> ticks = CostPlotData::axisTicks(m);
        ASSERT_GE(ticks.size(), 2u);
        ASSERT_LE(ticks.size(), 5u);
        for (size_t i = 1; i < ticks.size(); ++i) EXPECT_GT(ticks[i], ticks[i - 1]) << m;
    }
}

TEST(CostPlotAxis, MoneyLabelsInCentsBelowOneCent) {
    EXPECT_EQ(CostPlotData::axisMoney(0), "$0");
    EXPECT_EQ(CostPlotData::axisMoney(-1), "$0");
    EXPECT_EQ(CostPlotData::axisMoney(kNaN), "$0");
    EXPECT_EQ(CostPlotData::axisMoney(0.004), "0.4\u00A2");
    EXPECT_EQ(CostPlotData::axisMoney(0.0099), "1.0\u00A2");
    EXPECT_EQ(CostPlotData::axisMoney(0.01), "$0.01");
    EXPECT_EQ(CostPlotData::axisMoney(12.3456), "$12.35");
    EXPECT_EQ(CostPlotData::axisMoney(1234567.891), "$1234567.89");
}

TEST(CostPlotAxis, MoneyLabelsKeepThePointUnderACommaLocale) {
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma locale available";
    EXPECT_EQ(CostPlotData::axisMoney(12.3456), "$12.35");
    EXPECT_EQ(CostPlotData::axisMoney(0.004), "0.4\u00A2");
}

TEST(CostPlotNearest, PositionsMapToTheRoundedIndex) {
    CostPlotData plot({call(10, 1, 1), call(11, 2, 1), call(12, 3, 1), call(13, 4, 1), call(14, 5, 1)});
    EXPECT_EQ(plot.nearestEventId(-20, 400), 10);
    EXPECT_EQ(plot.nearestEventId(50, 400), 11);  // 0.5 rounds up
    EXPECT_EQ(plot.nearestEventId(49.9, 400), 10);
    EXPECT_EQ(plot.nearestEventId(150, 400), 12);  // 1.5 rounds up
    EXPECT_EQ(plot.nearestEventId(400, 400), 14);
    EXPECT_EQ(plot.nearestEventId(1000, 400), 14);
    EXPECT_EQ(plot.nearestEventId(100, 0), std::nullopt);
    EXPECT_EQ(plot.nearestEventId(100, -5), std::nullopt);
    EXPECT_EQ(plot.nearestEventId(100, kNaN), std::nullopt);
    EXPECT_EQ(plot.nearestEventId(kNaN, 400), std::nullopt);
    EXPECT_EQ(plot.nearestEventId(kInf, kInf), 10);
    EXPECT_EQ(plot.nearestEventId(-kInf, 400), 10);
}

TEST(CostPlotNearest, AnswersWithTheFirstEventOfATurn) {
    CostPlotData one({call(3, 1, 1)});
    EXPECT_EQ(one.nearestEventId(399, 400), 3);
    CostPlotData turns({call(3, 1, 1), call(4, 1, 1), call(6, 2, 1)}, CostUnit::turns);
    EXPECT_EQ(turns.nearestEventId(0, 400), 3);
    EXPECT_EQ(turns.nearestEventId(300, 400), 6);
}

}  // namespace
}  // namespace vorel
