#include "detail/DetailTimeline.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "shell/Formatting.h"
#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

std::string_view rawValue(TimelineFilter filter) {
    switch (filter) {
        case TimelineFilter::prompts: return "Prompts";
        case TimelineFilter::responses: return "Responses";
        case TimelineFilter::reasoning: return "Reasoning";
        case TimelineFilter::tools: return "Tools";
        case TimelineFilter::apiCalls: return "API calls";
        case TimelineFilter::internalRows: return "Internal";
    }
    return "";
}

std::optional<TimelineFilter> timelineFilterFromRaw(std::string_view raw) {
    for (TimelineFilter f : allTimelineFilters) {
        if (rawValue(f) == raw) return f;
    }
    return std::nullopt;
}

TimelineFilter timelineFilterFor(ConversationEventKind kind) {
    using K = ConversationEventKind;
    switch (kind) {
        case K::user: return TimelineFilter::prompts;
        case K::assistant: return TimelineFilter::responses;
        case K::reasoning: return TimelineFilter::reasoning;
        case K::toolCall:
        case K::toolResult:
        case K::webSearch:
        case K::patch: return TimelineFilter::tools;
        case K::token: return TimelineFilter::apiCalls;
        case K::injected:
        case K::system:
        case K::lifecycle: return TimelineFilter::internalRows;
    }
    return TimelineFilter::internalRows;
}

TimelineFilters allTimelineFilterSet() {
    return TimelineFilters(allTimelineFilters.begin(), allTimelineFilters.end());
}

TimelineFilters toggledTimelineFilters(TimelineFilters filters, TimelineFilter filter) {
    if (filters.erase(filter) == 0) {
        filters.insert(filter);
    } else if (filters.empty()) {
        filters = allTimelineFilterSet();
    }
    return filters;
}

QString timelineSymbol(ConversationEventKind kind) {
    using K = ConversationEventKind;
    switch (kind) {
        case K::user: return QStringLiteral("person");
        case K::injected: return QStringLiteral("gearshape.2");
        case K::assistant: return QStringLiteral("text.bubble");
        case K::reasoning: return QStringLiteral("brain");
        case K::toolCall: return QStringLiteral("hammer");
        case K::toolResult: return QStringLiteral("terminal");
        case K::webSearch: return QStringLiteral("magnifyingglass");
        case K::patch: return QStringLiteral("doc.badge.gearshape");
        case K::token: return QStringLiteral("number");
        case K::lifecycle: return QStringLiteral("clock");
        case K::system: return QStringLiteral("gearshape");
    }
    return {};
}

namespace {

QString stampText(const ConversationEvent& event) {
    return event.timestamp ? shortStamp(*event.timestamp) : QString();
}

QString amountText(const ConversationEvent& event) {
    if (event.cost) return money(*event.cost);
    if (event.tokens && *event.tokens >= 1) return compactTokens(*event.tokens) + QStringLiteral(" tok");
    return {};
}

}  // namespace

TimelineRowTexts timelineRowTexts(const ConversationEvent& event) {
    return {.kind = qs(rawValue(event.kind)),
            .title = QString::fromStdString(event.title),
            .stamp = stampText(event),
            .amount = amountText(event),
            .amountIsMoney = event.cost.has_value()};
}

// ---------------------------------------------------------------- model

TimelineModel::TimelineModel(QObject* parent) : QAbstractListModel(parent) {}

std::vector<int> TimelineModel::shownPositions(size_t from) const {
    std::vector<int> out;
    for (size_t i = from; i < events_.size(); ++i) {
        if (filters_.count(timelineFilterFor(events_[i].kind))) out.push_back(static_cast<int>(i));
    }
    return out;
}

void TimelineModel::setEvents(const std::vector<ConversationEvent>& events) {
    if (events == events_) return;
    const bool appended = !events_.empty() && events.size() > events_.size() &&
                          std::equal(events_.begin(), events_.end(), events.begin());
    if (!appended) {
        beginResetModel();
        events_ = events;
        shown_ = shownPositions(0);
        endResetModel();
        return;
    }
    const size_t oldCount = events_.size();
    events_ = events;
    std::vector<int> added = shownPositions(oldCount);
    if (added.empty()) return;
    const int first = static_cast<int>(shown_.size());
    beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
    shown_.insert(shown_.end(), added.begin(), added.end());
    endInsertRows();
    // The row that was last loses the list's bottom padding.
    if (first > 0) emit dataChanged(index(first - 1), index(first - 1));
}

