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
using vorel::test::TempDir;

namespace {

const QString kNoTags = QString::fromUtf8("No other tags yet \u2014 type to create one.");

QStringList list(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* s : items) out << QString::fromUtf8(s);
    return out;
}

std::vector<std::string> tagsOf(const MetadataStore& store, const std::string& id) { return store.tags(id); }

// --- What the popover offers -------------------------------------------------

TEST(TagChoicesTest, ReusableTagsLeaveOutThisConversationsInAnyCaseElseItInvitesToCreateOne) {
    TagChoices none = TagChoices::compute({}, {}, QString());
    EXPECT_FALSE(none.showCreate);
    EXPECT_TRUE(none.tags.isEmpty());
    EXPECT_EQ(none.message, kNoTags);

    TagChoices c = TagChoices::compute(list({"Backend", "infra", "urgent", "work"}), list({"WORK", "backend"}), "");
    EXPECT_EQ(c.tags, list({"infra", "urgent"}));
    EXPECT_FALSE(c.showCreate);
    EXPECT_TRUE(c.message.isEmpty());

    // Every tag in use is this conversation's: the invitation shows.
    TagChoices own = TagChoices::compute(list({"work"}), list({"Work"}), "");
    EXPECT_TRUE(own.tags.isEmpty());
    EXPECT_EQ(own.message, kNoTags);
}

TEST(TagChoicesTest, ANewTextOffersTheCreateRowAndTheTagsContainingItIgnoringCase) {
    TagChoices c = TagChoices::compute(list({"Release", "release notes v1", "urgent"}), {}, "release notes");
    EXPECT_TRUE(c.showCreate);
    EXPECT_EQ(c.tags, list({"release notes v1"}));
    EXPECT_TRUE(c.message.isEmpty());
    EXPECT_EQ(TagChoices::compute(list({"Release", "urgent"}), {}, "LEAS").tags, list({"Release"}));

    // An existing tag in another case hides the create row and is listed.
    TagChoices existing = TagChoices::compute(list({"work"}), {}, "Work");
    EXPECT_FALSE(existing.showCreate);
    EXPECT_EQ(existing.tags, list({"work"}));
    EXPECT_TRUE(existing.message.isEmpty());

    // Spaces only: the create row, no message.
    TagChoices blank = TagChoices::compute(list({"work"}), {}, "   ");
    EXPECT_TRUE(blank.showCreate);
    EXPECT_TRUE(blank.tags.isEmpty());
    EXPECT_TRUE(blank.message.isEmpty());
}

TEST(TagChoicesTest, TypingATagThisConversationHasSaysAlreadyAdded) {
    TagChoices c = TagChoices::compute(list({"urgent", "work"}), list({"work"}), "WORK");
    EXPECT_FALSE(c.showCreate);
    EXPECT_TRUE(c.tags.isEmpty());
    EXPECT_EQ(c.message, "Already added.");

    // Another tag containing the text is still offered, without the message.
    TagChoices other = TagChoices::compute(list({"homework", "work"}), list({"work"}), "work");
    EXPECT_EQ(other.tags, list({"homework"}));
    EXPECT_TRUE(other.message.isEmpty());
    EXPECT_FALSE(other.showCreate);
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

// --- The editor --------------------------------------------------------------

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
    TempDir dir;
    std::unique_ptr<MetadataStore> store_;
    std::unique_ptr<QWidget> window;
    TagEditor* ed = nullptr;
};

TEST_F(TagEditorTest, ChipsShowTagsUpperCasedThePopoverAsStoredAndMarkupAndAmpersandsAsTyped) {
    store().addTag("R&D <b>x</b>", "a");
    store().addTag("Q&A", "b");
    store().addTag("urgent", "b");
    TagEditor& e = editor();
    ASSERT_EQ(e.chips().size(), 1u);
    QLabel* chip = e.chips().front()->label();
    EXPECT_EQ(chip->textFormat(), Qt::PlainText);
    EXPECT_EQ(chip->text(), "R&D <B>X</B>");
    EXPECT_EQ(e.chips().front()->tag(), "R&D <b>x</b>");
    TagPopover& p = open();
    ASSERT_EQ(offered(), list({"Q&A", "urgent"}));
    TagOptionRow* row = p.optionRows().front();
    EXPECT_EQ(row->label(), "Q&A");
    EXPECT_TRUE(row->shortcut().isEmpty());  // no mnemonic from the "&"

    typeInPopover("<i>&");
    EXPECT_EQ(p.createRow()->label(), QString::fromUtf8("\u23CE  Create \u201C<i>&\u201D"));
    EXPECT_TRUE(p.createRow()->shortcut().isEmpty());
}

TEST_F(TagEditorTest, ReturnAddsTheTrimmedTextAndEmptiesTheFieldWithThePopoverOpen) {
    store().addTag("release notes v1", "b");
    editor();
    TagPopover& p = open();
    typeInPopover("release notes");
    EXPECT_FALSE(p.createRow()->isHidden());
    EXPECT_EQ(offered(), list({"release notes v1"}));
    // The list filters on the text as typed, blanks included; the create
    // row quotes it as typed.
    p.field()->setCursorPosition(0);
    p.field()->insert(QStringLiteral("  "));
    p.field()->end(false);
    p.field()->insert(QStringLiteral("\t"));
    EXPECT_EQ(p.createRow()->label(), QString::fromUtf8("\u23CE  Create \u201C  release notes\t\u201D"));
    EXPECT_TRUE(offered().isEmpty());
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_EQ(tagsOf(store(), "a"), (std::vector<std::string>{"release notes"}));
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(editor().isPopoverOpen());
    EXPECT_EQ(chipTexts(), list({"RELEASE NOTES"}));

    // The create row does the same.
    typeInPopover("urgent");
    QTest::mouseClick(p.createRow(), Qt::LeftButton);
    EXPECT_EQ(tagsOf(store(), "a"), (std::vector<std::string>{"release notes", "urgent"}));
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(editor().isPopoverOpen());
}

