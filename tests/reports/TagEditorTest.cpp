#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/MetadataStore.h"
#include "reports/TagEditor.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using vorel::test::hover;

namespace {

const QString kNoTags = QString::fromUtf8("No other tags yet \u2014 type to create one.");

QStringList list(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* s : items) out << QString::fromUtf8(s);
    return out;
}

TEST(TagChoicesTest, OffersOtherTagsContainingTheTextTheCreateRowForANewOneAndAMessageWhenNoneIsLeft) {
    struct Case {
        QStringList all, own;
        QString query;
        bool showCreate;
        QStringList tags;
        QString message;
    };
    const Case cases[] = {
        {{}, {}, "", false, {}, kNoTags},
        // This conversation's tags are left out in any case.
        {list({"Backend", "infra", "urgent", "work"}), list({"WORK", "backend"}), "", false, list({"infra", "urgent"}),
         ""},
        {list({"work"}), list({"Work"}), "", false, {}, kNoTags},
        // Typed text narrows the list ignoring case; a new text may be created.
        {list({"Release", "release notes v1", "urgent"}), {}, "release notes", true, list({"release notes v1"}), ""},
        {list({"Release", "urgent"}), {}, "LEAS", true, list({"Release"}), ""},
        // An existing tag in another case is listed instead of created.
        {list({"work"}), {}, "Work", false, list({"work"}), ""},
        {list({"work"}), {}, "   ", true, {}, ""},
        // One this conversation has: already added, unless another contains it.
        {list({"urgent", "work"}), list({"work"}), "WORK", false, {}, "Already added."},
        {list({"homework", "work"}), list({"work"}), "work", false, list({"homework"}), ""},
    };
    for (const Case& c : cases) {
        const TagChoices got = TagChoices::compute(c.all, c.own, c.query);
        EXPECT_EQ(got.showCreate, c.showCreate) << c.query.toStdString();
        EXPECT_EQ(got.tags, c.tags) << c.query.toStdString();
        EXPECT_EQ(got.message, c.message) << c.query.toStdString();
    }
}

TEST(TagChoicesTest, CaseComparisonMatchesTheStores) {
    // The editor and the store must take the same pairs for one tag, or the
    // list offers a tag the store then refuses as already there (or the
    // other way round): letters whose case mappings are special, and
    // accents composed or not.
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"Caf\u00E9", "CAFE\u0301", true},
        {"STRASSE", "stra\u00DFe", true},
        {"\u1E9E", "ss", true},                      // capital sharp s
        {"\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2", true},  // final sigma
        {"\uFB01le", "FILE", true},                  // ligature
        {"\u212A", "k", true},                       // Kelvin sign
        {"\u0130stanbul", "istanbul", false},        // dotted capital I keeps its dot
        {"\u0131", "I", false},                      // dotless i
        {"work", "works", false},
    };
    for (const Case& c : cases) {
        MetadataStore store("");
        store.addTag("x", c.a);
        store.addTag("x", c.b);
        const bool storeSame = store.byId().at("x").tags.size() == 1;
        EXPECT_EQ(storeSame, c.same) << c.a << " / " << c.b;
        EXPECT_EQ(tagtext::sameIgnoringCase(QString::fromUtf8(c.a), QString::fromUtf8(c.b)), c.same)
            << c.a << " / " << c.b;
    }
    // A bare letter is not found inside its accented form.
    EXPECT_FALSE(tagtext::containsIgnoringCase(QString::fromUtf8("caf\u00E9"), "cafe"));
    EXPECT_TRUE(tagtext::containsIgnoringCase(QString::fromUtf8("Caf\u00E9 run"), QString::fromUtf8("CAF\u00C9")));
}

