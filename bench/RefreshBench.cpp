// The refresh pass over a generated corpus shaped like a heavy user's
// transcript folders (by default 2,000 conversations, about 1 GB):
//   BM_FirstPass    a fresh model over the whole corpus: GB/s, and the peak
//                   memory of the pass (VmHWM, reset just before it);
//   BM_IdlePass     a pass when nothing changed;
//   BM_AppendPass   a pass after the newest Claude Code file grew by one
//                   response (one assistant line appended between passes);
//   BM_AppendedLineParse  the parse of that one line alone, for comparison;
//   BM_Listing      listing and stat-ing both sources' files alone.
// The corpus is generated once into /tmp and reused while its parameters
// and files are unchanged; the appended file is cut back to its size and
// time at the end. The figures are wall times; cpu_all_threads_ms adds up
// the CPU time of every thread of a pass, which tells a pass that was slow
// for want of free cores on a busy machine. For stable figures read medians:
//   refresh_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// Other corpus sizes: VOREL_BENCH_CONVERSATIONS, VOREL_BENCH_BYTES,
// VOREL_BENCH_CORPUS_DIR.
//
// Other uses:
//   refresh_bench --corpus
//       generates the corpus when needed and prints its folders;
//   refresh_bench --rows <claude-root> <codex-root> [--now <ISO 8601 time>]
//       runs one pass over the given roots (an in-memory metadata store; the
//       clock at --now, or the system clock) and prints every row as JSON,
//       for checking the numbers against an independent computation.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/CorpusGenerator.h"
#include "bench/TranscriptGenerator.h"
#include "engine/Clock.h"
#include "engine/CostModel.h"
#include "engine/CostSource.h"
#include "engine/MetadataStore.h"
#include "engine/NameSuggester.h"
#include "engine/Settings.h"
#include "engine/Transcript.h"

namespace {

namespace fs = std::filesystem;
using namespace vorel;
using SteadyClock = std::chrono::steady_clock;

double secondsSince(SteadyClock::time_point t0) {
    return std::chrono::duration<double>(SteadyClock::now() - t0).count();
}

// CPU time of the whole process, every thread, in seconds.
double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Per iteration, the CPU time of all threads, in ms: unlike the benchmark's
// own CPU column (the timing thread only) it counts the helper threads that
// list folders and parse files.
void reportProcessCpu(benchmark::State& state, double cpuBefore) {
    state.counters["cpu_all_threads_ms"] =
        (processCpuSeconds() - cpuBefore) * 1e3 / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    return std::strtoull(v, nullptr, 10);
}

bench::CorpusParams corpusParams() {
    bench::CorpusParams p;
    p.conversations = envNumber("VOREL_BENCH_CONVERSATIONS", p.conversations);
    p.totalBytes = envNumber("VOREL_BENCH_BYTES", p.totalBytes);
    return p;
}

std::string corpusFolder(const bench::CorpusParams& p) {
    if (const char* dir = std::getenv("VOREL_BENCH_CORPUS_DIR"); dir && *dir) return dir;
    return (fs::temp_directory_path() / ("vorel-refresh-corpus-" + std::to_string(p.conversations) + "-" +
                                         std::to_string(p.totalBytes) + "-" + std::to_string(p.seed)))
        .string();
}

const bench::Corpus& corpus() {
    static const bench::Corpus c = [] {
        bench::CorpusParams p = corpusParams();
        auto t0 = SteadyClock::now();
        bench::Corpus made = bench::ensureCorpus(corpusFolder(p), p);
        std::fprintf(stderr, "corpus %s: %zu files, %.1f MB (ready in %.1f s)\n", made.folder.c_str(), made.files,
                     static_cast<double>(made.bytes) / 1e6, secondsSince(t0));
        Settings::setCurrent(Settings{.claudeRoot = made.claudeRoot, .codexRoot = made.codexRoot});
        return made;
    }();
    return c;
}

// The evening of the corpus's last day: its last conversations are today's.
const FixedClock& benchClock() {
    static const FixedClock clock(TimePoint{bench::kLastDay + std::chrono::hours{20}});
    return clock;
}

// Folders for metadata stores, removed at exit.
class TempFolders {
public:
    static TempFolders& get() {
        static TempFolders t;
        return t;
    }
    std::string make() {
        std::string pattern = (fs::temp_directory_path() / "vorel-refresh-meta-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return {};
        made_.push_back(pattern);
        return pattern;
    }
    ~TempFolders() {
        std::error_code ec;
        for (const auto& f : made_) fs::remove_all(f, ec);
    }

private:
    std::vector<std::string> made_;
};

// From /proc/self/status, in MB; 0 when missing.
double statusMB(std::string_view field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
            return std::strtod(line.c_str() + field.size() + 1, nullptr) / 1024.0;
        }
    }
    return 0;
}

