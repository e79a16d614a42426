#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChartData.h"
#include "GuiTestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::utc;

namespace {

const TimePoint kNow = utc(2026, 7, 5, 12);

// A conversation as the cost model publishes it; `hoursAgo` is its last
// activity, and it started an hour before that unless told otherwise.
SessionRow row(const std::string& id, double total, double today = 0, int hoursAgo = 1,
               std::optional<int> startHoursAgo = std::nullopt, const std::string& title = "") {
    SessionRow r;
    r.id = id;
    r.source = "Claude Code";
    r.title = title.empty() ? "conversation about " + id : title;
    r.total = total;
    r.today = today;
    r.lastActivity = kNow - hours{hoursAgo};
    r.startTime = kNow - hours{startHoursAgo.value_or(hoursAgo + 1)};
    return r;
}

std::vector<const SessionRow*> pointers(const std::vector<SessionRow>& rows) {
    std::vector<const SessionRow*> out;
    for (const SessionRow& r : rows) out.push_back(&r);
    return out;
}

std::vector<std::string> ids(const std::vector<BarItem>& bars) {
    std::vector<std::string> out;
    for (const BarItem& b : bars) out.push_back(b.id);
    return out;
}

std::vector<std::string> groupIds(const std::vector<TagGroup>& groups) {
    std::vector<std::string> out;
    for (const TagGroup& g : groups) out.push_back(g.id);
    return out;
}

const TagGroup* group(const std::vector<TagGroup>& groups, const std::string& id) {
    for (const TagGroup& g : groups)
        if (g.id == id) return &g;
    return nullptr;
}

class ChartDataTest : public ::testing::Test {
protected:
    test::ScopedLocale english{QLocale(QLocale::English, QLocale::UnitedStates)};

    std::vector<BarItem> flat(const std::vector<SessionRow>& rows, SortKey key, SortDirection dir) {
        return flatItems(pointers(rows), meta, key, dir);
    }
    std::vector<TagGroup> grouped(const std::vector<SessionRow>& rows, SortDirection dir) {
        return tagGroups(pointers(rows), meta, dir);
    }
    void tag(const std::string& id, std::initializer_list<const char*> tags) {
        for (const char* t : tags) meta.addTag(t, id);
    }

    MetadataStore meta{""};  // in memory
};

// --- Ungrouped bars -------------------------------------------------------

TEST_F(ChartDataTest, FlatBarsCarryTheWholeCostOfTheirConversation) {
    std::vector<SessionRow> rows{row("a", 3.0, 0.3)};
    meta.setName("Parser rewrite", "a");
    std::vector<BarItem> bars = flat(rows, SortKey::cost, SortDirection::descending);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0], (BarItem{"a", "a", "Parser rewrite", 1, 3.0, 0.3}));
    // Tags do not split an ungrouped bar.
    tag("a", {"x", "y"});
    EXPECT_EQ(flat(rows, SortKey::cost, SortDirection::descending)[0].splitCount, 1);
    EXPECT_DOUBLE_EQ(flat(rows, SortKey::cost, SortDirection::descending)[0].value, 3.0);
}

TEST_F(ChartDataTest, EqualCostsAndStartTimesKeepTheRowOrderInBothDirections) {
    // Rows come most recent first; b and c cost the same, so do d and e.
    std::vector<SessionRow> rows{row("a", 2.0), row("b", 1.0), row("c", 1.0), row("d", 5.0), row("e", 5.0)};
    EXPECT_EQ(ids(flat(rows, SortKey::cost, SortDirection::descending)),
              (std::vector<std::string>{"d", "e", "a", "b", "c"}));
    // Reversing the direction reverses distinct costs only.
    EXPECT_EQ(ids(flat(rows, SortKey::cost, SortDirection::ascending)),
              (std::vector<std::string>{"b", "c", "a", "d", "e"}));

    std::vector<SessionRow> started{row("a", 1, 0, 1, 10), row("b", 1, 0, 2, 30), row("c", 1, 0, 3, 10),
                                    row("d", 1, 0, 4, 5)};
    EXPECT_EQ(ids(flat(started, SortKey::start, SortDirection::descending)),
              (std::vector<std::string>{"d", "a", "c", "b"}));
    EXPECT_EQ(ids(flat(started, SortKey::start, SortDirection::ascending)),
              (std::vector<std::string>{"b", "a", "c", "d"}));
}

