// The refresh timer's tick: besides the pass, it brings in what another
// program wrote to the metadata file, so the screens show it at once.

#include <gtest/gtest.h>

#include "shell/AppModel.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace vorel::test;

using AppModelTest = ModelTest;

TEST_F(AppModelTest, TickShowsNamesAnotherProgramWroteWithoutARestart) {
    claude("s1", kNoon - std::chrono::minutes{5}, 1);
    AppModel& m = model();  // the first pass stores a suggested name
    int shown = 0;
    QObject::connect(&m, &AppModel::metaChanged, [&] { ++shown; });
    m.tick();
    EXPECT_EQ(shown, 0);

    // A restored backup (here written by another store) names the
    // conversation while this one runs.
    MetadataStore(dir.file("meta")).setName("claude-code:s1", "Restored name");
    m.tick();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(m.meta().topic("claude-code:s1", ""), "Restored name");
}
