// The detail timeline: filter groups and chips, the filtered rows, the row
// texts, the highlight, scrolling to an event and refreshes.

#include "DetailTimeline.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "GuiTestSupport.h"
#include "Theme.h"

namespace vorel {
namespace {

using K = ConversationEventKind;
using F = TimelineFilter;

ConversationEvent event(int id, K kind, std::string title, std::string detail = {}) {
    ConversationEvent e;
    e.id = id;
    e.kind = kind;
    e.title = std::move(title);
    e.detail = std::move(detail);
    return e;
}

// One event of every kind, ids 0 to 10 in declaration order of the kinds.
std::vector<ConversationEvent> everyKind() {
    std::vector<ConversationEvent> out;
    for (int k = 0; k <= static_cast<int>(K::system); ++k) {
        out.push_back(event(k, static_cast<K>(k), "title " + std::to_string(k), "detail " + std::to_string(k)));
    }
    return out;
}

// `n` API calls with a line of detail each.
std::vector<ConversationEvent> apiCalls(int n, int firstId = 0) {
    std::vector<ConversationEvent> out;
    for (int i = 0; i < n; ++i) {
        ConversationEvent e = event(firstId + i, K::token, "API call", "model in 10 out 20");
        e.cost = 0.01 * (i + 1);
        e.tokens = 30;
        out.push_back(e);
    }
    return out;
}

std::vector<int> shownIds(const TimelineModel& m) {
    std::vector<int> ids;
    for (int r = 0; r < m.rowCount(); ++r) ids.push_back(m.index(r).data(TimelineModel::EventIdRole).toInt());
    return ids;
}

// ------------------------------------------------------------ filter groups

TEST(TimelineFilterTest, ChipLabelsInOrderAndExactRawValues) {
    QStringList labels;
    for (F f : allTimelineFilters) labels << QString::fromUtf8(rawValue(f).data(), rawValue(f).size());
    EXPECT_EQ(labels, QStringList({"Prompts", "Responses", "Reasoning", "Tools", "API calls", "Internal"}));
    EXPECT_EQ(timelineFilterFromRaw("API calls"), F::apiCalls);
    EXPECT_EQ(timelineFilterFromRaw("Internal"), F::internalRows);
    EXPECT_EQ(timelineFilterFromRaw("api calls"), std::nullopt);
    EXPECT_EQ(timelineFilterFromRaw("Tools "), std::nullopt);
}

TEST(TimelineFilterTest, EveryKindBelongsToItsGroup) {
    EXPECT_EQ(timelineFilterFor(K::user), F::prompts);
    EXPECT_EQ(timelineFilterFor(K::assistant), F::responses);
    EXPECT_EQ(timelineFilterFor(K::reasoning), F::reasoning);
    for (K k : {K::toolCall, K::toolResult, K::webSearch, K::patch}) EXPECT_EQ(timelineFilterFor(k), F::tools);
    EXPECT_EQ(timelineFilterFor(K::token), F::apiCalls);
    for (K k : {K::injected, K::system, K::lifecycle}) EXPECT_EQ(timelineFilterFor(k), F::internalRows);
}

TEST(TimelineFilterTest, ToggleRemovesAddsAndNeverLeavesTheSetEmpty) {
    TimelineFilters all = allTimelineFilterSet();
    TimelineFilters fewer = toggledTimelineFilters(all, F::tools);
    EXPECT_EQ(fewer.size(), 5u);
    EXPECT_EQ(fewer.count(F::tools), 0u);
    EXPECT_EQ(toggledTimelineFilters(fewer, F::tools), all);
    // Turning off the only filter that is on turns all six on.
    EXPECT_EQ(toggledTimelineFilters({F::prompts}, F::prompts), all);
    // Turning on another one next to it just adds it.
    EXPECT_EQ(toggledTimelineFilters({F::prompts}, F::apiCalls), TimelineFilters({F::prompts, F::apiCalls}));
}

// ------------------------------------------------------------ the model

TEST(TimelineModelTest, FiltersNarrowTheRowsAndKeepTheirOrder) {
    TimelineModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Warning);
    m.setEvents(everyKind());
    EXPECT_EQ(m.rowCount(), 11);  // all six on: every event shows

