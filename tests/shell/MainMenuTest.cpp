// The main window's menus: the edit commands reach the focused field (or a
// list) from the menu, the menu shows which have something to act on, and
// the window's keys each do one thing.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

#include "engine/MetadataStore.h"
#include "shell/InlineField.h"
#include "shell/MainMenu.h"
#include "shell/Theme.h"
#include "shell/MainWindow.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;

namespace {

void trigger(MainMenu& menu, const char* slot) {
    for (QAction* a : menu.editActions())
        if (a->data().toByteArray() == slot) return a->trigger();
    ADD_FAILURE() << "no command " << slot;
}

QMenu* editMenu(MainMenu& menu) { return menu.actions().at(1)->menu(); }

}  // namespace

TEST(MainMenu, EditCommandsActOnTheFocusedFieldAndShowWhatTheyCanActOn) {
    QWidget window;
    auto* v = new QVBoxLayout(&window);
    auto* menu = new MainMenu(&window);
    v->setMenuBar(menu);
    auto* from = new QLineEdit(QStringLiteral("alpha"));
    auto* to = new QLineEdit;
    auto* list = new QListWidget;
    list->addItems({QStringLiteral("x"), QStringLiteral("y")});
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* button = new QPushButton(QStringLiteral("b"));
    for (QWidget* w : {static_cast<QWidget*>(from), static_cast<QWidget*>(to), static_cast<QWidget*>(list),
                       static_cast<QWidget*>(button)})
        v->addWidget(w);
    test::showActive(window);

    from->setFocus();
    trigger(*menu, "selectAll");
    EXPECT_EQ(from->selectedText(), "alpha");
    trigger(*menu, "copy");
    EXPECT_EQ(QApplication::clipboard()->text(), "alpha");
    to->setFocus();
    trigger(*menu, "paste");
    EXPECT_EQ(to->text(), "alpha");
    trigger(*menu, "undo");
    EXPECT_EQ(to->text(), "");
    trigger(*menu, "redo");
    EXPECT_EQ(to->text(), "alpha");
    trigger(*menu, "selectAll");
    trigger(*menu, "cut");
    EXPECT_EQ(to->text(), "");
    EXPECT_EQ(from->text(), "alpha");
    // A list selects all its rows, and copies its current row as its own
    // key would.
    list->setFocus();
    trigger(*menu, "selectAll");
    EXPECT_EQ(list->selectedItems().size(), 2);
    list->setCurrentRow(1);
    trigger(*menu, "copy");
    EXPECT_EQ(QApplication::clipboard()->text(), "y");

    // Opened over a button, or a list of one selected row at most, the
    // commands are greyed; closed, they are enabled again for the keys.
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    emit editMenu(*menu)->aboutToShow();
    EXPECT_FALSE(menu->editActions().last()->isEnabled());
    emit editMenu(*menu)->aboutToHide();
    button->setFocus();
    emit editMenu(*menu)->aboutToShow();
    for (QAction* a : menu->editActions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    emit editMenu(*menu)->aboutToHide();
    for (QAction* a : menu->editActions()) EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();

    // Over a field, each command is enabled when it has something to act
    // on: nothing to undo or redo and no selection leave only Paste and
    // Select All; a selection adds Cut and Copy, an edit Undo.
    auto enabled = [&] {
        emit editMenu(*menu)->aboutToShow();
        QStringList out;
        for (QAction* a : menu->editActions())
            if (a->isEnabled()) out << QString::fromLatin1(a->data().toByteArray());
        emit editMenu(*menu)->aboutToHide();
        return out.join(' ');
    };
    from->setFocus();
    from->deselect();
    EXPECT_EQ(enabled(), "paste selectAll");
    from->selectAll();
    EXPECT_EQ(enabled(), "cut copy paste selectAll");
    QTest::keyClick(from, Qt::Key_B);
    EXPECT_EQ(enabled(), "undo paste selectAll");
    from->setReadOnly(true);
    from->selectAll();
    EXPECT_EQ(enabled(), "copy selectAll");
    // A list copies its current row; without one, nothing.
    list->setFocus();
    list->setCurrentRow(-1);
    EXPECT_EQ(enabled(), "");
    list->setCurrentRow(0);
    EXPECT_EQ(enabled(), "copy");
}

TEST(MainMenu, AMenuOpenedFromTheKeyboardLeavesTheFieldAsItWas) {
    MetadataStore store("");
    QWidget window;
    auto* v = new QVBoxLayout(&window);
    auto* menu = new MainMenu(&window);
    v->setMenuBar(menu);
    auto* name = new InlineField(store, InlineField::Edits::name, QStringLiteral("Topic"), BrandFont::sans(13),
                                 &BrandColor::text);
    name->setRow("claude-code:s1", "title");
    auto* search = new QLineEdit;
    auto* other = new QLineEdit;
    for (QWidget* w : {static_cast<QWidget*>(name), static_cast<QWidget*>(search), static_cast<QWidget*>(other)})
        v->addWidget(w);
    test::showActive(window);
    // What Alt and a menu's letter do on this desktop: the menu bar takes
    // the focus until the menu closes, then gives it back, both with the
    // menu bar's reason.
    auto throughMenuBar = [&](QWidget* field) {
        menu->setFocus(Qt::MenuBarFocusReason);
        EXPECT_EQ(MainMenu::editFocus(), field);
        field->setFocus(Qt::MenuBarFocusReason);
    };

    // The selection made before the menu opened is what Cut takes, in a
    // name field and in any other.
    for (QLineEdit* field : {static_cast<QLineEdit*>(name), search}) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, "Billing Api");
        QTest::keyClick(field, Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(field, Qt::Key_Left, Qt::ShiftModifier);
        throughMenuBar(field);
        trigger(*menu, "cut");
        EXPECT_EQ(field->text(), "Billing A");
        EXPECT_EQ(QApplication::clipboard()->text(), "pi");
    }
    EXPECT_EQ(store.topic("claude-code:s1", "title"), "Billing A");
    QMenu* edit = menu->actions().at(1)->menu();
    // Closed without a command, the menu gives the field back as it was:
    // the edit goes on with its cursor where it was and the blank the store
    // trimmed, so typing continues the text.
    name->setFocus();
    QTest::keyClick(name, Qt::Key_End);
    QTest::keyClick(name, Qt::Key_Space);
    throughMenuBar(name);
    EXPECT_TRUE(name->isEditing());
    QTest::keyClicks(name, "pi");
    EXPECT_EQ(name->text(), "Billing A pi");
    EXPECT_EQ(store.topic("claude-code:s1", "title"), "Billing A pi");
    // A menu opened by its letter while the bar holds the focus (the first
    // menu closed by Escape) still goes back to the field.
    menu->setFocus(Qt::MenuBarFocusReason);
    QTest::keyClick(menu, Qt::Key_E, Qt::AltModifier);
    ASSERT_TRUE(test::waitFor([&] { return edit->isVisible(); }));
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(name->hasFocus());
    QTest::keyClicks(name, "e");
    EXPECT_EQ(name->text(), "Billing A pie");
    // From the menu bar to another widget, the edit ends.
    QTest::keyClick(name, Qt::Key_Space);
    menu->setFocus(Qt::MenuBarFocusReason);
    EXPECT_TRUE(name->isEditing());
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(name->isEditing());
    EXPECT_EQ(name->text(), "Billing A pie");
}

TEST(MainMenu, TheWindowsKeysEachDoOneThing) {
    MainWindow::show(test::windowModel().app, Section::history);
    MainWindow* w = MainWindow::existing();
    ASSERT_NE(w, nullptr);
    test::showActive(*w);
    MainMenu* menu = w->mainMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_GE(menu->actions().size(), 2);
    // The titles, each opened with Alt and its first letter.
    EXPECT_EQ(menu->actions().at(0)->text(), "&Vorel");
    EXPECT_EQ(menu->actions().at(1)->text(), "&Edit");
    // The test process keeps running: the quit is only counted.
    QObject::disconnect(menu->quitAction(), &QAction::triggered, qApp, nullptr);
    QSignalSpy quits(menu->quitAction(), &QAction::triggered);
    QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits.count(), 1);
    QTest::keyClick(w, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(w->isVisible());
}
