#include "detail/CostPlotView.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "engine/Settings.h"
#include "platform/Appearance.h"
#include "shell/Formatting.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr double kPickerWidth = 260;
constexpr double kPickerHeight = 24;
constexpr double kSpacing = 10;     // between picker, plot box and legend
constexpr double kBoxPadding = 10;  // inside the plot box
constexpr double kYAxisWidth = 54;
constexpr double kAxisGap = 8;      // y axis to plot area
constexpr double kXAxisGap = 5;     // plot area to x axis
constexpr double kXAxisHeight = 14;
constexpr double kEmptyBoxHeight = 120;
constexpr double kLegendHeight = 20;
constexpr double kDimmed = 0.42;
constexpr double kScrollBarHeight = 6;  // in the box's padding below the x axis
constexpr double kWheelStep = 40;       // pixels per notch of a sideways wheel

// The bars' gap and width in a plot `w` wide: a gap of 3 (1 past 70 items)
// and bars of at least 3. Where that would not fit, the gaps shrink to 1
// and the bars below 3, then the gaps go and the bars keep 1 each. Only
// more items than the plot has pixels make the row wider than the plot.
struct BarMetrics {
    double gap;
    double width;
};

BarMetrics barMetrics(size_t n, double w) {
    const double k = double(std::max<size_t>(n, 1));
    double gap = n > 70 ? 1 : 3;
    double width = (w - gap * (k - 1)) / k;
    if (width >= 3) return {gap, width};
    gap = 1;
    width = (w - gap * (k - 1)) / k;
    if (width >= 1) return {gap, width};
    return {0, std::max(w / k, 1.0)};
}

QColor partColor(CostPart part) {
    switch (part) {
        case CostPart::input: return BrandColor::accent();
        case CostPart::cached: return BrandColor::chartCached();
        case CostPart::output: return BrandColor::chartOutput();
    }
    return BrandColor::accent();
}

double partValue(const PlotItem& item, CostPart part) {
    switch (part) {
        case CostPart::input: return item.fresh;
        case CostPart::cached: return item.cache;
        case CostPart::output: return item.output;
    }
    return 0;
}

QString plural(long long n, const char* word) {
    return QString::asprintf("%lld %s%s", n, word, n == 1 ? "" : "s");
}

double textWidth(const QFont& f, const QString& s) { return QFontMetricsF(f).horizontalAdvance(s); }

QFont unitFont(bool current) { return BrandFont::sans(10, current ? QFont::DemiBold : QFont::Normal); }

void fillRounded(QPainter& p, const QRectF& r, double radius, const QColor& c) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    p.fillPath(path, c);
}

// The lines of a tooltip card, measured before they are drawn.
struct TipLine {
    enum Kind { header, note, row, rule } kind = row;
    QString label;
    double value{};
    std::optional<QColor> swatch;
    bool strong{};
    double opacity = 1;
    bool offScale{};

    static TipLine heading(QString text, bool offScale = false) {
        TipLine l;
        l.kind = header;
        l.label = std::move(text);
        l.offScale = offScale;
        return l;
    }
    static TipLine smallNote(QString text) {
        TipLine l;
        l.kind = note;
        l.label = std::move(text);
        return l;
    }
    static TipLine amount(QString text, double value, std::optional<QColor> swatch = std::nullopt,
                          bool strong = false, double opacity = 1) {
        TipLine l;
        l.label = std::move(text);
        l.value = value;
        l.swatch = swatch;
        l.strong = strong;
        l.opacity = opacity;
        return l;
    }
    static TipLine line() {
        TipLine l;
        l.kind = rule;
        return l;
    }
};

double lineHeight(const TipLine& line) {
    switch (line.kind) {
        case TipLine::header: return QFontMetricsF(BrandFont::sans(11, QFont::DemiBold)).height();
        case TipLine::note: return QFontMetricsF(BrandFont::sans(9)).height();
        case TipLine::row: return std::max(8.0, QFontMetricsF(BrandFont::sans(10)).height());
        case TipLine::rule: return 1;
    }
    return 0;
}

double cardHeight(const std::vector<TipLine>& lines) {
    double h = 16 + 5 * double(lines.size() - 1);
    for (const TipLine& line : lines) h += lineHeight(line);
    return h;
}

