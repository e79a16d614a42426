#include "reports/ChartView.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "reports/ReportControls.h"
#include "shell/AppModel.h"
#include "shell/FlowLayout.h"
#include "shell/Formatting.h"
#include "shell/InlineField.h"
#include "shell/PlainLabel.h"
#include "shell/Popup.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

// Lines this far above and below the visible part are built too, so a
// short scroll shows rows that are ready.
constexpr int kOverscan = 240;
constexpr int kListPadding = 10;

using BrandColor::setTextColor;

void onAppearanceChange(QObject* receiver, std::function<void()> fn) {
    QObject::connect(&platform::Appearance::shared(), &platform::Appearance::changed, receiver, std::move(fn));
}

// The note that hangs above a split badge: a window of its own that never
// takes the focus or the pointer, so a name being edited keeps its focus and
// the badge keeps its hover. Its arrow points at the badge.
class SplitNote : public QWidget {
public:
    static constexpr int kArrow = 6;
    static constexpr int kTextWidth = 230;
    static constexpr int kPadding = 12;

    explicit SplitNote(QWidget* badge)
        : QWidget(badge, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus), badge_(badge) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* v = new QVBoxLayout(this);
        label_ = plainLabel(QString(), BrandFont::sans(12));
        label_->setWordWrap(true);
        label_->setFixedWidth(kTextWidth);
        v->addWidget(label_);
        v->setSizeConstraint(QLayout::SetFixedSize);
        onAppearanceChange(this, [this] { applyColors(); });
        applyColors();
    }

    QLabel* label() const { return label_; }

    void showFor(const QString& text) {
        label_->setText(text);
        // Above the badge, its arrow on its bottom edge; below when there is
        // no room above. Kept on the screen.
        QRect b(badge_->mapToGlobal(QPoint(0, 0)), badge_->size());
        QRect area = availableAround(b);
        arrowDown_ = true;
        layoutFor();
        int x = b.center().x() - width() / 2;
        int y = b.top() - height();
        if (y < area.top()) {
            arrowDown_ = false;
            layoutFor();
            y = b.bottom() + 1;
        }
        x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - width()));
        arrowX_ = std::clamp(b.center().x() - x, kArrow + 4, std::max(kArrow + 4, width() - kArrow - 4));
        move(x, y);
        setMask(QRegion(outline(0).toFillPolygon().toPolygon()));
        show();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(BrandColor::border(), 1));
        p.setBrush(BrandColor::bgElevated());
        p.drawPath(outline(0.5));
    }
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        // The shape of the bubble and its arrow; outside it the window is
        // not there (no compositor is needed for a see-through corner).
        setMask(QRegion(outline(0).toFillPolygon().toPolygon()));
    }

private:
    QPainterPath outline(double inset) const {
        QRectF box = QRectF(rect()).adjusted(inset, arrowDown_ ? inset : kArrow + inset, -inset,
                                             arrowDown_ ? -kArrow - inset : -inset);
        QPainterPath path;
        path.addRoundedRect(box, 6, 6);
        QPolygonF arrow;
        if (arrowDown_) {
            arrow << QPointF(arrowX_ - kArrow, box.bottom() - 1) << QPointF(arrowX_, box.bottom() + kArrow)
                  << QPointF(arrowX_ + kArrow, box.bottom() - 1);
        } else {
            arrow << QPointF(arrowX_ - kArrow, box.top() + 1) << QPointF(arrowX_, box.top() - kArrow)
                  << QPointF(arrowX_ + kArrow, box.top() + 1);
        }
        QPainterPath tip;
        tip.addPolygon(arrow);
        tip.closeSubpath();
        return path.united(tip);
    }

    void layoutFor() {
        layout()->setContentsMargins(kPadding, kPadding + (arrowDown_ ? 0 : kArrow), kPadding,
                                     kPadding + (arrowDown_ ? kArrow : 0));
        layout()->activate();
        adjustSize();
    }
    void applyColors() {
        setTextColor(label_, BrandColor::text());
        update();
    }

    QWidget* badge_;
    QLabel* label_;
    bool arrowDown_ = true;
    int arrowX_ = 0;
};

// The legend's swatch: 12 of the earlier part of a bar, then 7 of today's.
class LegendSwatch : public QWidget {
public:
    LegendSwatch() {
        setFixedSize(19, 10);
        onAppearanceChange(this, [this] { update(); });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), 1, 1);
        p.setClipPath(clip);
        p.fillRect(QRect(0, 0, 12, 10), BarTrack::earlierColor());
        p.fillRect(QRect(12, 0, 7, 10), BarTrack::todayColor());
    }
};