// Starts the peak (VmHWM) again from the present size; false when the
// kernel does not allow it.
bool resetPeakMemory() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
    f.flush();
    return static_cast<bool>(f);
}

// The name suggester's word lists load once per process, on first use:
// loaded before any timing so every first pass does the same work.
void loadWordLists() { benchmark::DoNotOptimize(NameSuggester::keywordTopic("Alice wants the Berlin dashboard fixed")); }

void BM_FirstPass(benchmark::State& state) {
    const bench::Corpus& c = corpus();
    loadWordLists();
    // The memory figures are those of the first pass in the process: later
    // ones start with what the allocator kept from the earlier ones.
    static double beforeMB = -1, peakMB = 0, afterMB = 0;
    static bool peakKnown = false;
    double seconds = 0;
    std::size_t rows = 0;
    int parsed = 0;
    for (auto _ : state) {
        MetadataStore store(TempFolders::get().make());
        const bool first = beforeMB < 0;
        if (first) {
            beforeMB = statusMB("VmRSS");
            peakKnown = resetPeakMemory();
        }
        auto t0 = SteadyClock::now();
        auto model = std::make_unique<CostModel>(store, benchClock());
        double dt = secondsSince(t0);
        state.SetIterationTime(dt);
        seconds += dt;
        if (first) {
            peakMB = statusMB("VmHWM");
            afterMB = statusMB("VmRSS");
        }
        rows = model->allRows().size();
        parsed = model->lastPassParseCount();
        state.PauseTiming();
        model.reset();
        state.ResumeTiming();
    }
    const double bytes = static_cast<double>(c.bytes) * static_cast<double>(state.iterations());
    state.counters["GB/s"] = seconds > 0 ? bytes / seconds / 1e9 : 0;
    state.counters["corpus_MB"] = static_cast<double>(c.bytes) / 1e6;
    state.counters["files"] = static_cast<double>(parsed);
    state.counters["rows"] = static_cast<double>(rows);
    // Resident memory before the first pass (the program, its word lists),
    // its peak during the pass and what stays with the model after it. When
    // the peak cannot be reset it is the process's peak so far.
    state.counters["rss_before_MB"] = beforeMB;
    state.counters["peak_MB"] = peakMB;
    state.counters["peak_is_process_lifetime"] = peakKnown ? 0 : 1;
    state.counters["rss_after_MB"] = afterMB;
    state.counters["cores"] = static_cast<double>(std::thread::hardware_concurrency());
}

// One model kept across the idle and append benchmarks, with the file that
// grows between passes.
class LiveModel {
public:
    static LiveModel& get() {
        static LiveModel live;
        return live;
    }

    CostModel& model() { return *model_; }
    const std::string& liveFile() const { return liveFile_; }

    // Appends one assistant response to the live file and moves its time on;
    // gives the bytes appended.
    std::size_t append() {
        std::string line = responseLine(appended_);
        int fd = ::open(liveFile_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) return 0;
        ssize_t n = ::write(fd, line.data(), line.size());
        ++appended_;
        timespec times[2] = {timeAfter(appended_), timeAfter(appended_)};
        ::futimens(fd, times);
        ::close(fd);
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    // The response appended as the `n`th, one whole line.
    std::string responseLine(int n) const {
        bench::Rng rng(static_cast<std::uint64_t>(n) + 99);
        char id[32];
        std::snprintf(id, sizeof id, "%010d", n);
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "2026-02-12T19:%02d:%02d.%03dZ", (n / 60) % 60, n % 60, n % 1000);
        char usage[300];
        std::snprintf(usage, sizeof usage,
                      R"("usage":{"input_tokens":%d,"cache_creation_input_tokens":%d,"cache_read_input_tokens":%d,"cache_creation":{"ephemeral_5m_input_tokens":%d,"ephemeral_1h_input_tokens":0},"output_tokens":%d,"service_tier":"standard"})",
                      3 + n % 7, 1200 + n % 500, 90000 + n, 1200 + n % 500, 400 + n % 900);
        return std::string(R"({"parentUuid":"00000000-0000-4000-8000-)") + id +
               R"(00","isSidechain":false,"userType":"external","cwd":"/home/user/projects/live","sessionId":"live","version":"2.1.39","gitBranch":"main","message":{"model":"claude-opus-4-6","id":"msg_01bench)" +
               id + R"(","type":"message","role":"assistant","content":[{"type":"text","text":")" +
               bench::detail::text(rng, 1500, false) + R"("}],"stop_reason":null,"stop_sequence":null,)" + usage +
               R"(},"requestId":"req_011bench)" + id + R"(","type":"assistant","uuid":"10000000-0000-4000-8000-)" + id +
               R"(00","timestamp":")" + stamp + "\"}\n";
    }

    // Cuts the live file back to what the corpus wrote.
    void restore() {
        if (liveFile_.empty() || appended_ == 0) return;
        if (::truncate(liveFile_.c_str(), originalSize_) == 0) {
            timespec times[2] = {originalMtime_, originalMtime_};
            ::utimensat(AT_FDCWD, liveFile_.c_str(), times, 0);
        }
        appended_ = 0;
    }

    ~LiveModel() { restore(); }