void paintCard(QPainter& p, QPointF topLeft, const std::vector<TipLine>& lines) {
    const QRectF card(topLeft, QSizeF(CostPlotView::kTooltipWidth, cardHeight(lines)));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // A soft shadow below the card: stacked rounded rectangles, each a
    // little wider and fainter.
    for (int i = 0; i < 5; ++i) {
        const double grow = 1.8 * i;
        fillRounded(p, card.translated(0, 3).adjusted(-grow, -grow, grow, grow), 6 + grow,
                    QColor(0, 0, 0, int(255 * 0.14 / 5)));
    }
    QPainterPath shape;
    shape.addRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.fillPath(shape, BrandColor::bgElevated());
    p.setPen(QPen(BrandColor::border(), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);

    const double left = card.left() + 9, right = card.right() - 9;
    double y = card.top() + 8;
    for (const TipLine& line : lines) {
        const double h = lineHeight(line);
        p.setOpacity(line.opacity);
        switch (line.kind) {
            case TipLine::header: {
                const QFont f = BrandFont::sans(11, QFont::DemiBold);
                p.setFont(f);
                p.setPen(BrandColor::text());
                const double w = textWidth(f, line.label);
                p.drawText(QRectF(left, y, w + 1, h), Qt::AlignLeft | Qt::AlignVCenter, line.label);
                if (line.offScale) {
                    const QFont bf = BrandFont::sans(9, QFont::Medium);
                    const QString badge = QStringLiteral("off scale");
                    const double bh = QFontMetricsF(bf).height() + 2;
                    const QRectF pill(left + w + 6, y + (h - bh) / 2, textWidth(bf, badge) + 8, bh);
                    fillRounded(p, pill, bh / 2, BrandColor::accentFaint());
                    p.setFont(bf);
                    p.setPen(BrandColor::warn());
                    p.drawText(pill, Qt::AlignCenter, badge);
                }
                break;
            }
            case TipLine::note:
                p.setFont(BrandFont::sans(9));
                p.setPen(BrandColor::textFaint());
                p.drawText(QRectF(left, y, right - left, h), Qt::AlignLeft | Qt::AlignVCenter, line.label);
                break;
            case TipLine::row: {
                double x = left;
                if (line.swatch) {
                    fillRounded(p, QRectF(x, y + (h - 8) / 2, 8, 8), 2, *line.swatch);
                    x += 8 + 6;
                }
                p.setFont(BrandFont::sans(10));
                p.setPen(BrandColor::textMuted());
                p.drawText(QRectF(x, y, right - x, h), Qt::AlignLeft | Qt::AlignVCenter, line.label);
                p.setFont(BrandFont::sansMonospacedDigits(10, line.strong ? QFont::DemiBold : QFont::Normal));
                p.setPen(line.strong ? BrandColor::text() : BrandColor::textMuted());
                p.drawText(QRectF(x, y, right - x, h), Qt::AlignRight | Qt::AlignVCenter,
                           qs(CostPlotData::axisMoney(line.value)));
                break;
            }
            case TipLine::rule:
                p.fillRect(QRectF(left, y, right - left, 1), BrandColor::border());
                break;
        }
        y += h + 5;
    }
    p.restore();
}

}  // namespace

struct CostPlotView::Layout {
    QRectF picker;
    QRectF segments[2];
    QRectF box;
    QRectF yAxis;
    QRectF plot;
    QRectF xAxis;
    QRectF first, last, dot;
    QString firstText, lastText;
    QRectF units[2];
    QRectF chips[3];
    QRectF totalSwatch;
    QRectF count;
    bool empty = true;
};

CostPlotView::CostPlotView(QWidget* parent) : QWidget(parent), data_({}, initialCostUnit(Settings::current())) {
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    hbar_ = new QScrollBar(Qt::Horizontal, this);
    hbar_->setObjectName(QStringLiteral("plotScrollBar"));
    hbar_->setFocusPolicy(Qt::NoFocus);
    hbar_->hide();
    // The pointer moving from a bar straight onto the scroll bar leaves the
    // plot for a child of it: the plot gets no leave, only this enter.
    hbar_->installEventFilter(this);
    connect(hbar_, &QScrollBar::valueChanged, this, [this](int value) {
        scroll_ = value;
        update();
        recheckHover();
    });
    styleScrollBar();
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, [this] {
        styleScrollBar();
        update();
    });
}

