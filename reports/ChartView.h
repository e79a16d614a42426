#pragma once
// The Bar chart section: a control bar, then one row per bar, each a
// renamable title above a horizontal bar whose see-through part is the
// cost before today and whose solid end is today's cost, with the amount
// beside it; grouped by tag, the rows stand under one header per tag. A legend
// explains the colours. The only thing written is a conversation's name.
//
// Row widgets are built as they scroll into view and kept, one per bar,
// for as long as their bar is charted; every refresh updates them in place,
// so a name being typed, the pointer's hover and the scroll position all
// survive the two-second ticks.

#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "reports/ChartData.h"
#include "shell/RowWidgets.h"

class QComboBox;
class QLabel;
class QScrollArea;

namespace vorel {

class AppModel;
class DateRangeControls;
class InlineField;
class MetadataStore;

// The bar itself, 14 high and as wide as it is given. The total bar starts
// at the leading edge; today's bar ends where the total bar ends. Neither is
// ever narrower than 2 pixels.
class BarTrack : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 14;

    explicit BarTrack(QWidget* parent = nullptr);
    void setFractions(double totalFrac, double todayFrac);
    double totalFrac() const { return total_; }
    double todayFrac() const { return today_; }

    struct Geometry {
        QRectF total;
        QRectF today;  // empty when there is no cost today
    };
    // The two bars in a track `width` wide, left to right.
    static Geometry geometry(double width, double totalFrac, double todayFrac);
    // The fills of the cost before today and of today's, in the current
    // appearance; the earlier one is see-through.
    static QColor earlierColor();
    static QColor todayColor();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double total_ = 0;
    double today_ = 0;
};

// "costs split": marks a bar that shows one tag's share of a conversation
// with several tags; while the pointer is over it a note explains the split.
class SplitBadge : public QWidget {
    Q_OBJECT
public:
    explicit SplitBadge(QWidget* parent = nullptr);
    void setCount(int count);
    int count() const { return count_; }
    bool isHovered() const { return hover_; }
    // Ends the hover when the badge is no longer under the pointer (it was
    // scrolled or resized away), or moves the note along with it.
    void recheckHover();
    // The note, made when first shown.
    QWidget* popover() const { return popover_; }

    static QString noteText(int count);

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void paintEvent(QPaintEvent*) override;

private:
    void setHover(bool hover);
    void applyColors();

    int count_ = 0;
    bool hover_ = false;
    QLabel* icon_;
    QLabel* text_;
    QPointer<QWidget> popover_;
};

// One bar row: the conversation's name field (with the split badge when its
// cost is split), then the track and the amount.
class BarRow : public QWidget {
    Q_OBJECT
public:
    explicit BarRow(MetadataStore& meta, QWidget* parent = nullptr);

    // Shows `bar` against `maxValue`. The name is left alone while it is
    // being edited.
    void setBar(const BarItem& bar, double maxValue);
    const BarItem& bar() const { return bar_; }

    InlineField* nameField() const { return name_; }
    SplitBadge* badge() const { return badge_; }
    BarTrack* track() const { return track_; }
    QLabel* amountLabel() const { return amount_; }

private:
    void applyColors();

    BarItem bar_;
    double max_ = -1;
    bool placed_ = false;
    InlineField* name_;
    SplitBadge* badge_;
    BarTrack* track_;
    QLabel* amount_;
};

// A tag's header: the tag upper-cased on the leading side, the group's
// total on the trailing side, a rule below.
class TagHeader : public QWidget {
    Q_OBJECT
public:
    explicit TagHeader(QWidget* parent = nullptr);
    void setGroup(const TagGroup& group);
    // The tag upper-cased, whole; the label shows it cut to its width.
    const QString& tagText() const { return tagText_; }
    QLabel* tagLabel() const { return tag_; }
    QLabel* totalLabel() const { return total_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void showTag();
    void applyColors();

    QString tagText_;
    QLabel* tag_;
    QLabel* total_;
};

class ChartView : public QWidget {
    Q_OBJECT
public:
    explicit ChartView(AppModel& app, QWidget* parent = nullptr);

    // Everything again from the model, the store, the clock and the
    // controls; built rows are kept and updated in place.
    void refresh();

    const ChartOptions& options() const { return options_; }
    const ChartContent& content() const { return content_; }

    DateRangeControls* rangeControls() const { return range_; }
    QComboBox* groupPicker() const { return group_; }
    QComboBox* orderPicker() const { return order_; }
    QComboBox* directionPicker() const { return direction_; }
    // The labelled "Order" picker, shown only while ungrouped.
    QWidget* orderControl() const { return orderBox_; }
    QLabel* emptyLabel() const { return empty_; }
    QWidget* legend() const { return legend_; }
    QLabel* splitNote() const { return splitNote_; }
    QLabel* legendLabel() const { return legendText_; }
    // The legend's key to the two parts of a bar, worded from the colours
    // drawn in the current appearance.
    static QString legendKey();
    QScrollArea* scrollArea() const { return scroll_; }

    // The built row of a bar, by the bar's id; null when it has not been
    // built (it has not been scrolled into view) or is no longer charted.
    BarRow* rowFor(const std::string& barId) const;
    // The rows and headers now shown, top to bottom.
    std::vector<BarRow*> shownRows() const;
    std::vector<TagHeader*> shownHeaders() const;
    size_t builtRowCount() const;

    int rowHeight() const { return rowHeight_; }
    int headerHeight() const { return headerHeight_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    // One line of the list: a tag header or a bar.
    struct Entry {
        const TagGroup* group = nullptr;  // set for headers and grouped bars
        const BarItem* bar = nullptr;     // null for a header
        int y = 0;
        int height = 0;
    };
    // A bar's widget is kept by its conversation and, while grouped, its
    // tag (a conversation with several tags has a bar under each); one
    // ungrouped never stands for one grouped, whatever the texts hold.
    struct BarKey {
        std::optional<std::string> tag;  // none while ungrouped
        std::string rowId;
        bool operator==(const BarKey&) const = default;
    };
    struct BarKeyHash {
        size_t operator()(const BarKey& k) const;
    };
    static BarKey barKey(const Entry& e);

    QWidget* buildControls();
    QWidget* buildEmptyPane();
    QWidget* buildListPane();
    QWidget* buildLegend();
    void measureLines();
    void connectSignals();
    void readControls();
    // Builds, updates and positions the widgets of the lines in view, and
    // hides the others (except the one holding the keyboard focus).
    void placeRows();
    QWidget* widgetFor(const Entry& e);
    void fitCanvas();
    void recheckBadges();
    void applyColors();

    AppModel& app_;
    ChartOptions options_;
    ChartContent content_;
    std::vector<Entry> entries_;
    RowWidgets<BarKey, BarRow, std::monostate, BarKeyHash> bars_;
    RowWidgets<std::string, TagHeader> headers_;  // by tag
    std::vector<QWidget*> shown_;
    bool stale_ = false;
    int rowHeight_ = 0;
    int headerHeight_ = 0;
    int contentHeight_ = 0;

    DateRangeControls* range_;
    QComboBox* group_;
    QComboBox* order_;
    QComboBox* direction_;
    QWidget* orderBox_;
    QWidget* emptyPane_;
    QLabel* empty_;
    QWidget* listPane_;
    QScrollArea* scroll_;
    QWidget* canvas_;
    QWidget* legend_;
    QLabel* legendText_;
    QLabel* editHint_;
    QLabel* splitNote_;
};

}  // namespace vorel