class TagEditorTest : public ::testing::Test {
protected:
    // The editor for conversation "a" in a shown window.
    TagEditor& editor() {
        if (!window) {
            window = std::make_unique<QWidget>();
            window->resize(400, 120);
            auto* v = new QVBoxLayout(window.get());
            ed = new TagEditor(store(), QStringLiteral("a"), window.get());
            v->addWidget(ed);
            v->addStretch(1);
            test::showActive(*window);
        }
        return *ed;
    }
    MetadataStore& store() {
        if (!store_) store_ = std::make_unique<MetadataStore>(dir.file("meta"));
        return *store_;
    }
    std::vector<std::string> tags(const std::string& id = "a") { return store().tags(id); }
    QStringList chipTexts() {
        QStringList out;
        for (TagChip* c : editor().chips()) out << c->text();
        return out;
    }
    QStringList offered() {
        QStringList out;
        for (TagOptionRow* r : editor().popover()->optionRows()) out << r->label();
        return out;
    }
    TagPopover& open() {
        editor().openPopover();
        EXPECT_TRUE(editor().isPopoverOpen());
        return *editor().popover();
    }
    void typeInPopover(const QString& text) {
        QLineEdit* f = editor().popover()->field();
        f->clear();
        QTest::keyClicks(f, text);
    }
    test::TempDir dir;
    std::unique_ptr<MetadataStore> store_;
    std::unique_ptr<QWidget> window;
    TagEditor* ed = nullptr;
};

TEST_F(TagEditorTest, ReturnOrTheCreateRowAddsTheTextAsTypedPickingAddsATagAsListedAndThePopoverStaysOpen) {
    for (const char* t : {"Q&A", "release notes v1", "work"}) store().addTag("b", t);
    TagPopover& p = open();
    ASSERT_EQ(offered(), list({"Q&A", "release notes v1", "work"}));
    EXPECT_TRUE(p.optionRows().front()->shortcut().isEmpty());  // no mnemonic from the "&"
    typeInPopover("   ");
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_TRUE(tags().empty());  // never a blank
    EXPECT_EQ(p.field()->text(), "   ");  // kept as typed, to be corrected

    typeInPopover("release notes");
    EXPECT_EQ(offered(), list({"release notes v1"}));
    // The list filters on the text as typed, blanks included; the create row quotes it as typed.
    p.field()->setText(QStringLiteral("  release notes\t"));
    EXPECT_EQ(p.createRow()->label(), QString::fromUtf8("\u23CE  Create \u201C\u2068  release notes\t\u2069\u201D"));
    EXPECT_TRUE(offered().isEmpty());
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_EQ(tags(), (std::vector<std::string>{"release notes"}));  // trimmed
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(editor().isPopoverOpen());

    // The create row does the same, and shows markup and "&" as text.
    typeInPopover("<i>&");
    EXPECT_EQ(p.createRow()->label(), QString::fromUtf8("\u23CE  Create \u201C\u2068<i>&\u2069\u201D"));
    EXPECT_TRUE(p.createRow()->shortcut().isEmpty());
    QTest::mouseClick(p.createRow(), Qt::LeftButton);
    EXPECT_EQ(tags(), (std::vector<std::string>{"release notes", "<i>&"}));

    typeInPopover("Work");
    EXPECT_TRUE(p.createRow()->isHidden());
    ASSERT_EQ(offered(), list({"work"}));
    QTest::mouseClick(p.optionRows().front(), Qt::LeftButton);
    EXPECT_EQ(tags(), (std::vector<std::string>{"release notes", "<i>&", "work"}));
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(editor().isPopoverOpen());
    // On a conversation without it, Return adds the text as typed.
    editor().setRowId(QStringLiteral("c"));
    EXPECT_TRUE(editor().chips().empty());
    typeInPopover("Work");
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_EQ(tags("c"), (std::vector<std::string>{"Work"}));
}

