#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "CostModel.h"
#include "MetadataStore.h"
#include "RefreshDriver.h"
#include "TestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::utc;

namespace {

// A model over no sources, with a steady clock that moves only when the
// driver waits or a pass says it took long.
struct DriverHarness {
    MetadataStore store{""};  // in memory only
    FixedClock clock{utc(2026, 7, 5, 12)};
    CostModel model{{}, store, clock};
    RefreshDriver driver{model};
    RefreshDriver::SteadyTime now{};
    std::vector<milliseconds> waits;  // since the start, one per wait

    void run(const std::function<bool()>& keepGoing) {
        driver.run(keepGoing, [&] { return now; }, [&](RefreshDriver::SteadyTime until) {
            waits.push_back(duration_cast<milliseconds>(until - RefreshDriver::SteadyTime{}));
            if (until > now) now = until;
        });
    }
};

}  // namespace

TEST(RefreshDriver, TicksEveryTwoSecondsAndSkipsTicksMissedByALongPass) {
    DriverHarness h;
    int passes = 0;
    h.model.changed().subscribe([&] {
        if (++passes == 2) h.now += milliseconds{5000};  // the second pass takes five seconds
    });
    h.run([&] { return h.driver.passes() < 4; });
    EXPECT_EQ(h.driver.passes(), 4);
    // The pass started at 4 s ends at 9 s: the ticks at 6 s and 8 s are not
    // made up, the next comes at 10 s.
    EXPECT_EQ(h.waits, (std::vector<milliseconds>{2000ms, 4000ms, 10000ms, 12000ms}));

    // Told to stop while waiting: no further pass.
    h.run([&] { return h.waits.size() < 5; });
    EXPECT_EQ(h.driver.passes(), 4);
}

TEST(RefreshDriver, TickFromInsideAPassIsDropped) {
    DriverHarness h;
    int passes = 0;
    h.model.changed().subscribe([&] {
        ++passes;
        h.driver.tick();  // e.g. an observer that asks for a fresh pass
    });
    h.driver.tick();
    EXPECT_EQ(passes, 1);
    // The next tick from outside runs again.
    h.driver.tick();
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(h.driver.passes(), 2);
}
