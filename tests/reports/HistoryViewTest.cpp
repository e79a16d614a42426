#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>

#include "reports/ChartView.h"
#include "reports/HistoryRow.h"
#include "reports/HistoryView.h"
#include "reports/ReportControls.h"
#include "reports/TagEditor.h"
#include "shell/InlineField.h"
#include "shell/Theme.h"
#include "shell/TodayRow.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::EnvVar;
using vorel::test::kNoon;
using vorel::test::utc;

namespace {

using Ids = std::vector<std::string>;

SessionRow conversation(const std::string& id, TimePoint last, double total = 1.0, double today = 0) {
    return {"claude-code:" + id, "Claude Code", "Work on " + id, "vorel", total, today, false, last - minutes{30},
            last, 0, {{"opus 4 8", total, false}}, {}, {}};
}

Ids shortIds(const Ids& ids) {
    Ids out;
    for (const std::string& id : ids) out.push_back(id.substr(id.find(':') + 1));
    return out;
}

Ids idsOf(const std::vector<HistoryView::DayGroup>& groups) {
    Ids out;
    for (const auto& g : groups)
        for (const SessionRow& r : g.rows) out.push_back(r.id);
    return shortIds(out);
}

TEST(HistoryGroupsTest, RowsOfEqualLastActivityKeepTheGivenOrderInBothDirections) {
    EnvVar tz("TZ", "UTC");
    // Enough ties, among other rows, that a sort which is not stable would
    // shuffle them: ascending is not descending reversed.
    const TimePoint t = utc(2026, 7, 5, 10);
    std::vector<SessionRow> crowd;
    Ids tied;
    for (int i = 0; i < 60; ++i) {
        const bool tie = i % 3 != 0;
        crowd.push_back(conversation((tie ? "t" : "o") + std::to_string(i), tie ? t : t + minutes{i - 31}));
        if (tie) tied.push_back("t" + std::to_string(i));
    }
    for (SortDirection d : kAllSortDirections) {
        Ids ties;
        for (const std::string& id : idsOf(HistoryView::groups(crowd, d)))
            if (id[0] == 't') ties.push_back(id);
        EXPECT_EQ(ties, tied);
    }
}

TEST(HistoryTextsTest, DayLabelsAndDaysAcrossDaylightSavingAndTheInfoLine) {
    EnvVar tz("TZ", "UTC");
    test::ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    const TimePoint now = utc(2026, 7, 5, 12);
    // New Year's Eve seen on New Year's Day; the day before, within the week but in another year.
    EXPECT_EQ(HistoryView::dayLabel(utc(2025, 12, 31), utc(2026, 1, 1, 9)), "Yesterday");
    EXPECT_EQ(HistoryView::dayLabel(utc(2025, 12, 30), utc(2026, 1, 1, 9)), "Dec 30, 2025");

    // The costliest model; subagents counted in the singular or plural.
    SessionRow r = conversation("a", now - minutes{5});
    r.startTime = utc(2026, 3, 6, 14, 5);
    r.models = {{"sonnet 4 5", 0.5, false}, {"opus 4 8", 2.0, false}};
    // The project and model are the transcript's, each set apart as one directional unit.
    for (const char* n : {"1 subagent", "3 subagents"}) {
        r.subagents.resize(n[0] - '0');
        EXPECT_EQ(HistoryRow::infoLine(r, now), QString("\u2068vorel\u2069 · \u2068opus 4 8\u2069 · ") + n +
                                                    " · started Mar 6, 2:05 PM · active 5m ago");
    }
    // Without models or project: no lone separator.
    r.models.clear();
    r.subagents.clear();
    r.project.clear();
    EXPECT_EQ(HistoryRow::infoLine(r, now), "started Mar 6, 2:05 PM · active 5m ago");

    // 29 March 2026 in Berlin has 23 hours: 00:00 CET (23:00 UTC the day
    // before) to 00:00 CEST (22:00 UTC).
    EnvVar berlin("TZ", "Europe/Berlin");
    auto groups = HistoryView::groups(
        {conversation("after", utc(2026, 3, 29, 22, 30)), conversation("before", utc(2026, 3, 29, 21, 30)),
         conversation("first", utc(2026, 3, 28, 23, 10))},
        SortDirection::descending);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].day, utc(2026, 3, 29, 22));
    EXPECT_EQ(groups[1].day, utc(2026, 3, 28, 23));
    EXPECT_EQ(idsOf({groups[1]}), (Ids{"before", "first"}));
    // Monday 30 March, 00:30: the 23-hour Sunday was yesterday.
    EXPECT_EQ(HistoryView::dayLabel(utc(2026, 3, 28, 23, 5), utc(2026, 3, 29, 22, 30)), "Yesterday");
    EXPECT_EQ(HistoryView::dayLabel(utc(2026, 3, 28, 22, 55), utc(2026, 3, 29, 22, 30)), "Saturday, Mar 28");
}

