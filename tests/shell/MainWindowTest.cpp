// The main window: one window for the life of the process, shown again and
// never rebuilt; which screen it keeps and which it discards as sections
// change; the sidebar; the footer while hidden; and the environment values
// that choose its first size and section.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>

#include "shell/AboutView.h"
#include "shell/Formatting.h"
#include "shell/MainWindow.h"
#include "shell/NavState.h"
#include "shell/ShellScreens.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using vorel::test::ScopedSettings;
using vorel::test::windowModel;

namespace {

int chartScreensMade = 0;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerShellScreens();
        // The chart section gets a screen with state of its own, to see when
        // a screen is kept and when it starts afresh.
        MainWindow::registerScreen(Section::chart, [](AppModel&) -> QWidget* {
            ++chartScreensMade;
            return new QLineEdit;
        });
    }
    void TearDown() override {
        if (MainWindow* w = MainWindow::existing()) w->hide();
    }
    static MainWindow* show(Section s) {
        MainWindow::show(windowModel().app, s);
        QApplication::processEvents();
        return MainWindow::existing();
    }
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    static QString selectedTitle(MainWindow* w) {
        const auto items = w->findChild<QListWidget*>()->selectedItems();
        return items.size() == 1 ? items.first()->text() : QString();
    }
};

}  // namespace

// First, so that it is the one that makes the window when run in order.
TEST_F(MainWindowTest, ContentSizeComesFromTheSettingsOnlyWhenMade) {
    const bool makesIt = MainWindow::existing() == nullptr;
    {
        ScopedSettings size(Settings{.windowWidth = 1000, .windowHeight = 700});
        MainWindow* win = show(Section::history);
        if (makesIt) { EXPECT_EQ(win->size(), QSize(1000, 700)); }
        win->close();
    }
    const QSize before = MainWindow::existing()->size();
    ScopedSettings other(Settings{.windowWidth = 1200, .windowHeight = 900});
    show(Section::history);
    EXPECT_EQ(MainWindow::existing()->size(), before);
}

TEST_F(MainWindowTest, CloseHidesAndShowBringsBackTheSameScreenLeavingTheSectionDiscardsIt) {
    MainWindow* w = show(Section::chart);
    QPointer<QWidget> screen = w->currentScreen();
    auto* edit = qobject_cast<QLineEdit*>(screen.data());
    ASSERT_NE(edit, nullptr);
    edit->setText(QStringLiteral("half-typed"));
    const int made = chartScreensMade;
    w->close();
    flushDeletes();
    ASSERT_FALSE(screen.isNull());
    EXPECT_EQ(show(Section::chart), w);
    EXPECT_EQ(w->currentScreen(), screen.data());
    EXPECT_EQ(edit->text(), "half-typed");
    EXPECT_EQ(chartScreensMade, made);
    // Leaving the section discards its screen; coming back makes a new one.
    show(Section::pricing);
    flushDeletes();
    EXPECT_TRUE(screen.isNull());
    show(Section::chart);
    EXPECT_EQ(chartScreensMade, made + 1);
    // A maximized window comes back maximized; a minimized one comes back.
    w->showMaximized();
    w->close();
    show(Section::chart);
    EXPECT_TRUE(w->windowState() & Qt::WindowMaximized);
    w->showMinimized();
    show(Section::chart);
    EXPECT_FALSE(w->windowState() & Qt::WindowMinimized);
    w->showNormal();
}

TEST_F(MainWindowTest, TheSidebarFollowsAndSelectsSectionsAndASelectionOfNoRowKeepsTheSection) {
    MainWindow* w = show(Section::pricing);
    EXPECT_EQ(selectedTitle(w), "Pricing");
    QListWidget* list = w->findChild<QListWidget*>();
    QWidget* screen = w->currentScreen();
    list->setCurrentRow(-1);
    list->clearSelection();
    // Ctrl+click on the selected row would deselect it.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(4)).center());
    EXPECT_EQ(NavState::shared().section(), Section::pricing);
    EXPECT_EQ(selectedTitle(w), "Pricing");
    EXPECT_EQ(w->currentScreen(), screen);
    // Opened again from the panel: the conversations.
    w->close();
    show(Section::history);
    EXPECT_EQ(selectedTitle(w), "Conversations");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(5)).center());
    EXPECT_EQ(NavState::shared().section(), Section::about);
    EXPECT_EQ(selectedTitle(w), "About");
    EXPECT_NE(qobject_cast<AboutView*>(w->currentScreen()), nullptr);
}