private:
    LiveModel() {
        const bench::Corpus& c = corpus();
        loadWordLists();
        // The newest Claude Code conversation file is the live one.
        std::int64_t newest = TranscriptFile::kUnknownMtime;
        for (const TranscriptFile& f : listTranscripts(c.claudeRoot)) {
            if (f.path.find("/subagents/") == std::string::npos && f.mtimeNs > newest) {
                newest = f.mtimeNs;
                liveFile_ = f.path;
                originalSize_ = f.size;
            }
        }
        originalMtime_.tv_sec = static_cast<time_t>(newest / 1000000000LL);
        originalMtime_.tv_nsec = static_cast<long>(newest % 1000000000LL);
        store_ = std::make_unique<MetadataStore>(TempFolders::get().make());
        model_ = std::make_unique<CostModel>(*store_, benchClock());
    }

    timespec timeAfter(int n) const {
        timespec t = originalMtime_;
        t.tv_sec += n;
        return t;
    }

    std::string liveFile_;
    off_t originalSize_ = 0;
    timespec originalMtime_{};
    int appended_ = 0;
    std::unique_ptr<MetadataStore> store_;
    std::unique_ptr<CostModel> model_;
};

void BM_IdlePass(benchmark::State& state) {
    LiveModel& live = LiveModel::get();
    live.model().refresh();
    const double cpu = processCpuSeconds();
    for (auto _ : state) live.model().refresh();
    reportProcessCpu(state, cpu);
    state.counters["files_parsed"] = live.model().lastPassParseCount();
    state.counters["rows"] = static_cast<double>(live.model().allRows().size());
}

void BM_AppendPass(benchmark::State& state) {
    LiveModel& live = LiveModel::get();
    live.model().refresh();
    std::size_t bytes = 0;
    int parsedMax = 0;
    double cpu = 0;  // of the passes alone
    for (auto _ : state) {
        bytes = live.append();
        const double cpu0 = processCpuSeconds();
        auto t0 = SteadyClock::now();
        live.model().refresh();
        state.SetIterationTime(secondsSince(t0));
        cpu += processCpuSeconds() - cpu0;
        parsedMax = std::max(parsedMax, live.model().lastPassParseCount());
    }
    state.counters["cpu_all_threads_ms"] = cpu * 1e3 / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["appended_bytes"] = static_cast<double>(bytes);
    state.counters["files_parsed"] = parsedMax;
    live.restore();
    live.model().refresh();
}

// The parse of one appended response alone, in a file whose folder and
// title are already known (as in the live file).
void BM_AppendedLineParse(benchmark::State& state) {
    LiveModel& live = LiveModel::get();
    std::string line = live.responseLine(1);
    line.pop_back();
    line.append(simdjson::SIMDJSON_PADDING, ' ');
    std::string_view view(line.data(), line.size() - simdjson::SIMDJSON_PADDING);
    const DayWindow today = benchClock().today();
    auto parser = Transcript::makeClaudeParser(today);
    std::string first = R"({"type":"user","cwd":"/home/user/projects/live","message":{"role":"user","content":"Fix it"}})";
    first.append(simdjson::SIMDJSON_PADDING, ' ');
    parser->read(std::string_view(first.data(), first.size() - simdjson::SIMDJSON_PADDING));
    for (auto _ : state) {
        auto p = parser->clone();
        p->read(view);
        benchmark::DoNotOptimize(p->session().totalCost);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(view.size()));
}

void BM_Listing(benchmark::State& state) {
    corpus();
    ClaudeCodeSource claude;
    CodexSource codex;
    std::size_t files = 0;
    const double cpu = processCpuSeconds();
    for (auto _ : state) {
        auto a = claude.transcriptURLs();
        auto b = codex.transcriptURLs();
        files = a.size() + b.size();
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    reportProcessCpu(state, cpu);
    state.counters["files"] = static_cast<double>(files);
}

BENCHMARK(BM_FirstPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_IdlePass)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_AppendedLineParse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Listing)->UseRealTime()->Unit(benchmark::kMillisecond);

