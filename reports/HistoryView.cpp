#include "reports/HistoryView.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "reports/HistoryRow.h"
#include "reports/ReportControls.h"
#include "shell/AppModel.h"
#include "shell/FlowLayout.h"
#include "shell/Formatting.h"
#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

// Space below the last row of the list.
constexpr int kBottomSpace = 16;
// Row widgets are built for this much of the list above and below the view.
constexpr int kMinMargin = 240;
// Built rows kept while out of view; the farthest beyond this are let go.
constexpr size_t kMaxBuiltRows = 240;

qint64 msOf(TimePoint t) { return t.time_since_epoch().count(); }

QDate localDate(TimePoint t) { return QDateTime::fromMSecsSinceEpoch(msOf(t), Qt::LocalTime).date(); }

using BrandColor::setTextColor;

// The local days of `filtered` (indexes into `all`) and their rows, both in
// `direction` by last activity; rows of equal last activity keep the order
// of `filtered` either way.
std::vector<std::pair<TimePoint, std::vector<size_t>>> groupIndexes(const std::vector<SessionRow>& all,
                                                                    const std::vector<size_t>& filtered,
                                                                    SortDirection direction) {
    std::map<TimePoint, std::vector<size_t>> byDay;
    // The rows come newest first, so most neighbours share a day: find a
    // day's bounds once for its run of rows.
    DayWindow window{kDistantPast, kDistantPast};
    for (size_t i : filtered) {
        TimePoint t = all[i].lastActivity;
        if (!window.contains(t)) window = DayWindow::containing(t);
        byDay[window.start].push_back(i);
    }
    std::vector<std::pair<TimePoint, std::vector<size_t>>> out;
    out.reserve(byDay.size());
    const bool descending = direction == SortDirection::descending;
    auto later = [&](size_t a, size_t b) { return all[a].lastActivity > all[b].lastActivity; };
    auto earlier = [&](size_t a, size_t b) { return all[a].lastActivity < all[b].lastActivity; };
    auto take = [&](auto& entry) {
        std::vector<size_t> rows = std::move(entry.second);
        if (descending) std::stable_sort(rows.begin(), rows.end(), later);
        else std::stable_sort(rows.begin(), rows.end(), earlier);
        out.emplace_back(entry.first, std::move(rows));
    };
    if (descending) {
        for (auto it = byDay.rbegin(); it != byDay.rend(); ++it) take(*it);
    } else {
        for (auto& entry : byDay) take(entry);
    }
    return out;
}

// The day caption with today's start worked out by the caller.
QString dayCaption(TimePoint day, TimePoint todayStart, TimePoint yesterdayStart, int thisYear) {
    TimePoint start = startOfLocalDay(day);
    if (start == todayStart) return QStringLiteral("Today");
    if (start == yesterdayStart) return QStringLiteral("Yesterday");
    QDate date = localDate(day);
    QLocale locale;
    if (date.year() == thisYear) return locale.toString(date, QStringLiteral("dddd, MMM d"));
    return locale.toString(date, QStringLiteral("MMM d, yyyy"));
}

}  // namespace

// The list's canvas: it holds the row widgets at the places the view gives
// them and draws the day captions and the rules under the rows itself.
class HistoryListContent : public QWidget {
public:
    explicit HistoryListContent(HistoryView& view) : view_(view) { setAutoFillBackground(true); }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        const QRect dirty = e->rect();
        const auto& items = view_.items_;
        auto first = std::partition_point(items.begin(), items.end(), [&](const HistoryView::Item& item) {
            return item.top + item.height + 1 <= dirty.top();
        });
        QFont font = BrandFont::caption();
        QFontMetrics fm(font);
        p.setFont(font);
        const QColor caption = BrandColor::textMuted();
        const QColor rule = BrandColor::border();
        for (auto it = first; it != items.end() && it->top <= dirty.bottom(); ++it) {
            if (it->isHeader) {
                p.setPen(caption);
                QRect r(20, it->top + 16, width() - 40, fm.height());
                p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                           fm.elidedText(it->caption, Qt::ElideRight, r.width()));
            } else {
                p.fillRect(QRect(20, it->top + it->height, width() - 20, 1), rule);
            }
        }
    }

private:
    HistoryView& view_;
};

// ---------------------------------------------------------------------------

