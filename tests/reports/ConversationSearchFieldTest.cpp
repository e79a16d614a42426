#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include "reports/ConversationSearchField.h"
#include "shell/Formatting.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace vorel::test;
using namespace std::chrono;

namespace {

using Ids = std::vector<std::string>;

// A real cost model over generated transcripts at noon, and a window holding the field above some content.
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
    // Ten conversations "claude-code:c0" (the newest) to "c9".
    Ids tenConversations() {
        Ids ids;
        for (int i = 0; i < 10; ++i) {
            claude("c" + std::to_string(i), "Refactor module " + std::to_string(i), "/w/alpha", 10 + i);
            ids.push_back("claude-code:c" + std::to_string(i));
        }
        return ids;
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
    // Focuses the field and types `text` after what is there.
    void type(const QString& text) {
        field().lineEdit()->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(field().lineEdit(), text);
    }
    void retype(const QString& text) {
        field().lineEdit()->clear();
        type(text);
    }
    Ids listedIds() {
        Ids ids;
        for (SearchResultRow* r : field().resultRows()) ids.push_back(r->rowId().toStdString());
        return ids;
    }
    SearchResultRow* listed(const std::string& id) {
        for (SearchResultRow* r : field().resultRows())
            if (r->rowId().toStdString() == id) return r;
        return nullptr;
    }

    std::unique_ptr<QWidget> window;
    ConversationSearchField* search = nullptr;
    QLineEdit* below = nullptr;
};

}  // namespace

TEST_F(SearchFieldTest, AnEmptyOrBlankQueryListsTheFirstEightInModelOrderAndTheNoteIsNotSearched) {
    const Ids ten = tenConversations();
    const Ids firstEight(ten.begin(), ten.begin() + 8);
    ConversationSearchField& f = field();
    type("");
    ASSERT_TRUE(f.isPanelOpen());
    EXPECT_EQ(listedIds(), firstEight);

    // Spaces and tabs are trimmed before matching.
    f.lineEdit()->insert(QStringLiteral(" \t  "));
    EXPECT_EQ(listedIds(), firstEight);

    // The first eight of nine hits, though a newer conversation that is no hit comes first.
    claude("other", "Write docs", "/w/gamma", 5);
    model().tick();
    retype("module");
    EXPECT_EQ(listedIds(), firstEight);

    // The note is not searched; the message quotes the query as typed.
    store.setSubtitle("claude-code:c0", "zebra crossing");
    retype(" zebra ");
    EXPECT_TRUE(listedIds().empty());
    EXPECT_EQ(f.noMatchText(), QString::fromUtf8("No conversations match \u201C\u2068 zebra \u2069\u201D."));
}

TEST_F(SearchFieldTest, CaseIsIgnoredAndNameTitleProjectSourceAndTagsAreSearchedAndShown) {
    claude("a", "Tune the cache", "/w/billing", 10);
    codex("t1", "Ship it", "/w/mobile", 20);
    claude("b", "Refactor routes", "/w/website", 30);
    codex("t2", "Write tests", "/w/website", 40);
    store.addTag("claude-code:a", "infra");
    store.addTag("claude-code:a", "Release-Q3");
    store.addTag("codex:t2", "release-q3");

    type("CODEX");
    EXPECT_EQ(listedIds(), (Ids{"codex:t1", "codex:t2"}));
    retype("WebSite");  // the project
    EXPECT_EQ(listedIds(), (Ids{"claude-code:b", "codex:t2"}));
    retype("claude code");  // the source, blank included
    EXPECT_EQ(listedIds(), (Ids{"claude-code:a", "claude-code:b"}));
    retype("RELEASE-q3");  // only tags hold it
    EXPECT_EQ(listedIds(), (Ids{"claude-code:a", "codex:t2"}));

    // The stored name matches, and so does the title it replaces. A row
    // shows the name, source, project, age and total.
    store.setName("claude-code:b", "Quarterly invoice run");
    retype("QUARTERLY");
    EXPECT_EQ(listedIds(), Ids{"claude-code:b"});
    retype("routes");
    ASSERT_EQ(listedIds(), Ids{"claude-code:b"});
    SearchResultRow* b = listed("claude-code:b");
    EXPECT_EQ(b->title(), "Quarterly invoice run");
    EXPECT_EQ(b->detail(), QString::fromUtf8("Claude Code \u00B7 \u2068website\u2069 \u00B7 30m ago"));
    EXPECT_EQ(b->amount(), money(model().model().allRows()[2].total));  // the third newest
}