TEST_F(TagEditorTest, WithoutTagsOnlyTheAddButtonShowsAndCommittingBlanksDoesNothing) {
    TagEditor& e = editor();
    EXPECT_TRUE(e.chips().empty());
    EXPECT_TRUE(e.addButton()->isVisible());
    TagPopover& p = open();
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(p.createRow()->isHidden());
    EXPECT_TRUE(offered().isEmpty());
    EXPECT_EQ(p.message(), kNoTags);

    typeInPopover("   ");
    EXPECT_FALSE(p.createRow()->isHidden());
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_TRUE(tagsOf(store(), "a").empty());
    EXPECT_EQ(p.field()->text(), "   ");  // kept as typed
    EXPECT_EQ(store().byId().count("a"), 0u);
}

TEST_F(TagEditorTest, PickingAddsTheTagAsListedAndReturnAddsItAsTyped) {
    store().addTag("work", "b");
    editor();
    TagPopover& p = open();
    typeInPopover("Work");
    EXPECT_TRUE(p.createRow()->isHidden());
    ASSERT_EQ(offered(), list({"work"}));
    QTest::mouseClick(p.optionRows().front(), Qt::LeftButton);
    EXPECT_EQ(tagsOf(store(), "a"), (std::vector<std::string>{"work"}));
    EXPECT_EQ(p.field()->text(), "");
    EXPECT_TRUE(editor().isPopoverOpen());
    // Now this conversation has it: no longer offered, and Return on the
    // same text in another case changes nothing.
    typeInPopover("Work");
    EXPECT_TRUE(offered().isEmpty());
    EXPECT_EQ(p.message(), "Already added.");
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_EQ(tagsOf(store(), "a"), (std::vector<std::string>{"work"}));

    // On a conversation without it, Return adds the text as typed.
    editor().setRowId(QStringLiteral("c"));
    EXPECT_TRUE(editor().chips().empty());
    typeInPopover("Work");
    QTest::keyClick(p.field(), Qt::Key_Return);
    EXPECT_EQ(tagsOf(store(), "c"), (std::vector<std::string>{"Work"}));
    EXPECT_EQ(store().allTags(), (std::vector<std::string>{"Work", "work"}));
}

TEST_F(TagEditorTest, TheCrossShowsOnHoverAndRemovesExactlyThatText) {
    store().addTag("Work", "a");
    store().addTag("urgent", "a");
    TagEditor& e = editor();
    ASSERT_EQ(e.chips().size(), 2u);
    TagChip* work = e.chips().front();
    EXPECT_TRUE(work->removeButton()->isHidden());
    hover(work);
    EXPECT_TRUE(work->isHovered());
    EXPECT_FALSE(work->removeButton()->isHidden());
    EXPECT_TRUE(e.chips().back()->removeButton()->isHidden());
    test::unhover(work);
    EXPECT_TRUE(work->removeButton()->isHidden());

    hover(work);
    QTest::mouseClick(work->removeButton(), Qt::LeftButton);
    EXPECT_EQ(tagsOf(store(), "a"), (std::vector<std::string>{"urgent"}));
    EXPECT_EQ(chipTexts(), list({"URGENT"}));
}

TEST_F(TagEditorTest, ATagStoredTwiceShowsOneChipAndRemovingItRemovesBoth) {
    // A hand-edited file.
    dir.write("meta/metadata.json", R"({"a":{"tags":["work","Work","work"]}})");
    TagEditor& e = editor();
    EXPECT_EQ(chipTexts(), list({"WORK", "WORK"}));  // two stored texts
    EXPECT_EQ(e.chips()[0]->tag(), "work");
    EXPECT_EQ(e.chips()[1]->tag(), "Work");
    hover(e.chips()[0]);
    QTest::mouseClick(e.chips()[0]->removeButton(), Qt::LeftButton);
    EXPECT_EQ(tagsOf(store(), "a"), (std::vector<std::string>{"Work"}));
    EXPECT_EQ(chipTexts(), list({"WORK"}));
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
    EXPECT_TRUE(tagsOf(store(), "a").empty());
    open();
    EXPECT_EQ(p.field()->text(), "in");
    EXPECT_FALSE(p.createRow()->isHidden());
}

TEST_F(TagEditorTest, TheListScrollsBeyondItsHeightLimit) {
    for (int i = 0; i < 30; ++i) store().addTag("tag" + std::to_string(100 + i), "b");
    editor();
    TagPopover& p = open();
    EXPECT_EQ(offered().size(), 30);
    EXPECT_EQ(p.list()->height(), TagPopover::kMaxListHeight);
    typeInPopover("tag100");
    EXPECT_LT(p.list()->height(), TagPopover::kMaxListHeight);  // shorter content, shorter list
}

TEST_F(TagEditorTest, ThePopoverOpensAtItsButtonAndStaysOnScreen) {
    TagEditor& e = editor();
    TagPopover& p = open();
    const QRect button(e.addButton()->mapToGlobal(QPoint(0, 0)), e.addButton()->size());
    EXPECT_GT(p.geometry().top(), button.bottom());  // below the button
    EXPECT_LE(p.geometry().top() - button.bottom(), 8);
    p.hide();

    // Near the screen's bottom-right corner it flips above and moves in.
    const QRect screen = window->screen()->availableGeometry();
    window->move(screen.right() - 30, screen.bottom() - 60);
    QCoreApplication::processEvents();
    open();
    EXPECT_TRUE(screen.contains(p.geometry())) << p.geometry().x() << "," << p.geometry().y();
}

}  // namespace
