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

#include "shell/MainMenu.h"
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
    from->setFocus();
    emit editMenu(*menu)->aboutToShow();
    for (QAction* a : menu->editActions()) EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    emit editMenu(*menu)->aboutToHide();
}

TEST(MainMenu, TheWindowsKeysEachDoOneThing) {
    MainWindow::show(test::windowModel().app, Section::history);
    MainWindow* w = MainWindow::existing();
    ASSERT_NE(w, nullptr);
    test::showActive(*w);
    MainMenu* menu = w->mainMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_GE(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions().at(0)->text(), "Vorel");
    EXPECT_EQ(menu->actions().at(1)->text(), "Edit");
    // The test process keeps running: the quit is only counted.
    QObject::disconnect(menu->quitAction(), &QAction::triggered, qApp, nullptr);
    QSignalSpy quits(menu->quitAction(), &QAction::triggered);
    QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits.count(), 1);
    QTest::keyClick(w, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(w->isVisible());
}
