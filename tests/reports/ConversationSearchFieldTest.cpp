#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include "ConversationSearchField.h"
#include "Formatting.h"
#include "GuiTestSupport.h"

using namespace vorel;
using namespace vorel::test;
using namespace std::chrono;

namespace {

// A real cost model over generated transcripts at noon, and a window
// holding the field above some content.
class SearchFieldTest : public ModelTest {
protected:
    // A Claude Code conversation in folder `cwd`, whose first user line is
    // `title`, last answered `minutesAgo` before noon. The newer the
    // activity, the earlier the model lists it.
    void claude(const std::string& stem, const std::string& title, const std::string& cwd, int minutesAgo) {
        put("claude/p/" + stem + ".jsonl",
            claudeUser(title, cwd) + claudeReply(stem + "-r", 1000, isoUtc(kNoon - minutes{minutesAgo})),
            -60 * minutesAgo);
    }
    // A Codex conversation with thread id `id` in folder `cwd`.
    void codex(const std::string& id, const std::string& title, const std::string& cwd, int minutesAgo) {
        const std::string when = isoUtc(kNoon - minutes{minutesAgo});
        put("codex/sessions/" + id + ".jsonl",
            codexMeta(R"("id":")" + id + R"(","cwd":")" + cwd + "\"", when) +
                codexLine("turn_context", R"({"model":"gpt-5.5"})", when) +
                codexLine("event_msg", R"({"type":"user_message","message":")" + title + R"("})", when) +
                codexTokens(1000, 1000, when),
            -60 * minutesAgo);
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
            v->addWidget(below);
            v->addStretch(1);
            showActive(*window);
            below->setFocus(Qt::OtherFocusReason);
        }
        return *search;
    }
    // Focuses the field and types `text` into it, after what is there.
    void type(const QString& text) {
        field().lineEdit()->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(field().lineEdit(), text);
    }
    // Clears the field and types `text`.
    void retype(const QString& text) {
        field().lineEdit()->clear();
        type(text);
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

    // Nine hits show the first eight too.
    claude("other", "Write docs", "/w/gamma", 5);  // newest, but no hit
    model().tick();
    retype("module");
    EXPECT_EQ(listedIds(), claudeIds(0, 8));
}

TEST_F(SearchFieldTest, CaseIsIgnoredOnBothSidesAndNameTitleProjectSourceAndTagsAreSearched) {
    claude("a", "Tune the cache", "/w/billing", 10);
    codex("t1", "Ship it", "/w/mobile", 20);
    claude("b", "Refactor routes", "/w/website", 30);
    codex("t2", "Write tests", "/w/website", 40);
    store.addTag("infra", "claude-code:a");
    store.addTag("Release-Q3", "claude-code:a");
    store.addTag("release-q3", "codex:t2");

    type("CODEX");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"codex:t1", "codex:t2"}));
    retype("WebSite");  // the project
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:b", "codex:t2"}));
    retype("claude code");  // the source, blank included
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:a", "claude-code:b"}));
    retype("RELEASE-q3");  // only tags hold it
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:a", "codex:t2"}));

    // The stored name matches, and so does the title it replaces.
    store.setName("Quarterly invoice run", "claude-code:b");
    retype("QUARTERLY");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:b"}));
    EXPECT_EQ(listed("claude-code:b")->title(), "Quarterly invoice run");
    retype("routes");
    EXPECT_EQ(listedIds(), (std::vector<std::string>{"claude-code:b"}));
}

TEST_F(SearchFieldTest, NoMatchTextQuotesTheQueryAsTypedAndTheNoteIsNotSearched) {
    // With no conversations, focusing shows the text.
    type("");
    EXPECT_TRUE(field().isPanelOpen());
    EXPECT_EQ(field().noMatchText(), QString::fromUtf8("No conversations match \u201C\u201D."));

    claude("a", "Tune the cache", "/w/x", 10);
    model().tick();
    store.setSubtitle("zebra crossing", "claude-code:a");
    retype(" zebra ");
    EXPECT_TRUE(listedIds().empty());
    EXPECT_EQ(field().noMatchText(), QString::fromUtf8("No conversations match \u201C zebra \u201D."));
}

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

TEST_F(SearchFieldTest, ThePlaceholderIsTheSelectedTitleAndItsRowIsHighlighted) {
    claude("a", "Tune the cache", "/w/x", 10);
    claude("b", "Refactor routes", "/w/x", 20);
    ConversationSearchField& f = field();
    const QString none = f.lineEdit()->placeholderText();
    f.setSelectedId(QStringLiteral("claude-code:a"));
    EXPECT_EQ(f.lineEdit()->placeholderText(), QString::fromStdString(store.topic("claude-code:a", "Tune the cache")));
    store.setName("Cache tuning", "claude-code:a");
    EXPECT_EQ(f.lineEdit()->placeholderText(), "Cache tuning");
    f.setSelectedId(QStringLiteral("claude-code:gone"));
    EXPECT_EQ(f.lineEdit()->placeholderText(), none);

    // The selected row is highlighted without the pointer.
    f.setSelectedId(QStringLiteral("claude-code:b"));
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

TEST_F(SearchFieldTest, EscapeClearsAndClosesWithoutChangingTheSelectionLeavingOnlyCloses) {
    claude("a", "Tune the cache", "/w/x", 10);
    ConversationSearchField& f = field();
    f.setSelectedId(QStringLiteral("claude-code:a"));
    QSignalSpy spy(&f, &ConversationSearchField::picked);
    type("cache");
    // Moving the focus elsewhere closes the panel; only a pick, Escape or
    // the button clear the text.
    below->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(f.isPanelOpen());
    EXPECT_EQ(f.query(), "cache");
    type("");
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