    m.setFilters({F::tools});
    EXPECT_EQ(shownIds(m), std::vector<int>({4, 5, 6, 7}));
    m.setFilters({F::internalRows, F::prompts});
    EXPECT_EQ(shownIds(m), std::vector<int>({0, 1, 9, 10}));
    EXPECT_EQ(m.rowOfEvent(9), 2);
    EXPECT_EQ(m.rowOfEvent(8), -1);  // hidden by the filters
    EXPECT_EQ(m.rowOfEvent(99), -1);
    m.setFilters({});
    EXPECT_EQ(m.rowCount(), 11);
}

TEST(TimelineModelTest, AppendedEventsAreInsertedWithoutReset) {
    TimelineModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Warning);
    m.setFilters({F::apiCalls});
    std::vector<ConversationEvent> events = apiCalls(3);
    m.setEvents(events);
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&m, &QAbstractItemModel::rowsInserted);

    events.push_back(event(3, K::user, "Prompt", "hidden by the filter"));
    m.setEvents(events);
    EXPECT_EQ(inserts.count(), 0);
    EXPECT_EQ(m.rowCount(), 3);

    std::vector<ConversationEvent> more = apiCalls(2, 4);
    events.insert(events.end(), more.begin(), more.end());
    m.setEvents(events);
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(inserts.count(), 1);
    EXPECT_EQ(inserts.at(0).at(1).toInt(), 3);
    EXPECT_EQ(inserts.at(0).at(2).toInt(), 4);
    EXPECT_EQ(shownIds(m), std::vector<int>({0, 1, 2, 4, 5}));

    // An event changed in the middle: the rows are rebuilt.
    events[1].detail = "changed";
    m.setEvents(events);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(m.eventAt(1).detail, "changed");
}

TEST(TimelineModelTest, HighlightFollowsTheIdAlone) {
    TimelineModel m;
    m.setEvents(everyKind());
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    m.setHighlightedEventId(4);
    EXPECT_TRUE(m.index(4).data(TimelineModel::HighlightedRole).toBool());
    EXPECT_FALSE(m.index(5).data(TimelineModel::HighlightedRole).toBool());
    m.setHighlightedEventId(5);  // the old row and the new one repaint
    EXPECT_FALSE(m.index(4).data(TimelineModel::HighlightedRole).toBool());
    EXPECT_TRUE(m.index(5).data(TimelineModel::HighlightedRole).toBool());
    EXPECT_EQ(changed.count(), 3);
    // The highlight stays with the event when filters move its row.
    m.setFilters({F::tools});
    EXPECT_TRUE(m.index(m.rowOfEvent(5)).data(TimelineModel::HighlightedRole).toBool());
    m.setHighlightedEventId(std::nullopt);
    for (int r = 0; r < m.rowCount(); ++r) EXPECT_FALSE(m.index(r).data(TimelineModel::HighlightedRole).toBool());
}

// ------------------------------------------------------------ row texts

TEST(TimelineRowTest, AmountIsMoneyOrTokensOrNothing) {
    ConversationEvent priced = event(0, K::token, "API call");
    priced.cost = 1.5;
    priced.tokens = 912;
    TimelineRowTexts t = timelineRowTexts(priced);
    EXPECT_EQ(t.amount, "$1.50");
    EXPECT_TRUE(t.amountIsMoney);

    ConversationEvent zeroCost = priced;
    zeroCost.cost = 0.0;  // any cost shows, even nothing
    EXPECT_EQ(timelineRowTexts(zeroCost).amount, "$0.00");

    ConversationEvent unpriced = event(1, K::token, "API call");
    unpriced.tokens = 912;
    t = timelineRowTexts(unpriced);
    EXPECT_EQ(t.amount, "912 tok");
    EXPECT_FALSE(t.amountIsMoney);

    unpriced.tokens = 0;
    EXPECT_EQ(timelineRowTexts(unpriced).amount, "");
    EXPECT_EQ(timelineRowTexts(event(2, K::token, "Token usage")).amount, "");
}

