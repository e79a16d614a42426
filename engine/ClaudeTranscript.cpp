// Claude Code transcripts: every assistant line with a usage object is one
// billed response, counted once per de-duplication key within the file.

#include <cstring>
#include <unordered_set>

#include "Pricing.h"
#include "TextRules.h"
#include "Transcript.h"

namespace vorel::Transcript {

namespace dom = simdjson::dom;

namespace {

// The text a user line's content offers as a title, cleaned: trimmed, and
// nothing when empty or when it begins with "<" or "Caveat:" (command and
// system text that the client writes in the user's name).
std::optional<std::string_view> cleanedUserText(std::string_view s) {
    s = text::trimmed(s);
    if (s.empty() || s.starts_with("<") || s.starts_with("Caveat:")) return std::nullopt;
    return s;
}

std::optional<std::string_view> userText(const JsonValue& content) {
    if (!content) return std::nullopt;
    dom::element c = *content;
    if (auto s = stringValue(content)) return cleanedUserText(*s);
    dom::array parts;
    if (c.get_array().get(parts)) return std::nullopt;
    for (dom::element part : parts) {
        if (!part.is_object()) return std::nullopt;
    }
    for (dom::element part : parts) {
        dom::object obj = part.get_object().value_unsafe();
        if (obj.size() == 0) continue;
        auto type = stringValue(field(obj, "type"));
        if (!type || *type != "text") continue;
        if (auto t = stringValue(field(obj, "text"))) {
            if (auto cleaned = cleanedUserText(*t)) return cleaned;
        }
    }
    return std::nullopt;
}

// The top-level fields of one line that the engine reads. One pass over the
// object; a repeated key counts by its last value.
struct ClaudeLine {
    JsonValue type;
    JsonValue cwd;
    JsonValue timestamp;
    JsonValue requestId;
    JsonValue uuid;
    JsonValue message;

    explicit ClaudeLine(dom::object obj) {
        for (dom::key_value_pair kv : obj) {
            std::string_view k = kv.key;
            switch (k.size()) {
                case 3:
                    if (k == "cwd") cwd = kv.value;
                    break;
                case 4:
                    if (k == "type") type = kv.value;
                    else if (k == "uuid") uuid = kv.value;
                    break;
                case 7:
                    if (k == "message") message = kv.value;
                    break;
                case 9:
                    if (k == "timestamp") timestamp = kv.value;
                    else if (k == "requestId") requestId = kv.value;
                    break;
                default: break;
            }
        }
    }
};

struct ClaudeMessage {
    JsonValue id;
    JsonValue model;
    JsonValue content;
    JsonValue usage;

    explicit ClaudeMessage(dom::object obj) {
        for (dom::key_value_pair kv : obj) {
            std::string_view k = kv.key;
            if (k == "id") id = kv.value;
            else if (k == "model") model = kv.value;
            else if (k == "content") content = kv.value;
            else if (k == "usage") usage = kv.value;
        }
    }
};

struct ClaudeCounts {
    std::int64_t input = 0, output = 0, cacheRead = 0, write5m = 0, write1h = 0;

