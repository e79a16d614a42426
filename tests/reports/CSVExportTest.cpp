// The CSV export: the file text (cells, quoting, numbers, dates, order,
// cleaning, the formula guard), the file name it proposes, the atomic write
// and its failures, and the Export screen that runs it.

#include <gtest/gtest.h>

#include <QDialog>
#include <QImage>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstring>
#include <sstream>

#include "reports/CSVExport.h"
#include "reports/ExportView.h"
#include "shell/Theme.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace std::chrono;
using test::EnvVar;
using test::TempDir;
using test::utc;

namespace {

SessionRow row(std::string id, std::string source, std::string title, std::string project, TimePoint start,
               TimePoint last) {
    return {std::move(id), std::move(source), std::move(title), std::move(project), 0, 0, false, start, last, 0,
            {}, {}, {}};
}

SubagentRow subagent(const std::string& name, double total) { return {name, name, total, 0, kDistantPast, 0, {}, {}}; }

// Three conversations in the order of allRows (newest activity first), the
// first two started at the same instant, with the annotations the golden
// file shows.
struct GoldenRows {
    MetadataStore meta{""};
    std::vector<SessionRow> rows;

    GoldenRows() {
        SessionRow c = row("claude-code:ccc", "Claude Code", "Third title", "vorel",
                           utc(2025, 1, 2, 3, 4, 5) + milliseconds{999}, utc(2025, 1, 3));
        c.total = c.today = 0.1;
        c.tokens = 7;
        c.models = {{"sonnet 4 6", 0.1, false}};
        meta.setName(c.id, "+ plus");
        meta.setSubtitle(c.id, "  @mention  ");

        SessionRow a = row("claude-code:aaa", "Claude Code", "Fix the parser", "vorel",
                           utc(2025, 1, 2, 3, 4, 5) + milliseconds{999}, utc(2025, 1, 2, 23, 30));
        a.total = 12.34567;
        a.today = 0.5;
        a.tokens = 123456;
        a.models = {{"opus 4 6", 10.0, false}, {"haiku 4 5", 2.34567, false}};
        a.subagents = {subagent("Explore: find files", 1.25), subagent("Plan", 0.0001)};
        meta.setName(a.id, "Say \"hi\" to me");
        meta.setSubtitle(a.id, "line one\nline two\tend");
        meta.addTag(a.id, "a");
        meta.addTag(a.id, "b");

        SessionRow b = row("codex:bbb", "Codex", "-2+3", "@home", utc(2024, 12, 31, 22), utc(2025, 1, 1, 1));
        b.total = 3.0;
        b.tokens = 4200;
        b.models = {{"gpt 5.5", 3.0, true}};
        meta.setName(b.id, "=HYPERLINK(\"http://evil\")");

        rows = {c, a, b};
    }
};

const char* const kGolden =
    R"csv("session_id","source","name","subtitle","project","tags","start_time","last_active","total_cost_usd","today_cost_usd","total_tokens","primary_model","estimated_pricing","subagent_count","subagent_cost_usd","subagents","models")csv"
    "\n"
    R"csv("codex:bbb","Codex","'=HYPERLINK(""http://evil"")","'-2+3","'@home","","2024-12-31T22:00:00Z","2025-01-01T01:00:00Z","3.0000","0.0000","4200","gpt 5.5","true","0","0.0000","","gpt 5.5:3.0000")csv"
    "\n"
    R"csv("claude-code:ccc","Claude Code","'+ plus","'@mention","vorel","","2025-01-02T03:04:05Z","2025-01-03T00:00:00Z","0.1000","0.1000","7","sonnet 4 6","false","0","0.0000","","sonnet 4 6:0.1000")csv"
    "\n"
    R"csv("claude-code:aaa","Claude Code","Say ""hi"" to me","line one line two end","vorel","a; b","2025-01-02T03:04:05Z","2025-01-02T23:30:00Z","12.3457","0.5000","123456","opus 4 6","false","2","1.2501","Explore: find files:1.2500; Plan:0.0001","opus 4 6:10.0000; haiku 4 5:2.3457")csv"
    "\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string kEllipsis = "\u2026";

}  // namespace

TEST(CSVExportFile, MatchesTheGoldenFileInAnotherTimeZoneAndUnderACommaDecimalLocale) {
    EnvVar tz("TZ", "America/St_Johns");  // UTC-3:30: local dates differ
    GoldenRows g;
    EXPECT_EQ(CSVExport::build(g.rows, g.meta), kGolden);
    // No conversations: the header and a line feed.
    EXPECT_EQ(CSVExport::build({}, g.meta), lines(kGolden)[0] + "\n");
    // Numbers keep a point.
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal C library locale could be installed or compiled";
    EXPECT_EQ(CSVExport::build(g.rows, g.meta), kGolden);
}