TEST_F(TagEditorTest, TheFieldKeepsTheKeyboardFocusAfterEveryKindOfPickSoSeveralTagsGoInARow) {
    for (int i = 0; i < 30; ++i) store().addTag("b", "tag" + std::to_string(100 + i));
    TagPopover& p = open();
    ASSERT_TRUE(p.field()->hasFocus());
    auto typeNext = [&](const char* text) {
        // What the user types goes to whatever has the focus.
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClicks(focus, QString::fromUtf8(text));
    };

    QTest::mouseClick(p.optionRows().front(), Qt::LeftButton);  // a listed tag
    EXPECT_EQ(tags(), (std::vector<std::string>{"tag100"}));
    EXPECT_TRUE(p.field()->hasFocus());
    typeNext("urgent");
    QTest::mouseClick(p.createRow(), Qt::LeftButton);  // the create row
    EXPECT_EQ(tags(), (std::vector<std::string>{"tag100", "urgent"}));
    EXPECT_TRUE(p.field()->hasFocus());
    typeNext("tag101");
    QTest::mouseClick(p.optionRows().front(), Qt::LeftButton);  // a filtered one
    EXPECT_TRUE(p.field()->hasFocus());
    typeNext("later");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(tags(), (std::vector<std::string>{"tag100", "urgent", "tag101", "later"}));

    // Nor does a click on the list's scroll bar or its empty part take it.
    test::settle();
    QScrollBar* bar = p.list()->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 4));
    EXPECT_TRUE(p.field()->hasFocus());
    typeNext("nothing like it");
    ASSERT_TRUE(p.optionRows().empty());
    QTest::mouseClick(p.list()->viewport(), Qt::LeftButton, {}, QPoint(4, p.list()->viewport()->height() - 2));
    EXPECT_TRUE(p.field()->hasFocus());
}

TEST_F(TagEditorTest, ChipsShowTagsUpperCasedAsTypedAndTheCrossOnHoverRemovesExactlyThatTextEveryCopy) {
    // A hand-edited file may hold a tag twice.
    dir.write("meta/metadata.json", R"({"a":{"tags":["work","Work","work","R&D <b>x</b>"]}})");
    TagEditor& e = editor();
    EXPECT_EQ(chipTexts(), list({"WORK", "WORK", "R&D <B>X</B>"}));  // each stored text once
    TagChip* work = e.chips().front();
    EXPECT_TRUE(work->removeButton()->isHidden());
    hover(work);
    EXPECT_FALSE(work->removeButton()->isHidden());
    EXPECT_TRUE(e.chips().back()->removeButton()->isHidden());
    QTest::mouseClick(work->removeButton(), Qt::LeftButton);
    EXPECT_EQ(tags(), (std::vector<std::string>{"Work", "R&D <b>x</b>"}));
    EXPECT_EQ(chipTexts(), list({"WORK", "R&D <B>X</B>"}));
}

TEST_F(TagEditorTest, AnOpenPopoverSurvivesRefreshesFollowsTheStoreAndKeepsWhatWasTyped) {
    store().addTag("b", "infra");
    TagEditor& e = editor();
    TagPopover& p = open();
    typeInPopover("in");
    ASSERT_EQ(offered(), list({"infra"}));
    TagOptionRow* row = p.optionRows().front();

    // Another editor adds a tag elsewhere; the host refreshes this one.
    store().addTag("c", "internal");
    e.refresh();
    EXPECT_TRUE(e.isPopoverOpen());
    EXPECT_EQ(p.field()->text(), "in");
    EXPECT_EQ(offered(), list({"infra", "internal"}));
    EXPECT_EQ(p.optionRows().front(), row);  // updated in place
    EXPECT_TRUE(p.field()->hasFocus());

    // Closed, it keeps what was typed for next time.
    QTest::keyClick(p.field(), Qt::Key_Escape);
    EXPECT_FALSE(e.isPopoverOpen());
    open();
    EXPECT_EQ(p.field()->text(), "in");
}

