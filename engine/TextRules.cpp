#include "TextRules.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vorel::text {

bool isWhitespaceOrNewline(char32_t c) {
    if (c == U' ') return true;
    if (c >= 0x09 && c <= 0x0D) return true;
    if (c < 0x80) return false;
    if (c == 0x85) return true;
    switch (u_charType(static_cast<UChar32>(c))) {
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR: return true;
        default: return false;
    }
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
        U8_PREV(p, begin, i, c);
        if (c < 0 || !strip(static_cast<char32_t>(c))) break;
        end = i;
    }
    return s.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
}

}  // namespace vorel::text
