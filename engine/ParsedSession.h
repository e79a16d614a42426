#pragma once
// What one parsed transcript file becomes: per-model usage, costs, activity
// dates, title, working folder, thread facts and the list of billed responses.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/Clock.h"

namespace vorel {

struct ModelUsage {
    std::int64_t input{};
    std::int64_t output{};
    std::int64_t cacheRead{};
    std::int64_t cacheWrite5m{};
    std::int64_t cacheWrite1h{};
    double cost{};

    // Adds another usage's counters (saturating) and cost.
    void add(const ModelUsage& other);
    bool operator==(const ModelUsage&) const = default;
};

// One priced API response.
struct BilledTurn {
    std::string key;    // de-duplication key, formed by each parser
    std::string model;  // model id the response was priced under
    std::int64_t input{};
    std::int64_t output{};
    std::int64_t cacheRead{};
    std::int64_t cacheWrite5m{};
    std::int64_t cacheWrite1h{};
    double cost{};
    std::optional<TimePoint> date;

    ModelUsage usage() const { return {input, output, cacheRead, cacheWrite5m, cacheWrite1h, cost}; }
    bool operator==(const BilledTurn&) const = default;
};

// Everything a parse finds in a file except its list of responses: what
// rows are made of. Kept in one struct so that it is copied whole.
struct SessionTotals {
    std::map<std::string, ModelUsage, std::less<>> perModel;
    double totalCost{};
    double todayCost{};
    TimePoint lastActivity = kDistantPast;
    TimePoint firstActivity = kDistantFuture;
    bool hadTodayActivity{};
    std::string title;
    bool hasUnknownModel{};
    std::string cwd;
    std::string sourceThreadId;
    std::string parentThreadId;
    bool isSubagent{};
    std::string subagentName;
    std::string subagentRole;

    // Sum of every model's five counters, saturating.
    std::int64_t totalTokens() const;

    // Merges another file's figures into these (thread and subagent fields
    // are left as they are).
    void absorb(const SessionTotals& other);

    bool operator==(const SessionTotals&) const = default;
};

struct ParsedSession : SessionTotals {
    std::vector<BilledTurn> turns;

    // Merges another file's result into this one, its responses included.
    void absorb(const ParsedSession& other);

    // This record re-totalled from only `kept`; "today" is judged by `today`,
    // at the moment of the rebuild.
    ParsedSession rebuilt(std::vector<BilledTurn> kept, const DayWindow& today) const;

    bool operator==(const ParsedSession&) const = default;
};

}  // namespace vorel