void TimelineModel::setFilters(const TimelineFilters& filters) {
    TimelineFilters next = filters.empty() ? allTimelineFilterSet() : filters;
    if (next == filters_) return;
    beginResetModel();
    filters_ = std::move(next);
    shown_ = shownPositions(0);
    endResetModel();
}

void TimelineModel::setHighlightedEventId(std::optional<int> id) {
    if (id == highlighted_) return;
    const std::optional<int> old = highlighted_;
    highlighted_ = id;
    for (std::optional<int> changed : {old, id}) {
        if (!changed) continue;
        int row = rowOfEvent(*changed);
        if (row >= 0) emit dataChanged(index(row), index(row), {HighlightedRole});
    }
}

void TimelineModel::setFading(std::optional<int> id, double strength) {
    const std::optional<int> old = fading_;
    fading_ = id;
    fadeStrength_ = id ? strength : 0;
    for (std::optional<int> changed : {old, id}) {
        if (!changed) continue;
        int row = rowOfEvent(*changed);
        if (row >= 0) emit dataChanged(index(row), index(row), {HighlightStrengthRole});
    }
}

const ConversationEvent& TimelineModel::eventAt(int row) const {
    return events_.at(static_cast<size_t>(shown_.at(static_cast<size_t>(row))));
}

int TimelineModel::rowOfEvent(int id) const {
    for (size_t row = 0; row < shown_.size(); ++row) {
        if (events_[static_cast<size_t>(shown_[row])].id == id) return static_cast<int>(row);
    }
    return -1;
}

int TimelineModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant TimelineModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const ConversationEvent& e = eventAt(index.row());
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(e.title);
        case Qt::ToolTipRole: return {};
        case EventIdRole: return e.id;
        case HighlightedRole: return highlighted_ && *highlighted_ == e.id;
        case HighlightStrengthRole:
            if (highlighted_ && *highlighted_ == e.id) return 1.0;
            if (fading_ && *fading_ == e.id) return fadeStrength_;
            return 0.0;
        case KindRole: return static_cast<int>(e.kind);
        case DetailRole: return QString::fromStdString(e.detail);
        case StampRole: return stampText(e);
        case AmountRole: return amountText(e);
        case AmountIsMoneyRole: return e.cost.has_value();
        default: return {};
    }
}

// ---------------------------------------------------------------- delegate

