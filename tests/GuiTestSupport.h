#pragma once
// Helpers of the widget tests: turns of the event loop, shown windows and
// the pointer, a cost model over transcripts in a scratch folder at a fixed
// noon, and the one model the main window is bound to.

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <ostream>

#include "engine/CostModel.h"
#include "engine/CostSource.h"
#include "engine/IncrementalTranscript.h"
#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "shell/AppModel.h"
#include "tests/QtWarningCheck.h"
#include "tests/TestSupport.h"

// Readable texts in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace vorel::test {

// Runs the event loop until `done` holds, for work that finishes on a later
// turn of the loop (queued calls, D-Bus, sockets).
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Lets the event loop run for a while, for checking that nothing happens.
inline void spin(int ms) {
    waitFor([] { return false; }, ms);
}

// Lets layouts settle: they do on the next turns of the event loop.
inline void settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// Shows `w` as the active window.
inline void showActive(QWidget& w) {
    w.show();
    QApplication::setActiveWindow(&w);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
}

// The pointer entering and leaving a widget.
inline void hover(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QEnterEvent enter(at, w->mapTo(w->window(), at), w->mapToGlobal(at));
    QApplication::sendEvent(w, &enter);
}
inline void unhover(QWidget* w) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w, &leave);
}

// Deletes `owner` while `field` in it is being edited, as when a row goes
// away under the user's typing. A field that then asks a half-destroyed
// owner for its text is reported by the sanitizers (the sanitizer build runs
// the widget tests).
inline void deleteWhileEditing(std::unique_ptr<QWidget> owner, QLineEdit* field) {
    owner->resize(600, 80);
    showActive(*owner);
    field->setFocus();
    settle();
    QTest::keyClicks(field, QStringLiteral("A name long enough to be kept on the heap"));
    owner.reset();
}

// The default QLocale for a scope.
class ScopedLocale {
public:
    explicit ScopedLocale(const QLocale& l) : old_(QLocale()) { QLocale::setDefault(l); }
    ~ScopedLocale() { QLocale::setDefault(old_); }

private:
    QLocale old_;
};

// The Claude Code transcripts below one folder, found without the
// environment.
class FolderSource final : public CostSource {
public:
    explicit FolderSource(std::string folder) : folder_(std::move(folder)) {}
    std::string id() const override { return "claude-code"; }
    std::string name() const override { return "Claude Code"; }
    SourceKind kind() const override { return SourceKind::claudeCode; }
    std::vector<TranscriptFile> transcriptURLs() const override { return listTranscripts(folder_); }

private:
    std::string folder_;
};

inline const TimePoint kNoon = utc(2026, 7, 5, 12);

// A real cost model over transcripts written into a scratch folder, where
// both standard sources look, at noon on 5 July 2026 in UTC; the process
// clock and the default QLocale (US English) are set for the test. The model
// is made on first use, after the test has written its files.
class ModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        locale_.emplace(QLocale(QLocale::English, QLocale::UnitedStates));
        setClock(clock);
    }
    void TearDown() override {
        setClock(std::make_shared<SystemClock>());
        platform::Appearance::shared().setOverride(std::nullopt);
    }

    // Writes a transcript below the folder, modified `order` seconds after a
    // fixed instant: the larger, the newer (the newest file is the current
    // conversation).
    std::string put(const std::string& name, const std::string& bytes, int order) {
        std::string path = dir.write(name, bytes);
        setFileTime(path, order);
        return path;
    }
    // A Claude Code conversation "claude-code:<stem>" of the user line
    // "Work on <stem>" and one reply at `at`.
    void claude(const std::string& stem, TimePoint at, int order, int outputTokens = 1000,
                const std::string& model = "claude-opus-4-8") {
        put("claude/p/" + stem + ".jsonl", claudeUser("Work on " + stem) + claudeReply(stem + "-r", outputTokens, isoUtc(at), model),
            order);
    }

    AppModel& model() {
        if (!app) app = std::make_unique<AppModel>(std::make_unique<CostModel>(store, *clock), store);
        return *app;
    }

    TempDir dir;
    EnvVar tz{"TZ", "UTC"};
    ScopedSettings roots{Settings{.claudeRoot = dir.file("claude"), .codexRoot = dir.file("codex/sessions")}};
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>(kNoon);
    MetadataStore store{dir.file("meta")};
    std::unique_ptr<AppModel> app;

private:
    std::optional<ScopedLocale> locale_;
};

// The model the main window is bound to: the window lives as long as the
// process and keeps the model it was first shown with, so every test that
// shows it shows it with this one. One transcript, whose cost today the
// tests raise by appending replies, and a clock of its own at local noon.
struct WindowModel {
    explicit WindowModel(const TempDir& dir) : transcript(dir.file("p/session.jsonl")), meta(dir.file("meta")) {}

    // Appends a reply an hour before now that costs `outputTokens` x 25 /
    // 1,000,000 dollars.
    void addReply(int outputTokens) {
        std::filesystem::create_directories(std::filesystem::path(transcript).parent_path());
        std::ofstream(transcript, std::ios::app)
            << claudeReply("m" + std::to_string(++replies), outputTokens, isoUtc(clock.now() - std::chrono::hours{1}));
    }

    std::string transcript;
    FixedClock clock{startOfLocalDay(kNoon) + std::chrono::hours{12}};
    // In a folder: a store in memory only would say so in the window.
    MetadataStore meta;
    AppModel app{std::make_unique<CostModel>(
                     std::vector<std::shared_ptr<const CostSource>>{std::make_shared<FolderSource>(
                         std::filesystem::path(transcript).parent_path().string())},
                     meta, clock),
                 meta};
    int replies = 0;
};

inline WindowModel& windowModel() {
    static TempDir dir;  // removed at exit
    static auto* model = new WindowModel(dir);  // never destroyed: the window keeps it
    return *model;
}

}  // namespace vorel::test
