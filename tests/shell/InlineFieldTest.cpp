// The inline name field: every keystroke reaches the store, the field being
// typed in is never refilled from it, and it shows what the store kept after.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>

#include "shell/InlineField.h"
#include "shell/Theme.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;

namespace {

const char* kId = "claude-code:s1";
const char* kTitle = "Fix the login redirect loop";

// A window with two name fields bound to one conversation of an in-memory
// store (which trims what it keeps, as on disk), and a plain line edit to
// move the focus to.
class InlineFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        for (InlineField** f : {&first, &second}) {
            *f = new InlineField(store, InlineField::Edits::name, QStringLiteral("Topic"),
                                 BrandFont::sans(13, QFont::Medium), &BrandColor::text);
            (*f)->setRow(kId, kTitle);
            layout->addWidget(*f);
        }
        // What the field hands the store and, once it has, what the screens
        // do when the store changes.
        QObject::connect(first, &QLineEdit::textEdited, &window, [this](const QString& text) {
            received << text;
            first->refresh();
            second->refresh();
        });
        layout->addWidget(other = new QLineEdit);
        test::showActive(window);
        focus(other);  // activation focused the first field; start with neither in edit
    }
    void focus(QWidget* w) {
        w->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(w->hasFocus());
    }
    void retype(const char* text) {
        focus(first);
        first->selectAll();
        QTest::keyClicks(first, text);
    }
    // Whether the field's bottom pixel row is drawn in the accent colour.
    static bool underlined(InlineField* f) {
        QImage img = f->grab().toImage();
        return img.pixelColor(img.width() / 2, img.height() - 1) == BrandColor::accent();
    }
    MetadataStore store{""};
    QWidget window;
    InlineField* first = nullptr;
    InlineField* second = nullptr;
    QLineEdit* other = nullptr;
    QStringList received;
};

}  // namespace

TEST_F(InlineFieldTest, TypingThroughATrimmingStoreKeepsEveryCharacter) {
    retype("Billing Api");
    // Every keystroke hands the whole, untrimmed text to the setter.
    ASSERT_EQ(received.size(), 11);
    EXPECT_EQ(received[7], "Billing ");
    // The store trimmed "Billing " to "Billing", but the field being typed in
    // was not refilled from it, so the blank survived. The other field, not
    // focused, shows the stored value at once.
    EXPECT_EQ(first->text(), "Billing Api");
    EXPECT_EQ(second->text(), "Billing Api");
}

TEST_F(InlineFieldTest, WhenTheEditEndsTheFieldShowsWhatTheStoreKept) {
    retype("Name ");
    window.hide();  // a hidden field is not in edit
    EXPECT_EQ(first->text(), "Name");
    test::showActive(window);
    // Cleared, the field stays empty (its placeholder shows) while focused
    // and takes the conversation's fallback topic when focus leaves.
    focus(first);
    first->selectAll();
    QTest::keyClick(first, Qt::Key_Backspace);
    EXPECT_EQ(received.last(), "");
    first->refresh();
    EXPECT_EQ(first->text(), "");
    focus(other);
    const QString fallback = QString::fromStdString(store.topic(kId, kTitle));
    EXPECT_FALSE(fallback.isEmpty());
    EXPECT_EQ(first->text(), fallback);
    EXPECT_EQ(first->cursorPosition(), 0);
}

TEST_F(InlineFieldTest, OnlyUserEditsReachTheSetterAndRefreshKeepsTheCursor) {
    focus(first);
    focus(other);  // in and out without typing
    store.setName(kId, "Quarterly report");
    first->setCursorPosition(5);
    first->refresh();
    EXPECT_TRUE(received.isEmpty());
    EXPECT_EQ(first->text(), "Quarterly report");
    EXPECT_EQ(first->cursorPosition(), 0);  // a new text is read from its start
    first->setCursorPosition(5);
    first->refresh();
    EXPECT_EQ(first->cursorPosition(), 5);
    // While focused, a change from elsewhere waits: the text and the cursor
    // stay.
    focus(first);
    store.setName(kId, "Something else");
    first->refresh();
    EXPECT_EQ(first->text(), "Quarterly report");
    EXPECT_EQ(first->cursorPosition(), 5);
}

TEST_F(InlineFieldTest, OnlyTheFocusedFieldIsUnderlinedAndNoFieldChangesSize) {
    const QSize before = first->size();
    EXPECT_FALSE(underlined(first));
    focus(first);
    EXPECT_TRUE(underlined(first));
    EXPECT_FALSE(underlined(second));
    EXPECT_EQ(first->size(), before);
}

TEST_F(InlineFieldTest, ATextTooLongForTheFieldEndsInAnEllipsisUntilItIsEdited) {
    const QString longName = QStringLiteral("Migrate the billing service to the new ledger and retire the old tables");
    store.setName(kId, longName.toStdString());
    first->refresh();
    window.resize(220, window.height());
    QApplication::processEvents();
    ASSERT_LT(first->width(), first->fontMetrics().horizontalAdvance(longName));
    // Unfocused: cut at the edge with "…", from its start; the text itself
    // is whole.
    const QString shown = first->shownText();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\u2026"))) << shown.toStdString();
    EXPECT_TRUE(longName.startsWith(shown.chopped(1)));
    EXPECT_LE(first->fontMetrics().horizontalAdvance(shown), first->width());
    EXPECT_EQ(first->text(), longName);
    // Focused, the whole text is there to edit; a short text is never cut.
    focus(first);
    EXPECT_EQ(first->shownText(), longName);
    focus(other);
    store.setName(kId, "Short");
    first->refresh();
    EXPECT_EQ(first->shownText(), "Short");
}

TEST_F(InlineFieldTest, TheFieldEditsTheConversationItIsBoundToWhateverOwnsIt) {
    // Moved to another conversation while being typed in: what is typed
    // next goes to the new one, and the old one keeps its name.
    retype("First");
    first->setRow("claude-code:s2", "Second title");
    EXPECT_EQ(first->text().toStdString(), store.topic("claude-code:s2", "Second title"));
    QTest::keyClicks(first, "!");
    EXPECT_EQ(store.topic(kId, kTitle), "First");
    EXPECT_EQ(store.topic("claude-code:s2", "Second title"), first->text().toStdString());
    EXPECT_TRUE(first->text().endsWith('!'));
    // A field whose owner is gone ends its edit with the store alone.
    auto* owner = new QWidget(&window);
    auto* field = new InlineField(store, InlineField::Edits::note, QStringLiteral("Add a note…"), BrandFont::sans(12),
                                  &BrandColor::textMuted, owner);
    field->setRow(kId, kTitle);
    owner->show();
    focus(field);
    field->selectAll();
    QTest::keyClicks(field, "note ");
    delete owner;
    EXPECT_EQ(store.subtitle(kId, kTitle), "note");
}