TEST(TimelineRowTest, KindLabelTitleAndTime) {
    ConversationEvent e = event(0, K::injected, "Prompt");
    TimelineRowTexts t = timelineRowTexts(e);
    EXPECT_EQ(t.kind, "Internal");
    EXPECT_EQ(t.title, "Prompt");
    EXPECT_EQ(t.stamp, "");  // no timestamp, no time
    e.timestamp = TimePoint{std::chrono::milliseconds{1767225600000LL}};
    EXPECT_FALSE(timelineRowTexts(e).stamp.isEmpty());
    EXPECT_EQ(timelineRowTexts(event(0, K::toolCall, "Bash")).kind, "Tool call");
    EXPECT_EQ(timelineSymbol(K::injected), "gearshape.2");
    EXPECT_EQ(timelineSymbol(K::token), "number");
}

TEST(TimelineRowTest, DetailWrapsToAtMostThreeLines) {
    EXPECT_TRUE(TimelineDelegate::detailLines("", 300).isEmpty());
    EXPECT_EQ(TimelineDelegate::detailLines("short text", 300), QStringList({"short text"}));

    QString longText;
    for (int i = 0; i < 60; ++i) longText += QStringLiteral("word%1 ").arg(i);
    QStringList lines = TimelineDelegate::detailLines(longText.trimmed(), 200);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("word0 "));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("…")));
    QFontMetrics fm(BrandFont::sans(11));
    for (const QString& line : lines) EXPECT_LE(fm.horizontalAdvance(line), 200) << line.toStdString();

    // Exactly as many lines as the text needs: nothing is cut.
    QStringList two = TimelineDelegate::detailLines("alpha\nbeta", 300);
    EXPECT_EQ(two, QStringList({"alpha", "beta"}));
}

TEST(TimelineRowTest, TranscriptTextIsPlainNotMarkup) {
    const QString markup = QStringLiteral("<b>bold</b> & <i>x</i> &amp;");
    EXPECT_EQ(TimelineDelegate::detailLines(markup, 1000), QStringList({markup}));
    TimelineModel m;
    m.setEvents({event(0, K::toolCall, "<b>Tool</b> & co", markup.toStdString())});
    EXPECT_EQ(m.index(0).data().toString(), "<b>Tool</b> & co");
    EXPECT_EQ(timelineRowTexts(m.eventAt(0)).title, "<b>Tool</b> & co");
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
    int rowCenterOffset(int id) {
        QRect r = list()->visualRect(timeline.model()->index(timeline.model()->rowOfEvent(id)));
        return r.center().y() - list()->viewport()->height() / 2;
    }

    DetailTimeline timeline;
};

TEST_F(DetailTimelineTest, ChipsShowTheFiltersAndToggleThem) {
    QStringList labels;
    for (F f : allTimelineFilters) labels << timeline.chip(f)->text();
    EXPECT_EQ(labels, QStringList({"Prompts", "Responses", "Reasoning", "Tools", "API calls", "Internal"}));
    timeline.setEvents(everyKind());
    QSignalSpy spy(&timeline, &DetailTimeline::filtersChanged);

    QTest::mouseClick(timeline.chip(F::tools), Qt::LeftButton);
    EXPECT_FALSE(timeline.chip(F::tools)->isOn());
    EXPECT_EQ(timeline.filters().count(F::tools), 0u);
    EXPECT_EQ(timeline.model()->rowCount(), 7);
    EXPECT_EQ(spy.count(), 1);

    timeline.setFilters({F::prompts});
    QTest::mouseClick(timeline.chip(F::prompts), Qt::LeftButton);  // the last one on
    EXPECT_EQ(timeline.filters(), allTimelineFilterSet());
    for (F f : allTimelineFilters) EXPECT_TRUE(timeline.chip(f)->isOn());
}

