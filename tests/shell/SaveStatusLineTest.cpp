// The line that says names and notes are not safely saved: shown in the
// panel while a save keeps failing, gone once the timer's retry gets them
// out; the word about an unreadable file kept aside, until dismissed
// wherever it shows.

#include <gtest/gtest.h>

#include <QLabel>
#include <QToolButton>

#include "shell/MenuContent.h"
#include "shell/SaveStatusLine.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

// A store over its own folder whose disk is full until told otherwise, and
// the app model around it.
class SaveStatusLineTest : public ModelTest {
protected:
    MetadataStore& failingStore() {
        if (!failing) {
            failing = std::make_unique<MetadataStore>(folder.path().string(), [this](const std::string& path,
                                                                                    std::string_view bytes,
                                                                                    std::string* error) {
                if (!full) return MetadataFile::writeAtomically(path, bytes, error);
                *error = "No space left on device";
                return false;
            });
        }
        return *failing;
    }
    AppModel& failingModel() {
        if (!app) app = std::make_unique<AppModel>(std::make_unique<CostModel>(failingStore(), *clock), failingStore());
        return *app;
    }

    TempDir folder;
    bool full = true;
    std::unique_ptr<MetadataStore> failing;
    std::unique_ptr<AppModel> app;
};

}  // namespace

TEST_F(SaveStatusLineTest, PanelTellsOfAFailedSaveUntilTheTimersRetrySucceeds) {
    claude("s1", kNoon - std::chrono::minutes{5}, 1);
    AppModel& m = failingModel();  // the first pass stores a suggested name, and fails
    MenuContent panel(m);
    auto* line = panel.findChild<SaveStatusLine*>();
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isHidden());
    EXPECT_EQ(line->errorLabel()->text(), "Names and notes could not be saved: No space left on device.");
    EXPECT_FALSE(line->noticeLabel()->isVisibleTo(line));

    m.meta().setName("claude-code:s1", "Mine");
    m.tick();
    EXPECT_FALSE(line->isHidden());
    full = false;
    m.tick();
    EXPECT_TRUE(line->isHidden());
    EXPECT_EQ(MetadataStore(folder.path().string()).topic("claude-code:s1", ""), "Mine");
}

TEST_F(SaveStatusLineTest, UnreadableFileNoticeShowsWhereItWasKeptUntilDismissedAnywhere) {
    setClock(std::make_shared<FixedClock>(utc(2026, 12, 6, 21, 15, 0)));
    folder.write("metadata.json", "{not json");
    full = false;
    MetadataStore& s = failingStore();
    QWidget screens;  // never shown: the lines stay child widgets, not windows
    SaveStatusLine window(s, &screens), panel(s, &screens);
    EXPECT_TRUE(window.isHidden());  // nothing moved yet
    s.setName("a", "A");
    for (SaveStatusLine* line : {&window, &panel}) {
        EXPECT_FALSE(line->isHidden());
        EXPECT_FALSE(line->errorLabel()->isVisibleTo(line));
        EXPECT_EQ(line->noticeLabel()->text(),
                  "metadata.json could not be read, so names and notes start empty. The file was kept as "
                  "metadata.json.unreadable-20261206T211500Z.");
    }
    // A failing save shows beside the notice, and goes alone.
    full = true;
    s.setName("a", "B");
    EXPECT_TRUE(panel.errorLabel()->isVisibleTo(&panel));
    EXPECT_TRUE(panel.noticeLabel()->isVisibleTo(&panel));
    full = false;
    s.retryUnsavedChanges();
    EXPECT_FALSE(panel.errorLabel()->isVisibleTo(&panel));
    EXPECT_FALSE(panel.isHidden());

    panel.dismissButton()->click();
    EXPECT_TRUE(window.isHidden());
    EXPECT_TRUE(panel.isHidden());
}

TEST_F(SaveStatusLineTest, NoHomeFolderIsToldInThePanelAndWindowAndStaysTold) {
    claude("s1", kNoon - std::chrono::minutes{5}, 1);
    MetadataStore inMemory("");  // what no home folder gives
    AppModel m(std::make_unique<CostModel>(inMemory, *clock), inMemory);
    MenuContent panel(m);
    QWidget screens;
    SaveStatusLine window(inMemory, &screens);
    const QString said =
        "Names and notes are kept only until Vorel quits: there is no home folder to save them in.";
    auto* inPanel = panel.findChild<SaveStatusLine*>();
    ASSERT_NE(inPanel, nullptr);
    for (SaveStatusLine* line : {inPanel, &window}) {
        EXPECT_FALSE(line->isHidden());
        EXPECT_TRUE(line->errorLabel()->isVisibleTo(line));
        EXPECT_EQ(line->errorLabel()->text(), said);
    }
    // Every save "succeeds" in memory: the line must not go.
    inMemory.setName("claude-code:s1", "Mine");
    m.tick();
    EXPECT_FALSE(window.isHidden());
    EXPECT_EQ(window.errorLabel()->text(), said);
    EXPECT_EQ(inMemory.topic("claude-code:s1", ""), "Mine");
}