// Whether the text of `line` from `from` on is laid out left to right and
// after everything before it, in a paragraph of direction `direction`.
bool endsInOrder(const QString& line, qsizetype from, Qt::LayoutDirection direction) {
    QTextLayout layout(line, BrandFont::sans(11));
    QTextOption option;
    option.setTextDirection(direction);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine l = layout.createLine();
    l.setLineWidth(100000);
    layout.endLayout();
    qreal last = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        const qreal x = l.cursorToX(static_cast<int>(i));
        if (i > from && x <= last) return false;
        last = std::max(last, x);
    }
    return true;
}

TEST(HistoryTextsTest, TranscriptTextCannotReorderTheRestOfALine) {
    EnvVar tz("TZ", "UTC");
    test::ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    const TimePoint now = utc(2026, 7, 5, 12);
    const QString hebrew = QStringLiteral("\u05E4\u05E8\u05D5\u05D9\u05E7\u05D8");
    const struct {
        const char* what;
        std::string project, model;
    } cases[] = {
        {"an override in the project", "vo\u202Erel", "opus 4 8"},
        {"an isolate left open", hebrew.toStdString() + "\u2067vo", "opus 4 8"},
        {"an embedding in the model", "vorel", "opus\u202B 4 8"},
        {"right-to-left letters", hebrew.toStdString(), hebrew.toStdString() + " 4"},
    };
    for (const auto& c : cases) {
        SessionRow r = conversation("a", now - minutes{5});
        r.project = c.project;
        r.models = {{c.model, 2.0, false}};
        r.subagents.resize(2);
        for (Qt::LayoutDirection d : {Qt::LeftToRight, Qt::LayoutDirectionAuto}) {
            const QString info = HistoryRow::infoLine(r, now);
            EXPECT_TRUE(endsInOrder(info, info.indexOf(QStringLiteral(" · 2 subagents")), d)) << c.what;
            const QString model = HistoryRow::modelLineText(r.models[0]);
            EXPECT_TRUE(endsInOrder(model, model.indexOf(QStringLiteral(" · $2.00")), d)) << c.what;
            const QString meta = TodayRow::metaLine(r, now);
            EXPECT_TRUE(endsInOrder(meta, meta.indexOf(QStringLiteral(" · 2 sub")), d)) << c.what;
        }
    }
}