HistoryView::HistoryView(AppModel& app, QWidget* parent) : QWidget(parent), app_(app) {
    setMinimumSize(500, 380);
    setAutoFillBackground(true);
    now_ = clock().now();

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    v->addLayout(buildHeader());
    v->addWidget(new Hairline);
    v->addWidget(buildControls());
    v->addWidget(new Hairline);
    v->addLayout(buildColumnCaptions());
    v->addWidget(new Hairline);
    v->addWidget(buildList(), 1);
    connectSignals();
    applyColors();
    refresh();
}

// Title and count on the left, the lifetime total on the right, the two
// first lines sharing a baseline.
QHBoxLayout* HistoryView::buildHeader() {
    auto* header = header_ = new QHBoxLayout;
    header->setContentsMargins(20, 16, 20, 16);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    title_ = plainLabel(QStringLiteral("Conversations"), BrandFont::sans(19, QFont::DemiBold));
    count_ = plainLabel(QString(), BrandFont::sans(12));
    titles->addWidget(title_);
    titles->addWidget(count_);
    titles->addStretch(1);
    header->addLayout(titles);
    header->addStretch(1);
    auto* totals = new QVBoxLayout;
    totals->setSpacing(2);
    lifetimeCaption_ = plainLabel(QStringLiteral("LIFETIME"), BrandFont::caption());
    lifetime_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(18, QFont::DemiBold));
    const int baselineShift = QFontMetrics(title_->font()).ascent() - QFontMetrics(lifetimeCaption_->font()).ascent();
    totals->setContentsMargins(0, std::max(0, baselineShift), 0, 0);
    totals->addWidget(lifetimeCaption_, 0, Qt::AlignRight);
    totals->addWidget(lifetime_, 0, Qt::AlignRight);
    totals->addStretch(1);
    header->addLayout(totals);
    return header;
}

// The report window and the order, wrapping onto a second line when the
// custom dates leave no room.
QWidget* HistoryView::buildControls() {
    const QDate today = localDate(now_);
    auto* controlBar = new QWidget;
    auto* controls = new FlowLayout(controlBar, 16, 10);
    controls->setContentsMargins(20, 10, 20, 10);
    range_ = new DateRangeControls(ReportDateRange::all, today.addDays(-30), today);
    order_ = makePicker(kAllSortDirections, direction_);
    controls->addWidget(range_);
    controls->addWidget(labeled(QStringLiteral("Order"), order_));
    return controlBar;
}

// The captions over the two amounts of every row.
QHBoxLayout* HistoryView::buildColumnCaptions() {
    auto* columns = columns_ = new QHBoxLayout;
    columns->setContentsMargins(20, 6, 20, 6);
    columns->setSpacing(10);
    columns->addStretch(1);
    todayCaption_ = plainLabel(QStringLiteral("TODAY"), BrandFont::caption());
    totalCaption_ = plainLabel(QStringLiteral("TOTAL"), BrandFont::caption());
    for (QLabel* l : {todayCaption_, totalCaption_}) {
        l->setFixedWidth(costCol);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        columns->addWidget(l);
    }
    return columns;
}

// The list, or the empty text in its place.
QStackedWidget* HistoryView::buildList() {
    stack_ = new QStackedWidget;
    empty_ = plainLabel(QStringLiteral("No conversations recorded yet."), BrandFont::sans(13));
    empty_->setAlignment(Qt::AlignCenter);
    stack_->addWidget(empty_);
    scroll_ = BrandColor::verticalScrollArea(false);
    content_ = new HistoryListContent(*this);
    scroll_->setWidget(content_);
    scroll_->verticalScrollBar()->setSingleStep(24);
    scroll_->viewport()->installEventFilter(this);
    stack_->addWidget(scroll_);
    return stack_;
}

void HistoryView::connectSignals() {
    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { realize(); });
    connect(range_, &DateRangeControls::changed, this, [this] { rebuild(Anchor{}); });
    connect(order_, &QComboBox::currentIndexChanged, this, [this](int) {
        direction_ = static_cast<SortDirection>(order_->currentData().toInt());
        rebuild(Anchor{});
    });
    connect(&app_, &AppModel::refreshed, this, [this] {
        if (isVisible()) refresh();
        else stale_ = true;
    });
    connect(&app_, &AppModel::metaChanged, this, &HistoryView::onMetaChanged);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &HistoryView::applyColors);
}

