// The Conversations screen over 3,000 generated conversations (rows made
// directly, as a refresh pass publishes them, with a suggested name stored
// for each as the pass does), drawn on Qt's offscreen platform:
//   BM_HistoryBuildSection  switching to the section: the screen made, the
//                           rows handed in, shown, laid out and painted;
//   BM_HistoryTick          one refresh tick with the list at its top: the
//                           newest conversation's cost moved and the clock
//                           two seconds on; rows updated in place, repainted;
//   BM_HistoryTickScrolled  the same with the list scrolled halfway down;
//   BM_HistoryTickNewRow    a tick that brings a new conversation on top
//                           while the list is scrolled halfway (the view
//                           stays on what it showed);
//   BM_HistoryScrollPage    scrolling down by one screen into rows not yet
//                           built, painted.
// Each figure includes the event-loop turn that lays out and paints. Read
// medians:
//   history_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// Another count: VOREL_BENCH_HISTORY_ROWS.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/CostModel.h"
#include "engine/MetadataStore.h"
#include "reports/HistoryView.h"
#include "shell/AppModel.h"

using namespace vorel;
using namespace std::chrono;

namespace {

// 2026-07-05 12:00 UTC.
const TimePoint kNow{milliseconds{1'783'252'800'000}};

size_t rowCount() {
    const char* v = std::getenv("VOREL_BENCH_HISTORY_ROWS");
    long n = v ? std::strtol(v, nullptr, 10) : 0;
    return n > 0 ? static_cast<size_t>(n) : 3000;
}

// Conversations newest first over about four months, a few a day apart by
// minutes to hours; a third with two models, one in twenty priced by a
// fallback rate, one in ten with subagents.
std::vector<SessionRow> generateRows(size_t n) {
    static const char* kWords[] = {"fix",     "login",  "redirect", "billing", "refactor", "parser",
                                   "tests",   "release", "notes",   "chart",   "export",   "pricing",
                                   "session", "cache",  "timeline", "search",  "tags",     "history"};
    static const char* kProjects[] = {"vorel", "atlas", "harbor", "quill", "meridian", "tern"};
    std::mt19937 rng(42);
    std::vector<SessionRow> rows;
    rows.reserve(n);
    TimePoint last = kNow - seconds{30};
    for (size_t i = 0; i < n; ++i) {
        SessionRow r;
        r.id = (i % 4 == 3 ? "codex:" : "claude-code:") + std::to_string(100000 + i);
        r.source = i % 4 == 3 ? "Codex" : "Claude Code";
        std::string title;
        for (int w = 0; w < 6; ++w) title += std::string(w ? " " : "") + kWords[rng() % std::size(kWords)];
        r.title = title;
        r.project = kProjects[rng() % std::size(kProjects)];
        r.lastActivity = last;
        r.startTime = last - minutes{5 + static_cast<int>(rng() % 180)};
        last -= minutes{1 + static_cast<int>(rng() % 90)};
        const double a = 0.05 + (rng() % 2000) / 100.0;
        r.models.push_back({"opus 4 8", a, false});
        if (i % 3 == 0) r.models.push_back({"haiku 4 5", a / 10, false});
        if (i % 20 == 7) r.models.push_back({"gpt 9 mini", a / 4, true});
        for (const ModelLine& m : r.models) r.total += m.cost;
        if (r.lastActivity >= kNow - hours{12}) r.today = r.total / 2;
        if (i % 10 == 5) {
            for (int s = 0; s < 2; ++s) {
                SubagentRow sub;
                sub.id = r.id + "-agent" + std::to_string(s);
                sub.name = "Agent explore-" + std::to_string(s);
                sub.total = a / 5;
                sub.lastActivity = r.lastActivity - minutes{s + 1};
                sub.models = {{"sonnet 4 5", a / 5, false}};
                r.subagents.push_back(std::move(sub));
            }
        }
        r.tokens = static_cast<std::int64_t>(r.total * 100000);
        rows.push_back(std::move(r));
    }
    return rows;
}

double totalOf(const std::vector<SessionRow>& rows) {
    double t = 0;
    for (const SessionRow& r : rows) t += r.total;
    return t;
}

// The application as the screen sees it: a model (over no transcripts: the
// rows are handed to the screen directly) and an in-memory store holding a
// suggested name for every conversation, and a few names and tags.
struct Fixture {
    Fixture() : rows(generateRows(rowCount())) {
        setClock(clock);
        {
            MetadataStore::Batch batch(store);
            for (size_t i = 0; i < rows.size(); ++i) {
                store.ensureSuggestion(rows[i].id, rows[i].title);
                if (i % 25 == 0) store.setName(rows[i].id, "Named conversation " + std::to_string(i));
                if (i % 8 == 0) store.addTag(rows[i].id, i % 16 ? "release" : "billing");
            }
        }
        app = std::make_unique<AppModel>(
            std::make_unique<CostModel>(std::vector<std::shared_ptr<const CostSource>>{}, store, *clock), store);
        total = totalOf(rows);
    }