namespace {

// Row geometry: padding around the content, the icon column, the gaps.
constexpr int kRowPadV = 8;
constexpr int kListPadV = 12;
constexpr int kIconFrame = 18;
constexpr int kIconSize = 12;
constexpr int kIconTop = 2;
constexpr int kIconGap = 9;
constexpr int kLineGap = 3;
constexpr int kHeaderSpacing = 6;
constexpr int kHairlineInset = 28;
constexpr int kMaxDetailLines = 3;
constexpr double kHighlightRadius = 6;

QFont kindFont() { return BrandFont::sans(11, QFont::Medium); }
QFont titleFont() { return BrandFont::sans(12, QFont::Medium); }
QFont stampFont() { return BrandFont::sans(11); }
QFont detailFont() { return BrandFont::sans(11); }
QFont amountFont(bool money) { return BrandFont::sansMonospacedDigits(11, money ? QFont::Medium : QFont::Normal); }

int headerHeight() {
    return std::max(QFontMetrics(titleFont()).height(), QFontMetrics(kindFont()).height());
}

// The list's own top and bottom padding belongs to its first and last rows,
// so it scrolls with the content.
int topExtra(const QModelIndex& index) { return index.row() == 0 ? kListPadV : 0; }
int bottomExtra(const QModelIndex& index) {
    return index.row() == index.model()->rowCount() - 1 ? kListPadV : 0;
}

// What one row shows, read from the model's roles.
struct TimelineRow {
    ConversationEventKind kind;
    TimelineRowTexts texts;
    QString detail;
    double highlight;  // strength of the highlight's tint, 0 for none
};

TimelineRow timelineRow(const QModelIndex& index) {
    TimelineRow row;
    row.kind = static_cast<ConversationEventKind>(index.data(TimelineModel::KindRole).toInt());
    row.texts = {.kind = qs(rawValue(row.kind)),
                 .title = index.data(Qt::DisplayRole).toString(),
                 .stamp = index.data(TimelineModel::StampRole).toString(),
                 .amount = index.data(TimelineModel::AmountRole).toString(),
                 .amountIsMoney = index.data(TimelineModel::AmountIsMoneyRole).toBool()};
    row.detail = index.data(TimelineModel::DetailRole).toString();
    row.highlight = std::min(index.data(TimelineModel::HighlightStrengthRole).toDouble(), 1.0);
    return row;
}

// Where a row's parts go: the row between the list padding it carries and
// the rule under it, its content between the side paddings.
struct RowBox {
    int rowTop;     // top of the row (and of its highlight)
    int rowBottom;  // the rule's line
    int left;       // the icon column's left edge
    int right;      // the content's right edge
    int top;        // top of the first line of text
    int textLeft;   // left edge of the texts, past the icon
};

QColor iconColor(ConversationEventKind kind) {
    return kind == ConversationEventKind::injected ? BrandColor::textFaint() : BrandColor::accent();
}

// A text is cut only when it does not fit: eliding at exactly its own width
// can cut it on rounding alone.
QString fitted(const QString& s, const QFont& f, int width) {
    const QFontMetricsF fm(f);
    if (fm.horizontalAdvance(s) <= width + 0.5) return s;
    return fm.elidedText(s, Qt::ElideRight, width);
}

void paintHighlight(QPainter* p, const RowBox& box, double strength) {
    if (strength <= 0) return;
    QRectF area(box.left - TimelineDelegate::kHighlightOverhang, box.rowTop,
                box.right - box.left + 2 * TimelineDelegate::kHighlightOverhang, box.rowBottom - box.rowTop);
    QPainterPath path;
    path.addRoundedRect(area, kHighlightRadius, kHighlightRadius);
    QColor tint = BrandColor::accentFaint();
    tint.setAlphaF(static_cast<float>(tint.alphaF() * strength));
    p->fillPath(path, tint);
}

void paintIcon(QPainter* p, const RowBox& box, ConversationEventKind kind) {
    const qreal dpr = p->device() ? p->device()->devicePixelRatioF() : 1.0;
    QPixmap icon = platform::symbolPixmap(timelineSymbol(kind), iconColor(kind), kIconSize, dpr);
    if (!icon.isNull()) p->drawPixmap(box.left + (kIconFrame - kIconSize) / 2, box.top + kIconTop, icon);
}

// Kind and title from the left, the time and the amount at the right end;
// the title gets what the others leave.
void paintFirstLine(QPainter* p, const RowBox& box, const TimelineRow& row) {
    const TimelineRowTexts& texts = row.texts;
    const int lineH = headerHeight();
    int end = box.right;
    auto drawRightAligned = [&](const QString& s, const QFont& f, const QColor& c) {
        if (s.isEmpty()) return;
        const int w = QFontMetrics(f).horizontalAdvance(s);
        p->setFont(f);
        p->setPen(c);
        p->drawText(QRect(end - w, box.top, w, lineH), Qt::AlignVCenter | Qt::AlignLeft, s);
        end -= w + kHeaderSpacing;
    };
    drawRightAligned(texts.amount, amountFont(texts.amountIsMoney),
                     texts.amountIsMoney ? BrandColor::text() : BrandColor::textFaint());
    drawRightAligned(texts.stamp, stampFont(), BrandColor::textFaint());

    int x = box.textLeft;
    const int kindAdvance = static_cast<int>(std::ceil(QFontMetricsF(kindFont()).horizontalAdvance(texts.kind)));
    const int kindW = std::min(kindAdvance, std::max(0, end - x));
    p->setFont(kindFont());
    p->setPen(iconColor(row.kind));
    p->drawText(QRect(x, box.top, kindW + 1, lineH), Qt::AlignVCenter | Qt::AlignLeft,
                fitted(texts.kind, kindFont(), kindW));
    x += kindW + kHeaderSpacing;
    if (end > x) {
        p->setFont(titleFont());
        p->setPen(BrandColor::text());
        p->drawText(QRect(x, box.top, end - x + 1, lineH), Qt::AlignVCenter | Qt::AlignLeft,
                    fitted(texts.title, titleFont(), end - x));
    }
}

void paintDetail(QPainter* p, const RowBox& box, const QStringList& lines) {
    if (lines.isEmpty()) return;
    p->setFont(detailFont());
    p->setPen(BrandColor::textMuted());
    const int spacing = QFontMetrics(detailFont()).lineSpacing();
    int y = box.top + headerHeight() + kLineGap;
    for (const QString& line : lines) {
        p->drawText(QRect(box.textLeft, y, box.right - box.textLeft, spacing), Qt::AlignTop | Qt::AlignLeft, line);
        y += spacing;
    }
}

// The rule under the row, inset past the icon.
void paintRule(QPainter* p, const RowBox& box) {
    p->setRenderHint(QPainter::Antialiasing, false);
    p->fillRect(QRect(box.left + kHairlineInset, box.rowBottom, std::max(0, box.right - box.left - kHairlineInset), 1),
                BrandColor::border());
}

}  // namespace

