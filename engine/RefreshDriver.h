#pragma once
// Keeps a cost model fresh: one pass every two seconds on the thread that
// owns the model, never two at once. The desktop shell drives tick() from
// its own timer; run() is a plain loop for programs without an event loop.

#include <chrono>
#include <functional>

namespace vorel {

class CostModel;

class RefreshDriver {
public:
    static constexpr std::chrono::milliseconds kInterval{2000};

    explicit RefreshDriver(CostModel& model) : model_(model) {}

    // One pass, unless a pass is already running on this thread (a tick
    // that arrives from inside a pass is dropped, not queued).
    void tick();

    // Ticks every kInterval until keepGoing() is false. `waitUntil` blocks
    // until the given steady-clock time (tests pass one that returns at
    // once). Ticks missed while a pass ran long are skipped, not made up.
    using SteadyTime = std::chrono::steady_clock::time_point;
    void run(const std::function<bool()>& keepGoing, const std::function<SteadyTime()>& now,
             const std::function<void(SteadyTime)>& waitUntil);

    int passes() const { return passes_; }

private:
    CostModel& model_;
    bool running_ = false;
    int passes_ = 0;
};

}  // namespace vorel