// --rows: one pass over the given roots, as JSON.

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (unsigned char ch : s) {
        switch (ch) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (ch < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", ch);
                    out += buf;
                } else {
                    out += static_cast<char>(ch);
                }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// UTC, with milliseconds: 2026-02-12T15:36:09.516Z.
std::string jsonDate(TimePoint t) {
    using namespace std::chrono;
    auto day = floor<days>(t);
    year_month_day ymd{day};
    auto ms = (t - day).count();
    char buf[48];
    std::snprintf(buf, sizeof buf, "\"%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ\"", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buf;
}

std::string jsonModels(const std::vector<ModelLine>& models) {
    std::string out = "[";
    for (size_t i = 0; i < models.size(); ++i) {
        if (i) out += ", ";
        out += "{\"name\": " + jsonString(models[i].name) + ", \"cost\": " + jsonNumber(models[i].cost) +
               ", \"estimated\": " + (models[i].estimated ? "true" : "false") + "}";
    }
    return out + "]";
}

std::string jsonPaths(const std::vector<std::string>& paths) {
    std::string out = "[";
    for (size_t i = 0; i < paths.size(); ++i) out += (i ? ", " : "") + jsonString(paths[i]);
    return out + "]";
}

int printRows(int argc, char** argv) {
    if (argc != 4 && !(argc == 6 && std::string_view(argv[4]) == "--now")) {
        std::fprintf(stderr, "usage: %s --rows <claude-root> <codex-root> [--now <ISO 8601 time>]\n", argv[0]);
        return 2;
    }
    Settings::setCurrent(Settings{.claudeRoot = argv[2], .codexRoot = argv[3]});
    std::unique_ptr<Clock> clock;
    if (argc == 6) {
        auto now = Transcript::parseDate(argv[5]);
        if (!now) {
            std::fprintf(stderr, "--now: not an ISO 8601 date-time with a zone: %s\n", argv[5]);
            return 2;
        }
        clock = std::make_unique<FixedClock>(*now);
    } else {
        clock = std::make_unique<SystemClock>();
    }
    MetadataStore store("");  // in memory: nothing is written
    CostModel model(store, *clock);

    std::string out = "{\n  \"now\": " + jsonDate(clock->now()) + ",\n  \"todayCost\": " +
                      jsonNumber(model.todayCost()) + ",\n  \"grandTotal\": " + jsonNumber(model.grandTotal()) +
                      ",\n  \"menuTitle\": " + jsonString(model.menuTitle()) + ",\n  \"rows\": [";
    const auto& rows = model.allRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const SessionRow& r = rows[i];
        out += i ? ",\n    {" : "\n    {";
        out += "\"id\": " + jsonString(r.id) + ", \"source\": " + jsonString(r.source) +
               ", \"title\": " + jsonString(r.title) + ", \"project\": " + jsonString(r.project) +
               ", \"total\": " + jsonNumber(r.total) + ", \"today\": " + jsonNumber(r.today) +
               ", \"tokens\": " + std::to_string(r.tokens) + ", \"startTime\": " + jsonDate(r.startTime) +
               ", \"lastActivity\": " + jsonDate(r.lastActivity) + ", \"isActive\": " + (r.isActive ? "true" : "false") +
               ", \"models\": " + jsonModels(r.models) + ", \"subagents\": [";
        for (size_t k = 0; k < r.subagents.size(); ++k) {
            const SubagentRow& s = r.subagents[k];
            out += (k ? ", {" : "{");
            out += "\"id\": " + jsonString(s.id) + ", \"name\": " + jsonString(s.name) +
                   ", \"total\": " + jsonNumber(s.total) + ", \"today\": " + jsonNumber(s.today) +
                   ", \"lastActivity\": " + jsonDate(s.lastActivity) + ", \"tokens\": " + std::to_string(s.tokens) +
                   ", \"models\": " + jsonModels(s.models) + ", \"paths\": " + jsonPaths(s.transcriptPaths) + "}";
        }
        out += "], \"paths\": " + jsonPaths(r.transcriptPaths) + "}";
    }
    out += rows.empty() ? "]\n}\n" : "\n  ]\n}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "--rows") return printRows(argc, argv);
    if (argc >= 2 && std::string_view(argv[1]) == "--corpus") {
        const bench::Corpus& c = corpus();
        std::printf("folder %s\nclaude-root %s\ncodex-root %s\nfiles %zu\nbytes %llu\n", c.folder.c_str(),
                    c.claudeRoot.c_str(), c.codexRoot.c_str(), c.files, static_cast<unsigned long long>(c.bytes));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
