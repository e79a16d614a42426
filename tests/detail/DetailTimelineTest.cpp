// The detail timeline: the filtered rows and their highlight, the row texts,
// the filter chips, scrolling to an event and refreshes.

#include "detail/DetailTimeline.h"

#include <gtest/gtest.h>

#include <memory>

#include <QAbstractItemModelTester>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTest>

#include "shell/Theme.h"
#include "tests/GuiTestSupport.h"

namespace vorel {
namespace {

using K = ConversationEventKind;
using F = TimelineFilter;

ConversationEvent event(int id, K kind, std::string title, std::string detail = {}) {
    return {.id = id, .timestamp = {}, .kind = kind, .title = std::move(title), .detail = std::move(detail), .cost = {},
            .tokens = {}};
}

// One event of every kind, ids 0 to 10 in declaration order of the kinds.
std::vector<ConversationEvent> everyKind() {
    std::vector<ConversationEvent> out;
    for (int k = 0; k <= static_cast<int>(K::system); ++k)
        out.push_back(event(k, static_cast<K>(k), "title " + std::to_string(k), "detail " + std::to_string(k)));
    return out;
}

// `n` API calls with a line of detail each.
std::vector<ConversationEvent> apiCalls(int n, int firstId = 0) {
    std::vector<ConversationEvent> out;
    for (int i = 0; i < n; ++i) out.push_back(event(firstId + i, K::token, "API call", "model in 10 out 20"));
    return out;
}

std::vector<int> shownIds(const TimelineModel& m) {
    std::vector<int> ids;
    for (int r = 0; r < m.rowCount(); ++r) ids.push_back(m.index(r).data(TimelineModel::EventIdRole).toInt());
    return ids;
}

TEST(TimelineModelTest, FiltersNarrowTheRowsAndTheHighlightFollowsTheId) {
    TimelineModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    m.setEvents(everyKind());
    EXPECT_EQ(m.rowCount(), 11);  // all six on: every event shows
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    auto lit = [&](int row) { return m.index(row).data(TimelineModel::HighlightedRole).toBool(); };
    m.setHighlightedEventId(4);
    m.setHighlightedEventId(5);  // the old row and the new one repaint
    EXPECT_FALSE(lit(4));
    EXPECT_EQ(changed.count(), 3);

    const std::pair<TimelineFilters, std::vector<int>> cases[] = {{{F::tools}, {4, 5, 6, 7}},
                                                                 {{F::responses, F::reasoning, F::apiCalls}, {2, 3, 8}},
                                                                 {{F::internalRows, F::prompts}, {0, 1, 9, 10}}};
    for (const auto& [filters, ids] : cases) {
        m.setFilters(filters);
        EXPECT_EQ(shownIds(m), ids);
    }
    EXPECT_EQ(m.rowOfEvent(9), 2);
    EXPECT_EQ(m.rowOfEvent(8), -1);  // hidden by the filters
    m.setFilters({F::tools});
    EXPECT_TRUE(lit(m.rowOfEvent(5)));  // the highlight stays with the event
    m.setFilters({});
    EXPECT_EQ(m.rowCount(), 11);
}

TEST(TimelineRowTest, TimeAmountOfMoneyOrTokensAndAtMostThreeLinesOfPlainDetail) {
    ConversationEvent e = event(0, K::token, "API call");
    EXPECT_EQ(timelineRowTexts(e).stamp, "");  // no timestamp, no time
    e.timestamp = TimePoint{std::chrono::milliseconds{1767225600000LL}};
    EXPECT_FALSE(timelineRowTexts(e).stamp.isEmpty());

    // Any cost shows, even nothing, and wins over tokens; no tokens, no amount.
    const std::tuple<std::optional<double>, std::optional<std::int64_t>, QString> amounts[] = {
        {1.5, 912, "$1.50 (money)"}, {0.0, {}, "$0.00 (money)"}, {{}, 912, "912 tok"}, {{}, 0, ""}};
    for (const auto& [cost, tokens, expected] : amounts) {
        e.cost = cost;
        e.tokens = tokens;
        const TimelineRowTexts t = timelineRowTexts(e);
        EXPECT_EQ(t.amount + (t.amountIsMoney ? " (money)" : ""), expected);
    }

    // The detail: at most three lines of plain text, as many as it needs.
    EXPECT_EQ(TimelineDelegate::detailLines("alpha\nbeta", 300), QStringList({"alpha", "beta"}));
    QStringList lines = TimelineDelegate::detailLines(QStringLiteral("word ").repeated(60).trimmed(), 200);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("…")));
    QFontMetrics fm(BrandFont::sans(11));
    for (const QString& line : lines) EXPECT_LE(fm.horizontalAdvance(line), 200) << line.toStdString();