TEST(CSVExportOrder, EarliestStartFirstEqualStartsKeepTheirOrder) {
    MetadataStore meta{""};
    // Enough rows that an unstable sort would reorder the ties.
    const TimePoint starts[] = {utc(2025, 6, 2), utc(2025, 6, 1, 8), utc(2025, 5, 1)};
    std::vector<SessionRow> rows;
    for (int i = 0; i < 60; ++i)
        rows.push_back(row("codex:" + std::to_string(i), "Codex", "t", "p", starts[i % 3], utc(2025, 7, 1)));
    std::vector<std::string> expected, ids;
    for (int k : {2, 1, 0})
        for (int i = k; i < 60; i += 3) expected.push_back("codex:" + std::to_string(i));
    for (const std::string& l : lines(CSVExport::build(rows, meta))) ids.push_back(l.substr(1, l.find('"', 1) - 1));
    ids.erase(ids.begin());
    EXPECT_EQ(ids, expected);
}

TEST(CSVExportCells, FormulaStartsAreGuardedOnlyInFreeTextAndEachColumnHasItsLimitAndFallBack) {
    MetadataStore meta{""};
    SessionRow r = row("codex:-1", "Codex", "title", "=cmd|' /C calc'!A0", utc(2025, 1, 1), utc(2025, 1, 1));
    r.models = {{"-weird", 1.0, false}};
    r.subagents = {subagent("@agent", 0.5)};
    meta.setName(r.id, "\t=1+1");  // stored trimmed: the guard sees "="
    meta.addTag(r.id, "+tag");
    const auto cells = lines(CSVExport::build({r}, meta))[1];
    EXPECT_EQ(cells.substr(0, 11), "\"codex:-1\",");  // the id is not free text
    for (const char* guarded : {",\"'=1+1\",", ",\"'=cmd|' /C calc'!A0\",", ",\"'+tag\",", ",\"'-weird\",",
                                ",\"'@agent:0.5000\",", ",\"'-weird:1.0000\""})
        EXPECT_NE(cells.find(guarded), std::string::npos) << guarded << " in " << cells;

    // Text that merely contains a formula sign is left alone.
    SessionRow plain = row("codex:x", "Codex", "a=b", "x-y", utc(2025, 1, 1), utc(2025, 1, 1));
    meta.setName(plain.id, "1+1 = 2");
    const auto left = lines(CSVExport::build({plain}, meta))[1];
    EXPECT_NE(left.find(",\"1+1 = 2\",\"a=b\",\"x-y\","), std::string::npos) << left;
    EXPECT_EQ(left.find('\''), std::string::npos) << left;

    // Each column has its limit.
    SessionRow longer = row("codex:l", "Codex", std::string(400, 't'), std::string(81, 'p'), {}, {});
    meta.setName(longer.id, std::string(121, 'n'));
    const auto limited = lines(CSVExport::build({longer}, meta))[1];
    EXPECT_NE(limited.find("\"" + std::string(119, 'n') + kEllipsis + "\""), std::string::npos);
    EXPECT_NE(limited.find("\"" + std::string(299, 't') + kEllipsis + "\""), std::string::npos);
    EXPECT_NE(limited.find("\"" + std::string(79, 'p') + kEllipsis + "\""), std::string::npos);

    // Without a name or note, the suggested name and the title stand in.
    SessionRow bare = row("claude-code:x", "Claude Code", "Refactor the billing", "p", utc(2025, 1, 1), {});
    const auto cells2 = lines(CSVExport::build({bare}, meta))[1];
    const std::string topic = meta.topic(bare.id, bare.title);
    EXPECT_NE(cells2.find(",\"" + topic + "\",\"Refactor the billing\","), std::string::npos) << cells2;
}

