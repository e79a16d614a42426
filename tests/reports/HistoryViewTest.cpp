#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include "GuiTestSupport.h"
#include "HistoryRow.h"
#include "HistoryView.h"
#include "InlineField.h"
#include "ReportControls.h"
#include "TagEditor.h"
#include "Theme.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::EnvVar;
using vorel::test::kNoon;
using vorel::test::utc;

namespace {

SessionRow conversation(const std::string& id, TimePoint last, double total = 1.0, double today = 0) {
    SessionRow r;
    r.id = "claude-code:" + id;
    r.source = "Claude Code";
    r.title = "Work on " + id;
    r.project = "vorel";
    r.total = total;
    r.today = today;
    r.startTime = last - minutes{30};
    r.lastActivity = last;
    r.models = {{"opus 4 8", total, false}};
    return r;
}

std::vector<std::string> shortIds(const std::vector<std::string>& ids) {
    std::vector<std::string> out;
    for (const std::string& id : ids) out.push_back(id.substr(id.find(':') + 1));
    return out;
}

std::vector<std::string> idsOf(const std::vector<HistoryView::DayGroup>& groups) {
    std::vector<std::string> out;
    for (const auto& g : groups)
        for (const SessionRow& r : g.rows) out.push_back(r.id);
    return shortIds(out);
}

// ---------------------------------------------------------------------------
// Grouping and ordering: pure functions over rows, in a fixed time zone.

TEST(HistoryGroupsTest, DaysAndRowsByLastActivityLatestFirstOrEarliestFirst) {
    EnvVar tz("TZ", "UTC");
    // Given in an order that is neither; "b" began the day before.
    SessionRow b = conversation("b", utc(2026, 7, 5, 9));
    b.startTime = utc(2026, 7, 4, 22);
    std::vector<SessionRow> rows{b, conversation("d", utc(2026, 7, 3, 7)), conversation("a", utc(2026, 7, 5, 11)),
                                 conversation("c", utc(2026, 7, 3, 20))};
    auto desc = HistoryView::groups(rows, SortDirection::descending);
    EXPECT_EQ(idsOf(desc), (std::vector<std::string>{"a", "b", "c", "d"}));
    ASSERT_EQ(desc.size(), 2u);
    EXPECT_EQ(desc[0].day, utc(2026, 7, 5));
    auto asc = HistoryView::groups(rows, SortDirection::ascending);
    EXPECT_EQ(idsOf(asc), (std::vector<std::string>{"d", "c", "b", "a"}));
    EXPECT_EQ(asc[0].day, utc(2026, 7, 3));
    EXPECT_TRUE(HistoryView::groups({}, SortDirection::descending).empty());
}

TEST(HistoryGroupsTest, EqualLastActivityKeepsTheGivenOrderInBothDirections) {
    EnvVar tz("TZ", "UTC");
    const TimePoint t = utc(2026, 7, 5, 10);
    std::vector<SessionRow> rows{conversation("x", t), conversation("early", t - hours{1}), conversation("y", t),
                                 conversation("late", t + hours{1}), conversation("z", t)};
    EXPECT_EQ(idsOf(HistoryView::groups(rows, SortDirection::descending)),
              (std::vector<std::string>{"late", "x", "y", "z", "early"}));
    // Not the descending order reversed: the ties stay x, y, z.
    EXPECT_EQ(idsOf(HistoryView::groups(rows, SortDirection::ascending)),
              (std::vector<std::string>{"early", "x", "y", "z", "late"}));

    // Enough ties, among other rows, that a sort which is not stable would
    // shuffle them.
    std::vector<SessionRow> crowd;
    std::vector<std::string> tied;
    for (int i = 0; i < 60; ++i) {
        if (i % 3 == 0) {
            crowd.push_back(conversation("o" + std::to_string(i), t + minutes{i}));
        } else {
            crowd.push_back(conversation("t" + std::to_string(i), t));
            tied.push_back("t" + std::to_string(i));
        }
    }
    for (SortDirection d : kAllSortDirections) {
        std::vector<std::string> order = idsOf(HistoryView::groups(crowd, d));
        std::vector<std::string> ties;
        for (const std::string& id : order)
            if (id[0] == 't') ties.push_back(id);
        EXPECT_EQ(ties, tied);
    }
}

TEST(HistoryGroupsTest, DaysFollowTheCalendarAcrossDaylightSavingChanges) {
    {
        // 29 March 2026 in Berlin has 23 hours: 00:00 CET (23:00 UTC the day
        // before) to 00:00 CEST (22:00 UTC).
        EnvVar tz("TZ", "Europe/Berlin");
        auto groups = HistoryView::groups(
            {conversation("after", utc(2026, 3, 29, 22, 30)), conversation("before", utc(2026, 3, 29, 21, 30)),
             conversation("first", utc(2026, 3, 28, 23, 10))},
            SortDirection::descending);
        ASSERT_EQ(groups.size(), 2u);
        EXPECT_EQ(groups[0].day, utc(2026, 3, 29, 22));
        EXPECT_EQ(idsOf({groups[0]}), std::vector<std::string>{"after"});
        EXPECT_EQ(groups[1].day, utc(2026, 3, 28, 23));
        EXPECT_EQ(idsOf({groups[1]}), (std::vector<std::string>{"before", "first"}));
    }
    {
        // In Santiago, 6 September 2026 has no midnight: clocks jump from
        // 00:00 to 01:00 (04:00 UTC), and the day is 23 hours long.
        EnvVar tz("TZ", "America/Santiago");
        auto groups = HistoryView::groups(
            {conversation("next", utc(2026, 9, 7, 3, 30)), conversation("late", utc(2026, 9, 7, 2, 50)),
             conversation("early", utc(2026, 9, 6, 4, 30)), conversation("eve", utc(2026, 9, 6, 3, 30))},
            SortDirection::descending);
        ASSERT_EQ(groups.size(), 3u);
        EXPECT_EQ(idsOf({groups[0]}), std::vector<std::string>{"next"});
        EXPECT_EQ(groups[1].day, utc(2026, 9, 6, 4));
        EXPECT_EQ(idsOf({groups[1]}), (std::vector<std::string>{"late", "early"}));
        EXPECT_EQ(idsOf({groups[2]}), std::vector<std::string>{"eve"});
        EXPECT_EQ(HistoryView::dayLabel(groups[1].day, utc(2026, 9, 20, 15)), "Sunday, Sep 6");
    }
}

// ---------------------------------------------------------------------------
// Day captions and the count line.

TEST(DayLabelTest, TodayYesterdayWeekdayThisYearAndTheYearOtherwise) {
    EnvVar tz("TZ", "UTC");
    test::ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    const TimePoint now = utc(2026, 7, 5, 12);
    EXPECT_EQ(HistoryView::dayLabel(utc(2026, 7, 5), now), "Today");
    EXPECT_EQ(HistoryView::dayLabel(utc(2026, 7, 4), now), "Yesterday");
    EXPECT_EQ(HistoryView::dayLabel(utc(2026, 3, 6), now), "Friday, Mar 6");
    EXPECT_EQ(HistoryView::dayLabel(utc(2025, 3, 6), now), "Mar 6, 2025");
    // New Year's Eve seen on New Year's Day.
    EXPECT_EQ(HistoryView::dayLabel(utc(2025, 12, 31), utc(2026, 1, 1, 9)), "Yesterday");
    EXPECT_EQ(HistoryView::dayLabel(utc(2025, 12, 30), utc(2026, 1, 1, 9)), "Dec 30, 2025");
    // Monday 30 March 2026, 00:30 in Berlin: Sunday was 23 hours long.
    EnvVar berlin("TZ", "Europe/Berlin");
    EXPECT_EQ(HistoryView::dayLabel(utc(2026, 3, 28, 23, 5), utc(2026, 3, 29, 22, 30)), "Yesterday");
    EXPECT_EQ(HistoryView::dayLabel(utc(2026, 3, 28, 22, 55), utc(2026, 3, 29, 22, 30)), "Saturday, Mar 28");
    EXPECT_EQ(HistoryView::countLine(1234, 30000), "1234 of 30000 conversations · API-equivalent estimates");
}

TEST(HistoryRowTextTest, InfoLineJoinsProjectModelSubagentsStartAndAge) {
    EnvVar tz("TZ", "UTC");
    test::ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    const TimePoint now = utc(2026, 7, 5, 12);
    SessionRow r = conversation("a", now - minutes{5});
    r.startTime = utc(2026, 3, 6, 14, 5);
    r.models = {{"sonnet 4 5", 0.5, false}, {"opus 4 8", 2.0, false}};
    EXPECT_EQ(HistoryRow::infoLine(r, now), "vorel · opus 4 8 · started Mar 6, 2:05 PM · active 5m ago");
    r.subagents.resize(1);
    EXPECT_EQ(HistoryRow::infoLine(r, now), "vorel · opus 4 8 · 1 subagent · started Mar 6, 2:05 PM · active 5m ago");
    r.subagents.resize(3);
    EXPECT_EQ(HistoryRow::infoLine(r, now),
              "vorel · opus 4 8 · 3 subagents · started Mar 6, 2:05 PM · active 5m ago");
    // No models: straight from the project to the start.
    r.models.clear();
    r.subagents.clear();
    EXPECT_EQ(HistoryRow::infoLine(r, now), "vorel · started Mar 6, 2:05 PM · active 5m ago");
    // No project: no lone separator in front.
    r.project.clear();
    EXPECT_EQ(HistoryRow::infoLine(r, now), "started Mar 6, 2:05 PM · active 5m ago");
}

// ---------------------------------------------------------------------------
// The screen, over rows handed in as the model's, at noon on 5 July 2026
// (UTC).

class HistoryViewTest : public test::ModelTest {
protected:
    HistoryView& shown(const std::vector<SessionRow>& rows, double grandTotal = 100) {
        view = std::make_unique<HistoryView>(model());
        view->resize(780, 640);
        view->showRows(rows, grandTotal);
        test::showActive(*view);
        return *view;
    }

