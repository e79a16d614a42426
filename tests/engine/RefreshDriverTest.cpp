#include <gtest/gtest.h>

#include <vector>

#include "CostModel.h"
#include "MetadataStore.h"
#include "RefreshDriver.h"
#include "TestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::utc;

namespace {

// A model over no sources whose passes are counted, with a steady clock
// that moves only when the driver waits or a pass says it took long.
struct DriverHarness {
    MetadataStore store{""};  // in memory only
    FixedClock clock{utc(2026, 7, 5, 12)};
    CostModel model{{}, store, clock};
    RefreshDriver driver{model};
    RefreshDriver::SteadyTime now{};
    std::vector<milliseconds> waits;  // since the start, one per wait
    int passes = 0;

    void run(int maxPasses) {
        driver.run([&] { return driver.passes() < maxPasses; }, [&] { return now; },
                   [&](RefreshDriver::SteadyTime until) {
                       waits.push_back(duration_cast<milliseconds>(until - RefreshDriver::SteadyTime{}));
                       if (until > now) now = until;
                   });
    }
};

}  // namespace

TEST(RefreshDriver, TicksEveryTwoSecondsAndSkipsTicksMissedByALongPass) {
    DriverHarness h;
    h.model.changed().subscribe([&] {
        ++h.passes;
        if (h.passes == 2) h.now += milliseconds{5000};  // the second pass takes five seconds
    });
    h.run(4);
    EXPECT_EQ(h.passes, 4);
    EXPECT_EQ(h.driver.passes(), 4);
    // The pass started at 4 s ends at 9 s: the ticks at 6 s and 8 s are not
    // made up, the next comes at 10 s.
    EXPECT_EQ(h.waits, (std::vector<milliseconds>{2000ms, 4000ms, 10000ms, 12000ms}));
}

TEST(RefreshDriver, StopsWithoutAPassWhenToldToWhileWaiting) {
    DriverHarness h;
    h.model.changed().subscribe([&] { ++h.passes; });
    bool keepGoing = true;
    h.driver.run([&] { return keepGoing; }, [&] { return h.now; },
                 [&](RefreshDriver::SteadyTime until) {
                     h.now = until;
                     keepGoing = false;
                 });
    EXPECT_EQ(h.passes, 0);
}

TEST(RefreshDriver, TickFromInsideAPassIsDropped) {
    DriverHarness h;
    int nestedTicks = 0;
    h.model.changed().subscribe([&] {
        ++h.passes;
        ++nestedTicks;
        h.driver.tick();  // e.g. an observer that asks for a fresh pass
    });
    h.driver.tick();
    EXPECT_EQ(h.passes, 1);
    EXPECT_EQ(nestedTicks, 1);
    EXPECT_EQ(h.driver.passes(), 1);
    // The next tick from outside runs again.
    h.driver.tick();
    EXPECT_EQ(h.passes, 2);
    EXPECT_EQ(h.driver.passes(), 2);
}
