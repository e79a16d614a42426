#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "GuiTestSupport.h"
#include "TagEditor.h"

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
    // Unicode case folding and composition, as the store compares tags.
    EXPECT_TRUE(tagtext::sameIgnoringCase(QString::fromUtf8("Caf\u00E9"), QString::fromUtf8("CAFE\u0301")));
    EXPECT_TRUE(tagtext::sameIgnoringCase(QString::fromUtf8("STRASSE"), QString::fromUtf8("stra\u00DFe")));
    EXPECT_FALSE(tagtext::sameIgnoringCase("work", "works"));
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
        for (TagChip* c : editor().chips()) out << c->label()->text();
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

TEST_F(TagEditorTest, ReturnAddsTheTrimmedTextAndEmptiesTheFieldWithThePopoverOpenButNeverABlank) {
    store().addTag("release notes v1", "b");
    TagPopover& p = open();
    typeInPopover("   ");
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_TRUE(tags().empty());
    EXPECT_EQ(p.field()->text(), "   ");  // kept as typed, to be corrected

    typeInPopover("release notes");
    EXPECT_EQ(offered(), list({"release notes v1"}));
    // The list filters on the text as typed, blanks included; the create row quotes it as typed.
    p.field()->setText(QStringLiteral("  release notes\t"));
    EXPECT_EQ(p.createRow()->label(), QString::fromUtf8("\u23CE  Create \u201C\u2068  release notes\t\u2069\u201D"));
    EXPECT_TRUE(offered().isEmpty());
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_EQ(tags(), (std::vector<std::string>{"release notes"}));
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(editor().isPopoverOpen());

    // The create row does the same.
    typeInPopover("urgent");
    QTest::mouseClick(p.createRow(), Qt::LeftButton);
    EXPECT_EQ(tags(), (std::vector<std::string>{"release notes", "urgent"}));
}

TEST_F(TagEditorTest, TheListShowsTagsAsTypedPickingAddsOneAsListedAndReturnAddsTheTextAsTyped) {
    store().addTag("Q&A", "b");
    store().addTag("work", "b");
    TagPopover& p = open();
    ASSERT_EQ(offered(), list({"Q&A", "work"}));
    EXPECT_TRUE(p.optionRows().front()->shortcut().isEmpty());  // no mnemonic from the "&"
    typeInPopover("<i>&");
    EXPECT_EQ(p.createRow()->label(), QString::fromUtf8("\u23CE  Create \u201C\u2068<i>&\u2069\u201D"));
    EXPECT_TRUE(p.createRow()->shortcut().isEmpty());

    typeInPopover("Work");
    EXPECT_TRUE(p.createRow()->isHidden());
    ASSERT_EQ(offered(), list({"work"}));
    QTest::mouseClick(p.optionRows().front(), Qt::LeftButton);
    EXPECT_EQ(tags(), (std::vector<std::string>{"work"}));
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(editor().isPopoverOpen());
    // On a conversation without it, Return adds the text as typed.
    editor().setRowId(QStringLiteral("c"));
    EXPECT_TRUE(editor().chips().empty());
    typeInPopover("Work");
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_EQ(tags("c"), (std::vector<std::string>{"Work"}));
    EXPECT_EQ(store().allTags(), (std::vector<std::string>{"Q&A", "Work", "work"}));
}

TEST_F(TagEditorTest, ChipsShowTagsUpperCasedAsTypedAndTheCrossOnHoverRemovesExactlyThatTextEveryCopy) {
    // A hand-edited file may hold a tag twice.
    dir.write("meta/metadata.json", R"({"a":{"tags":["work","Work","work","R&D <b>x</b>"]}})");
    TagEditor& e = editor();
    EXPECT_EQ(chipTexts(), list({"WORK", "WORK", "R&D <B>X</B>"}));  // each stored text once
    EXPECT_EQ(e.chips().back()->label()->textFormat(), Qt::PlainText);
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
    store().addTag("infra", "b");
    TagEditor& e = editor();
    TagPopover& p = open();
    typeInPopover("in");
    ASSERT_EQ(offered(), list({"infra"}));
    TagOptionRow* row = p.optionRows().front();

    // Another editor adds a tag elsewhere; the host refreshes this one.
    store().addTag("internal", "c");
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
    for (int i = 0; i < 30; ++i) store().addTag("tag" + std::to_string(100 + i), "b");
    TagPopover& p = open();
    EXPECT_EQ(offered().size(), 30);
    EXPECT_EQ(p.list()->height(), TagPopover::kMaxListHeight);
    typeInPopover("tag100");
    EXPECT_LT(p.list()->height(), TagPopover::kMaxListHeight);  // shorter content, shorter list
    p.hide();

    // It opens above its button; at the top of the screen, below it.
    const QRect screen = window->screen()->availableGeometry();
    auto button = [&] { return editor().addButton()->mapToGlobal(QPoint(0, 0)); };
    window->move(screen.left() + 200, screen.top() + 500);
    QCoreApplication::processEvents();
    open();
    EXPECT_LT(p.geometry().bottom(), button().y());
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

}  // namespace
