#include "detail/ConversationDetailView.h"

#include <QHBoxLayout>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "detail/CostPlotView.h"
#include "detail/DetailTimeline.h"
#include "detail/SummaryField.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "reports/ConversationSearchField.h"
#include "reports/TagEditor.h"
#include "shell/AppModel.h"
#include "shell/Formatting.h"
#include "shell/InlineField.h"
#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

void setTextColor(QWidget* w, const QColor& c) { BrandColor::setTextColor(w, c); }

QFont sectionTitleFont() {
    QFont f = BrandFont::sans(10, QFont::Medium);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return f;
}

QVBoxLayout* bareColumn(QWidget* on = nullptr) {
    auto* column = new QVBoxLayout(on);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return column;
}

}  // namespace

ConversationDetailView::ConversationDetailView(AppModel& model, QWidget* parent) : QWidget(parent), app_(model) {
    setObjectName(QStringLiteral("conversationDetail"));
    // As narrow as the main window's content column may be: the window
    // never has to widen for the details.
    setMinimumSize(560, 420);
    setAutoFillBackground(true);

    auto* root = bareColumn(this);
    root->addLayout(buildHeader());
    root->addWidget(new Hairline);
    stack_ = new QStackedWidget;
    root->addWidget(stack_, 1);
    empty_ = plainLabel(QStringLiteral("No conversations recorded yet."), QStringLiteral("empty"), BrandFont::sans(13));
    empty_->setAlignment(Qt::AlignCenter);
    stack_->addWidget(empty_);
    stack_->addWidget(buildSections());
    connectSignals();

    // Start on the newest conversation.
    for (const SessionRow& r : app_.model().allRows()) rowIds_.push_back(r.id);
    if (!rowIds_.empty()) setSelectedId(qs(rowIds_.front()));
    applyColors();
    updateContent();
}

// Caption and name on the left, the search field on the right, aligned on
// their bottom edges.
QHBoxLayout* ConversationDetailView::buildHeader() {
    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 16, 20, 16);
    header->setSpacing(14);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    caption_ = plainLabel(QStringLiteral("CONVERSATION DETAILS"), QStringLiteral("caption"), sectionTitleFont());
    name_ = new InlineField(app_.meta(), InlineField::Edits::name, QStringLiteral("Topic"),
                            BrandFont::sans(19, QFont::DemiBold), &BrandColor::text);
    name_->setObjectName(QStringLiteral("nameField"));
    titles->addWidget(caption_);
    titles->addWidget(name_);
    header->addLayout(titles, 1);
    search_ = new ConversationSearchField(app_);
    header->addWidget(search_, 0, Qt::AlignBottom);
    return header;
}

// The sections sit in a scroll area that only scrolls when the window is
// too short for the plot, the details and a usable timeline together;
// otherwise the timeline takes all the height the sections above leave.
QScrollArea* ConversationDetailView::buildSections() {
    scroll_ = BrandColor::verticalScrollArea(true);
    scroll_->setObjectName(QStringLiteral("detailScroll"));
    scroll_->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    auto* sections = bareColumn(content);
    scroll_->setWidget(content);

    plotHeader_ = addSectionHeader(sections, QStringLiteral("Cost plot"), 12);
    plotBox_ = new CollapsibleBox(buildPlotBody());
    sections->addWidget(plotBox_);
    sections->addWidget(new Hairline);

    detailsHeader_ = addSectionHeader(sections, QStringLiteral("Details"), 10);
    detailsBox_ = new CollapsibleBox(buildDetailsBody());
    sections->addWidget(detailsBox_);
    sections->addWidget(new Hairline);

    timelineHeader_ = addSectionHeader(sections, QStringLiteral("Timeline"), 10);
    addTimeline(sections);
    return scroll_;
}

// A section's title line, 20 in from both sides, `pad` above and below.
AccordionHeader* ConversationDetailView::addSectionHeader(QVBoxLayout* sections, const QString& title, int pad) {
    auto* header = new AccordionHeader(title);
    auto* box = new QVBoxLayout;
    box->setContentsMargins(20, pad, 20, pad);
    box->addWidget(header);
    sections->addLayout(box);
    return header;
}

QWidget* ConversationDetailView::buildPlotBody() {
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(20, 0, 20, 16);
    plot_ = new CostPlotView;
    // The plot keeps its full height; the timeline takes what is left.
    plot_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(plot_);
    return body;
}

