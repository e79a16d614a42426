// The Details screen over a real cost model: which conversation it shows,
// picking another, the plot click and its delayed steps, refresh ticks that
// must not disturb what the user is typing, and its sliding sections.

#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <memory>

#include "detail/Accordion.h"
#include "detail/ConversationDetailView.h"
#include "detail/CostPlotView.h"
#include "detail/DetailTimeline.h"
#include "detail/SummaryField.h"
#include "engine/MetadataStore.h"
#include "reports/ConversationSearchField.h"
#include "reports/TagEditor.h"
#include "shell/InlineField.h"
#include "shell/MainWindow.h"
#include "shell/Theme.h"
#include "tests/GuiTestSupport.h"

namespace vorel {
namespace {

using test::kNoon;
using test::ModelTest;
using Section = ConversationDetailView::Section;

class DetailViewTest : public ModelTest {
protected:
    // Two conversations; "newer" has the later activity.
    void twoConversations() {
        claude("older", kNoon - std::chrono::hours{3}, 1);
        claude("newer", kNoon - std::chrono::hours{1}, 2);
    }
    // The screen over one conversation "only", shown at the given size.
    std::unique_ptr<ConversationDetailView> showOnly(int width = 800, int height = 700) {
        claude("only", kNoon - std::chrono::hours{1}, 1);
        auto view = std::make_unique<ConversationDetailView>(model());
        view->resize(width, height);
        test::showActive(*view);
        test::settle();
        return view;
    }
    // Clicks the plot's first call; returns its id.
    static int clickFirstCall(ConversationDetailView& view) {
        const int id = view.plot()->data().items().front().id;
        emit view.plot()->eventClicked(id);
        return id;
    }
    static bool highlights(ConversationDetailView& view, int id) {
        return test::waitFor([&] { return view.timeline()->highlightedEventId() == id; }, 2000);
    }
    // Opens the summary for editing and waits for its focus.
    static void editSummary(ConversationDetailView& view) {
        view.editSummary();
        ASSERT_TRUE(test::waitFor([&] { return view.summaryField()->hasFocus(); }));
    }
};

TEST_F(DetailViewTest, SelectionStartsAtNewestAndFollowsPicks) {
    ConversationDetailView view(model());
    view.resize(800, 700);
    view.show();
    // Before any conversation, only the caption and the empty text.
    EXPECT_TRUE(view.isEmptyStateShown());
    EXPECT_EQ(view.emptyLabel()->text(), QStringLiteral("No conversations recorded yet."));
    EXPECT_FALSE(view.nameField()->isVisible() || view.searchField()->isVisible());

    twoConversations();
    model().tick();
    EXPECT_FALSE(view.isEmptyStateShown());
    EXPECT_EQ(view.selectedId().toStdString(), "claude-code:newer");
    EXPECT_EQ(view.searchField()->selectedId(), view.selectedId());
    EXPECT_EQ(view.nameField()->text().toStdString(),
              model().meta().topic("claude-code:newer", view.selectedRow()->title));
    // One API call, priced: the plot and the counters carry it.
    EXPECT_EQ(view.plot()->data().items().size(), 1u);
    EXPECT_EQ(view.statsGrid()->texts().at(6), QStringLiteral("1 Token events"));
    // n columns need n * 118 + (n - 1) * 14 pixels; past eight, the extra
    // columns stay empty and the counters keep a column's width.
    const std::pair<int, int> columns[] = {{117, 1}, {249, 1}, {250, 2}, {1174, 9}};
    for (auto [width, n] : columns) EXPECT_EQ(view.statsGrid()->columnsFor(width), n) << width;

    // Closing sections, then picking another conversation reopens them and
    // shows its detail.
    view.sectionHeader(Section::plot)->click();
    view.sectionHeader(Section::details)->click();
    EXPECT_FALSE(view.isPlotExpanded() || view.isDetailsExpanded());
    // The closed section names the conversation, set apart from the caption.
    EXPECT_EQ(view.sectionHeader(Section::details)->title(),
              QStringLiteral("Details · \u2068") + view.nameField()->text() + QStringLiteral("\u2069"));
    const std::string older = "claude-code:older";
    emit view.searchField()->picked(QString::fromStdString(older));
    EXPECT_EQ(view.selectedId().toStdString(), older);
    EXPECT_TRUE(view.isPlotExpanded() && view.isDetailsExpanded());
    EXPECT_EQ(view.sectionHeader(Section::details)->title(), QStringLiteral("Details"));

    // A tick with the same rows keeps the pick.
    model().tick();
    EXPECT_EQ(view.selectedId().toStdString(), older);
}

// Each counter shows its own field of the stats, in the screen's order.
TEST(StatsGridTest, EachCounterShowsItsOwnField) {
    StatsGrid grid;
    grid.setStats({.messages = 1, .reasoning = 2, .toolCalls = 3, .toolResults = 4, .webSearches = 5, .patches = 6,
                   .tokenSnapshots = 7, .compactions = 8});
    EXPECT_EQ(grid.texts(), QStringList({"1 Messages", "2 Reasoning", "3 Tool calls", "4 Tool results",
                                         "5 Web searches", "6 Patches", "7 Token events", "8 Compactions"}));
}

TEST_F(DetailViewTest, PlotClickOpensTimelineHighlightsThenClearsOnlyItsOwnHighlight) {
    twoConversations();
    ConversationDetailView view(model());
    view.resize(800, 700);
    view.show();
    view.timeline()->setFilters({TimelineFilter::prompts});
    view.sectionHeader(Section::timeline)->click();
    ASSERT_FALSE(view.isTimelineExpanded());

    const int id = clickFirstCall(view);
    EXPECT_TRUE(view.isTimelineExpanded());
    EXPECT_FALSE(view.isDetailsExpanded());
    EXPECT_EQ(view.timeline()->filters(), TimelineFilters({TimelineFilter::prompts, TimelineFilter::apiCalls}));
    EXPECT_FALSE(view.timeline()->highlightedEventId());

    EXPECT_TRUE(highlights(view, id));
    EXPECT_TRUE(test::waitFor([&] { return !view.timeline()->highlightedEventId(); }, 4000));

    // Another highlight set meanwhile is not cleared by the click's step.
    clickFirstCall(view);
    ASSERT_TRUE(highlights(view, id));
    view.timeline()->setHighlightedEventId(id + 1000);
    test::spin(ConversationDetailView::kHighlightMs + 300);
    EXPECT_EQ(view.timeline()->highlightedEventId(), id + 1000);
}

TEST_F(DetailViewTest, DelayedStepsDieWithTheScreen) {
    auto view = showOnly();
    clickFirstCall(*view);
    view.reset();  // leaving the section before the steps fire
    test::spin(ConversationDetailView::kScrollDelayMs + 100);  // would crash on a dangling screen

    auto again = std::make_unique<ConversationDetailView>(model());
    again->show();
    ASSERT_TRUE(highlights(*again, clickFirstCall(*again)));
    again.reset();  // before the clearing step
    test::spin(ConversationDetailView::kHighlightMs + 100);
}

TEST_F(DetailViewTest, TicksKeepWhatIsBeingTypedAndALongSummaryGrowsItsField) {
    auto shown = showOnly(700, 700);
    ConversationDetailView& view = *shown;
    const std::string id = "claude-code:only";

    // The store trims "New " to "New"; the focused field keeps the blank.
    view.nameField()->setFocus();
    ASSERT_TRUE(test::waitFor([&] { return view.nameField()->hasFocus(); }));
    view.nameField()->setText(QStringLiteral("New "));
    emit view.nameField()->textEdited(view.nameField()->text());
    EXPECT_EQ(model().meta().topic(id, ""), "New");
    model().tick();
    EXPECT_EQ(view.nameField()->text(), QStringLiteral("New "));

    // The summary field likewise. A click puts the cursor after the shown
    // text; one character stores that text plus the character as the note.
    const QString derived = view.summaryLabel()->summary();
    editSummary(view);
    EXPECT_EQ(view.summaryField()->text(), derived);
    QTest::keyClicks(view.summaryField(), QStringLiteral("!"));
    EXPECT_EQ(QString::fromStdString(model().meta().subtitle(id, "")), derived + QStringLiteral("!"));
    // Another window becoming active does not end the edit.
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(view.summaryField(), &away);
    EXPECT_TRUE(view.isEditingSummary());
    view.summaryField()->selectAll();
    QTest::keyClicks(view.summaryField(), QStringLiteral("My note "));
    EXPECT_TRUE(model().meta().hasCustomSubtitle(id));
    model().tick();
    EXPECT_EQ(view.summaryField()->text(), QStringLiteral("My note "));
    // Shift+Return breaks the line, Return submits.
    QTest::keyClick(view.summaryField(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(view.isEditingSummary());
    QTest::keyClicks(view.summaryField(), QStringLiteral("more"));
    QTest::keyClick(view.summaryField(), Qt::Key_Return);
    EXPECT_FALSE(view.isEditingSummary());
    EXPECT_EQ(view.summaryLabel()->summary(), QStringLiteral("My note \nmore"));

    // Deleting all the text removes the note. A long note grows the field:
    // every line is shown, and the chips below make room for it.
    editSummary(view);
    view.summaryField()->selectAll();
    QTest::keyClick(view.summaryField(), Qt::Key_Delete);
    EXPECT_FALSE(model().meta().hasCustomSubtitle(id));
    test::settle();
    const int oneLine = view.summaryField()->height();
    QTest::keyClicks(view.summaryField(), QStringLiteral("word ").repeated(60));
    test::settle();
    EXPECT_GE(view.summaryField()->height(), 3 * oneLine);
    EXPECT_EQ(view.summaryField()->verticalScrollBar()->maximum(), 0);
    auto* chip = view.findChild<QLabel*>(QStringLiteral("chip"));
    ASSERT_TRUE(chip);
    EXPECT_GE(chip->mapTo(&view, QPoint(0, 0)).y(),
              view.summaryField()->mapTo(&view, QPoint(0, view.summaryField()->height())).y());
    // Emptied, the field shows the derived summary again once the edit ends,
    // here by the focus moving away.
    view.summaryField()->selectAll();
    QTest::keyClick(view.summaryField(), Qt::Key_Delete);
    view.nameField()->setFocus();
    ASSERT_TRUE(test::waitFor([&] { return !view.isEditingSummary(); }));
    EXPECT_EQ(view.summaryField()->text(), derived);
}

TEST_F(DetailViewTest, ReopenedSectionsStartAfreshButTheScreenKeepsItsOwnState) {
    auto view = showOnly();
    CostPlotView* plot = view->plot();
    plot->setMode(CostPlotMode::itemized);
    plot->setUnit(CostUnit::turns);
    plot->togglePart(CostPart::input);
    view->sectionHeader(Section::plot)->click();
    view->sectionHeader(Section::plot)->click();
    // The plot's own unit and parts start again; the mode is the screen's.
    EXPECT_EQ(plot->unit(), CostUnit::calls);
    EXPECT_EQ(plot->selectedParts(), allCostParts());
    EXPECT_EQ(plot->mode(), CostPlotMode::itemized);
    // A section open all along keeps them.
    plot->setUnit(CostUnit::turns);
    view->sectionHeader(Section::details)->click();
    EXPECT_EQ(plot->unit(), CostUnit::turns);
}

TEST_F(DetailViewTest, ShortWindowScrollsTheSectionsInsteadOfSqueezingThem) {
    auto shown = showOnly(700, 420);
    ConversationDetailView& view = *shown;
    // The plot keeps the height it draws its axis and legend in, and the
    // timeline keeps room for a few rows; the sections scroll as a whole.
    EXPECT_EQ(view.plot()->height(), view.plot()->sizeHint().height());
    EXPECT_GE(view.timeline()->height(), ConversationDetailView::kTimelineMinHeight);
    auto* scroll = view.findChild<QScrollArea*>(QStringLiteral("detailScroll"));
    ASSERT_TRUE(scroll);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);

    // A plot click in a window a little short brings the call into view but
    // scrolls the page no further: the plot keeps its mode picker in view.
    view.resize(700, 600);
    test::settle();
    ASSERT_GT(scroll->verticalScrollBar()->maximum(), 0);
    ASSERT_TRUE(highlights(view, clickFirstCall(view)));
    QWidget* list = view.timeline()->listView()->viewport();
    const int listMiddle = list->mapTo(scroll->widget(), list->rect().center()).y();
    const int top = scroll->verticalScrollBar()->value();
    EXPECT_LE(top, view.plot()->mapTo(scroll->widget(), QPoint(0, 0)).y());
    EXPECT_LT(listMiddle, top + scroll->viewport()->height());

    // Tall enough, nothing scrolls and the timeline takes what is left.
    view.resize(700, 1400);
    test::settle();
    EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_GT(view.timeline()->height(), 2 * ConversationDetailView::kTimelineMinHeight);
}

TEST_F(DetailViewTest, APlotClickShowsTheWholeCallAndAnotherConversationOpensAtTheTop) {
    // Many calls, the last one clicked: the list cannot bring it to its
    // middle, and the page must scroll to show all of its row.
    std::string lines = test::claudeUser("Work on many");
    for (int i = 0; i < 40; ++i) {
        lines += test::claudeReply("r" + std::to_string(i), 1000 + i,
                                   test::isoUtc(kNoon - std::chrono::minutes{90 - i}));
    }
    put("claude/p/many.jsonl", lines, 2);
    claude("other", kNoon - std::chrono::hours{3}, 1);
    ConversationDetailView view(model());
    for (int height : {640, 420}) {
        SCOPED_TRACE(height);
        view.resize(700, height);
        test::showActive(view);
        test::settle();
        auto* scroll = view.findChild<QScrollArea*>(QStringLiteral("detailScroll"));
        ASSERT_TRUE(scroll);
        scroll->verticalScrollBar()->setValue(0);
        const int id = view.plot()->data().items().back().id;
        emit view.plot()->eventClicked(id);
        ASSERT_TRUE(highlights(view, id));
        test::spin(400);  // the list's scroll
        QListView* list = view.timeline()->listView();
        const QRect row = list->visualRect(view.timeline()->model()->index(view.timeline()->model()->rowOfEvent(id)));
        ASSERT_TRUE(row.isValid());
        const QRect onPage(list->viewport()->mapTo(scroll->viewport(), row.topLeft()), row.size());
        EXPECT_TRUE(scroll->viewport()->rect().contains(onPage))
            << onPage.y() << "+" << onPage.height() << " in " << scroll->viewport()->height();
    }
    // Scrolled down, another pick opens at the top.
    ASSERT_GT(view.findChild<QScrollArea*>(QStringLiteral("detailScroll"))->verticalScrollBar()->value(), 0);
    emit view.searchField()->picked(QStringLiteral("claude-code:other"));
    EXPECT_EQ(view.findChild<QScrollArea*>(QStringLiteral("detailScroll"))->verticalScrollBar()->value(), 0);
}

// The main window's narrowest content column holds the screen with many tags:
// opening the section never widens the window.
TEST_F(DetailViewTest, LaysOutInTheMainWindowsNarrowestContentColumnWithManyTags) {
    for (const char* t : {"frontend", "backend", "infrastructure", "release notes", "urgent", "design review", "q3"})
        store.addTag("claude-code:only", t);
    auto shown = showOnly();
    ConversationDetailView& view = *shown;
    EXPECT_LE(std::max(view.minimumWidth(), view.minimumSizeHint().width()), MainWindow::kNarrowestScreen);
    view.resize(MainWindow::kNarrowestScreen, 700);
    test::settle();
    EXPECT_EQ(view.width(), MainWindow::kNarrowestScreen);
    for (QWidget* w : {static_cast<QWidget*>(view.searchField()), static_cast<QWidget*>(view.tagEditor())}) {
        const QRect at(w->mapTo(&view, QPoint(0, 0)), w->size());
        EXPECT_LE(at.right(), view.width() - 20) << w->metaObject()->className();
    }
}

// A section's title line and body box: toggles that slide and turn, and a
// body that is cut, never squeezed, while it slides.
TEST(AccordionTest, HeaderReportsTheWantedStateAndTurnsItsChevron) {
    AccordionHeader header(QStringLiteral("Cost plot"));
    QSignalSpy toggled(&header, &AccordionHeader::toggled);
    header.click();
    // The click asks; the owner decides and sets the state.
    EXPECT_EQ(QList<QVariantList>(toggled), QList<QVariantList>({{false}}));
    EXPECT_TRUE(header.isExpanded());

    header.setExpanded(false, 200);
    EXPECT_TRUE(test::waitFor([&] { return header.chevronAngle() > 0 && header.chevronAngle() < 90; }, 1000));
    EXPECT_TRUE(test::waitFor([&] { return header.chevronAngle() == 0; }, 1000));
    header.setExpanded(true);
    EXPECT_EQ(header.chevronAngle(), 90);
}

TEST(AccordionTest, BoxSlidesItsBodyAndHidesWhenClosed) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* body = new QLabel(QStringLiteral("line\nline\nline\nline"));
    auto* box = new CollapsibleBox(body);
    layout->addWidget(box);
    layout->addStretch(1);
    window.resize(300, 400);
    window.show();
    test::settle();
    const int full = box->height();
    ASSERT_GT(full, 40);

    box->setOpen(false, 200);
    // Part way, the body keeps its height and the box cuts it.
    ASSERT_TRUE(test::waitFor([&] { return box->height() > 0 && box->height() < full - 5; }, 1000));
    EXPECT_EQ(body->height(), full);
    EXPECT_TRUE(test::waitFor([&] { return box->isHidden(); }, 1000));

    // Reopening half way through a close turns back from where it is.
    box->setOpen(true, 200);
    EXPECT_TRUE(box->isVisible());
    box->setOpen(false, 200);
    box->setOpen(true, 200);
    EXPECT_TRUE(test::waitFor([&] { return box->height() == full; }, 1000));

    // A body that grows makes the box grow.
    body->setText(QStringLiteral("line\nline\nline\nline\nline\nline"));
    EXPECT_TRUE(test::waitFor([&] { return box->height() > full; }, 1000));
    EXPECT_EQ(body->height(), box->height());
}

// The summary field tells the screen when an edit ends, by its signals: a
// screen deleted with the field in edit, as a window of its own, hears
// nothing from it while going, when what it reacts with is already gone.
TEST_F(DetailViewTest, AScreenDeletedWhileItsSummaryIsEditedHearsNothingFromTheField) {
    auto view = showOnly();
    editSummary(*view);
    view->summaryField()->selectAll();
    QTest::keyClicks(view->summaryField(), QStringLiteral("note"));
    QObject listener;
    int heard = 0;
    QObject::connect(view->summaryField(), &SummaryField::focusLost, &listener, [&] { ++heard; });
    QObject::connect(view->summaryField(), &SummaryField::submitted, &listener, [&] { ++heard; });
    view.reset();
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(store.subtitle("claude-code:only", ""), "note");
}

}  // namespace
TEST(SummaryField, AMenuOpenedFromTheKeyboardLeavesTheNoteBeingWritten) {
    MetadataStore store("");
    QWidget window;
    auto* v = new QVBoxLayout(&window);
    auto* bar = new QMenuBar;
    bar->addMenu(QStringLiteral("&Edit"));
    v->setMenuBar(bar);
    auto* field = new SummaryField(store, QStringLiteral("Add a note"), BrandFont::sans(13), &BrandColor::text);
    auto* other = new QLineEdit;
    v->addWidget(field);
    v->addWidget(other);
    field->setRow("claude-code:s1", QString());
    test::showActive(window);
    QSignalSpy lost(field, &SummaryField::focusLost);

    // The menu bar takes the focus while a menu opened with Alt and its
    // letter is open, and gives it back: the note goes on where it was,
    // its trailing blank too.
    field->setFocus();
    QTest::keyClicks(field, "one ");
    bar->setFocus(Qt::MenuBarFocusReason);
    EXPECT_TRUE(field->isEditing());
    field->setFocus(Qt::MenuBarFocusReason);
    QTest::keyClicks(field, "two");
    EXPECT_EQ(field->text(), "one two");
    EXPECT_EQ(store.subtitle("claude-code:s1", ""), "one two");
    EXPECT_EQ(lost.count(), 0);
    // From the menus on to another widget, the edit ends.
    bar->setFocus(Qt::MenuBarFocusReason);
    other->setFocus();
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(lost.count(), 1);
}

}  // namespace vorel