void CostPlotView::styleScrollBar() {
    hbar_->setStyleSheet(
        QStringLiteral("QScrollBar:horizontal { height: %1px; background: transparent; border: none; margin: 0; }"
                       "QScrollBar::handle:horizontal { background: %2; border-radius: %3px; min-width: 24px; }"
                       "QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; border: none; }"
                       "QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: none; }")
            .arg(int(kScrollBarHeight))
            .arg(BrandColor::css(BrandColor::border()))
            .arg(int(kScrollBarHeight / 2)));
}

void CostPlotView::setEvents(const std::vector<ConversationEvent>& costEvents) {
    if (costEvents == data_.events()) return;
    const bool wasEmpty = data_.events().empty();
    data_.setEvents(costEvents);
    ++dataRevision_;
    if (wasEmpty != costEvents.empty()) updateGeometry();
    syncScrollBar();
    update();
    // The bars moved or changed under a pointer that stayed.
    recheckHover();
}

void CostPlotView::setMode(CostPlotMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    hoveredId_.reset();
    if (mode == CostPlotMode::cumulative && data_.selectedParts() != allCostParts()) {
        data_.setSelectedParts(allCostParts());
        ++dataRevision_;
    }
    syncScrollBar();
    update();
    emit modeChanged(mode);
}

void CostPlotView::setUnit(CostUnit unit) {
    if (unit == data_.unit()) return;
    data_.setUnit(unit);
    ++dataRevision_;
    hoveredId_.reset();
    syncScrollBar();
    update();
}

void CostPlotView::togglePart(CostPart part) {
    CostPartSet parts = data_.selectedParts();
    if (parts.count(part)) {
        parts.erase(part);
        if (parts.empty()) parts = allCostParts();
    } else {
        parts.insert(part);
    }
    data_.setSelectedParts(parts);
    ++dataRevision_;
    hoveredId_.reset();
    update();
}

void CostPlotView::resetViewState() {
    if (data_.unit() != initialCostUnit(Settings::current()) || data_.selectedParts() != allCostParts()) {
        data_.setUnit(initialCostUnit(Settings::current()));
        data_.setSelectedParts(allCostParts());
        ++dataRevision_;
    }
    hoveredId_.reset();
    hbar_->setValue(hbar_->maximum());
    syncScrollBar();
    update();
}

CostPlotView::Layout CostPlotView::layout() const {
    Layout l;
    const double w = width();
    l.empty = data_.events().empty();
    l.picker = QRectF(std::max(0.0, w - kPickerWidth), 0, kPickerWidth, kPickerHeight);
    l.segments[0] = QRectF(l.picker.left(), 0, kPickerWidth / 2, kPickerHeight);
    l.segments[1] = l.segments[0].translated(kPickerWidth / 2, 0);

    const double top = kPickerHeight + kSpacing;
    const double boxHeight = l.empty ? kEmptyBoxHeight : 2 * kBoxPadding + kPlotHeight + kXAxisGap + kXAxisHeight;
    l.box = QRectF(0, top, w, boxHeight);
    l.yAxis = QRectF(kBoxPadding, top + kBoxPadding, kYAxisWidth, kPlotHeight);
    const double plotLeft = l.yAxis.right() + kAxisGap;
    l.plot = QRectF(plotLeft, l.yAxis.top(), std::max(1.0, w - kBoxPadding - plotLeft), kPlotHeight);
    l.xAxis = QRectF(plotLeft, l.plot.bottom() + kXAxisGap, l.plot.width(), kXAxisHeight);

    // x axis: "1", the unit switcher centred in the room between, the count.
    // A row of bars that scrolls gives the first and last ordinal in view.
    const QFont axis = BrandFont::sans(10);
    const size_t n = data_.items().size();
    size_t firstShown = 1, lastShown = n;
    if (mode_ == CostPlotMode::itemized && scrolls() && n > 0) {
        const BarMetrics bars = barMetrics(n, l.plot.width());
        const double step = bars.width + bars.gap;
        firstShown = std::min(n, size_t(std::max(0.0, std::floor(scroll_ / step))) + 1);
        lastShown = std::min(n, size_t(std::max(0.0, std::ceil((scroll_ + l.plot.width()) / step))));
    }
    l.firstText = QString::number(static_cast<qulonglong>(firstShown));
    l.lastText = QString::number(static_cast<qulonglong>(lastShown));
    l.first = QRectF(l.xAxis.left(), l.xAxis.top(), textWidth(axis, l.firstText), kXAxisHeight);
    const double lastWidth = textWidth(axis, l.lastText);
    l.last = QRectF(l.xAxis.right() - lastWidth, l.xAxis.top(), lastWidth, kXAxisHeight);
    const double callsWidth = textWidth(unitFont(unit() == CostUnit::calls), qs(rawValue(CostUnit::calls)));
    const double turnsWidth = textWidth(unitFont(unit() == CostUnit::turns), qs(rawValue(CostUnit::turns)));
    const double dotWidth = textWidth(axis, QStringLiteral("\u00B7"));
    const double switcher = callsWidth + 6 + dotWidth + 6 + turnsWidth;
    double x = l.first.right() + (l.last.left() - l.first.right() - switcher) / 2;
    l.units[0] = QRectF(x, l.xAxis.top(), callsWidth, kXAxisHeight);
    l.dot = QRectF(l.units[0].right() + 6, l.xAxis.top(), dotWidth, kXAxisHeight);
    l.units[1] = QRectF(l.dot.right() + 6, l.xAxis.top(), turnsWidth, kXAxisHeight);

    // Legend: the part chips (or the total swatch), then the count.
    const double legendTop = l.box.bottom() + kSpacing;
    const QFont legend = BrandFont::sans(11);
    x = 0;
    for (size_t i = 0; i < 3; ++i) {
        const double chipWidth = 5 + 12 + 5 + textWidth(legend, qs(rawValue(allCostPartsInOrder[i]))) + 5;
        l.chips[i] = QRectF(x, legendTop, chipWidth, kLegendHeight);
        x += chipWidth + 12;
    }
    l.totalSwatch = QRectF(0, legendTop, 12 + 5 + textWidth(legend, QStringLiteral("Total cost")), kLegendHeight);
    l.count = QRectF(0, legendTop, w, kLegendHeight);
    return l;
}

