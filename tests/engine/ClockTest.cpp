#include <gtest/gtest.h>

#include "engine/Clock.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace std::chrono;
using namespace vorel::test;

namespace {

// The local date of `t` as the C library reads the process time zone.
year_month_day libcDate(TimePoint t) {
    std::time_t secs = floor<seconds>(t).time_since_epoch().count();
    std::tm tm{};
    localtime_r(&secs, &tm);
    return year{tm.tm_year + 1900} / month{static_cast<unsigned>(tm.tm_mon + 1)} /
           day{static_cast<unsigned>(tm.tm_mday)};
}

// The local day holding `t`, checked to tile with the days around it and to
// begin at the first instant of its local date.
DayWindow checkedDay(TimePoint t) {
    DayWindow w = DayWindow::containing(t);
    EXPECT_TRUE(w.contains(t) && w.contains(w.start) && !w.contains(w.end)) << isoUtc(t);
    EXPECT_EQ(DayWindow::containing(w.end).start, w.end);
    EXPECT_EQ(DayWindow::containing(w.start - milliseconds{1}).end, w.start);
    EXPECT_EQ(startOfLocalDay(t, 0), w.start);
    EXPECT_EQ(startOfLocalDay(t), w.start);
    EXPECT_EQ(startOfLocalDay(t, 1), w.end);
    EXPECT_EQ(sys_days{libcDate(w.start - seconds{1})} + days{1}, sys_days{libcDate(w.start)});
    return w;
}

}  // namespace

