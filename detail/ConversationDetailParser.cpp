// The detail reader's pipeline: the files in order of modification date,
// each line through the record rules of its source, then the events of all
// files de-duplicated, sorted by time, numbered and counted.

#include "detail/ConversationDetailParser.h"

#include <sys/stat.h>

#include <algorithm>
#include <numeric>
#include <unordered_set>
#include <utility>

#include "detail/DetailRecords.h"
#include "engine/LongPath.h"

namespace vorel::ConversationDetailParser {

// ---- The detail under construction ----

void DetailBuilder::add(std::optional<TimePoint> timestamp, ConversationEventKind kind, std::string title,
                        std::string detail) {
    ConversationEvent e;
    e.timestamp = timestamp;
    e.kind = kind;
    e.title = std::move(title);
    e.detail = std::move(detail);
    d.events.push_back(std::move(e));
}

std::optional<int> DetailBuilder::claudeEvent(std::string_view key) const {
    auto it = d.claudeCostEventIndex.find(key);
    if (it == d.claudeCostEventIndex.end()) return std::nullopt;
    return it->second;
}

void DetailBuilder::recordClaudeKey(std::string key, int position) {
    log_.push_back({Change::What::claudeKey, key});
    d.claudeCostEventIndex.emplace(std::move(key), position);
}

void DetailBuilder::moveTimestamp(int position, TimePoint to) {
    auto at = static_cast<std::uint32_t>(position);
    std::optional<TimePoint>& timestamp = d.events[at].timestamp;
    log_.push_back({Change::What::timestamp, {}, at, timestamp});
    moved_.push_back(at);
    timestamp = to;
}

bool DetailBuilder::rememberUsage(std::string key) {
    if (d.seenCodexUsage.contains(key)) return false;
    log_.push_back({Change::What::usageKey, key});
    d.seenCodexUsage.insert(std::move(key));
    return true;
}

DetailBuilder::Mark DetailBuilder::mark() const {
    return Mark{d.events.size(), d.summaries.size(), log_.size(),      moved_.size(),
                d.generatedTitle, d.currentModel,    d.stats.compactions, d.itemizedCost};
}

void DetailBuilder::rollback(const Mark& m) {
    for (size_t i = log_.size(); i-- > m.log;) {
        Change& c = log_[i];
        switch (c.what) {
            case Change::What::claudeKey: d.claudeCostEventIndex.erase(c.key); break;
            case Change::What::usageKey: d.seenCodexUsage.erase(c.key); break;
            case Change::What::timestamp: d.events[c.position].timestamp = c.before; break;
        }
    }
    log_.resize(m.log);
    moved_.resize(m.moved);
    d.events.resize(m.events);
    d.summaries.resize(m.summaries);
    d.generatedTitle = m.generatedTitle;
    d.currentModel = m.currentModel;
    d.stats.compactions = m.compactions;
    d.itemizedCost = m.itemizedCost;
}

bool comesBefore(const ConversationEvent& a, const ConversationEvent& b) {
    return std::pair(a.timestamp.value_or(kDistantPast), a.kind == ConversationEventKind::token) <
           std::pair(b.timestamp.value_or(kDistantPast), b.kind == ConversationEventKind::token);
}

void number(ConversationEvent& e, size_t position, int& turn, bool& pending) {
    e.id = static_cast<int>(position);
    e.turnIndex = 0;
    if (e.kind == ConversationEventKind::user && e.title == "Prompt") {
        if (pending) ++turn;
        pending = false;
    } else if (e.cost && *e.cost > 0) {
        e.turnIndex = turn == 0 ? 1 : turn;
        pending = true;
    }
}

LineRule ruleFor(SourceKind source) {
    switch (source) {
        case SourceKind::claudeCode: return parseClaude;
        case SourceKind::codex: return parseCodex;
    }
    unknownSourceKind();
}

Transcript::JsonLineParser& lineParser() {
    thread_local Transcript::JsonLineParser parser;
    return parser;
}

// ---- Conversions ----

std::optional<TimePoint> date(const Transcript::JsonValue& value) {
    auto s = Transcript::stringValue(value);
    if (!s) return std::nullopt;
    return Transcript::parseDate(*s);
}

FileDate fileDate(const struct stat& st) {
    return FileDate{static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

FileDate mtime(const std::string& path) {
    struct stat st {};
    if (statLongPath(path, &st) != 0) return kDistantPastFileDate;
    return fileDate(st);
}

std::vector<size_t> readingOrder(std::span<const FileDate> dates) {
    std::vector<size_t> order(dates.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return dates[a] < dates[b]; });
    return order;
}

ConversationStats recomputedStats(std::span<const ConversationEvent> events, int compactions) {
    ConversationStats s;
    for (const ConversationEvent& e : events) {
        switch (e.kind) {
            case ConversationEventKind::user:
            case ConversationEventKind::assistant: ++s.messages; break;
            case ConversationEventKind::reasoning: ++s.reasoning; break;
            case ConversationEventKind::toolCall: ++s.toolCalls; break;
            case ConversationEventKind::toolResult: ++s.toolResults; break;
            case ConversationEventKind::webSearch: ++s.webSearches; break;
            case ConversationEventKind::patch: ++s.patches; break;
            case ConversationEventKind::token: ++s.tokenSnapshots; break;
            case ConversationEventKind::injected:
            case ConversationEventKind::lifecycle:
            case ConversationEventKind::system: break;
        }
    }
    s.compactions = compactions;
    return s;
}

// ---- The pipeline ----

std::string repeatKey(const ConversationEvent& e) {
    std::string key(rawValue(e.kind));
    key.reserve(key.size() + e.title.size() + e.detail.size() + 2);
    key += '|';
    key += e.title;
    key += '|';
    key += e.detail;
    return key;
}

ConversationDetail parse(const std::vector<std::string>& paths, SourceKind source) {
    // Each file's date is taken once, so a file written to during the sort
    // cannot upset it.
    std::vector<FileDate> dates;
    dates.reserve(paths.size());
    for (const std::string& path : paths) dates.push_back(mtime(path));

    const LineRule rule = ruleFor(source);
    Transcript::JsonLineParser& parser = lineParser();
    DetailBuilder b;
    std::vector<std::pair<size_t, size_t>> ranges;
    for (size_t index : readingOrder(dates)) {
        const DetailBuilder::Mark start = b.mark();
        Transcript::TranscriptLineReader reader(paths[index]);
        while (auto line = reader.next()) {
            if (auto obj = parser.parse(*line)) rule(*obj, b);
        }
        // A file rejected part way through gives nothing at all.
        if (!reader.accepted()) b.rollback(start);
        b.commit();
        ranges.emplace_back(start.events, b.d.events.size());
    }
    parser.trim();

    ConversationDetail& d = b.d;
    // A cost-less event already shown from an earlier file is dropped;
    // repeats within one file stay, and priced API calls always stay.
    std::vector<ConversationEvent> kept;
    kept.reserve(d.events.size());
    std::unordered_set<std::string> seen;
    for (const auto& [from, to] : ranges) {
        std::vector<std::string> fileKeys;
        for (size_t i = from; i < to; ++i) {
            ConversationEvent& e = d.events[i];
            if (!e.cost) {
                std::string key = repeatKey(e);
                if (seen.contains(key)) continue;
                fileKeys.push_back(std::move(key));
            }
            kept.push_back(std::move(e));
        }
        for (std::string& key : fileKeys) seen.insert(std::move(key));
    }

    std::stable_sort(kept.begin(), kept.end(), comesBefore);

    int turn = 0;
    bool pending = true;
    for (size_t i = 0; i < kept.size(); ++i) number(kept[i], i, turn, pending);

    d.events = std::move(kept);
    d.stats = recomputedStats(d.events, d.stats.compactions);
    return std::move(d);
}

}  // namespace vorel::ConversationDetailParser