QSize CostPlotView::sizeHint() const {
    const double box = data_.events().empty() ? kEmptyBoxHeight
                                              : 2 * kBoxPadding + kPlotHeight + kXAxisGap + kXAxisHeight;
    return QSize(560, int(std::ceil(kPickerHeight + kSpacing + box + kSpacing + kLegendHeight)));
}

QSize CostPlotView::minimumSizeHint() const { return QSize(int(kPickerWidth), sizeHint().height()); }

QRectF CostPlotView::plotArea() const { return layout().plot; }
QRectF CostPlotView::modeSegmentRect(CostPlotMode mode) const {
    return layout().segments[mode == CostPlotMode::cumulative ? 0 : 1];
}
QRectF CostPlotView::unitButtonRect(CostUnit unit) const { return layout().units[unit == CostUnit::calls ? 0 : 1]; }
QRectF CostPlotView::legendChipRect(CostPart part) const {
    return layout().chips[size_t(std::find(std::begin(allCostPartsInOrder), std::end(allCostPartsInOrder), part) -
                                 std::begin(allCostPartsInOrder))];
}

double CostPlotView::barGap() const { return barMetrics(data_.items().size(), plotArea().width()).gap; }

double CostPlotView::barWidth() const { return barMetrics(data_.items().size(), plotArea().width()).width; }

double CostPlotView::barsWidth() const {
    const size_t n = data_.items().size();
    const BarMetrics bars = barMetrics(n, plotArea().width());
    return n == 0 ? 0 : double(n) * bars.width + double(n - 1) * bars.gap;
}

bool CostPlotView::scrolls() const { return hbar_->maximum() > 0; }

void CostPlotView::syncScrollBar() {
    const Layout l = layout();
    const double overflow = mode_ == CostPlotMode::itemized && !l.empty ? barsWidth() - l.plot.width() : 0;
    const int maximum = overflow > 0.5 ? int(std::ceil(overflow)) : 0;
    // Scrolled to the newest bars, the row stays there as calls arrive.
    const bool atEnd = hbar_->value() >= hbar_->maximum();
    {
        const QSignalBlocker block(hbar_);
        hbar_->setRange(0, maximum);
        hbar_->setPageStep(std::max(1, int(l.plot.width())));
        hbar_->setSingleStep(int(kWheelStep));
        if (atEnd) hbar_->setValue(maximum);
    }
    scroll_ = hbar_->value();
    hbar_->setGeometry(QRectF(l.plot.left(), l.xAxis.bottom() + (kBoxPadding - kScrollBarHeight) / 2, l.plot.width(),
                              kScrollBarHeight)
                           .toRect());
    hbar_->setVisible(maximum > 0);
}