// The list's content: as tall as all its lines; the scroll area makes it
// as wide as the view.
class Canvas : public QWidget {
public:
    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        if (onResize) onResize();
    }
};

}  // namespace

// ---------------------------------------------------------------------------

BarTrack::BarTrack(QWidget* parent) : QWidget(parent) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    onAppearanceChange(this, [this] { update(); });
}

void BarTrack::setFractions(double totalFrac, double todayFrac) {
    if (totalFrac == total_ && todayFrac == today_) return;
    total_ = totalFrac;
    today_ = todayFrac;
    update();
}

QColor BarTrack::earlierColor() {
    QColor c = BrandColor::accent();
    c.setAlphaF(0.5f);
    return c;
}

QColor BarTrack::todayColor() { return BrandColor::accent(); }

BarTrack::Geometry BarTrack::geometry(double width, double totalFrac, double todayFrac) {
    auto clamp01 = [](double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); };
    const double t = clamp01(totalFrac);
    const double d = clamp01(todayFrac);
    Geometry g;
    const double totalW = std::max(width * t, 2.0);
    g.total = QRectF(0, 0, totalW, kHeight);
    if (d > 0) {
        // Right-aligned with the total bar, and never longer than it, so the
        // 2-pixel minimum cannot push today's end past the bar's end.
        const double todayW = std::min(std::max(width * d, 2.0), totalW);
        g.today = QRectF(totalW - todayW, 0, todayW, kHeight);
    }
    return g;
}

void BarTrack::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    Geometry g = geometry(width(), total_, today_);
    auto mirrored = [this](QRectF r) {
        if (layoutDirection() == Qt::RightToLeft) r.moveLeft(width() - r.right());
        return r;
    };
    p.setBrush(earlierColor());
    p.drawRoundedRect(mirrored(g.total), 2, 2);
    if (!g.today.isEmpty()) {
        p.setBrush(todayColor());
        p.drawRoundedRect(mirrored(g.today), 2, 2);
    }
}

// ---------------------------------------------------------------------------

SplitBadge::SplitBadge(QWidget* parent) : QWidget(parent) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(6, 2, 6, 2);
    h->setSpacing(3);
    icon_ = new QLabel;
    icon_->setTextFormat(Qt::PlainText);
    icon_->setFixedSize(9, 9);
    text_ = plainLabel(QStringLiteral("costs split"), BrandFont::sans(10, QFont::Medium));
    h->addWidget(icon_, 0, Qt::AlignVCenter);
    h->addWidget(text_, 0, Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    onAppearanceChange(this, [this] { applyColors(); });
    applyColors();
}

QString SplitBadge::noteText(int count) {
    return QStringLiteral("This conversation has ") + QString::number(count) +
           QStringLiteral(" tags, so its cost is split evenly across them. This bar shows only this tag's share.");
}

void SplitBadge::setCount(int count) {
    if (count == count_) return;
    count_ = count;
    if (hover_ && popover_) static_cast<SplitNote*>(popover_.data())->showFor(noteText(count_));
}

void SplitBadge::enterEvent(QEnterEvent* e) {
    QWidget::enterEvent(e);
    setHover(true);
}

void SplitBadge::leaveEvent(QEvent* e) {
    QWidget::leaveEvent(e);
    setHover(false);
}

void SplitBadge::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    setHover(false);
}

void SplitBadge::recheckHover() {
    if (!hover_) return;
    // The pointer stayed where it was while the badge moved under it.
    const QWidget* under = QApplication::widgetAt(QCursor::pos());
    const bool over = isVisible() && under && (under == this || isAncestorOf(under));
    if (!over) return setHover(false);
    // Still over it: the note follows the badge.
    if (popover_) static_cast<SplitNote*>(popover_.data())->showFor(noteText(count_));
}

void SplitBadge::setHover(bool hover) {
    if (hover == hover_) return;
    hover_ = hover;
    if (hover) {
        if (!popover_) popover_ = new SplitNote(this);
        static_cast<SplitNote*>(popover_.data())->showFor(noteText(count_));
    } else if (popover_) {
        popover_->hide();
    }
}