    std::unique_ptr<HistoryView> shownView() {
        auto view = std::make_unique<HistoryView>(*app);
        view->resize(780, 640);
        view->showRows(rows, total);
        view->show();
        QCoreApplication::processEvents();
        return view;
    }

    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>(kNow);
    MetadataStore store{""};
    std::vector<SessionRow> rows;
    double total = 0;
    std::unique_ptr<AppModel> app;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_HistoryBuildSection(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        auto view = f.shownView();
        benchmark::DoNotOptimize(view.get());
        state.PauseTiming();
        view.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(f.rows.size());
}
BENCHMARK(BM_HistoryBuildSection)->Unit(benchmark::kMillisecond)->UseRealTime();

// One tick: the newest conversation's cost grows, two seconds pass.
void tickLoop(benchmark::State& state, Fixture& f, HistoryView& view) {
    std::vector<SessionRow> rows = f.rows;
    int built = 0;
    for (auto _ : state) {
        rows[0].total += 0.01;
        rows[0].today += 0.01;
        f.clock->advance(seconds{2});
        view.showRows(rows, f.total);
        QCoreApplication::processEvents();
        built = view.builtRowCount();
    }
    f.clock->set(kNow);
    state.counters["built_rows"] = built;
}

void BM_HistoryTick(benchmark::State& state) {
    Fixture& f = fixture();
    auto view = f.shownView();
    tickLoop(state, f, *view);
}
BENCHMARK(BM_HistoryTick)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HistoryTickScrolled(benchmark::State& state) {
    Fixture& f = fixture();
    auto view = f.shownView();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    tickLoop(state, f, *view);
}
BENCHMARK(BM_HistoryTickScrolled)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HistoryTickNewRow(benchmark::State& state) {
    Fixture& f = fixture();
    auto view = f.shownView();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    std::vector<SessionRow> rows = f.rows;
    int serial = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A new conversation on top; the oldest leaves, so the list keeps
        // its length from one iteration to the next.
        SessionRow fresh = rows.front();
        fresh.id = "claude-code:new-" + std::to_string(serial++);
        fresh.lastActivity += seconds{1};
        rows.insert(rows.begin(), std::move(fresh));
        rows.pop_back();
        state.ResumeTiming();
        view->showRows(rows, f.total);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_HistoryTickNewRow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HistoryScrollPage(benchmark::State& state) {
    Fixture& f = fixture();
    auto view = f.shownView();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    for (auto _ : state) {
        int next = bar->value() + bar->pageStep();
        if (next > bar->maximum()) {
            state.PauseTiming();
            bar->setValue(0);
            QCoreApplication::processEvents();
            state.ResumeTiming();
            next = bar->pageStep();
        }
        bar->setValue(next);
        QCoreApplication::processEvents();
    }
    state.counters["built_rows"] = view->builtRowCount();
}
BENCHMARK(BM_HistoryScrollPage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Day captions and dates in a fixed zone, whatever the machine's.
    setenv("TZ", "UTC", 1);
    tzset();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