TEST(CSVExportCells, BytesThatAreNotUTF8BecomeReplacementCharactersInEveryColumn) {
    // File and folder names may hold any bytes: a lone continuation byte,
    // a cut sequence, an overlong slash, a surrogate.
    MetadataStore meta{""};
    const std::string fffd = "\uFFFD";
    SessionRow r = row("claude-code:a\x80" "b", "Claude Code", "t\xE2\x82", "p\xC0\xAFq", utc(2025, 1, 1), utc(2025, 1, 1));
    r.models = {{"m\xED\xA0\x80", 1.0, false}};
    r.subagents = {subagent("s\xFF", 0.5)};
    const std::string cells = lines(CSVExport::build({r}, meta))[1];
    EXPECT_TRUE(QString::fromUtf8(cells).toUtf8().toStdString() == cells) << cells;
    for (const std::string& repaired :
         {"\"claude-code:a" + fffd + "b\",", ",\"t" + fffd + "\",", ",\"p" + fffd + fffd + "q\",",
          ",\"m" + fffd + fffd + fffd + "\",", ",\"s" + fffd + ":0.5000\","})
        EXPECT_NE(cells.find(repaired), std::string::npos) << repaired << " in " << cells;
}

TEST(CSVExportClean, WhiteSpaceRunsBecomeOneSpaceAndTheLimitCutsWithAnEllipsisCountingCharactersAsRead) {
    EXPECT_EQ(CSVExport::clean("  a \t\t b\r\n\nc\rd  ", 100), "a b c d");
    // Unicode spaces and separators: no-break, em, line and paragraph
    // separators, ideographic, next line.
    EXPECT_EQ(CSVExport::clean("a\u00A0\u2003b\u2028c\u2029d\u3000e\u0085f", 100), "a b c d e f");
    // Not white space: zero-width joiner and word joiner stay.
    EXPECT_EQ(CSVExport::clean("a\u200Db\u2060c", 100), "a\u200Db\u2060c");

    // Cut to the limit with one ellipsis, counted on the collapsed text.
    EXPECT_EQ(CSVExport::clean(std::string(120, 'x'), 120), std::string(120, 'x'));
    EXPECT_EQ(CSVExport::clean(std::string(121, 'x'), 120), std::string(119, 'x') + kEllipsis);
    EXPECT_EQ(CSVExport::clean("ab", 1), kEllipsis);
    EXPECT_EQ(CSVExport::clean("abc", 0), "");
    EXPECT_EQ(CSVExport::clean("a" + std::string(200, ' ') + "b", 3), "a b");

    // What reads as one character counts as one.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";  // 7 code points
    const std::string flag = "\U0001F1E9\U0001F1EA";                                            // 2 code points
    const std::string thumb = "\U0001F44D\U0001F3FD";                                           // with skin tone
    const std::string mixed = family + flag + thumb;
    EXPECT_EQ(CSVExport::clean(mixed, 3), mixed);
    EXPECT_EQ(CSVExport::clean(mixed + "x", 3), family + flag + kEllipsis);

    // A combining mark never leaves its base, nor is one left bare at the cut.
    const std::string e = "e\u0301";  // é, decomposed
    const std::string stacked = "o\u0308\u0304";
    EXPECT_EQ(CSVExport::clean("a" + e + e + "z", 3), "a" + e + kEllipsis);
    EXPECT_EQ(CSVExport::clean("xy" + stacked + "z", 3), "xy" + kEllipsis);
    EXPECT_EQ(CSVExport::clean("x" + stacked + "yz", 3), "x" + stacked + kEllipsis);
}

TEST(CSVExportDates, WholeSecondsBeforeTheEpochAndAFileNameOfTheLocalDateInAnyCalendarsLocale) {
    EXPECT_EQ(CSVExport::isoDate(utc(1969, 12, 31, 23, 59, 59) + milliseconds{500}), "1969-12-31T23:59:59Z");

    EnvVar east("TZ", "Pacific/Kiritimati");  // UTC+14
    EXPECT_EQ(CSVExport::proposedFileName(utc(2026, 7, 4, 12)), "vorel-2026-07-05.csv");
    EnvVar west("TZ", "America/Los_Angeles");
    EXPECT_EQ(CSVExport::proposedFileName(utc(2026, 7, 5, 3)), "vorel-2026-07-04.csv");
    // Gregorian, with ASCII digits, whatever the locale.
    for (QLocale l : {QLocale(QLocale::Arabic, QLocale::Egypt), QLocale(QLocale::Persian, QLocale::Iran)}) {
        test::ScopedLocale in(l);
        EXPECT_EQ(CSVExport::proposedFileName(utc(2026, 1, 9, 12)), "vorel-2026-01-09.csv") << l.name().toStdString();
    }
}

