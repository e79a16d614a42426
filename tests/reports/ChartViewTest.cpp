#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include "ChartView.h"
#include "GuiTestSupport.h"
#include "InlineField.h"
#include "ReportControls.h"

using namespace vorel;
using namespace vorel::test;
using namespace std::chrono;

namespace {

// The chart over a real cost model at noon.
class ChartViewTest : public ModelTest {
protected:
    // A conversation whose reply came `minutesAgo` before noon (1000 output
    // tokens cost $0.025); files with a larger `order` count as newer.
    void conversation(const std::string& id, int outputTokens, int minutesAgo, int order) {
        claude(id, kNoon - minutes{minutesAgo}, order, outputTokens);
    }
    ChartView& shownChart() {
        if (!view) {
            view = std::make_unique<ChartView>(model());
            view->resize(700, 500);
        }
        showActive(*view);
        return *view;
    }
    static void pick(QComboBox* box, const QString& text) {
        int i = box->findText(text);
        ASSERT_GE(i, 0) << text.toStdString();
        box->setCurrentIndex(i);
    }
    static std::vector<std::string> shownIds(const ChartView& c) {
        std::vector<std::string> out;
        for (BarRow* r : c.shownRows()) out.push_back(r->bar().id);
        return out;
    }

    EnvVar group{"VOREL_CHART_GROUP", std::nullopt};
    std::unique_ptr<ChartView> view;
};

// --- What is shown --------------------------------------------------------

TEST_F(ChartViewTest, BarsShowByCostWithTheirAmountsAndTitles) {
    conversation("small", 1000, 30, 3);
    conversation("large", 4000, 20, 2);
    conversation("mid", 2000, 10, 1);
    ChartView& c = shownChart();
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:large", "claude-code:mid", "claude-code:small"}));
    BarRow* large = c.rowFor("claude-code:large");
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(large->amountLabel()->text(), "$0.10");
    EXPECT_EQ(large->nameField()->text().toStdString(), store.topic("claude-code:large", "Work on large"));
    EXPECT_DOUBLE_EQ(large->track()->totalFrac(), 1.0);
    EXPECT_DOUBLE_EQ(c.rowFor("claude-code:small")->track()->totalFrac(), 0.25);
    EXPECT_FALSE(large->badge()->isVisible());

    EXPECT_FALSE(c.emptyLabel()->isVisible());
    EXPECT_TRUE(c.legend()->isVisible());
    EXPECT_FALSE(c.splitNote()->isVisible());

    // The direction reverses the bars.
    pick(c.directionPicker(), "Ascending");
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:small", "claude-code:mid", "claude-code:large"}));
}

TEST_F(ChartViewTest, AnEmptyWindowShowsOnlyTheControlsAndTheNote) {
    // Last active yesterday: nothing in "Today".
    conversation("old", 1000, 24 * 60, 1);
    ChartView& c = shownChart();
    EXPECT_EQ(c.shownRows().size(), 1u);
    pick(c.rangeControls()->findChild<QComboBox*>(), "Today");
    EXPECT_TRUE(c.emptyLabel()->isVisible());
    EXPECT_EQ(c.emptyLabel()->text(), "No conversations to chart yet.");
    EXPECT_FALSE(c.legend()->isVisible());
    EXPECT_FALSE(c.scrollArea()->isVisible());
    EXPECT_TRUE(c.shownRows().empty());
}

TEST_F(ChartViewTest, GroupingByTagSwapsTheOrderPickerForTheSplitNoteAndShowsTagsAsTyped) {
    conversation("a", 2000, 10, 2);
    conversation("b", 1000, 20, 1);
    store.addTag("R&D <b>x</b>", "claude-code:a");
    store.setName("Tom & <i>Jerry</i>", "claude-code:a");
    ChartView& c = shownChart();
    pick(c.orderPicker(), "Name");
    EXPECT_TRUE(c.orderControl()->isVisible());

    pick(c.groupPicker(), "Tag");
    EXPECT_FALSE(c.orderControl()->isVisible());
    EXPECT_TRUE(c.splitNote()->isVisible());
    ASSERT_EQ(c.shownHeaders().size(), 2u);
    EXPECT_EQ(c.shownHeaders()[0]->tagLabel()->text(), "R&D <B>X</B>");
    EXPECT_EQ(c.shownHeaders()[0]->totalLabel()->text(), "$0.05");
    EXPECT_EQ(c.shownHeaders()[1]->tagLabel()->text(), "UNTAGGED");
    BarRow* row = c.rowFor("R&D <b>x</b>|claude-code:a");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->nameField()->text(), "Tom & <i>Jerry</i>");
    // What is drawn is the text itself: an ampersand is no mnemonic and the
    // tags are not markup.
    for (QLabel* l : c.findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();

    pick(c.groupPicker(), "None");
    EXPECT_TRUE(c.orderControl()->isVisible());
    EXPECT_EQ(c.orderPicker()->currentText(), "Name");
    EXPECT_EQ(c.options().sort, SortKey::name);
    EXPECT_FALSE(c.splitNote()->isVisible());
    EXPECT_TRUE(c.shownHeaders().empty());
}

TEST_F(ChartViewTest, SplitBarsCarryABadgeThatExplainsOnHover) {
    conversation("split", 3000, 10, 2);
    conversation("single", 1000, 20, 1);
    store.addTag("web", "claude-code:split");
    store.addTag("ops", "claude-code:split");
    store.addTag("web", "claude-code:single");
    ChartView& c = shownChart();
    pick(c.groupPicker(), "Tag");

    BarRow* web = c.rowFor("web|claude-code:split");
    BarRow* ops = c.rowFor("ops|claude-code:split");
    BarRow* single = c.rowFor("web|claude-code:single");
    ASSERT_TRUE(web && ops && single);
    EXPECT_TRUE(web->badge()->isVisible());
    EXPECT_TRUE(ops->badge()->isVisible());
    EXPECT_FALSE(single->badge()->isVisible());
    EXPECT_EQ(web->amountLabel()->text(), "$0.04");  // half of $0.075
    // The scale is the largest share: the split share and the single bar
    // are drawn against $0.0375.
    EXPECT_DOUBLE_EQ(web->track()->totalFrac(), 1.0);
    EXPECT_NEAR(single->track()->totalFrac(), 0.025 / 0.0375, 1e-9);

    SplitBadge* badge = web->badge();
    hover(badge);
    ASSERT_NE(badge->popover(), nullptr);
    EXPECT_TRUE(badge->popover()->isVisible());
    QLabel* note = badge->popover()->findChild<QLabel*>();
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "This conversation has 2 tags, so its cost is split evenly across them. This bar shows "
                            "only this tag's share.");
    // A tick leaves the note open.
    model().tick();
    EXPECT_TRUE(badge->popover()->isVisible());
    unhover(badge);
    EXPECT_FALSE(badge->popover()->isVisible());
    EXPECT_FALSE(badge->isHovered());
}

