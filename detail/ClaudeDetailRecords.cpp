// Claude Code lines as timeline events: prompts and injected context,
// responses, thinking, tool calls and results, system notes, and one priced
// "API call" per response, however many lines the client spread it over.

#include <charconv>

#include "detail/ConversationDetailParser.h"
#include "detail/DetailRecords.h"
#include "engine/Pricing.h"
#include "engine/Saturating.h"
#include "engine/TextRules.h"

namespace vorel::ConversationDetailParser {

namespace dom = simdjson::dom;
using Transcript::field;
using Transcript::JsonValue;
using Transcript::objectValue;

namespace {

// The top-level fields of a line, in one pass; a repeated key counts by its
// last value.
struct ClaudeLine {
    JsonValue type, timestamp, aiTitle, subtype, content, isMeta, message, requestId, uuid;

    explicit ClaudeLine(dom::object obj) {
        for (dom::key_value_pair kv : obj) {
            std::string_view k = kv.key;
            if (k == "type") type = kv.value;
            else if (k == "timestamp") timestamp = kv.value;
            else if (k == "message") message = kv.value;
            else if (k == "uuid") uuid = kv.value;
            else if (k == "requestId") requestId = kv.value;
            else if (k == "isMeta") isMeta = kv.value;
            else if (k == "subtype") subtype = kv.value;
            else if (k == "content") content = kv.value;
            else if (k == "aiTitle") aiTitle = kv.value;
        }
    }
};

std::optional<std::string_view> nonEmpty(const JsonValue& v) {
    auto s = Transcript::stringValue(v);
    if (s && s->empty()) return std::nullopt;
    return s;
}

// The elements of an array whose elements are all objects.
std::optional<dom::array> arrayOfObjects(const JsonValue& v) {
    dom::array items;
    if (!v || v->get_array().get(items)) return std::nullopt;
    for (dom::element item : items) {
        if (!item.is_object()) return std::nullopt;
    }
    return items;
}

// stringValue(value), or as much of it as a user text cut at 300
// characters needs: once that cut is settled, whether the text is blank and
// which marker it begins with are settled too.
std::string userTextOf(const JsonValue& value) {
    return enoughFor(300, [&](std::string& out, size_t budget) { return writeStringValue(value, out, budget); });
}

// How user-turn text that is not a prompt is titled, by its first marker.
std::string_view injectedTitle(std::string_view text) {
    static constexpr std::pair<std::string_view, std::string_view> kMarkers[] = {
        {"This session is being continued", "Session continuation"},
        {"[Request interrupted", "Interruption"},
        {"<task-notification", "Task notification"},
        {"<command", "Command"},
        {"<local-command", "Command"},
        {"Caveat:", "Command"},
        {"<bash-", "Shell output"},
        {"<system-reminder", "System reminder"},
    };
    for (const auto& [prefix, title] : kMarkers) {
        if (text.starts_with(prefix)) return title;
    }
    return "Injected context";
}

void appendDecimal(std::string& out, std::int64_t n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

}  // namespace

void parseClaude(dom::object obj, DetailBuilder& into) {
    ClaudeLine line(obj);
    std::optional<TimePoint> timestamp = date(line.timestamp);
    std::string_view type = Transcript::stringValue(line.type).value_or(std::string_view{});

    if (type == "ai-title") {
        if (auto title = nonEmpty(line.aiTitle)) into.d.generatedTitle = *title;
        return;
    }
    if (type == "system") {
        auto subtype = Transcript::stringValue(line.subtype);
        auto content = nonEmpty(line.content);
        if (subtype && *subtype == "away_summary" && content) {
            into.d.summaries.push_back(clean(*content, 500));
            into.add(timestamp, ConversationEventKind::system, "Away summary", clean(*content, 300));
        } else {
            into.add(timestamp, ConversationEventKind::system, std::string(subtype.value_or("System event")), "");
        }
        return;
    }
    auto message = objectValue(line.message);
    if (!message) return;
    if (type == "user") {
        bool isMeta = false;
        if (bool flag; line.isMeta && !line.isMeta->get_bool().get(flag)) isMeta = flag;
        parseClaudeUser(*message, timestamp, isMeta, into);
    } else if (type == "assistant") {
        std::optional<std::string_view> key = Transcript::stringValue(field(*message, "id"));
        if (!key) key = Transcript::stringValue(line.requestId);
        if (!key) key = Transcript::stringValue(line.uuid);
        addClaudeCostEvent(*message, timestamp, key, into);
        parseClaudeAssistant(*message, timestamp, into);
    }
}

void parseClaudeUser(dom::object message, std::optional<TimePoint> timestamp, bool isMeta, DetailBuilder& into) {
    JsonValue content = field(message, "content");
    if (auto text = Transcript::stringValue(content)) {
        appendUserText(*text, timestamp, isMeta, into);
        return;
    }
    auto blocks = arrayOfObjects(content);
    if (!blocks) return;
    for (dom::element block : *blocks) {
        dom::object b = block.get_object().value_unsafe();
        auto type = Transcript::stringValue(field(b, "type"));
        if (!type) continue;
        if (*type == "tool_result") {
            into.add(timestamp, ConversationEventKind::toolResult, "Tool result", cleanValue(field(b, "content"), 300));
        } else if (*type == "text") {
            appendUserText(userTextOf(field(b, "text")), timestamp, isMeta, into);
        }
    }
}

void appendUserText(std::string_view text, std::optional<TimePoint> timestamp, bool isMeta, DetailBuilder& into) {
    std::string_view trimmed = text::trimmed(text);
    if (trimmed.empty()) return;
    bool marked = trimmed.starts_with("<") || trimmed.starts_with("Caveat:") ||
                  trimmed.starts_with("This session is being continued") || trimmed.starts_with("[Request interrupted");
    if (!isMeta && !marked) {
        into.add(timestamp, ConversationEventKind::user, "Prompt", clean(trimmed, 300));
    } else {
        into.add(timestamp, ConversationEventKind::injected, std::string(injectedTitle(trimmed)), clean(trimmed, 300));
    }
}

void parseClaudeAssistant(dom::object message, std::optional<TimePoint> timestamp, DetailBuilder& into) {
    auto blocks = arrayOfObjects(field(message, "content"));
    if (!blocks) return;
    for (dom::element block : *blocks) {
        dom::object b = block.get_object().value_unsafe();
        auto type = Transcript::stringValue(field(b, "type"));
        if (!type) continue;
        if (*type == "text") {
            into.add(timestamp, ConversationEventKind::assistant, "Response", cleanValue(field(b, "text"), 300));
        } else if (*type == "thinking") {
            into.add(timestamp, ConversationEventKind::reasoning, "Thinking block", cleanValue(field(b, "thinking"), 220));
        } else if (*type == "tool_use") {
            auto name = Transcript::stringValue(field(b, "name"));
            into.add(timestamp, ConversationEventKind::toolCall, std::string(name.value_or("Tool")),
                     cleanValue(field(b, "input"), 300));
        }
    }
}

void addClaudeCostEvent(dom::object message, std::optional<TimePoint> timestamp,
                        std::optional<std::string_view> dedupeKey, DetailBuilder& into) {
    JsonValue usageValue, modelValue;
    for (dom::key_value_pair kv : message) {
        if (kv.key == "usage") usageValue = kv.value;
        else if (kv.key == "model") modelValue = kv.value;
    }
    auto usage = objectValue(usageValue);
    auto model = Transcript::stringValue(modelValue);
    if (!usage || !model || model->empty() || *model == "<synthetic>") return;

    // Without a key the response can never repeat.
    std::string key = dedupeKey ? std::string(*dedupeKey) : Transcript::randomUUID();
    if (auto position = into.claudeEvent(key)) {
        // The same response written again: it keeps its first priced line
        // and takes the latest time.
        const auto& earlier = into.d.events[static_cast<size_t>(*position)].timestamp;
        if (timestamp && *timestamp > earlier.value_or(kDistantPast)) into.moveTimestamp(*position, *timestamp);
        return;
    }

    const TokenCounts n = Transcript::claudeUsageCounts(*usage);
    const ResponseCost cost = Pricing::cost(n, Pricing::pricing(*model), SourceKind::claudeCode);
    // A response that prices to nothing leaves its key free for a later line.
    if (!(cost.total > 0)) return;

    into.d.itemizedCost += cost.total;
    into.recordClaudeKey(std::move(key), static_cast<int>(into.d.events.size()));

    const std::int64_t writes = satAdd(n.cacheWrite5m, n.cacheWrite1h);
    std::string detail;
    detail.reserve(120);
    // The model name is the transcript's: isolated, so that its direction
    // cannot reorder the counts after it.
    detail += "model ";
    detail += text::isolated(*model);
    detail += " \u00b7 input ";
    appendDecimal(detail, n.input);
    detail += " \u00b7 output ";
    appendDecimal(detail, n.output);
    detail += " \u00b7 cache read ";
    appendDecimal(detail, n.cacheRead);
    detail += " \u00b7 cache write ";
    appendDecimal(detail, writes);

    ConversationEvent e;
    e.timestamp = timestamp;
    e.kind = ConversationEventKind::token;
    e.title = "API call";
    e.detail = std::move(detail);
    e.cost = cost.total;
    e.tokens = satAdd(satAdd(satAdd(satAdd(n.input, n.output), n.cacheRead), n.cacheWrite5m), n.cacheWrite1h);
    e.freshInputCost = cost.input;
    e.cacheCost = cost.cache();
    e.outputCost = cost.output;
    into.add(std::move(e));
}

}  // namespace vorel::ConversationDetailParser
