#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include "platform/Appearance.h"
#include "reports/ChartView.h"
#include "reports/ReportControls.h"
#include "shell/InlineField.h"
#include "shell/MainWindow.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace vorel::test;
using namespace std::chrono;

namespace {

using Ids = std::vector<std::string>;

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
    static Ids shownIds(const ChartView& c) {
        Ids out;
        for (BarRow* r : c.shownRows()) out.push_back(r->bar().id);
        return out;
    }
    // Selects all of a name field and types `text` over it.
    static void retype(InlineField* field, const QString& text) {
        field->setFocus(Qt::MouseFocusReason);
        field->selectAll();
        QTest::keyClicks(field, text);
    }

    std::unique_ptr<ChartView> view;
};

TEST_F(ChartViewTest, BarsShowByCostWithTheirAmountsAndTitlesAndAnEmptyWindowOnlyTheNote) {
    conversation("small", 1000, 30, 3);
    conversation("large", 4000, 20, 2);
    conversation("mid", 2000, 10, 1);
    ChartView& c = shownChart();
    EXPECT_EQ(shownIds(c), (Ids{"claude-code:large", "claude-code:mid", "claude-code:small"}));
    BarRow* large = c.rowFor("claude-code:large");
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(large->amountLabel()->text(), "$0.10");
    EXPECT_EQ(large->nameField()->text().toStdString(), store.topic("claude-code:large", "Work on large"));
    EXPECT_DOUBLE_EQ(large->track()->totalFrac(), 1.0);
    EXPECT_DOUBLE_EQ(c.rowFor("claude-code:small")->track()->totalFrac(), 0.25);
    EXPECT_FALSE(c.emptyLabel()->isVisible());

    // The direction reverses the bars.
    pick(c.directionPicker(), "Ascending");
    EXPECT_EQ(shownIds(c), (Ids{"claude-code:small", "claude-code:mid", "claude-code:large"}));

    // A day later, "Today" holds none: only the controls and the note show.
    clock->advance(hours{24});
    pick(c.rangeControls()->findChild<QComboBox*>(), "Today");
    EXPECT_TRUE(c.emptyLabel()->isVisible());
    EXPECT_FALSE(c.scrollArea()->isVisible());
    EXPECT_TRUE(c.shownRows().empty());
}