HistoryView::~HistoryView() = default;

std::vector<HistoryView::DayGroup> HistoryView::groups(const std::vector<SessionRow>& filteredRows,
                                                       SortDirection direction) {
    std::vector<size_t> all(filteredRows.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::vector<DayGroup> out;
    for (auto& [day, rows] : groupIndexes(filteredRows, all, direction)) {
        DayGroup g{day, {}};
        g.rows.reserve(rows.size());
        for (size_t i : rows) g.rows.push_back(filteredRows[i]);
        out.push_back(std::move(g));
    }
    return out;
}

QString HistoryView::dayLabel(TimePoint day, TimePoint now) {
    return dayCaption(day, startOfLocalDay(now, 0), startOfLocalDay(now, -1), localDate(now).year());
}

QString HistoryView::countLine(size_t shown, size_t all) {
    return QString::number(shown) + QStringLiteral(" of ") + QString::number(all) +
           QStringLiteral(" conversations · API-equivalent estimates");
}

void HistoryView::refresh() {
    stale_ = false;
    const CostModel& model = app_.model();
    showRows(model.allRows(), model.grandTotal());
}

void HistoryView::showRows(const std::vector<SessionRow>& allRows, double grandTotal) {
    // What is in view is found by the old rows, before they are replaced.
    const Anchor anchor = captureAnchor();
    // Assigning into the kept vector reuses its strings' storage.
    if (&allRows != &all_) all_ = allRows;
    grandTotal_ = grandTotal;
    ++tick_;
    rebuild(anchor);
}

void HistoryView::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (stale_) refresh();
}

void HistoryView::onMetaChanged() {
    // Names, notes and tags are read again by the rows in view now, by the
    // others when they next come into view.
    ++metaTick_;
    realize();
}

std::string HistoryView::itemKey(const Item& item) const {
    if (item.isHeader) return "\x01" + std::to_string(msOf(item.day));
    return all_[item.row].id;
}

void HistoryView::rebuild(const Anchor& anchor) {
    now_ = clock().now();

    std::vector<size_t> filtered;
    filtered.reserve(all_.size());
    auto span = reportBounds(range_->range(), range_->customStart(), range_->customEnd(), now_);
    for (size_t i = 0; i < all_.size(); ++i) {
        if (!span || span->contains(all_[i].lastActivity)) filtered.push_back(i);
    }
    filteredCount_ = filtered.size();

    const TimePoint todayStart = startOfLocalDay(now_, 0);
    const TimePoint yesterdayStart = startOfLocalDay(now_, -1);
    const int thisYear = localDate(now_).year();
    const QLocale locale;
    const int headerH = headerHeight();
    items_.clear();
    itemOf_.clear();
    for (auto& [day, rows] : groupIndexes(all_, filtered, direction_)) {
        Item h;
        h.isHeader = true;
        h.day = day;
        h.height = headerH;
        h.caption = locale.toUpper(dayCaption(day, todayStart, yesterdayStart, thisYear));
        items_.push_back(std::move(h));
        for (size_t i : rows) {
            Item r;
            r.row = i;
            const auto* b = built_.find(all_[i].id);
            r.height = b && b->state.tick == tick_ ? b->widget->sizeHint().height() : estimatedHeight(all_[i]);
            itemOf_.emplace(all_[i].id, items_.size());
            items_.push_back(std::move(r));
        }
    }

    // Rows no longer listed go.
    built_.keepOnly([this](const std::string& id) { return itemOf_.count(id) > 0; });

    count_->setText(countLine(filteredCount_, all_.size()));
    lifetime_->setText(money(grandTotal_));
    stack_->setCurrentWidget(filtered.empty() ? static_cast<QWidget*>(empty_) : scroll_);
    updateColumnInset();

    layoutItems();
    restoreAnchor(anchor);
    realize();
    content_->update();
}

HistoryView::Anchor HistoryView::captureAnchor() const {
    // What the user is looking at: the first item in view and how far its
    // top lies from the top of the view. Kept there when the list changes
    // above it, unless the list is scrolled to its very top, where new
    // conversations come into view.
    const int value = scroll_->verticalScrollBar()->value();
    Anchor a;
    a.keep = true;
    if (value <= 0) return a;
    auto it = std::partition_point(items_.begin(), items_.end(),
                                   [&](const Item& item) { return item.top + item.height + 1 <= value; });
    if (it == items_.end()) return a;
    a.key = itemKey(*it);
    a.offset = it->top - value;
    return a;
}

