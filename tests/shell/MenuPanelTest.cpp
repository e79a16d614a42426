#include <gtest/gtest.h>

#include <QLabel>
#include <QToolButton>

#include "Formatting.h"
#include "GuiTestSupport.h"
#include "InlineField.h"
#include "MainWindow.h"
#include "MenuPanel.h"
#include "NavState.h"
#include "Theme.h"

using namespace vorel;
using namespace vorel::test;
using namespace std::chrono;

namespace {

// The panel's content over a real cost model at noon.
class MenuPanelTest : public ModelTest {
protected:
    // A conversation answered `secondsAgo` before noon; a larger `order` is
    // a newer file.
    void conversation(const std::string& name, int secondsAgo, int order, int outputTokens = 1000,
                      const std::string& model = "claude-opus-4-8") {
        claude(name, kNoon - seconds{secondsAgo}, order, outputTokens, model);
    }
    MenuContent& content() {
        if (!panel) panel = std::make_unique<MenuContent>(model());
        return *panel;
    }
    MenuContent& shownContent() {
        showActive(content());
        return content();
    }
    std::vector<std::string> ids() {
        std::vector<std::string> out;
        for (TodayRow* r : content().rows()) out.push_back(r->rowId());
        return out;
    }
    TodayRow* row(const std::string& id) {
        for (TodayRow* r : content().rows())
            if (r->rowId() == id) return r;
        return nullptr;
    }
    std::optional<std::string> storedName(const std::string& id) {
        auto it = store.byId().find(id);
        return it == store.byId().end() ? std::nullopt : it->second.name;
    }
    // The colour in the middle of a status dot: accent for a disc, the
    // background for a ring.
    static QColor dotCentre(TodayRow* r) {
        QImage img = r->dot()->grab().toImage();
        return img.pixelColor(img.width() / 2, img.height() / 2);
    }

    std::unique_ptr<MenuContent> panel;
};

}  // namespace

TEST_F(MenuPanelTest, TodaysConversationsAtMostTenWithTheMoreLine) {
    // Yesterday's conversation costs nothing today.
    put("claude/p/old.jsonl", claudeUser("old") + claudeReply("o", 1000, "2026-07-04T10:00:00Z"), 1);
    MenuContent& c = shownContent();
    EXPECT_TRUE(c.rows().empty());
    EXPECT_FALSE(c.emptyLabel()->isHidden());
    EXPECT_TRUE(c.moreLabel()->isHidden());
    EXPECT_EQ(c.hero()->amountLabel()->text(), "$0.00");
    EXPECT_EQ(c.hero()->dateLabel()->text(), "Sun, Jul 5");

    for (int i = 0; i < 10; ++i) conversation("s" + std::to_string(i), 600 + 60 * i, 100 - i);
    model().tick();
    ASSERT_EQ(c.rows().size(), 10u);
    EXPECT_EQ(c.rows().front()->rowId(), "claude-code:s0");  // newest activity first
    EXPECT_EQ(c.rows().back()->rowId(), "claude-code:s9");
    EXPECT_TRUE(c.emptyLabel()->isHidden());
    EXPECT_TRUE(c.moreLabel()->isHidden());
    EXPECT_EQ(c.hero()->amountLabel()->text(), money(model().model().todayCost()));
    EXPECT_EQ(c.hero()->amountLabel()->text(), "$0.25");

    // An eleventh: the oldest is left out and the line says so.
    conversation("s10", 600 + 60 * 10, 90);
    model().tick();
    ASSERT_EQ(c.rows().size(), 10u);
    EXPECT_EQ(row("claude-code:s10"), nullptr);
    EXPECT_FALSE(c.moreLabel()->isHidden());
    EXPECT_EQ(c.moreLabel()->text(), "Showing latest 10 of 11.");

    // A tick that drops one conversation from today takes the line away.
    std::filesystem::remove(dir.file("claude/p/s3.jsonl"));
    model().tick();
    EXPECT_EQ(c.rows().size(), 10u);
    EXPECT_NE(row("claude-code:s10"), nullptr);
    EXPECT_TRUE(c.moreLabel()->isHidden());
}

