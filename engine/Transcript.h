#pragma once
// The cost engine's two transcript parsers: one file in, one priced
// ParsedSession out. Neither ever fails: a file that cannot be read or
// decoded gives a fresh record.

#include <string>

#include "Clock.h"
#include "ParsedSession.h"
#include "TranscriptReading.h"

namespace vorel::Transcript {

// "today" is the local day at the moment of the parse; tests pass their own.
ParsedSession parseClaude(const std::string& path, const DayWindow& today);
ParsedSession parseClaude(const std::string& path);
ParsedSession parseClaudeText(const TranscriptText& text, const DayWindow& today);

ParsedSession parseCodex(const std::string& path, const DayWindow& today);
ParsedSession parseCodex(const std::string& path);
ParsedSession parseCodexText(const TranscriptText& text, const DayWindow& today);

// The model id of a Codex token count seen before any model is known.
inline constexpr std::string_view kUnknownOpenAIModel = "(unknown OpenAI model)";

}  // namespace vorel::Transcript