    void pickRange(ReportDateRange r) {
        auto* box = view->rangeControls()->findChild<QComboBox*>();
        box->setCurrentIndex(box->findData(static_cast<int>(r)));
    }
    void pickOrder(SortDirection d) { view->orderPicker()->setCurrentIndex(view->orderPicker()->findData(static_cast<int>(d))); }
    void setCustom(QDate start, QDate end) {
        auto edits = view->rangeControls()->findChildren<QDateEdit*>();
        ASSERT_EQ(edits.size(), 2);
        edits[0]->setDate(start);
        edits[1]->setDate(end);
    }
    std::vector<std::string> shownIds() const { return shortIds(view->shownIds()); }

    // The row's two amounts lie exactly under the TODAY and TOTAL captions.
    void expectUnderCaptions(HistoryRow* row) {
        ASSERT_NE(row, nullptr);
        test::settle();
        auto span = [&](QWidget* w) {
            QPoint at = w->mapTo(view.get(), QPoint(0, 0));
            return std::make_pair(at.x(), at.x() + w->width());
        };
        int found = 0;
        for (QLabel* caption : view->findChildren<QLabel*>()) {
            if (caption->text() == "TODAY") {
                EXPECT_EQ(span(caption), span(row->todayLabel()));
                ++found;
            } else if (caption->text() == "TOTAL") {
                EXPECT_EQ(span(caption), span(row->totalLabel()));
                ++found;
            }
        }
        EXPECT_EQ(found, 2);
    }

