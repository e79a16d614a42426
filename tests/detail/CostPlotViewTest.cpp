// The cost plot widget: what a click reports, what the legend, mode and unit
// controls change in the drawing, and that the pointer only repaints.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <optional>
#include <vector>

#include "Appearance.h"
#include "CostPlotView.h"
#include "Theme.h"

namespace vorel {
namespace {

ConversationEvent call(int id, int turn, double fresh, double cache, double output) {
    ConversationEvent e;
    e.id = id;
    e.kind = ConversationEventKind::token;
    e.title = "API call";
    e.cost = fresh + cache + output;
    e.freshInputCost = fresh;
    e.cacheCost = cache;
    e.outputCost = output;
    e.turnIndex = turn;
    return e;
}

// Five calls in three turns (1, 1, 2, 2, 3), ids 10, 20, ... 50; each
// call's parts are one third of it.
std::vector<ConversationEvent> fiveCalls() {
    return {call(10, 1, 1, 1, 1), call(20, 1, 2, 2, 2), call(30, 2, 1, 1, 1), call(40, 2, 1, 1, 1),
            call(50, 3, 1, 1, 1)};
}

void send(QWidget& w, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent e(type, at, w.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}
void click(QWidget& w, QPointF at) {
    send(w, QEvent::MouseButtonPress, at);
    send(w, QEvent::MouseButtonRelease, at);
}
void move(QWidget& w, QPointF at) { send(w, QEvent::MouseMove, at); }

QColor pixel(QWidget& w, QPointF at) {
    QImage image(w.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    w.render(&image);
    return image.pixelColor(at.toPoint());
}

// Colours compared loosely: antialiasing and opacity blend edges.
bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 8 && std::abs(a.green() - b.green()) < 8 && std::abs(a.blue() - b.blue()) < 8;
}

class CostPlotViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Appearance::shared().setOverride(false);
        view.resize(520, view.sizeHint().height());
        view.setUnit(CostUnit::calls);
        view.setEvents(fiveCalls());
    }
    void TearDown() override { platform::Appearance::shared().setOverride(std::nullopt); }

    // The bottom middle of bar `index`, inside its lowest segment.
    QPointF barFoot(size_t index) const {
        const QRectF r = view.barRect(index);
        return {r.center().x(), r.bottom() - 2};
    }