TEST(CSVExportWrite, ReplacesAtomicallyOrSaysWhichFileFailedAndWhy) {
    TempDir dir;
    const std::string path = dir.write("out.csv", "old content\n");
    EXPECT_EQ(CSVExport::write(QString::fromStdString(path), "new\n").status, CSVExport::SaveResult::Status::written);
    EXPECT_EQ(readFile(path), "new\n");
    // Nothing left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // Failures say which file and why, and touch nothing.
    dir.write("plain-file", "x");
    std::filesystem::create_directories(dir.path() / "a-folder");
    for (const std::string& target :
         {dir.file("missing/out.csv"), dir.file("a-folder"), dir.file("plain-file/out.csv")}) {
        const auto result = CSVExport::write(QString::fromStdString(target), "text\n");
        EXPECT_EQ(result.status, CSVExport::SaveResult::Status::failed) << target;
        EXPECT_FALSE(result.reason.trimmed().isEmpty()) << target;
        const QString message = CSVExport::failureMessage(result);
        // The path is set apart from the sentence around it.
        EXPECT_TRUE(message.contains(QStringLiteral("\u201C\u2068") + QString::fromStdString(target) +
                                     QStringLiteral("\u2069\u201D")))
            << message.toStdString();
        EXPECT_TRUE(message.contains(result.reason.trimmed())) << message.toStdString();
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "a-folder"));
    EXPECT_EQ(readFile(dir.file("plain-file")), "x");

    // The file replaced keeps its owner and group, when the process (root)
    // may give them, written through a symbolic link too.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 4242, 4343), 0);
        std::filesystem::create_symlink(path, dir.path() / "link.csv");
        for (const std::string& target : {path, dir.file("link.csv")}) {
            EXPECT_EQ(CSVExport::write(QString::fromStdString(target), "again\n").status,
                      CSVExport::SaveResult::Status::written);
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, 4242u) << target;
            EXPECT_EQ(st.st_gid, 4343u) << target;
        }
        EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.csv"));
        EXPECT_EQ(readFile(path), "again\n");
    }
}

// Writes past `bytes` in a file fail with EFBIG, as on a disk that is full,
// instead of ending the process; both come back at the end of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldSignal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldSignal_)(int) = SIG_DFL;
};