void SplitBadge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(BrandColor::border(), 1));
    p.setBrush(BrandColor::bgSubtle());
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
}

void SplitBadge::applyColors() {
    icon_->setPixmap(platform::symbolPixmap(QStringLiteral("info.circle"), BrandColor::textMuted(), 9,
                                            devicePixelRatioF()));
    setTextColor(text_, BrandColor::textMuted());
    update();
}

// ---------------------------------------------------------------------------

BarRow::BarRow(MetadataStore& meta, QWidget* parent) : QWidget(parent) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(20, 7, 20, 7);
    v->setSpacing(4);

    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    // The store's topic of the conversation, with the bar's own topic (the
    // one the chart worked out for this refresh) as the fallback; edits go
    // to the store as they are typed.
    name_ = new InlineField(meta, InlineField::Edits::name, QStringLiteral("Topic"), BrandFont::sans(12, QFont::Medium),
                            &BrandColor::text);
    badge_ = new SplitBadge;
    badge_->setVisible(false);
    title->addWidget(name_, 1);
    title->addWidget(badge_, 0, Qt::AlignVCenter);
    v->addLayout(title);

    auto* barLine = new QHBoxLayout;
    barLine->setSpacing(10);
    track_ = new BarTrack;
    amount_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(12, QFont::Medium));
    amount_->setFixedWidth(64);
    amount_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barLine->addWidget(track_, 1, Qt::AlignVCenter);
    barLine->addWidget(amount_, 0, Qt::AlignVCenter);
    v->addLayout(barLine);

    // Every row is as tall as one with a badge, so the list can place rows
    // without laying each one out.
    const int titleHeight = std::max(name_->sizeHint().height(), badge_->sizeHint().height());
    const int barHeight = std::max(BarTrack::kHeight, amount_->sizeHint().height());
    name_->setFixedHeight(titleHeight);
    setFixedHeight(7 + titleHeight + 4 + barHeight + 7);

    onAppearanceChange(this, [this] { applyColors(); });
    applyColors();
}

void BarRow::setBar(const BarItem& bar, double maxValue) {
    if (placed_ && bar == bar_ && maxValue == max_) return;
    placed_ = true;
    bar_ = bar;
    max_ = maxValue;
    name_->setRow(bar.rowId, bar.topic);
    badge_->setCount(bar.splitCount);
    badge_->setVisible(bar.splitCount >= 2);
    track_->setFractions(bar.value / maxValue, bar.today / maxValue);
    QString amount = money(bar.value);
    if (amount_->text() != amount) amount_->setText(amount);
}

void BarRow::applyColors() { setTextColor(amount_, BrandColor::textMuted()); }

// ---------------------------------------------------------------------------

TagHeader::TagHeader(QWidget* parent) : QWidget(parent) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(20, 20, 20, 4);
    v->setSpacing(6);
    auto* h = new QHBoxLayout;
    h->setSpacing(8);
    QFont tagFont = BrandFont::sans(11, QFont::Bold);
    tagFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    tag_ = plainLabel(QString(), tagFont);
    // A long tag is cut at the row's edge, ending in "…", rather than
    // widening the list.
    tag_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    total_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(13, QFont::DemiBold));
    h->addWidget(tag_, 1, Qt::AlignVCenter);
    h->addWidget(total_, 0, Qt::AlignVCenter);
    v->addLayout(h);
    v->addWidget(new Hairline);
    const int lineHeight = std::max(tag_->sizeHint().height(), total_->sizeHint().height());
    setFixedHeight(20 + lineHeight + 6 + 1 + 4);
    onAppearanceChange(this, [this] { applyColors(); });
    applyColors();
}

void TagHeader::setGroup(const TagGroup& group) {
    QString tag = qs(group.id).toUpper();
    if (tag != tagText_) {
        tagText_ = tag;
        showTag();
    }
    QString total = money(group.total);
    if (total_->text() != total) total_->setText(total);
}

void TagHeader::showTag() {
    const QFontMetrics fm = tag_->fontMetrics();
    const int room = tag_->width();
    const QString shown = fm.horizontalAdvance(tagText_) <= room ? tagText_ : fm.elidedText(tagText_, Qt::ElideRight, room);
    if (tag_->text() != shown) tag_->setText(shown);
}

void TagHeader::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // The layout has given the tag its new width.
    showTag();
}

void TagHeader::applyColors() {
    setTextColor(tag_, BrandColor::accent());
    setTextColor(total_, BrandColor::text());
}