TEST(HistoryTextsTest, ACutInfoOrModelLineKeepsItsLastPieceWhole) {
    EnvVar tz("TZ", "UTC");
    test::ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    test::TempDir dir;
    MetadataStore store{dir.file("meta")};
    const TimePoint now = utc(2026, 7, 5, 12);
    SessionRow r = conversation("a", now - minutes{21});
    r.project = "customer-portal-payments-reconciliation-service";
    r.subagents.resize(2);
    r.models = {{"claude-sonnet-4-5-20250929-with-a-long-suffix", 0.5, false}, {"opus 4 8", 2.0, true}};
    HistoryRow row(r, store, now);
    row.resize(420, row.sizeHint().height());
    row.show();
    test::settle();
    // Too long for the row: the pieces before the age are cut, the age is
    // whole.
    const QString info = row.shownInfoText();
    ASSERT_NE(info, row.infoText()) << "the test needs a line that is cut";
    EXPECT_TRUE(info.endsWith(QStringLiteral(" · active 21m ago"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QChar(0x2026))) << info.toStdString();
    // A model line keeps its cost.
    const QStringList models = row.shownModelLines();
    ASSERT_EQ(models.size(), 2);
    EXPECT_TRUE(models[0].endsWith(QStringLiteral(" · $0.50"))) << models[0].toStdString();
    EXPECT_TRUE(models[0].contains(QChar(0x2026))) << models[0].toStdString();
    // Wide enough, nothing is cut.
    row.resize(1600, row.height());
    test::settle();
    EXPECT_EQ(row.shownInfoText(), row.infoText());
    EXPECT_EQ(row.shownModelLines(), row.modelLines());
}

// The screen, over rows handed in as the model's, at noon on 5 July 2026 (UTC).
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
    QList<QDateEdit*> dateEdits() const { return view->rangeControls()->findChildren<QDateEdit*>(); }
    Ids shownIds() const { return shortIds(view->shownIds()); }
    QString count() const { return view->countLabel()->text(); }
    static void retype(InlineField* field, const QString& text) {
        field->setFocus(Qt::MouseFocusReason);
        field->selectAll();
        QTest::keyClicks(field, text);
    }

    // The row's two amounts lie exactly under the TODAY and TOTAL captions,
    // and the TOTAL column under the lifetime figure.
    void expectUnderCaptions(HistoryRow* row) {
        ASSERT_NE(row, nullptr);
        test::settle();
        auto span = [&](QWidget* w) {
            QPoint at = w->mapTo(view.get(), QPoint(0, 0));
            return std::make_pair(at.x(), at.x() + w->width());
        };
        int found = 0;
        for (QLabel* caption : view->findChildren<QLabel*>()) {
            if (caption->text() == "TODAY" || caption->text() == "TOTAL") {
                EXPECT_EQ(span(caption), span(caption->text() == "TODAY" ? row->todayLabel() : row->totalLabel()));
                ++found;
            }
        }
        EXPECT_EQ(found, 2);
        // The lifetime figure ends where the TOTAL column does.
        EXPECT_EQ(span(view->lifetimeLabel()).second, span(row->totalLabel()).second);
    }

    // `n` conversations, one an hour back from noon.
    static std::vector<SessionRow> many(int n) {
        std::vector<SessionRow> rows;
        for (int i = 0; i < n; ++i) rows.push_back(conversation("c" + std::to_string(i), kNoon - hours{i}));
        return rows;
    }

    std::unique_ptr<HistoryView> view;
};

TEST_F(HistoryViewTest, ListsDaysOfLastActivityUnderUpperCasedCaptionsInEitherOrderWithCountAndLifetime) {
    SessionRow morning = conversation("morning", kNoon - hours{3});
    morning.startTime = kNoon - hours{30};  // began the day before: listed by its last activity
    auto& v = shown({conversation("now", kNoon - minutes{1}, 2, 2), morning,
                     conversation("yesterday", kNoon - hours{20}), conversation("march", utc(2026, 3, 6, 10)),
                     conversation("last-year", utc(2025, 3, 6, 10))},
                    57.63);
    EXPECT_EQ(v.dayCaptions(), (QStringList{"TODAY", "YESTERDAY", "FRIDAY, MAR 6", "MAR 6, 2025"}));
    EXPECT_EQ(shownIds(), (Ids{"now", "morning", "yesterday", "march", "last-year"}));
    EXPECT_EQ(count(), "5 of 5 conversations · API-equivalent estimates");
    EXPECT_EQ(v.lifetimeLabel()->text(), "$57.63");

    v.orderPicker()->setCurrentIndex(v.orderPicker()->findData(static_cast<int>(SortDirection::ascending)));
    EXPECT_EQ(v.dayCaptions(), (QStringList{"MAR 6, 2025", "FRIDAY, MAR 6", "YESTERDAY", "TODAY"}));
    EXPECT_EQ(shownIds(), (Ids{"last-year", "march", "yesterday", "morning", "now"}));
}

