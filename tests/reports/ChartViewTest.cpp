#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QEnterEvent>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

#include "AppModel.h"
#include "Appearance.h"
#include "ChartView.h"
#include "CostModel.h"
#include "InlineField.h"
#include "MetadataStore.h"
#include "ReportControls.h"
#include "TestSupport.h"

// Readable texts in failure messages.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace vorel;
using namespace std::chrono;
using vorel::test::TempDir;
using vorel::test::utc;

namespace {

class EnvVar {
public:
    EnvVar(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
        ::tzset();
    }
    ~EnvVar() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
        ::tzset();
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

const TimePoint kNoon = utc(2026, 7, 5, 12);

std::string stamp(TimePoint t) {
    std::time_t secs = duration_cast<seconds>(t.time_since_epoch()).count();
    std::tm parts{};
    ::gmtime_r(&secs, &parts);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return buf;
}

// claude-opus-4-8 bills output at 25 dollars per million tokens: 1000 output
// tokens cost $0.025.
std::string transcript(const std::string& id, int outputTokens, TimePoint at) {
    return R"({"type":"user","message":{"role":"user","content":"Work on )" + id + "\"}}\n" +
           R"({"type":"assistant","timestamp":")" + stamp(at) + R"(","message":{"id":")" + id +
           R"(-r","model":"claude-opus-4-8","usage":{"output_tokens":)" + std::to_string(outputTokens) + "}}}\n";
}

