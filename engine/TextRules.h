#pragma once
// Unicode rules the engine applies to text from transcripts and users.

#include <string>
#include <string_view>

namespace vorel::text {

// White space and line breaks: Unicode space separators, line and paragraph
// separators, tab, line feed, vertical tab, form feed, carriage return and
// next line.
bool isWhitespaceOrNewline(char32_t c);

// `s` (UTF-8) without white space and line breaks at either end.
std::string_view trimmed(std::string_view s);

// Empty after trimming.
inline bool isBlank(std::string_view s) { return trimmed(s).empty(); }

}  // namespace vorel::text
