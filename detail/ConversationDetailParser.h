#pragma once
// The conversation detail reader: reads every transcript file of one
// conversation into one ConversationDetail, the merged, de-duplicated,
// time-ordered timeline with turn numbers and activity counts, every API call
// priced again with the rate table. It shares the cost engine's reading rules
// (lines, UTF-8, numbers, dates) but none of its results.

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "detail/ConversationDetail.h"
#include "engine/Clock.h"
#include "engine/SourceKind.h"
#include "engine/TranscriptReading.h"

namespace vorel::ConversationDetailParser {

// A file's modification date as the file system keeps it, to the
// nanosecond: two files written within one microsecond still come in the
// order they were written. Whole seconds and the nanoseconds within the
// second, so that the distant past fits as well.
struct FileDate {
    std::int64_t seconds{};
    std::int64_t nanoseconds{};  // 0 to 999,999,999
    auto operator<=>(const FileDate&) const = default;
};
inline constexpr FileDate kDistantPastFileDate{
    std::chrono::duration_cast<std::chrono::seconds>(kDistantPast.time_since_epoch()).count(), 0};

// The modification date in a file's status.
FileDate fileDate(const struct stat& st);

// Reads the files, written by a source of kind `source` and read with its
// record rules, in ascending order of modification date (each file's date
// is taken once; equal dates keep the given order; a date that cannot be
// read sorts first) and returns the finished detail. Never fails: a file
// that cannot be read, is not a regular file or is rejected by the UTF-8
// rule adds nothing.
ConversationDetail parse(const std::vector<std::string>& paths, SourceKind source);

// The file's modification date; the distant past when it cannot be read.
FileDate mtime(const std::string& path);

// The positions of `dates` in reading order: ascending, ties in given order.
std::vector<size_t> readingOrder(std::span<const FileDate> dates);

// The activity counts of `events`, with `compactions` as given.
ConversationStats recomputedStats(std::span<const ConversationEvent> events, int compactions);

// White space and line breaks collapsed to single spaces (none at either
// end); when that leaves more than `max` user-perceived characters
// (grapheme clusters), the first max - 1 of them followed by "...". Stops
// reading `text` as soon as the result is settled.
std::string clean(std::string_view text, int max);

// A JSON value as display text: empty for an absent value, a string as it
// is, an array or object as compact JSON with the keys of every object in
// ascending order (a repeated key counts by its last value), anything else
// as plain text ("12", "1.5", "true", "null").
std::string stringValue(const Transcript::JsonValue& value);

// As much of stringValue(value) as clean(_, maxCharacters) needs: a prefix
// of it with clean(prefix, maxCharacters) == clean(stringValue(value),
// maxCharacters). A 10 MB value costs no more than a short one.
std::string stringValue(const Transcript::JsonValue& value, int maxCharacters);

// A JSON value as a token count, by the engine's rule: integers as they
// are, fractions cut toward zero, everything else and numbers outside the
// 64-bit range 0.
using Transcript::intValue;

// A JSON string holding an internet date-time, with or without fractional
// seconds; anything else gives nothing.
std::optional<TimePoint> date(const Transcript::JsonValue& value);

}  // namespace vorel::ConversationDetailParser