// A real cost model over generated transcripts, at noon on 5 July 2026 UTC.
class ChartViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        setClock(clock);
    }
    void TearDown() override {
        view.reset();
        app.reset();
        setClock(std::make_shared<SystemClock>());
        platform::Appearance::shared().setOverride(std::nullopt);
    }

    // A conversation whose reply came `minutesAgo` before noon; files with a
    // larger `order` count as newer.
    void conversation(const std::string& id, int outputTokens, int minutesAgo, int order) {
        std::string path = dir.write("claude/p/" + id + ".jsonl", transcript(id, outputTokens, kNoon - minutes{minutesAgo}));
        struct timespec times[2] = {{1'780'000'000 + order, 0}, {1'780'000'000 + order, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    AppModel& model() {
        if (!app) app = std::make_unique<AppModel>(std::make_unique<CostModel>(store, *clock), store);
        return *app;
    }
    ChartView& chart() {
        if (!view) {
            view = std::make_unique<ChartView>(model());
            view->resize(700, 500);
        }
        return *view;
    }
    ChartView& shownChart() {
        chart().show();
        QApplication::setActiveWindow(&chart());
        EXPECT_TRUE(QTest::qWaitForWindowActive(&chart()));
        return chart();
    }
    static void pick(QComboBox* box, const QString& text) {
        int i = box->findText(text);
        ASSERT_GE(i, 0) << text.toStdString();
        box->setCurrentIndex(i);
    }
    static std::vector<std::string> shownIds(const ChartView& c) {
        std::vector<std::string> out;
        for (BarRow* r : c.shownRows()) out.push_back(r->bar().id);
        return out;
    }

    TempDir dir;
    EnvVar tz{"TZ", "UTC"};
    EnvVar group{"VOREL_CHART_GROUP", std::nullopt};
    EnvVar claudeRoot{"VOREL_CLAUDE_ROOT", dir.file("claude")};
    EnvVar codexRoot{"VOREL_CODEX_ROOT", dir.file("codex/sessions")};
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>(kNoon);
    MetadataStore store{dir.file("meta")};
    std::unique_ptr<AppModel> app;
    std::unique_ptr<ChartView> view;
};

// --- What is shown --------------------------------------------------------

TEST_F(ChartViewTest, BarsShowByCostWithTheirAmountsAndTitles) {
    conversation("small", 1000, 30, 3);
    conversation("large", 4000, 20, 2);
    conversation("mid", 2000, 10, 1);
    ChartView& c = shownChart();
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:large", "claude-code:mid", "claude-code:small"}));
    BarRow* large = c.rowFor("claude-code:large");
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(large->amountLabel()->text(), "$0.10");
    EXPECT_EQ(large->nameField()->text().toStdString(), store.topic("claude-code:large", "Work on large"));
    EXPECT_DOUBLE_EQ(large->track()->totalFrac(), 1.0);
    EXPECT_DOUBLE_EQ(c.rowFor("claude-code:small")->track()->totalFrac(), 0.25);
    EXPECT_FALSE(large->badge()->isVisible());

    EXPECT_FALSE(c.emptyLabel()->isVisible());
    EXPECT_TRUE(c.legend()->isVisible());
    EXPECT_FALSE(c.splitNote()->isVisible());

    // The direction reverses the bars.
    pick(c.directionPicker(), "Ascending");
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:small", "claude-code:mid", "claude-code:large"}));
}

TEST_F(ChartViewTest, AnEmptyWindowShowsOnlyTheControlsAndTheNote) {
    // Last active yesterday: nothing in "Today".
    conversation("old", 1000, 24 * 60, 1);
    ChartView& c = shownChart();
    EXPECT_EQ(c.shownRows().size(), 1u);
    pick(c.rangeControls()->findChild<QComboBox*>(), "Today");
    EXPECT_TRUE(c.emptyLabel()->isVisible());
    EXPECT_EQ(c.emptyLabel()->text(), "No conversations to chart yet.");
    EXPECT_FALSE(c.legend()->isVisible());
    EXPECT_FALSE(c.scrollArea()->isVisible());
    EXPECT_TRUE(c.shownRows().empty());
}

TEST_F(ChartViewTest, GroupingByTagSwapsTheOrderPickerForTheSplitNote) {
    conversation("a", 1000, 10, 1);
    ChartView& c = shownChart();
    pick(c.orderPicker(), "Name");
    EXPECT_TRUE(c.orderControl()->isVisible());

    pick(c.groupPicker(), "Tag");
    EXPECT_FALSE(c.orderControl()->isVisible());
    EXPECT_TRUE(c.splitNote()->isVisible());
    ASSERT_EQ(c.shownHeaders().size(), 1u);
    EXPECT_EQ(c.shownHeaders()[0]->tagLabel()->text(), "UNTAGGED");

    pick(c.groupPicker(), "None");
    EXPECT_TRUE(c.orderControl()->isVisible());
    EXPECT_EQ(c.orderPicker()->currentText(), "Name");
    EXPECT_EQ(c.options().sort, SortKey::name);
    EXPECT_FALSE(c.splitNote()->isVisible());
    EXPECT_TRUE(c.shownHeaders().empty());
}

TEST_F(ChartViewTest, TagsAndNamesShowAsTyped) {
    conversation("a", 1000, 10, 1);
    store.addTag("R&D <b>x</b>", "claude-code:a");
    store.setName("Tom & <i>Jerry</i>", "claude-code:a");
    ChartView& c = shownChart();
    pick(c.groupPicker(), "Tag");
    ASSERT_EQ(c.shownHeaders().size(), 1u);
    QLabel* tag = c.shownHeaders()[0]->tagLabel();
    EXPECT_EQ(tag->text(), "R&D <B>X</B>");
    EXPECT_EQ(tag->textFormat(), Qt::PlainText);
    EXPECT_EQ(c.shownHeaders()[0]->totalLabel()->text(), "$0.03");
    BarRow* row = c.rowFor("R&D <b>x</b>|claude-code:a");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->nameField()->text(), "Tom & <i>Jerry</i>");
    // What is drawn is the text itself: an ampersand is no mnemonic and the
    // tags are not markup.
    for (QLabel* l : c.findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();
}

TEST_F(ChartViewTest, SplitBarsCarryABadgeThatExplainsOnHover) {
    conversation("split", 3000, 10, 2);
    conversation("single", 1000, 20, 1);
    store.addTag("web", "claude-code:split");
    store.addTag("ops", "claude-code:split");
    store.addTag("web", "claude-code:single");
    ChartView& c = shownChart();
    pick(c.groupPicker(), "Tag");

    BarRow* web = c.rowFor("web|claude-code:split");
    BarRow* ops = c.rowFor("ops|claude-code:split");
    BarRow* single = c.rowFor("web|claude-code:single");
    ASSERT_TRUE(web && ops && single);
    EXPECT_TRUE(web->badge()->isVisible());
    EXPECT_TRUE(ops->badge()->isVisible());
    EXPECT_FALSE(single->badge()->isVisible());
    EXPECT_EQ(web->amountLabel()->text(), "$0.04");  // half of $0.075
    // The scale is the largest share: the split share and the single bar
    // are drawn against $0.0375.
    EXPECT_DOUBLE_EQ(web->track()->totalFrac(), 1.0);
    EXPECT_NEAR(single->track()->totalFrac(), 0.025 / 0.0375, 1e-9);

    SplitBadge* badge = web->badge();
    QPointF inside(badge->width() / 2.0, badge->height() / 2.0);
    QEnterEvent enter(inside, badge->mapTo(badge->window(), inside), badge->mapToGlobal(inside));
    QApplication::sendEvent(badge, &enter);
    ASSERT_NE(badge->popover(), nullptr);
    EXPECT_TRUE(badge->popover()->isVisible());
    QLabel* note = badge->popover()->findChild<QLabel*>();
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "This conversation has 2 tags, so its cost is split evenly across them. This bar shows "
                            "only this tag's share.");
    // A tick leaves the note open.
    model().tick();
    EXPECT_TRUE(badge->popover()->isVisible());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(badge, &leave);
    EXPECT_FALSE(badge->popover()->isVisible());
    EXPECT_FALSE(badge->isHovered());
}

// --- Ticks and edits ------------------------------------------------------

TEST_F(ChartViewTest, ATickKeepsRowsFocusTextAndScroll) {
    for (int i = 0; i < 40; ++i) conversation("s" + std::to_string(i), 1000 + 100 * i, 10 + i, 100 - i);
    ChartView& c = shownChart();
    QScrollBar* bar = c.scrollArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 900);
    EXPECT_TRUE(bar->isVisible());
    bar->setValue(900);

    BarRow* row = c.shownRows().at(2);
    const std::string id = row->bar().id;
    InlineField* field = row->nameField();
    field->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(field->hasFocus());
    field->selectAll();
    QTest::keyClicks(field, "Half typed ");
    EXPECT_EQ(*store.byId().at(id).name, "Half typed");  // the store trims

    // The transcript grows: the next tick moves the conversation's cost.
    conversation(id.substr(std::string("claude-code:").size()), 8000, 1, 200);
    model().tick();

    EXPECT_EQ(c.rowFor(id), row);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(field->text(), "Half typed ");
    EXPECT_EQ(row->amountLabel()->text(), "$0.20");
    EXPECT_EQ(bar->value(), 900);
    // The biggest bar now: it moved to the top, out of view, and its field
    // still holds the edit.
    EXPECT_EQ(row->y(), 10);
    EXPECT_TRUE(row->isVisibleTo(&c));
}

