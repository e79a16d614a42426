#include "ConversationDetailView.h"

#include <QHBoxLayout>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "AppModel.h"
#include "Appearance.h"
#include "ConversationSearchField.h"
#include "CostPlotView.h"
#include "DetailTimeline.h"
#include "Formatting.h"
#include "InlineField.h"
#include "PlainLabel.h"
#include "SummaryField.h"
#include "Symbols.h"
#include "TagEditor.h"
#include "Theme.h"

namespace vorel {

namespace {

void setTextColor(QWidget* w, const QColor& c) { BrandColor::setTextColor(w, c); }

QFont sectionTitleFont() {
    QFont f = BrandFont::sans(10, QFont::Medium);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return f;
}

}  // namespace

// ---------------------------------------------------------------------------

SummaryLabel::SummaryLabel(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("summary"));
    setWordWrap(true);
    setTextFormat(Qt::RichText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setFont(BrandFont::sans(13));
}

void SummaryLabel::setSummary(const QString& text) {
    summary_ = text;
    // The text is shown as typed: every character is escaped before it is
    // put beside the bold caption.
    const QString strong = BrandColor::css(BrandColor::text());
    const QString muted = BrandColor::css(BrandColor::textMuted());
    setText(QStringLiteral("<span style=\"font-weight:600; color:%1\">Summary: </span>"
                           "<span style=\"color:%2; white-space:pre-wrap\">%3</span>")
                .arg(strong, muted, isolated(text).toHtmlEscaped()));
}

void SummaryLabel::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        emit clicked();
        e->accept();
        return;
    }
    QLabel::mousePressEvent(e);
}

// ---------------------------------------------------------------------------

namespace {
const char* const kStatLabels[8] = {"Messages",     "Reasoning",   "Tool calls",    "Tool results",
                                    "Web searches", "Patches",     "Token events",  "Compactions"};
}

StatsGrid::StatsGrid(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    for (const char* label : kStatLabels) {
        Cell cell{plainLabel(QStringLiteral("0"), BrandFont::sansMonospacedDigits(12, QFont::DemiBold), this),
                  plainLabel(QString::fromUtf8(label), BrandFont::sans(12), this)};
        cells_.push_back(cell);
    }
    applyColors();
}

void StatsGrid::setStats(const ConversationStats& s) {
    const int values[8] = {s.messages,    s.reasoning, s.toolCalls,      s.toolResults,
                           s.webSearches, s.patches,   s.tokenSnapshots, s.compactions};
    for (size_t i = 0; i < cells_.size(); ++i) {
        const QString text = QString::number(values[i]);
        if (cells_[i].value->text() != text) {
            cells_[i].value->setText(text);
            cells_[i].value->adjustSize();
        }
    }
    place();
}

QStringList StatsGrid::texts() const {
    QStringList out;
    for (const Cell& c : cells_) out << c.value->text() + QLatin1Char(' ') + c.label->text();
    return out;
}

int StatsGrid::columnsFor(int width) const {
    // n columns need n * 118 + (n - 1) * 14.
    const int n = (width + kColumnGap) / (kMinColumn + kColumnGap);
    // As many columns as fit, even more than there are counters: then the
    // extra ones stay empty.
    return std::max(n, 1);
}

int StatsGrid::heightForWidth(int width) const {
    const int cols = columnsFor(width);
    const int rows = (static_cast<int>(cells_.size()) + cols - 1) / cols;
    const int line = cells_.front().label->sizeHint().height();
    return rows * line + (rows - 1) * kRowGap;
}

QSize StatsGrid::sizeHint() const {
    const int w = 4 * kMinColumn + 3 * kColumnGap;
    return {w, heightForWidth(w)};
}

QSize StatsGrid::minimumSizeHint() const { return {kMinColumn, heightForWidth(kMinColumn)}; }

