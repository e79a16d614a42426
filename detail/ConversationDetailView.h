#pragma once
// The Details screen: one conversation at a time. A header with the
// conversation's editable name and a search field to pick another, then
// three sections that open and close by their title lines: the cost plot,
// the details (summary or the user's note, fact chips, tags, subagents and
// activity counters) and the timeline of events.
//
// The screen is built once. On every refresh tick and annotation change it
// updates its widgets in place; the detail cache makes an unchanged
// conversation free to ask for again. A click in the plot opens the
// timeline on the clicked API call and highlights it for a moment; the
// delayed steps run on timers owned by the screen, so they die with it.

#include <QAbstractButton>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "Accordion.h"
#include "ConversationDetail.h"
#include "ConversationDetailCache.h"
#include "SessionRow.h"

class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace vorel {

class AppModel;
class ConversationSearchField;
class CostPlotView;
class DetailTimeline;
class InlineField;
class SummaryField;
class TagEditor;

// The summary line in its display form: "Summary: " then the text,
// wrapping; a click asks to edit it.
class SummaryLabel : public QLabel {
    Q_OBJECT
public:
    explicit SummaryLabel(QWidget* parent = nullptr);
    void setSummary(const QString& text);
    const QString& summary() const { return summary_; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    QString summary_;
};

// Eight activity counters in as many columns of at least 118 px as fit.
class StatsGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinColumn = 118;
    static constexpr int kColumnGap = 14;
    static constexpr int kRowGap = 6;

    explicit StatsGrid(QWidget* parent = nullptr);
    void setStats(const ConversationStats& stats);
    // The counter texts, in order ("12 Messages").
    QStringList texts() const;
    int columnsFor(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void applyColors();

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void place();
    struct Cell {
        QLabel* value;
        QLabel* label;
    };
    std::vector<Cell> cells_;
};

class ConversationDetailView : public QWidget {
    Q_OBJECT
public:
    // The delays of a plot click: the scroll, then the highlight's end.
    static constexpr int kScrollDelayMs = 250;
    static constexpr int kHighlightMs = 1600;
    static constexpr int kHighlightFadeMs = 600;
    // How long a section takes to open or close.
    static constexpr int kSectionAnimationMs = 200;
    // The least height the open timeline gets (chips and a few rows); below
    // it the sections scroll as a whole.
    static constexpr int kTimelineMinHeight = 220;

    explicit ConversationDetailView(AppModel& model, QWidget* parent = nullptr);
    ~ConversationDetailView() override;

    // The row id the user picked ("" before any conversation exists).
    const QString& selectedId() const { return selectedId_; }
    // Shows the conversation `rowId` (what a pick in the search field does).
    void select(const QString& rowId);
    // The conversation shown: the picked one, else the newest, else none.
    std::optional<SessionRow> selectedRow() const;

    // What a click on the plot does with the clicked event's id.
    void onPlotClicked(int eventId);

    bool isPlotExpanded() const;
    bool isDetailsExpanded() const;
    bool isTimelineExpanded() const;
    bool isEditingSummary() const { return editingSummary_; }
    // Opens the summary's edit form and gives its field the focus.
    void editSummary();

    // The parts, for tests.
    InlineField* nameField() const { return name_; }
    ConversationSearchField* searchField() const { return search_; }
    CostPlotView* plot() const { return plot_; }
    DetailTimeline* timeline() const { return timeline_; }
    TagEditor* tagEditor() const { return tags_; }
    StatsGrid* statsGrid() const { return stats_; }
    SummaryLabel* summaryLabel() const { return summary_; }
    SummaryField* summaryField() const { return summaryField_; }
    AccordionHeader* sectionHeader(int index) const;
    // The chips' texts, in order.
    QStringList chipTexts() const;
    // The subagent lines' texts ("name — amount"), in order.
    QStringList subagentTexts() const;
    bool isEmptyStateShown() const;
    QLabel* emptyLabel() const { return empty_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void onRefreshed();
    void onMetaChanged();
    // Puts the row, its detail and the annotations into the widgets.
    void updateContent();
    void updateSummary(const SessionRow& row);
    void updateDetailsTitle(const SessionRow& row);
    void setSelectedId(const QString& rowId);
    // Open or close a section, sliding over `animationMs` when above 0.
    void setDetailsExpanded(bool expanded, int animationMs = 0);
    void setTimelineExpanded(bool expanded, int animationMs = 0);
    void setPlotExpanded(bool expanded, int animationMs = 0);
    void endSummaryEdit();
    QString derivedSummary(const SessionRow& row) const;
    QString shownSummary(const SessionRow& row) const;
    void applyColors();

    AppModel& app_;
    ConversationDetailCache cache_;
    std::shared_ptr<const ConversationDetail> detail_;
    std::optional<SessionRow> row_;
    std::vector<std::string> rowIds_;
    QString selectedId_;
    bool editingSummary_ = false;

    QLabel* caption_;
    InlineField* name_;
    ConversationSearchField* search_;
    QStackedWidget* stack_;
    QScrollArea* scroll_;
    QLabel* empty_;
    AccordionHeader* plotHeader_;
    CollapsibleBox* plotBox_;
    CostPlotView* plot_;
    AccordionHeader* detailsHeader_;
    CollapsibleBox* detailsBox_;
    SummaryLabel* summary_;
    QWidget* summaryEdit_;
    QLabel* summaryEditCaption_;
    SummaryField* summaryField_;
    QWidget* summaryUnderline_;
    std::vector<QLabel*> chips_;
    TagEditor* tags_;
    QWidget* subagentBox_;
    QLabel* subagentTitle_;
    QVBoxLayout* subagentList_;
    struct SubagentLine {
        QWidget* row;
        QWidget* arrow;
        QLabel* name;
        QLabel* amount;
    };
    std::vector<SubagentLine> subagentLines_;
    QLabel* activityTitle_;
    StatsGrid* stats_;
    AccordionHeader* timelineHeader_;
    DetailTimeline* timeline_;
    QWidget* timelineSpacer_;
};

}  // namespace vorel
