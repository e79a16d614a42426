// The conversation detail reader: what the Details section pays each time
// it is rebuilt (after every refresh pass, every two seconds).
//
// Two conversations: the largest of the fixtures (a Claude Code session with
// three subagent files, 3.9 MB), and a 50 MB one made from it by repeating
// its main file with fresh message ids and days. Both are copied into a
// temporary folder on first use and removed at exit. Measured: a first
// parse, a memo hit, one appended response, and a line holding a 10 MB tool
// result against the same line holding a short one.
// For stable figures run with repetitions and read the medians:
//   detail_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "detail/ConversationDetailCache.h"
#include "detail/ConversationDetailParser.h"

namespace {

namespace fs = std::filesystem;
using namespace vorel;

constexpr SourceKind kClaude = SourceKind::claudeCode;
const fs::path kFixture = fs::path(VOREL_FIXTURES_DIR) / "claude/projects/-home-USER-projects-spotter-worktrees-spotter-a0y";
const char* const kSession = "fa812bfe-b295-4cca-9c2f-fdf01028cb46";

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
}

void setModified(const std::string& path, int seconds) {
    timespec times[2] = {{1767225600 + seconds, 0}, {1767225600 + seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// One response as Claude Code writes it, with a fresh id each time.
std::string responseLine(long n) {
    return R"({"type":"assistant","timestamp":"2026-04-01T10:00:00.000Z","requestId":"req_bench)" + std::to_string(n) +
           R"(","message":{"id":"msg_bench)" + std::to_string(n) +
           R"(","model":"claude-opus-4-6","usage":{"input_tokens":3,"output_tokens":420,)"
           R"("cache_read_input_tokens":51200,"cache_creation_input_tokens":900},"content":[{"type":"text","text":")" +
           std::string(1500, 'w') + "\"}]}}\n";
}

std::string toolResultLine(size_t bytes) {
    return R"({"type":"user","timestamp":"2026-04-01T10:00:00.000Z","message":{"content":[{"type":"tool_result",)"
           R"("content":[{"type":"text","text":")" +
           std::string(bytes, 'r') + "\"}]}]}}\n";
}

// The conversations, written on first use and removed at exit.
class Files {
public:
    static Files& get() {
        static Files files;
        return files;
    }

    std::vector<std::string> fixture, large;
    std::string hugeToolResult, shortToolResult;
    fs::path folder;

private:
    Files() {
        std::string pattern = (fs::temp_directory_path() / "vorel-detail-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        folder = pattern;
        fixture = conversation("fixture", 1);
        large = conversation("large", 15);
        hugeToolResult = write("huge.jsonl", toolResultLine(10u << 20));
        shortToolResult = write("short.jsonl", toolResultLine(200));
    }
    ~Files() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    std::string write(const std::string& name, const std::string& bytes) {
        std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // The subagent files, then the main file `copies` times over, newest.
    std::vector<std::string> conversation(const std::string& name, int copies) {
        fs::create_directories(folder / name);
        std::vector<std::string> paths;
        int second = 0;
        for (const auto& entry : fs::directory_iterator(kFixture / kSession / "subagents")) {
            paths.push_back(write(name + "/" + entry.path().filename().string(), readAll(entry.path())));
            setModified(paths.back(), second++);
        }
        const std::string main = readAll(kFixture / (std::string(kSession) + ".jsonl"));
        std::string bytes;
        for (int k = 0; k < copies; ++k) {
            std::string copy = main;
            if (k > 0) {
                std::string tag = std::to_string(k);
                replaceAll(copy, "\"id\":\"msg_", "\"id\":\"msg_" + tag);
                replaceAll(copy, "\"requestId\":\"req_", "\"requestId\":\"req_" + tag);
                replaceAll(copy, "\"uuid\":\"", "\"uuid\":\"" + tag);
                replaceAll(copy, "2026-02-12T", "2026-03-" + std::string(k < 10 ? "0" : "") + tag + "T");
            }
            bytes += copy;
        }
        paths.insert(paths.begin(), write(name + "/main.jsonl", bytes));
        setModified(paths.front(), second);
        return paths;
    }
};

std::int64_t totalBytes(const std::vector<std::string>& paths) {
    std::int64_t n = 0;
    for (const std::string& p : paths) n += static_cast<std::int64_t>(fs::file_size(p));
    return n;
}

void FullParse(benchmark::State& state, bool large) {
    const std::vector<std::string>& paths = large ? Files::get().large : Files::get().fixture;
    for (auto _ : state) benchmark::DoNotOptimize(ConversationDetailParser::parse(paths, kClaude));
    state.SetBytesProcessed(state.iterations() * totalBytes(paths));
}

void FirstRead(benchmark::State& state, bool large) {
    const std::vector<std::string>& paths = large ? Files::get().large : Files::get().fixture;
    for (auto _ : state) {
        ConversationDetailCache cache;
        benchmark::DoNotOptimize(cache.detail(paths, kClaude));
    }
    state.SetBytesProcessed(state.iterations() * totalBytes(paths));
}

void MemoHit(benchmark::State& state, bool large) {
    const std::vector<std::string>& paths = large ? Files::get().large : Files::get().fixture;
    ConversationDetailCache cache;
    cache.detail(paths, kClaude);
    for (auto _ : state) benchmark::DoNotOptimize(cache.detail(paths, kClaude));
    if (cache.lastStep() != ConversationDetailCache::Step::reused) state.SkipWithError("not reused");
}

// One new response at the end of the main file, then the detail again.
void AppendOneResponse(benchmark::State& state, bool large) {
    const std::vector<std::string>& source = large ? Files::get().large : Files::get().fixture;
    // A copy of the conversation of its own, since it grows.
    fs::path folder = Files::get().folder / (large ? "grow-large" : "grow-fixture");
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (const std::string& p : source) {
        paths.push_back((folder / fs::path(p).filename()).string());
        fs::copy_file(p, paths.back(), fs::copy_options::overwrite_existing);
        setModified(paths.back(), static_cast<int>(paths.size()));
    }
    setModified(paths.front(), 100);
    ConversationDetailCache cache;
    cache.detail(paths, kClaude);
    std::ofstream out(paths.front(), std::ios::binary | std::ios::app);
    long n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        out << responseLine(n++) << std::flush;
        state.ResumeTiming();
        benchmark::DoNotOptimize(cache.detail(paths, kClaude));
        if (cache.lastStep() != ConversationDetailCache::Step::appended) state.SkipWithError("not appended");
    }
}

void ToolResultLine(benchmark::State& state, bool huge) {
    const std::string& path = huge ? Files::get().hugeToolResult : Files::get().shortToolResult;
    for (auto _ : state) benchmark::DoNotOptimize(ConversationDetailParser::parse({path}, kClaude));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
}

// The text step alone: the tool result's value as the cleaned detail.
void ToolResultText(benchmark::State& state, bool huge) {
    std::string json = R"([{"type":"text","text":")" + std::string(huge ? 10u << 20 : 200u, 'r') + "\"}]";
    simdjson::dom::parser parser;
    simdjson::dom::element value = parser.parse(json).value();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ConversationDetailParser::clean(ConversationDetailParser::stringValue(value, 300), 300));
    }
}

}  // namespace

BENCHMARK_CAPTURE(FullParse, fixture, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FullParse, large50MB, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FirstRead, fixture, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FirstRead, large50MB, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MemoHit, fixture, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(MemoHit, large50MB, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(AppendOneResponse, fixture, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(AppendOneResponse, large50MB, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ToolResultLine, short, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ToolResultLine, huge10MB, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ToolResultText, short, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ToolResultText, huge10MB, true)->Unit(benchmark::kMicrosecond);
