#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

#include "AppModel.h"
#include "ConversationSearchField.h"
#include "CostModel.h"
#include "Formatting.h"
#include "MetadataStore.h"
#include "TestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::TempDir;
using vorel::test::utc;

static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class EnvVar {
public:
    EnvVar(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
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

std::string iso(TimePoint t) {
    std::time_t secs = duration_cast<seconds>(t.time_since_epoch()).count();
    std::tm parts{};
    ::gmtime_r(&secs, &parts);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return buf;
}

const TimePoint kNoon = utc(2026, 7, 5, 12);

// A real cost model over generated transcripts in a scratch folder, at noon
// on 5 July 2026 (UTC), and a window holding the field above some content.
class SearchFieldTest : public ::testing::Test {
protected:
    void SetUp() override { setClock(clock); }
    void TearDown() override {
        window.reset();
        app.reset();
        setClock(std::make_shared<SystemClock>());
    }

    // A Claude Code conversation in folder `cwd`, whose first user line is
    // `title`, last answered `minutesAgo` before noon. The newer the
    // activity, the earlier the model lists it.
    void claude(const std::string& stem, const std::string& title, const std::string& cwd, int minutesAgo) {
        std::string when = iso(kNoon - minutes{minutesAgo});
        put("claude/p/" + stem + ".jsonl",
            R"({"type":"user","cwd":")" + cwd + R"(","message":{"role":"user","content":")" + title + "\"}}\n" +
                R"({"type":"assistant","timestamp":")" + when + R"(","message":{"id":")" + stem +
                R"(-r","model":"claude-opus-4-8","usage":{"output_tokens":1000}}})" + "\n",
            minutesAgo);
    }
    // A Codex conversation with thread id `id` in folder `cwd`.
    void codex(const std::string& id, const std::string& title, const std::string& cwd, int minutesAgo) {
        std::string when = iso(kNoon - minutes{minutesAgo});
        auto line = [&](const std::string& type, const std::string& payload) {
            return R"({"timestamp":")" + when + R"(","type":")" + type + R"(","payload":)" + payload + "}\n";
        };
        put("codex/sessions/" + id + ".jsonl",
            line("session_meta", R"({"id":")" + id + R"(","cwd":")" + cwd + R"("})") +
                line("turn_context", R"({"model":"gpt-5.5"})") +
                line("event_msg", R"({"type":"user_message","message":")" + title + R"("})") +
                line("event_msg",
                     R"({"type":"token_count","info":{"last_token_usage":{"output_tokens":1000},)"
                     R"("total_token_usage":{"total_tokens":1000}}})"),
            minutesAgo);
    }
    void put(const std::string& name, const std::string& bytes, int minutesAgo) {
        std::string path = dir.write(name, bytes);
        // Newer activity, newer file.
        time_t mtime = 1'780'000'000 - minutesAgo * 60;
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    AppModel& model() {
        if (!app) app = std::make_unique<AppModel>(std::make_unique<CostModel>(store, *clock), store);
        return *app;
    }
    // The field at the top of a 600 x 480 window, shown and active.
    ConversationSearchField& field() {
        if (!window) {
            window = std::make_unique<QWidget>();
            window->resize(600, 480);
            auto* v = new QVBoxLayout(window.get());
            v->setContentsMargins(20, 16, 20, 16);
            search = new ConversationSearchField(model(), window.get());
            v->addWidget(search, 0, Qt::AlignRight);
            below = new QLineEdit(window.get());
            below->setObjectName(QStringLiteral("below"));
            v->addWidget(below);
            v->addStretch(1);
            window->show();
            QApplication::setActiveWindow(window.get());
            EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
            below->setFocus(Qt::OtherFocusReason);
        }
        return *search;
    }
    // Focuses the field and types `text` into it.
    void type(const QString& text) {
        ConversationSearchField& f = field();
        f.lineEdit()->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(f.lineEdit(), text);
    }
    std::vector<std::string> listedIds() {
        std::vector<std::string> ids;
        for (SearchResultRow* r : field().resultRows()) ids.push_back(r->rowId().toStdString());
        return ids;
    }
    SearchResultRow* listed(const std::string& id) {
        for (SearchResultRow* r : field().resultRows())
            if (r->rowId().toStdString() == id) return r;
        return nullptr;
    }
    static std::vector<std::string> claudeIds(int from, int to) {
        std::vector<std::string> ids;
        for (int i = from; i < to; ++i) ids.push_back("claude-code:c" + std::to_string(i));
        return ids;
    }
    void tenConversations() {
        for (int i = 0; i < 10; ++i)
            claude("c" + std::to_string(i), "Refactor module " + std::to_string(i), "/w/alpha", 10 + i);
    }

    TempDir dir;
    EnvVar tz{"TZ", "UTC"};
    EnvVar claudeRoot{"VOREL_CLAUDE_ROOT", dir.file("claude")};
    EnvVar codexRoot{"VOREL_CODEX_ROOT", dir.file("codex/sessions")};
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>(kNoon);
    MetadataStore store{dir.file("meta")};
    std::unique_ptr<AppModel> app;
    std::unique_ptr<QWidget> window;
    ConversationSearchField* search = nullptr;
    QLineEdit* below = nullptr;
};

}  // namespace

