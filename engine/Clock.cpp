#include "Clock.h"

#include <ctime>
#include <mutex>

namespace vorel {

namespace {

std::time_t toTimeT(TimePoint t) {
    return static_cast<std::time_t>(
        std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count());
}

// The first instant of the local calendar date y-m-d (m, d may be out of
// range; mktime normalises them, so d + 1 is the next calendar day).
TimePoint localMidnight(int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    // When midnight falls in a gap (clocks jump from 00:00 to 01:00), mktime
    // moves forward past the gap, which is the first valid instant of the day;
    // but some C libraries move backwards into the previous day instead.
    if (tm.tm_mday != 0) {
        std::tm check{};
        localtime_r(&t, &check);
        if (check.tm_year + 1900 != year || check.tm_mon != tm.tm_mon || check.tm_mday != tm.tm_mday) {
            // Walk forward hour by hour until the date is reached.
            for (int h = 1; h <= 3; ++h) {
                std::time_t probe = t + h * 3600;
                localtime_r(&probe, &check);
                if (check.tm_mday == tm.tm_mday && check.tm_mon == tm.tm_mon) {
                    check.tm_min = 0;
                    check.tm_sec = 0;
                    check.tm_isdst = -1;
                    t = std::mktime(&check);
                    break;
                }
            }
        }
    }
    return TimePoint{std::chrono::seconds{t}};
}

std::mutex& clockMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<const Clock>& clockSlot() {
    static std::shared_ptr<const Clock> c = std::make_shared<SystemClock>();
    return c;
}

}  // namespace

TimePoint startOfLocalDay(TimePoint t, int days) {
    std::time_t tt = toTimeT(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    // Normalise the target date first (so month and year roll over), then
    // take the first instant of that date.
    std::tm date{};
    date.tm_year = tm.tm_year;
    date.tm_mon = tm.tm_mon;
    date.tm_mday = tm.tm_mday + days;
    date.tm_hour = 12;  // noon is never skipped by a daylight-saving change
    date.tm_isdst = -1;
    std::mktime(&date);
    return localMidnight(date.tm_year + 1900, date.tm_mon, date.tm_mday);
}

DayWindow DayWindow::containing(TimePoint t) {
    return DayWindow{startOfLocalDay(t, 0), startOfLocalDay(t, 1)};
}

TimePoint SystemClock::now() const {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

const Clock& clock() {
    std::lock_guard lock(clockMutex());
    return *clockSlot();
}

void setClock(std::shared_ptr<const Clock> c) {
    std::lock_guard lock(clockMutex());
    clockSlot() = c ? std::move(c) : std::make_shared<SystemClock>();
}

}  // namespace vorel
