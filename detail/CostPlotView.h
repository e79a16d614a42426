#pragma once
// One conversation's API-call costs as a plot, painted by a single widget:
// a mode picker, a plot box with a money axis and grid lines, an x axis with
// the unit switcher, and a legend with the item counts. As itemized costs
// every plot item is a stacked bar of its input, cached and output parts
// (a bar above the scale is cut with two stripes); as cumulative cost the
// running total is a filled area under a line. The pointer shows a tooltip
// card for the item under it; a click reports the item's first event id.
//
// The numbers come from CostPlotData, which is worked out again only when
// the events, the unit or the selected parts change; hovering repaints.

#include <QWidget>

class QScrollBar;
#include <optional>
#include <vector>

#include "detail/ConversationDetail.h"
#include "detail/CostPlotData.h"

namespace vorel {

class CostPlotView : public QWidget {
    Q_OBJECT
public:
    static constexpr double kTooltipWidth = 152;
    static constexpr double kPlotHeight = 140;

    explicit CostPlotView(QWidget* parent = nullptr);

    // The priced API calls, in timeline order. An equal list changes
    // nothing, so rebuilding the screen with the same calls keeps the plot
    // as it is.
    void setEvents(const std::vector<ConversationEvent>& costEvents);

    CostPlotMode mode() const { return mode_; }
    // Clears the hover; going to the cumulative plot selects all parts again.
    void setMode(CostPlotMode mode);
    CostUnit unit() const { return data_.unit(); }
    // Clears the hover.
    void setUnit(CostUnit unit);
    const CostPartSet& selectedParts() const { return data_.selectedParts(); }
    // What a tap on the part's legend chip does: removes a selected part
    // (all three come back when none would be left) or adds an unselected
    // one, then clears the hover.
    void togglePart(CostPart part);
    // The plot's own state back to its start values, as when it first comes
    // on screen: the unit the settings ask for, all parts, no hover. The
    // mode belongs to the screen and stays.
    void resetViewState();
    std::optional<int> hoveredId() const { return hoveredId_; }

    const CostPlotData& data() const { return data_; }
    // How many times the plot data has been worked out.
    int dataRevision() const { return dataRevision_; }

    // Where things are drawn, in widget coordinates.
    QRectF plotArea() const;
    QRectF modeSegmentRect(CostPlotMode mode) const;
    QRectF unitButtonRect(CostUnit unit) const;
    QRectF legendChipRect(CostPart part) const;
    // The hit area of the bar of item `index` (its frame, at least 1 high).
    QRectF barRect(size_t index) const;
    // The bar gap and width of the itemized plot: a gap of 3 (1 past 70
    // items) and bars of at least 3 while they fit; then narrower bars and
    // gaps, down to bars of 1 with no gap.
    double barGap() const;
    double barWidth() const;
    // The width of the whole row of bars. Only a row of more items than the
    // plot has pixels is wider than the plot; it then scrolls sideways
    // under a thin bar in the box's foot, starting at the newest items.
    double barsWidth() const;
    bool scrolls() const;
    QScrollBar* scrollBar() const { return hbar_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The id of the first event of the item the user clicked.
    void eventClicked(int eventId);
    // The mode picker chose another mode (also sent by setMode).
    void modeChanged(CostPlotMode mode);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct Layout;
    Layout layout() const;

    void setHovered(std::optional<int> id);
    // The hover again from where the pointer is now: the plot or its
    // content can move under a pointer that stays still.
    void recheckHover();
    void syncScrollBar();
    void styleScrollBar();
    std::optional<int> hoverAt(QPointF pos) const;
    std::optional<size_t> barAt(QPointF pos) const;

    // What a press or release lands on.
    struct Hit {
        enum Kind { none, modeSegment, unitButton, legendChip, bar, area } kind = none;
        size_t index{};
        bool operator==(const Hit&) const = default;
    };
    Hit hitAt(QPointF pos) const;

    void paintModePicker(QPainter& p, const Layout& l) const;
    void paintPlotBox(QPainter& p, const Layout& l) const;
    void paintAxes(QPainter& p, const Layout& l, double maxValue) const;
    void paintBars(QPainter& p, const QRectF& area) const;
    void paintCumulative(QPainter& p, const QRectF& area) const;
    void paintLegend(QPainter& p, const Layout& l) const;

    CostPlotData data_;
    CostPlotMode mode_ = CostPlotMode::cumulative;
    std::optional<int> hoveredId_;
    int dataRevision_{};
    QScrollBar* hbar_ = nullptr;
    double scroll_{};  // how far the row of bars is scrolled, in pixels

    // The press waiting for its release. Controls and bars act when the
    // release lands on what was pressed; a press in the cumulative area
    // reports the item nearest to wherever the drag ends.
    Hit pressed_;
};

}  // namespace vorel