    CostPlotView view;
};

// ---- Selection ------------------------------------------------------------

TEST_F(CostPlotViewTest, ClickReportsTheFirstEventOfTheClickedItem) {
    QSignalSpy clicked(&view, &CostPlotView::eventClicked);
    view.setMode(CostPlotMode::turns);

    click(view, barFoot(3));
    view.setUnit(CostUnit::turns);  // three bars: calls 10+20, 30+40, 50
    click(view, barFoot(1));
    click(view, view.barRect(0).center());

    ASSERT_EQ(clicked.count(), 3);
    EXPECT_EQ(clicked[0][0].toInt(), 40);
    EXPECT_EQ(clicked[1][0].toInt(), 30);  // the turn's first call, not its last
    EXPECT_EQ(clicked[2][0].toInt(), 10);
}

TEST_F(CostPlotViewTest, BarClickNeedsPressAndReleaseOnTheSameBar) {
    QSignalSpy clicked(&view, &CostPlotView::eventClicked);
    view.setMode(CostPlotMode::turns);

    send(view, QEvent::MouseButtonPress, barFoot(0));
    send(view, QEvent::MouseButtonRelease, barFoot(2));
    click(view, QPointF(view.barRect(4).right() + 1, view.barRect(4).bottom() - 2));  // the gap after a bar
    click(view, barFoot(0) + QPointF(0, -view.plotArea().height() + 4));            // above the bar

    EXPECT_EQ(clicked.count(), 0);
}

TEST_F(CostPlotViewTest, CumulativeClickOrDragReportsTheNearestItemWhereItEnds) {
    QSignalSpy clicked(&view, &CostPlotView::eventClicked);
    const QRectF area = view.plotArea();

    click(view, QPointF(area.left() + 1, area.top() + 5));  // anywhere in the area, not only on the line
    send(view, QEvent::MouseButtonPress, area.center());
    send(view, QEvent::MouseButtonRelease, QPointF(area.right() + 80, area.bottom() + 30));  // clamped to the last
    click(view, QPointF(area.center().x(), area.top() - 20));  // above the plot box: nothing

    ASSERT_EQ(clicked.count(), 2);
    EXPECT_EQ(clicked[0][0].toInt(), 10);
    EXPECT_EQ(clicked[1][0].toInt(), 50);
}

// ---- Legend ---------------------------------------------------------------

TEST_F(CostPlotViewTest, LegendTogglesChangeTheDrawnParts) {
    view.setMode(CostPlotMode::turns);
    const QPointF foot = barFoot(1);
    const double fullHeight = view.barRect(1).height();
    EXPECT_TRUE(near(pixel(view, foot), BrandColor::accent()));

    click(view, view.legendChipRect(CostPart::input).center());
    click(view, view.legendChipRect(CostPart::cached).center());

    EXPECT_EQ(view.selectedParts(), CostPartSet{CostPart::output});
    // Only output segments are left, on a scale of output values.
    EXPECT_TRUE(near(pixel(view, barFoot(1)), BrandColor::chartOutput()));
    EXPECT_DOUBLE_EQ(view.barRect(1).height(), fullHeight);  // the largest bar still fills the scale

    click(view, view.legendChipRect(CostPart::output).center());  // the only one: all come back
    EXPECT_EQ(view.selectedParts(), allCostParts());
    EXPECT_TRUE(near(pixel(view, foot), BrandColor::accent()));
}

TEST_F(CostPlotViewTest, LegendChipsOnlyActOnTheItemizedPlot) {
    click(view, view.legendChipRect(CostPart::output).center());
    EXPECT_EQ(view.selectedParts(), allCostParts());
}

// ---- Mode and unit --------------------------------------------------------

TEST_F(CostPlotViewTest, ModePickerSwitchesAndTheCumulativePlotCountsAllParts) {
    QSignalSpy modes(&view, &CostPlotView::modeChanged);
    click(view, view.modeSegmentRect(CostPlotMode::turns).center());
    ASSERT_EQ(view.mode(), CostPlotMode::turns);
    view.togglePart(CostPart::input);
    move(view, barFoot(2));
    ASSERT_EQ(view.hoveredId(), 30);

    click(view, view.modeSegmentRect(CostPlotMode::cumulative).center());

    EXPECT_EQ(view.mode(), CostPlotMode::cumulative);
    EXPECT_EQ(view.selectedParts(), allCostParts());
    EXPECT_EQ(view.hoveredId(), std::nullopt);
    ASSERT_EQ(modes.count(), 2);
    EXPECT_EQ(modes[0][0].value<CostPlotMode>(), CostPlotMode::turns);
    EXPECT_EQ(modes[1][0].value<CostPlotMode>(), CostPlotMode::cumulative);
}

TEST_F(CostPlotViewTest, UnitButtonsRegroupTheItemsAndClearTheHover) {
    view.setMode(CostPlotMode::turns);
    move(view, barFoot(0));
    ASSERT_EQ(view.hoveredId(), 10);
    const int revision = view.dataRevision();

    click(view, view.unitButtonRect(CostUnit::calls).center());  // already the unit: nothing
    EXPECT_EQ(view.dataRevision(), revision);
    EXPECT_EQ(view.hoveredId(), 10);

    click(view, view.unitButtonRect(CostUnit::turns).center());
    EXPECT_EQ(view.unit(), CostUnit::turns);
    EXPECT_EQ(view.data().items().size(), 3u);
    EXPECT_EQ(view.hoveredId(), std::nullopt);
}

// ---- Hover ----------------------------------------------------------------

TEST_F(CostPlotViewTest, HoverOnlyRepaints) {
    const int revision = view.dataRevision();
    const QRectF area = view.plotArea();

    move(view, QPointF(area.right() - 1, area.center().y()));
    EXPECT_EQ(view.hoveredId(), 50);
    move(view, QPointF(area.left() + 1, area.center().y()));
    EXPECT_EQ(view.hoveredId(), 10);
    pixel(view, area.center());  // drawing the tooltip reads the data too
    view.setMode(CostPlotMode::turns);
    move(view, barFoot(1));
    EXPECT_EQ(view.hoveredId(), 20);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view, &leave);
    EXPECT_EQ(view.hoveredId(), std::nullopt);