TimelineDelegate::TimelineDelegate(QListView* view) : QStyledItemDelegate(view), view_(view) {}

int TimelineDelegate::contentWidth(const QStyleOptionViewItem& option) const {
    int width = view_ ? view_->viewport()->width() : option.rect.width();
    return std::max(0, width - 2 * kSidePadding);
}

QStringList TimelineDelegate::detailLines(const QString& detail, int width) {
    QStringList lines;
    if (detail.isEmpty()) return lines;
    width = std::max(width, 1);
    QString text = detail;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    const QFont font = detailFont();
    QTextLayout layout(text, font);
    QTextOption opt;
    opt.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(opt);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() == kMaxDetailLines - 1) {
            // The last line drawn: everything left, cut to the width.
            QString rest = text.mid(line.textStart());
            const bool more = line.textStart() + line.textLength() < text.size();
            if (more) {
                int sep = rest.indexOf(QChar::LineSeparator);
                QString head = sep >= 0 ? rest.left(sep) : rest;
                QFontMetrics fm(font);
                QString cut = fm.elidedText(head + QStringLiteral("…"), Qt::ElideRight, width);
                lines << cut;
            } else {
                lines << rest;
            }
            break;
        }
        QString piece = text.mid(line.textStart(), line.textLength());
        while (piece.endsWith(QChar::LineSeparator) || piece.endsWith(QLatin1Char(' '))) piece.chop(1);
        lines << piece;
    }
    layout.endLayout();
    for (QString& l : lines) l.replace(QChar::LineSeparator, QLatin1Char(' '));
    return lines;
}

QSize TimelineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (!index.isValid()) return QStyledItemDelegate::sizeHint(option, index);
    const int width = contentWidth(option);
    int height = kRowPadV + headerHeight();
    const QStringList lines =
        detailLines(index.data(TimelineModel::DetailRole).toString(), width - kIconFrame - kIconGap);
    if (!lines.isEmpty()) height += kLineGap + QFontMetrics(detailFont()).lineSpacing() * static_cast<int>(lines.size());
    height += kRowPadV + 1;  // and the rule under the row
    return {width + 2 * kSidePadding, height + topExtra(index) + bottomExtra(index)};
}

void TimelineDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (!index.isValid()) return;
    const TimelineRow row = timelineRow(index);
    RowBox box;
    box.rowTop = option.rect.top() + topExtra(index);
    box.rowBottom = option.rect.bottom() + 1 - bottomExtra(index) - 1;  // above the rule
    box.left = option.rect.left() + kSidePadding;
    box.right = box.left + contentWidth(option);
    box.top = box.rowTop + kRowPadV;
    box.textLeft = box.left + kIconFrame + kIconGap;

    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setRenderHint(QPainter::TextAntialiasing);
    paintHighlight(p, box, row.highlight);
    paintIcon(p, box, row.kind);
    paintFirstLine(p, box, row);
    paintDetail(p, box, detailLines(row.detail, box.right - box.textLeft));
    paintRule(p, box);
    p->restore();
}