TEST(CSVExportWrite, AWriteThatRunsOutOfRoomKeepsTheOldFileAndGivesTheSystemsReason) {
    TempDir dir;
    const std::string path = dir.write("out.csv", "old content\n");
    // A short text the file keeps in its buffer until the end, and one
    // long enough to be written at once.
    for (const size_t length : {size_t{200}, size_t{1} << 20}) {
        SCOPED_TRACE(length);
        CSVExport::SaveResult result;
        {
            FileSizeLimit limit(64);
            result = CSVExport::write(QString::fromStdString(path), std::string(length, 'x'));
        }
        EXPECT_EQ(result.status, CSVExport::SaveResult::Status::failed);
        EXPECT_EQ(result.reason, QString::fromLocal8Bit(std::strerror(EFBIG)));
        EXPECT_TRUE(CSVExport::failureMessage(result).contains(result.reason));
        EXPECT_EQ(readFile(path), "old content\n");
        // The temporary file is gone.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
}

TEST(CSVExportSave, CancelWritesNothingElseTheTextAsItWasWhenTheDialogOpened) {
    TempDir dir;
    MetadataStore meta{""};
    int asked = 0;
    auto result = CSVExport::save({}, meta, [&](const QString&) { return ++asked, QString(); });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(result.status, CSVExport::SaveResult::Status::cancelled);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    GoldenRows g;
    const std::string path = dir.file("costs.csv");
    result = CSVExport::save(g.rows, g.meta, [&](const QString&) {
        g.meta.setName(g.rows[1].id, "Renamed meanwhile");  // a refresh or the user, while the dialog is up
        return QString::fromStdString(path);
    });
    EXPECT_EQ(result.status, CSVExport::SaveResult::Status::written);
    EXPECT_EQ(readFile(path), kGolden);
}

using ExportScreen = test::ModelTest;

TEST_F(ExportScreen, TheDescriptionNamesTheColumnsInTheWordsOfTheExport) {
    ExportView view(model());
    auto* description = view.findChild<QLabel*>(QStringLiteral("exportDescription"));
    ASSERT_TRUE(description);
    EXPECT_EQ(description->text(),
              QStringLiteral("Save a CSV of every conversation \u2014 source, name, subtitle, tags, project, start and "
                             "last-active time, costs (today, total, and the subagent share), token count, primary "
                             "model, whether any pricing was estimated, and the per-model and per-subagent "
                             "breakdowns."));
}

TEST_F(ExportScreen, TheCountFollowsTheRefreshTheButtonSavesAndOnlyAFailureIsReported) {
    ExportView view(model());
    EXPECT_EQ(view.countLine()->text(), QStringLiteral("0 conversations \u00b7 API-equivalent estimates"));
    claude("one", test::kNoon - hours{2}, 1, 1000);
    claude("two", test::kNoon - hours{2}, 2, 2000);
    model().tick();
    EXPECT_EQ(view.countLine()->text(), QStringLiteral("2 conversations \u00b7 API-equivalent estimates"));

    QString offered;
    const std::string path = dir.file("costs.csv");
    view.setSaveDialog(
        [&](QWidget*, const QString& proposed) { return offered = proposed, QString::fromStdString(path); });
    std::vector<QString> reported;
    view.setFailureReporter([&](QWidget*, const QString& message) { reported.push_back(message); });
    view.exportButton()->click();
    EXPECT_EQ(offered, QStringLiteral("vorel-2026-07-05.csv"));
    EXPECT_EQ(lines(readFile(path)).size(), 3u);

    view.setSaveDialog([](QWidget*, const QString&) { return QString(); });  // cancelled
    view.exportButton()->click();
    EXPECT_TRUE(reported.empty());

    const QString bad = QString::fromStdString(dir.file("no-such-folder/costs.csv"));
    view.setSaveDialog([&](QWidget*, const QString&) { return bad; });
    view.exportButton()->click();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_TRUE(reported[0].contains(bad)) << reported[0].toStdString();
}

TEST_F(ExportScreen, TheButtonHasNoFocusAfterTheSaveDialogAndKeyboardFocusShowsAsAnAccentRing) {
    for (bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        platform::Appearance::shared().setOverride(dark);
        // Beside a list that has the focus, as the sidebar has it.
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* sidebar = new QListWidget;
        auto* view = new ExportView(model());
        row->addWidget(sidebar);
        row->addWidget(view);
        window.resize(800, 400);
        test::showActive(window);
        sidebar->setFocus(Qt::MouseFocusReason);
        QPushButton* button = view->exportButton();
        // The button as it shows on the page.
        auto shot = [&] { return view->grab(button->geometry()).toImage(); };
        const QImage before = shot();
        // A dialog of its own, modal over the screen, cancelled.
        int asked = 0;
        view->setSaveDialog([&](QWidget* parent, const QString&) {
            ++asked;
            QDialog dialog(parent);
            QTimer::singleShot(50, &dialog, &QDialog::reject);
            dialog.exec();
            return QString();
        });
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_EQ(asked, 1);
        test::showActive(window);  // the window manager activates the window again
        EXPECT_TRUE(sidebar->hasFocus());
        EXPECT_EQ(shot(), before);

        // Tab reaches it; the ring is drawn in the accent, with no frame of
        // another colour.
        QTest::keyClick(sidebar, Qt::Key_Tab);
        ASSERT_TRUE(button->hasFocus());
        const QImage focused = shot();
        ASSERT_EQ(focused.size(), before.size());
        // Every pixel that changed is the accent laid over the page: near the
        // line from the page's colour to the accent.
        const QColor accent = BrandColor::accent(), under = BrandColor::bg();
        const double d[3] = {accent.redF() - under.redF(), accent.greenF() - under.greenF(),
                             accent.blueF() - under.blueF()};
        auto offAccent = [&](const QColor& c) {
            const double v[3] = {c.redF() - under.redF(), c.greenF() - under.greenF(), c.blueF() - under.blueF()};
            const double a = std::clamp((v[0] * d[0] + v[1] * d[1] + v[2] * d[2]) /
                                            std::max(1e-9, d[0] * d[0] + d[1] * d[1] + d[2] * d[2]), 0.0, 1.0);
            return std::hypot(v[0] - a * d[0], v[1] - a * d[1], v[2] - a * d[2]) > 0.05;
        };
        int changed = 0, other = 0;
        for (int y = 0; y < focused.height(); ++y)
            for (int x = 0; x < focused.width(); ++x)
                if (const QColor c = focused.pixelColor(x, y); c != before.pixelColor(x, y)) ++changed, other += offAccent(c);
        EXPECT_GT(changed, 0);
        EXPECT_EQ(other, 0);
    }
}

TEST_F(ExportScreen, TheFailureMessageIsPlainText) {
    // A path is shown as text, never as markup.
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = true;
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->text(), QStringLiteral("<b>/x</b>"));
        box->accept();
    });
    ExportView::showFailure(nullptr, QStringLiteral("<b>/x</b>"));
    EXPECT_TRUE(seen);
}
