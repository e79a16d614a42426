// The cost plot widget: what a click reports, what the legend, mode and unit
// controls change in the drawing, and that the pointer only repaints.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>

#include "detail/CostPlotView.h"
#include "platform/Appearance.h"
#include "shell/Theme.h"
#include "tests/detail/DetailTestSupport.h"
#include "tests/GuiTestSupport.h"

namespace vorel {
namespace {

using test::apiCall;

// Five calls in three turns (1, 1, 2, 2, 3), ids 10, 20, ... 50; each
// call's parts are one third of it.
std::vector<ConversationEvent> fiveCalls() {
    return {apiCall(10, 1, 1, 1, 1), apiCall(20, 1, 2, 2, 2), apiCall(30, 2, 1, 1, 1), apiCall(40, 2, 1, 1, 1),
            apiCall(50, 3, 1, 1, 1)};
}

void send(QWidget& w, QEvent::Type type, QPointF at) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, at, w.mapToGlobal(at), button, type == QEvent::MouseButtonPress ? button : Qt::NoButton,
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

TEST(CostPlotStart, AFreshPlotAndAResetTakeTheUnitTheSettingsAskFor) {
    for (auto [byTurns, asked, other] : {std::tuple(false, CostUnit::calls, CostUnit::turns),
                                         std::tuple(true, CostUnit::turns, CostUnit::calls)}) {
        test::ScopedSettings settings(Settings{.plotByTurns = byTurns});
        CostPlotView plot;
        EXPECT_EQ(plot.data().unit(), asked);
        plot.setUnit(other);
        plot.resetViewState();
        EXPECT_EQ(plot.data().unit(), asked);
    }
}

TEST_F(CostPlotViewTest, ClickReportsTheFirstEventOfTheItemPressedAndReleasedOn) {
    QSignalSpy clicked(&view, &CostPlotView::eventClicked);
    // Cumulative: anywhere in the area, not only on the line; a drag reports
    // where it ends, clamped to the last item; above the plot box, nothing.
    const QRectF area = view.plotArea();
    click(view, QPointF(area.left() + 1, area.top() + 5));
    send(view, QEvent::MouseButtonPress, area.center());
    send(view, QEvent::MouseButtonRelease, QPointF(area.right() + 80, area.bottom() + 30));
    click(view, QPointF(area.center().x(), area.top() - 20));

    // Itemized: nothing for a press and release on two bars, the gap after a
    // bar or above a bar.
    view.setMode(CostPlotMode::itemized);
    click(view, barFoot(3));
    send(view, QEvent::MouseButtonPress, barFoot(0));
    send(view, QEvent::MouseButtonRelease, barFoot(2));
    click(view, QPointF(view.barRect(4).right() + 1, view.barRect(4).bottom() - 2));
    click(view, barFoot(0) + QPointF(0, -view.plotArea().height() + 4));
    view.setUnit(CostUnit::turns);  // three bars: calls 10+20, 30+40, 50
    click(view, barFoot(1));        // the turn's first call, not its last
    click(view, view.barRect(0).center());

    // Without events, nowhere in either plot.
    view.setEvents({});
    click(view, QPointF(view.width() / 2.0, 34 + 60));
    view.setMode(CostPlotMode::cumulative);
    click(view, QPointF(view.width() / 2.0, 34 + 60));

    std::vector<int> ids;
    for (const QList<QVariant>& c : clicked) ids.push_back(c[0].toInt());
    EXPECT_EQ(ids, (std::vector<int>{10, 50, 40, 30, 10}));
}

TEST_F(CostPlotViewTest, LegendTogglesChangeTheDrawnPartsOfTheItemizedPlot) {
    click(view, view.legendChipRect(CostPart::output).center());  // the cumulative plot ignores the legend
    EXPECT_EQ(view.selectedParts(), allCostParts());
    view.setMode(CostPlotMode::itemized);
    const QPointF foot = barFoot(1);
    const double fullHeight = view.barRect(1).height();
    EXPECT_TRUE(near(pixel(view, foot), BrandColor::accent()));

    click(view, view.legendChipRect(CostPart::input).center());
    click(view, view.legendChipRect(CostPart::cached).center());

    // Only output segments are left, on a scale of output values.
    EXPECT_TRUE(near(pixel(view, barFoot(1)), BrandColor::chartOutput()));
    EXPECT_DOUBLE_EQ(view.barRect(1).height(), fullHeight);  // the largest bar still fills the scale

    click(view, view.legendChipRect(CostPart::output).center());  // the only one: all come back
    EXPECT_TRUE(near(pixel(view, foot), BrandColor::accent()));
}

TEST_F(CostPlotViewTest, PointerOnlyRepaintsAndTheModeAndUnitControlsClearTheHover) {
    QSignalSpy modes(&view, &CostPlotView::modeChanged);
    const int revision = view.dataRevision();
    const QRectF area = view.plotArea();
    move(view, QPointF(area.right() - 1, area.center().y()));
    EXPECT_EQ(view.hoveredId(), 50);
    move(view, QPointF(area.left() + 1, area.center().y()));
    EXPECT_EQ(view.hoveredId(), 10);
    pixel(view, area.center());  // drawing the tooltip reads the data too
    click(view, view.modeSegmentRect(CostPlotMode::itemized).center());
    ASSERT_EQ(view.mode(), CostPlotMode::itemized);
    move(view, barFoot(1));
    EXPECT_EQ(view.hoveredId(), 20);
    EXPECT_TRUE(near(pixel(view, barFoot(1)), BrandColor::accent()));
    EXPECT_FALSE(near(pixel(view, barFoot(3)), BrandColor::accent()));  // blended with the box at 0.42
    test::unhover(&view);
    EXPECT_EQ(view.hoveredId(), std::nullopt);
    view.setEvents(fiveCalls());  // the screen's rebuild with the same calls
    move(view, barFoot(0));
    click(view, view.unitButtonRect(CostUnit::calls).center());  // already the unit: nothing
    EXPECT_EQ(view.dataRevision(), revision);
    EXPECT_EQ(view.hoveredId(), 10);

    click(view, view.unitButtonRect(CostUnit::turns).center());
    EXPECT_EQ(view.data().items().size(), 3u);
    EXPECT_EQ(view.hoveredId(), std::nullopt);
    // The cumulative plot counts all parts again.
    view.togglePart(CostPart::input);
    move(view, barFoot(1));
    ASSERT_EQ(view.hoveredId(), 30);
    click(view, view.modeSegmentRect(CostPlotMode::cumulative).center());
    EXPECT_EQ(view.selectedParts(), allCostParts());
    EXPECT_EQ(view.hoveredId(), std::nullopt);
    EXPECT_EQ(modes.count(), 2);
}

TEST_F(CostPlotViewTest, AnOutlierIsCutWithStripesAndAZeroBarKeepsAOnePointHitArea) {
    std::vector<ConversationEvent> events;
    for (int i = 0; i < 9; ++i) events.push_back(apiCall(i + 1, i + 1, 1));
    events.push_back(apiCall(100, 10, 100));
    events.push_back(apiCall(200, 11, 0, 0, 1));
    view.setEvents(events);
    view.setMode(CostPlotMode::itemized);
    const QRectF area = view.plotArea();
    const QRectF outlier = view.barRect(9);
    EXPECT_DOUBLE_EQ(outlier.top(), area.top());
    EXPECT_NEAR(view.barRect(0).height(), area.height() / 1.06, 1e-9);  // the scale's headroom above the ceiling
    EXPECT_TRUE(near(pixel(view, QPointF(outlier.center().x(), outlier.top() + 5)), BrandColor::bgSubtle()));
    EXPECT_TRUE(near(pixel(view, QPointF(outlier.center().x(), outlier.top() + 7)), BrandColor::accent()));

    view.togglePart(CostPart::input);
    view.togglePart(CostPart::cached);  // only output: the first bars are 0
    const QRectF zero = view.barRect(0);
    EXPECT_DOUBLE_EQ(zero.height(), 1);
    move(view, QPointF(zero.center().x(), zero.bottom() - 0.5));
    EXPECT_EQ(view.hoveredId(), 1);
}

TEST_F(CostPlotViewTest, MoreItemsThanFitNarrowTheBarsThenScrollWithEveryItemReachable) {
    view.setMode(CostPlotMode::itemized);
    const QRectF area = view.plotArea();
    auto calls = [](int n) {
        std::vector<ConversationEvent> events;
        for (int i = 0; i < n; ++i) events.push_back(apiCall(i + 1, i + 1, 1 + i % 3));
        return events;
    };
    // Fewer items than the plot has pixels: every bar, the newest too, is in
    // the plot, narrower than 3 where needed, and the pointer finds it.
    for (int n : {70, 71, int(area.width()) / 2, int(area.width())}) {
        view.setEvents(calls(n));
        EXPECT_FALSE(view.scrolls()) << n;
        EXPECT_GE(view.barWidth(), 1.0) << n;
        EXPECT_LE(view.barRect(size_t(n - 1)).right(), area.right() + 1e-9) << n;
        move(view, barFoot(size_t(n - 1)));
        EXPECT_EQ(view.hoveredId(), n) << n;
        // Bars this thin take their gap too: along the row every pixel
        // finds a bar.
        if (view.barWidth() < 3 && view.barGap() > 0) {
            move(view, QPointF(view.barRect(0).right() + view.barGap() * 0.5, barFoot(0).y()));
            EXPECT_EQ(view.hoveredId(), 1) << n;
        }
        test::unhover(&view);
    }
    EXPECT_EQ(view.barGap(), 0);

    // More: bars of 1 that scroll, starting at the newest; scrolled to the
    // start the first is in view; the axis names the ordinals in view.
    const int n = int(area.width()) * 2;
    view.setEvents(calls(n));
    ASSERT_TRUE(view.scrolls());
    EXPECT_EQ(view.barWidth(), 1);
    EXPECT_FALSE(view.scrollBar()->isHidden());
    EXPECT_GE(view.scrollBar()->maximum(), view.barsWidth() - area.width());
    EXPECT_LE(view.barRect(size_t(n - 1)).right(), area.right() + 1e-9);
    move(view, barFoot(size_t(n - 1)));
    EXPECT_EQ(view.hoveredId(), n);
    // A bar scrolled out of the plot is neither drawn over the axis nor hit.
    move(view, QPointF(area.left() - 2, barFoot(0).y()));
    EXPECT_EQ(view.hoveredId(), std::nullopt);
    // New calls arriving keep the newest in view.
    view.setEvents(calls(n + 5));
    EXPECT_LE(view.barRect(size_t(n + 4)).right(), area.right() + 1e-9);
    view.scrollBar()->setValue(0);
    EXPECT_DOUBLE_EQ(view.barRect(0).left(), area.left());
    move(view, barFoot(0));
    EXPECT_EQ(view.hoveredId(), 1);
    // Straight from a bar onto the scroll bar below: the card and the
    // dimmed bars go.
    ASSERT_FALSE(view.scrollBar()->isHidden());
    test::hover(view.scrollBar());
    EXPECT_EQ(view.hoveredId(), std::nullopt);
    // The cumulative plot draws every call in its width and does not scroll.
    view.setMode(CostPlotMode::cumulative);
    EXPECT_TRUE(!view.scrolls() && view.scrollBar()->isHidden());
}

TEST_F(CostPlotViewTest, HoverEndsWhenThePlotMovesFromUnderAPointerThatStaysStill) {
    // The plot in a page that scrolls, as on the Details screen.
    QScrollArea scroll;
    scroll.setWidgetResizable(true);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    auto* plot = new CostPlotView;
    plot->setMinimumWidth(520);
    plot->setEvents(fiveCalls());
    plot->setMode(CostPlotMode::itemized);
    column->addWidget(plot);
    column->addSpacing(600);
    scroll.setWidget(page);
    scroll.resize(560, 320);
    test::showActive(scroll);
    test::settle();

    const QRectF bar = plot->barRect(1);
    QCursor::setPos(plot->mapToGlobal(QPointF(bar.center().x(), bar.bottom() - 2)).toPoint());
    ASSERT_TRUE(test::waitFor([&] { return plot->hoveredId() == 20; }, 2000));
    // The page scrolls by the wheel's worth under the still pointer: it is
    // over the legend now, and the card and the dimmed bars go.
    const int legend = int(plot->legendChipRect(CostPart::input).center().y() - (bar.bottom() - 2));
    scroll.verticalScrollBar()->setValue(legend);
    test::settle();
    EXPECT_EQ(plot->hoveredId(), std::nullopt);
    // Back under the pointer, the bar is hovered again by the next move.
    scroll.verticalScrollBar()->setValue(0);
    QCursor::setPos(plot->mapToGlobal(QPointF(bar.center().x() + 1, bar.bottom() - 2)).toPoint());
    ASSERT_TRUE(test::waitFor([&] { return plot->hoveredId() == 20; }, 2000));
    // Hidden under the pointer (its section closed): no leave comes either.
    plot->hide();
    EXPECT_EQ(plot->hoveredId(), std::nullopt);
    QCursor::setPos(QPoint(-100, -100));
}

}  // namespace
}  // namespace vorel
