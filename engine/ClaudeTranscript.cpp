// Claude Code transcripts: every assistant line with a usage object is one
// billed response, counted once per de-duplication key within the file.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "engine/Pricing.h"
#include "engine/TextRules.h"
#include "engine/Transcript.h"

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
        if (stringValue(field(obj, "type")) != "text") continue;
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

// Raw-byte scans that decide, without parsing, that a line cannot change
// the record. Each answer errs only towards "may matter"; what matters is
// always decided by the full parse.
//
// JSON can spell a key or a string only literally or with \u escapes, and a
// string always ends with a literal quote. The letters of "usage" and
// "user" (u s a g e r) are U+0061 to U+0075, so an escape for any of them
// starts with \u006 or \u007 (hex digits only, no letter case to consider).

// Whether `p` starts usage", "user" (when `withUser`) or an escape that may
// spell a letter of either word. It may read 5 bytes past the line's end,
// into the padding every line has; a match there only errs towards "may
// matter".
bool spellsAt(const char* p, bool withUser) {
    if (std::memcmp(p, "usage\"", 6) == 0) return true;
    if (p[0] == '\\' && p[1] == 'u' && p[2] == '0' && p[3] == '0' && (p[4] == '6' || p[4] == '7')) return true;
    return withUser && std::memcmp(p, "\"user\"", 6) == 0;
}

// Whether the line holds any spelling spellsAt accepts. Scans from the end:
// an assistant line carries its usage after its (large) content.
bool holdsSpelling(std::string_view line, bool withUser) {
    const char* p = line.data();
    size_t n = line.size();
    // 16-byte blocks at 0, 16, ...; each reads 21 bytes, so the last one
    // reads up to 5 bytes into the padding that follows every line.
    size_t blocks = 0;
#if defined(__SSE2__)
    blocks = n / 16;
#endif
    for (size_t i = n; i-- > blocks * 16;) {
        if (spellsAt(p + i, withUser)) return true;
    }
#if defined(__SSE2__)
    const __m128i u = _mm_set1_epi8('u'), quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    for (size_t b = blocks; b-- > 0;) {
        const char* q = p + b * 16;
        __m128i at0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        __m128i at1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
        __m128i at5 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 5));
        __m128i quoteAt5 = _mm_cmpeq_epi8(at5, quote);
        // Candidates: u....", \u and (for "user") "....".
        __m128i hit = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(at0, u), quoteAt5),
                                   _mm_and_si128(_mm_cmpeq_epi8(at0, backslash), _mm_cmpeq_epi8(at1, u)));
        if (withUser) hit = _mm_or_si128(hit, _mm_and_si128(_mm_cmpeq_epi8(at0, quote), quoteAt5));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        while (mask != 0) {
            size_t i = b * 16 + static_cast<size_t>(__builtin_ctz(mask));
            if (spellsAt(p + i, withUser)) return true;
            mask &= mask - 1;
        }
    }
#endif
    return false;
}

// Whether a line can still change the record, judged from its raw bytes.
// Once the working folder is known, a line matters only when it may carry a
// "usage" key (billing) or, while the title is still missing, a "user"
// type. User lines with large tool results, which make up much of a file,
// hold neither and are passed over.
bool mayMatter(std::string_view line, const ParsedSession& s) {
    if (s.cwd.empty()) return true;
    return holdsSpelling(line, s.title.empty());
}

// The first "id":"…" value near the start of the line, when it is written
// without escapes: where the client puts a response's message id. Only a
// guess, to pick the cheaper way of reading the line.
std::optional<std::string_view> guessedMessageId(std::string_view line) {
    constexpr std::string_view kNeedle = "\"id\":\"";
    constexpr size_t kLimit = 4096;
    std::string_view head = line.substr(0, kLimit);
    const void* at = ::memmem(head.data(), head.size(), kNeedle.data(), kNeedle.size());
    if (!at) return std::nullopt;
    size_t start = static_cast<size_t>(static_cast<const char*>(at) - line.data()) + kNeedle.size();
    size_t end = line.find_first_of("\"\\", start);
    if (end == std::string_view::npos || line[end] != '"') return std::nullopt;
    return line.substr(start, end - start);
}