void StatsGrid::applyColors() {
    for (const Cell& c : cells_) {
        setTextColor(c.value, BrandColor::text());
        setTextColor(c.label, BrandColor::textMuted());
    }
}

void StatsGrid::resizeEvent(QResizeEvent*) { place(); }

void StatsGrid::place() {
    const int cols = columnsFor(width());
    const int colWidth = (width() - (cols - 1) * kColumnGap) / cols;
    const int line = cells_.front().label->sizeHint().height();
    for (size_t i = 0; i < cells_.size(); ++i) {
        const int col = static_cast<int>(i) % cols;
        const int row = static_cast<int>(i) / cols;
        const int x = col * (colWidth + kColumnGap);
        const int y = row * (line + kRowGap);
        const int vw = cells_[i].value->sizeHint().width();
        cells_[i].value->setGeometry(x, y, vw, line);
        cells_[i].label->setGeometry(x + vw + 4, y, std::max(0, colWidth - vw - 4), line);
    }
}

// ---------------------------------------------------------------------------

ConversationDetailView::ConversationDetailView(AppModel& model, QWidget* parent) : QWidget(parent), app_(model) {
    setObjectName(QStringLiteral("conversationDetail"));
    // As narrow as the main window's content column may be: the window
    // never has to widen for the details.
    setMinimumSize(560, 420);
    setAutoFillBackground(true);
    MetadataStore& meta = app_.meta();

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Header: caption and name on the left, the search field on the right,
    // aligned on their bottom edges.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 16, 20, 16);
    header->setSpacing(14);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    caption_ = plainLabel(QStringLiteral("CONVERSATION DETAILS"), QStringLiteral("caption"), sectionTitleFont());
    name_ = new InlineField(
        [this] {
            if (!row_) return QString();
            return qs(app_.meta().topic(row_->id, row_->title));
        },
        [this](const QString& text) {
            if (row_) app_.meta().setName(text.toStdString(), row_->id);
        },
        QStringLiteral("Topic"), BrandFont::sans(19, QFont::DemiBold), &BrandColor::text);
    name_->setObjectName(QStringLiteral("nameField"));
    titles->addWidget(caption_);
    titles->addWidget(name_);
    header->addLayout(titles, 1);
    search_ = new ConversationSearchField(app_);
    header->addWidget(search_, 0, Qt::AlignBottom);
    root->addLayout(header);
    root->addWidget(new Hairline);

    stack_ = new QStackedWidget;
    root->addWidget(stack_, 1);

    empty_ = plainLabel(QStringLiteral("No conversations recorded yet."), QStringLiteral("empty"), BrandFont::sans(13));
    empty_->setAlignment(Qt::AlignCenter);
    stack_->addWidget(empty_);

    // The sections sit in a scroll area that only scrolls when the window is
    // too short for the plot, the details and a usable timeline together;
    // otherwise the timeline takes all the height the sections above leave.
    scroll_ = BrandColor::verticalScrollArea(true);
    scroll_->setObjectName(QStringLiteral("detailScroll"));
    scroll_->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    scroll_->setWidget(content);
    stack_->addWidget(scroll_);

    // A section's title line, 20 in from both sides, `pad` above and below.
    auto addHeader = [v](const QString& title, int pad) {
        auto* header = new AccordionHeader(title);
        auto* box = new QVBoxLayout;
        box->setContentsMargins(20, pad, 20, pad);
        box->addWidget(header);
        v->addLayout(box);
        return header;
    };

    // Cost plot.
    plotHeader_ = addHeader(QStringLiteral("Cost plot"), 12);
    auto* plotBody = new QWidget;
    auto* plotLayout = new QVBoxLayout(plotBody);
    plotLayout->setContentsMargins(20, 0, 20, 16);
    plot_ = new CostPlotView;
    // The plot keeps its full height; the timeline takes what is left.
    plot_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    plotLayout->addWidget(plot_);
    plotBox_ = new CollapsibleBox(plotBody);
    v->addWidget(plotBox_);
    v->addWidget(new Hairline);

    // Details.
    detailsHeader_ = addHeader(QStringLiteral("Details"), 10);
    auto* detailsBody = new QWidget;
    auto* body = new QVBoxLayout(detailsBody);
    body->setContentsMargins(20, 0, 20, 14);
    body->setSpacing(18);

    auto* overview = new QVBoxLayout;
    overview->setSpacing(10);
    summary_ = new SummaryLabel;
    overview->addWidget(summary_);
    // The edit form: "Summary:" and the wrapping field side by side, then
    // 1 px of room below, filled by an accent underline as wide as the row.
    summaryEdit_ = new QWidget;
    auto* editBox = new QVBoxLayout(summaryEdit_);
    editBox->setContentsMargins(0, 0, 0, 0);
    editBox->setSpacing(0);
    auto* editRow = new QHBoxLayout;
    editRow->setContentsMargins(0, 0, 0, 0);
    editRow->setSpacing(5);
    summaryEditCaption_ = plainLabel(QStringLiteral("Summary:"), BrandFont::sans(13, QFont::DemiBold));
    // The field shows the note or the derived summary; every keystroke
    // stores the whole text as the note. While it has the focus, a refresh
    // never puts the store's trimmed text back into it.
    summaryField_ = new SummaryField([this] { return row_ ? shownSummary(*row_) : QString(); },
                                     [this](const QString& text) {
                                         if (row_) app_.meta().setSubtitle(text.toStdString(), row_->id);
                                     },
                                     QStringLiteral("Add a summary…"), BrandFont::sans(13), &BrandColor::textMuted);
    summaryField_->setObjectName(QStringLiteral("summaryField"));
    editRow->addWidget(summaryEditCaption_, 0, Qt::AlignTop);
    editRow->addWidget(summaryField_, 1, Qt::AlignTop);
    editBox->addLayout(editRow);
    summaryUnderline_ = new QWidget;
    summaryUnderline_->setFixedHeight(1);
    summaryUnderline_->setAutoFillBackground(true);
    editBox->addWidget(summaryUnderline_);
    summaryEdit_->hide();
    overview->addWidget(summaryEdit_);
    auto* chipRow = new QHBoxLayout;
    chipRow->setSpacing(8);
    for (int i = 0; i < 5; ++i) {
        QLabel* chip = plainLabel(QString(), QStringLiteral("chip"), BrandFont::sans(11, QFont::Medium));
        chip->hide();
        chips_.push_back(chip);
        chipRow->addWidget(chip, 0, Qt::AlignVCenter);
    }
    chipRow->addStretch(1);
    overview->addLayout(chipRow);
    tags_ = new TagEditor(meta, QString());
    overview->addWidget(tags_);
    body->addLayout(overview);

    subagentBox_ = new QWidget;
    subagentList_ = new QVBoxLayout(subagentBox_);
    subagentList_->setContentsMargins(0, 0, 0, 0);
    subagentList_->setSpacing(8);
    subagentTitle_ = plainLabel(QStringLiteral("SUBAGENTS"), QStringLiteral("sectionTitle"), sectionTitleFont());
    subagentList_->addWidget(subagentTitle_);
    body->addWidget(subagentBox_);

    auto* activity = new QVBoxLayout;
    activity->setSpacing(8);
    activityTitle_ = plainLabel(QStringLiteral("ACTIVITY"), QStringLiteral("sectionTitle"), sectionTitleFont());
    stats_ = new StatsGrid;
    activity->addWidget(activityTitle_);
    activity->addWidget(stats_);
    body->addLayout(activity);
    detailsBox_ = new CollapsibleBox(detailsBody);
    v->addWidget(detailsBox_);
    v->addWidget(new Hairline);

    // Timeline: the widget carries its own chip bar, rule and list.
    timelineHeader_ = addHeader(QStringLiteral("Timeline"), 10);
    timeline_ = new DetailTimeline;
    timeline_->setMinimumHeight(kTimelineMinHeight);
    v->addWidget(timeline_, 1);
    timelineSpacer_ = new QWidget;
    timelineSpacer_->hide();
    v->addWidget(timelineSpacer_, 1);

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

    // Start on the newest conversation.
    for (const SessionRow& r : app_.model().allRows()) rowIds_.push_back(r.id);
    if (!rowIds_.empty()) setSelectedId(qs(rowIds_.front()));
    applyColors();
    updateContent();
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
    selectedId_ = rowId;
    search_->setSelectedId(rowId);
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
    stack_->setCurrentIndex(1);
    const SessionRow& row = *row_;

    // The cache hands back the same detail while no file changed; then the
    // plot and the timeline are left alone.
    auto detail = cache_.detail(row.transcriptPaths, row.source);
    if (detail != detail_) {
        detail_ = detail;
        plot_->setEvents(detail_->costEvents());
        timeline_->setEvents(detail_->events);
        stats_->setStats(detail_->stats);
    }

    name_->refresh();
    if (tags_->rowId() != qs(row.id)) tags_->setRowId(qs(row.id));
    else tags_->refresh();
    updateSummary(row);
    updateDetailsTitle(row);

    // Chips: source, model (when known), tokens, total, itemized cost (when
    // above 0).
    QStringList chipTexts{qs(row.source)};
    if (const std::string model = row.primaryModel(); !model.empty()) chipTexts << qs(model);
    chipTexts << compactTokens(row.tokens) + QStringLiteral(" tok") << money(row.total);
    if (detail_->itemizedCost > 0) chipTexts << QStringLiteral("itemized ") + money(detail_->itemizedCost);
    for (size_t i = 0; i < chips_.size(); ++i) {
        const bool shown = i < static_cast<size_t>(chipTexts.size());
        if (shown && chips_[i]->text() != chipTexts[static_cast<int>(i)]) chips_[i]->setText(chipTexts[static_cast<int>(i)]);
        chips_[i]->setVisible(shown);
    }

    // Subagents: the lines are made once and reused.
    subagentBox_->setVisible(!row.subagents.empty());
    while (subagentLines_.size() < row.subagents.size()) {
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
        subagentLines_.push_back(line);
        setTextColor(line.name, BrandColor::text());
        setTextColor(line.amount, BrandColor::textMuted());
    }
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
    summaryField_->refresh();
}