QRectF CostPlotView::barRect(size_t index) const {
    const QRectF area = plotArea();
    const auto& items = data_.items();
    if (index >= items.size()) return {};
    const double scale = data_.turnScaleMax();
    double stacked = 0;
    for (CostPart part : allCostPartsInOrder) stacked += area.height() * data_.drawnValue(items[index], part) / scale;
    const double h = std::max(std::min(area.height(), stacked), 1.0);
    const BarMetrics bars = barMetrics(items.size(), area.width());
    return QRectF(area.left() + double(index) * (bars.width + bars.gap) - scroll_, area.bottom() - h, bars.width, h);
}

// ---- Pointer ---------------------------------------------------------------

std::optional<size_t> CostPlotView::barAt(QPointF pos) const {
    const Layout l = layout();
    if (l.empty || !l.box.contains(pos)) return std::nullopt;  // the box clips the bars
    // Bars scrolled out of the plot are clipped too.
    if (pos.x() < l.plot.left() || pos.x() > l.plot.right()) return std::nullopt;
    const BarMetrics bars = barMetrics(data_.items().size(), l.plot.width());
    const double step = bars.width + bars.gap;
    const double offset = pos.x() - l.plot.left() + scroll_;
    if (offset < 0) return std::nullopt;
    const auto index = size_t(offset / step);
    if (index >= data_.items().size()) return std::nullopt;
    QRectF hit = barRect(index);
    // Bars narrowed below 3 px take the gap after them as well, or a
    // pointer moving along the row would find nothing every other pixel.
    if (bars.width < 3) hit.setWidth(step);
    if (!hit.contains(pos)) return std::nullopt;
    return index;
}

std::optional<int> CostPlotView::hoverAt(QPointF pos) const {
    if (mode_ == CostPlotMode::itemized) {
        if (auto index = barAt(pos)) return data_.items()[*index].id;
        return std::nullopt;
    }
    const Layout l = layout();
    if (l.empty || !l.plot.contains(pos)) return std::nullopt;
    return data_.nearestEventId(pos.x() - l.plot.left(), l.plot.width());
}

CostPlotView::Hit CostPlotView::hitAt(QPointF pos) const {
    const Layout l = layout();
    for (size_t i = 0; i < 2; ++i)
        if (l.segments[i].contains(pos)) return {Hit::modeSegment, i};
    if (!l.empty) {
        for (size_t i = 0; i < 2; ++i)
            if (l.units[i].contains(pos)) return {Hit::unitButton, i};
    }
    if (mode_ == CostPlotMode::itemized) {
        for (size_t i = 0; i < 3; ++i)
            if (l.chips[i].contains(pos)) return {Hit::legendChip, i};
        if (auto index = barAt(pos)) return {Hit::bar, *index};
    } else if (!l.empty && l.plot.contains(pos)) {
        return {Hit::area, 0};
    }
    return {};
}

void CostPlotView::setHovered(std::optional<int> id) {
    if (id == hoveredId_) return;
    hoveredId_ = id;
    update();
}

void CostPlotView::mouseMoveEvent(QMouseEvent* e) {
    setHovered(hoverAt(e->position()));
    QWidget::mouseMoveEvent(e);
}

void CostPlotView::leaveEvent(QEvent* e) {
    setHovered(std::nullopt);
    QWidget::leaveEvent(e);
}

void CostPlotView::hideEvent(QHideEvent* e) {
    // A plot hidden under the pointer (its section closed, the screen left)
    // gets no leave.
    setHovered(std::nullopt);
    QWidget::hideEvent(e);
}

void CostPlotView::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // Scrolling, a window moved, a layout that shifted: whatever moves the
    // plot under a pointer that stays still moves one of these, and sends
    // the plot no pointer event.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) w->installEventFilter(this);
}

void CostPlotView::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    recheckHover();
}

void CostPlotView::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    syncScrollBar();
    recheckHover();
}

bool CostPlotView::eventFilter(QObject* watched, QEvent* e) {
    if (watched == hbar_ && e->type() == QEvent::Enter) setHovered(std::nullopt);
    else if (e->type() == QEvent::Move || e->type() == QEvent::Resize) recheckHover();
    return QWidget::eventFilter(watched, e);
}

void CostPlotView::recheckHover() {
    if (!hoveredId_) return;
    const QPoint global = QCursor::pos();
    if (!isVisible() || QApplication::widgetAt(global) != this) return setHovered(std::nullopt);
    setHovered(hoverAt(mapFromGlobal(QPointF(global))));
}

