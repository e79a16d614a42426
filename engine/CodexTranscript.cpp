// Codex rollout transcripts: every token_count event with a last-call usage
// is one billed call, counted once per set of running totals within the file.

#include <algorithm>
#include <charconv>
#include <unordered_set>

#include "engine/Pricing.h"
#include "engine/TextRules.h"
#include "engine/Transcript.h"

namespace vorel::Transcript {

namespace dom = simdjson::dom;

namespace {

std::optional<std::string_view> cleanedCodexText(std::string_view s) {
    s = text::trimmed(s);
    if (s.empty() || s.starts_with("<environment_context>")) return std::nullopt;
    return s;
}

// The user text a payload offers as a title.
std::optional<std::string_view> codexUserText(dom::object payload) {
    auto type = stringValue(field(payload, "type"));
    if (type == "user_message") {
        if (auto message = stringValue(field(payload, "message"))) return cleanedCodexText(*message);
    }
    if (type != "message" || stringValue(field(payload, "role")) != "user") return std::nullopt;
    dom::array parts;
    JsonValue content = field(payload, "content");
    if (!content || content->get_array().get(parts)) return std::nullopt;
    for (dom::element part : parts) {
        if (!part.is_object()) return std::nullopt;
    }
    for (dom::element part : parts) {
        dom::object obj = part.get_object().value_unsafe();
        if (stringValue(field(obj, "type")) != "input_text") continue;
        if (auto t = stringValue(field(obj, "text"))) {
            if (auto cleaned = cleanedCodexText(*t)) return cleaned;
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> nonEmptyString(const JsonValue& v) {
    std::string_view s = stringValue(v).value_or(std::string_view{});
    if (s.empty()) return std::nullopt;
    return s;
}


// The JSON parser, kept from file to file on each thread so that its buffers
// are not allocated again for every file.
JsonLineParser& threadParser() {
    thread_local JsonLineParser parser;
    return parser;
}

// One file's parse: fed its lines in order. A copy continues on its own
// from where the original stopped.
class CodexParser final : public LineParser {
public:
    explicit CodexParser(const DayWindow& today) : today_(today) {}

    void read(std::string_view line) override;
    std::unique_ptr<LineParser> clone() const override { return std::make_unique<CodexParser>(*this); }
    const ParsedSession& session() const override { return s_; }
    ParsedSession take() { return std::move(s_); }

private:
    DayWindow today_;
    ParsedSession s_;
    std::unordered_set<std::string> seen_;
    std::string currentModel_;
};

void CodexParser::read(std::string_view line) {
    auto obj = threadParser().parse(line);
    if (!obj) return;

    JsonValue typeV, tsV, payloadV;
    for (dom::key_value_pair kv : *obj) {
        if (kv.key == "type") typeV = kv.value;
        else if (kv.key == "timestamp") tsV = kv.value;
        else if (kv.key == "payload") payloadV = kv.value;
    }

    // Every dated line moves the activity dates, billed or not.
    std::optional<TimePoint> date;
    if (auto ts = stringValue(tsV)) date = parseDate(*ts);
    if (date) {
        s_.lastActivity = std::max(s_.lastActivity, *date);
        s_.firstActivity = std::min(s_.firstActivity, *date);
    }

    auto payload = objectValue(payloadV);
    if (!payload) return;
    std::string_view type = stringValue(typeV).value_or(std::string_view{});

    if (type == "session_meta") {
        if (s_.cwd.empty()) {
            if (auto cwd = nonEmptyString(field(*payload, "cwd"))) s_.cwd = *cwd;
        }
        if (currentModel_.empty()) {
            if (auto model = stringValue(field(*payload, "model"))) currentModel_ = *model;
        }
        if (auto id = nonEmptyString(field(*payload, "id"))) s_.sourceThreadId = *id;
        if (auto parent = nonEmptyString(field(*payload, "parent_thread_id"))) s_.parentThreadId = *parent;
        if (stringValue(field(*payload, "thread_source")) == "subagent") {
            s_.isSubagent = true;
        }
        if (auto nick = nonEmptyString(field(*payload, "agent_nickname"))) s_.subagentName = *nick;
        if (auto role = nonEmptyString(field(*payload, "agent_role"))) s_.subagentRole = *role;
        if (s_.parentThreadId.empty()) {
            // source.subagent.thread_spawn.parent_thread_id
            auto src = objectValue(field(*payload, "source"));
            auto sub = src ? objectValue(field(*src, "subagent")) : std::nullopt;
            auto spawn = sub ? objectValue(field(*sub, "thread_spawn")) : std::nullopt;
            if (spawn) {
                if (auto parent = nonEmptyString(field(*spawn, "parent_thread_id"))) s_.parentThreadId = *parent;
            }
        }
    } else if (type == "turn_context") {
        if (s_.cwd.empty()) {
            if (auto cwd = nonEmptyString(field(*payload, "cwd"))) s_.cwd = *cwd;
        }
        if (auto model = nonEmptyString(field(*payload, "model"))) currentModel_ = *model;
    }

    if (s_.title.empty()) {
        if (auto t = codexUserText(*payload)) s_.title = *t;
    }

    if (type != "event_msg") return;
    if (stringValue(field(*payload, "type")) != "token_count") return;
    auto info = objectValue(field(*payload, "info"));
    if (!info) return;
    auto last = objectValue(field(*info, "last_token_usage"));
    if (!last) return;

    auto totals = objectValue(field(*info, "total_token_usage"));
    std::string key = totals ? codexTotalsKey(*totals) : randomUUID();
    if (!seen_.insert(key).second) return;

    std::string model = currentModel_.empty() ? std::string(kUnknownOpenAIModel) : currentModel_;
    const CodexCallUsage usage = codexCallUsage(*last);
    const ModelPricing rates = Pricing::pricing(model).effective(usage.input);
    if (!Pricing::isKnown(model)) s_.hasUnknownModel = true;
    const TokenCounts& n = usage.billed;
    const double cost = Pricing::cost(n, rates, SourceKind::codex).total;

    BilledTurn turn{std::move(key), model, n.input, n.output, n.cacheRead, 0, 0, cost, date};
    s_.perModel[model].add(turn.usage());
    s_.totalCost += cost;
    if (today_.contains(date.value_or(kDistantPast))) {
        s_.todayCost += cost;
        s_.hadTodayActivity = true;
    }
    s_.turns.push_back(std::move(turn));
}

}  // namespace

ParsedSession parseCodexText(const TranscriptText& text, const DayWindow& today) {
    CodexParser parser(today);
    text.forEachLine([&](std::string_view line) { parser.read(line); });
    threadParser().trim();
    return parser.take();
}

ParsedSession parseCodex(const std::string& path, const DayWindow& today) {
    CodexParser parser(today);
    bool accepted = forEachFileLine(path, [&](std::string_view line) { parser.read(line); });
    threadParser().trim();
    return accepted ? parser.take() : ParsedSession{};
}

ParsedSession parseCodex(const std::string& path) { return parseCodex(path, clock().today()); }

std::unique_ptr<LineParser> makeCodexParser(const DayWindow& today) { return std::make_unique<CodexParser>(today); }

void trimCodexThreadParsers() { threadParser().trim(); }

}  // namespace vorel::Transcript