// --- Matching ---------------------------------------------------------------

TEST_F(SearchFieldTest, AnEmptyOrBlankQueryListsTheFirstEightInModelOrder) {
    tenConversations();
    ConversationSearchField& f = field();
    EXPECT_FALSE(f.isPanelOpen());
    type("");
    ASSERT_TRUE(f.isPanelOpen());
    EXPECT_EQ(listedIds(), claudeIds(0, 8));
    EXPECT_TRUE(f.noMatchText().isEmpty());

    // Spaces and tabs are trimmed before matching.
    f.lineEdit()->insert(QStringLiteral(" \t  "));
    EXPECT_EQ(f.query(), " \t  ");
    EXPECT_EQ(listedIds(), claudeIds(0, 8));
}

TEST_F(SearchFieldTest, NineHitsShowTheFirstEight) {
    for (int i = 0; i < 9; ++i) claude("c" + std::to_string(i), "Fix parser " + std::to_string(i), "/w/beta", 10 + i);
    claude("other", "Write docs", "/w/gamma", 5);  // newest, but no hit
    type("parser");
    EXPECT_EQ(listedIds(), claudeIds(0, 8));
}

TEST_F(SearchFieldTest, CaseIsIgnoredOnBothSidesAndNameTitleProjectAndSourceAreSearched) {
    claude("a", "Tune the cache", "/w/billing", 10);
    codex("t1", "Ship it", "/w/mobile", 20);
    claude("b", "Refactor routes", "/w/website", 30);
    codex("t2", "Write tests", "/w/website", 40);

    type("CODEX");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"codex:t1", "codex:t2"}));

    field().lineEdit()->clear();
    type("WebSite");  // the project
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:b", "codex:t2"}));

    field().lineEdit()->clear();
    type("claude code");  // the source, blank included
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:a", "claude-code:b"}));

    // The stored name matches, and so does the title it replaces.
    store.setName("Quarterly invoice run", "claude-code:b");
    field().lineEdit()->clear();
    type("QUARTERLY");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:b"}));
    EXPECT_EQ(listed("claude-code:b")->title(), "Quarterly invoice run");
    field().lineEdit()->clear();
    type("routes");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:b"}));
}

TEST_F(SearchFieldTest, AQueryMatchingOnlyATagListsTheTaggedConversations) {
    claude("a", "Tune the cache", "/w/x", 10);
    claude("b", "Refactor routes", "/w/x", 20);
    claude("c", "Write docs", "/w/x", 30);
    store.addTag("infra", "claude-code:a");
    store.addTag("Release-Q3", "claude-code:a");
    store.addTag("release-q3", "claude-code:c");
    type("RELEASE-q3");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:a", "claude-code:c"}));
}

TEST_F(SearchFieldTest, TheNoteIsNotSearchedAndTheNoMatchTextQuotesTheQueryAsTyped) {
    claude("a", "Tune the cache", "/w/x", 10);
    store.setSubtitle("zebra crossing", "claude-code:a");
    type(" zebra ");
    EXPECT_TRUE(listedIds().empty());
    EXPECT_EQ(field().noMatchText(), QString::fromUtf8("No conversations match \u201C zebra \u201D."));
}

TEST_F(SearchFieldTest, WithNoConversationsFocusingShowsTheNoMatchText) {
    type("");
    EXPECT_TRUE(field().isPanelOpen());
    EXPECT_EQ(field().noMatchText(), QString::fromUtf8("No conversations match \u201C\u201D."));
}

// --- Rows, placeholder and selection ---------------------------------------