// ---------------------------------------------------------------------------

ChartView::ChartView(AppModel& app, QWidget* parent) : QWidget(parent), app_(app) {
    // As narrow as the main window's content column may be: the window
    // never has to widen for the chart.
    setMinimumSize(560, 380);
    setAutoFillBackground(true);
    // The screen's own state, from its initial values each time it opens.
    options_.groupBy = initialGroupBy();

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildControls());
    root->addWidget(new Hairline);
    root->addWidget(buildEmptyPane(), 1);
    root->addWidget(buildListPane(), 1);
    measureLines();
    connectSignals();
    applyColors();
    refresh();
}

// The range, grouping, order and direction pickers. They wrap onto a
// second line when the window is too narrow for all of them (the custom
// dates take room), each kept whole.
QWidget* ChartView::buildControls() {
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(clock().now().time_since_epoch().count(), Qt::LocalTime);
    auto* bar = new QWidget;
    auto* controls = new FlowLayout(bar, 16, 10);
    controls->setContentsMargins(20, 12, 20, 12);
    range_ = new DateRangeControls(options_.range, now.addDays(-30).date(), now.date());
    group_ = makePicker(kAllGroupBys, options_.groupBy);
    order_ = makePicker(kAllSortKeys, options_.sort);
    direction_ = makePicker(kAllSortDirections, options_.direction);
    orderBox_ = labeled(QStringLiteral("Order"), order_);
    controls->addWidget(range_);
    controls->addWidget(labeled(QStringLiteral("Group"), group_));
    controls->addWidget(orderBox_);
    controls->addWidget(labeled(QStringLiteral("Direction"), direction_));
    return bar;
}

QWidget* ChartView::buildEmptyPane() {
    emptyPane_ = new QWidget;
    auto* emptyCol = new QVBoxLayout(emptyPane_);
    emptyCol->addStretch(1);
    empty_ = plainLabel(QStringLiteral("No conversations to chart yet."), BrandFont::sans(13));
    emptyCol->addWidget(empty_, 0, Qt::AlignCenter);
    emptyCol->addStretch(1);
    return emptyPane_;
}

// The scrolling list of bars above the legend.
QWidget* ChartView::buildListPane() {
    listPane_ = new QWidget;
    auto* listCol = new QVBoxLayout(listPane_);
    listCol->setContentsMargins(0, 0, 0, 0);
    listCol->setSpacing(0);
    // The canvas is sized here, not by the scroll area: as wide as the view
    // and as tall as all the lines.
    scroll_ = BrandColor::verticalScrollArea(false);
    auto* canvas = new Canvas;
    canvas->onResize = [this] { placeRows(); };
    canvas_ = canvas;
    scroll_->setWidget(canvas_);
    scroll_->viewport()->setAutoFillBackground(false);
    canvas_->setAutoFillBackground(false);
    scroll_->viewport()->installEventFilter(this);
    listCol->addWidget(scroll_, 1);
    listCol->addWidget(new Hairline);
    listCol->addWidget(buildLegend());
    return listPane_;
}

// The key to a bar's two parts, the edit hint and, while grouped, the note
// on split costs.
QWidget* ChartView::buildLegend() {
    legend_ = new QWidget;
    auto* legendCol = new QVBoxLayout(legend_);
    legendCol->setContentsMargins(20, 10, 20, 10);
    legendCol->setSpacing(4);
    auto* key = new QHBoxLayout;
    key->setSpacing(5);
    key->addWidget(new LegendSwatch, 0, Qt::AlignVCenter);
    legendText_ = plainLabel(legendKey(), BrandFont::sans(11));
    key->addWidget(legendText_, 0, Qt::AlignVCenter);
    key->addStretch(1);
    legendCol->addLayout(key);
    editHint_ = plainLabel(QStringLiteral("Click any conversation name to edit it."), BrandFont::sans(11));
    legendCol->addWidget(editHint_);
    splitNote_ = plainLabel(
        QStringLiteral("Conversations with multiple tags split their cost evenly across those tags."),
        BrandFont::sans(11));
    splitNote_->setWordWrap(true);
    legendCol->addWidget(splitNote_);
    return legend_;
}

// The heights every row and header have.
void ChartView::measureLines() {
    BarRow probe(app_.meta());
    TagHeader header;
    rowHeight_ = probe.minimumHeight();
    headerHeight_ = header.minimumHeight();
}