TEST_F(ChartViewTest, RowsAreBuiltAsTheyScrollIntoViewAndKept) {
    for (int i = 0; i < 300; ++i) conversation("s" + std::to_string(i), 1000 + i, 10 + i, 1000 - i);
    ChartView& c = shownChart();
    const size_t built = c.builtRowCount();
    EXPECT_LT(built, 40u);
    EXPECT_GE(c.shownRows().size(), 500u / c.rowHeight());

    BarRow* first = c.shownRows().front();
    QScrollBar* bar = c.scrollArea()->verticalScrollBar();
    EXPECT_EQ(bar->maximum(), 300 * c.rowHeight() + 20 - c.scrollArea()->viewport()->height());
    bar->setValue(bar->maximum());
    ASSERT_NE(c.rowFor("claude-code:s0"), nullptr);  // the cheapest, at the bottom
    EXPECT_TRUE(c.rowFor("claude-code:s0")->isVisible());
    EXPECT_FALSE(first->isVisible());
    EXPECT_LT(c.builtRowCount(), 80u);

    // A tick updates in place: no row is built again.
    std::vector<BarRow*> before = c.shownRows();
    model().tick();
    EXPECT_EQ(c.shownRows(), before);
    bar->setValue(0);
    EXPECT_EQ(c.shownRows().front(), first);
}