void HistoryView::restoreAnchor(const Anchor& anchor) {
    QScrollBar* bar = scroll_->verticalScrollBar();
    if (!anchor.keep) {
        bar->setValue(0);
        return;
    }
    if (anchor.key.empty()) return;
    if (anchor.key.front() != '\x01') {
        if (auto it = itemOf_.find(anchor.key); it != itemOf_.end()) bar->setValue(items_[it->second].top - anchor.offset);
        return;
    }
    for (const Item& item : items_) {
        if (item.isHeader && itemKey(item) == anchor.key) {
            bar->setValue(item.top - anchor.offset);
            return;
        }
    }
}

void HistoryView::layoutItems() {
    int y = 0;
    for (Item& item : items_) {
        item.top = y;
        y += item.height + (item.isHeader ? 0 : 1);
    }
    const QSize size(scroll_->viewport()->width(), y + kBottomSpace);
    if (content_->size() != size) content_->resize(size);
}

void HistoryView::realize() {
    if (realizing_ || stack_->currentWidget() != scroll_) return;
    realizing_ = true;
    QScrollBar* bar = scroll_->verticalScrollBar();
    const int rowWidth = scroll_->viewport()->width();
    int lo = 0;
    int hi = 0;
    std::unordered_map<std::string, bool> inRange;
    for (int pass = 0; pass < 4; ++pass) {
        const Anchor anchor = captureAnchor();
        const int viewH = scroll_->viewport()->height();
        const int margin = std::max(kMinMargin, viewH / 2);
        lo = bar->value() - margin;
        hi = bar->value() + viewH + margin;
        inRange.clear();
        bool resized = false;
        auto first = std::partition_point(items_.begin(), items_.end(),
                                          [&](const Item& item) { return item.top + item.height + 1 <= lo; });
        for (auto it = first; it != items_.end() && it->top < hi; ++it) {
            if (it->isHeader) continue;
            const SessionRow& row = all_[it->row];
            bool made = false;
            auto& slot = built_.obtain(row.id, [&] { return makeRow(row, now_); }, &made);
            HistoryRow* w = slot.widget;
            if (made) {
                slot.state = Shown{tick_, metaTick_};
            } else {
                if (slot.state.tick != tick_) {
                    w->setRow(row, now_);
                    slot.state.tick = tick_;
                }
                if (slot.state.metaTick != metaTick_) {
                    w->refreshMeta();
                    slot.state.metaTick = metaTick_;
                }
            }
            const int h = w->sizeHint().height();
            if (h != it->height) {
                it->height = h;
                resized = true;
            }
            heights_[shapeOf(row)] = h;
            const QRect place(0, it->top, rowWidth, it->height);
            if (w->geometry() != place) w->setGeometry(place);
            if (w->isHidden()) w->show();
            inRange[row.id] = true;
        }
        if (!resized) break;
        // Measured heights differ from the estimates: lay the list out
        // again around what is in view, and build for the new range.
        layoutItems();
        restoreAnchor(anchor);
    }

    // Rows out of range are hidden, except one that holds the focus or an
    // open popup: it stays where it belongs in the list.
    for (auto& [id, b] : built_) {
        if (inRange.count(id)) continue;
        HistoryRow* w = b.widget;
        if (w->isInUse()) {
            auto at = itemOf_.find(id);
            if (at != itemOf_.end()) {
                const Item& item = items_[at->second];
                const QRect place(0, item.top, rowWidth, item.height);
                if (w->geometry() != place) w->setGeometry(place);
            }
        } else if (!w->isHidden()) {
            w->hide();
        }
    }
    prune(lo, hi);
    realizing_ = false;
}

