// The panel that opens from the status item: today's amount and
// conversations, renaming in a row, its placement and its open/close toggle.

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "shell/CommandButton.h"
#include "shell/HeroToday.h"
#include "shell/InlineField.h"
#include "shell/MainWindow.h"
#include "shell/MenuContent.h"
#include "shell/MenuPanel.h"
#include "shell/MetaLine.h"
#include "shell/NavState.h"
#include "shell/Theme.h"
#include "shell/TodayRow.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace vorel::test;
using namespace std::chrono;

namespace {

// The panel's content over a real cost model at noon.
class MenuPanelTest : public ModelTest {
protected:
    MenuContent& content(bool shown = false) {
        if (!panel) panel = std::make_unique<MenuContent>(model());
        if (shown) showActive(*panel);
        return *panel;
    }
    // The listed conversations by file stem, in order: "c a b".
    std::string ids() {
        std::string out;
        for (TodayRow* r : content().rows()) out += (out.empty() ? "" : " ") + r->rowId().substr(12);
        return out;
    }
    TodayRow* row(const std::string& stem) {
        for (TodayRow* r : content().rows())
            if (r->rowId() == "claude-code:" + stem) return r;
        return nullptr;
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
    MenuContent& c = content(true);
    EXPECT_FALSE(c.emptyLabel()->isHidden());
    EXPECT_EQ(c.hero()->amountLabel()->text(), "$0.00");
    EXPECT_EQ(c.hero()->dateLabel()->text(), "Sun, Jul 5");
    for (int i = 0; i < 10; ++i) claude("s" + std::to_string(i), kNoon - seconds{600 + 60 * i}, 100 - i);
    model().tick();
    EXPECT_EQ(ids(), "s0 s1 s2 s3 s4 s5 s6 s7 s8 s9");  // newest activity first
    EXPECT_TRUE(c.emptyLabel()->isHidden());
    EXPECT_TRUE(c.moreLabel()->isHidden());
    EXPECT_EQ(c.hero()->amountLabel()->text(), "$0.25");
    // An eleventh: the oldest is left out and the line says so.
    claude("s10", kNoon - seconds{600 + 60 * 10}, 90);
    model().tick();
    EXPECT_EQ(row("s10"), nullptr);
    EXPECT_EQ(c.moreLabel()->text(), "Showing latest 10 of 11.");
    EXPECT_FALSE(c.moreLabel()->isHidden());
    // A tick that drops one conversation from today takes the line away.
    std::filesystem::remove(dir.file("claude/p/s3.jsonl"));
    model().tick();
    EXPECT_NE(row("s10"), nullptr);
    EXPECT_TRUE(c.moreLabel()->isHidden());
}

TEST_F(MenuPanelTest, DotsShowLiveCurrentAndQuietConversationsInEitherAppearance) {
    claude("live", kNoon - 30s, 10);      // answered 30 s ago
    claude("current", kNoon - 300s, 30);  // quiet for 5 minutes, newest file
    claude("quiet", kNoon - 900s, 20);
    content(true);
    ASSERT_EQ(ids(), "live current quiet");
    TodayRow* live = row("live");
    TodayRow* current = row("current");
    EXPECT_TRUE(live->dot()->isLive());
    EXPECT_FALSE(current->dot()->isLive());
    EXPECT_NE(dotCentre(row("quiet")), BrandColor::accent());  // an empty ring
    EXPECT_TRUE(live->metaRow()->text().endsWith(" · just now"));
    for (bool dark : {false, true}) {
        platform::Appearance::shared().setOverride(dark);
        EXPECT_EQ(content().palette().color(QPalette::Window), BrandColor::bg()) << dark;
        EXPECT_EQ(dotCentre(current), BrandColor::accent()) << dark;
    }
    // Two minutes on, with no file changed, the next tick ages every row.
    clock->advance(minutes{2});
    model().tick();
    EXPECT_EQ(row("live"), live);
    EXPECT_FALSE(live->dot()->isLive());
    EXPECT_TRUE(live->metaRow()->text().endsWith(" · 2m ago"));
    EXPECT_TRUE(current->metaRow()->text().endsWith(" · 7m ago"));
}

TEST_F(MenuPanelTest, MetaLineAndAmounts) {
    // One subagent, and a reply from yesterday that counts only in the total.
    put("claude/p/main.jsonl",
        claudeUser("Refactor billing") + claudeReply("y", 2000, "2026-07-04T09:00:00Z") +
            claudeReply("m", 1000, isoUtc(kNoon - minutes{5})),
        30);
    put("claude/p/main/subagents/agent-a.jsonl", claudeReply("a", 200, isoUtc(kNoon - seconds{400})), 20);
    // A model not in the rate table is priced by the fallback rate.
    claude("odd", kNoon - 600s, 10, 1000, "mystery-model-7");
    TodayRow* main = row("main");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->metaRow()->text(), "Claude Code · \u2068opus 4 8\u2069 · 1 sub · 5m ago");
    EXPECT_FALSE(main->metaRow()->hasMark());
    EXPECT_EQ(main->todayLabel()->text(), "$0.03");  // 1,200 tokens at $25 per million
    EXPECT_EQ(main->totalLabel()->text(), "total $0.08");
    EXPECT_TRUE(row("odd")->metaRow()->hasMark());
    // Transcript text is never read as markup.
    for (QLabel* l : content().findChildren<QLabel*>())
        EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->text().toStdString();
    // What a row does not have is left out without a lone separator.
    SessionRow r;
    r.lastActivity = kNoon - hours{1};
    EXPECT_EQ(TodayRow::metaLine(r, kNoon), "1h ago");
    r.subagents.resize(3);
    r.models = {{"gpt 5.5", 0.2, false}};
    EXPECT_EQ(TodayRow::metaLine(r, kNoon), "\u2068gpt 5.5\u2069 · 3 sub · 1h ago");
}

TEST_F(MenuPanelTest, MetaLineAndEstimateMarkReadAsOneLineWhileTheyFitAndWrapAfterTheLastWord) {
    // A row as wide as the panel's content.
    QWidget column;
    column.setFixedWidth(MenuContent::kWidth - 32);
    auto* layout = new QVBoxLayout(&column);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* today = new TodayRow(store, "codex:x");
    layout->addWidget(today);
    // Lines that fit the column, with the mark and without: one line each,
    // however long the line is.
    const struct {
        const char* source;
        bool estimated;
    } cases[] = {{"Codex", false}, {"", true}};
    for (const auto& c : cases) {
        SessionRow r;
        r.id = "codex:x";
        r.source = c.source;
        r.lastActivity = kNoon - minutes{12};
        r.models = {{"gpt 5.5", 0.2, c.estimated}};
        today->setRow(r, false, kNoon);
        showActive(column);
        test::settle();
        MetaLine* meta = today->metaRow();
        EXPECT_EQ(meta->hasMark(), c.estimated);
        const QFontMetricsF fm(meta->font());
        ASSERT_LT(fm.horizontalAdvance(meta->shownText()), meta->width()) << "the test needs a line that fits";
        EXPECT_EQ(meta->lineCount(), 1) << meta->shownText().toStdString();
        EXPECT_EQ(meta->height(), int(std::ceil(fm.height()))) << meta->shownText().toStdString();
    }

    // Too long for the column: whole words go to the next line, and the
    // mark comes after the line's end, in one piece.
    MetaLine narrow;
    narrow.setText(QStringLiteral("Claude Code · opus 4 6 · 12 sub · 59m ago"));
    narrow.setMark(true);
    const QFontMetricsF fm(narrow.font());
    const int oneLine = int(std::ceil(fm.height()));
    const int width = int(fm.horizontalAdvance(narrow.text())) - 10;
    narrow.resize(width, narrow.heightForWidth(width));
    EXPECT_EQ(narrow.lineCount(), 2);
    EXPECT_EQ(narrow.height(), 2 * oneLine);
    EXPECT_TRUE(narrow.shownText().endsWith(QStringLiteral("\u2002⚑\u00A0est")));
}

TEST_F(MenuPanelTest, MetaLineBreaksOnlyBetweenItsPiecesAtEveryWidth) {
    MetaLine meta;
    meta.setText(QStringLiteral("Claude Code · \u2068sonnet 4 5 20250929\u2069 · 2 sub · just now"));
    meta.setMark(true);
    const QStringList pieces = meta.shownText().split(MetaLine::kSeparator);
    const QFontMetricsF fm(meta.font());
    int breaks = 0;
    // From one line down to the widest piece alone on a line.
    for (int width = int(fm.horizontalAdvance(meta.shownText())) + 2; width >= 125; width -= 3) {
        meta.resize(width, meta.heightForWidth(width));
        const QStringList lines = meta.shownLines();
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(meta.height(), lines.size() * int(std::ceil(fm.height())));
        breaks += int(lines.size()) - 1;
        // Every line is whole pieces: each but the last ends with its
        // separator's "·", each but the first starts a piece.
        for (int i = 0; i < lines.size(); ++i) {
            QString line = lines[i].trimmed();
            // The mark may start a line of its own, after the last piece.
            const bool beforeMark = i + 1 < lines.size() && lines[i + 1].startsWith(MetaLine::kMark);
            if (i + 1 < lines.size() && !beforeMark) {
                ASSERT_TRUE(line.endsWith(QChar(0x00B7))) << width << ": " << lines.join('|').toStdString();
                line = line.chopped(1).trimmed();
            }
            const QStringList own = line.split(QStringLiteral(" \u00B7 "));
            for (const QString& piece : own) {
                // The mark after the last piece may go to a line of its own.
                const bool known = pieces.contains(piece) || pieces.last().startsWith(piece) ||
                                   pieces.last().endsWith(piece);
                EXPECT_TRUE(known) << width << ": " << lines.join('|').toStdString();
            }
        }
    }
    EXPECT_GT(breaks, 0);
}

TEST_F(MenuPanelTest, RenamingInARowStoresEveryCharacterAndATickKeepsTheRowBeingEdited) {
    claude("a", kNoon - 600s, 10);
    claude("b", kNoon - 900s, 5);
    content(true);
    TodayRow* b = row("b");
    InlineField* field = b->nameField();
    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    QTest::keyClicks(field, "Billing Api ");
    EXPECT_EQ(store.byId().at("claude-code:b").name, "Billing Api");
    // A new conversation arrives above and a rename comes from elsewhere.
    claude("c", kNoon - 10s, 20);
    store.setName("claude-code:a", "Renamed elsewhere");
    model().tick();
    ASSERT_EQ(ids(), "c a b");
    EXPECT_EQ(row("b"), b);
    EXPECT_EQ(b->nameField(), field);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(field->text(), "Billing Api ");
    EXPECT_EQ(row("a")->nameField()->text(), "Renamed elsewhere");
}

TEST_F(MenuPanelTest, HiddenPanelCatchesUpWhenShown) {
    claude("a", kNoon - 600s, 10);
    MenuContent& c = content();
    TodayRow* a = row("a");
    claude("b", kNoon - 30s, 20);
    model().tick();
    store.setName("claude-code:a", "Named while hidden");
    EXPECT_EQ(c.rows().size(), 1u);  // not redrawn while hidden
    c.show();
    EXPECT_EQ(ids(), "b a");
    EXPECT_EQ(row("a"), a);
    EXPECT_EQ(a->nameField()->text(), "Named while hidden");
}

TEST_F(MenuPanelTest, InfoButtonTogglesTheExplanationBelowIt) {
    HeroToday* hero = content(true).hero();
    hero->infoButton()->click();
    ASSERT_TRUE(hero->showInfo() && hero->infoPopover());
    EXPECT_TRUE(hero->infoPopover()->isVisible());
    EXPECT_GE(hero->infoPopover()->geometry().top(),
              hero->infoButton()->mapToGlobal(QPoint(0, hero->infoButton()->height())).y());
    // Dismissed from outside, the state follows.
    hero->infoPopover()->close();
    EXPECT_FALSE(hero->showInfo());
}

TEST(MenuPanelPlacement, BelowTheItemAboveWhenNoRoomAndOnScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize panel(282, 400);
    const int gap = MenuPanel::kAnchorGap;
    // Under an item in a top bar, above one in a bottom bar, pulled back at
    // the edge, kept on screen when too tall, and on a second screen.
    EXPECT_EQ(placeAtAnchor(panel, QRect(1000, 0, 24, 24), screen, gap), QPoint(1012 - 141, 28));
    EXPECT_EQ(placeAtAnchor(panel, QRect(1000, 1056, 24, 24), screen, gap), QPoint(1012 - 141, 1056 - 4 - 400));
    EXPECT_EQ(placeAtAnchor(panel, QRect(1900, 0, 20, 24), screen, gap), QPoint(1920 - 282, 28));
    EXPECT_EQ(placeAtAnchor(QSize(282, 1000), QRect(0, 500, 24, 24), screen, gap), QPoint(0, 80));
    EXPECT_EQ(placeAtAnchor(panel, QRect(1930, 0, 24, 24), QRect(1920, 0, 1280, 1024), gap), QPoint(1920, 28));
}

TEST_F(MenuPanelTest, PanelOpensNearTheItemAndToggles) {
    for (int i = 0; i < 3; ++i) claude("s" + std::to_string(i), kNoon - seconds{600 + 60 * i}, 100 - i);
    MenuPanel p(model());
    const QRect item(200, 0, 24, 24);
    p.toggleNear(item);
    ASSERT_TRUE(p.isVisible());
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
    for (int i = 3; i < 8; ++i) claude("s" + std::to_string(i), kNoon - seconds{600 + 60 * i}, 100 - i);
    model().tick();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_GT(p.height(), threeRows);
    EXPECT_FALSE(p.isScrolling());
    // Past what the screen holds it keeps to the screen and scrolls, so the
    // commands at its foot can still be reached.
    for (int i = 8; i < 12; ++i) claude("s" + std::to_string(i), kNoon - seconds{600 + 60 * i}, 100 - i);
    model().tick();
    const QRect screen = p.screen()->availableGeometry();
    const int tall = p.content()->heightForWidth(MenuContent::kWidth);
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (tall > screen.height()) {
        // Below the item, to the screen's foot.
        EXPECT_EQ(p.geometry().top(), item.bottom() + 1 + MenuPanel::kAnchorGap);
        EXPECT_EQ(p.geometry().bottom(), screen.bottom());
        EXPECT_TRUE(p.isScrolling());
    } else {
        ADD_FAILURE() << "the test screen holds " << tall << " px; make the list taller";
    }
    p.close();
}

TEST(MenuPanelCommands, OpenVorelShowsTheHistoryAndCtrlQQuits) {
    MenuPanel p(windowModel().app);
    NavState::shared().setSection(Section::pricing);
    p.showNear(QRect(10, 0, 24, 24));
    CommandButton* open = p.content()->commands()->openButton();
    hover(open);
    ASSERT_EQ(open->textColor(), BrandColor::accent());
    open->click();
    EXPECT_FALSE(p.isVisible());
    // The panel closed under the pointer; opened again with the pointer
    // elsewhere, the command is not lit.
    p.showNear(QRect(10, 0, 24, 24));
    EXPECT_FALSE(open->isHovered());
    EXPECT_EQ(open->textColor(), BrandColor::textMuted());
    p.close();
    ASSERT_NE(MainWindow::existing(), nullptr);
    EXPECT_TRUE(MainWindow::existing()->isVisible());
    EXPECT_EQ(NavState::shared().section(), Section::history);
    // Ctrl+Q in the panel quits, though the main window has Quit shortcuts.
    p.showNear(QRect(10, 0, 24, 24));
    CommandButton* quit = p.content()->commands()->quitButton();
    QObject::disconnect(quit, &QAbstractButton::clicked, qApp, nullptr);  // the test process keeps running
    QSignalSpy quits(quit, &QAbstractButton::clicked);
    QTest::keyClick(&p, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits.count(), 1);
    p.close();
    MainWindow::existing()->hide();
}
