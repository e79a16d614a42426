#pragma once
// The reading rules both transcript readers share (the cost engine's parsers
// and the conversation detail reader): how a file becomes JSON objects, how a
// timestamp is read and how token counts are read.

#include <simdjson.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/Clock.h"
#include "engine/ContentHash.h"
#include "engine/Pricing.h"

namespace vorel::Transcript {

// The text of one transcript file, ready to be split into lines: valid UTF-8
// throughout, followed by readable padding so each line can be handed to the
// JSON parser in place.
class TranscriptText {
public:
    // Checks the bytes: invalid UTF-8 before the last line feed rejects the
    // whole text; invalid UTF-8 only in the unfinished piece after the last
    // line feed (a file read while it was being appended to) drops that piece.
    static std::optional<TranscriptText> fromBytes(std::string bytes);

    std::string_view text() const { return {buffer_.data(), size_}; }

    // Calls fn(line) for each non-empty line, in order. Lines end at a line
    // feed; a carriage return just before it is not part of the line.
    template <typename Fn>
    void forEachLine(Fn&& fn) const {
        std::string_view rest = text();
        while (!rest.empty()) {
            size_t nl = rest.find('\n');
            std::string_view line = rest.substr(0, nl);
            rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
            if (line.ends_with('\r')) line.remove_suffix(1);
            if (!line.empty()) fn(line);
        }
    }

private:
    std::string buffer_;  // the bytes, then SIMDJSON_PADDING zero bytes
    size_t size_{};       // the usable bytes at the start of buffer_
};

// Reads a whole regular file. Anything else (a folder, a FIFO, a device), an
// unreadable file or one rejected by the UTF-8 rule gives nothing; a FIFO or
// device is never opened in a way that could block.
std::optional<TranscriptText> readTranscriptFile(const std::string& path);

// Reads a regular file line by line with the rules of readTranscriptFile and
// TranscriptText::forEachLine, but a piece at a time: memory stays at one
// piece plus the longest line, and each piece is still in the cache while its
// lines are parsed. Because the UTF-8 rule is checked piece by piece, an
// invalid byte may be found after earlier lines were handed out; accepted()
// then says that everything read from the file must be thrown away.
class TranscriptLineReader {
public:
    // Reads from byte `offset` on, which must be the start of a line.
    explicit TranscriptLineReader(const std::string& path, std::int64_t offset = 0);
    ~TranscriptLineReader();
    TranscriptLineReader(const TranscriptLineReader&) = delete;
    TranscriptLineReader& operator=(const TranscriptLineReader&) = delete;

    // The next non-empty line, or nothing at the end of the file or when the
    // file is rejected. The line stays valid until the next call and is
    // followed by readable padding, so it can be parsed in place.
    std::optional<std::string_view> next();

    // Once next() gave nothing: the file was read to its end and the UTF-8
    // rule accepted it. False for a file that could not be opened or read,
    // that is not a regular file, or that is rejected.
    bool accepted() const { return done_ && !failed_; }

    // The file offset just past the last line feed read so far.
    std::int64_t completeEnd() const { return completeEnd_; }
    // Whether the line last given out is the unfinished piece after the
    // last line feed (read as a line, but not yet ended).
    bool lastWasUnfinished() const { return lastUnfinished_; }

    // Adds to `hash`, as they are read, the bytes up to each line feed read,
    // so that once the file is read it covers what completeEnd() ends.
    void hashInto(ContentHash* hash) { hash_ = hash; }
    // With hashInto: once the end of the file is read, `whole` is set to
    // that hash with the bytes after the last line feed added, as read: the
    // hash of every byte of the file up to its end.
    void hashWholeInto(ContentHash* whole) { whole_ = whole; }

