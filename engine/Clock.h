#pragma once
// Points in time and the "today" window every parse and refresh judges
// activity by. Time is read through one injectable Clock so tests never
// depend on the wall clock or the machine's date.

#include <chrono>
#include <memory>

namespace vorel {

// Milliseconds since the Unix epoch, as 64-bit signed: transcript
// timestamps carry at most millisecond precision, and the range covers the
// two sentinels below with room to subtract one from the other.
using TimePoint = std::chrono::sys_time<std::chrono::milliseconds>;

// Earlier and later than any real timestamp: 0001-01-01 and 4001-01-01 UTC.
inline constexpr TimePoint kDistantPast{std::chrono::milliseconds{-62135596800000LL}};
inline constexpr TimePoint kDistantFuture{std::chrono::milliseconds{64092211200000LL}};

// One local calendar day as a half-open span [start, end).
struct DayWindow {
    TimePoint start = kDistantPast;
    TimePoint end = kDistantPast;

    bool contains(TimePoint t) const { return t >= start && t < end; }

    // The local calendar day (process time zone) that holds `t`: from the
    // first instant whose local date is its date to the first instant of the
    // next date. Days across a clock change are 23 or 25 hours long (or
    // 23.5, 24.5); a midnight that happens twice starts the day at its first
    // occurrence, one that never happens at the first instant after it.
    static DayWindow containing(TimePoint t);
};

// Start of the local calendar day `days` days after the one holding `t`.
// Every start of a local day, and so "today", comes from here.
TimePoint startOfLocalDay(TimePoint t, int days = 0);

class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    DayWindow today() const { return DayWindow::containing(now()); }
};

class SystemClock final : public Clock {
public:
    TimePoint now() const override;
};

// A clock that stands still until told otherwise; for tests and benchmarks.
class FixedClock final : public Clock {
public:
    explicit FixedClock(TimePoint t) : now_(t) {}
    TimePoint now() const override { return now_; }
    void set(TimePoint t) { now_ = t; }
    void advance(std::chrono::milliseconds d) { now_ += d; }

private:
    TimePoint now_;
};

// The process-wide clock. Defaults to the system clock; tests may replace it.
const Clock& clock();
void setClock(std::shared_ptr<const Clock> c);

}  // namespace vorel