// ---------------------------------------------------------------- chips

namespace {
constexpr int kChipPadH = 8;
constexpr int kChipPadV = 3;
constexpr double kChipRadius = 5;

QFont chipFont(bool on) { return BrandFont::sans(11, on ? QFont::Medium : QFont::Normal); }
}  // namespace

TimelineFilterChip::TimelineFilterChip(TimelineFilter filter, QWidget* parent)
    : QAbstractButton(parent), filter_(filter) {
    setText(qs(rawValue(filter)));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TimelineFilterChip::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    updateGeometry();
    update();
}

QSize TimelineFilterChip::sizeHint() const {
    // Sized for the face it is drawn in: medium when on, regular when off.
    QFontMetrics fm(chipFont(on_));
    return {fm.horizontalAdvance(text()) + 2 * kChipPadH, fm.height() + 2 * kChipPadV};
}

void TimelineFilterChip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (on_) {
        QPainterPath path;
        path.addRoundedRect(box, kChipRadius, kChipRadius);
        p.fillPath(path, BrandColor::bgSubtle());
    }
    QColor stroke = BrandColor::border();
    if (!on_) stroke.setAlphaF(stroke.alphaF() * 0.5);
    p.setPen(QPen(stroke, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box, kChipRadius, kChipRadius);
    p.setFont(chipFont(on_));
    p.setPen(on_ ? BrandColor::text() : BrandColor::textFaint());
    p.drawText(rect(), Qt::AlignCenter, text());
}

// ---------------------------------------------------------------- widget

DetailTimeline::DetailTimeline(QWidget* parent) : QWidget(parent), model_(new TimelineModel(this)) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addLayout(buildChipBar());
    outer->addWidget(new Hairline(0, this));

    stack_ = new QStackedWidget(this);
    auto* stackBox = new QVBoxLayout;
    stackBox->setContentsMargins(20, 12, 20, 12);
    stackBox->addWidget(stack_);
    outer->addLayout(stackBox, 1);
    list_ = buildList();
    stack_->addWidget(list_);
    emptyPage_ = buildEmptyPage();
    stack_->addWidget(emptyPage_);

    applyColors();
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &DetailTimeline::applyColors);
    updateChips();
    updateEmptyState();
}

// One chip per filter, in their declared order; a click toggles its filter.
QHBoxLayout* DetailTimeline::buildChipBar() {
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(20, 0, 20, 8);
    bar->setSpacing(6);
    for (size_t i = 0; i < allTimelineFilters.size(); ++i) {
        auto* chip = new TimelineFilterChip(allTimelineFilters[i], this);
        chips_[i] = chip;
        bar->addWidget(chip, 0, Qt::AlignVCenter);
        connect(chip, &QAbstractButton::clicked, this, [this, chip] {
            setFilters(toggledTimelineFilters(model_->filters(), chip->filter()));
        });
    }
    bar->addStretch(1);
    return bar;
}

// A plain list of painted rows: no frame, selection or focus, scrolled by
// the pixel.
QListView* DetailTimeline::buildList() {
    auto* list = new QListView(stack_);
    list->setObjectName(QStringLiteral("timelineList"));
    list->setModel(model_);
    list->setItemDelegate(new TimelineDelegate(list));
    list->setFrameShape(QFrame::NoFrame);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setResizeMode(QListView::Adjust);
    list->setUniformItemSizes(false);
    list->setMouseTracking(false);
    list->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);
    list->verticalScrollBar()->setSingleStep(20);
    return list;
}

QWidget* DetailTimeline::buildEmptyPage() {
    auto* page = new QWidget(stack_);
    auto* box = new QVBoxLayout(page);
    box->setContentsMargins(20, 12, 20, 12);
    empty_ = wrappingLabel(QString(), QStringLiteral("timelineEmpty"), BrandFont::sans(12));
    box->addWidget(empty_);
    box->addStretch(1);
    return page;
}