    // The bytes the read buffer holds room for: the rest of a small file
    // and a byte, else one piece, or more while a longer line is read.
    size_t bufferBytes() const { return capacity_; }

private:
    void fill();
    void fail();

    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;  // capacity_ bytes, then SIMDJSON_PADDING
    size_t capacity_{};
    size_t filled_{};      // bytes read into buffer_
    size_t complete_{};    // end of the checked whole lines at the front
    size_t pos_{};         // start of the next line
    std::int64_t base_;         // file offset of buffer_[0]
    std::int64_t completeEnd_;  // file offset past the last line feed read
    bool lastUnfinished_{};
    ContentHash* hash_ = nullptr;
    ContentHash* whole_ = nullptr;
    bool done_{};
    bool failed_{};
};

// Calls fn(line) for each non-empty line of the file at `path`; false when
// the file is unreadable or rejected, in which case whatever the lines gave
// must be discarded.
template <typename Fn>
bool forEachFileLine(const std::string& path, Fn&& fn) {
    TranscriptLineReader reader(path);
    while (auto line = reader.next()) fn(*line);
    return reader.accepted();
}

// Parses one line of a TranscriptText or a TranscriptLineReader (both keep
// padding after their lines) into a JSON object, reusing its buffers across
// lines. A line that is not valid JSON or whose top-level value is not an
// object gives nothing. A number beyond what the JSON library holds (an
// integer past the 64-bit range, a double past its range) does not cost the
// whole line: the line is read again with that number taken as an
// out-of-range double, which counts as 0.
class JsonLineParser {
public:
    std::optional<simdjson::dom::object> parse(std::string_view line);

    // Lines up to this long keep their buffers in a parser kept from file to
    // file; most lines are far shorter.
    static constexpr size_t kKeptLineBytes = 64 * 1024;

    // Gives back the memory of buffers grown past kKeptLineBytes of line
    // (they grow with the longest line parsed).
    void trim();

    // The bytes of line the buffers hold room for.
    size_t bufferBytes() const { return parser_.capacity() + relaxed_.size(); }

private:
    simdjson::dom::parser parser_;
    simdjson::padded_string relaxed_;
};

// A JSON value that may be absent (a key missing from its object).
class JsonValue {
public:
    JsonValue() = default;
    JsonValue(simdjson::dom::element e) : value_(e), present_(true) {}  // NOLINT: implicit by design
    explicit operator bool() const { return present_; }
    const simdjson::dom::element& operator*() const { return value_; }
    const simdjson::dom::element* operator->() const { return &value_; }

private:
    simdjson::dom::element value_{};
    bool present_{};
};

// The value of `key` in `obj`; when a key repeats, the last one counts, as
// in a dictionary built from the object. Absent gives an error result.
JsonValue field(simdjson::dom::object obj, std::string_view key);

// A timestamp as an internet date-time, with or without fractional seconds:
// YYYY-MM-DDTHH:MM:SS[.fff]Z or with a +HH:MM / -HH:MM offset. A date alone
// or a time without a zone gives nothing.
std::optional<TimePoint> parseDate(std::string_view text);

// A token count: an integral number gives its value, a fractional one is cut
// toward zero, and everything else (absent, null, a boolean, a string, an
// array, an object, a number outside the 64-bit signed range) gives 0.
std::int64_t intValue(simdjson::dom::element v);
inline std::int64_t intValue(const JsonValue& v) { return v ? intValue(*v) : 0; }

// A string value, or nothing for any other type or an absent value.
inline std::optional<std::string_view> stringValue(const JsonValue& v) {
    std::string_view s;
    if (!v || v->get_string().get(s)) return std::nullopt;
    return s;
}

// An object value, or nothing.
inline std::optional<simdjson::dom::object> objectValue(const JsonValue& v) {
    simdjson::dom::object o;
    if (!v || v->get_object().get(o)) return std::nullopt;
    return o;
}

// The tokens a Claude Code response's `usage` object bills: input, output
// and cache read as they are; the cache writes split by lifetime when
// `cache_creation` is an object (the total beside it is then ignored), else
// all of `cache_creation_input_tokens` as 5-minute writes.
TokenCounts claudeUsageCounts(simdjson::dom::object usage);

// One Codex call's `last_token_usage`: its input as recorded, cached tokens
// included, which decides on the long-context rates; and the tokens it
// bills: the cached input capped at the input, the rest of the input as
// uncached (never below 0), and the output. Reasoning tokens are part of
// the output and are not billed again.
struct CodexCallUsage {
    std::int64_t input{};
    TokenCounts billed;
};
CodexCallUsage codexCallUsage(simdjson::dom::object lastTokenUsage);

// A random UUID text, for a response key that must never repeat.
std::string randomUUID();

// A Codex call's running totals as "input_tokens=…;cached_input_tokens=…;
// output_tokens=…;reasoning_output_tokens=…;total_tokens=…", which identify
// one call across repeated token-count events.
std::string codexTotalsKey(simdjson::dom::object totals);

}  // namespace vorel::Transcript
