#pragma once
// The timeline of the detail screen: a bar of six filter chips over a list
// of the conversation's events, one painted row per event (icon, kind,
// title, time, cost or token count and up to three lines of detail). Rows
// are identified by their event's id, so the screen can scroll the list to
// an event and highlight its row.

#include <QAbstractButton>
#include <QAbstractListModel>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QVariantAnimation>
#include <QWidget>
#include <array>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "detail/ConversationDetail.h"

class QHBoxLayout;
class QLabel;
class QListView;
class QStackedWidget;

namespace vorel {

// A group of event kinds the timeline can show. The raw value is the chip's
// label; the declared order is the order of the chips.
enum class TimelineFilter { prompts, responses, reasoning, tools, apiCalls, internalRows };

inline constexpr std::array<TimelineFilter, 6> allTimelineFilters{
    TimelineFilter::prompts, TimelineFilter::responses, TimelineFilter::reasoning,
    TimelineFilter::tools,   TimelineFilter::apiCalls,  TimelineFilter::internalRows,
};

using TimelineFilters = std::set<TimelineFilter>;

std::string_view rawValue(TimelineFilter filter);
// The filter whose raw value is exactly `raw` (case-sensitive), if any.
std::optional<TimelineFilter> timelineFilterFromRaw(std::string_view raw);
// The one filter that shows events of `kind`.
TimelineFilter timelineFilterFor(ConversationEventKind kind);
TimelineFilters allTimelineFilterSet();
// What a tap on the chip of `filter` makes of `filters`: an "on" filter is
// removed, an "off" one added; a set left empty becomes all six again.
TimelineFilters toggledTimelineFilters(TimelineFilters filters, TimelineFilter filter);

// The symbol name drawn for an event kind.
QString timelineSymbol(ConversationEventKind kind);

// The texts of a row's first line.
struct TimelineRowTexts {
    QString kind;    // the kind's raw value
    QString title;   // the event's title
    QString stamp;   // the short time, or empty without a timestamp
    QString amount;  // money of a cost, else "<count> tok" for tokens >= 1, else empty
    bool amountIsMoney{};
};
TimelineRowTexts timelineRowTexts(const ConversationEvent& event);

// The events of one conversation that pass the filters, as list rows.
class TimelineModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Everything a row shows comes from these roles, so the delegate paints
    // the rows behind any proxy model.
    // Qt::DisplayRole: the event's title (QString).
    // EventIdRole: the event's id (int).
    // HighlightedRole: whether the row is the highlighted one (bool).
    // HighlightStrengthRole: how strongly its highlight is drawn (0 to 1),
    // which falls off while a cleared highlight fades out.
    // KindRole: the event's kind (int, a ConversationEventKind).
    // DetailRole: the event's detail text (QString).
    // StampRole, AmountRole, AmountIsMoneyRole: the first line's time,
    // amount and whether that amount is money (see TimelineRowTexts).
    enum Role {
        EventIdRole = Qt::UserRole + 1,
        HighlightedRole,
        HighlightStrengthRole,
        KindRole,
        DetailRole,
        StampRole,
        AmountRole,
        AmountIsMoneyRole,
    };

    explicit TimelineModel(QObject* parent = nullptr);

    // Replaces the events. When the new list only adds events after the
    // old ones, the new rows are inserted and the others stay as they are.
    void setEvents(const std::vector<ConversationEvent>& events);
    void setFilters(const TimelineFilters& filters);
    void setHighlightedEventId(std::optional<int> id);
    // The row of a highlight that was cleared and is fading out, drawn at
    // `strength`; none once the fade is over.
    void setFading(std::optional<int> id, double strength);

    const std::vector<ConversationEvent>& events() const { return events_; }
    const TimelineFilters& filters() const { return filters_; }
    std::optional<int> highlightedEventId() const { return highlighted_; }
    // The shown event of a row.
    const ConversationEvent& eventAt(int row) const;
    // The row showing the event `id`, or -1 when no row does.
    int rowOfEvent(int id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::vector<int> shownPositions(size_t from) const;

    std::vector<ConversationEvent> events_;
    std::vector<int> shown_;  // positions in events_ of the shown events, in order
    TimelineFilters filters_ = allTimelineFilterSet();
    std::optional<int> highlighted_;
    std::optional<int> fading_;
    double fadeStrength_{};
};

// Paints one timeline row and gives its height for the list's width.
class TimelineDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TimelineDelegate(QListView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The detail text broken into the lines drawn in `width`: at most three,
    // the third cut with "…" when more text follows.
    static QStringList detailLines(const QString& detail, int width);

    // Horizontal padding of the list's content, and how far the highlight
    // reaches beyond it.
    static constexpr int kSidePadding = 20;
    static constexpr int kHighlightOverhang = 6;

private:
    int contentWidth(const QStyleOptionViewItem& option) const;

    QListView* view_;
};

// One filter chip: its label on a rounded background when on, faint when off.
class TimelineFilterChip : public QAbstractButton {
    Q_OBJECT
public:
    TimelineFilterChip(TimelineFilter filter, QWidget* parent = nullptr);
    TimelineFilter filter() const { return filter_; }
    void setOn(bool on);
    bool isOn() const { return on_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    TimelineFilter filter_;
    bool on_ = true;
};

// The chip bar, a rule and the event list (or its empty text).
class DetailTimeline : public QWidget {
    Q_OBJECT
public:
    explicit DetailTimeline(QWidget* parent = nullptr);

    // Shows the events of a conversation. A refresh of the same
    // conversation keeps the filters and where the list is scrolled to.
    void setEvents(const std::vector<ConversationEvent>& events);

    const TimelineFilters& filters() const;
    void setFilters(const TimelineFilters& filters);
    void addFilter(TimelineFilter filter);

    std::optional<int> highlightedEventId() const;
    void setHighlightedEventId(std::optional<int> id);
    // Clears the highlight at once; its row's tint then fades out over
    // `fadeMs` (ease-out).
    void clearHighlight(int fadeMs);

    // Scrolls the row of event `id` to the middle of the list (over a
    // quarter second when `animated`); false, and no scrolling, when no
    // shown row carries that id. `rowAt`, when given, receives where the
    // row will stand in the list's viewport once the scroll has ended.
    bool scrollToEvent(int id, bool animated = false, QRect* rowAt = nullptr);

    TimelineModel* model() const { return model_; }
    QListView* listView() const { return list_; }
    TimelineFilterChip* chip(TimelineFilter filter) const;
    // The text shown in place of the list, or empty while the list shows.
    QString emptyText() const;

signals:
    void filtersChanged(const vorel::TimelineFilters& filters);

private:
    QHBoxLayout* buildChipBar();
    QListView* buildList();
    QWidget* buildEmptyPage();
    void applyColors();
    void updateEmptyState();
    void updateChips();

    TimelineModel* model_;
    QListView* list_;
    QWidget* emptyPage_;  // the empty text, shown in place of the list
    QLabel* empty_;
    QStackedWidget* stack_;
    std::array<TimelineFilterChip*, 6> chips_{};
    QPointer<QVariantAnimation> fade_;
};

}  // namespace vorel
