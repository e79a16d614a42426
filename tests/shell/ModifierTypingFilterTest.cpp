// Letters typed with Alt or Ctrl held are menu mnemonics and commands, never
// text: no field takes them, while the fields' own command keys still work
// and the menus open by their mnemonics.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTextEdit>
#include <QVBoxLayout>

#include "shell/InlineField.h"
#include "shell/MainMenu.h"
#include "shell/ModifierTypingFilter.h"
#include "shell/Theme.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;

TEST(ModifierTypingFilter, NoFieldTakesALetterTypedWithAltOrCtrlAndTheMenusOpenByTheirMnemonics) {
    ModifierTypingFilter filter;
    qApp->installEventFilter(&filter);
    MetadataStore store("");
    store.setName("claude-code:s1", "Billing");
    QWidget window;
    auto* v = new QVBoxLayout(&window);
    auto* menu = new MainMenu(&window);
    v->setMenuBar(menu);
    auto* name = new InlineField(store, InlineField::Edits::name, QStringLiteral("Topic"), BrandFont::sans(13),
                                 &BrandColor::text);
    name->setRow("claude-code:s1", "title");
    auto* search = new QLineEdit;
    auto* summary = new QTextEdit;
    v->addWidget(name);
    v->addWidget(search);
    v->addWidget(summary);
    test::showActive(window);

    for (QWidget* field : {static_cast<QWidget*>(name), static_cast<QWidget*>(search), static_cast<QWidget*>(summary)}) {
        field->setFocus();
        ASSERT_TRUE(field->hasFocus());
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_X, Qt::AltModifier);
        QTest::keyClick(field, Qt::Key_J, Qt::ControlModifier | Qt::AltModifier);
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(field, Qt::Key_S);
    }
    EXPECT_EQ(name->text(), "Billings");
    EXPECT_EQ(store.topic("claude-code:s1", "title"), "Billings");
    EXPECT_EQ(search->text(), "s");
    EXPECT_EQ(summary->toPlainText(), "s");
    // The fields' own command keys pass.
    QTest::keyClick(search, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(search->selectedText(), "s");

    // Alt and a menu's first letter opens it, from a field too, and types
    // nothing.
    name->setFocus();
    QMenu* edit = menu->actions().at(1)->menu();
    QTest::keyClick(name, Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(test::waitFor([&] { return edit->isVisible(); }));
    // Opened from the keyboard, its commands are for the field it was
    // opened from, although the menu holds the focus meanwhile.
    EXPECT_EQ(MainMenu::editFocus(), name);
    EXPECT_TRUE(menu->editActions().last()->isEnabled());  // Select All
    edit->close();
    EXPECT_EQ(name->text(), "Billings");
    qApp->removeEventFilter(&filter);
}
