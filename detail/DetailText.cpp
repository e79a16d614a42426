// The text conversions of the detail reader: white-space collapsing with a
// cut by user-perceived characters, and JSON values as display text. Both
// stop as soon as the result is settled, so the size of a tool's output
// does not matter.

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>

#include "detail/ConversationDetailParser.h"
#include "detail/DetailRecords.h"
#include "engine/TextRules.h"

namespace vorel::ConversationDetailParser {

namespace dom = simdjson::dom;

namespace {

// ---- Collapsing ----

// The code point at `i` (advancing `i` past it); U+FFFD for an ill-formed
// sequence, whose longest start that could still have begun a valid one is
// taken as one (overlong forms and surrogates are ill-formed).
char32_t nextCodePoint(std::string_view s, size_t& i) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
    UChar32 c;
    U8_NEXT_OR_FFFD(bytes, i, s.size(), c);
    return static_cast<char32_t>(c);
}

bool isAsciiSpace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Collapses more of `text` (from `in` on) into `joined` until it holds at
// least `want` bytes or the text ends. `gap` carries white space seen but
// not yet written, which becomes one space before the next word.
void collapse(std::string_view text, size_t& in, std::string& joined, bool& gap, size_t want) {
    while (in < text.size() && joined.size() < want) {
        auto b = static_cast<unsigned char>(text[in]);
        if (b < 0x80) {
            if (isAsciiSpace(b)) {
                gap = true;
                ++in;
                continue;
            }
            if (gap && !joined.empty()) joined += ' ';
            gap = false;
            // A run of plain ASCII up to the next white space or non-ASCII
            // byte, or to as many bytes as are still wanted (at least one).
            size_t end = in;
            size_t limit = std::min(text.size(), in + (want - joined.size()));
            while (end < limit) {
                auto c = static_cast<unsigned char>(text[end]);
                if (c >= 0x80 || isAsciiSpace(c)) break;
                ++end;
            }
            joined.append(text.data() + in, end - in);
            in = end;
            continue;
        }
        size_t start = in;
        if (text::isWhitespaceOrNewline(nextCodePoint(text, in))) {
            gap = true;
            continue;
        }
        if (gap && !joined.empty()) joined += ' ';
        gap = false;
        joined.append(text.data() + start, in - start);
    }
}

// ---- Grapheme clusters ----

icu::BreakIterator* characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> breaks = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> b(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) b.reset();
        return b;
    }();
    return breaks.get();
}

// Where `joined` (the start of a collapsed text) is cut for `max`
// characters. Whether a character boundary lies before a given character
// depends only on that character and what comes before it, so the
// boundaries found before the end of `joined` hold for every continuation;
// the end itself proves nothing.
Cut cutPoint(std::string_view joined, int max) {
    if (max <= 0) return {!joined.empty(), 0};
    const auto limit = static_cast<size_t>(max);
    // Plain ASCII (without CR LF, which collapsing removed) is one character
    // per byte.
    size_t look = std::min(joined.size(), limit + 1);
    if (std::all_of(joined.begin(), joined.begin() + static_cast<std::ptrdiff_t>(look),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        if (joined.size() > limit) return {true, limit - 1};
        return {};
    }
    icu::BreakIterator* breaks = characterBreaks();
    if (!breaks || joined.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        return codePointCut(joined, limit);
    UErrorCode status = U_ZERO_ERROR;
    UText text = UTEXT_INITIALIZER;
    utext_openUTF8(&text, joined.data(), static_cast<int64_t>(joined.size()), &status);
    breaks->setText(&text, status);
    Cut cut;
    if (U_SUCCESS(status)) {
        int32_t b = breaks->first();
        for (size_t k = 1; k <= limit; ++k) {
            const auto previous = static_cast<size_t>(b);
            b = breaks->next();
            if (b == icu::BreakIterator::DONE) break;
            if (k == limit) cut = {static_cast<size_t>(b) < joined.size(), previous};
        }
    }
    utext_close(&text);
    return cut;
}

// ---- JSON text ----

void appendEscaped(std::string_view s, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    size_t run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
        }
    }
    out.append(s.data() + run, s.size() - run);
}

// The end of the first `room` bytes of `s` (all of them when it is
// shorter), moved forward to the start of a character.
size_t pieceEnd(std::string_view s, size_t room) {
    size_t end = std::min(room, s.size());
    while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
    return end;
}

bool writeJsonString(std::string_view s, std::string& out, size_t budget) {
    out += '"';
    if (!s.empty()) {
        if (out.size() >= budget) return false;
        // Escaping only lengthens the text, so one piece as long as the
        // room left fills the budget.
        const size_t end = pieceEnd(s, budget - out.size());
        appendEscaped(s.substr(0, end), out);
        if (end < s.size()) return false;
    }
    out += '"';
    return true;
}

