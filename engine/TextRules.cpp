#include "engine/TextRules.h"

#include <simdjson.h>
#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>

namespace vorel::text {

bool isWhitespaceOrNewline(char32_t c) {
    if (c == U' ') return true;
    if (c >= 0x09 && c <= 0x0D) return true;
    // The rest of ASCII and the C1 controls up to NEXT LINE are no space.
    if (c <= 0x85) return c == 0x85;
    switch (u_charType(static_cast<UChar32>(c))) {
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR: return true;
        default: return false;
    }
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void lowerCase(std::string_view s, std::string& out) {
    out.clear();
    if (isAscii(s)) {
        out.reserve(s.size());
        for (char c : s) out.push_back(asciiLower(c));
        return;
    }
    icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(out);
}

std::int32_t firstCodePoint(std::string_view s) {
    if (s.empty()) return -1;
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), i, static_cast<int32_t>(s.size()), c);
    return c;
}

std::string_view trimmed(std::string_view s, bool (*strip)(char32_t)) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    int32_t begin = 0;
    auto end = static_cast<int32_t>(s.size());
    while (begin < end) {
        int32_t i = begin;
        UChar32 c;
        U8_NEXT(p, i, end, c);
        if (c < 0 || !strip(static_cast<char32_t>(c))) break;
        begin = i;
    }
    while (end > begin) {
        int32_t i = end;
        UChar32 c;
// ICU's macro casts in C style.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
        U8_PREV(p, begin, i, c);
#pragma GCC diagnostic pop
        if (c < 0 || !strip(static_cast<char32_t>(c))) break;
        end = i;
    }
    return s.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

std::string validUtf8(std::string_view s) {
    if (simdjson::validate_utf8(s.data(), s.size())) return std::string(s);
    std::string out;
    out.reserve(s.size() + 8);
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(s.data() + start, static_cast<size_t>(i - start));
        }
    }
    return out;
}

std::string isolated(std::string_view s) {
    if (s.empty()) return {};
    // LRI, RLI and FSI open an isolate; PDI closes the innermost open one.
    constexpr std::string_view kFirstStrongIsolate = "\u2068";
    constexpr std::string_view kPopIsolate = "\u2069";
    std::string out;
    out.reserve(s.size() + 2 * kPopIsolate.size());
    out += kFirstStrongIsolate;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(s.size());
    size_t open = 0;
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c >= 0x2066 && c <= 0x2068) {
            ++open;
        } else if (c == 0x2069) {
            if (open == 0) continue;
            --open;
        }
        out.append(s.data() + start, static_cast<size_t>(i - start));
    }
    for (; open > 0; --open) out += kPopIsolate;
    out += kPopIsolate;
    return out;
}

namespace {

// One grapheme-cluster breaker per thread, made on first use.
icu::BreakIterator* characterBreaker() {
    thread_local std::unique_ptr<icu::BreakIterator> breaker = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> b(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) b.reset();
        return b;
    }();
    return breaker.get();
}

// The byte offsets where the code points of `s` end, at most `limit` of them.
std::vector<size_t> codePointEnds(std::string_view s, size_t limit) {
    std::vector<size_t> ends;
    for (int32_t i = 0, n = static_cast<int32_t>(s.size()); i < n && ends.size() < limit;) {
        U8_FWD_1(s.data(), i, n);
        ends.push_back(static_cast<size_t>(i));
    }
    return ends;
}

}  // namespace

std::vector<size_t> graphemeEnds(std::string_view s, size_t limit) {
    // ASCII has one cluster per byte, except CR LF.
    if (isAscii(s) && s.find('\r') == std::string_view::npos) return codePointEnds(s, limit);
    icu::BreakIterator* breaker = characterBreaker();
    UErrorCode status = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUTF8(&ut, s.data(), static_cast<int64_t>(s.size()), &status);
    if (!breaker || U_FAILURE(status)) {
        // Without break rules, code points stand in for characters.
        utext_close(&ut);
        return codePointEnds(s, limit);
    }
    std::vector<size_t> ends;
    breaker->setText(&ut, status);
    breaker->first();
    for (int32_t end = breaker->next(); end != icu::BreakIterator::DONE && ends.size() < limit; end = breaker->next())
        ends.push_back(static_cast<size_t>(end));
    utext_close(&ut);
    return ends;
}

}  // namespace vorel::text