TEST(Clock, LocalDaysBeginAtTheFirstInstantOfTheirDate) {
    if (!std::filesystem::exists("/usr/share/zoneinfo/America/Santiago")) GTEST_SKIP() << "no tzdata";
    struct Case {
        const char* zone;
        TimePoint inside;  // an instant of the day
        TimePoint start;
        TimePoint end;
    };
    const Case cases[] = {
        // Midnight happens twice (01:00 falls back to 00:00): the day starts
        // at the first, and 00:30 the first time round is in it.
        {"Atlantic/Azores", utc(2026, 10, 25, 0, 30), utc(2026, 10, 25, 0), utc(2026, 10, 26, 1)},
        {"America/Havana", utc(2026, 11, 1, 4, 30), utc(2026, 11, 1, 4), utc(2026, 11, 2, 5)},
        // Midnight never happens (00:00 jumps to 01:00): the day starts at
        // 01:00, the first instant of its date.
        {"America/Santiago", utc(2026, 9, 6, 12), utc(2026, 9, 6, 4), utc(2026, 9, 7, 3)},
        {"America/Sao_Paulo", utc(2018, 11, 4, 12), utc(2018, 11, 4, 3), utc(2018, 11, 5, 2)},
        {"America/Sao_Paulo", utc(2018, 11, 4, 2, 59, 59), utc(2018, 11, 3, 3), utc(2018, 11, 4, 3)},
        {"Asia/Beirut", utc(2026, 3, 29, 12), utc(2026, 3, 28, 22), utc(2026, 3, 29, 21)},
        // 24:00 falls back to 23:00: the repeated hour ends the day before.
        {"America/Santiago", utc(2026, 4, 5, 3, 30), utc(2026, 4, 4, 3), utc(2026, 4, 5, 4)},
        {"Asia/Beirut", utc(2026, 10, 24, 21, 30), utc(2026, 10, 23, 21), utc(2026, 10, 24, 22)},
        // 23:00 jumps to 00:00: the day starts at the jump, an hour before
        // midnight by the offset of the evening before.
        {"America/Nuuk", utc(2026, 3, 29, 12), utc(2026, 3, 29, 1), utc(2026, 3, 30, 1)},
        // Clocks set back a whole day (Alaska's change of calendar in 1867):
        // the repeated date comes after the next one began, so it belongs to
        // that day, which lasts 48 hours.
        {"America/Juneau", utc(1867, 10, 19, 4), utc(1867, 10, 18, 8, 57, 41), utc(1867, 10, 20, 8, 57, 41)},
        // Ordinary 23- and 25-hour days.
        {"Europe/Berlin", utc(2026, 3, 29, 1, 30), utc(2026, 3, 28, 23), utc(2026, 3, 29, 22)},
        {"Europe/Berlin", utc(2026, 10, 25, 0, 30), utc(2026, 10, 24, 22), utc(2026, 10, 25, 23)},
        // Half-hour shifts: 24.5- and 23.5-hour days.
        {"Australia/Lord_Howe", utc(2026, 4, 5, 0), utc(2026, 4, 4, 13), utc(2026, 4, 5, 13, 30)},
        {"Australia/Lord_Howe", utc(2026, 10, 4, 0), utc(2026, 10, 3, 13, 30), utc(2026, 10, 4, 13)},
        // The system's zone rules, not older ones: UTC+5 since March 2024.
        {"Asia/Almaty", utc(2026, 1, 15, 12), utc(2026, 1, 14, 19), utc(2026, 1, 15, 19)},
        {"UTC", utc(2026, 1, 1, 23, 59, 59), utc(2026, 1, 1), utc(2026, 1, 2)},
        // Rules a day ahead of UTC and a day behind it, the furthest a
        // rule's offset can go.
        {"<+24>-24", utc(2026, 1, 2, 12), utc(2026, 1, 2), utc(2026, 1, 3)},
        {"<-24>+24", utc(2026, 1, 2, 12), utc(2026, 1, 2), utc(2026, 1, 3)},
        {"<+2459>-24:59", utc(2026, 1, 2, 12), utc(2026, 1, 1, 23, 1), utc(2026, 1, 2, 23, 1)},
        {"UTC", utc(1, 1, 1, 12), kDistantPast, kDistantPast + days{1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        EnvVar tz("TZ", c.zone);
        DayWindow w = checkedDay(c.inside);
        EXPECT_EQ(isoUtc(w.start), isoUtc(c.start));
        EXPECT_EQ(isoUtc(w.end), isoUtc(c.end));
        // Every instant of the day, on the hour and half hour, tiles the same way.
        for (TimePoint t = w.start; t < w.end; t += minutes{30}) EXPECT_EQ(checkedDay(t).start, w.start);
    }
}

TEST(Clock, CalendarStepsKeepTheZoneRules) {
    if (!std::filesystem::exists("/usr/share/zoneinfo/America/Santiago")) GTEST_SKIP() << "no tzdata";
    {
        // Across the skipped midnight of 2024-09-08 (00:00 -04 jumps to 01:00 -03).
        EnvVar tz("TZ", "America/Santiago");
        EXPECT_EQ(startOfLocalDay(utc(2024, 9, 7, 15), 1), utc(2024, 9, 8, 4));
    }
    {
        // A week back from a doubled midnight lands on ordinary midnights.
        EnvVar tz("TZ", "Atlantic/Azores");
        EXPECT_EQ(startOfLocalDay(utc(2026, 10, 26, 12), -1), utc(2026, 10, 25, 0));
        EXPECT_EQ(startOfLocalDay(utc(2026, 10, 26, 12), -7), utc(2026, 10, 19, 0));
        EXPECT_EQ(startOfLocalDay(utc(2026, 10, 19, 12), 7), utc(2026, 10, 26, 1));
    }
    {
        // A zone given as a rule rather than a name: five hours behind UTC.
        EnvVar tz("TZ", "EST5");
        EXPECT_EQ(startOfLocalDay(utc(2026, 1, 1, 3), 0), utc(2025, 12, 31, 5));
        EXPECT_EQ(startOfLocalDay(utc(2026, 1, 1, 3), 31), utc(2026, 1, 31, 5));
    }
}

TEST(Clock, AFixedClockMovesOnlyWhenToldAndCanStandInForTheProcessClock) {
    EnvVar tz("TZ", "UTC");
    auto fixed = std::make_shared<FixedClock>(utc(2026, 7, 5, 23));
    fixed->advance(hours{2});
    EXPECT_EQ(fixed->now(), utc(2026, 7, 6, 1));
    EXPECT_EQ(fixed->today().start, utc(2026, 7, 6));

    setClock(fixed);
    EXPECT_EQ(vorel::clock().now(), utc(2026, 7, 6, 1));
    setClock(nullptr);  // back to the system's clock
    EXPECT_GT(vorel::clock().now(), utc(2020, 1, 1));
}
