#include "engine/ParsedSession.h"

#include <algorithm>

#include "engine/Pricing.h"
#include "engine/Saturating.h"

namespace vorel {

void ModelUsage::add(const ModelUsage& o) {
    input = satAdd(input, o.input);
    output = satAdd(output, o.output);
    cacheRead = satAdd(cacheRead, o.cacheRead);
    cacheWrite5m = satAdd(cacheWrite5m, o.cacheWrite5m);
    cacheWrite1h = satAdd(cacheWrite1h, o.cacheWrite1h);
    cost += o.cost;
}

std::int64_t SessionTotals::totalTokens() const {
    std::int64_t sum = 0;
    for (const auto& [model, u] : perModel) {
        sum = satAdd(sum, u.input);
        sum = satAdd(sum, u.output);
        sum = satAdd(sum, u.cacheRead);
        sum = satAdd(sum, u.cacheWrite5m);
        sum = satAdd(sum, u.cacheWrite1h);
    }
    return sum;
}

void SessionTotals::absorb(const SessionTotals& other) {
    for (const auto& [model, usage] : other.perModel) perModel[model].add(usage);
    todayCost += other.todayCost;
    totalCost += other.totalCost;
    lastActivity = std::max(lastActivity, other.lastActivity);
    firstActivity = std::min(firstActivity, other.firstActivity);
    hadTodayActivity = hadTodayActivity || other.hadTodayActivity;
    hasUnknownModel = hasUnknownModel || other.hasUnknownModel;
    if (cwd.empty()) cwd = other.cwd;
    if (title.empty()) title = other.title;
}

void ParsedSession::absorb(const ParsedSession& other) {
    SessionTotals::absorb(other);
    turns.insert(turns.end(), other.turns.begin(), other.turns.end());
}

ParsedSession ParsedSession::rebuilt(std::vector<BilledTurn> kept, const DayWindow& today) const {
    // What the file says of itself stays; what its responses add up to is
    // counted again.
    ParsedSession r;
    static_cast<SessionTotals&>(r) = *this;
    r.perModel.clear();
    r.totalCost = 0;
    r.todayCost = 0;
    r.hadTodayActivity = false;
    r.hasUnknownModel = false;
    r.turns = std::move(kept);
    for (const BilledTurn& t : r.turns) {
        r.perModel[t.model].add(t.usage());
        if (!Pricing::isKnown(t.model)) r.hasUnknownModel = true;
        if (t.date && today.contains(*t.date)) {
            r.todayCost += t.cost;
            r.hadTodayActivity = true;
        }
        r.totalCost += t.cost;
    }
    return r;
}

}  // namespace vorel