TEST_F(MainWindowTest, HiddenWindowCatchesUpWhenShown) {
    test::WindowModel& m = windowModel();
    MainWindow* w = show(Section::history);
    auto* amount = w->findChild<QLabel*>(QStringLiteral("todayAmount"));
    ASSERT_NE(amount, nullptr);
    m.app.tick();
    const double start = m.app.model().todayCost();
    w->close();
    amount->setText(QStringLiteral("marker"));
    m.addReply(4000);  // $0.10
    m.app.tick();
    ASSERT_NEAR(m.app.model().todayCost(), start + 0.10, 1e-9);
    EXPECT_EQ(amount->text(), "marker");  // not redrawn while hidden
    show(Section::history);
    EXPECT_EQ(amount->text(), money(start + 0.10));
    // While shown, a pass updates it at once.
    m.addReply(4000);
    m.app.tick();
    EXPECT_EQ(amount->text(), money(start + 0.20));
}

TEST_F(MainWindowTest, AScreenWiderThanTheWindowWidensItAndLeavingItLetsTheUserNarrowItAgain) {
    MainWindow::registerScreen(Section::exportCsv, [](AppModel&) -> QWidget* {
        auto* wide = new QWidget;
        wide->setMinimumWidth(MainWindow::kNarrowestScreen + 100);
        return wide;
    });
    MainWindow* w = show(Section::history);
    w->resize(MainWindow::kMinimumSize.width(), 500);
    EXPECT_EQ(w->width(), MainWindow::kMinimumSize.width());  // the screens here fit
    show(Section::exportCsv);
    EXPECT_EQ(w->width(), MainWindow::kMinimumSize.width() + 100);
    show(Section::pricing);
    EXPECT_EQ(w->minimumWidth(), MainWindow::kMinimumSize.width());
    w->resize(MainWindow::kMinimumSize.width(), 500);
    EXPECT_EQ(w->width(), MainWindow::kMinimumSize.width());
}

TEST_F(MainWindowTest, AtTheSmallestSizeEveryScreenHasItsWholeHeightUnderTheMenuBarAndTheSaveLine) {
    MainWindow* w = show(Section::history);
    test::showActive(*w);
    QWidget* line = w->saveStatusLine();
    auto screenFits = [&](const char* what) {
        w->resize(MainWindow::kMinimumSize);
        test::settle();
        QWidget* screen = w->currentScreen();
        ASSERT_NE(screen, nullptr);
        const int bottom = screen->mapTo(w, QPoint(0, screen->height())).y();
        EXPECT_GE(screen->height(), screen->minimumHeight()) << what;
        EXPECT_LE(bottom + (line->isVisible() ? line->height() : 0), w->height()) << what;
    };
    for (Section s : {Section::history, Section::chart, Section::details, Section::exportCsv, Section::pricing,
                      Section::about}) {
        show(s);
        line->hide();
        screenFits(sectionTitle(s).toUtf8().constData());
        line->show();
        screenFits(sectionTitle(s).toUtf8().constData());
    }
    line->hide();
    // With the line gone, the window can be made as small as before.
    w->resize(MainWindow::kMinimumSize);
    test::settle();
    EXPECT_EQ(w->minimumHeight(), w->layout()->totalMinimumSize().height());
}

TEST(SectionFromName, ExactNamesMapToSectionsAnythingElseToTheHistory) {
    EXPECT_EQ(sectionFromName("export"), Section::exportCsv);
    EXPECT_EQ(sectionFromName("about"), Section::about);
    for (const char* other : {"Pricing", " about", ""}) EXPECT_EQ(sectionFromName(other), Section::history) << other;
}

TEST_F(MainWindowTest, TheSaveLineComesAndGoesBelowTheScreenInLineWithItsText) {
    MainWindow* w = show(Section::history);
    test::showActive(*w);
    QWidget* line = w->saveStatusLine();
    ASSERT_NE(line, nullptr);
    QWidget* screen = w->currentScreen();
    ASSERT_NE(screen, nullptr);
    auto topOf = [&] { return screen->mapTo(w, QPoint(0, 0)); };
    line->hide();
    test::settle();
    const QPoint top = topOf();
    // Shown (a save failed) and gone again, it never moves the screen's top
    // or anything below it but the screen's foot.
    line->show();
    test::settle();
    EXPECT_EQ(topOf(), top);
    EXPECT_GE(line->mapTo(w, QPoint(0, 0)).y(), screen->mapTo(w, QPoint(0, screen->height())).y());
    // Its text starts where the screens' text does, 20 from the sidebar.
    EXPECT_EQ(line->mapTo(w, QPoint(line->contentsMargins().left(), 0)).x(), MainWindow::kSidebarWidth + 20);
    line->hide();
    test::settle();
    EXPECT_EQ(topOf(), top);
}
