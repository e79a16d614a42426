#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reports/ChartData.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::utc;

namespace {

const TimePoint kNow = utc(2026, 7, 5, 12);

// A conversation as the cost model publishes it; `hoursAgo` is its last
// activity, and it started an hour before that unless told otherwise.
SessionRow row(const std::string& id, double total, double today = 0, int hoursAgo = 1,
               std::optional<int> startHoursAgo = std::nullopt, const std::string& title = "") {
    return {id, "Claude Code", title.empty() ? "conversation about " + id : title, "", total, today, false,
            kNow - hours{startHoursAgo.value_or(hoursAgo + 1)}, kNow - hours{hoursAgo}, 0, {}, {}, {}};
}

std::vector<const SessionRow*> pointers(const std::vector<SessionRow>& rows) {
    std::vector<const SessionRow*> out;
    for (const SessionRow& r : rows) out.push_back(&r);
    return out;
}

template <typename T>
std::vector<std::string> ids(const std::vector<T>& items) {
    std::vector<std::string> out;
    for (const T& i : items) out.push_back(i.id);
    return out;
}

using Ids = std::vector<std::string>;

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
        for (const char* t : tags) meta.addTag(id, t);
    }

    MetadataStore meta{""};  // in memory
};

TEST_F(ChartDataTest, BarsOrderByCostStartOrShownNameAndEqualKeysKeepTheRowOrderInBothDirections) {
    // Rows come most recent first; b and c cost the same, so do d and e.
    std::vector<SessionRow> rows{row("a", 2.0), row("b", 1.0), row("c", 1.0), row("d", 5.0), row("e", 5.0)};
    EXPECT_EQ(ids(flat(rows, SortKey::cost, SortDirection::descending)), (Ids{"d", "e", "a", "b", "c"}));
    // Reversing the direction reverses distinct costs only.
    EXPECT_EQ(ids(flat(rows, SortKey::cost, SortDirection::ascending)), (Ids{"b", "c", "a", "d", "e"}));

    std::vector<SessionRow> started{row("a", 1, 0, 1, 10), row("b", 1, 0, 2, 30), row("c", 1, 0, 3, 10),
                                    row("d", 1, 0, 4, 5)};
    EXPECT_EQ(ids(flat(started, SortKey::start, SortDirection::descending)), (Ids{"d", "a", "c", "b"}));
    EXPECT_EQ(ids(flat(started, SortKey::start, SortDirection::ascending)), (Ids{"b", "a", "c", "d"}));

    // Names order by the shown title ignoring case: the user's names, not
    // the transcript titles, decide; r3 and r4 differ only in letter case.
    std::vector<SessionRow> named{row("r1", 1, 0, 1, std::nullopt, "zebra crossing"),
                                  row("r2", 1, 0, 2, std::nullopt, "apple orchard"), row("r3", 1, 0, 3),
                                  row("r4", 1, 0, 4)};
    meta.setName("r1", "Mango");
    meta.setName("r2", "zucchini");
    meta.setName("r3", "banana");
    meta.setName("r4", "BANANA");
    for (const QLocale& l : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()}) {
        test::ScopedLocale in(l);  // the C locale's collation sees case; the order must not
        EXPECT_EQ(ids(flat(named, SortKey::name, SortDirection::ascending)), (Ids{"r3", "r4", "r1", "r2"}));
        EXPECT_EQ(ids(flat(named, SortKey::name, SortDirection::descending)), (Ids{"r2", "r1", "r3", "r4"}));
    }

    // Without a name, the suggested name is the title shown.
    meta.setName("r2", "");
    meta.ensureSuggestion("r2", "Apple");
    EXPECT_EQ(ids(flat(named, SortKey::name, SortDirection::ascending)).front(), "r2");
}

TEST_F(ChartDataTest, ATaggedConversationSplitsItsCostEvenlyOverItsTags) {
    std::vector<SessionRow> rows{row("c", 3.0, 0.3), row("u", 0.5, 0.5)};
    tag("c", {"alpha", "beta", "gamma"});
    std::vector<TagGroup> groups = grouped(rows, SortDirection::descending);

    ASSERT_EQ(ids(groups), (Ids{"alpha", "beta", "gamma", "Untagged"}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ids(groups[i].bars), Ids{groups[i].id + "|c"});
        EXPECT_EQ(groups[i].bars[0].splitCount, 3);
        EXPECT_DOUBLE_EQ(groups[i].bars[0].today, 0.1);
        EXPECT_DOUBLE_EQ(groups[i].total, 1.0);
    }
    // The untagged conversation keeps its whole cost.
    EXPECT_EQ(groups[3].bars[0], (BarItem{"Untagged|u", "u", meta.topic("u", rows[1].title), 1, 0.5, 0.5}));
    // The largest share sets the scale, not a group total.
    EXPECT_DOUBLE_EQ(globalMax(groups), 1.0);
}

