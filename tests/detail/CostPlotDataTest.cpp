#include "detail/CostPlotData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "tests/detail/DetailTestSupport.h"

namespace vorel {
namespace {

using test::apiCall;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> totals(const CostPlotData& plot) {
    std::vector<double> out;
    for (const CumulativeEntry& c : plot.cumulative()) out.push_back(c.total);
    return out;
}

TEST(CostPlotItems, CallsOrConsecutiveCallsOfOneTurnMakeTheItemsAndTheirRunningTotals) {
    // No events: no items and the default scales.
    CostPlotData empty({}, CostUnit::turns);
    EXPECT_TRUE(empty.items().empty() && empty.cumulative().empty());
    EXPECT_EQ(std::tuple(empty.cumulativeScaleMax(), empty.turnAxisCeiling(), empty.turnScaleMax()), std::tuple(1.0, 0.0, 1.0));
    EXPECT_EQ(empty.nearestEventId(10, 400), std::nullopt);
    // A total too large to be finite scales to 1 as well.
    EXPECT_EQ(CostPlotData({apiCall(0, 1, 1e308), apiCall(1, 1, 1e308)}).cumulativeScaleMax(), 1.0);

    CostPlotData calls({apiCall(4, 1, 0.1, 0.2, 0.3, 0.6), apiCall(9, 1, 0.5)}, CostUnit::calls);
    EXPECT_EQ(calls.items(), (std::vector<PlotItem>{{4, 1, 1, 0.1, 0.2, 0.3, 0.6}, {9, 2, 1, 0.5, 0, 0, 0.5}}));
    EXPECT_EQ(calls.itemLabel(calls.items()[1]), "Call 2");

    CostPlotData turns({apiCall(3, 1, 1), apiCall(5, 1, 2), apiCall(6, 2, 4), apiCall(8, 1, 8)}, CostUnit::turns);
    EXPECT_EQ(turns.items(), (std::vector<PlotItem>{{3, 1, 2, 3, 0, 0, 3}, {6, 2, 1, 4, 0, 0, 4}, {8, 3, 1, 8, 0, 0, 8}}));
    EXPECT_EQ(turns.cumulative()[1], (CumulativeEntry{turns.items()[1], 7}));
    EXPECT_EQ(totals(turns), (std::vector<double>{3, 7, 15}));
    EXPECT_DOUBLE_EQ(turns.cumulativeScaleMax(), 15 * 1.06);  // 6% headroom over the total
    EXPECT_EQ(turns.itemLabel(turns.items()[2]), "Turn 3");
    // Another unit or other events regroup the items and their running totals.
    turns.setUnit(CostUnit::calls);
    EXPECT_EQ(totals(turns), (std::vector<double>{1, 3, 7, 15}));
    turns.setEvents({apiCall(7, 5, 1)});
    EXPECT_EQ(totals(turns), (std::vector<double>{1}));

    // Every part of a turn's calls adds up; a total below 1 gets its 6% too.
    CostPlotData parts({apiCall(1, 1, 0.125, 0.25, 0.0625), apiCall(2, 1, 0.125, 0.25, 0.0625)}, CostUnit::turns);
    EXPECT_EQ(parts.items(), (std::vector<PlotItem>{{1, 1, 2, 0.25, 0.5, 0.125, 0.875}}));
    EXPECT_DOUBLE_EQ(parts.cumulativeScaleMax(), 0.875 * 1.06);
}

TEST(CostPlotItems, NegativeAndNotANumberAmountsCountAsZero) {
    std::vector<ConversationEvent> events{apiCall(0, 1, -0.5, kNaN, 0.25, -1.0), apiCall(1, 1, 0.1, 0, 0, kNaN),
                                          apiCall(2, 2, 0)};
    events[2].cost = std::nullopt;
    CostPlotData plot(events, CostUnit::calls);
    EXPECT_EQ(plot.items(), (std::vector<PlotItem>{{0, 1, 1, 0, 0, 0.25, 0}, {1, 2, 1, 0.1, 0, 0, 0}, {2, 3, 1, 0, 0, 0, 0}}));
    // Summed per turn, the clamped values do not pull a sum down.
    plot.setUnit(CostUnit::turns);
    EXPECT_EQ(plot.items()[0], (PlotItem{0, 1, 2, 0.1, 0, 0.25, 0}));
}

TEST(CostPlotValues, SelectedPartsDecideTheBarsAndTheCeiling) {
    // An empty set of parts means all of them.
    CostPlotData plot({apiCall(0, 1, 0.1, 0.2, 0.4), apiCall(1, 2, 0, 0, 0, 0.9)}, CostUnit::calls, {});
    EXPECT_EQ(plot.selectedParts(), allCostParts());
    const PlotItem split = plot.items()[0], billOnly = plot.items()[1];
    // A bill without a breakdown is one input segment, only with all parts.
    EXPECT_EQ(std::tuple(plot.drawnValue(billOnly, CostPart::input), plot.drawnValue(billOnly, CostPart::cached),
                         plot.turnAxisCeiling()),
              std::tuple(0.9, 0.0, 0.9));
    // Parts that cancel out in a difference are still a breakdown.
    for (const ConversationEvent& e : {apiCall(2, 3, 0.25, 0.25, 0), apiCall(3, 4, 0.25, 0.25, 0.5)}) {
        const PlotItem item = CostPlotData({e}).items()[0];
        EXPECT_EQ(plot.drawnValue(item, CostPart::input), 0.25);
    }
    plot.setSelectedParts({CostPart::cached, CostPart::output});
    EXPECT_DOUBLE_EQ(plot.visibleValue(split), 0.6);
    EXPECT_EQ(std::tuple(plot.drawnValue(split, CostPart::input), plot.drawnValue(split, CostPart::output)),
              std::tuple(0.0, 0.4));
    EXPECT_EQ(plot.drawnValue(billOnly, CostPart::input), 0.0);
    EXPECT_DOUBLE_EQ(plot.turnAxisCeiling(), 0.6);
    // The cumulative series still counts every bill.
    EXPECT_DOUBLE_EQ(plot.cumulative().back().total, 0.7 + 0.9);
}

TEST(CostPlotScales, CeilingLeavesOutliersAboveTheScaleFromTenItemsOn) {
    std::vector<ConversationEvent> events;
    for (int i = 0; i < 9; ++i) events.push_back(apiCall(i, i + 1, 1.0));
    events.push_back(apiCall(9, 10, 100.0));
    CostPlotData ten(events);
    EXPECT_EQ(ten.turnAxisCeiling(), 1.0);
    EXPECT_DOUBLE_EQ(ten.turnScaleMax(), 1.06);  // 6% headroom over the ceiling
    // Nine items with the outlier among them: the largest value.
    events.erase(events.begin());
    EXPECT_EQ(CostPlotData(events).turnAxisCeiling(), 100.0);
    // Items with nothing to show do not count toward the ten.
    for (int i = 0; i < 5; ++i) events.push_back(apiCall(20 + i, 20 + i, 0));
    EXPECT_EQ(CostPlotData(events).turnAxisCeiling(), 100.0);

    // Twenty items: the value at index 18 (2.0) sets the limit 5.0, and the
    // ceiling is the largest value within it.
    std::vector<ConversationEvent> twenty(17, apiCall(0, 1, 1.0));
    for (double v : {1.5, 2.0, 4.9}) twenty.push_back(apiCall(0, 1, v));
    EXPECT_EQ(CostPlotData(twenty).turnAxisCeiling(), 4.9);
    twenty.back() = apiCall(0, 1, 5.1);
    EXPECT_EQ(CostPlotData(twenty).turnAxisCeiling(), 2.0);

    // Without a finite ceiling the scale falls back to 1.
    CostPlotData infinite({apiCall(0, 1, 0, 0, 0, kInf)});
    EXPECT_EQ(infinite.turnAxisCeiling(), kInf);
    EXPECT_EQ(infinite.turnScaleMax(), 1.0);
}

TEST(CostPlotAxis, TicksStepOneTwoTwoAndAHalfOrFiveAndMoneyLabelsKeepThePoint) {
    // So small that its quarter underflows: only the ends, never a run of 0s.
    const double tiny = std::numeric_limits<double>::denorm_min();
    const std::pair<double, std::vector<double>> cases[] = {
        {1.0, {0, 0.25, 0.5, 0.75}}, {1.06, {0, 0.5, 1}},   {4.24, {0, 2, 4}}, {10, {0, 2.5, 5, 7.5}},
        {0.0318, {0, 0.01, 0.02, 0.03}}, {0.0, {0, 1}},    {kInf, {0, 1}},    {kNaN, {0, 1}}, {tiny, {0, tiny}}};
    for (const auto& [maximum, expected] : cases) {
        std::vector<double> ticks = CostPlotData::axisTicks(maximum);
        ASSERT_EQ(ticks.size(), expected.size()) << maximum;
        for (size_t i = 0; i < ticks.size(); ++i) EXPECT_DOUBLE_EQ(ticks[i], expected[i]) << maximum;
    }
    for (double m : {1e-300, 1e300, std::numeric_limits<double>::max()}) {
        std::vector<double> ticks = CostPlotData::axisTicks(m);
        ASSERT_GE(ticks.size(), 2u);
        ASSERT_LE(ticks.size(), 5u);
        for (size_t i = 1; i < ticks.size(); ++i) EXPECT_GT(ticks[i], ticks[i - 1]) << m;
    }

    // Money labels: in cents below one cent, with a point in any locale.
    auto expectLabels = [] {
        const std::pair<double, const char*> money[] = {
            {0, "$0"}, {kNaN, "$0"}, {0.004, "0.4\u00A2"}, {0.0099, "1.0\u00A2"}, {0.01, "$0.01"}, {12.3456, "$12.35"}, {1234567.891, "$1234567.89"}};
        for (auto [amount, text] : money) EXPECT_EQ(CostPlotData::axisMoney(amount), text) << amount;
    };
    expectLabels();
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma locale available";
    expectLabels();
}

TEST(CostPlotNearest, PositionsMapToTheRoundedIndexOfTheFirstEvent) {
    // Five items 400 wide: one every 100, halves round up.
    CostPlotData plot({apiCall(10, 1, 1), apiCall(11, 2, 1), apiCall(12, 3, 1), apiCall(13, 4, 1), apiCall(14, 5, 1)});
    const std::pair<double, int> cases[] = {{-20, 10}, {49.9, 10}, {50, 11}, {150, 12}, {400, 14}, {1000, 14}, {-kInf, 10}};
    for (auto [x, id] : cases) EXPECT_EQ(plot.nearestEventId(x, 400), id) << x;
    EXPECT_EQ(plot.nearestEventId(kInf, kInf), 10);
    for (double width : {0.0, kNaN}) EXPECT_EQ(plot.nearestEventId(100, width), std::nullopt);
    EXPECT_EQ(plot.nearestEventId(kNaN, 400), std::nullopt);

    // One item answers everywhere; a turn answers with its first call.
    for (auto [x, width] : {std::pair(399.0, 400.0), std::pair(kInf, kInf), std::pair(-kInf, 1.0)})
        EXPECT_EQ(CostPlotData({apiCall(3, 1, 1)}).nearestEventId(x, width), 3) << x;
    CostPlotData turns({apiCall(3, 1, 1), apiCall(4, 1, 1), apiCall(6, 2, 1)}, CostUnit::turns);
    EXPECT_EQ(turns.nearestEventId(0, 400), 3);
    EXPECT_EQ(turns.nearestEventId(300, 400), 6);
}

}  // namespace
}  // namespace vorel
