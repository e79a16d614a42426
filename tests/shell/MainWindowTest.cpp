// The main window: one window for the life of the process, shown again and
// never rebuilt; which screen it keeps and which it discards as sections
// change; the sidebar; the footer while hidden; and the environment values
// that choose its first size and section.
//
// The window is a process-wide singleton bound to the model it was first
// shown with, so every test here shows it with the one harness model below.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTest>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "AboutView.h"
#include "AppModel.h"
#include "CostModel.h"
#include "CostSource.h"
#include "Formatting.h"
#include "MainWindow.h"
#include "MetadataStore.h"
#include "NavState.h"
#include "ShellScreens.h"
#include "TestSupport.h"
#include "Transcript.h"

using namespace vorel;
using namespace std::chrono;

namespace {

class EnvVar {
public:
    EnvVar(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~EnvVar() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// One Claude Code transcript file in a scratch folder.
class OneFileSource final : public CostSource {
public:
    explicit OneFileSource(std::string path) : path_(std::move(path)) {}
    std::string id() const override { return "claude-code"; }
    std::string name() const override { return "Claude Code"; }
    std::vector<TranscriptFile> transcriptURLs() const override {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) return {};
        return {TranscriptFile{path_, st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec,
                               static_cast<std::int64_t>(st.st_size), static_cast<std::uint64_t>(st.st_ino)}};
    }
    ParsedSession parse(const std::string& path, const DayWindow& today) const override {
        return Transcript::parseClaude(path, today);
    }
    bool isCodex() const override { return false; }

private:
    std::string path_;
};

std::string isoUtc(TimePoint t) {
    std::time_t secs = duration_cast<seconds>(t.time_since_epoch()).count();
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// The model every window test shares: one transcript whose today's cost
// the tests raise by appending responses. The clock stands at local noon.
struct Harness {
    test::TempDir dir;
    std::string transcript = dir.file("project/session.jsonl");
    FixedClock clock{startOfLocalDay(test::utc(2026, 7, 5, 12)) + hours{12}};
    MetadataStore meta{""};
    AppModel app{std::make_unique<CostModel>(
                     std::vector<std::shared_ptr<const CostSource>>{std::make_shared<OneFileSource>(transcript)},
                     meta, clock),
                 meta};
    int replies = 0;

    // Appends a response that costs `outputTokens` x 25 / 1,000,000 dollars
    // (claude-opus-4-8 output), an hour before now.
    void addReply(int outputTokens) {
        std::filesystem::create_directories(std::filesystem::path(transcript).parent_path());
        std::ofstream(transcript, std::ios::app)
            << R"({"type":"assistant","timestamp":")" << isoUtc(clock.now() - hours{1})
            << R"(","message":{"id":"m)" << ++replies
            << R"(","model":"claude-opus-4-8","usage":{"output_tokens":)" << outputTokens << "}}}\n";
    }
};

Harness& harness() {
    static Harness* h = new Harness;  // the window keeps a reference for good
    return *h;
}

int chartScreensMade = 0;

void registerProbeScreens() {
    static bool done = false;
    if (done) return;
    done = true;
    registerShellScreens();
    // The chart section gets a screen with state of its own, to see when a
    // screen is kept and when it starts afresh.
    MainWindow::registerScreen(Section::chart, [](AppModel&) -> QWidget* {
        ++chartScreensMade;
        auto* edit = new QLineEdit;
        edit->setObjectName(QStringLiteral("chartProbe"));
        return edit;
    });
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { registerProbeScreens(); }
    void TearDown() override {
        if (MainWindow* w = MainWindow::existing()) w->hide();
    }

    static MainWindow* show(Section s) {
        MainWindow::show(harness().app, s);
        QApplication::processEvents();
        return MainWindow::existing();
    }
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    static QListWidget* sidebar(MainWindow* w) { return w->findChild<QListWidget*>(); }
    static QString selectedTitle(MainWindow* w) {
        const auto items = sidebar(w)->selectedItems();
        return items.size() == 1 ? items.first()->text() : QString();
    }
};

}  // namespace