void CostPlotView::wheelEvent(QWheelEvent* e) {
    // A sideways wheel (or Shift with the wheel) over the plot box scrolls
    // a row of bars wider than the plot; an upright one is the page's.
    const int delta = e->angleDelta().x() != 0 ? e->angleDelta().x()
                      : (e->modifiers() & Qt::ShiftModifier) ? e->angleDelta().y()
                                                              : 0;
    if (!scrolls() || delta == 0 || !layout().box.contains(e->position())) return QWidget::wheelEvent(e);
    hbar_->setValue(hbar_->value() - int(std::lround(delta / 120.0 * kWheelStep)));
    e->accept();
}

void CostPlotView::mousePressEvent(QMouseEvent* e) {
    pressed_ = e->button() == Qt::LeftButton ? hitAt(e->position()) : Hit{};
    QWidget::mousePressEvent(e);
}

void CostPlotView::mouseReleaseEvent(QMouseEvent* e) {
    const Hit pressed = pressed_;
    pressed_ = {};
    if (e->button() != Qt::LeftButton || pressed.kind == Hit::none) return QWidget::mouseReleaseEvent(e);
    if (pressed.kind == Hit::area) {
        // A drag in the cumulative area ends on the item nearest to the
        // release, wherever that is.
        const QRectF plot = plotArea();
        if (auto id = data_.nearestEventId(e->position().x() - plot.left(), plot.width())) emit eventClicked(*id);
        return;
    }
    if (!(hitAt(e->position()) == pressed)) return;
    switch (pressed.kind) {
        case Hit::modeSegment: setMode(allCostPlotModes[pressed.index]); break;
        case Hit::unitButton: setUnit(allCostUnits[pressed.index]); break;
        case Hit::legendChip: togglePart(allCostPartsInOrder[pressed.index]); break;
        case Hit::bar: emit eventClicked(data_.items()[pressed.index].id); break;
        default: break;
    }
}

// ---- Painting --------------------------------------------------------------

void CostPlotView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const Layout l = layout();
    paintModePicker(p, l);
    paintPlotBox(p, l);
    paintLegend(p, l);
}