TEST_F(ChartViewTest, ClearingANameFallsBackToTheSuggestedName) {
    conversation("a", 1000, 10, 1);
    ChartView& c = shownChart();
    const std::string id = "claude-code:a";
    const std::string suggested = store.topic(id, "");
    InlineField* field = c.rowFor(id)->nameField();
    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    QTest::keyClicks(field, "Mine");
    EXPECT_EQ(*store.byId().at(id).name, "Mine");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_FALSE(store.byId().at(id).name.has_value());
    EXPECT_EQ(field->text(), "");  // left as typed while editing
    c.groupPicker()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(field->text().toStdString(), suggested);
}

TEST_F(ChartViewTest, ARowRenamedInANameOrderMovesWithItsFocus) {
    conversation("a", 1000, 10, 3);
    conversation("b", 1000, 20, 2);
    conversation("c", 1000, 30, 1);
    store.setName("Alpha", "claude-code:a");
    store.setName("Beta", "claude-code:b");
    store.setName("Gamma", "claude-code:c");
    ChartView& c = shownChart();
    pick(c.orderPicker(), "Name");
    pick(c.directionPicker(), "Ascending");
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:a", "claude-code:b", "claude-code:c"}));

    BarRow* row = c.rowFor("claude-code:a");
    row->nameField()->setFocus(Qt::MouseFocusReason);
    row->nameField()->selectAll();
    QTest::keyClicks(row->nameField(), "Zeta");
    EXPECT_EQ(shownIds(c), (std::vector<std::string>{"claude-code:b", "claude-code:c", "claude-code:a"}));
    EXPECT_EQ(c.rowFor("claude-code:a"), row);
    EXPECT_TRUE(row->nameField()->hasFocus());
    EXPECT_EQ(row->nameField()->text(), "Zeta");
}

TEST_F(ChartViewTest, RemovingATagRemovesItsRowsButNoOther) {
    conversation("a", 1000, 10, 2);
    conversation("b", 2000, 20, 1);
    store.addTag("web", "claude-code:a");
    store.addTag("web", "claude-code:b");
    store.addTag("ops", "claude-code:b");
    ChartView& c = shownChart();
    pick(c.groupPicker(), "Tag");
    BarRow* kept = c.rowFor("web|claude-code:a");
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(c.rowFor("ops|claude-code:b"), nullptr);

    store.removeTag("ops", "claude-code:b");  // the store publishes; the chart follows
    EXPECT_EQ(c.rowFor("ops|claude-code:b"), nullptr);
    EXPECT_EQ(c.rowFor("web|claude-code:a"), kept);
    EXPECT_FALSE(c.rowFor("web|claude-code:b")->badge()->isVisible());
    EXPECT_EQ(c.rowFor("web|claude-code:b")->amountLabel()->text(), "$0.05");
}

// --- The bar --------------------------------------------------------------

TEST(BarTrackGeometry, BarsAreNeverNarrowerThanTwoPixels) {
    BarTrack::Geometry g = BarTrack::geometry(400, 0.000001, 0);
    EXPECT_DOUBLE_EQ(g.total.width(), 2.0);
    EXPECT_TRUE(g.today.isEmpty());  // no cost today, no dark end
    EXPECT_EQ(g.total.height(), BarTrack::kHeight);
}

TEST(BarTrackGeometry, TodaysShareSitsAtTheBarsEnd) {
    BarTrack::Geometry g = BarTrack::geometry(400, 0.5, 0.125);
    EXPECT_DOUBLE_EQ(g.total.left(), 0.0);
    EXPECT_DOUBLE_EQ(g.total.width(), 200.0);
    EXPECT_DOUBLE_EQ(g.today.left(), 150.0);
    EXPECT_DOUBLE_EQ(g.today.right(), 200.0);

    // All of it today: dark over the whole length.
    g = BarTrack::geometry(400, 0.75, 0.75);
    EXPECT_EQ(g.today, g.total);

    // A sliver today still shows, and ends where the bar ends.
    g = BarTrack::geometry(400, 0.5, 0.0001);
    EXPECT_DOUBLE_EQ(g.today.width(), 2.0);
    EXPECT_DOUBLE_EQ(g.today.right(), g.total.right());

    // Fractions outside 0...1 are clamped.
    g = BarTrack::geometry(400, 3.0, -1.0);
    EXPECT_DOUBLE_EQ(g.total.width(), 400.0);
    EXPECT_TRUE(g.today.isEmpty());
}

}  // namespace
