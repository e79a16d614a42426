#pragma once
// Helpers of the detail tests: transcript files with set dates, transcript
// lines, JSON values to convert, a detail's timeline as plain text, and
// priced calls.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "detail/ConversationDetailParser.h"
#include "tests/TestSupport.h"

namespace vorel::test {

inline std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// A JSON string literal of `text`.
inline std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) out += c == '\n' ? std::string("\\n") : c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
    return out + "\"";
}

// One file per entry, the first one oldest, read as one conversation.
inline ConversationDetail parseFiles(SourceKind source, const std::vector<std::vector<std::string>>& files) {
    TempDir dir;
    std::vector<std::string> paths;
    for (size_t i = 0; i < files.size(); ++i) {
        paths.push_back(dir.write("f" + std::to_string(i) + ".jsonl", joinLines(files[i])));
        setFileTime(paths.back(), static_cast<int>(i));
    }
    return ConversationDetailParser::parse(paths, source);
}

inline ConversationDetail parseLines(SourceKind source, const std::vector<std::string>& lines) {
    return parseFiles(source, {lines});
}

// The timeline as one "Kind|title|detail" line per event.
inline std::string timeline(const ConversationDetail& d) {
    std::string out;
    for (const ConversationEvent& e : d.events) out += std::string(rawValue(e.kind)) + "|" + e.title + "|" + e.detail + "\n";
    return out;
}

// Claude Code lines at 10:00:`second` on 5 July 2026 in UTC: a prompt, a
// tool's output, and a response with one text block, billed as message `id`.
inline std::string at(int second) { return isoUtc(utc(2026, 7, 5, 10, 0, second)); }
inline std::string prompt(int second, std::string_view text = "go") {
    return R"({"type":"user","timestamp":")" + at(second) + R"(","message":{"content":")" + std::string(text) + "\"}}";
}
inline std::string toolResult(int second, std::string_view text) {
    return R"({"type":"user","timestamp":")" + at(second) + R"(","message":{"content":[{"type":"tool_result","content":")" +
           std::string(text) + "\"}]}}";
}
inline std::string call(int second, std::string_view id, std::string_view text = "ok", int output = 10) {
    return R"({"type":"assistant","timestamp":")" + at(second) + R"(","message":{"id":")" + std::string(id) +
           R"(","model":"claude-haiku-4-5","usage":{"output_tokens":)" + std::to_string(output) +
           R"(},"content":[{"type":"text","text":")" + std::string(text) + "\"}]}}";
}

// A priced API call of turn `turn`; its cost is the sum of its parts unless
// given.
inline ConversationEvent apiCall(int id, int turn, double fresh, double cache = 0, double output = 0,
                                 std::optional<double> cost = std::nullopt) {
    return {.id = id, .timestamp = {}, .kind = ConversationEventKind::token, .title = "API call", .detail = {},
            .cost = cost.value_or(fresh + cache + output), .tokens = {}, .freshInputCost = fresh, .cacheCost = cache,
            .outputCost = output, .turnIndex = turn};
}

// One parsed JSON text, kept alive with its parser.
class Json {
public:
    explicit Json(std::string_view text) { root_ = parser_.parse(text.data(), text.size()).value(); }
    Transcript::JsonValue value() const { return root_; }

private:
    simdjson::dom::parser parser_;
    simdjson::dom::element root_;
};

}  // namespace vorel::test