// Hashing by string_view, so keys are looked up without making a string.
struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using SeenKeys = std::unordered_set<std::string, KeyHash, std::equal_to<>>;

// The JSON parsers, kept from file to file on each thread so that their
// buffers are not allocated again for every file.
struct Parsers {
    JsonLineParser dom;
    simdjson::ondemand::parser lazy;
    // Lines passed over without a full parse, which is what makes reading
    // a large file cheap.
    std::uint64_t passedOver{};

    // Gives back buffers grown for long lines, after a file.
    void trim() {
        dom.trim();
        if (lazy.capacity() > JsonLineParser::kKeptLineBytes) {
            // On failure the parser allocates again for its next line.
            [[maybe_unused]] simdjson::error_code e = lazy.allocate(JsonLineParser::kKeptLineBytes);
        }
    }
};

Parsers& threadParsers() {
    thread_local Parsers parsers;
    return parsers;
}

// Whether the line is a response whose de-duplication key is already in
// `seen`, so that it cannot bill: read lazily, without building the whole
// document, and only the fields that make the key. Every object's fields
// are walked in order so that a repeated key counts by its last value, as
// in the full parse. (A line whose last message has no usage but an earlier
// one had may answer true too: it cannot bill either.) Anything unexpected
// answers false and leaves the line to the full parse. The lazy read does
// not check the whole line, so a line that is not valid JSON may answer
// true; that changes nothing, as such a line never counts.
bool isSeenRepeat(std::string_view line, const SeenKeys& seen, simdjson::ondemand::parser& parser) {
    namespace od = simdjson::ondemand;
    od::document doc;
    od::object top;
    if (parser.iterate(line.data(), line.size(), line.size() + simdjson::SIMDJSON_PADDING).get(doc) ||
        doc.get_object().get(top)) {
        return false;
    }
    // A string field's value, or nothing for any other type.
    auto stringField = [](od::value v, std::optional<std::string_view>& out) {
        od::json_type t;
        if (v.type().get(t)) return false;
        out.reset();
        if (t != od::json_type::string) return true;
        std::string_view s;
        if (v.get_string().get(s)) return false;
        out = s;
        return true;
    };
    bool billable = false;
    std::optional<std::string_view> id, requestId, uuid;
    for (auto topField : top) {
        od::field f;
        std::string_view key;
        if (std::move(topField).get(f) || f.unescaped_key().get(key)) return false;
        if (key == "requestId") {
            if (!stringField(f.value(), requestId)) return false;
        } else if (key == "uuid") {
            if (!stringField(f.value(), uuid)) return false;
        } else if (key == "message") {
            id.reset();
            od::value v = f.value();
            od::json_type t;
            if (v.type().get(t)) return false;
            if (t != od::json_type::object) continue;
            od::object message;
            if (v.get_object().get(message)) return false;
            for (auto messageField : message) {
                od::field m;
                std::string_view name;
                if (std::move(messageField).get(m) || m.unescaped_key().get(name)) return false;
                if (name == "id") {
                    if (!stringField(m.value(), id)) return false;
                } else if (name == "usage") {
                    od::json_type u;
                    if (m.value().type().get(u)) return false;
                    billable = u == od::json_type::object;
                }
            }
        }
    }
    if (!billable) return false;
    std::optional<std::string_view> responseKey = id ? id : requestId ? requestId : uuid;
    return responseKey && seen.contains(*responseKey);
}

// One file's parse: fed its lines in order. A copy continues on its own
// from where the original stopped.
class ClaudeParser final : public LineParser {
public:
    explicit ClaudeParser(const DayWindow& today) : today_(today) {}