TEST_F(MenuPanelTest, DotsShowLiveCurrentAndQuietConversations) {
    conversation("live", 30, 10);      // answered 30 s ago
    conversation("current", 300, 30);  // quiet for 5 minutes, newest file
    conversation("quiet", 900, 20);
    shownContent();
    ASSERT_EQ(ids(), (std::vector<std::string>{"claude-code:live", "claude-code:current", "claude-code:quiet"}));

    TodayRow* live = row("claude-code:live");
    TodayRow* current = row("claude-code:current");
    TodayRow* quiet = row("claude-code:quiet");
    EXPECT_TRUE(live->dot()->isLive());
    EXPECT_FALSE(current->dot()->isLive());
    EXPECT_TRUE(current->isCurrent());
    EXPECT_EQ(dotCentre(current), BrandColor::accent());
    EXPECT_FALSE(quiet->dot()->isLive());
    EXPECT_NE(dotCentre(quiet), BrandColor::accent());  // an empty ring
    EXPECT_TRUE(live->metaLabel()->text().endsWith(" · just now"));

    // Two minutes on, with no file changed, the next tick ages every row.
    clock->advance(minutes{2});
    model().tick();
    EXPECT_EQ(row("claude-code:live"), live);
    EXPECT_FALSE(live->dot()->isLive());
    EXPECT_NE(dotCentre(live), BrandColor::accent());
    EXPECT_TRUE(live->metaLabel()->text().endsWith(" · 2m ago"));
    EXPECT_TRUE(current->metaLabel()->text().endsWith(" · 7m ago"));
}

TEST_F(MenuPanelTest, MetaLineAndAmounts) {
    // One subagent, and a reply from yesterday that counts only in the total.
    put("claude/p/main.jsonl",
        claudeUser("Refactor billing") + claudeReply("y", 2000, "2026-07-04T09:00:00Z") +
            claudeReply("m", 1000, isoUtc(kNoon - minutes{5})),
        30);
    put("claude/p/main/subagents/agent-a.jsonl", claudeReply("a", 200, isoUtc(kNoon - seconds{400})), 20);
    // A model not in the rate table is priced by the fallback rate.
    conversation("odd", 600, 10, 1000, "mystery-model-7");

    MenuContent& c = content();
    TodayRow* main = row("claude-code:main");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->metaLabel()->text(), "Claude Code · opus 4 8 · 1 sub · 5m ago");
    EXPECT_TRUE(main->estimateLabel()->isHidden());
    EXPECT_EQ(main->todayLabel()->text(), "$0.03");  // 1,200 tokens at $25 per million
    EXPECT_EQ(main->totalLabel()->text(), "total $0.08");

    TodayRow* odd = row("claude-code:odd");
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(odd->metaLabel()->text(), "Claude Code · mystery model 7 · 10m ago");
    EXPECT_FALSE(odd->estimateLabel()->isHidden());
    EXPECT_NE(c.hero()->amountLabel()->text(), "$0.00");

    // Transcript text is never read as markup.
    for (QLabel* l : c.findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();

    // What a row does not have is left out without a lone separator.
    SessionRow r;
    r.lastActivity = kNoon - hours{1};
    EXPECT_EQ(TodayRow::metaLine(r, kNoon), "1h ago");
    r.source = "Codex";
    r.subagents.resize(3);
    EXPECT_EQ(TodayRow::metaLine(r, kNoon), "Codex · 3 sub · 1h ago");
    r.models = {{"gpt 5.5", 0.2, false}};
    r.source.clear();
    EXPECT_EQ(TodayRow::metaLine(r, kNoon), "gpt 5.5 · 3 sub · 1h ago");
}