TEST_F(DetailTimelineTest, EmptyTextsForNoEventsAndNoMatches) {
    EXPECT_EQ(timeline.emptyText(), "No detailed events found in the local transcript.");
    timeline.setFilters({F::prompts});
    EXPECT_EQ(timeline.emptyText(), "No detailed events found in the local transcript.");

    timeline.setEvents(apiCalls(2));
    EXPECT_EQ(timeline.emptyText(), "No events match the current filters.");
    timeline.addFilter(F::apiCalls);
    EXPECT_EQ(timeline.emptyText(), "");
    EXPECT_TRUE(list()->isVisible());
    auto* label = timeline.findChild<QLabel*>("timelineEmpty");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

TEST_F(DetailTimelineTest, RowHeightsFollowTheDetailLines) {
    std::vector<ConversationEvent> events{event(0, K::user, "Prompt"), event(1, K::user, "Prompt", "one line"),
                                          event(2, K::user, "Prompt", std::string(3000, 'x')),
                                          event(3, K::user, "Prompt")};
    timeline.setEvents(events);
    test::settle();
    auto height = [&](int row) { return list()->visualRect(timeline.model()->index(row)).height(); };
    const int line = QFontMetrics(BrandFont::sans(11)).lineSpacing();
    // The first and the last row carry the list's 12-point padding.
    EXPECT_EQ(height(1) - (height(0) - 12), 3 + line);
    EXPECT_EQ(height(2) - height(1), 2 * line);  // cut after three lines
    EXPECT_EQ(height(3), height(0));
}

TEST_F(DetailTimelineTest, ScrollToEventCentresItsRow) {
    std::vector<ConversationEvent> events = everyKind();
    std::vector<ConversationEvent> calls = apiCalls(80, 11);
    events.insert(events.end(), calls.begin(), calls.end());
    timeline.setEvents(events);
    test::settle();
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

TEST_F(DetailTimelineTest, HighlightedRowIsPaintedBehindItsContent) {
    timeline.setEvents(everyKind());
    test::settle();
    const QRect row = list()->visualRect(timeline.model()->index(3));
    // A point where only the highlight paints: in its overhang beside the content.
    const QPoint probe(TimelineDelegate::kSidePadding - 3, row.center().y());
    auto pixel = [&] { return list()->viewport()->grab().toImage().pixelColor(probe); };
    const QColor plain = pixel();
    timeline.setHighlightedEventId(3);
    EXPECT_NE(pixel(), plain);
    timeline.setHighlightedEventId(4);
    EXPECT_EQ(pixel(), plain);
}

TEST_F(DetailTimelineTest, RefreshKeepsScrollAndAnotherConversationStartsAtTheTop) {
    std::vector<ConversationEvent> events = apiCalls(80);
    timeline.setEvents(events);
    timeline.setFilters({F::apiCalls, F::prompts});
    test::settle();
    bar()->setValue(bar()->maximum() / 2);
    const int kept = bar()->value();
    ASSERT_GT(kept, 0);

    events.push_back(event(80, K::user, "Prompt", "appended"));
    timeline.setEvents(events);
    test::settle();
    EXPECT_EQ(bar()->value(), kept);
    EXPECT_EQ(timeline.model()->rowCount(), 81);

    events[10].detail = "rewritten in the middle";
    timeline.setEvents(events);
    test::settle();
    EXPECT_EQ(bar()->value(), kept);
    EXPECT_EQ(timeline.filters(), TimelineFilters({F::apiCalls, F::prompts}));

    std::vector<ConversationEvent> other = apiCalls(80);
    other[0].title = "another conversation";
    timeline.setEvents(other);
    test::settle();
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(timeline.filters(), TimelineFilters({F::apiCalls, F::prompts}));
}

TEST_F(DetailTimelineTest, ClearedHighlightFadesOutAndANewOneStopsTheFade) {
    DetailTimeline& t = timeline;
    t.setEvents(everyKind());
    auto strength = [&](int id) {
        return t.model()->index(t.model()->rowOfEvent(id)).data(TimelineModel::HighlightStrengthRole).toDouble();
    };
    t.setHighlightedEventId(3);
    EXPECT_EQ(strength(3), 1.0);
    t.clearHighlight(600);
    // The highlight is gone at once; only its tint lingers, weaker and weaker.
    EXPECT_FALSE(t.highlightedEventId());
    ASSERT_TRUE(test::waitFor([&] { return strength(3) > 0 && strength(3) < 0.9; }, 1000));
    EXPECT_TRUE(test::waitFor([&] { return strength(3) == 0; }, 2000));

    // A highlight set during a fade ends it: only the new row is tinted.
    t.setHighlightedEventId(4);
    t.clearHighlight(600);
    t.setHighlightedEventId(5);
    EXPECT_EQ(strength(4), 0.0);
    EXPECT_EQ(strength(5), 1.0);
    test::spin(700);
    EXPECT_EQ(strength(5), 1.0);
    EXPECT_EQ(t.highlightedEventId(), 5);
}

}  // namespace
}  // namespace vorel