TEST_F(TagEditorTest, ThePopoverStaysOnScreenAndItsListScrollsBeyondItsLimit) {
    for (int i = 0; i < 30; ++i) store().addTag("b", "tag" + std::to_string(100 + i));
    TagPopover& p = open();
    EXPECT_EQ(offered().size(), 30);
    EXPECT_EQ(p.list()->height(), TagPopover::kMaxListHeight);
    typeInPopover("tag100");
    EXPECT_LT(p.list()->height(), TagPopover::kMaxListHeight);  // shorter content, shorter list
    p.hide();
    p.field()->clear();

    // It opens above its button; at the top of the screen, below it.
    const QRect screen = window->screen()->availableGeometry();
    auto button = [&] { return editor().addButton()->mapToGlobal(QPoint(0, 0)); };
    window->move(screen.left() + 200, screen.top() + 500);
    QCoreApplication::processEvents();
    open();
    EXPECT_LT(p.geometry().bottom(), button().y());
    // Typing shortens or lengthens the list (the create row comes); the
    // field stays where it opened.
    const QPoint field = p.field()->mapToGlobal(QPoint(0, 0));
    for (const char* typed : {"tag10", "tag100", "tag1", "nothing like it", ""}) {
        typeInPopover(typed);
        EXPECT_EQ(p.field()->mapToGlobal(QPoint(0, 0)), field) << typed;
    }
    // Opened with one tag to offer, the create row makes it taller.
    p.hide();
    editor().setRowId(QStringLiteral("c"));
    for (int i = 1; i < 30; ++i) store().removeTag("b", "tag" + std::to_string(100 + i));
    open();
    const QPoint small = p.field()->mapToGlobal(QPoint(0, 0));
    typeInPopover("ta");
    ASSERT_FALSE(p.createRow()->isHidden());
    EXPECT_EQ(p.field()->mapToGlobal(QPoint(0, 0)), small);
    editor().setRowId(QStringLiteral("a"));
    p.hide();
    window->move(screen.left() + 200, screen.top());
    QCoreApplication::processEvents();
    open();
    EXPECT_GT(p.geometry().top(), button().y());
    p.hide();

    // Near the screen's bottom-right corner it moves in.
    window->move(screen.right() - 30, screen.bottom() - 60);
    QCoreApplication::processEvents();
    open();
    EXPECT_TRUE(screen.contains(p.geometry())) << p.geometry().x() << "," << p.geometry().y();
}