void writeScalar(dom::element e, std::string& out) {
    char buf[32];
    switch (e.type()) {
        case dom::element_type::INT64: {
            auto r = std::to_chars(buf, buf + sizeof buf, e.get_int64().value_unsafe());
            out.append(buf, r.ptr);
            break;
        }
        case dom::element_type::UINT64: {
            auto r = std::to_chars(buf, buf + sizeof buf, e.get_uint64().value_unsafe());
            out.append(buf, r.ptr);
            break;
        }
        case dom::element_type::DOUBLE: {
            auto r = std::to_chars(buf, buf + sizeof buf, e.get_double().value_unsafe());
            out.append(buf, r.ptr);
            break;
        }
        case dom::element_type::BOOL: out += e.get_bool().value_unsafe() ? "true" : "false"; break;
        case dom::element_type::NULL_VALUE: out += "null"; break;
        default: break;
    }
}

bool writeJson(dom::element e, std::string& out, size_t budget) {
    switch (e.type()) {
        case dom::element_type::STRING: return writeJsonString(e.get_string().value_unsafe(), out, budget);
        case dom::element_type::ARRAY: {
            out += '[';
            bool first = true;
            dom::array items = e.get_array().value_unsafe();
            for (dom::element item : items) {
                if (out.size() >= budget) return false;
                if (!first) out += ',';
                first = false;
                if (!writeJson(item, out, budget)) return false;
            }
            out += ']';
            return true;
        }
        case dom::element_type::OBJECT: {
            dom::object obj = e.get_object().value_unsafe();
            std::vector<std::pair<std::string_view, dom::element>> members;
            members.reserve(obj.size());
            for (dom::key_value_pair kv : obj) members.emplace_back(kv.key, kv.value);
            // Ascending keys; of a repeated key only the last value, as in a
            // dictionary built from the object. Taken from the end, the
            // stable sort puts the last value of a key first, and only the
            // first of each key stays.
            std::reverse(members.begin(), members.end());
            std::stable_sort(members.begin(), members.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            members.erase(std::unique(members.begin(), members.end(),
                                      [](const auto& a, const auto& b) { return a.first == b.first; }),
                          members.end());
            out += '{';
            bool first = true;
            for (const auto& [key, value] : members) {
                if (out.size() >= budget) return false;
                if (!first) out += ',';
                first = false;
                out += '"';
                appendEscaped(key, out);
                out += "\":";
                if (!writeJson(value, out, budget)) return false;
            }
            out += '}';
            return true;
        }
        default: writeScalar(e, out); return true;
    }
}

}  // namespace

Cut codePointCut(std::string_view joined, size_t limit) {
    size_t i = 0, count = 0, cutAt = 0;
    while (i < joined.size()) {
        nextCodePoint(joined, i);
        ++count;
        if (count == limit - 1) cutAt = i;
        if (count == limit) return {i < joined.size(), cutAt};
    }
    return {};
}

size_t firstBudget(int max) { return 4 * static_cast<size_t>(std::max(max, 0) + 1) + 64; }

std::optional<std::string> cleanPrefix(std::string_view text, int max, bool complete) {
    std::string joined;
    size_t in = 0;
    bool gap = false;
    for (size_t want = firstBudget(max);; want *= 2) {
        collapse(text, in, joined, gap, want);
        Cut cut = cutPoint(joined, max);
        if (cut.more) {
            joined.resize(cut.at);
            joined += "...";
            return joined;
        }
        if (in == text.size()) {
            if (complete) return joined;
            return std::nullopt;
        }
    }
}

std::string clean(std::string_view text, int max) { return *cleanPrefix(text, max, true); }

bool appendUpTo(std::string_view s, std::string& out, size_t budget) {
    size_t room = budget > out.size() ? budget - out.size() : 0;
    if (room >= s.size()) {
        out += s;
        return true;
    }
    size_t end = pieceEnd(s, room);
    out.append(s.data(), end);
    return end == s.size();
}

bool writeStringValue(const Transcript::JsonValue& value, std::string& out, size_t budget) {
    if (!value) return true;
    dom::element e = *value;
    switch (e.type()) {
        case dom::element_type::STRING: return appendUpTo(e.get_string().value_unsafe(), out, budget);
        case dom::element_type::ARRAY:
        case dom::element_type::OBJECT: return writeJson(e, out, budget);
        default: writeScalar(e, out); return true;
    }
}

std::string stringValue(const Transcript::JsonValue& value) {
    std::string out;
    writeStringValue(value, out, std::numeric_limits<size_t>::max());
    return out;
}

std::string stringValue(const Transcript::JsonValue& value, int maxCharacters) {
    return enoughFor(maxCharacters,
                     [&](std::string& out, size_t budget) { return writeStringValue(value, out, budget); });
}

std::string cleanValue(const Transcript::JsonValue& value, int max) {
    // A string is read in place.
    if (auto s = Transcript::stringValue(value)) return clean(*s, max);
    return cleanWritten(max, [&](std::string& out, size_t budget) { return writeStringValue(value, out, budget); });
}

}  // namespace vorel::ConversationDetailParser
