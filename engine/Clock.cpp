#include "engine/Clock.h"

#include <algorithm>
#include <ctime>
#include <mutex>

namespace vorel {

namespace {

using std::chrono::days;
using std::chrono::seconds;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

// The zone's offset from UTC at `t`, from the C library's reading of the
// process time zone (TZ, else the system's zone): the same rules that turn
// an instant into a local date everywhere else.
seconds offsetAt(sys_seconds t) {
    std::time_t tt = static_cast<std::time_t>(t.time_since_epoch().count());
    std::tm tm{};
    // Converts every instant a TimePoint can hold (its year fits an int).
    localtime_r(&tt, &tm);
    return seconds{tm.tm_gmtoff};
}

// The local calendar date of `t`.
sys_days localDate(sys_seconds t) { return std::chrono::floor<days>(t + offsetAt(t)); }

sys_seconds secondsOf(TimePoint t) { return std::chrono::floor<seconds>(t); }

// The first instant whose local date is `date` or later. The wall clock
// reads t + offset(t); its midnight is where that first reaches `date`.
// Nothing here asks the C library to turn a wall time back into an instant:
// a midnight that happens twice (clocks fall back from 01:00 to 00:00) must
// give its first occurrence and one that never happens (clocks jump from
// 00:00 to 01:00) the first instant after the jump, while mktime picks one
// of two midnights by the offset it happened to see last.
//
// Offsets lie within 25 hours of UTC (real zones, local mean times of the
// past included, within about 15; a rule such as TZ="<+24>-24" may say up
// to 24:59:59), so the answer lies within 25 hours
// of the midnight read as UTC. The offsets are sampled every 3 hours across
// that span, each change is narrowed down to its second, and in each run of
// one offset the wall clock's crossing of midnight is exact. (Zones change
// their offset at most once in any 3 hours.)
sys_seconds firstInstantOf(sys_days date) {
    constexpr seconds kReach = std::chrono::hours{27};  // a whole number of steps
    constexpr seconds kStep = std::chrono::hours{3};
    const sys_seconds midnight{date};
    sys_seconds runStart = midnight - kReach;
    seconds offset = offsetAt(runStart);
    for (sys_seconds probe = runStart + kStep; probe <= midnight + kReach; probe += kStep) {
        const seconds next = offsetAt(probe);
        sys_seconds runEnd = probe;
        if (next != offset) {
            // The first second of the new offset lies in (probe - kStep, probe].
            sys_seconds lo = probe - kStep;
            while (runEnd - lo > seconds{1}) {
                const sys_seconds mid = lo + (runEnd - lo) / 2;
                (offsetAt(mid) == offset ? lo : runEnd) = mid;
            }
        }
        // Over [runStart, runEnd) the wall clock reads t + offset.
        const sys_seconds crossing = std::max(runStart, midnight - offset);
        if (crossing < runEnd) return crossing;
        runStart = runEnd;
        offset = next;
    }
    return std::max(runStart, midnight - offset);
}

// The local day holding `t`: the date D with
// firstInstantOf(D) <= t < firstInstantOf(D + 1). That is t's own local
// date, unless a zone sets its clock back from just after midnight to the
// evening before; the repeated minutes then come after the next day began.
sys_days dayHolding(sys_seconds t, sys_seconds* start, sys_seconds* end) {
    sys_days date = localDate(t);
    sys_seconds s = firstInstantOf(date);
    sys_seconds e = firstInstantOf(date + days{1});
    while (t >= e) {
        date += days{1};
        s = e;
        e = firstInstantOf(date + days{1});
    }
    if (start) *start = s;
    if (end) *end = e;
    return date;
}

TimePoint toTimePoint(sys_seconds t) { return std::chrono::time_point_cast<std::chrono::milliseconds>(t); }

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
    const sys_days date = dayHolding(secondsOf(t), nullptr, nullptr);
    return toTimePoint(firstInstantOf(date + std::chrono::days{days}));
}

DayWindow DayWindow::containing(TimePoint t) {
    sys_seconds start, end;
    dayHolding(secondsOf(t), &start, &end);
    return DayWindow{toTimePoint(start), toTimePoint(end)};
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