// The overview (summary, chips, tags), the subagents and the activity.
QWidget* ConversationDetailView::buildDetailsBody() {
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(20, 0, 20, 14);
    layout->setSpacing(18);
    layout->addLayout(buildOverview());
    layout->addWidget(buildSubagentBox());
    layout->addLayout(buildActivity());
    return body;
}

QVBoxLayout* ConversationDetailView::buildOverview() {
    auto* overview = new QVBoxLayout;
    overview->setSpacing(10);
    summary_ = new SummaryLabel;
    overview->addWidget(summary_);
    summaryEdit_ = buildSummaryEditor();
    summaryEdit_->hide();
    overview->addWidget(summaryEdit_);
    overview->addLayout(buildChipRow());
    tags_ = new TagEditor(app_.meta(), QString());
    overview->addWidget(tags_);
    return overview;
}

// The summary's edit form: "Summary:" and the wrapping field side by side,
// then 1 px of room below, filled by an accent underline as wide as the row.
QWidget* ConversationDetailView::buildSummaryEditor() {
    auto* editor = new QWidget;
    auto* column = bareColumn(editor);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    summaryEditCaption_ = plainLabel(QStringLiteral("Summary:"), BrandFont::sans(13, QFont::DemiBold));
    // The field shows the note or the derived summary; every keystroke
    // stores the whole text as the note. While it has the focus, a refresh
    // never puts the store's trimmed text back into it.
    summaryField_ = new SummaryField(app_.meta(), QStringLiteral("Add a summary…"), BrandFont::sans(13),
                                     &BrandColor::textMuted);
    summaryField_->setObjectName(QStringLiteral("summaryField"));
    row->addWidget(summaryEditCaption_, 0, Qt::AlignTop);
    row->addWidget(summaryField_, 1, Qt::AlignTop);
    column->addLayout(row);
    summaryUnderline_ = new QWidget;
    summaryUnderline_->setFixedHeight(1);
    summaryUnderline_->setAutoFillBackground(true);
    column->addWidget(summaryUnderline_);
    return editor;
}

QHBoxLayout* ConversationDetailView::buildChipRow() {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    for (QLabel*& chip : chips_) {
        chip = plainLabel(QString(), QStringLiteral("chip"), BrandFont::sans(11, QFont::Medium));
        chip->hide();
        row->addWidget(chip, 0, Qt::AlignVCenter);
    }
    row->addStretch(1);
    return row;
}

// The title only; the lines are added as conversations need them.
QWidget* ConversationDetailView::buildSubagentBox() {
    subagentBox_ = new QWidget;
    subagentList_ = bareColumn(subagentBox_);
    subagentList_->setSpacing(8);
    subagentTitle_ = plainLabel(QStringLiteral("SUBAGENTS"), QStringLiteral("sectionTitle"), sectionTitleFont());
    subagentList_->addWidget(subagentTitle_);
    return subagentBox_;
}

QVBoxLayout* ConversationDetailView::buildActivity() {
    auto* activity = new QVBoxLayout;
    activity->setSpacing(8);
    activityTitle_ = plainLabel(QStringLiteral("ACTIVITY"), QStringLiteral("sectionTitle"), sectionTitleFont());
    stats_ = new StatsGrid;
    activity->addWidget(activityTitle_);
    activity->addWidget(stats_);
    return activity;
}

// The timeline widget carries its own chip bar, rule and list. While it is
// closed, a spacer takes its stretch.
void ConversationDetailView::addTimeline(QVBoxLayout* sections) {
    timeline_ = new DetailTimeline;
    timeline_->setMinimumHeight(kTimelineMinHeight);
    sections->addWidget(timeline_, 1);
    timelineSpacer_ = new QWidget;
    timelineSpacer_->hide();
    sections->addWidget(timelineSpacer_, 1);
}

