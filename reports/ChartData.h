#pragma once
// What the bar chart shows, worked out before anything is drawn: the rows in
// the chosen window, one bar per conversation (or, grouped by tag, one bar
// per conversation and tag, with the cost split evenly over its tags), the
// orderings and the one scale maximum that every bar is drawn against.
// Recomputed from the rows and the metadata store on every redraw.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Clock.h"
#include "engine/SessionRow.h"
#include "reports/ReportWindow.h"

namespace vorel {

class MetadataStore;

// The order of the ungrouped bars.
enum class SortKey { start, name, cost };
inline constexpr std::array<SortKey, 3> kAllSortKeys{SortKey::start, SortKey::name, SortKey::cost};
std::string_view rawText(SortKey k);

enum class GroupBy { none, tag };
inline constexpr std::array<GroupBy, 2> kAllGroupBys{GroupBy::none, GroupBy::tag};
std::string_view rawText(GroupBy g);

// The grouping the chart opens with: by tag when the current settings ask
// for it, else none.
GroupBy initialGroupBy();

// The group of the conversations that carry no tag.
inline constexpr std::string_view kUntagged = "Untagged";

// The scale maximum when nothing is larger: every bar is drawn against at
// least this, so no division by zero can happen.
inline constexpr double kMinScale = 0.0001;

// One bar.
struct BarItem {
    // The row id when ungrouped; tag, "|" and row id when grouped by tag.
    std::string id;
    std::string rowId;
    // The conversation's display title.
    std::string topic;
    // The number of tags the conversation's cost is split over; 1 when
    // ungrouped or untagged.
    int splitCount = 1;
    // Dollars: the conversation's total and today's cost over splitCount.
    double value = 0;
    double today = 0;

    bool operator==(const BarItem&) const = default;
};

// One tag's section of the grouped chart.
struct TagGroup {
    std::string id;  // the tag text, or "Untagged"
    double total = 0;  // the sum of its bars' values
    std::vector<BarItem> bars;

    bool operator==(const TagGroup&) const = default;
};

// The screen's choices.
struct ChartOptions {
    SortKey sort = SortKey::cost;
    GroupBy groupBy = GroupBy::none;
    SortDirection direction = SortDirection::descending;
    ReportDateRange range = ReportDateRange::all;
    TimePoint customStart = kDistantPast;
    TimePoint customEnd = kDistantPast;
};

// Everything one redraw of the chart needs. Only the bars of the chosen
// grouping are built: `flat` when ungrouped, `groups` when grouped by tag.
struct ChartContent {
    size_t rowCount = 0;  // conversations in the window
    std::vector<BarItem> flat;
    std::vector<TagGroup> groups;
    double globalMax = kMinScale;
};

// The rows of `allRows` whose last activity lies in the window at `now`,
// in their given order (most recent activity first).
std::vector<const SessionRow*> chartRows(const std::vector<SessionRow>& allRows, const ChartOptions& options,
                                         TimePoint now);

// One bar per row, ordered by `sort` and `direction` with a stable sort:
// rows whose keys are equal keep their given order in both directions.
// Names compare by the user's locale, ignoring case.
std::vector<BarItem> flatItems(const std::vector<const SessionRow*>& rows, const MetadataStore& meta, SortKey sort,
                               SortDirection direction);

// One group per tag, with one bar per row carrying the tag; a row without
// tags goes to "Untagged". A row's cost is split evenly over its distinct
// tags (a tag listed twice in a hand-edited file counts once). Bars are
// ordered by value and groups by total, both stable in `direction`; groups
// with equal totals come in ascending byte order of their tag text in both
// directions, so they never trade places from one redraw to the next.
std::vector<TagGroup> tagGroups(const std::vector<const SessionRow*>& rows, const MetadataStore& meta,
                                SortDirection direction);

// The largest bar value (kMinScale when there is none or it is not above
// kMinScale). For groups, the bars' split shares count, not the group totals.
double globalMax(const std::vector<BarItem>& bars);
double globalMax(const std::vector<TagGroup>& groups);

// The window's rows, the bars of the chosen grouping and their maximum.
ChartContent chartContent(const std::vector<SessionRow>& allRows, const MetadataStore& meta,
                          const ChartOptions& options, TimePoint now);

}  // namespace vorel