    // `n` conversations, one an hour back from noon.
    static std::vector<SessionRow> many(int n) {
        std::vector<SessionRow> rows;
        for (int i = 0; i < n; ++i) rows.push_back(conversation("c" + std::to_string(i), kNoon - hours{i}));
        return rows;
    }

    std::unique_ptr<HistoryView> view;
};

TEST_F(HistoryViewTest, ListsDaysUnderUpperCasedCaptionsInEitherOrderWithCountAndLifetime) {
    auto& v = shown({conversation("now", kNoon - minutes{1}, 2, 2), conversation("morning", kNoon - hours{3}),
                     conversation("yesterday", kNoon - hours{20}), conversation("march", utc(2026, 3, 6, 10)),
                     conversation("last-year", utc(2025, 3, 6, 10))},
                    57.63);
    EXPECT_EQ(v.dayCaptions(), (QStringList{"TODAY", "YESTERDAY", "FRIDAY, MAR 6", "MAR 6, 2025"}));
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"now", "morning", "yesterday", "march", "last-year"}));
    EXPECT_EQ(v.countLabel()->text(), "5 of 5 conversations · API-equivalent estimates");
    EXPECT_EQ(v.lifetimeLabel()->text(), "$57.63");

    EXPECT_EQ(v.orderPicker()->currentText(), "Descending");
    pickOrder(SortDirection::ascending);
    EXPECT_EQ(v.direction(), SortDirection::ascending);
    EXPECT_EQ(v.dayCaptions(), (QStringList{"MAR 6, 2025", "FRIDAY, MAR 6", "YESTERDAY", "TODAY"}));
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"last-year", "march", "yesterday", "morning", "now"}));
}