TEST_F(ChartDataTest, GroupsAreByExactTagTextOrderedByTotalWithOneFixedOrderOfTiesAndBarsByValue) {
    std::vector<SessionRow> rows{row("a", 1.0), row("b", 2.0), row("c", 4.0), row("d", 8.0)};
    tag("a", {"Infra"});
    tag("b", {"infra"});
    tag("c", {"Untagged"});  // shares the section of conversations without tags
    std::vector<TagGroup> groups = grouped(rows, SortDirection::descending);
    EXPECT_EQ(ids(groups), (Ids{"Untagged", "infra", "Infra"}));
    EXPECT_DOUBLE_EQ(groups[0].total, 12.0);
    EXPECT_EQ(ids(groups[0].bars), (Ids{"Untagged|d", "Untagged|c"}));

    std::vector<SessionRow> same{row("p", 1.0), row("q", 3.0), row("r", 1.0), row("s", 2.0)};
    for (const char* id : {"p", "q", "r", "s"}) tag(id, {"t"});
    EXPECT_EQ(ids(grouped(same, SortDirection::descending)[0].bars), (Ids{"t|q", "t|s", "t|p", "t|r"}));
    EXPECT_EQ(ids(grouped(same, SortDirection::ascending)[0].bars), (Ids{"t|p", "t|r", "t|s", "t|q"}));

    // Four groups of $1.00: the order must not depend on the row order or
    // on the direction, so bars never trade places from one tick to the next.
    std::vector<SessionRow> tied{row("v", 1.0), row("w", 1.0), row("x", 1.0), row("y", 1.0), row("z", 5.0)};
    for (auto [id, t] : {std::pair{"v", "mango"}, {"w", "apple"}, {"x", "zulu"}, {"y", "Kiwi"}, {"z", "big"}})
        tag(id, {t});
    const Ids desc = ids(grouped(tied, SortDirection::descending));
    EXPECT_EQ(desc, (Ids{"big", "Kiwi", "apple", "mango", "zulu"}));
    EXPECT_EQ(ids(grouped(tied, SortDirection::ascending)), (Ids{"Kiwi", "apple", "mango", "zulu", "big"}));
    EXPECT_EQ(ids(grouped({tied[3], tied[2], tied[4], tied[0], tied[1]}, SortDirection::descending)), desc);
}

TEST_F(ChartDataTest, ATagListedTwiceInAHandEditedFileMakesOneBar) {
    // The store's own setters never keep such a list; a hand-edited file can.
    test::TempDir dir;
    dir.write("metadata.json", R"({"d": {"tags": ["ops", "ops", "web", "ops"]}, "e": {"tags": ["ops", "ops"]}})");
    MetadataStore edited(dir.path().string());
    ASSERT_EQ(edited.tags("d").size(), 4u);

    std::vector<SessionRow> rows{row("d", 4.0, 2.0), row("e", 1.0)};
    std::vector<TagGroup> groups = tagGroups(pointers(rows), edited, SortDirection::descending);
    ASSERT_EQ(ids(groups), (Ids{"ops", "web"}));
    EXPECT_EQ(ids(groups[0].bars), (Ids{"ops|d", "ops|e"}));
    EXPECT_EQ(groups[0].bars[0].splitCount, 2);  // ops and web
    EXPECT_DOUBLE_EQ(groups[0].bars[0].value, 2.0);
    EXPECT_DOUBLE_EQ(groups[0].bars[0].today, 1.0);
    // Every dollar is charted once across the groups.
    EXPECT_DOUBLE_EQ(groups[0].total + groups[1].total, 5.0);
}

TEST_F(ChartDataTest, ContentHoldsTheWindowsRowsInTheChosenGroupingFlatBarsWithTheirWholeCost) {
    std::vector<SessionRow> rows{row("new", 3.0, 0.3, 1), row("old", 9.0, 0, 24 * 40)};
    tag("old", {"x"});
    tag("new", {"y", "z"});  // tags do not split an ungrouped bar
    meta.setName("new", "Parser rewrite");
    ChartOptions options;
    options.range = ReportDateRange::last30;
    ChartContent c = chartContent(rows, meta, options, kNow);
    EXPECT_EQ(c.rowCount, 1u);
    ASSERT_EQ(c.flat.size(), 1u);
    EXPECT_EQ(c.flat[0], (BarItem{"new", "new", "Parser rewrite", 1, 3.0, 0.3}));
    EXPECT_DOUBLE_EQ(c.globalMax, 3.0);

    options.range = ReportDateRange::all;
    options.groupBy = GroupBy::tag;
    c = chartContent(rows, meta, options, kNow);
    EXPECT_EQ(c.rowCount, 2u);
    EXPECT_TRUE(c.flat.empty());
    EXPECT_EQ(ids(c.groups), (Ids{"x", "y", "z"}));
    EXPECT_DOUBLE_EQ(c.globalMax, 9.0);

    // The scale never falls below its floor: empty, or all but free.
    options.groupBy = GroupBy::none;
    EXPECT_DOUBLE_EQ(chartContent({row("t", 0.00005)}, meta, options, kNow).globalMax, kMinScale);
    options.range = ReportDateRange::today;
    for (GroupBy g : kAllGroupBys) {
        options.groupBy = g;
        c = chartContent({row("gone", 1.0, 0, 48)}, meta, options, kNow);
        EXPECT_EQ(c.rowCount, 0u);
        EXPECT_TRUE(c.flat.empty() && c.groups.empty());
        EXPECT_DOUBLE_EQ(c.globalMax, kMinScale);
    }
}

}  // namespace
