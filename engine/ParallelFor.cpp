#include "engine/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <vector>

namespace vorel {

namespace {

std::atomic<ThreadStarter> threadStarter{nullptr};

std::thread startThread(std::function<void()> body) {
    if (ThreadStarter start = threadStarter.load()) return start(std::move(body));
    return std::thread(std::move(body));
}

}  // namespace

void setThreadStarter(ThreadStarter starter) { threadStarter.store(starter); }

std::size_t coreCount() {
    static const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

void parallelFor(std::size_t n, std::size_t maxWorkers, const std::function<void(std::size_t, std::size_t)>& fn) {
    const std::size_t workers = std::min(n, maxWorkers);
    if (workers <= 1) {
        for (std::size_t i = 0; i < n; ++i) fn(i, 0);
        return;
    }
    std::atomic<std::size_t> next{0};
    auto work = [&](std::size_t worker) {
        for (std::size_t i = next++; i < n; i = next++) fn(i, worker);
    };
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    try {
        for (std::size_t w = 1; w < workers; ++w) helpers.push_back(startThread([&work, w] { work(w); }));
    } catch (const std::system_error&) {
        // No more threads: the ones started and this one share the rest.
    }
    work(0);
    for (std::thread& t : helpers) t.join();
}

}  // namespace vorel