TEST_F(HistoryViewTest, WindowsFilterByLastActivityInWholeLocalDaysAndAnEmptyOneSaysSo) {
    shown({conversation("today", kNoon - hours{2}), conversation("midnight", utc(2026, 7, 5)),
           conversation("yesterday", utc(2026, 7, 4, 23, 59)), conversation("six-back", utc(2026, 6, 29, 0, 1)),
           conversation("seven-back", utc(2026, 6, 28, 23)), conversation("29-back", utc(2026, 6, 6, 1)),
           conversation("30-back", utc(2026, 6, 5, 12)), conversation("future", utc(2026, 7, 6, 0))},
          9);
    EXPECT_EQ(shownIds().size(), 8u);
    auto edits = view->rangeControls()->findChildren<QDateEdit*>();
    ASSERT_EQ(edits.size(), 2);
    EXPECT_EQ(edits[0]->date(), QDate(2026, 6, 5));  // a month back
    EXPECT_EQ(edits[1]->date(), QDate(2026, 7, 5));
    pickRange(ReportDateRange::today);
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"today", "midnight"}));
    EXPECT_EQ(view->countLabel()->text(), "2 of 8 conversations · API-equivalent estimates");
    EXPECT_EQ(view->lifetimeLabel()->text(), "$9.00");
    pickRange(ReportDateRange::last7);
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"today", "midnight", "yesterday", "six-back"}));
    pickRange(ReportDateRange::last30);
    EXPECT_EQ(shownIds(),
              (std::vector<std::string>{"today", "midnight", "yesterday", "six-back", "seven-back", "29-back"}));
    // Custom dates in either order; both end days count whole.
    pickRange(ReportDateRange::custom);
    setCustom(QDate(2026, 6, 29), QDate(2026, 6, 5));
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"six-back", "seven-back", "29-back", "30-back"}));
    EXPECT_EQ(view->countLabel()->text(), "4 of 8 conversations · API-equivalent estimates");
    // A window with none: the message, with the header still.
    setCustom(QDate(2026, 5, 1), QDate(2026, 5, 2));
    EXPECT_TRUE(view->emptyLabel()->isVisible());
    EXPECT_FALSE(view->scrollArea()->isVisible());
    EXPECT_EQ(view->countLabel()->text(), "0 of 8 conversations · API-equivalent estimates");
    EXPECT_EQ(view->lifetimeLabel()->text(), "$9.00");
    setCustom(QDate(2026, 6, 29), QDate(2026, 6, 5));
    // Back to all time: everything again, the lifetime figure unchanged,
    // the custom dates kept.
    pickRange(ReportDateRange::all);
    EXPECT_EQ(edits[0]->date(), QDate(2026, 6, 29));
    EXPECT_EQ(shownIds().size(), 8u);
    EXPECT_TRUE(view->scrollArea()->isVisible());
    EXPECT_EQ(view->lifetimeLabel()->text(), "$9.00");

    // No conversations at all: the same message.
    view->showRows({}, 0);
    EXPECT_TRUE(view->emptyLabel()->isVisible());
    EXPECT_EQ(view->countLabel()->text(), "0 of 0 conversations · API-equivalent estimates");
}