void ChartView::connectSignals() {
    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        placeRows();
        recheckBadges();
    });
    auto changed = [this] { refresh(); };
    connect(range_, &DateRangeControls::changed, this, changed);
    connect(group_, &QComboBox::currentIndexChanged, this, changed);
    connect(order_, &QComboBox::currentIndexChanged, this, changed);
    connect(direction_, &QComboBox::currentIndexChanged, this, changed);
    // A tick or an annotation change updates the chart in place; while the
    // window is hidden the chart only notes that it is behind.
    auto update = [this] {
        if (isVisible()) refresh();
        else stale_ = true;
    };
    connect(&app_, &AppModel::refreshed, this, update);
    connect(&app_, &AppModel::metaChanged, this, update);
    onAppearanceChange(this, [this] { applyColors(); });
}

void ChartView::readControls() {
    options_.range = range_->range();
    options_.customStart = range_->customStart();
    options_.customEnd = range_->customEnd();
    options_.groupBy = static_cast<GroupBy>(group_->currentData().toInt());
    options_.sort = static_cast<SortKey>(order_->currentData().toInt());
    options_.direction = static_cast<SortDirection>(direction_->currentData().toInt());
}

ChartView::BarKey ChartView::barKey(const Entry& e) {
    if (e.group) return {e.group->id, e.bar->rowId};
    return {std::nullopt, e.bar->rowId};
}

size_t ChartView::BarKeyHash::operator()(const BarKey& k) const {
    const size_t row = std::hash<std::string>{}(k.rowId);
    return k.tag ? row ^ (std::hash<std::string>{}(*k.tag) * 31 + 1) : row;
}

void ChartView::refresh() {
    stale_ = false;
    readControls();
    const bool grouped = options_.groupBy == GroupBy::tag;
    orderBox_->setVisible(!grouped);
    splitNote_->setVisible(grouped);

    content_ = chartContent(app_.model().allRows(), app_.meta(), options_, clock().now());

    entries_.clear();
    int y = kListPadding;
    auto add = [&](const TagGroup* g, const BarItem* b, int h) {
        entries_.push_back(Entry{g, b, y, h});
        y += h;
    };
    if (grouped) {
        for (const TagGroup& g : content_.groups) {
            add(&g, nullptr, headerHeight_);
            for (const BarItem& b : g.bars) add(&g, &b, rowHeight_);
        }
    } else {
        for (const BarItem& b : content_.flat) add(nullptr, &b, rowHeight_);
    }
    const int height = y + kListPadding;

    // Widgets whose line is gone go with it.
    std::unordered_set<BarKey, BarKeyHash> barKeys;
    std::unordered_set<std::string> tags;
    for (const Entry& e : entries_) {
        if (e.bar) barKeys.insert(barKey(e));
        else tags.insert(e.group->id);
    }
    std::unordered_set<QWidget*> gone;
    for (QWidget* w : bars_.keepOnly([&](const BarKey& k) { return barKeys.count(k) > 0; })) gone.insert(w);
    for (QWidget* w : headers_.keepOnly([&](const std::string& t) { return tags.count(t) > 0; })) gone.insert(w);
    std::erase_if(shown_, [&gone](QWidget* w) { return gone.count(w) > 0; });

    const bool empty = content_.rowCount == 0;
    emptyPane_->setVisible(empty);
    listPane_->setVisible(!empty);
    contentHeight_ = height;
    fitCanvas();
    placeRows();
}

QWidget* ChartView::widgetFor(const Entry& e) {
    if (e.bar) {
        BarRow* row = bars_.obtain(barKey(e), [this] { return new BarRow(app_.meta(), canvas_); }).widget;
        row->setBar(*e.bar, content_.globalMax);
        return row;
    }
    TagHeader* header = headers_.obtain(e.group->id, [this] { return new TagHeader(canvas_); }).widget;
    header->setGroup(*e.group);
    return header;
}

