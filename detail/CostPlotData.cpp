#include "detail/CostPlotData.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/DecimalText.h"
#include "engine/Settings.h"

namespace vorel {

namespace {

// Negative and not-a-number amounts count as 0.
double clampToZero(double v) { return v >= 0 ? v : 0; }

PlotItem itemOf(const ConversationEvent& e) {
    PlotItem item;
    item.id = e.id;
    item.callCount = 1;
    item.fresh = clampToZero(e.freshInputCost);
    item.cache = clampToZero(e.cacheCost);
    item.output = clampToZero(e.outputCost);
    item.billed = e.cost ? clampToZero(*e.cost) : 0;
    return item;
}

double partField(const PlotItem& item, CostPart part) {
    switch (part) {
        case CostPart::input: return item.fresh;
        case CostPart::cached: return item.cache;
        case CostPart::output: break;
    }
    return item.output;
}

}  // namespace

std::string_view rawValue(CostPlotMode mode) {
    switch (mode) {
        case CostPlotMode::cumulative: return "Cumulative cost";
        case CostPlotMode::itemized: return "Itemized costs";
    }
    return "";
}

std::string_view rawValue(CostUnit unit) {
    switch (unit) {
        case CostUnit::calls: return "API calls";
        case CostUnit::turns: return "Turns";
    }
    return "";
}

std::string_view rawValue(CostPart part) {
    switch (part) {
        case CostPart::input: return "Input";
        case CostPart::cached: return "Cached";
        case CostPart::output: return "Output";
    }
    return "";
}

CostPartSet allCostParts() { return {CostPart::input, CostPart::cached, CostPart::output}; }

CostUnit initialCostUnit(const Settings& settings) {
    return settings.plotByTurns ? CostUnit::turns : CostUnit::calls;
}

CostPlotData::CostPlotData(std::vector<ConversationEvent> events, CostUnit unit, CostPartSet selectedParts)
    : events_(std::move(events)), unit_(unit), selectedParts_(std::move(selectedParts)) {
    if (selectedParts_.empty()) selectedParts_ = allCostParts();
    rebuildItems();
}

void CostPlotData::setEvents(std::vector<ConversationEvent> events) {
    events_ = std::move(events);
    rebuildItems();
}

void CostPlotData::setUnit(CostUnit unit) {
    if (unit == unit_) return;
    unit_ = unit;
    rebuildItems();
}

void CostPlotData::setSelectedParts(CostPartSet parts) {
    // The legend never leaves the set empty; an empty set means all parts.
    if (parts.empty()) parts = allCostParts();
    if (parts == selectedParts_) return;
    selectedParts_ = std::move(parts);
    rebuildCeiling();
}

void CostPlotData::rebuildItems() {
    items_.clear();
    if (unit_ == CostUnit::calls) {
        items_.reserve(events_.size());
        for (const ConversationEvent& e : events_) items_.push_back(itemOf(e));
    } else {
        // Only consecutive calls of one turn merge; a turn number that comes
        // back after another starts a new item.
        std::optional<int> lastTurn;
        for (const ConversationEvent& e : events_) {
            PlotItem one = itemOf(e);
            if (lastTurn == e.turnIndex) {
                PlotItem& group = items_.back();
                group.callCount += 1;
                group.fresh += one.fresh;
                group.cache += one.cache;
                group.output += one.output;
                group.billed += one.billed;
            } else {
                items_.push_back(one);
                lastTurn = e.turnIndex;
            }
        }
    }
    cumulative_.clear();
    cumulative_.reserve(items_.size());
    double total = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        items_[i].ordinal = static_cast<int>(i + 1);
        total += items_[i].billed;
        cumulative_.push_back({items_[i], total});
    }
    rebuildCeiling();
}

double CostPlotData::visibleValue(const PlotItem& item) const {
    double sum = 0;
    for (CostPart part : allCostPartsInOrder)
        if (selectedParts_.count(part)) sum += partField(item, part);
    if (sum == 0 && selectedParts_.size() == 3) return item.billed;
    return sum;
}

double CostPlotData::drawnValue(const PlotItem& item, CostPart part) const {
    if (selectedParts_.size() == 3 && item.fresh + item.cache + item.output == 0)
        return part == CostPart::input ? item.billed : 0;
    return selectedParts_.count(part) ? partField(item, part) : 0;
}

double CostPlotData::cumulativeScaleMax() const {
    double total = cumulative_.empty() ? 0 : cumulative_.back().total;
    return total > 0 && std::isfinite(total) ? total * 1.06 : 1.0;
}

void CostPlotData::rebuildCeiling() {
    std::vector<double> values;
    values.reserve(items_.size());
    for (const PlotItem& item : items_) {
        double v = visibleValue(item);
        if (v > 0) values.push_back(v);
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) {
        ceiling_ = 0;
        return;
    }
    const double largest = values.back();
    if (n < 10) {
        ceiling_ = largest;
        return;
    }
    const auto index = static_cast<size_t>(static_cast<double>(n - 1) * 0.95);
    const double limit = 2.5 * values[index];
    // The largest value at most limit; the value at `index` is one, so the
    // search always finds one.
    ceiling_ = *std::prev(std::upper_bound(values.begin(), values.end(), limit));
}

double CostPlotData::turnScaleMax() const {
    return ceiling_ > 0 && std::isfinite(ceiling_) ? ceiling_ * 1.06 : 1.0;
}

std::vector<double> CostPlotData::axisTicks(double m) {
    if (!(m > 0) || !std::isfinite(m)) return {0, 1};
    const double raw = m * 0.25;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double r = raw / magnitude;
    double step = magnitude * 10;
    for (double factor : {1.0, 2.0, 2.5, 5.0}) {
        if (factor >= r) {
            step = magnitude * factor;
            break;
        }
    }
    // A maximum so small that its quarter underflows has no usable step:
    // label just its ends instead of repeating 0.
    if (!(step > 0) || !std::isfinite(step) || step >= m) return {0, m};
    std::vector<double> ticks{0, step};
    // The step is at least a quarter of the maximum: at most four ticks.
    for (double t = step + step; t < m; t += step) ticks.push_back(t);
    return ticks;
}

std::string CostPlotData::axisMoney(double v) {
    if (!(v > 0)) return "$0";
    if (v < 0.01) return fixedDecimal(v * 100, 1) + "\u00A2";
    return "$" + fixedDecimal(v, 2);
}

std::optional<int> CostPlotData::nearestEventId(double x, double width) const {
    const size_t n = cumulative_.size();
    // A position that is not a number points at nothing.
    if (!(width > 0) || n == 0 || std::isnan(x)) return std::nullopt;
    const double fraction = std::clamp(x, 0.0, width) / width;
    // A fraction from 0 to 1, so an index from 0 to n - 1.
    double index = std::round(fraction * static_cast<double>(n - 1));
    // An infinite width and position give no fraction: take the first item.
    if (std::isnan(index)) index = 0;
    return cumulative_[static_cast<size_t>(index)].item.id;
}

std::string CostPlotData::itemLabel(const PlotItem& item) const {
    return (unit_ == CostUnit::turns ? "Turn " : "Call ") + std::to_string(item.ordinal);
}

}  // namespace vorel
