#pragma once
// The Conversations screen: every priced conversation, grouped by the local
// day of its last activity, in a report window and an order the user
// picks, with a count line and the lifetime total.
//
// The list builds row widgets only for the conversations in view (and a
// margin around them), and keeps each one for its conversation from tick to
// tick, handing it new data in place. A refresh therefore never takes away
// the keyboard focus, the text being typed, the pointer's hover, an open
// popover or the scroll position; rows the user has scrolled far away from
// are let go again unless they hold the focus or a popup.

#include <QDate>
#include <QWidget>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "engine/Clock.h"
#include "engine/SessionRow.h"
#include "reports/ReportWindow.h"
#include "shell/RowWidgets.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QScrollArea;
class QStackedWidget;

namespace vorel {

class AppModel;
class DateRangeControls;
class HistoryRow;
class HistoryListContent;

class HistoryView : public QWidget {
    Q_OBJECT
public:
    explicit HistoryView(AppModel& app, QWidget* parent = nullptr);
    ~HistoryView() override;

    // One local day of the list and its conversations.
    struct DayGroup {
        TimePoint day;  // start of the local day
        std::vector<SessionRow> rows;
    };

    // `filteredRows` grouped by the local day of their last activity: days
    // and, within a day, rows by last activity in `direction`; rows of equal
    // last activity keep their given order in both directions.
    static std::vector<DayGroup> groups(const std::vector<SessionRow>& filteredRows, SortDirection direction);
    // "Today", "Yesterday", "Friday, Mar 6" this year, else "Mar 6, 2025".
    static QString dayLabel(TimePoint day, TimePoint now);
    // "3 of 12 conversations · API-equivalent estimates".
    static QString countLine(size_t shown, size_t all);

    // Everything again from the model (what each tick does).
    void refresh();
    // Shows `allRows` and `grandTotal` as the model's rows and lifetime
    // total; refresh() hands in the model's. Rows are matched to their
    // widgets by id.
    void showRows(const std::vector<SessionRow>& allRows, double grandTotal);

    // For tests and benchmarks.
    DateRangeControls* rangeControls() const { return range_; }
    QComboBox* orderPicker() const { return order_; }
    SortDirection direction() const { return direction_; }
    QLabel* countLabel() const { return count_; }
    QLabel* lifetimeLabel() const { return lifetime_; }
    QLabel* emptyLabel() const { return empty_; }
    QScrollArea* scrollArea() const { return scroll_; }
    // The list as shown: the day captions (upper-cased) and the row ids in
    // order, and the caption above each row.
    QStringList dayCaptions() const;
    std::vector<std::string> shownIds() const;
    // The widget of a conversation if it is built (rows out of view may not
    // be).
    HistoryRow* rowWidget(const std::string& id) const;
    // Scrolls so that the conversation's row is at the top of the list.
    void scrollToRow(const std::string& id);
    int builtRowCount() const { return static_cast<int>(built_.size()); }

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class HistoryListContent;

    struct Item {
        bool isHeader = false;
        TimePoint day;   // header: the day it captions
        size_t row = 0;  // row: index into all_
        int top = 0;
        int height = 0;  // without the rule below a row
        QString caption;  // header only
    };

    QHBoxLayout* buildHeader();
    QWidget* buildControls();
    QHBoxLayout* buildColumnCaptions();
    QStackedWidget* buildList();
    void connectSignals();
    void onMetaChanged();
    // Where the view stands in the list: an item's key and its distance from
    // the top of the view. `keep` false goes back to the top.
    struct Anchor {
        bool keep = false;
        std::string key;
        int offset = 0;
    };
    Anchor captureAnchor() const;
    void restoreAnchor(const Anchor& anchor);
    // Filters, groups and lays out all_ again, and builds the rows in view.
    void rebuild(const Anchor& anchor);
    // Places the items one below the other and sizes the list to them.
    void layoutItems();
    void realize();
    // What decides a row's height: the number of per-model lines, of
    // subagent lines, and whether it has tags.
    using Shape = std::tuple<size_t, size_t, bool>;
    Shape shapeOf(const SessionRow& row) const;
    int estimatedHeight(const SessionRow& row);
    HistoryRow* makeRow(const SessionRow& row, TimePoint now);
    void prune(int lo, int hi);
    int headerHeight() const;
    void updateColumnInset();
    std::string itemKey(const Item& item) const;
    void applyColors();

    AppModel& app_;
    std::vector<SessionRow> all_;
    double grandTotal_ = 0;
    SortDirection direction_ = SortDirection::descending;
    size_t filteredCount_ = 0;

    std::vector<Item> items_;
    std::unordered_map<std::string, size_t> itemOf_;  // row id -> index in items_
    // The built row widgets by id, with the data tick and metadata change
    // each last showed.
    struct Shown {
        unsigned tick = 0;
        unsigned metaTick = 0;
    };
    RowWidgets<std::string, HistoryRow, Shown> built_;
    unsigned tick_ = 1;
    unsigned metaTick_ = 1;
    TimePoint now_;
    // Row heights learned from built rows, by shape.
    std::map<Shape, int> heights_;
    bool stale_ = false;
    bool realizing_ = false;

    DateRangeControls* range_;
    QComboBox* order_;
    QLabel* title_;
    QLabel* count_;
    QLabel* lifetimeCaption_;
    QLabel* lifetime_;
    QHBoxLayout* header_;
    QHBoxLayout* columns_;
    QLabel* todayCaption_;
    QLabel* totalCaption_;
    QStackedWidget* stack_;
    QLabel* empty_;
    QScrollArea* scroll_;
    HistoryListContent* content_;
};

}  // namespace vorel