TEST_F(HistoryViewTest, RowsShowTheirFiguresModelsSubagentsAndEstimates) {
    SessionRow mixed = conversation("mixed", kNoon - minutes{10}, 3.25, 0);
    mixed.models = {{"opus 4 8", 3.0, false}, {"haiku 4 5", 0.25, false}};
    mixed.subagents = {{"s1", "Agent explore", 0.1, 0, kNoon - hours{2}, 0, {}, {}}};
    SessionRow guess = conversation("guess", kNoon - minutes{20}, 0.004, 0.004);
    guess.models = {{"gpt 9", 0.004, true}};
    SessionRow plain = conversation("plain", kNoon - seconds{30}, 1, 1);
    plain.title = "Fix <b>bold</b> & friends";
    plain.project = "R&D";
    shown({plain, mixed, guess});

    HistoryRow* m = view->rowWidget(mixed.id);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->todayLabel()->text(), "—");
    EXPECT_EQ(m->totalLabel()->text(), "$3.25");
    EXPECT_EQ(m->modelLines(), (QStringList{"opus 4 8 · $3.00", "haiku 4 5 · $0.25"}));
    EXPECT_EQ(m->subagentLines(), QStringList{"Agent explore · $0.10 · 2h ago"});
    EXPECT_FALSE(m->estBadge()->isVisible());
    EXPECT_FALSE(m->dot()->isLive());

    HistoryRow* g = view->rowWidget(guess.id);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->todayLabel()->text(), "<$0.01");
    EXPECT_EQ(g->totalLabel()->text(), "<$0.01");
    EXPECT_EQ(g->modelLines(), QStringList{"gpt 9 · <$0.01  ⚑ est"});
    EXPECT_TRUE(g->estBadge()->isVisible());
    EXPECT_TRUE(g->subagentLines().isEmpty());

    HistoryRow* p = view->rowWidget(plain.id);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->modelLines().isEmpty());
    EXPECT_TRUE(p->dot()->isLive());
    EXPECT_EQ(p->todayLabel()->text(), "$1.00");
    // Transcript text is plain text.
    EXPECT_EQ(p->noteField()->text(), "Fix <b>bold</b> & friends");
    EXPECT_TRUE(p->infoText().startsWith("R&D · opus 4 8 · "));

    expectUnderCaptions(p);
}

TEST_F(HistoryViewTest, AmountsStayUnderTheirCaptionsBesideAScrollBar) {
    std::vector<SessionRow> rows = many(40);
    shown(rows);
    ASSERT_TRUE(view->scrollArea()->verticalScrollBar()->isVisible());
    expectUnderCaptions(view->rowWidget(rows[0].id));
    // Down to one row, the scroll bar goes and the captions follow.
    view->showRows({rows[0]}, 1);
    test::settle();
    ASSERT_FALSE(view->scrollArea()->verticalScrollBar()->isVisible());
    expectUnderCaptions(view->rowWidget(rows[0].id));
}