void ChartView::placeRows() {
    if (entries_.empty() && shown_.empty()) return;
    const int top = scroll_->verticalScrollBar()->value() - kOverscan;
    const int bottom = scroll_->verticalScrollBar()->value() + scroll_->viewport()->height() + kOverscan;
    const int width = canvas_->width();

    std::vector<QWidget*> now;
    auto place = [&](const Entry& e) {
        QWidget* w = widgetFor(e);
        QRect r(0, e.y, width, e.height);
        if (w->geometry() != r) w->setGeometry(r);
        if (w->isHidden()) w->show();
        now.push_back(w);
    };
    auto first = std::partition_point(entries_.begin(), entries_.end(),
                                      [top](const Entry& e) { return e.y + e.height <= top; });
    for (auto it = first; it != entries_.end() && it->y < bottom; ++it) place(*it);

    // The row holding the keyboard focus stays shown where its line is, in
    // view or not, so its edit goes on.
    QWidget* holder = nullptr;
    if (QWidget* f = QApplication::focusWidget(); f && canvas_->isAncestorOf(f)) {
        holder = f;
        while (holder && holder->parentWidget() != canvas_) holder = holder->parentWidget();
    }
    if (holder && std::find(now.begin(), now.end(), holder) == now.end()) {
        for (const Entry& e : entries_) {
            QWidget* w = e.bar ? static_cast<QWidget*>(bars_.widget(barKey(e))) : headers_.widget(e.group->id);
            if (w == holder) {
                place(e);
                break;
            }
        }
    }

    std::unordered_set<QWidget*> visible(now.begin(), now.end());
    for (QWidget* w : shown_) {
        if (!visible.count(w)) w->hide();
    }
    shown_ = std::move(now);
}

BarRow* ChartView::rowFor(const std::string& barId) const {
    for (const auto& [k, slot] : bars_) {
        if (slot.widget->bar().id == barId) return slot.widget;
    }
    return nullptr;
}

namespace {

// The widgets of type W among `shown`, top to bottom.
template <typename W>
std::vector<W*> shownOfType(std::vector<QWidget*> shown) {
    std::sort(shown.begin(), shown.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
    std::vector<W*> out;
    for (QWidget* w : shown)
        if (auto* typed = qobject_cast<W*>(w)) out.push_back(typed);
    return out;
}

}  // namespace

std::vector<BarRow*> ChartView::shownRows() const { return shownOfType<BarRow>(shown_); }

std::vector<TagHeader*> ChartView::shownHeaders() const { return shownOfType<TagHeader>(shown_); }

size_t ChartView::builtRowCount() const {
    return bars_.size();
}

void ChartView::recheckBadges() {
    // A wheel or a resize moves the rows under a pointer that stays still,
    // and no badge hears of it: the one that showed its note asks where the
    // pointer is now.
    for (auto& [key, slot] : bars_) {
        if (slot.widget->badge()->isHovered()) slot.widget->badge()->recheckHover();
    }
}

void ChartView::fitCanvas() {
    QSize size(scroll_->viewport()->width(), contentHeight_);
    if (canvas_->size() != size) canvas_->resize(size);
}

namespace {

// `top` laid over the opaque `under`.
QColor over(const QColor& top, const QColor& under) {
    const float a = top.alphaF();
    auto mix = [a](float t, float u) { return t * a + u * (1 - a); };
    return QColor::fromRgbF(mix(top.redF(), under.redF()), mix(top.greenF(), under.greenF()),
                            mix(top.blueF(), under.blueF()));
}

}  // namespace

QString ChartView::legendKey() {
    // Which part is the lighter one depends on the page behind the
    // see-through earlier part: on a dark page it is today's.
    const QColor page = BrandColor::bg();
    const bool earlierLighter = BrandColor::luminance(over(BarTrack::earlierColor(), page)) >
                                BrandColor::luminance(over(BarTrack::todayColor(), page));
    return earlierLighter ? QStringLiteral("lighter = earlier \u00B7 darker = spent today")
                          : QStringLiteral("darker = earlier \u00B7 lighter = spent today");
}

bool ChartView::eventFilter(QObject* watched, QEvent* e) {
    // The canvas follows the view's width; a taller view shows more lines.
    if (watched == scroll_->viewport() && e->type() == QEvent::Resize) {
        fitCanvas();
        placeRows();
        recheckBadges();
    }
    return QWidget::eventFilter(watched, e);
}

void ChartView::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (stale_) refresh();
}

void ChartView::applyColors() {
    BrandColor::setBackground(this, BrandColor::bg());
    setTextColor(empty_, BrandColor::textMuted());
    setTextColor(legendText_, BrandColor::textMuted());
    legendText_->setText(legendKey());
    setTextColor(editHint_, BrandColor::textFaint());
    setTextColor(splitNote_, BrandColor::textFaint());
}

}  // namespace vorel
