#include <gtest/gtest.h>

#include <filesystem>

#include "Clock.h"
#include "TestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::utc;
using vorel::test::EnvVar;

namespace {

// The local day holding `t`, checked to tile with the days around it.
DayWindow checkedDay(TimePoint t) {
    DayWindow w = DayWindow::containing(t);
    EXPECT_TRUE(w.contains(t) && w.contains(w.start) && !w.contains(w.end));
    EXPECT_EQ(DayWindow::containing(w.end).start, w.end);
    EXPECT_EQ(DayWindow::containing(w.start - milliseconds{1}).end, w.start);
    return w;
}

}  // namespace

TEST(Clock, SentinelsAreRepresentableAndSubtractable) {
    EXPECT_EQ(year_month_day{floor<days>(kDistantPast)}, year{1} / January / 1);
    EXPECT_EQ(year_month_day{floor<days>(kDistantFuture)}, year{4001} / January / 1);
    // 4000 Gregorian years are 1460970 days; the difference must not overflow.
    EXPECT_EQ(duration_cast<days>(kDistantFuture - kDistantPast), days{1460970});
}

TEST(Clock, LocalDaysAcrossClockChanges) {
    if (!std::filesystem::exists("/usr/share/zoneinfo/America/Santiago")) GTEST_SKIP() << "no tzdata";
    EnvVar berlin("TZ", "Europe/Berlin");
    // 2026-03-29: 02:00 CET jumps to 03:00 CEST, a 23-hour day.
    DayWindow spring = checkedDay(utc(2026, 3, 29, 1, 30));
    EXPECT_EQ(spring.start, utc(2026, 3, 28, 23));
    EXPECT_EQ(spring.end, utc(2026, 3, 29, 22));
    // 2026-10-25: 03:00 CEST falls back to 02:00 CET, a 25-hour day.
    DayWindow autumn = checkedDay(utc(2026, 10, 25, 0, 30));
    EXPECT_EQ(autumn.start, utc(2026, 10, 24, 22));
    EXPECT_EQ(autumn.end, utc(2026, 10, 25, 23));

    // A day whose midnight does not exist starts at its first instant.
    {
        // 2018-11-04 in Sao Paulo: 00:00 -03 jumps to 01:00 -02 (03:00 UTC).
        EnvVar tz("TZ", "America/Sao_Paulo");
        DayWindow gapDay = checkedDay(utc(2018, 11, 4, 12));
        EXPECT_EQ(gapDay.start, utc(2018, 11, 4, 3));
        EXPECT_EQ(gapDay.end, utc(2018, 11, 5, 2));
        EXPECT_EQ(checkedDay(utc(2018, 11, 4, 2, 59, 59)).start, utc(2018, 11, 3, 3));
    }
    {
        // 2024-09-08 in Santiago: 00:00 -04 jumps to 01:00 -03 (04:00 UTC).
        EnvVar tz("TZ", "America/Santiago");
        EXPECT_EQ(startOfLocalDay(utc(2024, 9, 7, 15), 1), utc(2024, 9, 8, 4));
    }
}