TEST_F(SearchFieldTest, ARowShowsTitleSourceProjectAgeAndTotal) {
    claude("a", "Tune the cache", "/w/billing", 90);
    store.setName("Cache work", "claude-code:a");
    type("");
    SearchResultRow* a = listed("claude-code:a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->title(), "Cache work");
    EXPECT_EQ(a->detail(), QString::fromUtf8("Claude Code \u00B7 billing \u00B7 1h ago"));
    EXPECT_EQ(a->amount(), money(model().model().allRows().front().total));
}

TEST_F(SearchFieldTest, ThePlaceholderIsTheSelectedTitleAndFollowsRenames) {
    claude("a", "Tune the cache", "/w/x", 10);
    ConversationSearchField& f = field();
    EXPECT_EQ(f.lineEdit()->placeholderText(), "Search conversations");
    f.setSelectedId(QStringLiteral("claude-code:a"));
    EXPECT_EQ(f.lineEdit()->placeholderText(), QString::fromStdString(store.topic("claude-code:a", "Tune the cache")));
    store.setName("Cache tuning", "claude-code:a");
    EXPECT_EQ(f.lineEdit()->placeholderText(), "Cache tuning");
    f.setSelectedId(QStringLiteral("claude-code:gone"));
    EXPECT_EQ(f.lineEdit()->placeholderText(), "Search conversations");
}

TEST_F(SearchFieldTest, TheSelectedRowIsHighlightedWithoutThePointer) {
    claude("a", "Tune the cache", "/w/x", 10);
    claude("b", "Refactor routes", "/w/x", 20);
    field().setSelectedId(QStringLiteral("claude-code:b"));
    type("");
    EXPECT_TRUE(listed("claude-code:b")->isHighlighted());
    EXPECT_FALSE(listed("claude-code:b")->isHovered());
    EXPECT_FALSE(listed("claude-code:a")->isHighlighted());
}

TEST_F(SearchFieldTest, MarkupAndAmpersandsShowAsTyped) {
    claude("a", "Tune the cache", "/w/x", 10);
    store.setName("R&D <b>bold</b>", "claude-code:a");
    ConversationSearchField& f = field();
    f.setSelectedId(QStringLiteral("claude-code:a"));
    EXPECT_EQ(f.lineEdit()->placeholderText(), "R&D <b>bold</b>");
    type("r&d <b>");
    SearchResultRow* a = listed("claude-code:a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->title(), "R&D <b>bold</b>");
    // The row is drawn from its own text; no mnemonic shortcut was taken
    // from the "&".
    EXPECT_TRUE(a->text().isEmpty());
    EXPECT_TRUE(a->shortcut().isEmpty());
}

// --- Picking, Escape, clearing ---------------------------------------------

TEST_F(SearchFieldTest, PickingReportsTheIdAndClosesAndClearsTheField) {
    claude("a", "Tune the cache", "/w/x", 10);
    claude("b", "Refactor routes", "/w/x", 20);
    ConversationSearchField& f = field();
    f.setSelectedId(QStringLiteral("claude-code:a"));
    QSignalSpy spy(&f, &ConversationSearchField::picked);
    type("routes");
    SearchResultRow* b = listed("claude-code:b");
    ASSERT_NE(b, nullptr);
    QTest::mouseClick(b, Qt::LeftButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), "claude-code:b");
    EXPECT_EQ(f.selectedId(), "claude-code:b");
    EXPECT_EQ(f.query(), "");
    EXPECT_FALSE(f.isPanelOpen());
    EXPECT_FALSE(f.lineEdit()->hasFocus());
    EXPECT_EQ(f.lineEdit()->placeholderText(), QString::fromStdString(store.topic("claude-code:b", "")));
}

TEST_F(SearchFieldTest, EscapeClearsAndClosesWithoutChangingTheSelectionAndReturnDoesNothing) {
    claude("a", "Tune the cache", "/w/x", 10);
    ConversationSearchField& f = field();
    f.setSelectedId(QStringLiteral("claude-code:a"));
    QSignalSpy spy(&f, &ConversationSearchField::picked);
    type("cache");
    // Return picks nothing.
    QTest::keyClick(f.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(f.query(), "cache");
    ASSERT_TRUE(f.isPanelOpen());
    QTest::keyClick(f.lineEdit(), Qt::Key_Escape);
    EXPECT_EQ(f.query(), "");
    EXPECT_FALSE(f.isPanelOpen());
    EXPECT_FALSE(f.lineEdit()->hasFocus());
    EXPECT_EQ(f.selectedId(), "claude-code:a");
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(SearchFieldTest, TheClearButtonShowsForAnyTextAndKeepsThePanelOpen) {
    claude("a", "Tune the cache", "/w/x", 10);
    ConversationSearchField& f = field();
    EXPECT_TRUE(f.clearButton()->isHidden());
    type(" ");
    EXPECT_FALSE(f.clearButton()->isHidden());  // a space counts
    QTest::keyClicks(f.lineEdit(), "zzz");
    EXPECT_FALSE(f.noMatchText().isEmpty());
    QTest::mouseClick(f.clearButton(), Qt::LeftButton);
    EXPECT_EQ(f.query(), "");
    EXPECT_TRUE(f.clearButton()->isHidden());
    EXPECT_TRUE(f.lineEdit()->hasFocus());
    EXPECT_TRUE(f.isPanelOpen());
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:a"}));
}

TEST_F(SearchFieldTest, MovingTheFocusElsewhereClosesThePanel) {
    claude("a", "Tune the cache", "/w/x", 10);
    type("cache");
    ASSERT_TRUE(field().isPanelOpen());
    below->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(field().isPanelOpen());
    EXPECT_EQ(field().query(), "cache");  // only a pick, Escape or the button clear it
}

// --- The floating panel ----------------------------------------------------

TEST_F(SearchFieldTest, ThePanelFloatsOverTheWindowBelowTheField) {
    tenConversations();
    ConversationSearchField& f = field();
    const QRect belowBefore = below->geometry();
    const QSize fieldBefore = f.size();
    type("");
    QWidget* panel = f.resultsPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->parentWidget(), window.get());
    const QPoint fieldTop = f.mapTo(window.get(), QPoint(0, 0));
    EXPECT_EQ(panel->geometry().topLeft(), fieldTop + QPoint(0, ConversationSearchField::kPanelOffset));
    EXPECT_EQ(panel->width(), ConversationSearchField::kWidth);
    // It lies over the content below without moving it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(below->geometry(), belowBefore);
    EXPECT_EQ(f.size(), fieldBefore);
    EXPECT_TRUE(panel->geometry().intersects(below->geometry()));
    EXPECT_EQ(window->childAt(panel->geometry().center()) != below, true);
}

TEST_F(SearchFieldTest, ThePanelStaysInsideTheWindow) {
    tenConversations();
    ConversationSearchField& f = field();
    // A short window with the field near its bottom edge: the panel goes
    // above the field instead of off the window.
    window->resize(600, 500);
    auto* v = static_cast<QVBoxLayout*>(window->layout());
    v->removeWidget(search);
    v->addWidget(search, 0, Qt::AlignRight);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    type("");
    QWidget* panel = f.resultsPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(window->rect().contains(panel->geometry())) << panel->geometry().y() << "+" << panel->height();
    EXPECT_LE(panel->geometry().bottom(), f.mapTo(window.get(), QPoint(0, 0)).y());

    // A narrow window keeps the panel's right edge inside too.
    window->resize(200, 600);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_GE(panel->x(), 0);
}

// --- Refresh ticks ---------------------------------------------------------

TEST_F(SearchFieldTest, ATickUpdatesTheListInPlaceAndNeverDisturbsTyping) {
    claude("a", "Fix parser crash", "/w/x", 20);
    claude("b", "Write docs", "/w/x", 30);
    ConversationSearchField& f = field();
    type("parser");
    ASSERT_EQ(listedIds(), (std::vector<std::string>{"claude-code:a"}));
    QWidget* panel = f.resultsPanel();
    SearchResultRow* first = f.resultRows().front();
    f.lineEdit()->setCursorPosition(3);

    // A new matching conversation arrives, newer than the first.
    claude("c", "Parser speedup", "/w/x", 10);
    model().tick();
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:c", "claude-code:a"}));
    EXPECT_EQ(f.resultsPanel(), panel);
    EXPECT_EQ(f.resultRows().front(), first);  // the same line widget, new content
    EXPECT_EQ(f.query(), "parser");
    EXPECT_EQ(f.lineEdit()->cursorPosition(), 3);
    EXPECT_TRUE(f.lineEdit()->hasFocus());

    // A rename elsewhere shows at once.
    store.setName("Speed work", "claude-code:c");
    EXPECT_EQ(listed("claude-code:c")->title(), "Speed work");
}