TEST_F(HistoryViewTest, NameAndNoteFieldsWriteTheStoreFallBackWhenClearedAndFollowChangesElsewhere) {
    SessionRow r = conversation("edit", kNoon);
    r.title = "Refactor the billing module";
    store.ensureSuggestion(r.id, r.title);
    const std::string suggested = store.topic(r.id, r.title);
    shown({r});
    HistoryRow* w = view->rowWidget(r.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->nameField()->text().toStdString(), suggested);
    EXPECT_EQ(w->noteField()->text(), "Refactor the billing module");

    w->nameField()->setFocus(Qt::MouseFocusReason);
    w->nameField()->selectAll();
    QTest::keyClicks(w->nameField(), "Billing ");
    EXPECT_EQ(store.byId().at(r.id).name, "Billing");
    EXPECT_EQ(w->nameField()->text(), "Billing ");  // the blank being typed stays

    w->noteField()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(w->nameField()->text(), "Billing");  // focus left: the stored name
    w->noteField()->selectAll();
    QTest::keyClicks(w->noteField(), "waiting for review");
    EXPECT_EQ(store.byId().at(r.id).subtitle, "waiting for review");

    // Clearing both removes them: the suggested name and the title return.
    w->noteField()->selectAll();
    QTest::keyClick(w->noteField(), Qt::Key_Backspace);
    w->nameField()->setFocus(Qt::MouseFocusReason);
    w->nameField()->selectAll();
    QTest::keyClick(w->nameField(), Qt::Key_Backspace);
    EXPECT_FALSE(store.byId().at(r.id).name.has_value());
    EXPECT_FALSE(store.byId().at(r.id).subtitle.has_value());
    w->noteField()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(w->nameField()->text().toStdString(), suggested);
    w->nameField()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(w->noteField()->text(), "Refactor the billing module");

    // Changes made elsewhere (another screen) show on the row; a blank note
    // is the title.
    store.setSubtitle("keep", r.id);
    EXPECT_EQ(w->noteField()->text(), "keep");
    store.setSubtitle("   ", r.id);
    EXPECT_EQ(w->noteField()->text(), "Refactor the billing module");
    w->noteField()->setFocus(Qt::MouseFocusReason);
    store.setName("From the panel", r.id);
    EXPECT_EQ(w->nameField()->text(), "From the panel");
    store.addTag("release", r.id);
    ASSERT_EQ(w->tagEditor()->chips().size(), 1u);
    EXPECT_EQ(w->tagEditor()->chips()[0]->tag(), "release");
}

TEST_F(HistoryViewTest, ATickKeepsTheRowWidgetTheFocusAndWhatIsBeingTypedUntilTheRowLeaves) {
    std::vector<SessionRow> rows = many(6);
    shown(rows);
    HistoryRow* w = view->rowWidget(rows[2].id);
    ASSERT_NE(w, nullptr);
    w->nameField()->setFocus(Qt::MouseFocusReason);
    w->nameField()->selectAll();
    QTest::keyClicks(w->nameField(), "Release notes ");

    // The next pass: costs moved, a new conversation arrived on top.
    rows[2].total = 7.5;
    rows.insert(rows.begin(), conversation("new", kNoon));
    clock->advance(seconds{2});
    view->showRows(rows, 200);

    EXPECT_EQ(view->rowWidget(rows[3].id), w);
    EXPECT_TRUE(w->nameField()->hasFocus());
    EXPECT_EQ(w->nameField()->text(), "Release notes ");
    EXPECT_EQ(w->totalLabel()->text(), "$7.50");
    EXPECT_EQ(shownIds().front(), "new");
    QTest::keyClicks(w->nameField(), "v2");
    EXPECT_EQ(store.byId().at(rows[3].id).name, "Release notes v2");

    // A row that leaves the list takes the focus without handing it on.
    rows.erase(rows.begin() + 3);
    view->showRows(rows, 200);
    EXPECT_EQ(shownIds().size(), 6u);
    for (const SessionRow& r : rows) {
        if (HistoryRow* other = view->rowWidget(r.id)) {
            EXPECT_FALSE(other->nameField()->hasFocus()) << r.id;
        }
    }
}