    view.setEvents(fiveCalls());  // the screen's rebuild with the same calls

    EXPECT_EQ(view.dataRevision(), revision);
}

TEST_F(CostPlotViewTest, HoveredBarStaysBrightAndTheOthersDim) {
    view.setMode(CostPlotMode::turns);
    const QColor accent = BrandColor::accent();
    move(view, barFoot(1));

    EXPECT_TRUE(near(pixel(view, barFoot(1)), accent));
    EXPECT_FALSE(near(pixel(view, barFoot(3)), accent));  // blended with the box at 0.42
}

// ---- Bars -----------------------------------------------------------------

TEST_F(CostPlotViewTest, AnOutlierIsCutWithStripesAndTheOthersKeepTheirScale) {
    std::vector<ConversationEvent> events;
    for (int i = 0; i < 9; ++i) events.push_back(call(i + 1, i + 1, 1, 0, 0));
    events.push_back(call(100, 10, 100, 0, 0));
    view.setEvents(events);
    view.setMode(CostPlotMode::turns);
    const QRectF area = view.plotArea();

    const QRectF outlier = view.barRect(9);
    EXPECT_DOUBLE_EQ(outlier.top(), area.top());
    EXPECT_NEAR(view.barRect(0).height(), area.height() / 1.06, 1e-9);
    EXPECT_TRUE(near(pixel(view, QPointF(outlier.center().x(), outlier.top() + 5)), BrandColor::bgSubtle()));
    EXPECT_TRUE(near(pixel(view, QPointF(outlier.center().x(), outlier.top() + 7)), BrandColor::accent()));
}

TEST_F(CostPlotViewTest, BarGapNarrowsPastSeventyItemsAndBarsStayThreeWide) {
    std::vector<ConversationEvent> events;
    for (int i = 0; i < 71; ++i) events.push_back(call(i, i + 1, 1, 0, 0));
    view.setMode(CostPlotMode::turns);

    view.setEvents(std::vector<ConversationEvent>(events.begin(), events.begin() + 70));
    EXPECT_EQ(view.barGap(), 3);
    view.setEvents(events);
    EXPECT_EQ(view.barGap(), 1);
    view.resize(200, view.height());
    EXPECT_EQ(view.barWidth(), 3);
}

TEST_F(CostPlotViewTest, AZeroBarKeepsAOnePointHitArea) {
    view.setEvents({call(1, 1, 1, 0, 0), call(2, 2, 0, 0, 1)});
    view.setMode(CostPlotMode::turns);
    view.togglePart(CostPart::input);
    view.togglePart(CostPart::cached);  // only output: the first bar is 0

    const QRectF zero = view.barRect(0);
    EXPECT_DOUBLE_EQ(zero.height(), 1);
    move(view, QPointF(zero.center().x(), zero.bottom() - 0.5));
    EXPECT_EQ(view.hoveredId(), 1);
}

TEST_F(CostPlotViewTest, NoEventsShowsTheEmptyBoxAndIgnoresThePlot) {
    QSignalSpy clicked(&view, &CostPlotView::eventClicked);
    const int fullHeight = view.sizeHint().height();
    view.setEvents({});

    EXPECT_EQ(view.sizeHint().height(), fullHeight - 59);  // the plot box shrinks to 120
    click(view, QPointF(view.width() / 2.0, 34 + 60));
    EXPECT_EQ(clicked.count(), 0);
}

}  // namespace
}  // namespace vorel
