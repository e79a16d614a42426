#include <gtest/gtest.h>

#include <QLineEdit>
#include <QVBoxLayout>

#include "GuiTestSupport.h"
#include "InlineField.h"
#include "Theme.h"

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
        first = makeField();
        second = makeField();
        other = new QLineEdit;
        layout->addWidget(first);
        layout->addWidget(second);
        layout->addWidget(other);
        test::showActive(window);
        // Activation focused the first field; start with neither in edit.
        focus(other);
    }

    InlineField* makeField() {
        auto* f = new InlineField([this] { return QString::fromStdString(store.topic(kId, kTitle)); },
                                  [this](const QString& text) {
                                      received << text;
                                      store.setName(text.toStdString(), kId);
                                      // What the screens do when the store changes.
                                      first->refresh();
                                      second->refresh();
                                  },
                                  QStringLiteral("Topic"), BrandFont::sans(13, QFont::Medium), &BrandColor::text);
        return f;
    }

    void focus(QWidget* w) {
        w->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(w->hasFocus());
    }

    std::string storedName() const {
        auto it = store.byId().find(kId);
        return it == store.byId().end() || !it->second.name ? std::string("<none>") : *it->second.name;
    }

    // Whether the field's bottom pixel row is drawn in the accent colour.
    static bool underlined(InlineField* f) {
        QImage img = f->grab().toImage();
        QColor c = img.pixelColor(img.width() / 2, img.height() - 1);
        return c == BrandColor::accent();
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
    focus(first);
    first->selectAll();
    QTest::keyClicks(first, "Billing Api");

    // Every keystroke hands the whole, untrimmed text to the setter.
    ASSERT_EQ(received.size(), 11);
    EXPECT_EQ(received[7], "Billing ");
    EXPECT_EQ(received.last(), "Billing Api");
    // The store trimmed "Billing " to "Billing", but the field being typed in
    // was not refilled from it, so the blank survived.
    EXPECT_EQ(storedName(), "Billing Api");
    EXPECT_EQ(first->text(), "Billing Api");
    // The other field, not focused, shows the stored value at once.
    EXPECT_EQ(second->text(), "Billing Api");
}

TEST_F(InlineFieldTest, ClearedNameShowsTheFallbackOnceFocusLeaves) {
    store.setName("Old name", kId);
    first->refresh();
    ASSERT_EQ(first->text(), "Old name");

    focus(first);
    first->selectAll();
    QTest::keyClick(first, Qt::Key_Backspace);
    EXPECT_EQ(received, QStringList{""});
    EXPECT_EQ(storedName(), "<none>");
    // While focused the field stays empty (its placeholder shows) ...
    first->refresh();
    EXPECT_EQ(first->text(), "");
    EXPECT_EQ(first->placeholderText(), "Topic");

    // ... and takes the conversation's fallback topic when focus leaves.
    focus(other);
    const QString fallback = QString::fromStdString(store.topic(kId, kTitle));
    EXPECT_FALSE(fallback.isEmpty());
    EXPECT_EQ(first->text(), fallback);
    EXPECT_EQ(first->cursorPosition(), 0);
}

TEST_F(InlineFieldTest, TrailingBlankIsDroppedOnlyWhenFocusLeavesOrTheFieldHides) {
    focus(first);
    first->selectAll();
    QTest::keyClicks(first, "Draft ");
    EXPECT_EQ(first->text(), "Draft ");
    focus(other);
    EXPECT_EQ(first->text(), "Draft");

    focus(first);
    first->selectAll();
    QTest::keyClicks(first, "Name ");
    window.hide();
    EXPECT_FALSE(first->isEditing());
    EXPECT_EQ(first->text(), "Name");
}

TEST_F(InlineFieldTest, OnlyUserEditsReachTheSetterAndRefreshKeepsTheCursor) {
    focus(first);
    QTest::keyClick(first, Qt::Key_Return);
    first->refresh();
    focus(other);
    store.setName("Quarterly report", kId);
    first->refresh();
    EXPECT_TRUE(received.isEmpty());
    EXPECT_EQ(first->text(), "Quarterly report");

    first->setCursorPosition(5);
    first->refresh();
    EXPECT_EQ(first->cursorPosition(), 5);
    // While focused, a change from elsewhere waits: the text and the cursor
    // stay.
    focus(first);
    first->setCursorPosition(3);
    store.setName("Something else", kId);
    first->refresh();
    EXPECT_EQ(first->text(), "Quarterly report");
    EXPECT_EQ(first->cursorPosition(), 3);
}

TEST_F(InlineFieldTest, OnlyTheFocusedFieldIsUnderlinedInEitherAppearanceAndNoFieldChangesSize) {
    const QSize before = first->size();
    EXPECT_FALSE(underlined(first));
    EXPECT_FALSE(underlined(second));

    focus(first);
    EXPECT_TRUE(first->isEditing());
    EXPECT_TRUE(underlined(first));
    EXPECT_FALSE(underlined(second));
    EXPECT_EQ(first->size(), before);

    focus(second);
    EXPECT_FALSE(first->isEditing());
    EXPECT_FALSE(underlined(first));
    EXPECT_TRUE(underlined(second));

    for (bool dark : {true, false}) {
        platform::Appearance::shared().setOverride(dark);
        EXPECT_EQ(first->palette().color(QPalette::Text), BrandColor::text()) << dark;
        EXPECT_EQ(first->palette().color(QPalette::PlaceholderText), BrandColor::textFaint()) << dark;
        focus(first);
        EXPECT_TRUE(underlined(first)) << dark;
        focus(other);
    }
    platform::Appearance::shared().setOverride(std::nullopt);
}
