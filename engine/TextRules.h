#pragma once
// Unicode rules the engine applies to text from transcripts and users.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorel::text {

// White space and line breaks: Unicode space separators, line and paragraph
// separators, tab, line feed, vertical tab, form feed, carriage return and
// next line.
bool isWhitespaceOrNewline(char32_t c);

// `s` (UTF-8) without the characters that `strip` picks at either end.
std::string_view trimmed(std::string_view s, bool (*strip)(char32_t));

// `s` (UTF-8) without white space and line breaks at either end.
inline std::string_view trimmed(std::string_view s) { return trimmed(s, isWhitespaceOrNewline); }

// The byte offsets where the grapheme clusters (user-perceived characters)
// of `s` end, at most `limit` of them.
std::vector<size_t> graphemeEnds(std::string_view s, size_t limit);

// Whether every byte of `s` is ASCII.
bool isAscii(std::string_view s);

// An ASCII capital in lower case; any other byte as it is.
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// `s` (UTF-8) in lower case by the full Unicode mapping, independent of the
// user's locale, written to `out` so that a caller can reuse its storage.
void lowerCase(std::string_view s, std::string& out);

// The first code point of `s` (UTF-8); negative when `s` is empty or starts
// with an ill-formed sequence.
std::int32_t firstCodePoint(std::string_view s);

// Empty after trimming.
inline bool isBlank(std::string_view s) { return trimmed(s).empty(); }

// `s` with every ill-formed UTF-8 sequence replaced by U+FFFD, so that
// text taken from file and folder names always decodes.
std::string validUtf8(std::string_view s);

// `s` (UTF-8) as one directional unit, for a displayed line that joins it
// with other text: between FIRST STRONG ISOLATE and POP DIRECTIONAL
// ISOLATE, so that right-to-left letters or a direction override inside it
// cannot reorder the text around it. The isolate marks inside `s` are
// balanced first: a pop without its opening mark would end the isolate
// early and is dropped, and a mark left open is closed at the end. Empty
// stays empty. Only for display: stored and exported text stays as it is.
std::string isolated(std::string_view s);

}  // namespace vorel::text