    // Transcript text is never read as markup.
    const QString markup = QStringLiteral("<b>bold</b> & <i>x</i> &amp;");
    EXPECT_EQ(TimelineDelegate::detailLines(markup, 1000), QStringList({markup}));
}

// The delegate reads a row only through the model's roles: behind a proxy
// that drops rows, each row is sized and painted as it is by a model that
// holds just the events the proxy lets through, highlight included.
TEST(TimelineDelegateTest, RowsBehindAProxyLookAsWithoutIt) {
    std::vector<ConversationEvent> events = everyKind();
    events[3].detail = QStringLiteral("word ").repeated(40).toStdString();  // three lines, the last cut
    events[4].tokens = 912;
    events[8].cost = 1.25;
    events[8].timestamp = TimePoint{std::chrono::milliseconds{1767225600000LL}};
    const std::vector<int> kept = {1, 3, 4, 8};
    std::vector<ConversationEvent> keptEvents;
    for (int id : kept) keptEvents.push_back(events[static_cast<size_t>(id)]);

    TimelineModel all;
    all.setEvents(events);
    QSortFilterProxyModel proxy;
    QAbstractItemModelTester tester(&proxy, QAbstractItemModelTester::FailureReportingMode::Fatal);
    proxy.setSourceModel(&all);
    proxy.setFilterRole(TimelineModel::EventIdRole);
    proxy.setFilterRegularExpression(QStringLiteral("^(1|3|4|8)$"));
    TimelineModel only;
    only.setEvents(keptEvents);
    ASSERT_EQ(proxy.rowCount(), only.rowCount());

    auto listOf = [](QAbstractItemModel* model) {
        auto list = std::make_unique<QListView>();
        list->setModel(model);
        list->setItemDelegate(new TimelineDelegate(list.get()));
        list->resize(500, 600);
        list->show();
        return list;
    };
    auto viaProxy = listOf(&proxy);
    auto direct = listOf(&only);
    all.setHighlightedEventId(4);
    only.setHighlightedEventId(4);
    test::settle();

    for (int row = 0; row < only.rowCount(); ++row)
        EXPECT_EQ(viaProxy->visualRect(proxy.index(row, 0)), direct->visualRect(only.index(row, 0))) << row;
    EXPECT_TRUE(viaProxy->viewport()->grab().toImage() == direct->viewport()->grab().toImage())
        << "the rows behind the proxy are painted differently";
}

// ------------------------------------------------------------ the widget

class DetailTimelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        timeline.resize(500, 400);
        timeline.show();
        test::settle();
    }
    QListView* list() { return timeline.listView(); }
    QScrollBar* bar() { return list()->verticalScrollBar(); }
    void show(const std::vector<ConversationEvent>& events) {
        timeline.setEvents(events);
        test::settle();
    }
    int rowCenterOffset(int id) {
        QRect r = list()->visualRect(timeline.model()->index(timeline.model()->rowOfEvent(id)));
        return r.center().y() - list()->viewport()->height() / 2;
    }

    DetailTimeline timeline;
};

TEST_F(DetailTimelineTest, ChipsToggleTheFiltersAndEmptyTextsTellWhy) {
    EXPECT_EQ(timeline.emptyText(), "No detailed events found in the local transcript.");
    timeline.setFilters({F::prompts});
    EXPECT_EQ(timeline.emptyText(), "No detailed events found in the local transcript.");
    timeline.setEvents(apiCalls(2));
    EXPECT_EQ(timeline.emptyText(), "No events match the current filters.");
    timeline.addFilter(F::apiCalls);
    EXPECT_EQ(timeline.emptyText(), "");

    QStringList labels;
    for (F f : allTimelineFilters) labels << timeline.chip(f)->text();
    EXPECT_EQ(labels, QStringList({"Prompts", "Responses", "Reasoning", "Tools", "API calls", "Internal"}));
    // A chip turns its filter off or on; turning off the last one turns all six on.
    timeline.setFilters(allTimelineFilterSet());
    timeline.setEvents(everyKind());
    QSignalSpy spy(&timeline, &DetailTimeline::filtersChanged);
    auto click = [&](F f) {
        QTest::mouseClick(timeline.chip(f), Qt::LeftButton);
        return timeline.filters();
    };
    EXPECT_EQ(click(F::tools), TimelineFilters({F::prompts, F::responses, F::reasoning, F::apiCalls, F::internalRows}));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(timeline.chip(F::tools)->isOn());
    EXPECT_EQ(timeline.model()->rowCount(), 7);
    EXPECT_EQ(click(F::tools), allTimelineFilterSet());
    timeline.setFilters({F::prompts});
    EXPECT_EQ(click(F::prompts), allTimelineFilterSet());
    for (F f : allTimelineFilters) EXPECT_TRUE(timeline.chip(f)->isOn());
}