void ConversationDetailView::connectSignals() {
    connect(plotHeader_, &AccordionHeader::toggled, this,
            [this](bool on) { setPlotExpanded(on, kSectionAnimationMs); });
    connect(detailsHeader_, &AccordionHeader::toggled, this,
            [this](bool on) { setDetailsExpanded(on, kSectionAnimationMs); });
    connect(timelineHeader_, &AccordionHeader::toggled, this,
            [this](bool on) { setTimelineExpanded(on, kSectionAnimationMs); });
    connect(plot_, &CostPlotView::eventClicked, this, &ConversationDetailView::onPlotClicked);
    connect(search_, &ConversationSearchField::picked, this, &ConversationDetailView::select);
    connect(summary_, &SummaryLabel::clicked, this, &ConversationDetailView::editSummary);
    connect(summaryField_, &SummaryField::submitted, this, &ConversationDetailView::endSummaryEdit);
    connect(summaryField_, &SummaryField::focusLost, this, &ConversationDetailView::endSummaryEdit);
    connect(&app_, &AppModel::refreshed, this, &ConversationDetailView::onRefreshed);
    connect(&app_, &AppModel::metaChanged, this, &ConversationDetailView::onMetaChanged);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this,
            &ConversationDetailView::applyColors);
}

ConversationDetailView::~ConversationDetailView() = default;

std::optional<SessionRow> ConversationDetailView::selectedRow() const {
    const auto& rows = app_.model().allRows();
    const std::string id = selectedId_.toStdString();
    for (const SessionRow& r : rows) {
        if (r.id == id) return r;
    }
    if (!rows.empty()) return rows.front();
    return std::nullopt;
}

void ConversationDetailView::select(const QString& rowId) {
    setSelectedId(rowId);
    updateContent();
}

void ConversationDetailView::setSelectedId(const QString& rowId) {
    if (selectedId_ == rowId) return;
    const bool another = !selectedId_.isEmpty();
    selectedId_ = rowId;
    search_->setSelectedId(rowId);
    // Another conversation opens at the top of the page, its plot, title
    // and mode picker in view.
    if (another) scroll_->verticalScrollBar()->setValue(0);
    // Another conversation opens with every section open and the summary
    // shown, not edited; plot mode, filters and highlight stay.
    setPlotExpanded(true);
    setDetailsExpanded(true);
    setTimelineExpanded(true);
    endSummaryEdit();
}

void ConversationDetailView::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    const auto& rows = app_.model().allRows();
    if (selectedId_.isEmpty() && !rows.empty()) select(qs(rows.front().id));
}

void ConversationDetailView::onRefreshed() {
    std::vector<std::string> ids;
    for (const SessionRow& r : app_.model().allRows()) ids.push_back(r.id);
    if (ids != rowIds_) {
        rowIds_ = std::move(ids);
        const std::string current = selectedId_.toStdString();
        // A conversation that left the list is replaced by the newest one;
        // new ones arriving do not move the selection.
        if (std::find(rowIds_.begin(), rowIds_.end(), current) == rowIds_.end())
            setSelectedId(rowIds_.empty() ? QString() : qs(rowIds_.front()));
    }
    updateContent();
}

void ConversationDetailView::onMetaChanged() {
    if (!row_) return;
    name_->refresh();
    tags_->refresh();
    updateSummary(*row_);
    updateDetailsTitle(*row_);
}

void ConversationDetailView::updateContent() {
    row_ = selectedRow();
    name_->setVisible(row_.has_value());
    search_->setVisible(!app_.model().allRows().empty());
    if (!row_) {
        detail_.reset();
        stack_->setCurrentWidget(empty_);
        return;
    }
    stack_->setCurrentWidget(scroll_);
    const SessionRow& row = *row_;

    // The cache hands back the same detail while no file changed; then the
    // plot and the timeline are left alone.
    auto detail = cache_.detail(row.transcriptPaths, row.sourceKind);
    if (detail != detail_) {
        detail_ = detail;
        plot_->setEvents(detail_->costEvents());
        timeline_->setEvents(detail_->events);
        stats_->setStats(detail_->stats);
    }

    name_->setRow(row.id, row.title);
    name_->refresh();
    if (tags_->rowId() != qs(row.id)) tags_->setRowId(qs(row.id));
    else tags_->refresh();
    updateSummary(row);
    updateDetailsTitle(row);

    updateChips(row);
    updateSubagents(row);
}

// Source, model (when known), tokens, total, itemized cost (when above 0).
void ConversationDetailView::updateChips(const SessionRow& row) {
    QStringList texts{qs(row.source)};
    if (const std::string model = row.primaryModel(); !model.empty()) texts << qs(model);
    texts << compactTokens(row.tokens) + QStringLiteral(" tok") << money(row.total);
    if (detail_->itemizedCost > 0) texts << QStringLiteral("itemized ") + money(detail_->itemizedCost);
    for (int i = 0; i < kFactChipCount; ++i) {
        QLabel* chip = chips_[static_cast<size_t>(i)];
        const bool shown = i < texts.size();
        if (shown && chip->text() != texts[i]) chip->setText(texts[i]);
        chip->setVisible(shown);
    }
}