// --- Ticks and edits ------------------------------------------------------

TEST_F(ChartViewTest, ATickKeepsRowsFocusTextAndScroll) {
    for (int i = 0; i < 40; ++i) conversation("s" + std::to_string(i), 1000 + 100 * i, 10 + i, 100 - i);
    ChartView& c = shownChart();
    QScrollBar* bar = c.scrollArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 900);
    EXPECT_TRUE(bar->isVisible());
    bar->setValue(900);

    BarRow* row = c.shownRows().at(2);
    const std::string id = row->bar().id;
    InlineField* field = row->nameField();
    field->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(field->hasFocus());
    field->selectAll();
    QTest::keyClicks(field, "Half typed ");
    EXPECT_EQ(*store.byId().at(id).name, "Half typed");  // the store trims

    // The transcript grows: the next tick moves the conversation's cost.
    conversation(id.substr(std::string("claude-code:").size()), 8000, 1, 200);
    model().tick();

    EXPECT_EQ(c.rowFor(id), row);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(field->text(), "Half typed ");
    EXPECT_EQ(row->amountLabel()->text(), "$0.20");
    EXPECT_EQ(bar->value(), 900);
    // The biggest bar now: it moved to the top, out of view, and its field
    // still holds the edit.
    EXPECT_EQ(row->y(), 10);
    EXPECT_TRUE(row->isVisibleTo(&c));
}

TEST_F(ChartViewTest, RowsAreBuiltAsTheyScrollIntoViewAndKept) {
    for (int i = 0; i < 300; ++i) conversation("s" + std::to_string(i), 1000 + i, 10 + i, 1000 - i);
    ChartView& c = shownChart();
    const size_t built = c.builtRowCount();
    EXPECT_LT(built, 40u);
    EXPECT_GE(c.shownRows().size(), 500u / c.rowHeight());

    BarRow* first = c.shownRows().front();
    QScrollBar* bar = c.scrollArea()->verticalScrollBar();
    EXPECT_EQ(bar->maximum(), 300 * c.rowHeight() + 20 - c.scrollArea()->viewport()->height());
    bar->setValue(bar->maximum());
    ASSERT_NE(c.rowFor("claude-code:s0"), nullptr);  // the cheapest, at the bottom
    EXPECT_TRUE(c.rowFor("claude-code:s0")->isVisible());
    EXPECT_FALSE(first->isVisible());
    EXPECT_LT(c.builtRowCount(), 80u);

    // A tick updates in place: no row is built again.
    std::vector<BarRow*> before = c.shownRows();
    model().tick();
    EXPECT_EQ(c.shownRows(), before);
    bar->setValue(0);
    EXPECT_EQ(c.shownRows().front(), first);
}