TEST_F(SearchFieldTest, AnAccentedLetterMatchesWhetherWrittenPrecomposedOrWithACombiningAccent) {
    // Decomposed as in file names from a Mac, and precomposed as typed.
    claude("d", "E\u0301cole d'e\u0301te\u0301", "/w/cafe\u0301", 10);
    claude("p", "Plan the \u00C9T\u00C9 trip", "/w/na\u00EFve", 20);
    store.addTag("claude-code:d", "Cre\u0300me");
    const std::string d = "claude-code:d", p = "claude-code:p";
    struct Case {
        const char* query;
        Ids expected;
    };
    const Case cases[] = {
        {"\u00E9cole", {d}},
        {"\u00C9COLE", {d}},
        {"e\u0301te\u0301", {d, p}},
        {"\u00E9t\u00E9", {d, p}},
        {"caf\u00E9", {d}},     // the project
        {"nai\u0308ve", {p}},
        {"cr\u00E8me", {d}},    // a tag
        {"ecole", {}},          // a bare letter is still not its accented one
        {"cafe", {}},
    };
    const std::vector<SessionRow>& rows = model().model().allRows();
    for (const Case& c : cases) {
        Ids got;
        for (size_t i : field().matches(QString::fromUtf8(c.query))) got.push_back(rows[i].id);
        EXPECT_EQ(got, c.expected) << c.query;
    }
}

TEST_F(SearchFieldTest, TheSelectionIsThePlaceholderAndHighlightedEscapeClearsAndAPickReportsTheId) {
    claude("a", "Tune the cache", "/w/x", 10);
    claude("b", "Refactor routes", "/w/x", 20);
    ConversationSearchField& f = field();
    const QString none = f.lineEdit()->placeholderText();
    f.setSelectedId(QStringLiteral("claude-code:a"));
    EXPECT_EQ(f.lineEdit()->placeholderText(), QString::fromStdString(store.topic("claude-code:a", "Tune the cache")));
    store.setName("claude-code:a", "R&D <b>bold</b>");  // shown as typed
    EXPECT_EQ(f.lineEdit()->placeholderText(), "R&D <b>bold</b>");
    QSignalSpy spy(&f, &ConversationSearchField::picked);
    type("cache");
    // The selected row is highlighted without the pointer.
    ASSERT_EQ(listedIds(), Ids{"claude-code:a"});
    EXPECT_TRUE(listed("claude-code:a")->isHighlighted());
    EXPECT_FALSE(listed("claude-code:a")->isHovered());

    // Moving the focus elsewhere closes the panel; only a pick, Escape or
    // the button clear the text.
    below->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(f.isPanelOpen());
    EXPECT_EQ(f.query(), "cache");
    type("");
    QTest::keyClick(f.lineEdit(), Qt::Key_Return);  // picks nothing
    EXPECT_EQ(f.query(), "cache");
    ASSERT_TRUE(f.isPanelOpen());
    QTest::keyClick(f.lineEdit(), Qt::Key_Escape);
    EXPECT_EQ(f.query(), "");
    EXPECT_FALSE(f.isPanelOpen());
    EXPECT_FALSE(f.lineEdit()->hasFocus());
    EXPECT_EQ(f.selectedId(), "claude-code:a");

    type(" ");
    EXPECT_FALSE(f.clearButton()->isHidden());  // a space counts
    QTest::keyClicks(f.lineEdit(), "zzz");
    EXPECT_FALSE(f.noMatchText().isEmpty());
    QTest::mouseClick(f.clearButton(), Qt::LeftButton);
    EXPECT_EQ(f.query(), "");
    EXPECT_TRUE(f.clearButton()->isHidden());
    EXPECT_TRUE(f.lineEdit()->hasFocus());
    EXPECT_EQ(listedIds(), (Ids{"claude-code:a", "claude-code:b"}));
    EXPECT_FALSE(listed("claude-code:b")->isHighlighted());

    // Markup is matched and shown as typed; the row is drawn from its own
    // text, so no mnemonic shortcut was taken from the "&".
    QTest::keyClicks(f.lineEdit(), "r&d <b>");
    ASSERT_NE(listed("claude-code:a"), nullptr);
    EXPECT_EQ(listed("claude-code:a")->title(), "R&D <b>bold</b>");
    EXPECT_TRUE(listed("claude-code:a")->text().isEmpty());
    EXPECT_TRUE(listed("claude-code:a")->shortcut().isEmpty());
    EXPECT_EQ(spy.count(), 0);

    // A pick reports the id and selects it, then closes and clears the field.
    retype("routes");
    ASSERT_NE(listed("claude-code:b"), nullptr);
    QTest::mouseClick(listed("claude-code:b"), Qt::LeftButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), "claude-code:b");
    EXPECT_EQ(f.selectedId(), "claude-code:b");
    EXPECT_EQ(f.query(), "");
    EXPECT_FALSE(f.isPanelOpen());
    EXPECT_FALSE(f.lineEdit()->hasFocus());
    EXPECT_EQ(f.lineEdit()->placeholderText(), QString::fromStdString(store.topic("claude-code:b", "")));
    f.setSelectedId(QStringLiteral("claude-code:gone"));  // no such conversation
    EXPECT_EQ(f.lineEdit()->placeholderText(), none);
}