void HistoryView::prune(int lo, int hi) {
    if (built_.size() <= kMaxBuiltRows) return;
    std::vector<std::pair<int, std::string>> far;
    for (const auto& [id, b] : built_) {
        if (!b.widget->isHidden() || b.widget->isInUse()) continue;
        auto at = itemOf_.find(id);
        int distance = 0;
        if (at != itemOf_.end()) {
            const Item& item = items_[at->second];
            distance = item.top >= hi ? item.top - hi : lo - (item.top + item.height);
        }
        far.emplace_back(distance, id);
    }
    std::sort(far.begin(), far.end(), std::greater<>());
    const size_t excess = built_.size() - kMaxBuiltRows;
    for (size_t i = 0; i < excess && i < far.size(); ++i) built_.drop(far[i].second, true);
}

HistoryRow* HistoryView::makeRow(const SessionRow& row, TimePoint now) {
    auto* w = new HistoryRow(row, app_.meta(), now, content_);
    w->hide();
    return w;
}

HistoryView::Shape HistoryView::shapeOf(const SessionRow& row) const {
    const auto& byId = app_.meta().byId();
    auto meta = byId.find(row.id);
    return {HistoryRow::showsModelLines(row) ? row.models.size() : 0, row.subagents.size(),
            meta != byId.end() && !meta->second.tags.empty()};
}

int HistoryView::estimatedHeight(const SessionRow& row) {
    const auto [models, subagents, tagged] = shapeOf(row);
    if (auto it = heights_.find({models, subagents, tagged}); it != heights_.end()) return it->second;
    if (auto it = heights_.find({models, subagents, !tagged}); it != heights_.end()) return it->second;
    // Nothing of this shape measured yet: measure a stand-in row of it.
    SessionRow sample;
    sample.models.resize(models);
    if (models == 1) sample.models[0].estimated = true;
    sample.subagents.resize(subagents);
    HistoryRow probe(sample, app_.meta(), now_);
    const int h = probe.sizeHint().height();
    heights_[{models, subagents, false}] = h;
    return h;
}

void HistoryView::updateColumnInset() {
    // The captions stand over the rows' amounts, and the lifetime figure
    // over the TOTAL column: when the list's scroll bar takes room on the
    // right, both move in by as much.
    const int bar = std::max(0, stack_->currentWidget() == scroll_ ? scroll_->width() - scroll_->viewport()->width() : 0);
    const QMargins columns(20, 6, 20 + bar, 6);
    if (columns_->contentsMargins() != columns) columns_->setContentsMargins(columns);
    const QMargins header(20, 16, 20 + bar, 16);
    if (header_->contentsMargins() != header) header_->setContentsMargins(header);
}

int HistoryView::headerHeight() const { return 16 + QFontMetrics(BrandFont::caption()).height() + 6; }

QStringList HistoryView::dayCaptions() const {
    QStringList out;
    for (const Item& item : items_) {
        if (item.isHeader) out << item.caption;
    }
    return out;
}

std::vector<std::string> HistoryView::shownIds() const {
    std::vector<std::string> out;
    for (const Item& item : items_) {
        if (!item.isHeader) out.push_back(all_[item.row].id);
    }
    return out;
}

HistoryRow* HistoryView::rowWidget(const std::string& id) const {
    return built_.widget(id);
}

void HistoryView::scrollToRow(const std::string& id) {
    auto it = itemOf_.find(id);
    if (it == itemOf_.end()) return;
    scroll_->verticalScrollBar()->setValue(items_[it->second].top);
}

bool HistoryView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) {
        updateColumnInset();
        const Anchor anchor = captureAnchor();
        layoutItems();
        restoreAnchor(anchor);
        realize();
    }
    return QWidget::eventFilter(watched, event);
}

void HistoryView::applyColors() {
    BrandColor::setBackground(this, BrandColor::bg());
    // Below a short list the view's own background shows: the same colour.
    QPalette list = content_->palette();
    list.setColor(QPalette::Window, BrandColor::bg());
    list.setColor(QPalette::Base, BrandColor::bg());
    content_->setPalette(list);
    scroll_->viewport()->setPalette(list);
    setTextColor(title_, BrandColor::text());
    setTextColor(count_, BrandColor::textMuted());
    setTextColor(lifetimeCaption_, BrandColor::textFaint());
    setTextColor(lifetime_, BrandColor::text());
    setTextColor(todayCaption_, BrandColor::textFaint());
    setTextColor(totalCaption_, BrandColor::textFaint());
    setTextColor(empty_, BrandColor::textMuted());
    content_->update();
}

}  // namespace vorel
