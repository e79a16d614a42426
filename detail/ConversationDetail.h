#pragma once
// What the conversation detail reader makes of one conversation: a timeline
// of timestamped events (prompts, responses, reasoning, tool calls and
// results, web searches, patches, priced API calls, lifecycle and system
// notes), activity counters, summaries, the generated title and the
// itemized cost. Plain values, copied on assignment; nothing here is kept on
// disk.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/Clock.h"

namespace vorel {

// What an event is. The raw value is the display text; two kinds are equal
// exactly when their raw values are.
enum class ConversationEventKind {
    user,        // a user prompt ("Prompt"); counts as a message
    injected,    // user-turn text that is not a prompt; counts nowhere
    assistant,   // an assistant text reply ("Response"); counts as a message
    reasoning,   // a thinking or reasoning block
    toolCall,    // a tool invocation
    toolResult,  // a tool's output
    webSearch,   // a web search call or its completion
    patch,       // an applied patch
    token,       // a priced API call ("API call") or an unpriced usage snapshot ("Token usage")
    lifecycle,   // conversation start, turn context, task start or end, compaction
    system,      // a system record of the transcript
};

constexpr std::string_view rawValue(ConversationEventKind kind) {
    switch (kind) {
        case ConversationEventKind::user: return "User";
        case ConversationEventKind::injected: return "Internal";
        case ConversationEventKind::assistant: return "Assistant";
        case ConversationEventKind::reasoning: return "Reasoning";
        case ConversationEventKind::toolCall: return "Tool call";
        case ConversationEventKind::toolResult: return "Tool result";
        case ConversationEventKind::webSearch: return "Web search";
        case ConversationEventKind::patch: return "Patch";
        case ConversationEventKind::token: return "Tokens";
        case ConversationEventKind::lifecycle: return "Lifecycle";
        case ConversationEventKind::system: return "System";
    }
    return "";
}

// One entry of the timeline.
struct ConversationEvent {
    // While reading 0; in a finished detail the event's position in `events`.
    int id{};
    // The record's time; absent when it has none or it does not parse.
    std::optional<TimePoint> timestamp;
    ConversationEventKind kind = ConversationEventKind::system;
    // A fixed short title ("Prompt", "Response", "API call" ...) or a name
    // taken from the record (a tool name, a system subtype).
    std::string title;
    // The event's text, as a rule with white space collapsed and cut.
    std::string detail;
    // US dollars and token count of an API call; absent on every other event.
    std::optional<double> cost;
    std::optional<std::int64_t> tokens;
    // An API call's cost split into fresh input, cache traffic and output;
    // 0 on every other event.
    double freshInputCost{};
    double cacheCost{};
    double outputCost{};
    // For an event whose cost is above 0: its turn number, 1 or more.
    int turnIndex{};

    bool operator==(const ConversationEvent&) const = default;
};

// Activity counters. In a finished detail the first seven are counts over
// its events; `compactions` is counted while reading the records.
struct ConversationStats {
    int messages{};  // user and assistant events
    int reasoning{};
    int toolCalls{};
    int toolResults{};
    int webSearches{};
    int patches{};
    int tokenSnapshots{};  // token events, priced or not
    int compactions{};

    bool operator==(const ConversationStats&) const = default;
};

// Hashing by string_view, so keys are looked up without making a string.
struct DetailKeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// The result of reading one conversation.
struct ConversationDetail {
    // The title written into the transcript; the last one read wins.
    std::string generatedTitle;
    // Summaries found in the transcript, in reading order; the last is shown.
    std::vector<std::string> summaries;
    ConversationStats stats;
    // The timeline, sorted by time.
    std::vector<ConversationEvent> events;
    // The sum of the costs of all API-call events created with a cost.
    double itemizedCost{};

    // Reading state, left as the records left it:
    // the Codex model that prices later token counts;
    std::string currentModel;
    // Claude Code API-call key to the position its event took while reading
    // (before the final sort);
    std::unordered_map<std::string, int, DetailKeyHash, std::equal_to<>> claudeCostEventIndex;
    // the Codex cumulative-usage keys already turned into events.
    std::unordered_set<std::string, DetailKeyHash, std::equal_to<>> seenCodexUsage;

    // The events whose cost is present and above 0, in timeline order: the
    // API calls the cost plot is made of.
    std::vector<ConversationEvent> costEvents() const {
        std::vector<ConversationEvent> out;
        for (const ConversationEvent& e : events) {
            if (e.cost && *e.cost > 0) out.push_back(e);
        }
        return out;
    }

    bool operator==(const ConversationDetail&) const = default;
};

}  // namespace vorel