TEST_F(ChartDataTest, NamesOrderByTheShownTitleIgnoringCase) {
    std::vector<SessionRow> rows{row("r1", 1, 0, 1, std::nullopt, "zebra crossing"),
                                row("r2", 1, 0, 2, std::nullopt, "apple orchard"),
                                row("r3", 1, 0, 3), row("r4", 1, 0, 4)};
    // The user's names, not the transcript titles, decide; r3 and r4 differ
    // only in letter case and so keep their row order.
    meta.setName("Mango", "r1");
    meta.setName("zucchini", "r2");
    meta.setName("banana", "r3");
    meta.setName("BANANA", "r4");
    EXPECT_EQ(ids(flat(rows, SortKey::name, SortDirection::ascending)),
              (std::vector<std::string>{"r3", "r4", "r1", "r2"}));
    EXPECT_EQ(ids(flat(rows, SortKey::name, SortDirection::descending)),
              (std::vector<std::string>{"r2", "r1", "r3", "r4"}));

    // Without a name, the suggested name is the title shown.
    meta.setName("", "r2");
    meta.ensureSuggestion("r2", "Apple");
    EXPECT_EQ(ids(flat(rows, SortKey::name, SortDirection::ascending)).front(), "r2");
}

// --- Tag groups -----------------------------------------------------------

TEST_F(ChartDataTest, ATaggedConversationSplitsItsCostEvenlyOverItsTags) {
    std::vector<SessionRow> rows{row("c", 3.0, 0.3), row("u", 0.5, 0.5)};
    tag("c", {"alpha", "beta", "gamma"});
    std::vector<TagGroup> groups = grouped(rows, SortDirection::descending);

    ASSERT_EQ(groups.size(), 4u);
    for (const char* t : {"alpha", "beta", "gamma"}) {
        const TagGroup* g = group(groups, t);
        ASSERT_NE(g, nullptr) << t;
        ASSERT_EQ(g->bars.size(), 1u);
        const BarItem& b = g->bars[0];
        EXPECT_EQ(b.id, std::string(t) + "|c");
        EXPECT_EQ(b.rowId, "c");
        EXPECT_EQ(b.splitCount, 3);
        EXPECT_DOUBLE_EQ(b.value, 1.0);
        EXPECT_DOUBLE_EQ(b.today, 0.1);
        EXPECT_DOUBLE_EQ(g->total, 1.0);
    }
    // The untagged conversation keeps its whole cost.
    const TagGroup* untagged = group(groups, "Untagged");
    ASSERT_NE(untagged, nullptr);
    EXPECT_EQ(untagged->bars[0], (BarItem{"Untagged|u", "u", meta.topic("u", rows[1].title), 1, 0.5, 0.5}));
    // The largest share sets the scale, not a group total.
    EXPECT_DOUBLE_EQ(globalMax(groups), 1.0);
}

TEST_F(ChartDataTest, GroupsAreByExactTagText) {
    std::vector<SessionRow> rows{row("a", 1.0), row("b", 2.0), row("c", 4.0), row("d", 8.0)};
    tag("a", {"Infra"});
    tag("b", {"infra"});
    tag("c", {"Untagged"});  // shares the section of conversations without tags
    std::vector<TagGroup> groups = grouped(rows, SortDirection::descending);
    EXPECT_EQ(groupIds(groups), (std::vector<std::string>{"Untagged", "infra", "Infra"}));
    EXPECT_DOUBLE_EQ(groups[0].total, 12.0);
    EXPECT_EQ(ids(groups[0].bars), (std::vector<std::string>{"Untagged|d", "Untagged|c"}));
}

TEST_F(ChartDataTest, BarsInAGroupOrderByValueWithTiesInRowOrder) {
    std::vector<SessionRow> rows{row("a", 1.0), row("b", 3.0), row("c", 1.0), row("d", 2.0)};
    for (const char* id : {"a", "b", "c", "d"}) tag(id, {"t"});
    EXPECT_EQ(ids(grouped(rows, SortDirection::descending)[0].bars),
              (std::vector<std::string>{"t|b", "t|d", "t|a", "t|c"}));
    EXPECT_EQ(ids(grouped(rows, SortDirection::ascending)[0].bars),
              (std::vector<std::string>{"t|a", "t|c", "t|d", "t|b"}));
}

TEST_F(ChartDataTest, GroupsWithEqualTotalsKeepOneFixedOrder) {
    // Four groups of $1.00: the order must not depend on the row order or
    // on the direction, so bars never trade places from one tick to the next.
    std::vector<SessionRow> rows{row("a", 1.0), row("b", 1.0), row("c", 1.0), row("d", 1.0), row("e", 5.0)};
    tag("a", {"mango"});
    tag("b", {"apple"});
    tag("c", {"zulu"});
    tag("d", {"Kiwi"});
    tag("e", {"big"});
    std::vector<std::string> desc = groupIds(grouped(rows, SortDirection::descending));
    EXPECT_EQ(desc, (std::vector<std::string>{"big", "Kiwi", "apple", "mango", "zulu"}));
    std::vector<std::string> asc = groupIds(grouped(rows, SortDirection::ascending));
    EXPECT_EQ(asc, (std::vector<std::string>{"Kiwi", "apple", "mango", "zulu", "big"}));

    std::vector<SessionRow> reordered{rows[3], rows[2], rows[4], rows[0], rows[1]};
    EXPECT_EQ(groupIds(grouped(reordered, SortDirection::descending)), desc);
}

