// Codex rollout lines as timeline events: lifecycle notes, prompts and
// injected context, responses, reasoning, tool calls and outputs, web
// searches, patches, and priced API calls, one per set of running totals.

#include <algorithm>
#include <charconv>

#include "detail/ConversationDetailParser.h"
#include "detail/DetailRecords.h"
#include "engine/Pricing.h"
#include "engine/Saturating.h"
#include "engine/TextRules.h"
#include "engine/Transcript.h"

namespace vorel::ConversationDetailParser {

namespace dom = simdjson::dom;
using Transcript::field;
using Transcript::JsonValue;
using Transcript::objectValue;

namespace {

std::optional<std::string_view> nonEmpty(const JsonValue& v) {
    auto s = Transcript::stringValue(v);
    if (s && s->empty()) return std::nullopt;
    return s;
}

void appendDecimal(std::string& out, std::int64_t n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

// The text parts of a message item, each on a line of its own (nothing
// unless every part is an object), written up to a budget.
bool writeMessageText(dom::object item, std::string& out, size_t budget) {
    dom::array parts;
    JsonValue content = field(item, "content");
    if (!content || content->get_array().get(parts)) return true;
    for (dom::element part : parts) {
        if (!part.is_object()) return true;
    }
    for (dom::element part : parts) {
        dom::object obj = part.get_object().value_unsafe();
        auto text = Transcript::stringValue(field(obj, "text"));
        if (!text) text = Transcript::stringValue(field(obj, "input_text"));
        if (!text) continue;
        // A line break before every part: the text is always collapsed, so
        // the one before the first shows nowhere.
        out += '\n';
        if (!appendUpTo(*text, out, budget)) return false;
    }
    return true;
}

// The line shown for session metadata: "key: value" for each key present,
// joined by " \u00b7 ", written up to a budget.
bool writeMetaLine(dom::object payload, std::string& out, size_t budget) {
    static constexpr std::string_view kKeys[] = {"model", "cwd", "thread_source", "agent_nickname", "agent_role"};
    bool first = true;
    for (std::string_view key : kKeys) {
        JsonValue value = field(payload, key);
        if (!value) continue;
        if (!first) out += " \u00b7 ";
        first = false;
        out += key;
        out += ": ";
        // Each value is the transcript's, isolated from the keys and values
        // around it; each may take the whole budget.
        std::string piece;
        const bool whole = writeStringValue(value, piece, budget);
        out += text::isolated(piece);
        if (!whole) return false;
    }
    return true;
}


void addLifecycle(std::optional<TimePoint> timestamp, std::string title, std::string detail, DetailBuilder& into) {
    into.add(timestamp, ConversationEventKind::lifecycle, std::move(title), std::move(detail));
}

std::string cleanMetaLine(dom::object payload) {
    return cleanWritten(260, [&](std::string& out, size_t budget) { return writeMetaLine(payload, out, budget); });
}

void parseResponseItem(dom::object payload, std::string_view kind, std::optional<TimePoint> timestamp,
                       DetailBuilder& into) {
    auto messageText = [&](std::string& out, size_t budget) { return writeMessageText(payload, out, budget); };
    if (kind == "message") {
        auto role = Transcript::stringValue(field(payload, "role"));
        if (role && *role == "user") {
            appendUserText(enoughFor(300, messageText), timestamp, false, into);
        } else {
            into.add(timestamp, ConversationEventKind::assistant, "Response", cleanWritten(300, messageText));
        }
    } else if (kind == "reasoning") {
        std::string text = stringValue(field(payload, "summary"), 300);
        if (text.empty() && field(payload, "encrypted_content")) {
            into.add(timestamp, ConversationEventKind::reasoning, "Reasoning",
                     "Encrypted reasoning content stored in transcript.");
        } else {
            into.add(timestamp, ConversationEventKind::reasoning, "Reasoning", clean(text, 300));
        }
    } else if (kind == "function_call" || kind == "custom_tool_call" || kind == "tool_search_call" ||
               kind == "web_search_call") {
        bool search = kind == "web_search_call";
        auto name = Transcript::stringValue(field(payload, "name"));
        JsonValue arguments = field(payload, "arguments");
        if (!arguments) arguments = field(payload, "input");
        if (!arguments) arguments = field(payload, "query");
        into.add(timestamp, search ? ConversationEventKind::webSearch : ConversationEventKind::toolCall,
                 std::string(name.value_or(search ? std::string_view("web_search_call") : kind)),
                 cleanValue(arguments, 300));
    } else if (kind == "function_call_output" || kind == "custom_tool_call_output" || kind == "tool_search_output") {
        into.add(timestamp, ConversationEventKind::toolResult, std::string(kind), cleanValue(field(payload, "output"), 300));
    }
}

}  // namespace

void parseCodex(dom::object obj, DetailBuilder& into) {
    JsonValue typeValue, timestampValue, payloadValue;
    for (dom::key_value_pair kv : obj) {
        if (kv.key == "type") typeValue = kv.value;
        else if (kv.key == "timestamp") timestampValue = kv.value;
        else if (kv.key == "payload") payloadValue = kv.value;
    }
    std::optional<TimePoint> timestamp = date(timestampValue);
    std::string_view type = Transcript::stringValue(typeValue).value_or(std::string_view{});
    auto payload = objectValue(payloadValue);

    if (type == "compacted") {
        into.d.stats.compactions += 1;
        if (payload) {
            if (auto message = nonEmpty(field(*payload, "message"))) into.d.summaries.push_back(clean(*message, 500));
        }
        addLifecycle(timestamp, "Context compacted", "Previous transcript history was compacted.", into);
        return;
    }
    if (!payload) return;
    std::string_view kind = Transcript::stringValue(field(*payload, "type")).value_or(std::string_view{});

    if (type == "session_meta") {
        if (auto title = nonEmpty(field(*payload, "title"))) into.d.generatedTitle = *title;
        if (auto model = nonEmpty(field(*payload, "model"))) into.d.currentModel = *model;
        addLifecycle(timestamp, "Session started", cleanMetaLine(*payload), into);
    } else if (type == "turn_context") {
        if (auto model = nonEmpty(field(*payload, "model"))) into.d.currentModel = *model;
        addLifecycle(timestamp, "Turn context", cleanMetaLine(*payload), into);
    } else if (type == "event_msg") {
        parseCodexEvent(*payloadValue, timestamp, into);
    } else if (type == "response_item") {
        parseResponseItem(*payload, kind, timestamp, into);
    }
}

void parseCodexEvent(dom::element whole, std::optional<TimePoint> timestamp, DetailBuilder& into) {
    dom::object payload;
    if (whole.get_object().get(payload)) return;
    std::string_view type = Transcript::stringValue(field(payload, "type")).value_or(std::string_view{});
    if (type == "token_count") {
        JsonValue infoValue = field(payload, "info");
        auto info = objectValue(infoValue);
        auto totals = info ? objectValue(field(*info, "total_token_usage")) : std::nullopt;
        if (!totals) {
            into.add(timestamp, ConversationEventKind::token, "Token usage", cleanValue(infoValue, 260));
            return;
        }
        // The same running totals written again are the same call.
        if (!into.rememberUsage(Transcript::codexTotalsKey(*totals))) return;
        CodexCostItem item = codexCostItem(payload, into.d.currentModel);
        if (item.cost) into.d.itemizedCost += *item.cost;
        ConversationEvent e;
        e.timestamp = timestamp;
        e.kind = ConversationEventKind::token;
        e.title = "API call";
        e.detail = std::move(item.detail);
        e.cost = item.cost;
        e.tokens = item.tokens;
        e.freshInputCost = item.inputCost;
        e.cacheCost = item.cacheCost;
        e.outputCost = item.outputCost;
        into.add(std::move(e));
    } else if (type == "web_search_end") {
        into.add(timestamp, ConversationEventKind::webSearch, "Search completed", cleanValue(whole, 260));
    } else if (type == "patch_apply_end") {
        into.add(timestamp, ConversationEventKind::patch, "Patch applied", cleanValue(whole, 260));
    } else if (type == "context_compacted") {
        into.d.stats.compactions += 1;
        addLifecycle(timestamp, "Context compacted", "", into);
    } else if (type == "task_started" || type == "task_complete") {
        std::string title(type);
        std::replace(title.begin(), title.end(), '_', ' ');
        addLifecycle(timestamp, std::move(title), cleanValue(whole, 260), into);
    }
}

CodexCostItem codexCostItem(dom::object payload, std::string_view model) {
    CodexCostItem item;
    JsonValue infoValue = field(payload, "info");
    auto info = objectValue(infoValue);
    auto last = info ? objectValue(field(*info, "last_token_usage")) : std::nullopt;
    if (!last) {
        item.detail = cleanValue(infoValue, 260);
        return item;
    }
    if (model.empty()) model = Transcript::kUnknownOpenAIModel;
    const Transcript::CodexCallUsage usage = Transcript::codexCallUsage(*last);
    const TokenCounts& n = usage.billed;
    const ResponseCost cost = Pricing::cost(n, Pricing::pricing(model).effective(usage.input), SourceKind::codex);
    item.inputCost = cost.input;
    item.cacheCost = cost.cache();
    item.outputCost = cost.output;

    item.detail.reserve(96);
    // The model name is the transcript's: isolated, so that its direction
    // cannot reorder the counts after it.
    item.detail += "model ";
    item.detail += text::isolated(model);
    item.detail += " \u00b7 input ";
    appendDecimal(item.detail, n.input);
    item.detail += " \u00b7 cached ";
    appendDecimal(item.detail, n.cacheRead);
    item.detail += " \u00b7 output ";
    appendDecimal(item.detail, n.output);
    if (cost.total > 0) item.cost = cost.total;
    item.tokens = satAdd(satAdd(n.input, n.cacheRead), n.output);
    return item;
}

}  // namespace vorel::ConversationDetailParser