// First, so that it is the one that makes the window when run in order.
TEST_F(MainWindowTest, ContentSizeComesFromTheEnvironmentOnlyWhenMade) {
    const bool makesIt = MainWindow::existing() == nullptr;
    {
        EnvVar w("VOREL_WINDOW_W", "1000"), h("VOREL_WINDOW_H", "700");
        MainWindow* win = show(Section::history);
        if (makesIt) {
            EXPECT_EQ(win->size(), QSize(1000, 700));
        }
    }
    MainWindow* win = MainWindow::existing();
    const QSize before = win->size();
    win->close();
    EnvVar w("VOREL_WINDOW_W", "1200"), h("VOREL_WINDOW_H", "900");
    show(Section::history);
    EXPECT_EQ(MainWindow::existing()->size(), before);
}

TEST_F(MainWindowTest, ShowingTwiceGivesTheSameWindow) {
    MainWindow* first = show(Section::history);
    ASSERT_NE(first, nullptr);
    MainWindow* second = show(Section::history);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(second->windowTitle(), "Vorel");
    EXPECT_GE(second->minimumSize().width(), 760);
    EXPECT_GE(second->minimumSize().height(), 420);
}

TEST_F(MainWindowTest, CloseHidesAndShowBringsBackTheSameScreen) {
    MainWindow* w = show(Section::chart);
    QPointer<QWidget> screen = w->currentScreen();
    auto* edit = qobject_cast<QLineEdit*>(screen.data());
    ASSERT_NE(edit, nullptr);
    edit->setText(QStringLiteral("half-typed"));
    const int made = chartScreensMade;

    w->close();
    flushDeletes();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(MainWindow::existing(), w);
    ASSERT_FALSE(screen.isNull());

    EXPECT_EQ(show(Section::chart), w);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->currentScreen(), screen.data());
    EXPECT_EQ(edit->text(), "half-typed");
    EXPECT_EQ(chartScreensMade, made);
}

TEST_F(MainWindowTest, LeavingASectionDiscardsItsScreen) {
    MainWindow* w = show(Section::chart);
    QPointer<QWidget> old = w->currentScreen();
    qobject_cast<QLineEdit*>(old.data())->setText(QStringLiteral("state"));
    const int made = chartScreensMade;

    show(Section::pricing);
    flushDeletes();
    EXPECT_TRUE(old.isNull());

    show(Section::chart);
    auto* fresh = qobject_cast<QLineEdit*>(w->currentScreen());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(chartScreensMade, made + 1);
    EXPECT_TRUE(fresh->text().isEmpty());
}

TEST_F(MainWindowTest, OpenVorelFromPricingSwitchesToConversations) {
    MainWindow* w = show(Section::pricing);
    EXPECT_EQ(selectedTitle(w), "Pricing");
    w->close();
    show(Section::history);
    EXPECT_EQ(NavState::shared().section(), Section::history);
    EXPECT_EQ(selectedTitle(w), "Conversations");
    auto* placeholder = w->currentScreen()->findChild<QLabel*>();
    ASSERT_NE(placeholder, nullptr);
    EXPECT_EQ(placeholder->text(), "Conversations");
}

TEST_F(MainWindowTest, SidebarRowsSelectSections) {
    MainWindow* w = show(Section::history);
    QListWidget* list = sidebar(w);
    ASSERT_EQ(list->count(), 6);
    QStringList titles;
    for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
    EXPECT_EQ(titles, (QStringList{"Conversations", "Bar chart", "Details", "Export", "Pricing", "About"}));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(5)).center());
    EXPECT_EQ(NavState::shared().section(), Section::about);
    EXPECT_NE(qobject_cast<AboutView*>(w->currentScreen()), nullptr);
}

TEST_F(MainWindowTest, ASelectionOfNoRowKeepsTheSection) {
    MainWindow* w = show(Section::pricing);
    QWidget* screen = w->currentScreen();
    QListWidget* list = sidebar(w);

    list->setCurrentRow(-1);
    EXPECT_EQ(NavState::shared().section(), Section::pricing);
    EXPECT_EQ(selectedTitle(w), "Pricing");

    list->clearSelection();
    EXPECT_EQ(selectedTitle(w), "Pricing");

    // Ctrl+click on the selected row would deselect it.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(4)).center());
    EXPECT_EQ(NavState::shared().section(), Section::pricing);
    EXPECT_EQ(selectedTitle(w), "Pricing");
    EXPECT_EQ(w->currentScreen(), screen);
}

