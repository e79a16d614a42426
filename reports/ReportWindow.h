#pragma once
// The report window shared by the history list and the bar chart: which
// local days to show, and in which direction to order. Whole local days of
// the process time zone, as half-open spans; a conversation falls in a
// window by its last activity.

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/Clock.h"
#include "engine/SessionRow.h"

namespace vorel {

enum class ReportDateRange { all, today, last7, last30, custom };
inline constexpr std::array<ReportDateRange, 5> kAllDateRanges{ReportDateRange::all, ReportDateRange::today,
                                                               ReportDateRange::last7, ReportDateRange::last30,
                                                               ReportDateRange::custom};
std::string_view rawText(ReportDateRange r);

enum class SortDirection { descending, ascending };
inline constexpr std::array<SortDirection, 2> kAllSortDirections{SortDirection::descending, SortDirection::ascending};
std::string_view rawText(SortDirection d);

struct ReportSpan {
    TimePoint start;
    TimePoint end;  // excluded
    bool contains(TimePoint t) const { return t >= start && t < end; }
    bool operator==(const ReportSpan&) const = default;
};

// The span of whole local days the window covers at `now`; none for `all`.
// Custom dates may come in either order; both end days count whole.
std::optional<ReportSpan> reportBounds(ReportDateRange range, TimePoint customStart, TimePoint customEnd,
                                       TimePoint now);

// The rows whose last activity lies in the window, in their given order.
std::vector<SessionRow> reportRows(const std::vector<SessionRow>& rows, ReportDateRange range, TimePoint customStart,
                                   TimePoint customEnd, TimePoint now);

}  // namespace vorel
