#include "reports/ReportWindow.h"

namespace vorel {

std::string_view rawText(ReportDateRange r) {
    switch (r) {
        case ReportDateRange::all: return "All time";
        case ReportDateRange::today: return "Today";
        case ReportDateRange::last7: return "Last 7 days";
        case ReportDateRange::last30: return "Last 30 days";
        case ReportDateRange::custom: return "Custom";
    }
    return {};
}

std::string_view rawText(SortDirection d) { return d == SortDirection::descending ? "Descending" : "Ascending"; }

std::optional<ReportSpan> reportBounds(ReportDateRange range, TimePoint customStart, TimePoint customEnd,
                                       TimePoint now) {
    // Every bound is the start of a local calendar day, found by stepping
    // whole days on the calendar, so days across a daylight-saving change
    // keep their true length.
    switch (range) {
        case ReportDateRange::all: return std::nullopt;
        case ReportDateRange::today: return ReportSpan{startOfLocalDay(now, 0), startOfLocalDay(now, 1)};
        case ReportDateRange::last7: return ReportSpan{startOfLocalDay(now, -6), startOfLocalDay(now, 1)};
        case ReportDateRange::last30: return ReportSpan{startOfLocalDay(now, -29), startOfLocalDay(now, 1)};
        case ReportDateRange::custom: {
            TimePoint lo = customEnd < customStart ? customEnd : customStart;
            TimePoint hi = customEnd < customStart ? customStart : customEnd;
            return ReportSpan{startOfLocalDay(lo, 0), startOfLocalDay(hi, 1)};
        }
    }
    return std::nullopt;
}

std::vector<SessionRow> reportRows(const std::vector<SessionRow>& rows, ReportDateRange range, TimePoint customStart,
                                   TimePoint customEnd, TimePoint now) {
    auto span = reportBounds(range, customStart, customEnd, now);
    if (!span) return rows;
    std::vector<SessionRow> out;
    for (const SessionRow& r : rows) {
        if (span->contains(r.lastActivity)) out.push_back(r);
    }
    return out;
}

}  // namespace vorel