TEST_F(MainWindowTest, AboutSectionShowsTheAboutScreen) {
    MainWindow* w = show(Section::about);
    EXPECT_NE(qobject_cast<AboutView*>(w->currentScreen()), nullptr);
    EXPECT_EQ(selectedTitle(w), "About");
}

TEST_F(MainWindowTest, HiddenWindowCatchesUpWhenShown) {
    Harness& h = harness();
    MainWindow* w = show(Section::history);
    // Run on its own the window is made with the harness model; after other
    // test files in one process it may hold theirs, and only the marker
    // text below tells an update then.
    AppModel& m = w->model();
    const bool ours = &m == &h.app;
    auto* amount = w->findChild<QLabel*>(QStringLiteral("todayAmount"));
    ASSERT_NE(amount, nullptr);
    m.tick();
    const double start = m.model().todayCost();
    EXPECT_EQ(amount->text(), money(start));

    w->close();
    amount->setText(QStringLiteral("marker"));
    if (ours) h.addReply(4000);  // $0.10
    m.tick();
    if (ours) {
        ASSERT_NEAR(m.model().todayCost(), start + 0.10, 1e-9);
    }
    EXPECT_EQ(amount->text(), "marker");  // not redrawn while hidden

    show(Section::history);
    EXPECT_EQ(amount->text(), money(m.model().todayCost()));
    if (ours) {
        EXPECT_EQ(amount->text(), money(start + 0.10));
    }

    // While shown, a pass updates it at once.
    amount->setText(QStringLiteral("marker"));
    if (ours) h.addReply(4000);
    m.tick();
    EXPECT_EQ(amount->text(), money(m.model().todayCost()));
    if (ours) {
        EXPECT_EQ(amount->text(), money(start + 0.20));
    }
}

TEST(WindowSizeFromEnvironment, WholeFiniteNumbersOnly) {
    struct Case {
        std::optional<std::string> value;
        int expected;
    };
    const Case cases[] = {
        {std::nullopt, 780},
        {"", 780},
        {"1000", 1000},
        {"1000.4", 1000},
        {"999.5", 1000},
        {"+900", 900},
        {"1e3", 1000},
        {"0x400", 1024},  // the C conversion reads hexadecimal too
        {"abc", 780},
        {" 1000", 780},
        {"\t1000", 780},
        {"1000 ", 780},
        {"1000px", 780},
        {"10,5", 780},
        {"nan", 780},
        {"NAN", 780},
        {"inf", 780},
        {"-infinity", 780},
        {"1e400", 780},  // overflows to infinity
        {"1e9", MainWindow::kMaxSide},
        {"32768", MainWindow::kMaxSide},
        {"32767", 32767},
        {"0", 1},
        {"-5", 1},
    };
    for (const Case& c : cases) {
        EnvVar v("VOREL_TEST_SIZE", c.value);
        EXPECT_EQ(MainWindow::sizeFromEnvironment("VOREL_TEST_SIZE", 780), c.expected)
            << "value: " << c.value.value_or("(unset)");
    }
}

TEST(SectionFromEnvironment, NamesMapToSections) {
    EXPECT_EQ(sectionFromName("chart"), Section::chart);
    EXPECT_EQ(sectionFromName("details"), Section::details);
    EXPECT_EQ(sectionFromName("export"), Section::exportCsv);
    EXPECT_EQ(sectionFromName("pricing"), Section::pricing);
    EXPECT_EQ(sectionFromName("about"), Section::about);
    // Anything else opens the history, matching is exact.
    EXPECT_EQ(sectionFromName("history"), Section::history);
    EXPECT_EQ(sectionFromName("Pricing"), Section::history);
    EXPECT_EQ(sectionFromName(" about"), Section::history);
    EXPECT_EQ(sectionFromName("conversations"), Section::history);
    EXPECT_EQ(sectionFromName(""), Section::history);
}
