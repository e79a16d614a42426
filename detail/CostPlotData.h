#pragma once
// The numbers behind a conversation's cost plot, before anything is drawn:
// the plot items per API call or per turn, the value of an item for the
// selected cost parts, the cumulative series, the two scale maxima (the bar
// scale resists a single outlier), the axis ticks with their money labels
// and the item nearest to a horizontal position. No widgets, so it is
// tested headless.

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "detail/ConversationDetail.h"

namespace vorel {

struct Settings;

// How the plot draws its items: their running total as a line over an area
// ("Cumulative cost"), or one stacked bar per item ("Itemized costs"). The
// bars mode keeps its established name `turns` although it draws bars for
// either unit; code uses its alias `itemized`, which cannot be read as
// CostUnit::turns. The raw value is the display text.
enum class CostPlotMode { cumulative, turns, itemized = turns };
// One plot item per API call or per turn.
enum class CostUnit { calls, turns };
// The parts of an API call's cost.
enum class CostPart { input, cached, output };

inline constexpr CostPlotMode allCostPlotModes[] = {CostPlotMode::cumulative, CostPlotMode::itemized};
inline constexpr CostUnit allCostUnits[] = {CostUnit::calls, CostUnit::turns};
inline constexpr CostPart allCostPartsInOrder[] = {CostPart::input, CostPart::cached, CostPart::output};

std::string_view rawValue(CostPlotMode mode);
std::string_view rawValue(CostUnit unit);
std::string_view rawValue(CostPart part);

using CostPartSet = std::set<CostPart>;
CostPartSet allCostParts();

// The unit a new plot starts with: `turns` when the settings ask for one bar
// per turn, otherwise `calls`.
CostUnit initialCostUnit(const Settings& settings);

// One bar or one point of the plot. Money is US dollars; every amount is
// 0 or more.
struct PlotItem {
    int id{};           // id of the item's first event; reported on selection
    int ordinal{};      // 1-based position in the item list
    int callCount{};    // API calls in the item
    double fresh{};     // fresh input
    double cache{};     // cache reads and writes
    double output{};    // output
    double billed{};    // the events' costs

    bool operator==(const PlotItem&) const = default;
};

struct CumulativeEntry {
    PlotItem item;
    double total{};  // billed over this item and all before it

    bool operator==(const CumulativeEntry&) const = default;
};

// The plot's input (the priced API calls, in timeline order) and its unit
// and selected parts, with everything derived from them. The derived lists
// are worked out when the input, the unit or the parts change, so reading
// them while drawing or hovering costs nothing.
class CostPlotData {
public:
    explicit CostPlotData(std::vector<ConversationEvent> events = {}, CostUnit unit = CostUnit::calls,
                          CostPartSet selectedParts = allCostParts());

    const std::vector<ConversationEvent>& events() const { return events_; }
    CostUnit unit() const { return unit_; }
    const CostPartSet& selectedParts() const { return selectedParts_; }

    void setEvents(std::vector<ConversationEvent> events);
    void setUnit(CostUnit unit);
    void setSelectedParts(CostPartSet parts);

    // In event order; ordinals 1, 2, ...
    const std::vector<PlotItem>& items() const { return items_; }
    // The item's value for the selected parts; with all parts selected an
    // item without a breakdown counts its bill.
    double visibleValue(const PlotItem& item) const;
    // The height of one part of the item's bar.
    double drawnValue(const PlotItem& item, CostPart part) const;
    // Running totals of `billed`, whatever parts are selected.
    const std::vector<CumulativeEntry>& cumulative() const { return cumulative_; }
    // The top of the cumulative scale: the final total plus 6 %, or 1.
    double cumulativeScaleMax() const;
    // A top for the bars that a single outlier does not set; 0 when no item
    // has a visible value.
    double turnAxisCeiling() const { return ceiling_; }
    // The top of the bar scale; a bar whose visible value is above it is off
    // scale.
    double turnScaleMax() const;
    // The id of the item nearest to x on a plot `width` wide.
    std::optional<int> nearestEventId(double x, double width) const;
    // "Turn 3" or "Call 3".
    std::string itemLabel(const PlotItem& item) const;

    // 0, then steps of 1, 2, 2.5 or 5 times a power of ten below `maximum`.
    static std::vector<double> axisTicks(double maximum);
    // "$0", cents below one cent ("0.4¢"), otherwise dollars ("$12.35").
    static std::string axisMoney(double amount);

private:
    void rebuildItems();
    void rebuildCeiling();

    std::vector<ConversationEvent> events_;
    CostUnit unit_;
    CostPartSet selectedParts_;
    std::vector<PlotItem> items_;
    std::vector<CumulativeEntry> cumulative_;
    double ceiling_{};
};

}  // namespace vorel