TEST(TagChipWidthsTest, ChipsShareTheRowLikeLinesOfTextAndTheLastOnesGoWhenEvenTheirShortestFormDoesNot) {
    struct Case {
        std::vector<int> natural, minimum;
        int room;
        std::vector<int> widths;
    };
    const Case cases[] = {
        {{}, {}, 100, {}},
        {{40, 60}, {20, 20}, 110, {40, 60}},  // room for both whole (5 after each)
        {{40, 60}, {20, 20}, 109, {40, 59}},
        // The short one stays whole; the long ones share what is left equally.
        {{30, 200, 120}, {20, 20, 20}, 215, {30, 85, 85}},
        {{200, 200, 200}, {20, 20, 20}, 165, {50, 50, 50}},
        // Equal shares below a chip's shortest form: the last chips go.
        {{200, 200, 200}, {60, 60, 60}, 165, {77, 78, 0}},
        {{200, 200}, {60, 60}, 40, {0, 0}},
        {{200}, {60}, 0, {0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TagEditor::fitChipWidths(c.natural, c.minimum, c.room, 5), c.widths) << c.room;
    }
}

TEST_F(TagEditorTest, ChipsThatDoNotFitEndInAnEllipsisOnOneLineWithinTheEditorAndTheAddButtonStays) {
    for (const char* t : {"frontend", "backend", "ux", "infrastructure", "release notes"}) store().addTag("a", t);
    TagEditor& e = editor();
    auto check = [&](int width, bool whole) -> size_t {
        window->resize(width, 120);
        test::settle();
        SCOPED_TRACE(width);
        const QRect inside = e.rect();
        std::vector<QRect> taken;
        for (TagChip* c : e.chips()) {
            if (c->isHidden()) continue;
            const QString shown = c->shownText();
            if (whole || c->text() == "UX") {
                EXPECT_EQ(shown, c->text());
            } else {
                // Cut short on a letter boundary, with the ellipsis, on one line.
                EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
                EXPECT_TRUE(c->text().startsWith(shown.chopped(1))) << shown.toStdString();
                EXPECT_GE(shown.size(), 2);
                EXPECT_LE(c->fontMetrics().horizontalAdvance(shown), c->width() - 14);
            }
            EXPECT_EQ(c->height(), c->sizeHint().height());
            taken.push_back(c->geometry());
        }
        taken.push_back(e.addButton()->geometry());
        EXPECT_TRUE(e.addButton()->isVisible());
        for (size_t i = 0; i < taken.size(); ++i) {
            EXPECT_TRUE(inside.contains(taken[i])) << i;
            for (size_t j = i + 1; j < taken.size(); ++j) EXPECT_FALSE(taken[i].intersects(taken[j])) << i << "," << j;
        }
        return taken.size() - 1;
    };
    EXPECT_EQ(check(800, true), 5u);
    EXPECT_EQ(check(300, false), 5u);
    // Too narrow for all of them even cut short: the last ones are left out.
    const size_t few = check(120, false);
    EXPECT_GE(few, 1u);
    EXPECT_LT(few, 5u);
    // The widest the editor asks for is every chip whole; the narrowest, the
    // add button.
    EXPECT_EQ(e.minimumSizeHint().width(), e.addButton()->sizeHint().width());
    EXPECT_GT(e.sizeHint().width(), 300);
}

TEST_F(TagEditorTest, HoveringAChipMovesNothingEveryShownChipSaysSomethingAndHiddenOnesAreCounted) {
    TagEditor& e = editor();
    const int bare = e.sizeHint().height();
    for (const char* t : {"frontend", "backend", "ux", "infrastructure", "release notes", "billing", "urgent",
                          "customer escalation", "q3 planning"})
        store().addTag("a", t);
    e.refresh();
    // As tall with tags as without: a first tag moves nothing below.
    EXPECT_EQ(e.sizeHint().height(), bare);
    window->resize(330, 120);
    test::settle();
    auto layout = [&] {
        std::vector<QRect> out;
        for (TagChip* c : e.chips()) out.push_back(c->isHidden() ? QRect() : c->geometry());
        out.push_back(e.hiddenCountLabel()->isHidden() ? QRect() : e.hiddenCountLabel()->geometry());
        out.push_back(e.addButton()->geometry());
        return out;
    };
    const std::vector<QRect> before = layout();
    int shown = 0;
    for (TagChip* c : e.chips()) shown += c->isVisible() ? 1 : 0;
    ASSERT_GE(shown, 2);
    ASSERT_LT(shown, 9);
    // The row says how many chips it left out.
    EXPECT_EQ(e.hiddenCount(), 9 - shown);
    EXPECT_TRUE(e.hiddenCountLabel()->isVisible());
    EXPECT_EQ(e.hiddenCountLabel()->text(), QStringLiteral("+%1").arg(9 - shown));
    for (TagChip* c : e.chips()) {
        if (c->isHidden()) continue;
        SCOPED_TRACE(c->text().toStdString());
        for (bool over : {false, true}) {
            if (over) hover(c);
            test::settle();
            // At least the first letter and "…", beside the cross when hovered.
            const QString text = c->shownText();
            EXPECT_TRUE(text == c->text() || (text.size() >= 2 && text.endsWith(QChar(0x2026)))) << text.toStdString();
            EXPECT_TRUE(c->text().startsWith(text.endsWith(QChar(0x2026)) ? text.chopped(1) : text));
            EXPECT_EQ(layout(), before);
        }
        EXPECT_TRUE(c->removeButton()->isVisible());
        EXPECT_FALSE(c->removeButton()->geometry().intersects(
            QRect(7, 0, c->fontMetrics().horizontalAdvance(c->shownText()), c->height())));
        test::unhover(c);
    }
    // Room for every chip: no count.
    window->resize(1400, 120);
    test::settle();
    EXPECT_EQ(e.hiddenCount(), 0);
    EXPECT_TRUE(e.hiddenCountLabel()->isHidden());
}

}  // namespace
