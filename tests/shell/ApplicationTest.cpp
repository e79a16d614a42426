#include <gtest/gtest.h>

#include <QDateTime>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "AppModel.h"
#include "Application.h"
#include "CostModel.h"
#include "CostSource.h"
#include "FakeStatusItem.h"
#include "MainWindow.h"
#include "MenuPanel.h"
#include "MetadataStore.h"
#include "NavState.h"
#include "TestSupport.h"
#include "WaitFor.h"

using namespace vorel;
using vorel::test::FakeStatusItem;
using vorel::test::TempDir;
using vorel::test::waitFor;

namespace {

class EnvVar {
public:
    EnvVar(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvVar() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A Claude Code reply written now, so it counts for today: claude-opus-4-8
// bills output at 25 dollars per million tokens.
std::string replyNow(const std::string& id, int outputTokens) {
    std::string now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    return R"({"type":"assistant","timestamp":")" + now + R"(","message":{"id":")" + id +
           R"(","model":"claude-opus-4-8","usage":{"output_tokens":)" + std::to_string(outputTokens) + "}}}\n";
}

// A cost model over a Claude Code folder of the test's own.
struct Fixture {
    TempDir transcripts;
    TempDir metaDir;
    EnvVar root{"VOREL_CLAUDE_ROOT", transcripts.path().string()};
    MetadataStore meta{metaDir.path().string()};
    AppModel app{std::make_unique<CostModel>(
                     std::vector<std::shared_ptr<const CostSource>>{std::make_shared<ClaudeCodeSource>()}, meta),
                 meta};
};

// The main window is made once per process and keeps the model it was made
// with, so the tests that open it share one model that is never destroyed.
AppModel& windowModel() {
    static Fixture f;
    return f.app;
}

}  // namespace

TEST(ApplicationTitle, FollowsTheModelAndIsPushedOnlyWhenItChanges) {
    Fixture f;
    FakeStatusItem item;
    Application shell(f.app, &item);
    EXPECT_EQ(item.pushedTitles(), QStringList{"$0.00"});

    f.transcripts.write("-home-me-proj/s1.jsonl", replyNow("m1", 40'000));
    f.app.tick();
    EXPECT_EQ(item.pushedTitles(), (QStringList{"$0.00", "$1.00"}));

    // Passes that change nothing leave the desktop alone.
    f.app.tick();
    f.app.tick();
    EXPECT_EQ(item.pushedTitles().size(), 2);
}

TEST(ApplicationTitle, ItemGetsTheLogoAtItsOwnSize) {
    Fixture f;
    FakeStatusItem item;
    Application shell(f.app, &item);
    // The tests bundle no artwork: the item is told to show no logo.
    EXPECT_EQ(item.iconPushes(), 1);
    EXPECT_TRUE(item.icon().isNull());
}

TEST(ApplicationCommands, QuitFromTheItemQuits) {
    Fixture f;
    FakeStatusItem item;
    Application shell(f.app, &item);
    int quits = 0;
    shell.setQuitAction([&] { ++quits; });
    item.chooseQuit();
    EXPECT_EQ(quits, 1);
}

TEST(ApplicationCommands, OpenFromTheItemShowsConversations) {
    AppModel& model = windowModel();
    FakeStatusItem item;
    Application shell(model, &item);
    MainWindow::show(model, Section::pricing);
    MainWindow::existing()->close();
    ASSERT_FALSE(MainWindow::existing()->isVisible());

    item.chooseOpen();
    EXPECT_TRUE(MainWindow::existing()->isVisible());
    EXPECT_EQ(NavState::shared().section(), Section::history);
}

TEST(ApplicationCommands, ClickOnTheItemTogglesThePanel) {
    Fixture f;
    FakeStatusItem item;
    Application shell(f.app, &item);
    EXPECT_EQ(shell.panel(), nullptr);  // made when first needed

    item.click(QRect(400, 0, 24, 24));
    ASSERT_NE(shell.panel(), nullptr);
    EXPECT_TRUE(shell.panel()->isVisible());

    item.click(QRect(400, 0, 24, 24));
    EXPECT_FALSE(shell.panel()->isVisible());
}

TEST(ApplicationLaunch, OpensTheWindowOnceAtTheSectionAskedFor) {
    AppModel& model = windowModel();
    FakeStatusItem item;
    Application shell(model, &item);
    EnvVar section("VOREL_SECTION", "pricing");
    if (MainWindow::existing()) MainWindow::existing()->close();

    shell.postLaunchTask();
    // Posted, not run: the window opens on the next turn of the event loop.
    EXPECT_TRUE(!MainWindow::existing() || !MainWindow::existing()->isVisible());
    ASSERT_TRUE(waitFor([] { return MainWindow::existing() && MainWindow::existing()->isVisible(); }));
    EXPECT_EQ(NavState::shared().section(), Section::pricing);

    // The user moves on; the launch task does not run twice.
    NavState::shared().setSection(Section::chart);
    MainWindow::existing()->close();
    shell.openAtLaunch();
    EXPECT_FALSE(MainWindow::existing()->isVisible());
    EXPECT_EQ(NavState::shared().section(), Section::chart);
}
