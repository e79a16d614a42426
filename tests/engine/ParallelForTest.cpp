// Work shared out over threads: every piece runs once, and the work is done
// on the threads the system gives, the calling one at least, when it
// refuses more; the cost engine's pass and the folder walk go through it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/CostModel.h"
#include "engine/MetadataStore.h"
#include "engine/ParallelFor.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

// A system that gives `allowed` threads and refuses every one after.
std::atomic<int> allowed{0};
std::atomic<int> asked{0};

std::thread refusingStarter(std::function<void()> body) {
    ++asked;
    if (allowed-- <= 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
}

struct RefusedThreads {
    explicit RefusedThreads(int give) {
        allowed = give;
        asked = 0;
        setThreadStarter(refusingStarter);
    }
    ~RefusedThreads() { setThreadStarter(nullptr); }
    RefusedThreads(const RefusedThreads&) = delete;
    RefusedThreads& operator=(const RefusedThreads&) = delete;
};

}  // namespace

TEST(ParallelFor, EveryPieceRunsOnceOnTheThreadsTheSystemGives) {
    constexpr size_t kPieces = 200, kWorkers = 4;
    for (int give : {0, 1, 2, 3}) {
        SCOPED_TRACE(give);
        RefusedThreads refused(give);
        std::vector<std::atomic<int>> runs(kPieces);
        std::mutex m;
        std::set<std::thread::id> threads;
        std::set<size_t> workers;
        parallelFor(kPieces, kWorkers, [&](size_t i, size_t worker) {
            ++runs[i];
            std::lock_guard lock(m);
            threads.insert(std::this_thread::get_id());
            workers.insert(worker);
        });
        for (size_t i = 0; i < kPieces; ++i) EXPECT_EQ(runs[i], 1) << i;
        // A refused thread is asked for once; the rest are not asked for.
        EXPECT_EQ(asked, std::min<int>(give + 1, kWorkers - 1));
        EXPECT_LE(threads.size(), static_cast<size_t>(give) + 1);
        EXPECT_LT(*workers.rbegin(), kWorkers);
        if (give == 0) {
            // No thread at all: the calling one did everything.
            EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
            EXPECT_EQ(workers, std::set<size_t>{0});
        }
    }
}

TEST(ParallelFor, APieceThatThrowsStopsTheWorkAndTheCallerGetsItsException) {
    constexpr size_t kPieces = 1000, kWorkers = 4;
    // Thrown on a helper thread and on the calling one (the other side
    // waits for the throw, then works slowly), and with no helper at all.
    for (int give : {3, 0}) {
        for (bool onCaller : {false, true}) {
            SCOPED_TRACE(testing::Message() << "threads " << give << ", thrown on the caller " << onCaller);
            RefusedThreads refused(give);
            const std::thread::id caller = std::this_thread::get_id();
            std::atomic<bool> thrown{false};
            std::atomic<size_t> runs{0};
            EXPECT_THROW(parallelFor(kPieces, kWorkers,
                                     [&](size_t, size_t) {
                                         ++runs;
                                         const bool here = (std::this_thread::get_id() == caller) == onCaller;
                                         if ((here || give == 0) && !thrown.exchange(true))
                                             throw std::runtime_error("piece failed");
                                         for (int w = 0; w < 5000 && !thrown; ++w)
                                             std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                         std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                     }),
                         std::runtime_error);
            EXPECT_TRUE(thrown);
            // The pieces not yet handed out were left.
            EXPECT_LT(runs, kPieces / 2);
        }
    }
}

TEST(ParallelFor, APassWithoutThreadsGivesTheSameRows) {
    TempDir dir;
    EnvVar tz{"TZ", "UTC"};
    // Enough folders that the walk shares them out, and files for the parse.
    for (int p = 0; p < 48; ++p) {
        const std::string id = "s" + std::to_string(p);
        setFileTime(dir.write("claude/p" + std::to_string(p) + "/sub/" + id + ".jsonl",
                              claudeUser(id) + claudeReply(id, 1000 * (p + 1))),
                    p);
    }
    ScopedSettings roots{Settings{.claudeRoot = dir.file("claude"), .codexRoot = dir.file("codex/sessions")}};
    FixedClock clock{utc(2026, 7, 5, 12)};
    auto rowsOf = [&] {
        MetadataStore meta{""};
        CostModel model(meta, clock);
        std::vector<std::pair<std::string, double>> rows;
        for (const SessionRow& r : model.allRows()) rows.emplace_back(r.id, r.total);
        return rows;
    };
    const auto expected = rowsOf();
    ASSERT_EQ(expected.size(), 48u);
    for (int give : {0, 1}) {
        SCOPED_TRACE(give);
        RefusedThreads refused(give);
        EXPECT_EQ(rowsOf(), expected);
        // Both the walk and the parse asked for threads.
        if (coreCount() > 1) {
            EXPECT_GE(asked, 2);
        }
    }
}