TEST_F(MenuPanelTest, RenamingInARowStoresEveryCharacter) {
    conversation("a", 600, 10);
    conversation("b", 900, 5);
    shownContent();
    InlineField* field = row("claude-code:b")->nameField();
    EXPECT_EQ(field->text().toStdString(), store.topic("claude-code:b", "Work on b"));

    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    QTest::keyClicks(field, "Billing Api");
    EXPECT_EQ(storedName("claude-code:b"), "Billing Api");
    EXPECT_EQ(field->text(), "Billing Api");
    EXPECT_EQ(row("claude-code:a")->nameField()->text().toStdString(), store.topic("claude-code:a", "Work on a"));

    // Cleared, the name goes from the store; the field shows the fallback
    // topic once the user leaves it.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(storedName("claude-code:b"), std::nullopt);
    EXPECT_EQ(field->text(), "");
    row("claude-code:a")->nameField()->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(field->text().isEmpty());
    EXPECT_EQ(field->text().toStdString(), store.topic("claude-code:b", "Work on b"));
}

TEST_F(MenuPanelTest, TickKeepsTheRowBeingEdited) {
    conversation("a", 600, 10);
    conversation("b", 900, 5);
    shownContent();
    TodayRow* b = row("claude-code:b");
    InlineField* field = b->nameField();
    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    QTest::keyClicks(field, "Half typed ");

    // A new conversation arrives above and a rename comes from elsewhere.
    conversation("c", 10, 20);
    store.setName("Renamed elsewhere", "claude-code:a");
    model().tick();

    ASSERT_EQ(ids(), (std::vector<std::string>{"claude-code:c", "claude-code:a", "claude-code:b"}));
    EXPECT_EQ(row("claude-code:b"), b);
    EXPECT_EQ(b->nameField(), field);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(field->text(), "Half typed ");
    EXPECT_EQ(row("claude-code:a")->nameField()->text(), "Renamed elsewhere");
}

TEST_F(MenuPanelTest, HiddenPanelCatchesUpWhenShown) {
    conversation("a", 600, 10);
    MenuContent& c = content();
    TodayRow* a = row("claude-code:a");
    ASSERT_FALSE(c.isVisible());

    conversation("b", 30, 20);
    model().tick();
    store.setName("Named while hidden", "claude-code:a");
    EXPECT_TRUE(c.isStale());
    EXPECT_EQ(c.rows().size(), 1u);

    c.show();
    EXPECT_FALSE(c.isStale());
    EXPECT_EQ(ids(), (std::vector<std::string>{"claude-code:b", "claude-code:a"}));
    EXPECT_EQ(row("claude-code:a"), a);
    EXPECT_EQ(a->nameField()->text(), "Named while hidden");
}

TEST_F(MenuPanelTest, InfoButtonTogglesTheExplanationBelowIt) {
    HeroToday* hero = shownContent().hero();
    EXPECT_FALSE(hero->showInfo());
    hero->infoButton()->click();
    ASSERT_TRUE(hero->showInfo());
    ASSERT_NE(hero->infoPopover(), nullptr);
    EXPECT_TRUE(hero->infoPopover()->isVisible());
    EXPECT_GE(hero->infoPopover()->geometry().top(),
              hero->infoButton()->mapToGlobal(QPoint(0, hero->infoButton()->height())).y());

    // Dismissed from outside, the state follows.
    hero->infoPopover()->close();
    EXPECT_FALSE(hero->showInfo());
    hero->infoButton()->click();
    EXPECT_TRUE(hero->infoPopover()->isVisible());
    hero->infoButton()->click();
    EXPECT_FALSE(hero->infoPopover()->isVisible());
}

TEST_F(MenuPanelTest, ColoursFollowTheAppearanceAndTheHover) {
    conversation("a", 600, 10, 1000, "mystery-model-7");
    MenuContent& c = content();
    for (bool dark : {false, true}) {
        platform::Appearance::shared().setOverride(dark);
        EXPECT_EQ(c.palette().color(QPalette::Window), BrandColor::bg()) << dark;
        TodayRow* a = row("claude-code:a");
        EXPECT_EQ(a->estimateLabel()->palette().color(QPalette::WindowText), BrandColor::warn()) << dark;
        EXPECT_EQ(dotCentre(a), BrandColor::accent()) << dark;  // the current conversation
    }

    CommandButton* open = c.commands()->openButton();
    EXPECT_EQ(open->textColor(), BrandColor::textMuted());
    hover(open);
    EXPECT_TRUE(open->isHovered());
    EXPECT_EQ(open->textColor(), BrandColor::accent());
    unhover(open);
    EXPECT_EQ(open->textColor(), BrandColor::textMuted());
}