void CostPlotView::paintModePicker(QPainter& p, const Layout& l) const {
    p.save();
    QPainterPath frame;
    frame.addRoundedRect(l.picker.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.fillPath(frame, BrandColor::bgSubtle());
    p.setPen(QPen(BrandColor::border(), 1));
    p.drawPath(frame);
    for (size_t i = 0; i < 2; ++i) {
        const bool current = allCostPlotModes[i] == mode_;
        if (current) {
            QPainterPath seg;
            seg.addRoundedRect(l.segments[i].adjusted(2.5, 2.5, -2.5, -2.5), 4, 4);
            p.fillPath(seg, BrandColor::bgElevated());
            p.setPen(QPen(BrandColor::border(), 1));
            p.drawPath(seg);
        }
        p.setFont(BrandFont::sans(12, current ? QFont::Medium : QFont::Normal));
        p.setPen(current ? BrandColor::text() : BrandColor::textMuted());
        p.drawText(l.segments[i], Qt::AlignCenter, qs(rawValue(allCostPlotModes[i])));
    }
    p.restore();
}

void CostPlotView::paintPlotBox(QPainter& p, const Layout& l) const {
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(l.box, 6, 6);
    p.setClipPath(clip);
    p.fillRect(l.box, BrandColor::bgSubtle());
    if (l.empty) {
        p.setFont(BrandFont::sans(12));
        p.setPen(BrandColor::textMuted());
        p.drawText(l.box, Qt::AlignCenter, QStringLiteral("No itemized API-call costs found in this transcript."));
    } else if (mode_ == CostPlotMode::itemized) {
        paintAxes(p, l, data_.turnScaleMax());
        paintBars(p, l.plot);
    } else {
        paintAxes(p, l, data_.cumulativeScaleMax());
        paintCumulative(p, l.plot);
    }
    p.restore();
}

void CostPlotView::paintAxes(QPainter& p, const Layout& l, double maxValue) const {
    const double h = l.plot.height();
    const double d = std::max(maxValue, 0.000001);
    const QFont labels = BrandFont::sansMonospacedDigits(10);
    const double labelHeight = QFontMetricsF(labels).height();
    p.setFont(labels);
    for (double t : CostPlotData::axisTicks(maxValue)) {
        const double y = h - t * h / d;
        p.setOpacity(0.55);
        p.fillRect(QRectF(l.plot.left(), l.plot.top() + y - 0.5, l.plot.width(), 1), BrandColor::border());
        p.setOpacity(1);
        p.setPen(BrandColor::textFaint());
        p.drawText(QRectF(l.yAxis.left(), l.yAxis.top() + y - labelHeight / 2, l.yAxis.width(), labelHeight),
                   Qt::AlignRight | Qt::AlignVCenter, qs(CostPlotData::axisMoney(t)));
    }

    p.setFont(BrandFont::sans(10));
    p.setPen(BrandColor::textFaint());
    p.drawText(l.first, Qt::AlignLeft | Qt::AlignVCenter, l.firstText);
    p.drawText(l.last, Qt::AlignRight | Qt::AlignVCenter, l.lastText);
    p.drawText(l.dot, Qt::AlignCenter, QStringLiteral("\u00B7"));
    for (size_t i = 0; i < 2; ++i) {
        const bool current = allCostUnits[i] == unit();
        p.setFont(unitFont(current));
        p.setPen(current ? BrandColor::text() : BrandColor::textFaint());
        p.drawText(l.units[i], Qt::AlignCenter, qs(rawValue(allCostUnits[i])));
    }
}

void CostPlotView::paintBars(QPainter& p, const QRectF& area) const {
    const auto& items = data_.items();
    const double h = area.height(), w = area.width();
    const double scale = data_.turnScaleMax();
    const BarMetrics bars = barMetrics(items.size(), w);
    const double gap = bars.gap, bw = bars.width;
    // A row that scrolls is cut at the plot's edges, not the box's.
    p.save();
    p.setClipRect(area, Qt::IntersectClip);
    std::optional<size_t> tipIndex;
    for (size_t i = 0; i < items.size(); ++i) {
        const PlotItem& item = items[i];
        if (!tipIndex && hoveredId_ == item.id) tipIndex = i;
        const double x = area.left() + double(i) * (bw + gap) - scroll_;
        if (x + bw < area.left() || x > area.right()) continue;  // scrolled out
        const double hIn = h * data_.drawnValue(item, CostPart::input) / scale;
        const double hCached = h * data_.drawnValue(item, CostPart::cached) / scale;
        const double hOut = h * data_.drawnValue(item, CostPart::output) / scale;
        const double stacked = hIn + hCached + hOut;
        const QRectF frame(x, area.bottom() - std::max(std::min(h, stacked), 1.0), bw, std::max(std::min(h, stacked), 1.0));

        p.save();
        p.setOpacity(hoveredId_ && *hoveredId_ != item.id ? kDimmed : 1.0);
        p.save();
        p.setClipRect(frame, Qt::IntersectClip);
        double bottom = area.bottom();
        for (auto [height, color] : {std::pair{hIn, BrandColor::accent()}, std::pair{hCached, BrandColor::chartCached()},
                                     std::pair{hOut, BrandColor::chartOutput()}}) {
            if (height > 0) p.fillRect(QRectF(x, bottom - height, bw, height), color);
            bottom -= height;
        }
        p.restore();
        if (stacked > h) {
            // The bar runs off the scale: two stripes across its cut top.
            p.fillRect(QRectF(x, frame.top() + 4, bw, 2), BrandColor::bgSubtle());
            p.fillRect(QRectF(x, frame.top() + 8, bw, 2), BrandColor::bgSubtle());
        }
        p.restore();
    }
    p.restore();
    if (!tipIndex) return;

    const PlotItem& item = items[*tipIndex];
    std::vector<TipLine> lines;
    lines.push_back(TipLine::heading(qs(data_.itemLabel(item)), data_.visibleValue(item) > scale));
    if (unit() == CostUnit::turns) lines.push_back(TipLine::smallNote(plural(item.callCount, "API call")));
    for (CostPart part : allCostPartsInOrder)
        lines.push_back(TipLine::amount(qs(rawValue(part)), partValue(item, part), partColor(part), false,
                                        data_.selectedParts().count(part) ? 1.0 : 0.45));
    lines.push_back(TipLine::line());
    lines.push_back(TipLine::amount(unit() == CostUnit::turns ? QStringLiteral("Turn cost") : QStringLiteral("Call cost"),
                                    item.billed > 0 ? item.billed : item.fresh + item.cache + item.output,
                                    std::nullopt, true));
    const auto& cumulative = data_.cumulative();
    const double total = cumulative[size_t(item.ordinal - 1)].total;
    lines.push_back(TipLine::amount(QStringLiteral("Total cost"), total));

    const double centre = bw * 0.5 + double(item.ordinal - 1) * (bw + gap) - scroll_;
    const double right = centre + bw * 0.5 + 10;
    const double x = right + kTooltipWidth + 4 <= w ? right : std::max(centre - bw * 0.5 - 10 - kTooltipWidth, 4.0);
    paintCard(p, area.topLeft() + QPointF(x, 4), lines);
}

void CostPlotView::paintCumulative(QPainter& p, const QRectF& area) const {
    const auto& cumulative = data_.cumulative();
    const size_t n = cumulative.size();
    if (n == 0) return;
    const double d = std::max(data_.cumulativeScaleMax(), 0.0001);
    auto pointAt = [&](size_t i) {
        const double x = n == 1 ? area.center().x() : area.left() + double(i) / double(n - 1) * area.width();
        return QPointF(x, area.bottom() - cumulative[i].total / d * area.height());
    };
    QPainterPath line;
    line.moveTo(pointAt(0));
    for (size_t i = 1; i < n; ++i) line.lineTo(pointAt(i));
    QPainterPath fill = line;
    fill.lineTo(area.bottomRight());
    fill.lineTo(area.bottomLeft());
    fill.closeSubpath();

    QColor areaColor = BrandColor::accent();
    areaColor.setAlphaF(float(areaColor.alphaF() * 0.22));
    p.fillPath(fill, areaColor);
    QPen linePen(BrandColor::accent(), 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    linePen.setMiterLimit(10);
    p.strokePath(line, linePen);

    if (!hoveredId_) return;
    const auto found = std::find_if(cumulative.begin(), cumulative.end(),
                                    [&](const CumulativeEntry& e) { return e.item.id == *hoveredId_; });
    if (found == cumulative.end()) return;
    const QPointF point = pointAt(size_t(found - cumulative.begin()));
    p.setPen(Qt::NoPen);
    p.setBrush(BrandColor::text());
    p.drawEllipse(point, 3.5, 3.5);

    const double x = point.x() - area.left();
    const double tipX = x + 14 + kTooltipWidth + 4 <= area.width() ? x + 14 : std::max(x - 14 - kTooltipWidth, 4.0);
    paintCard(p, area.topLeft() + QPointF(tipX, 4),
              {TipLine::heading(qs(data_.itemLabel(found->item))),
               TipLine::amount(QStringLiteral("Total cost"), found->total, std::nullopt, true)});
}

void CostPlotView::paintLegend(QPainter& p, const Layout& l) const {
    p.save();
    const QFont f = BrandFont::sans(11);
    p.setFont(f);
    auto swatch = [&](QRectF r, const QColor& color, const QString& label, const QColor& labelColor) {
        fillRounded(p, QRectF(r.left(), r.center().y() - 4, 12, 8), 2, color);
        p.setPen(labelColor);
        p.drawText(QRectF(r.left() + 12 + 5, r.top(), r.width(), r.height()), Qt::AlignLeft | Qt::AlignVCenter, label);
    };
    if (mode_ == CostPlotMode::itemized) {
        const auto& selected = data_.selectedParts();
        for (size_t i = 0; i < 3; ++i) {
            const CostPart part = allCostPartsInOrder[i];
            const bool on = selected.count(part) > 0;
            if (on && selected.size() < 3) fillRounded(p, l.chips[i], 5, BrandColor::bgSubtle());
            p.setOpacity(on ? 1.0 : kDimmed);
            swatch(l.chips[i].adjusted(5, 3, -5, -3), partColor(part), qs(rawValue(part)),
                   on ? BrandColor::textMuted() : BrandColor::textFaint());
            p.setOpacity(1);
        }
    } else {
        swatch(l.totalSwatch, BrandColor::accent(), QStringLiteral("Total cost"), BrandColor::textMuted());
    }
    const auto calls = static_cast<long long>(data_.events().size());
    const QString count = unit() == CostUnit::turns
                              ? plural(static_cast<long long>(data_.items().size()), "turn") + QStringLiteral(" · ") + plural(calls, "API call")
                              : plural(calls, "API call");
    p.setPen(BrandColor::textFaint());
    p.drawText(l.count, Qt::AlignRight | Qt::AlignVCenter, count);
    p.restore();
}

}  // namespace vorel
