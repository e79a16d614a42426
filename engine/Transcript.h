#pragma once
// The cost engine's two transcript parsers: one file in, one priced
// ParsedSession out. Neither ever fails: a file that cannot be read or
// decoded gives a fresh record.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/Clock.h"
#include "engine/ParsedSession.h"
#include "engine/TranscriptReading.h"

namespace vorel::Transcript {

// "today" is the local day at the moment of the parse; tests pass their own.
ParsedSession parseClaude(const std::string& path, const DayWindow& today);
ParsedSession parseClaude(const std::string& path);
ParsedSession parseClaudeText(const TranscriptText& text, const DayWindow& today);

ParsedSession parseCodex(const std::string& path, const DayWindow& today);
ParsedSession parseCodex(const std::string& path);
ParsedSession parseCodexText(const TranscriptText& text, const DayWindow& today);

// A parse fed one line at a time. A clone continues on its own from where
// the original stopped, so a parse can be kept and resumed when its file
// grows.
class LineParser {
public:
    virtual ~LineParser() = default;
    // The line must be followed by SIMDJSON_PADDING readable bytes, as the
    // lines of a TranscriptText or a TranscriptLineReader are: the JSON
    // parser reads past a line's end.
    virtual void read(std::string_view line) = 0;
    virtual std::unique_ptr<LineParser> clone() const = 0;
    virtual const ParsedSession& session() const = 0;
};

std::unique_ptr<LineParser> makeClaudeParser(const DayWindow& today);
std::unique_ptr<LineParser> makeCodexParser(const DayWindow& today);

// Give back the JSON buffers this thread's parsers grew for long lines.
void trimClaudeThreadParsers();
void trimCodexThreadParsers();

// How many Claude lines this thread's parsers have passed over without a
// full parse: lines that cannot change the record, and repeats of a billed
// response.
std::uint64_t claudeLinesPassedOver();

// The model id of a Codex token count seen before any model is known.
inline constexpr std::string_view kUnknownOpenAIModel = "(unknown OpenAI model)";

}  // namespace vorel::Transcript