    void read(std::string_view line) override;
    std::unique_ptr<LineParser> clone() const override { return std::make_unique<ClaudeParser>(*this); }
    const ParsedSession& session() const override { return s_; }
    ParsedSession take() { return std::move(s_); }

private:
    // Whether the line is a repeat of a response already seen. Once the
    // folder and title are known, billing is all a line can do, and a
    // repeat cannot bill: the client writes each content block of a
    // response on its own line, each with the same id and usage. The
    // guessed id picks out the likely repeats, so lines that will bill are
    // not read twice.
    bool isRepeat(std::string_view line, Parsers& parsers) {
        if (s_.cwd.empty() || s_.title.empty()) return false;
        auto guess = guessedMessageId(line);
        if (!guess || !seen_.contains(*guess)) return false;
        return isSeenRepeat(line, seen_, parsers.lazy);
    }

    DayWindow today_;
    ParsedSession s_;
    SeenKeys seen_;
    std::string pricedModel_;
    ModelPricing rates_ = Pricing::pricing("");
    bool knownModel_{};
};

void ClaudeParser::read(std::string_view line) {
    ParsedSession& s = s_;
    Parsers& parsers = threadParsers();
    if (!mayMatter(line, s) || isRepeat(line, parsers)) {
        ++parsers.passedOver;
        return;
    }
    auto obj = parsers.dom.parse(line);
    if (!obj) return;
    ClaudeLine l(*obj);

    if (s.cwd.empty()) s.cwd = stringValue(l.cwd).value_or(std::string_view{});

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
    if (!seen_.insert(key).second) return;

    std::string_view model = stringValue(m.model).value_or(std::string_view{});
    if (model.empty() || model == "<synthetic>") return;

    if (model != pricedModel_) {
        pricedModel_ = model;
        rates_ = Pricing::pricing(model);
        knownModel_ = Pricing::isKnown(model);
    }
    if (!knownModel_) s.hasUnknownModel = true;

    const TokenCounts n = claudeUsageCounts(*usage);
    const double cost = Pricing::cost(n, rates_, SourceKind::claudeCode).total;

    BilledTurn turn{std::move(key), std::string(model), n.input, n.output, n.cacheRead, n.cacheWrite5m,
                    n.cacheWrite1h, cost, std::nullopt};
    auto entry = s.perModel.find(model);
    if (entry == s.perModel.end()) entry = s.perModel.emplace(std::string(model), ModelUsage{}).first;
    entry->second.add(turn.usage());
    s.totalCost += cost;

    if (auto ts = stringValue(l.timestamp)) turn.date = parseDate(*ts);
    if (turn.date) {
        s.lastActivity = std::max(s.lastActivity, *turn.date);
        s.firstActivity = std::min(s.firstActivity, *turn.date);
        if (today_.contains(*turn.date)) {
            s.todayCost += cost;
            s.hadTodayActivity = true;
        }
    }
    s.turns.push_back(std::move(turn));
}

}  // namespace

ParsedSession parseClaudeText(const TranscriptText& text, const DayWindow& today) {
    ClaudeParser parser(today);
    text.forEachLine([&](std::string_view line) { parser.read(line); });
    threadParsers().trim();
    return parser.take();
}

ParsedSession parseClaude(const std::string& path, const DayWindow& today) {
    ClaudeParser parser(today);
    bool accepted = forEachFileLine(path, [&](std::string_view line) { parser.read(line); });
    threadParsers().trim();
    return accepted ? parser.take() : ParsedSession{};
}

ParsedSession parseClaude(const std::string& path) { return parseClaude(path, clock().today()); }

std::unique_ptr<LineParser> makeClaudeParser(const DayWindow& today) { return std::make_unique<ClaudeParser>(today); }

void trimClaudeThreadParsers() { threadParsers().trim(); }

std::uint64_t claudeLinesPassedOver() { return threadParsers().passedOver; }

}  // namespace vorel::Transcript
