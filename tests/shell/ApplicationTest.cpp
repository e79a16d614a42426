// The application's wiring: the status item's title, logo, click and menu
// commands, and the window it opens at launch.

#include <gtest/gtest.h>

#include "shell/Application.h"
#include "shell/MainWindow.h"
#include "shell/MenuPanel.h"
#include "shell/NavState.h"
#include "tests/GuiTestSupport.h"
#include "tests/shell/FakeStatusItem.h"

using namespace vorel;
using namespace vorel::test;

using ApplicationTest = ModelTest;

TEST_F(ApplicationTest, TitleFollowsTheModelOnlyWhenItChangesTheItemQuitsAndItsClickTogglesThePanel) {
    FakeStatusItem item;
    Application shell(model(), &item);
    EXPECT_EQ(item.pushedTitles(), QStringList{"$0.00"});
    // The tests bundle no artwork: the item is told, once, to show no logo.
    EXPECT_EQ(item.pushedIcons(), QList<QImage>{QImage()});
    claude("s1", kNoon - std::chrono::minutes{1}, 1, 40'000);  // $1.00
    model().tick();
    EXPECT_EQ(item.pushedTitles(), (QStringList{"$0.00", "$1.00"}));
    // Passes that change nothing leave the desktop alone.
    model().tick();
    EXPECT_EQ(item.pushedTitles().size(), 2);

    int quits = 0;
    shell.setQuitAction([&] { ++quits; });
    emit item.quitRequested();
    EXPECT_EQ(quits, 1);
    emit item.activated(QRect(400, 0, 24, 24));
    ASSERT_NE(shell.panel(), nullptr);
    EXPECT_TRUE(shell.panel()->isVisible());
    emit item.activated(QRect(400, 0, 24, 24));
    EXPECT_FALSE(shell.panel()->isVisible());
}

TEST(ApplicationWindow, TheItemOpensConversationsAndTheLaunchTaskItsSectionOnce) {
    AppModel& model = windowModel().app;
    FakeStatusItem item;
    Application shell(model, &item);
    MainWindow::show(model, Section::pricing);
    MainWindow::existing()->close();
    emit item.openRequested();
    EXPECT_TRUE(MainWindow::existing()->isVisible());
    EXPECT_EQ(NavState::shared().section(), Section::history);
    MainWindow::existing()->close();
    Settings launch = Settings::current();
    launch.section = "pricing";
    ScopedSettings section(launch);
    shell.postLaunchTask();
    // Posted, not run: the window opens on the next turn of the event loop.
    EXPECT_FALSE(MainWindow::existing()->isVisible());
    ASSERT_TRUE(waitFor([] { return MainWindow::existing()->isVisible(); }));
    EXPECT_EQ(NavState::shared().section(), Section::pricing);
    // The user moves on; the launch task does not run twice.
    NavState::shared().setSection(Section::chart);
    MainWindow::existing()->close();
    shell.openAtLaunch();
    EXPECT_FALSE(MainWindow::existing()->isVisible());
    EXPECT_EQ(NavState::shared().section(), Section::chart);
}
