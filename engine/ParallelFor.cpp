#include "engine/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
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
    // A call that throws ends the sharing out: the pieces not yet taken
    // are left, and the first exception goes to the caller once every
    // thread has stopped, as from a loop on the calling thread alone.
    std::mutex failedMutex;
    std::exception_ptr failed;
    auto work = [&](std::size_t worker) {
        try {
            for (std::size_t i = next++; i < n; i = next++) fn(i, worker);
        } catch (...) {
            next = n;
            std::lock_guard lock(failedMutex);
            if (!failed) failed = std::current_exception();
        }
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
    if (failed) std::rethrow_exception(failed);
}

}  // namespace vorel
