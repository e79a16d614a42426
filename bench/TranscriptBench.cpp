// Transcript parser throughput, in bytes of transcript per second on one
// core, through the public file functions so that reading the file counts.
//
// Two sets of input: generated files shaped like real ones (written once,
// on first use, into a temporary folder removed at exit) and every file of
// the fixture folder.
// For stable figures run with repetitions and read the medians:
//   transcript_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/TranscriptGenerator.h"
#include "engine/Transcript.h"

namespace {

namespace fs = std::filesystem;
using namespace vorel;

// A day inside the generated conversations, so "today" totals are exercised.
DayWindow benchDay() {
    using namespace std::chrono;
    return DayWindow::containing(sys_days{year{2026} / February / 12} + hours{18});
}

struct FileSet {
    std::vector<std::string> paths;
    std::int64_t bytes = 0;

    void add(const std::string& path) {
        paths.push_back(path);
        bytes += static_cast<std::int64_t>(fs::file_size(path));
    }
};

// The generated files, written on first use and removed at exit.
class GeneratedFiles {
public:
    static const GeneratedFiles& get() {
        static GeneratedFiles files;
        return files;
    }

    FileSet claude, codex;

private:
    static constexpr size_t kFileBytes = 32u << 20;

    GeneratedFiles() {
        std::string pattern = (fs::temp_directory_path() / "vorel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        write(claude, "claude.jsonl", bench::claudeTranscript(1, kFileBytes));
        write(codex, "codex.jsonl", bench::codexTranscript(2, kFileBytes));
    }
    ~GeneratedFiles() {
        std::error_code ec;
        if (!folder_.empty()) fs::remove_all(folder_, ec);
    }

    void write(FileSet& set, const char* name, const std::string& bytes) {
        std::string path = (folder_ / name).string();
        if (bench::writeFile(path, bytes)) set.add(path);
    }

    fs::path folder_;
};

// Every transcript under one folder of the fixtures, in a fixed order.
FileSet fixtureFiles(const char* sub) {
    FileSet set;
    fs::path root = fs::path(VOREL_FIXTURES_DIR) / sub;
    std::error_code ec;
    std::vector<std::string> found;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".jsonl") found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    for (const auto& p : found) set.add(p);
    return set;
}

template <ParsedSession (*Parse)(const std::string&, const DayWindow&)>
void parseAll(benchmark::State& state, const FileSet& set) {
    if (set.paths.empty()) {
        state.SkipWithError("no transcript files");
        return;
    }
    const DayWindow day = benchDay();
    std::size_t turns = 0;  // billed responses in one pass, to show the work is real
    for (auto _ : state) {
        turns = 0;
        for (const auto& path : set.paths) {
            ParsedSession s = Parse(path, day);
            turns += s.turns.size();
            benchmark::DoNotOptimize(s);
        }
    }
    state.SetBytesProcessed(state.iterations() * set.bytes);
    state.counters["files"] = static_cast<double>(set.paths.size());
    state.counters["MB"] = static_cast<double>(set.bytes) / 1e6;
    state.counters["turns"] = static_cast<double>(turns);
}

void BM_ClaudeGenerated(benchmark::State& state) {
    parseAll<Transcript::parseClaude>(state, GeneratedFiles::get().claude);
}
void BM_CodexGenerated(benchmark::State& state) {
    parseAll<Transcript::parseCodex>(state, GeneratedFiles::get().codex);
}
void BM_ClaudeFixtures(benchmark::State& state) {
    static const FileSet files = fixtureFiles("claude");
    parseAll<Transcript::parseClaude>(state, files);
}
void BM_CodexFixtures(benchmark::State& state) {
    static const FileSet files = fixtureFiles("codex");
    parseAll<Transcript::parseCodex>(state, files);
}

// Reading, checking and splitting the file alone: the floor under both
// parsers.
void BM_ReadLinesGenerated(benchmark::State& state) {
    const FileSet& set = GeneratedFiles::get().claude;
    if (set.paths.empty()) {
        state.SkipWithError("no transcript files");
        return;
    }
    for (auto _ : state) {
        std::size_t lines = 0;
        bool accepted = Transcript::forEachFileLine(set.paths.front(), [&](std::string_view) { ++lines; });
        benchmark::DoNotOptimize(lines);
        benchmark::DoNotOptimize(accepted);
    }
    state.SetBytesProcessed(state.iterations() * set.bytes);
}

BENCHMARK(BM_ClaudeGenerated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClaudeFixtures)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CodexGenerated)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CodexFixtures)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLinesGenerated)->Unit(benchmark::kMillisecond);

}  // namespace
