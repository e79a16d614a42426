#include "ParsedSession.h"

#include "Pricing.h"
#include "Saturating.h"

namespace vorel {

void ModelUsage::add(const ModelUsage& o) {
    input = satAdd(input, o.input);
    output = satAdd(output, o.output);
    cacheRead = satAdd(cacheRead, o.cacheRead);
    cacheWrite5m = satAdd(cacheWrite5m, o.cacheWrite5m);
    cacheWrite1h = satAdd(cacheWrite1h, o.cacheWrite1h);
    cost += o.cost;
}

std::int64_t ParsedSession::totalTokens() const {
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

void ParsedSession::absorb(const ParsedSession& other) {
    for (const auto& [model, usage] : other.perModel) perModel[model].add(usage);
    todayCost += other.todayCost;
    totalCost += other.totalCost;
    if (other.lastActivity > lastActivity) lastActivity = other.lastActivity;
    if (other.firstActivity < firstActivity) firstActivity = other.firstActivity;
    hadTodayActivity = hadTodayActivity || other.hadTodayActivity;
    hasUnknownModel = hasUnknownModel || other.hasUnknownModel;
    if (cwd.empty()) cwd = other.cwd;
    if (title.empty()) title = other.title;
    turns.insert(turns.end(), other.turns.begin(), other.turns.end());
}

ParsedSession ParsedSession::rebuilt(std::vector<BilledTurn> kept, const DayWindow& today) const {
    ParsedSession r;
    r.lastActivity = lastActivity;
    r.firstActivity = firstActivity;
    r.title = title;
    r.cwd = cwd;
    r.sourceThreadId = sourceThreadId;
    r.parentThreadId = parentThreadId;
    r.isSubagent = isSubagent;
    r.subagentName = subagentName;
    r.subagentRole = subagentRole;
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
