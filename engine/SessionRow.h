#pragma once
// A conversation as every screen shows it, rebuilt on every refresh pass.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/SourceKind.h"

namespace vorel {

// One model's share of a conversation's cost.
struct ModelLine {
    std::string name;  // display name: "claude-" removed, "-" shown as a blank
    double cost{};
    bool estimated{};  // priced by a fallback rate

    const std::string& id() const { return name; }
    bool operator==(const ModelLine&) const = default;
};

// One subagent transcript folded into its conversation.
struct SubagentRow {
    std::string id;
    std::string name;
    double total{};
    double today{};
    TimePoint lastActivity = kDistantPast;
    std::int64_t tokens{};
    std::vector<ModelLine> models;
    std::vector<std::string> transcriptPaths;

    bool operator==(const SubagentRow&) const = default;
};

struct SessionRow {
    std::string id;
    std::string source;
    std::string title;
    std::string project;
    double total{};
    double today{};
    bool isActive{};
    TimePoint startTime = kDistantPast;
    TimePoint lastActivity = kDistantPast;
    std::int64_t tokens{};
    std::vector<ModelLine> models;
    std::vector<SubagentRow> subagents;
    std::vector<std::string> transcriptPaths;
    // The kind of the row's source, which the detail reader's rules are
    // picked by; `source` is only its display name. The cost model sets it;
    // a row built without one has no kind, and no reader takes it.
    SourceKind sourceKind{};

    bool hasEstimated() const;
    bool isMixed() const { return models.size() > 1; }
    // The name of the costliest model line; the first of equal costs.
    std::string primaryModel() const;
    int subagentCount() const { return static_cast<int>(subagents.size()); }
    // Last activity less than a minute before `now` (or after it).
    bool isLive(TimePoint now) const;

    bool operator==(const SessionRow&) const = default;
};

// The display name of a model id: every "claude-" removed, then every "-"
// replaced by a blank (claude-opus-4-6 shows as "opus 4 6").
std::string modelDisplayName(std::string_view modelId);

}  // namespace vorel