TEST_F(ChartViewTest, GroupingByTagSwapsTheOrderPickerForTheSplitNoteAndShowsTagsAsTyped) {
    conversation("a", 2000, 10, 2);
    conversation("b", 1000, 20, 1);
    store.addTag("claude-code:a", "R&D <b>x</b>");
    store.setName("claude-code:a", "Tom & <i>Jerry</i>");
    ChartView& c = shownChart();
    pick(c.orderPicker(), "Name");

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
    // What is drawn is the text itself: an ampersand is no mnemonic and the tags are not markup.
    for (QLabel* l : c.findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();

    // Back to ungrouped, the order chosen before is kept.
    pick(c.groupPicker(), "None");
    EXPECT_TRUE(c.orderControl()->isVisible());
    EXPECT_EQ(c.options().sort, SortKey::name);
    EXPECT_TRUE(c.shownHeaders().empty());
}

TEST_F(ChartViewTest, OpensGroupedByTagOnlyWhenTheSettingsAskForIt) {
    conversation("a", 2000, 10, 1);
    EXPECT_EQ(shownChart().options().groupBy, GroupBy::none);
    view.reset();
    Settings byTag = Settings::current();
    byTag.chartGroupByTag = true;
    ScopedSettings settings(byTag);
    ChartView& c = shownChart();
    EXPECT_EQ(c.options().groupBy, GroupBy::tag);
    EXPECT_EQ(c.groupPicker()->currentText(), "Tag");
    EXPECT_TRUE(c.splitNote()->isVisible());
}

TEST_F(ChartViewTest, SplitBarsCarryABadgeThatExplainsOnHoverUntilATagIsRemoved) {
    conversation("split", 3000, 10, 2);
    conversation("single", 1000, 20, 1);
    store.addTag("claude-code:split", "web");
    store.addTag("claude-code:split", "ops");
    store.addTag("claude-code:single", "web");
    ChartView& c = shownChart();
    pick(c.groupPicker(), "Tag");

    BarRow* web = c.rowFor("web|claude-code:split");
    BarRow* single = c.rowFor("web|claude-code:single");
    ASSERT_TRUE(web && single && c.rowFor("ops|claude-code:split"));
    EXPECT_TRUE(c.rowFor("ops|claude-code:split")->badge()->isVisible());
    EXPECT_FALSE(single->badge()->isVisible());
    EXPECT_EQ(web->amountLabel()->text(), "$0.04");  // half of $0.075
    // The scale is the largest share: both bars are drawn against $0.0375.
    EXPECT_DOUBLE_EQ(web->track()->totalFrac(), 1.0);
    EXPECT_NEAR(single->track()->totalFrac(), 0.025 / 0.0375, 1e-9);

    SplitBadge* badge = web->badge();
    hover(badge);
    ASSERT_TRUE(badge->popover() && badge->popover()->isVisible());
    EXPECT_EQ(badge->popover()->findChild<QLabel*>()->text(),
              "This conversation has 2 tags, so its cost is split evenly across them. This bar shows only this tag's "
              "share.");
    // A tick leaves the note open.
    model().tick();
    EXPECT_TRUE(badge->popover()->isVisible());
    unhover(badge);
    EXPECT_FALSE(badge->popover()->isVisible());

    // Removing a tag removes its rows but no other: the rest are kept.
    store.removeTag("claude-code:split", "ops");  // the store publishes; the chart follows
    EXPECT_EQ(c.rowFor("ops|claude-code:split"), nullptr);
    EXPECT_EQ(c.rowFor("web|claude-code:split"), web);
    EXPECT_EQ(c.rowFor("web|claude-code:single"), single);
    EXPECT_FALSE(web->badge()->isVisible());
    EXPECT_NEAR(web->bar().value, 0.075, 1e-12);  // the whole cost again
}

TEST_F(ChartViewTest, TheSplitNoteGoesWhenTheListMovesFromUnderAPointerThatStaysStill) {
    for (int i = 0; i < 12; ++i) {
        const std::string id = "c" + std::to_string(i);
        conversation(id, 1000 + 100 * i, 10 + i, i);
        store.addTag("claude-code:" + id, "web");
        store.addTag("claude-code:" + id, "ops");
    }
    view = std::make_unique<ChartView>(model());
    view->resize(600, 420);
    ChartView& c = shownChart();
    pick(c.groupPicker(), "Tag");
    test::settle();
    QScrollBar* bar = c.scrollArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    std::vector<BarRow*> rows = c.shownRows();
    ASSERT_FALSE(rows.empty());
    SplitBadge* badge = rows.front()->badge();
    ASSERT_TRUE(badge->isVisible());
    const QPoint at = badge->mapToGlobal(badge->rect().center());
    QCursor::setPos(at);
    ASSERT_TRUE(test::waitFor([&] { return badge->isHovered(); }, 2000));
    ASSERT_TRUE(badge->popover() && badge->popover()->isVisible());
    // The wheel's worth of scrolling: the note does not stay behind.
    bar->setValue(bar->value() + 30);
    test::settle();
    EXPECT_FALSE(badge->isHovered());
    EXPECT_FALSE(badge->popover()->isVisible());
    // Nor after a resize that moves it away.
    bar->setValue(0);
    QCursor::setPos(at + QPoint(1, 0));
    ASSERT_TRUE(test::waitFor([&] { return badge->isHovered(); }, 2000));
    c.resize(600, 200);
    c.resize(600, 420);
    bar->setValue(bar->maximum());
    test::settle();
    EXPECT_FALSE(badge->popover()->isVisible());
    QCursor::setPos(QPoint(-100, -100));
}

TEST_F(ChartViewTest, RowsAreBuiltAsTheyScrollIntoViewAndATickKeepsThemWithFocusTextAndScroll) {
    for (int i = 0; i < 300; ++i) conversation("s" + std::to_string(i), 1000 + i, 10 + i, 1000 - i);
    ChartView& c = shownChart();
    EXPECT_LT(c.builtRowCount(), 40u);
    EXPECT_GE(c.shownRows().size(), 500u / c.rowHeight());
    QScrollBar* bar = c.scrollArea()->verticalScrollBar();
    EXPECT_EQ(bar->maximum(), 300 * c.rowHeight() + 20 - c.scrollArea()->viewport()->height());
    bar->setValue(900);

    BarRow* row = c.shownRows().at(2);
    const std::string id = row->bar().id;
    retype(row->nameField(), "Half typed ");
    EXPECT_EQ(*store.byId().at(id).name, "Half typed");  // the store trims
    // The transcript grows: the next tick makes it the biggest bar, at the
    // top, out of view; its field still holds the edit.
    conversation(id.substr(std::string("claude-code:").size()), 8000, 1, 2000);
    std::vector<BarRow*> before = c.shownRows();
    model().tick();
    EXPECT_EQ(c.rowFor(id), row);
    EXPECT_TRUE(row->nameField()->hasFocus());
    EXPECT_EQ(row->nameField()->text(), "Half typed ");
    EXPECT_EQ(row->amountLabel()->text(), "$0.20");
    EXPECT_EQ(bar->value(), 900);
    EXPECT_EQ(row->y(), 10);
    EXPECT_TRUE(row->isVisibleTo(&c));
    for (BarRow* r : before) EXPECT_EQ(c.rowFor(r->bar().id), r);  // updated in place, none built again

    bar->setValue(bar->maximum());
    ASSERT_NE(c.rowFor("claude-code:s0"), nullptr);  // the cheapest, at the bottom
    EXPECT_TRUE(c.rowFor("claude-code:s0")->isVisible());
    EXPECT_LT(c.builtRowCount(), 80u);
}

TEST_F(ChartViewTest, ARowRenamedInANameOrderMovesWithItsFocusAndAClearedNameFallsBack) {
    conversation("a", 1000, 10, 3);
    conversation("b", 1000, 20, 2);
    conversation("c", 1000, 30, 1);
    for (auto [id, name] : {std::pair{"a", "Alpha"}, {"b", "Beta"}, {"c", "Gamma"}})
        store.setName(std::string("claude-code:") + id, name);
    ChartView& c = shownChart();
    pick(c.orderPicker(), "Name");
    pick(c.directionPicker(), "Ascending");
    EXPECT_EQ(shownIds(c), (Ids{"claude-code:a", "claude-code:b", "claude-code:c"}));

    BarRow* row = c.rowFor("claude-code:a");
    retype(row->nameField(), "Zeta");
    EXPECT_EQ(shownIds(c), (Ids{"claude-code:b", "claude-code:c", "claude-code:a"}));
    EXPECT_EQ(c.rowFor("claude-code:a"), row);
    EXPECT_TRUE(row->nameField()->hasFocus());
    EXPECT_EQ(row->nameField()->text(), "Zeta");

    // Cleared, the name is removed; the suggested one shows once it is left.
    row->nameField()->selectAll();
    QTest::keyClick(row->nameField(), Qt::Key_Delete);
    const auto record = store.byId().find("claude-code:a");
    EXPECT_TRUE(record == store.byId().end() || !record->second.name);
    EXPECT_EQ(row->nameField()->text(), "");  // left as typed while editing
    c.groupPicker()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(row->nameField()->text().toStdString(), store.topic("claude-code:a", ""));
}

TEST(BarTrackGeometry, TodaysShareSitsAtTheBarsEndAndNoBarIsNarrowerThanTwoPixels) {
    const double h = BarTrack::kHeight;
    EXPECT_EQ(BarTrack::geometry(400, 0.000001, 0).total, QRectF(0, 0, 2, h));
    EXPECT_TRUE(BarTrack::geometry(400, 0.000001, 0).today.isEmpty());  // no cost today, no dark end
    EXPECT_EQ(BarTrack::geometry(400, 0.5, 0.125).today, QRectF(150, 0, 50, h));  // a share of the whole track
    EXPECT_EQ(BarTrack::geometry(400, 0.5, 0.0001).today, QRectF(198, 0, 2, h));  // a sliver still shows
    EXPECT_EQ(BarTrack::geometry(400, 3.0, -1.0).total, QRectF(0, 0, 400, h));  // clamped to 0...1
    EXPECT_TRUE(BarTrack::geometry(400, 3.0, -1.0).today.isEmpty());
}

TEST_F(ChartViewTest, TheLegendNamesTheLighterAndTheDarkerPartOfABarAsTheyAreDrawnInEitherAppearance) {
    // A quarter of the cost today, the rest yesterday.
    put("claude/p/split.jsonl",
        claudeUser("Work on split") + claudeReply("y", 3000, isoUtc(kNoon - hours{24})) +
            claudeReply("t", 1000, isoUtc(kNoon - hours{1})),
        1);
    for (bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        platform::Appearance::shared().setOverride(dark);
        ChartView& c = shownChart();
        BarRow* row = c.rowFor("claude-code:split");
        ASSERT_NE(row, nullptr);
        BarTrack* track = row->track();
        ASSERT_NEAR(track->todayFrac(), 0.25, 1e-9);
        // The track as it shows on the page.
        const QImage shot = c.grab(QRect(track->mapTo(&c, QPoint(0, 0)), track->size())).toImage();
        const int mid = shot.height() / 2;
        const QColor earlier = shot.pixelColor(shot.width() / 4, mid);
        const QColor today = shot.pixelColor(shot.width() * 7 / 8, mid);
        ASSERT_NE(earlier.lightness(), today.lightness());
        const bool earlierLighter = earlier.lightness() > today.lightness();
        const QString key = c.legendLabel()->text();
        EXPECT_EQ(key, earlierLighter ? QString::fromUtf8("lighter = earlier \u00B7 darker = spent today")
                                      : QString::fromUtf8("darker = earlier \u00B7 lighter = spent today"));
    }
}

TEST_F(ChartViewTest, LaysOutInTheMainWindowsNarrowestContentColumnGroupedOrNot) {
    conversation("a-conversation-with-a-rather-long-name-that-goes-on", 1000, 30, 1);
    store.addTag("claude-code:a-conversation-with-a-rather-long-name-that-goes-on", "frontend");
    store.addTag("claude-code:a-conversation-with-a-rather-long-name-that-goes-on", "backend");
    const std::string longTag = "customer-escalations-for-the-billing-and-payments-platform-q3-review";
    store.addTag("claude-code:a-conversation-with-a-rather-long-name-that-goes-on", longTag);
    ChartView& c = shownChart();
    // Then opening the section never widens the window.
    for (const char* grouping : {"None", "Tag"}) {
        pick(c.groupPicker(), grouping);
        test::settle();
        EXPECT_LE(c.minimumWidth(), MainWindow::kNarrowestScreen) << grouping;
        EXPECT_LE(c.minimumSizeHint().width(), MainWindow::kNarrowestScreen) << grouping;
    }
    // A tag too long for its header ends in "…", like a name too long for
    // its field.
    c.resize(MainWindow::kNarrowestScreen, 500);
    test::settle();
    int cut = 0;
    for (TagHeader* h : c.shownHeaders()) {
        if (h->tagText() != QString::fromStdString(longTag).toUpper()) continue;
        const QString shown = h->tagLabel()->text();
        EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        EXPECT_TRUE(h->tagText().startsWith(shown.chopped(1)));
        EXPECT_LE(h->tagLabel()->fontMetrics().horizontalAdvance(shown), h->tagLabel()->width());
        ++cut;
    }
    EXPECT_EQ(cut, 1);
}

TEST_F(ChartViewTest, EveryControlIsWholeAtTheNarrowestColumnWithTheCustomDates) {
    conversation("a", 1000, 30, 1);
    ChartView& c = shownChart();
    pick(c.rangeControls()->findChild<QComboBox*>(), "Custom");
    for (int width : {MainWindow::kNarrowestScreen, MainWindow::kDefaultSize.width() - MainWindow::kSidebarWidth}) {
        SCOPED_TRACE(width);
        c.resize(width, 500);
        test::settle();
        // Each control is as wide as it asks and lies inside the screen,
        // none over another: the date fields show their last digit and their
        // calendar buttons.
        std::vector<QRect> taken;
        QList<QWidget*> controls;
        for (QDateEdit* d : c.findChildren<QDateEdit*>()) controls << d;
        for (QComboBox* b : c.findChildren<QComboBox*>()) controls << b;
        ASSERT_EQ(controls.size(), 2 + 4);
        for (QWidget* w : controls) {
            if (!w->isVisibleTo(&c)) continue;
            EXPECT_GE(w->width(), w->sizeHint().width()) << w->metaObject()->className();
            const QRect r(w->mapTo(&c, QPoint(0, 0)), w->size());
            EXPECT_TRUE(c.rect().contains(r)) << w->metaObject()->className();
            for (const QRect& other : taken) EXPECT_FALSE(other.intersects(r));
            taken.push_back(r);
        }
        EXPECT_GE(taken.size(), 5u);
        for (QDateEdit* d : c.findChildren<QDateEdit*>()) {
            EXPECT_GE(d->width(), d->fontMetrics().horizontalAdvance(d->text()) + 16) << d->text().toStdString();
        }
    }
}

}  // namespace