TEST_F(HistoryViewTest, ATickKeepsTheScrollPositionAndWhatIsInView) {
    std::vector<SessionRow> rows = many(200);
    shown(rows);
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 3000);
    bar->setValue(2000);
    view->showRows(rows, 100);
    EXPECT_EQ(bar->value(), 2000);

    // What is at the top of the view stays there when rows arrive above.
    auto topRow = [&] {
        HistoryRow* best = nullptr;
        for (const std::string& id : view->shownIds()) {
            HistoryRow* w = view->rowWidget(id);
            if (w && w->isVisible() && w->y() + w->height() > bar->value() && (!best || w->y() < best->y())) best = w;
        }
        return best;
    };
    HistoryRow* first = topRow();
    ASSERT_NE(first, nullptr);
    const int offset = first->y() - bar->value();
    rows.insert(rows.begin(), conversation("newer", kNoon + minutes{1}));
    rows.insert(rows.begin(), conversation("newest", kNoon + minutes{2}));
    view->showRows(rows, 100);
    EXPECT_EQ(topRow(), first);
    EXPECT_EQ(first->y() - bar->value(), offset);

    // At the very top, new rows show at the top.
    bar->setValue(0);
    rows.insert(rows.begin(), conversation("latest", kNoon + minutes{3}));
    view->showRows(rows, 100);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(HistoryViewTest, AnOpenPopoverSurvivesATick) {
    SessionRow guess = conversation("guess", kNoon, 2, 2);
    guess.models = {{"gpt 9", 2, true}};
    shown({guess});
    HistoryRow* w = view->rowWidget(guess.id);
    ASSERT_NE(w, nullptr);
    w->estBadge()->click();
    ASSERT_TRUE(w->estBadge()->isShown());
    ASSERT_TRUE(w->estBadge()->popover()->isVisible());
    EXPECT_TRUE(w->isInUse());
    guess.total = 3;
    view->showRows({guess}, 3);
    EXPECT_EQ(view->rowWidget(guess.id), w);
    EXPECT_TRUE(w->estBadge()->popover()->isVisible());

    // A row that stops being estimated takes its explanation with it.
    guess.models[0].estimated = false;
    view->showRows({guess}, 3);
    EXPECT_FALSE(w->estBadge()->isShown());
    EXPECT_FALSE(w->estBadge()->popover()->isVisible());
}

TEST_F(HistoryViewTest, RowsAreBuiltAsTheyScrollIntoViewAndLetGoFarAway) {
    std::vector<SessionRow> rows = many(3000);
    shown(rows, 1000);
    EXPECT_EQ(view->shownIds().size(), 3000u);
    EXPECT_LT(view->builtRowCount(), 40);
    EXPECT_EQ(view->rowWidget(rows[2999].id), nullptr);

    // A name being edited stays, focused, however far the list scrolls.
    HistoryRow* editing = view->rowWidget(rows[1].id);
    ASSERT_NE(editing, nullptr);
    editing->nameField()->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(editing->nameField(), "x");

    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    // Scrolled through the first 500 rows as a user would, the event loop
    // running between steps, then to the end.
    const int rowHeight = view->rowWidget(rows[0].id)->height();
    for (int v = 0; v <= 500 * rowHeight; v += 400) {
        bar->setValue(v);
        QCoreApplication::processEvents();
    }
    bar->setValue(bar->maximum());
    HistoryRow* last = view->rowWidget(rows[2999].id);
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->isVisible());
    EXPECT_LE(view->builtRowCount(), 300);
    EXPECT_EQ(view->rowWidget(rows[1].id), editing);
    EXPECT_TRUE(editing->nameField()->hasFocus());

    // Nothing above the last row but the list's bottom space below it.
    EXPECT_EQ(last->y() + last->height() + 1 + 16, view->scrollArea()->widget()->height());
}

}  // namespace
