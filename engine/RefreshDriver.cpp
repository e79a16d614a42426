#include "RefreshDriver.h"

#include "CostModel.h"

namespace vorel {

void RefreshDriver::tick() {
    if (running_) return;
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};
    model_.refresh();
    ++passes_;
}

void RefreshDriver::run(const std::function<bool()>& keepGoing, const std::function<SteadyTime()>& now,
                        const std::function<void(SteadyTime)>& waitUntil) {
    SteadyTime next = now() + kInterval;
    while (keepGoing()) {
        waitUntil(next);
        if (!keepGoing()) break;
        tick();
        SteadyTime after = now();
        next += kInterval;
        while (next <= after) next += kInterval;
    }
}

}  // namespace vorel