// The lines are made once and reused; the ones past the row's subagents
// are hidden.
void ConversationDetailView::updateSubagents(const SessionRow& row) {
    subagentBox_->setVisible(!row.subagents.empty());
    while (subagentLines_.size() < row.subagents.size()) subagentLines_.push_back(addSubagentLine());
    for (size_t i = 0; i < subagentLines_.size(); ++i) {
        const bool shown = i < row.subagents.size();
        subagentLines_[i].row->setVisible(shown);
        if (!shown) continue;
        const SubagentRow& s = row.subagents[i];
        subagentLines_[i].name->setText(qs(s.name));
        subagentLines_[i].amount->setText(money(s.total) + QStringLiteral(" · ") + compactTokens(s.tokens) +
                                          QStringLiteral(" tok"));
    }
}

ConversationDetailView::SubagentLine ConversationDetailView::addSubagentLine() {
    SubagentLine line;
    line.row = new QWidget;
    auto* h = new QHBoxLayout(line.row);
    h->setContentsMargins(0, 0, 0, 0);
    line.arrow = new platform::SymbolView(QStringLiteral("arrow.turn.down.right"), &BrandColor::accent, 13);
    line.name = plainLabel(QString(), QStringLiteral("subagentName"), BrandFont::sans(12, QFont::Medium));
    line.amount = plainLabel(QString(), QStringLiteral("subagentAmount"), BrandFont::sansMonospacedDigits(12));
    h->addWidget(line.arrow, 0, Qt::AlignVCenter);
    h->addWidget(line.name, 0, Qt::AlignVCenter);
    h->addStretch(1);
    h->addWidget(line.amount, 0, Qt::AlignVCenter);
    subagentList_->addWidget(line.row);
    setTextColor(line.name, BrandColor::text());
    setTextColor(line.amount, BrandColor::textMuted());
    return line;
}

QString ConversationDetailView::derivedSummary(const SessionRow& row) const {
    if (detail_ && !detail_->summaries.empty() && !detail_->summaries.back().empty())
        return qs(detail_->summaries.back());
    if (detail_ && !detail_->generatedTitle.empty()) return qs(detail_->generatedTitle);
    if (std::string s = app_.meta().subtitle(row.id, row.title); !s.empty()) return qs(s);
    return QStringLiteral("No transcript summary found for this conversation.");
}

QString ConversationDetailView::shownSummary(const SessionRow& row) const {
    if (app_.meta().hasCustomSubtitle(row.id)) return qs(app_.meta().subtitle(row.id, ""));
    return derivedSummary(row);
}

void ConversationDetailView::updateSummary(const SessionRow& row) {
    const QString text = shownSummary(row);
    if (summary_->summary() != text) summary_->setSummary(text);
    summaryField_->setRow(row.id, text);
}

void ConversationDetailView::updateDetailsTitle(const SessionRow& row) {
    detailsHeader_->setTitle(isDetailsExpanded()
                                 ? QStringLiteral("Details")
                                 : QStringLiteral("Details · ") + isolated(app_.meta().topic(row.id, row.title)));
}

void ConversationDetailView::editSummary() {
    if (editingSummary_ || !row_) return;
    editingSummary_ = true;
    summaryField_->setRow(row_->id, shownSummary(*row_));
    summary_->hide();
    summaryEdit_->show();
    // The field takes the focus once it is on screen.
    QTimer::singleShot(0, summaryField_, [field = summaryField_] { field->setFocus(Qt::MouseFocusReason); });
}

void ConversationDetailView::endSummaryEdit() {
    if (!editingSummary_) return;
    editingSummary_ = false;
    summaryEdit_->hide();
    summary_->show();
    if (row_) updateSummary(*row_);
}

bool ConversationDetailView::isPlotExpanded() const { return plotHeader_->isExpanded(); }
bool ConversationDetailView::isDetailsExpanded() const { return detailsHeader_->isExpanded(); }
bool ConversationDetailView::isTimelineExpanded() const { return timelineHeader_->isExpanded(); }