TEST_F(HistoryViewTest, WindowsFilterByLastActivityInWholeLocalDaysAndAnEmptyOneSaysSo) {
    shown({conversation("today", kNoon - hours{2}), conversation("midnight", utc(2026, 7, 5)),
           conversation("yesterday", utc(2026, 7, 4, 23, 59)), conversation("six-back", utc(2026, 6, 29, 0, 1)),
           conversation("seven-back", utc(2026, 6, 28, 23)), conversation("29-back", utc(2026, 6, 6, 1)),
           conversation("30-back", utc(2026, 6, 5, 12)), conversation("future", utc(2026, 7, 6, 0))},
          9);
    ASSERT_EQ(dateEdits().size(), 2);
    EXPECT_EQ(dateEdits()[0]->date(), QDate(2026, 6, 5));  // a month back
    pickRange(ReportDateRange::today);
    EXPECT_EQ(shownIds(), (Ids{"today", "midnight"}));
    pickRange(ReportDateRange::last7);
    EXPECT_EQ(shownIds(), (Ids{"today", "midnight", "yesterday", "six-back"}));
    pickRange(ReportDateRange::last30);
    EXPECT_EQ(shownIds(), (Ids{"today", "midnight", "yesterday", "six-back", "seven-back", "29-back"}));
    // Custom dates in either order; both end days count whole.
    pickRange(ReportDateRange::custom);
    dateEdits()[0]->setDate(QDate(2026, 6, 29));
    dateEdits()[1]->setDate(QDate(2026, 6, 5));
    EXPECT_EQ(shownIds(), (Ids{"six-back", "seven-back", "29-back", "30-back"}));
    // A window with none: the message, with the header and lifetime figure.
    dateEdits()[0]->setDate(QDate(2026, 5, 1));
    dateEdits()[1]->setDate(QDate(2026, 5, 2));
    EXPECT_TRUE(view->emptyLabel()->isVisible());
    EXPECT_EQ(count(), "0 of 8 conversations · API-equivalent estimates");
    EXPECT_EQ(view->lifetimeLabel()->text(), "$9.00");
    // Back to all time: everything again, the custom dates kept.
    pickRange(ReportDateRange::all);
    EXPECT_EQ(dateEdits()[0]->date(), QDate(2026, 5, 1));
    EXPECT_EQ(shownIds().size(), 8u);
}

TEST_F(HistoryViewTest, RowsShowTheirFiguresModelsSubagentsAndEstimatesWhoseExplanationSurvivesATick) {
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
    EXPECT_EQ(m->modelLines(), (QStringList{"\u2068opus 4 8\u2069 · $3.00", "\u2068haiku 4 5\u2069 · $0.25"}));
    EXPECT_EQ(m->subagentLines(), QStringList{"Agent explore · $0.10 · 2h ago"});
    EXPECT_FALSE(m->estBadge()->isVisible());

    HistoryRow* g = view->rowWidget(guess.id);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->todayLabel()->text(), "<$0.01");
    EXPECT_EQ(g->modelLines(), QStringList{"\u2068gpt 9\u2069 · <$0.01  ⚑ est"});
    EXPECT_TRUE(g->estBadge()->isVisible());

    HistoryRow* p = view->rowWidget(plain.id);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->modelLines().isEmpty());
    EXPECT_TRUE(p->dot()->isLive());
    // Transcript text is plain text.
    EXPECT_EQ(p->noteField()->text(), "Fix <b>bold</b> & friends");
    EXPECT_TRUE(p->infoText().startsWith("\u2068R&D\u2069 · \u2068opus 4 8\u2069 · "));
    expectUnderCaptions(p);

    // The explanation of an estimate, once open, survives a tick; it goes
    // when the row stops being estimated.
    g->estBadge()->click();
    ASSERT_TRUE(g->estBadge()->popover()->isVisible());
    guess.total = 3;
    view->showRows({plain, mixed, guess}, 100);
    EXPECT_EQ(view->rowWidget(guess.id), g);
    EXPECT_TRUE(g->estBadge()->popover()->isVisible());
    guess.models[0].estimated = false;
    view->showRows({plain, mixed, guess}, 100);
    EXPECT_FALSE(g->estBadge()->isShown());
    EXPECT_FALSE(g->estBadge()->popover()->isVisible());
}