TEST_F(ChartViewTest, ARowRenamedInANameOrderMovesWithItsFocus) {
    conversation("a", 1000, 10, 3);
    conversation("b", 1000, 20, 2);
    conversation("c", 1000, 30, 1);
    store.setName("Alpha", "claude-code:a");
    store.setName("Beta", "claude-code:b");
    store.setName("Gamma", "claude-code:c");
    ChartView& c = shownChart();
    pick(c.orderPicker(), "Name");
    pick(c.directionPicker(), "Ascending");
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:a", "claude-code:b", "claude-code:c"}));

    BarRow* row = c.rowFor("claude-code:a");
    row->nameField()->setFocus(Qt::MouseFocusReason);
    row->nameField()->selectAll();
    QTest::keyClicks(row->nameField(), "Zeta");
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:b", "claude-code:c", "claude-code:a"}));
    EXPECT_EQ(c.rowFor("claude-code:a"), row);
    EXPECT_TRUE(row->nameField()->hasFocus());
    EXPECT_EQ(row->nameField()->text(), "Zeta");
}

TEST_F(ChartViewTest, ClearingANameFallsBackToTheSuggestedName) {
    conversation("a", 1000, 10, 1);
    ChartView& c = shownChart();
    const std::string suggested = store.topic("claude-code:a", "");
    InlineField* field = c.rowFor("claude-code:a")->nameField();
    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    QTest::keyClicks(field, "Mine");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_FALSE(store.byId().at("claude-code:a").name.has_value());
    EXPECT_EQ(field->text(), "");  // left as typed while editing
    c.groupPicker()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(field->text().toStdString(), suggested);
}

TEST_F(ChartViewTest, RemovingATagRemovesItsRowsButNoOther) {
    conversation("a", 1000, 10, 2);
    conversation("b", 2000, 20, 1);
    store.addTag("web", "claude-code:a");
    store.addTag("web", "claude-code:b");
    store.addTag("ops", "claude-code:b");
    ChartView& c = shownChart();
    pick(c.groupPicker(), "Tag");
    BarRow* kept = c.rowFor("web|claude-code:a");
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(c.rowFor("ops|claude-code:b"), nullptr);

    store.removeTag("ops", "claude-code:b");  // the store publishes; the chart follows
    EXPECT_EQ(c.rowFor("ops|claude-code:b"), nullptr);
    EXPECT_EQ(c.rowFor("web|claude-code:a"), kept);
    EXPECT_FALSE(c.rowFor("web|claude-code:b")->badge()->isVisible());
    EXPECT_EQ(c.rowFor("web|claude-code:b")->amountLabel()->text(), "$0.05");
}

// --- The bar --------------------------------------------------------------

TEST(BarTrackGeometry, TodaysShareSitsAtTheBarsEndAndNoBarIsNarrowerThanTwoPixels) {
    BarTrack::Geometry g = BarTrack::geometry(400, 0.000001, 0);
    EXPECT_DOUBLE_EQ(g.total.width(), 2.0);
    EXPECT_TRUE(g.today.isEmpty());  // no cost today, no dark end
    EXPECT_EQ(g.total.height(), BarTrack::kHeight);

    g = BarTrack::geometry(400, 0.5, 0.125);
    EXPECT_DOUBLE_EQ(g.total.left(), 0.0);
    EXPECT_DOUBLE_EQ(g.total.width(), 200.0);
    EXPECT_DOUBLE_EQ(g.today.left(), 150.0);
    EXPECT_DOUBLE_EQ(g.today.right(), 200.0);

    // All of it today: dark over the whole length.
    g = BarTrack::geometry(400, 0.75, 0.75);
    EXPECT_EQ(g.today, g.total);

    // A sliver today still shows, and ends where the bar ends.
    g = BarTrack::geometry(400, 0.5, 0.0001);
    EXPECT_DOUBLE_EQ(g.today.width(), 2.0);
    EXPECT_DOUBLE_EQ(g.today.right(), g.total.right());

    // Fractions outside 0...1 are clamped.
    g = BarTrack::geometry(400, 3.0, -1.0);
    EXPECT_DOUBLE_EQ(g.total.width(), 400.0);
    EXPECT_TRUE(g.today.isEmpty());
}

}  // namespace
