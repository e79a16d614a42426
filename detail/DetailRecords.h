#pragma once
// Inside the detail reader: the detail under construction, the record rules
// of both sources that fill it one JSON line at a time, and the text
// conversions they share. Not for the screens; they use
// ConversationDetailParser.h.

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "detail/ConversationDetail.h"
#include "engine/TranscriptReading.h"

namespace vorel::ConversationDetailParser {

// The detail while its files are read, in reading order (not yet
// de-duplicated, sorted or numbered). Every change that truncating the
// lists cannot undo is logged, so that what was read since a mark can be
// taken back: a file that turns out to be rejected, or the unfinished last
// line of a file that is followed as it grows.
class DetailBuilder {
public:
    ConversationDetail d;

    void add(std::optional<TimePoint> timestamp, ConversationEventKind kind, std::string title, std::string detail);
    void add(ConversationEvent event) { d.events.push_back(std::move(event)); }

    // The position of the API-call event made for `key`, if any.
    std::optional<int> claudeEvent(std::string_view key) const;
    void recordClaudeKey(std::string key, int position);
    // Moves an event to a later time.
    void moveTimestamp(int position, TimePoint to);
    // Remembers a Codex usage key; false when it was already there.
    bool rememberUsage(std::string key);

    // Made only by mark(), which sets every field.
    struct Mark {
        size_t events, summaries, log, moved;
        std::string generatedTitle, currentModel;
        int compactions;
        double itemizedCost;
    };
    Mark mark() const;
    // Undoes everything since `m`.
    void rollback(const Mark& m);
    // Forgets the log: nothing before this point can be undone any more.
    void commit() { log_.clear(); }

    // The positions of events whose timestamp moved since the last call of
    // clearMoved (repeats possible).
    const std::vector<std::uint32_t>& moved() const { return moved_; }
    void clearMoved() { moved_.clear(); }

private:
    struct Change {
        enum class What { claudeKey, usageKey, timestamp } what;
        std::string key;                   // of a key change
        std::uint32_t position{};          // of a timestamp change: the event
        std::optional<TimePoint> before{};  // and its timestamp before
    };
    std::vector<Change> log_;
    std::vector<std::uint32_t> moved_;
};

// ---- Record rules: one JSON object line each ----

// Claude Code.
void parseClaude(simdjson::dom::object line, DetailBuilder& into);
void parseClaudeUser(simdjson::dom::object message, std::optional<TimePoint> timestamp, bool isMeta,
                     DetailBuilder& into);
void appendUserText(std::string_view text, std::optional<TimePoint> timestamp, bool isMeta, DetailBuilder& into);
void parseClaudeAssistant(simdjson::dom::object message, std::optional<TimePoint> timestamp, DetailBuilder& into);
void addClaudeCostEvent(simdjson::dom::object message, std::optional<TimePoint> timestamp,
                        std::optional<std::string_view> dedupeKey, DetailBuilder& into);

// Codex.
void parseCodex(simdjson::dom::object line, DetailBuilder& into);
// `payload` is the line's payload object (anything else gives nothing).
void parseCodexEvent(simdjson::dom::element payload, std::optional<TimePoint> timestamp, DetailBuilder& into);

struct CodexCostItem {
    std::string detail;
    std::optional<double> cost;
    std::optional<std::int64_t> tokens;
    double inputCost = 0, cacheCost = 0, outputCost = 0;
};
CodexCostItem codexCostItem(simdjson::dom::object payload, std::string_view model);

// ---- The pipeline's steps ----

// The key under which a cost-less event counts as a repeat of one in an
// earlier file: kind, title and detail.
std::string repeatKey(const ConversationEvent& e);

// The timeline order, apart from the tie-break by reading order: by time
// (undated first), and at equal times a token event after the others.
bool comesBefore(const ConversationEvent& a, const ConversationEvent& b);

// Gives the event at `position` of the sorted timeline its id and turn
// number. A turn is one or more prompts and the API calls up to the next
// prompt that follows an API call; `turn` (0 at first) and `pending` (true
// at first) carry the walk from one event to the next.
void number(ConversationEvent& e, size_t position, int& turn, bool& pending);

// The record rules of a source's transcripts.
using LineRule = void (*)(simdjson::dom::object, DetailBuilder&);
LineRule ruleFor(SourceKind source);

// The JSON parser of this thread, kept from file to file; trim it after a
// parse so a long line's buffers are given back.
Transcript::JsonLineParser& lineParser();

// ---- Text ----

// Appends stringValue(value) to `out`, but may stop once `out` holds
// `budget` bytes or more (always at a character boundary); true when all
// of it was written.
bool writeStringValue(const Transcript::JsonValue& value, std::string& out, size_t budget);

// Appends `s`, but may stop once `out` holds `budget` bytes or more
// (always at a character boundary); true when all of it was written.
bool appendUpTo(std::string_view s, std::string& out, size_t budget);

// clean(text, max) when `complete`; when `text` is only the beginning of a
// longer text, the result that every continuation would give, or nothing
// when that is not yet settled.
std::optional<std::string> cleanPrefix(std::string_view text, int max, bool complete);

// Where a collapsed text is cut for a limit of `max` characters.
struct Cut {
    bool more{};        // the text has more than `max` characters
    size_t at{};        // then: the end of its first max - 1 characters
};

// The cut for `limit` characters (1 or more) where no character break rules
// are at hand: code points stand in for characters, and so does each
// ill-formed sequence.
Cut codePointCut(std::string_view joined, size_t limit);

// The first budget to ask a writer for, for a limit of `max` characters.
size_t firstBudget(int max);

// Asks `write(out, budget)` for ever larger budgets until clean(_, max) of
// what it wrote is settled; returns what it wrote (a prefix of the whole
// text, or all of it).
template <typename Write>
std::string enoughFor(int max, Write&& write) {
    for (size_t budget = firstBudget(max);; budget *= 4) {
        std::string out;
        bool complete = write(out, budget);
        if (complete || cleanPrefix(out, max, false)) return out;
    }
}

// clean(text, max) of the text that `write` produces, reading no more of it
// than needed.
template <typename Write>
std::string cleanWritten(int max, Write&& write) {
    for (size_t budget = firstBudget(max);; budget *= 4) {
        std::string out;
        bool complete = write(out, budget);
        if (auto r = cleanPrefix(out, max, complete)) return std::move(*r);
    }
}

// clean(stringValue(value), max).
std::string cleanValue(const Transcript::JsonValue& value, int max);

}  // namespace vorel::ConversationDetailParser
