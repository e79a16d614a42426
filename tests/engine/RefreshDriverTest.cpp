#include <gtest/gtest.h>

#include "engine/CostModel.h"
#include "engine/MetadataStore.h"
#include "engine/RefreshDriver.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

// A model over no sources.
struct DriverHarness {
    MetadataStore store{""};  // in memory only
    FixedClock clock{utc(2026, 7, 5, 12)};
    CostModel model{{}, store, clock};
    RefreshDriver driver{model};
};

}  // namespace

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