    explicit ClaudeCounts(dom::object usage) {
        JsonValue cacheCreation, cacheCreationTotal;
        JsonValue in, out, read;
        for (dom::key_value_pair kv : usage) {
            std::string_view k = kv.key;
            if (k == "input_tokens") in = kv.value;
            else if (k == "output_tokens") out = kv.value;
            else if (k == "cache_read_input_tokens") read = kv.value;
            else if (k == "cache_creation") cacheCreation = kv.value;
            else if (k == "cache_creation_input_tokens") cacheCreationTotal = kv.value;
        }
        input = intValue(in);
        output = intValue(out);
        cacheRead = intValue(read);
        // The split by lifetime wins over the total whenever it is there.
        if (auto split = objectValue(cacheCreation)) {
            write5m = intValue(field(*split, "ephemeral_5m_input_tokens"));
            write1h = intValue(field(*split, "ephemeral_1h_input_tokens"));
        } else {
            write5m = intValue(cacheCreationTotal);
        }
    }
};

bool contains(std::string_view hay, std::string_view needle) {
    return ::memmem(hay.data(), hay.size(), needle.data(), needle.size()) != nullptr;
}

// Whether a line can still change the record, judged from its raw bytes
// without parsing it. Once the working folder is known, a line matters only
// when it may carry a "usage" key (billing) or, while the title is still
// missing, a "user" type. JSON can spell those words only literally or with
// \u escapes, so a line holding neither spelling cannot matter and is
// passed over: user lines with large tool results make up most of a file.
bool mayMatter(std::string_view line, const ParsedSession& s) {
    if (s.cwd.empty()) return true;
    if (contains(line, "usage\"")) return true;
    if (s.title.empty() && contains(line, "\"user\"")) return true;
    return contains(line, "\\u");
}

}  // namespace

ParsedSession parseClaudeText(const TranscriptText& text, const DayWindow& today) {
    ParsedSession s;
    std::unordered_set<std::string> seen;
    JsonLineParser json;
    std::string pricedModel;
    ModelPricing rates = Pricing::pricing("");
    bool knownModel = false;

    text.forEachLine([&](std::string_view line) {
        if (!mayMatter(line, s)) return;
        auto obj = json.parse(line);
        if (!obj) return;
        ClaudeLine l(*obj);

        if (s.cwd.empty()) {
            if (auto cwd = stringValue(l.cwd); cwd && !cwd->empty()) s.cwd = *cwd;
        }

        auto type = stringValue(l.type);
        if (!type) return;
        auto message = objectValue(l.message);
        if (!message) return;

        if (*type == "user") {
            if (s.title.empty()) {
                if (auto t = userText(field(*message, "content"))) s.title = *t;
            }
            return;
        }
        if (*type != "assistant") return;

        ClaudeMessage m(*message);
        auto usage = objectValue(m.usage);
        if (!usage) return;

        std::string key;
        if (auto id = stringValue(m.id)) key = *id;
        else if (auto req = stringValue(l.requestId)) key = *req;
        else if (auto uuid = stringValue(l.uuid)) key = *uuid;
        else key = randomUUID();
        // The key is taken before the model checks: a repeat of an unbilled
        // line stays unbilled.
        if (!seen.insert(key).second) return;

        std::string_view model = stringValue(m.model).value_or(std::string_view{});
        if (model.empty() || model == "<synthetic>") return;

        if (model != pricedModel) {
            pricedModel = model;
            rates = Pricing::pricing(model);
            knownModel = Pricing::isKnown(model);
        }
        if (!knownModel) s.hasUnknownModel = true;

        ClaudeCounts n(*usage);
        double cost = static_cast<double>(n.input) * rates.inputPerMTok / 1000000.0 +
                      static_cast<double>(n.output) * rates.outputPerMTok / 1000000.0 +
                      static_cast<double>(n.cacheRead) * rates.cacheReadPerMTok() / 1000000.0 +
                      static_cast<double>(n.write5m) * rates.cacheWrite5mPerMTok() / 1000000.0 +
                      static_cast<double>(n.write1h) * rates.cacheWrite1hPerMTok() / 1000000.0;

        BilledTurn turn{std::move(key), std::string(model), n.input, n.output, n.cacheRead, n.write5m, n.write1h,
                        cost, std::nullopt};
        auto entry = s.perModel.find(model);
        if (entry == s.perModel.end()) entry = s.perModel.emplace(std::string(model), ModelUsage{}).first;
        entry->second.add(turn.usage());
        s.totalCost += cost;

        if (auto ts = stringValue(l.timestamp)) turn.date = parseDate(*ts);
        if (turn.date) {
            if (*turn.date > s.lastActivity) s.lastActivity = *turn.date;
            if (*turn.date < s.firstActivity) s.firstActivity = *turn.date;
            if (today.contains(*turn.date)) {
                s.todayCost += cost;
                s.hadTodayActivity = true;
            }
        }
        s.turns.push_back(std::move(turn));
    });
    return s;
}

ParsedSession parseClaude(const std::string& path, const DayWindow& today) {
    auto text = readTranscriptFile(path);
    return text ? parseClaudeText(*text, today) : ParsedSession{};
}

ParsedSession parseClaude(const std::string& path) { return parseClaude(path, clock().today()); }

}  // namespace vorel::Transcript