TEST_F(SearchFieldTest, ThePanelFloatsOverTheWindowBelowTheFieldAndStaysInsideIt) {
    tenConversations();
    ConversationSearchField& f = field();
    const QRect belowBefore = below->geometry();
    type("");
    QWidget* panel = f.resultsPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry().topLeft(), f.mapTo(window.get(), QPoint(0, ConversationSearchField::kPanelOffset)));
    // It lies over the content below without moving it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(below->geometry(), belowBefore);
    EXPECT_NE(window->childAt(panel->geometry().center()), below);

    // With the field moved near the window's bottom edge, the panel follows
    // it and goes above it instead of off the window.
    auto* v = static_cast<QVBoxLayout*>(window->layout());
    v->removeWidget(search);
    v->addWidget(search, 0, Qt::AlignRight);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_TRUE(window->rect().contains(panel->geometry())) << panel->geometry().y() << "+" << panel->height();
    EXPECT_LE(panel->geometry().bottom(), f.mapTo(window.get(), QPoint(0, 0)).y());
}

TEST_F(SearchFieldTest, ATickUpdatesTheListInPlaceAndNeverDisturbsTyping) {
    claude("a", "Fix parser crash", "/w/x", 20);
    claude("b", "Write docs", "/w/x", 30);
    ConversationSearchField& f = field();
    type("parser");
    ASSERT_EQ(listedIds(), Ids{"claude-code:a"});
    SearchResultRow* first = f.resultRows().front();
    f.lineEdit()->setCursorPosition(3);

    // A new matching conversation arrives, newer than the first.
    claude("c", "Parser speedup", "/w/x", 10);
    model().tick();
    EXPECT_EQ(listedIds(), (Ids{"claude-code:c", "claude-code:a"}));
    EXPECT_EQ(f.resultRows().front(), first);  // the same line widget, new content
    EXPECT_EQ(f.query(), "parser");
    EXPECT_EQ(f.lineEdit()->cursorPosition(), 3);
    EXPECT_TRUE(f.lineEdit()->hasFocus());

    // A rename elsewhere shows at once.
    store.setName("claude-code:c", "Speed work");
    EXPECT_EQ(listed("claude-code:c")->title(), "Speed work");
}