TEST_F(DetailTimelineTest, ScrollToEventCentresItsRow) {
    std::vector<ConversationEvent> events = everyKind(), calls = apiCalls(80, 11);
    events.insert(events.end(), calls.begin(), calls.end());
    show(events);
    ASSERT_GT(bar()->maximum(), 0);

    EXPECT_TRUE(timeline.scrollToEvent(50));
    EXPECT_LE(std::abs(rowCenterOffset(50)), 2);
    const int at = bar()->value();

    timeline.setFilters({F::prompts, F::apiCalls});
    EXPECT_FALSE(timeline.scrollToEvent(5));  // a hidden tool result: nothing moves
    EXPECT_TRUE(timeline.scrollToEvent(70, /*animated=*/true));
    EXPECT_TRUE(test::waitFor([&] { return std::abs(rowCenterOffset(70)) <= 2; }, 2000));
    EXPECT_NE(bar()->value(), at);
}

// Appended events are inserted, not reset, and keep the scroll; a changed
// one rebuilds the rows, keeping it too; another conversation starts at the top.
TEST_F(DetailTimelineTest, RefreshKeepsScrollAndAnotherConversationStartsAtTheTop) {
    QAbstractItemModelTester tester(timeline.model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    std::vector<ConversationEvent> events = apiCalls(80);
    timeline.setFilters({F::apiCalls, F::prompts});
    show(events);
    bar()->setValue(bar()->maximum() / 2);
    const int kept = bar()->value();
    ASSERT_GT(kept, 0);
    QSignalSpy resets(timeline.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(timeline.model(), &QAbstractItemModel::rowsInserted);

    // A hidden event adds no row.
    events.push_back(event(80, K::toolResult, "Tool result", "hidden by the filter"));
    events.push_back(event(81, K::user, "Prompt", "appended"));
    events.push_back(event(82, K::user, "Prompt", "appended"));
    show(events);
    EXPECT_EQ(bar()->value(), kept);
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(inserts.count(), 1);
    EXPECT_EQ(inserts.at(0).mid(1), QVariantList({80, 81}));
    events[10].detail = "rewritten in the middle";
    show(events);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(timeline.model()->eventAt(10).detail, "rewritten in the middle");
    EXPECT_EQ(bar()->value(), kept);

    std::vector<ConversationEvent> other = apiCalls(80);
    other[0].title = "another conversation";
    show(other);
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(timeline.filters(), TimelineFilters({F::apiCalls, F::prompts}));
}

TEST_F(DetailTimelineTest, ClearedHighlightFadesOutAndANewOneStopsTheFade) {
    DetailTimeline& t = timeline;
    show(everyKind());
    auto strength = [&](int id) {
        return t.model()->index(t.model()->rowOfEvent(id)).data(TimelineModel::HighlightStrengthRole).toDouble();
    };
    // A point where only the highlight paints: in its overhang beside the
    // row's content.
    const QPoint probe(TimelineDelegate::kSidePadding - 3, list()->visualRect(t.model()->index(3)).center().y());
    auto pixel = [&] { return list()->viewport()->grab().toImage().pixelColor(probe); };
    const QColor plain = pixel();
    t.setHighlightedEventId(3);
    EXPECT_NE(pixel(), plain);
    t.clearHighlight(600);
    // The highlight is gone at once; only its tint lingers, weaker and weaker.
    EXPECT_FALSE(t.highlightedEventId());
    ASSERT_TRUE(test::waitFor([&] { return strength(3) > 0 && strength(3) < 0.9; }, 1000));
    EXPECT_TRUE(test::waitFor([&] { return strength(3) == 0; }, 2000));
    EXPECT_EQ(pixel(), plain);

    // A highlight set during a fade ends it: only the new row is tinted.
    t.setHighlightedEventId(4);
    t.clearHighlight(600);
    t.setHighlightedEventId(5);
    EXPECT_EQ(strength(4), 0.0);
    test::spin(700);
    EXPECT_EQ(strength(5), 1.0);
    EXPECT_EQ(t.highlightedEventId(), 5);
}

}  // namespace
}  // namespace vorel