void ConversationDetailView::updateDetailsTitle(const SessionRow& row) {
    detailsHeader_->setTitle(isDetailsExpanded()
                                 ? QStringLiteral("Details")
                                 : QStringLiteral("Details · ") + isolated(app_.meta().topic(row.id, row.title)));
}

void ConversationDetailView::editSummary() {
    if (editingSummary_ || !row_) return;
    editingSummary_ = true;
    summaryField_->refresh();
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
        // scrolls only as far as the middle of the list, where the call is
        // brought, so the plot above keeps its title and controls in view
        // as far as the window allows.
        constexpr int kRowMargin = 24;  // about half a timeline row
        QWidget* list = timeline_->listView()->viewport();
        const QPoint middle = list->mapTo(scroll_->widget(), list->rect().center());
        scroll_->ensureVisible(middle.x(), middle.y(), 0, kRowMargin);
        timeline_->scrollToEvent(eventId, true);
        timeline_->setHighlightedEventId(eventId);
        QTimer::singleShot(kHighlightMs, this, [this, eventId] {
            if (timeline_->highlightedEventId() == eventId) timeline_->clearHighlight(kHighlightFadeMs);
        });
    });
}

AccordionHeader* ConversationDetailView::sectionHeader(int index) const {
    switch (index) {
        case 0: return plotHeader_;
        case 1: return detailsHeader_;
        case 2: return timelineHeader_;
        default: return nullptr;
    }
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