TEST_F(HistoryViewTest, NameAndNoteFieldsWriteTheStoreSurviveATickFallBackWhenClearedAndFollowChangesElsewhere) {
    std::vector<SessionRow> rows = many(4);
    const std::string id = rows[1].id;
    rows[1].title = "Refactor the billing module";
    store.ensureSuggestion(id, rows[1].title);
    const std::string suggested = store.topic(id, rows[1].title);
    shown(rows);
    HistoryRow* w = view->rowWidget(id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->nameField()->text().toStdString(), suggested);
    retype(w->nameField(), "Billing ");
    EXPECT_EQ(store.byId().at(id).name, "Billing");

    // The next pass: costs moved, a new conversation arrived on top. The row
    // keeps its widget, the focus and the blank being typed.
    rows[1].total = 7.5;
    rows.insert(rows.begin(), conversation("new", kNoon));
    clock->advance(seconds{2});
    view->showRows(rows, 200);
    EXPECT_EQ(view->rowWidget(id), w);
    EXPECT_TRUE(w->nameField()->hasFocus());
    EXPECT_EQ(w->nameField()->text(), "Billing ");
    EXPECT_EQ(w->totalLabel()->text(), "$7.50");
    QTest::keyClicks(w->nameField(), "v2 ");
    EXPECT_EQ(store.byId().at(id).name, "Billing v2");
    retype(w->noteField(), "waiting for review");
    EXPECT_EQ(w->nameField()->text(), "Billing v2");  // focus left: the stored name
    EXPECT_EQ(store.byId().at(id).subtitle, "waiting for review");

    // Clearing both removes them: the suggested name and the title return.
    w->noteField()->selectAll();
    QTest::keyClick(w->noteField(), Qt::Key_Backspace);
    retype(w->nameField(), "");
    QTest::keyClick(w->nameField(), Qt::Key_Backspace);
    EXPECT_FALSE(store.byId().at(id).name.has_value());
    EXPECT_FALSE(store.byId().at(id).subtitle.has_value());
    w->noteField()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(w->nameField()->text().toStdString(), suggested);
    w->nameField()->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(w->noteField()->text(), "Refactor the billing module");

    // Changes made elsewhere (another screen) show on the row.
    store.setSubtitle(id, "keep");
    EXPECT_EQ(w->noteField()->text(), "keep");

    // A row that leaves the list takes the focus without handing it on.
    rows.erase(rows.begin() + 2);
    view->showRows(rows, 200);
    EXPECT_EQ(shownIds().size(), 4u);
    for (const SessionRow& r : rows) {
        if (HistoryRow* other = view->rowWidget(r.id)) {
            EXPECT_FALSE(other->nameField()->hasFocus()) << r.id;
        }
    }
}

TEST_F(HistoryViewTest, ATickKeepsTheScrollPositionAndWhatIsInViewAndAmountsStayUnderTheirCaptions) {
    std::vector<SessionRow> rows = many(200);
    shown(rows);
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 3000);
    expectUnderCaptions(view->rowWidget(rows[0].id));  // beside the scroll bar too
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

TEST_F(HistoryViewTest, RowsAreBuiltAsTheyScrollIntoViewAndLetGoFarAway) {
    std::vector<SessionRow> rows = many(3000);
    shown(rows, 1000);
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

    // Nothing below the last row but the list's bottom space.
    EXPECT_EQ(last->y() + last->height() + 1 + 16, view->scrollArea()->widget()->height());
}

// A row deleted while one of its fields is being edited (the view lets rows
// go as they scroll away, the chart as its bars change, the panel as
// conversations come and go): the fields go before the row's members, so
// ending the edit never reads them.
TEST(RowTeardown, ARowDeletedWhileAFieldIsEditedIsNotAskedForTheText) {
    test::TempDir dir;
    MetadataStore store{dir.file("meta")};
    for (bool note : {false, true}) {
        SCOPED_TRACE(note ? "history note" : "history name");
        auto row = std::make_unique<HistoryRow>(conversation("teardown", kNoon), store, kNoon);
        InlineField* field = note ? row->noteField() : row->nameField();
        test::deleteWhileEditing(std::move(row), field);
    }
    auto bar = std::make_unique<BarRow>(store);
    InlineField* field = bar->nameField();
    test::deleteWhileEditing(std::move(bar), field);
    auto today = std::make_unique<TodayRow>(store, "claude-code:teardown");
    field = today->nameField();
    test::deleteWhileEditing(std::move(today), field);
}

}  // namespace
