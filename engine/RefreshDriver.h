#pragma once
// Keeps a cost model fresh: one pass every two seconds on the thread that
// owns the model, never two at once. The desktop shell drives tick() from
// its own timer.

#include <chrono>

namespace vorel {

class CostModel;

class RefreshDriver {
public:
    static constexpr std::chrono::milliseconds kInterval{2000};

    explicit RefreshDriver(CostModel& model) : model_(model) {}

    // One pass, unless a pass is already running on this thread (a tick
    // that arrives from inside a pass is dropped, not queued).
    void tick();

    int passes() const { return passes_; }

private:
    CostModel& model_;
    bool running_{};
    int passes_{};
};

}  // namespace vorel