TEST_F(ChartDataTest, ATagListedTwiceInAHandEditedFileMakesOneBar) {
    // The store's own setters never keep such a list; a file edited by hand
    // can.
    test::TempDir dir;
    dir.write("metadata.json", R"({"d": {"tags": ["ops", "ops", "web", "ops"]}, "e": {"tags": ["ops", "ops"]}})");
    MetadataStore edited(dir.path().string());
    ASSERT_EQ(edited.tags("d").size(), 4u);

    std::vector<SessionRow> rows{row("d", 4.0, 2.0), row("e", 1.0)};
    std::vector<TagGroup> groups = tagGroups(pointers(rows), edited, SortDirection::descending);
    ASSERT_EQ(groupIds(groups), (std::vector<std::string>{"ops", "web"}));
    EXPECT_EQ(ids(groups[0].bars), (std::vector<std::string>{"ops|d", "ops|e"}));
    EXPECT_EQ(groups[0].bars[0].splitCount, 2);  // ops and web
    EXPECT_DOUBLE_EQ(groups[0].bars[0].value, 2.0);
    EXPECT_DOUBLE_EQ(groups[0].bars[0].today, 1.0);
    EXPECT_EQ(groups[0].bars[1].splitCount, 1);
    EXPECT_DOUBLE_EQ(groups[0].bars[1].value, 1.0);
    // Every dollar is charted once across the groups.
    EXPECT_DOUBLE_EQ(groups[0].total + groups[1].total, 5.0);
}

// --- Scale and window -----------------------------------------------------

TEST_F(ChartDataTest, ContentHoldsTheWindowsRowsInTheChosenGrouping) {
    std::vector<SessionRow> rows{row("new", 1.0, 1.0, 1), row("old", 9.0, 0, 24 * 40)};
    tag("old", {"x"});
    ChartOptions options;
    options.range = ReportDateRange::last30;
    ChartContent c = chartContent(rows, meta, options, kNow);
    EXPECT_EQ(c.rowCount, 1u);
    EXPECT_EQ(ids(c.flat), (std::vector<std::string>{"new"}));
    EXPECT_TRUE(c.groups.empty());
    EXPECT_DOUBLE_EQ(c.globalMax, 1.0);

    options.range = ReportDateRange::all;
    options.groupBy = GroupBy::tag;
    c = chartContent(rows, meta, options, kNow);
    EXPECT_EQ(c.rowCount, 2u);
    EXPECT_TRUE(c.flat.empty());
    EXPECT_EQ(groupIds(c.groups), (std::vector<std::string>{"x", "Untagged"}));
    EXPECT_DOUBLE_EQ(c.globalMax, 9.0);

    // The scale never falls below its floor: empty, or all but free.
    options.range = ReportDateRange::all;
    options.groupBy = GroupBy::none;
    std::vector<SessionRow> tiny{row("t", 0.00005)};
    EXPECT_DOUBLE_EQ(chartContent(tiny, meta, options, kNow).globalMax, kMinScale);
    options.range = ReportDateRange::today;
    std::vector<SessionRow> none{row("gone", 1.0, 0, 48)};
    c = chartContent(none, meta, options, kNow);
    EXPECT_EQ(c.rowCount, 0u);
    EXPECT_TRUE(c.flat.empty());
    EXPECT_DOUBLE_EQ(c.globalMax, kMinScale);
    options.groupBy = GroupBy::tag;
    c = chartContent(none, meta, options, kNow);
    EXPECT_TRUE(c.groups.empty());
    EXPECT_DOUBLE_EQ(c.globalMax, kMinScale);
}

// --- Choices --------------------------------------------------------------

TEST(ChartChoices, OnlyTheExactWordTagOpensTheChartGrouped) {
    auto with = [](std::optional<std::string> value) {
        test::EnvVar v("VOREL_CHART_GROUP", value);
        return initialGroupBy();
    };
    EXPECT_EQ(with("tag"), GroupBy::tag);
    for (const char* other : {"Tag", "tag ", " tag", "tags", ""}) EXPECT_EQ(with(other), GroupBy::none) << other;
    EXPECT_EQ(with(std::nullopt), GroupBy::none);
}

}  // namespace