void DetailTimeline::applyColors() {
    BrandColor::setTextColor(empty_, BrandColor::textMuted());
    BrandColor::styleScrollBar(list_->verticalScrollBar());
    for (TimelineFilterChip* chip : chips_) chip->update();
    list_->viewport()->update();
}

void DetailTimeline::setEvents(const std::vector<ConversationEvent>& events) {
    const std::vector<ConversationEvent>& old = model_->events();
    // A refresh of the same conversation starts with the same first event;
    // another conversation starts at the top of its list.
    const bool sameConversation = !old.empty() && !events.empty() && old.front() == events.front();
    QScrollBar* bar = list_->verticalScrollBar();
    const int kept = bar->value();
    model_->setEvents(events);
    updateEmptyState();
    list_->doItemsLayout();
    bar->setValue(sameConversation ? std::min(kept, bar->maximum()) : 0);
}

const TimelineFilters& DetailTimeline::filters() const { return model_->filters(); }

void DetailTimeline::setFilters(const TimelineFilters& filters) {
    const TimelineFilters before = model_->filters();
    model_->setFilters(filters);
    if (model_->filters() == before) return;
    updateChips();
    updateEmptyState();
    emit filtersChanged(model_->filters());
}

void DetailTimeline::addFilter(TimelineFilter filter) {
    TimelineFilters next = model_->filters();
    next.insert(filter);
    setFilters(next);
}

std::optional<int> DetailTimeline::highlightedEventId() const { return model_->highlightedEventId(); }

void DetailTimeline::setHighlightedEventId(std::optional<int> id) {
    // A new highlight ends any fade still running.
    if (fade_) fade_->stop();  // and it deletes itself
    model_->setFading(std::nullopt, 0);
    model_->setHighlightedEventId(id);
}

void DetailTimeline::clearHighlight(int fadeMs) {
    const std::optional<int> id = model_->highlightedEventId();
    if (!id) return;
    setHighlightedEventId(std::nullopt);
    if (fadeMs <= 0) return;
    fade_ = new QVariantAnimation(this);
    fade_->setDuration(fadeMs);
    fade_->setEasingCurve(QEasingCurve::OutQuad);
    fade_->setStartValue(1.0);
    fade_->setEndValue(0.0);
    connect(fade_, &QVariantAnimation::valueChanged, this,
            [this, id](const QVariant& v) { model_->setFading(id, v.toDouble()); });
    connect(fade_, &QVariantAnimation::finished, this, [this] { model_->setFading(std::nullopt, 0); });
    fade_->start(QAbstractAnimation::DeleteWhenStopped);
}

bool DetailTimeline::scrollToEvent(int id, bool animated, QRect* rowAt) {
    const int row = model_->rowOfEvent(id);
    if (row < 0) return false;
    list_->doItemsLayout();
    QScrollBar* bar = list_->verticalScrollBar();
    const int from = bar->value();
    list_->scrollTo(model_->index(row), QAbstractItemView::PositionAtCenter);
    const int to = bar->value();
    if (rowAt) *rowAt = list_->visualRect(model_->index(row));
    if (animated && from != to) {
        bar->setValue(from);
        auto* anim = new QPropertyAnimation(bar, "value", this);
        anim->setDuration(250);
        anim->setEasingCurve(QEasingCurve::InOutQuad);
        anim->setStartValue(from);
        anim->setEndValue(to);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    }
    return true;
}

TimelineFilterChip* DetailTimeline::chip(TimelineFilter filter) const {
    return chips_[static_cast<size_t>(filter)];
}

QString DetailTimeline::emptyText() const {
    return stack_->currentWidget() == list_ ? QString() : empty_->text();
}

void DetailTimeline::updateEmptyState() {
    if (model_->events().empty()) {
        empty_->setText(QStringLiteral("No detailed events found in the local transcript."));
        stack_->setCurrentWidget(emptyPage_);
    } else if (model_->rowCount() == 0) {
        empty_->setText(QStringLiteral("No events match the current filters."));
        stack_->setCurrentWidget(emptyPage_);
    } else {
        stack_->setCurrentWidget(list_);
    }
}

void DetailTimeline::updateChips() {
    for (TimelineFilterChip* chip : chips_) chip->setOn(model_->filters().count(chip->filter()) > 0);
}

}  // namespace vorel
