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
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "detail/Accordion.h"
#include "detail/ConversationDetail.h"
#include "detail/ConversationDetailCache.h"
#include "detail/StatsGrid.h"
#include "detail/SummaryLabel.h"
#include "engine/SessionRow.h"

class QHBoxLayout;
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

    // The sections, top to bottom.
    enum class Section { plot, details, timeline };

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
    AccordionHeader* sectionHeader(Section section) const;
    // The chips' texts, in order.
    QStringList chipTexts() const;
    // The subagent lines' texts ("name — amount"), in order.
    QStringList subagentTexts() const;
    bool isEmptyStateShown() const;
    QLabel* emptyLabel() const { return empty_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    // The parts of the screen, each built once by the constructor.
    QHBoxLayout* buildHeader();
    QScrollArea* buildSections();
    AccordionHeader* addSectionHeader(QVBoxLayout* sections, const QString& title, int pad);
    QWidget* buildPlotBody();
    QWidget* buildDetailsBody();
    QVBoxLayout* buildOverview();
    QWidget* buildSummaryEditor();
    QHBoxLayout* buildChipRow();
    QWidget* buildSubagentBox();
    QVBoxLayout* buildActivity();
    void addTimeline(QVBoxLayout* sections);
    void connectSignals();

    void onRefreshed();
    void onMetaChanged();
    // Puts the row, its detail and the annotations into the widgets.
    void updateContent();
    void updateSummary(const SessionRow& row);
    void updateDetailsTitle(const SessionRow& row);
    void updateChips(const SessionRow& row);
    void updateSubagents(const SessionRow& row);
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
    bool editingSummary_{};

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
    // The fact chips: source, model, tokens, total and itemized cost; the
    // ones a conversation has no fact for are hidden.
    static constexpr int kFactChipCount = 5;
    std::array<QLabel*, kFactChipCount> chips_{};
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
    SubagentLine addSubagentLine();
    std::vector<SubagentLine> subagentLines_;
    QLabel* activityTitle_;
    StatsGrid* stats_;
    AccordionHeader* timelineHeader_;
    DetailTimeline* timeline_;
    QWidget* timelineSpacer_;
};

}  // namespace vorel