// A section that opens again shows its content as new: the plot with its
// start unit and parts, the timeline scrolled to its top. What the screen
// itself keeps (plot mode, filters, highlight) stays.
void ConversationDetailView::setPlotExpanded(bool expanded, int animationMs) {
    if (expanded && !plotHeader_->isExpanded()) plot_->resetViewState();
    plotHeader_->setExpanded(expanded, animationMs);
    plotBox_->setOpen(expanded, animationMs);
}

void ConversationDetailView::setDetailsExpanded(bool expanded, int animationMs) {
    detailsHeader_->setExpanded(expanded, animationMs);
    detailsBox_->setOpen(expanded, animationMs);
    if (row_) updateDetailsTitle(*row_);
}

// The timeline takes the height left below the other sections, and so does
// the space in its place while it is closed: there is nothing to slide.
void ConversationDetailView::setTimelineExpanded(bool expanded, int animationMs) {
    if (expanded && !timelineHeader_->isExpanded()) timeline_->listView()->scrollToTop();
    timelineHeader_->setExpanded(expanded, animationMs);
    timeline_->setVisible(expanded);
    timelineSpacer_->setVisible(!expanded);
}

void ConversationDetailView::onPlotClicked(int eventId) {
    setDetailsExpanded(false, kSectionAnimationMs);
    setTimelineExpanded(true, kSectionAnimationMs);
    timeline_->addFilter(TimelineFilter::apiCalls);
    // Both delayed steps run on timers that belong to the screen: when the
    // screen goes first, they never run. Steps are not cancelled by a later
    // click; a click's clearing step only clears its own highlight.
    QTimer::singleShot(kScrollDelayMs, this, [this, eventId] {
        // In a short window the timeline may lie below the fold. The page
        // scrolls only as far as the call's whole row, where the list
        // brings it, so the plot above keeps its title and controls in view
        // as far as the window allows.
        constexpr int kRowMargin = 4;
        QRect row;
        if (timeline_->scrollToEvent(eventId, true, &row)) {
            QWidget* list = timeline_->listView()->viewport();
            const QRect shown = row.intersected(list->rect());
            const QPoint top = list->mapTo(scroll_->widget(), shown.topLeft());
            scroll_->ensureVisible(top.x(), top.y() + shown.height() / 2, 0, shown.height() / 2 + kRowMargin);
        }
        timeline_->setHighlightedEventId(eventId);
        QTimer::singleShot(kHighlightMs, this, [this, eventId] {
            if (timeline_->highlightedEventId() == eventId) timeline_->clearHighlight(kHighlightFadeMs);
        });
    });
}

AccordionHeader* ConversationDetailView::sectionHeader(Section section) const {
    switch (section) {
        case Section::plot: return plotHeader_;
        case Section::details: return detailsHeader_;
        case Section::timeline: return timelineHeader_;
    }
    return nullptr;
}

QStringList ConversationDetailView::chipTexts() const {
    QStringList out;
    for (QLabel* c : chips_) {
        if (!c->isHidden()) out << c->text();
    }
    return out;
}

QStringList ConversationDetailView::subagentTexts() const {
    QStringList out;
    for (const SubagentLine& l : subagentLines_) {
        if (!l.row->isHidden()) out << l.name->text() + QStringLiteral(" — ") + l.amount->text();
    }
    return out;
}

bool ConversationDetailView::isEmptyStateShown() const { return stack_->currentWidget() == empty_; }

void ConversationDetailView::applyColors() {
    BrandColor::setBackground(this, BrandColor::bg());
    setTextColor(caption_, BrandColor::textMuted());
    setTextColor(empty_, BrandColor::textMuted());
    setTextColor(subagentTitle_, BrandColor::textFaint());
    setTextColor(activityTitle_, BrandColor::textFaint());
    setTextColor(summaryEditCaption_, BrandColor::text());
    BrandColor::setBackground(summaryUnderline_, BrandColor::accent());
    for (QLabel* chip : chips_) {
        chip->setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 5px; padding: 4px 8px; }")
                                .arg(BrandColor::css(BrandColor::textMuted()), BrandColor::css(BrandColor::bgSubtle())));
    }
    for (const SubagentLine& l : subagentLines_) {
        setTextColor(l.name, BrandColor::text());
        setTextColor(l.amount, BrandColor::textMuted());
    }
    stats_->applyColors();
    summary_->setSummary(summary_->summary());
    update();
}

}  // namespace vorel