TEST(MenuPanelPlacement, BelowTheItemAboveWhenNoRoomAndOnScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize panel(282, 400);
    // A top bar: centred under the item.
    EXPECT_EQ(MenuPanel::placement(panel, QRect(1000, 0, 24, 24), screen), QPoint(1012 - 141, 28));
    // A bottom bar: above the item.
    EXPECT_EQ(MenuPanel::placement(panel, QRect(1000, 1056, 24, 24), screen), QPoint(1012 - 141, 1056 - 4 - 400));
    // At the right edge: pulled back onto the screen.
    EXPECT_EQ(MenuPanel::placement(panel, QRect(1900, 0, 20, 24), screen), QPoint(1920 - 282, 28));
    // Taller than the room on either side: kept on the screen.
    EXPECT_EQ(MenuPanel::placement(QSize(282, 1000), QRect(0, 500, 24, 24), screen), QPoint(0, 80));
    // A second screen to the right.
    EXPECT_EQ(MenuPanel::placement(panel, QRect(1930, 0, 24, 24), QRect(1920, 0, 1280, 1024)), QPoint(1920, 28));
}

TEST_F(MenuPanelTest, PanelOpensNearTheItemAndToggles) {
    for (int i = 0; i < 3; ++i) conversation("s" + std::to_string(i), 600 + 60 * i, 100 - i);
    MenuPanel p(model());
    const QRect item(200, 0, 24, 24);
    p.toggleNear(item);
    ASSERT_TRUE(p.isVisible());
    EXPECT_EQ(p.width(), MenuContent::kWidth + 2);
    EXPECT_EQ(p.content()->width(), MenuContent::kWidth);
    EXPECT_EQ(p.geometry().top(), 28);
    EXPECT_GE(p.height(), p.content()->minimumSizeHint().height());
    const int threeRows = p.height();

    // A click on the item while the panel is open closes it.
    p.toggleNear(item);
    EXPECT_FALSE(p.isVisible());
    // The same click, closing the popup first and then reaching the item,
    // does not open it again.
    p.show();
    p.close();
    p.toggleNear(item);
    EXPECT_FALSE(p.isVisible());
    QTest::qWait(MenuPanel::kReopenGuardMs + 50);
    p.toggleNear(item);
    EXPECT_TRUE(p.isVisible());

    // The panel grows with its list.
    for (int i = 3; i < 8; ++i) conversation("s" + std::to_string(i), 600 + 60 * i, 100 - i);
    model().tick();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(p.content()->rows().size(), 8u);
    EXPECT_GT(p.height(), threeRows);
    p.close();
}

TEST(MenuPanelCommands, OpenVorelShowsTheHistoryAndCtrlQQuits) {
    MenuPanel p(windowModel().app);
    NavState::shared().setSection(Section::pricing);
    p.showNear(QRect(10, 0, 24, 24));
    ASSERT_TRUE(p.isVisible());
    p.content()->commands()->openButton()->click();
    EXPECT_FALSE(p.isVisible());
    ASSERT_NE(MainWindow::existing(), nullptr);
    EXPECT_TRUE(MainWindow::existing()->isVisible());
    EXPECT_EQ(NavState::shared().section(), Section::history);

    // Ctrl+Q in the panel quits even now that the main window has its own
    // Quit shortcuts.
    p.showNear(QRect(10, 0, 24, 24));
    CommandButton* quit = p.content()->commands()->quitButton();
    QObject::disconnect(quit, &QAbstractButton::clicked, qApp, nullptr);  // the test process keeps running
    int quits = 0;
    QObject::connect(quit, &QAbstractButton::clicked, [&quits] { ++quits; });
    QTest::keyClick(&p, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
    p.close();
    MainWindow::existing()->hide();
}
