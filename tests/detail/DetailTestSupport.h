#pragma once
// Helpers of the detail reader's tests: transcript files with set dates,
// JSON values to convert, and a detail's timeline as plain text.

#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "ConversationDetailParser.h"
#include "TestSupport.h"

namespace vorel::test {

// Sets a file's modification date to `seconds` after 2026-01-01 00:00 UTC.
inline void setModified(const std::string& path, int seconds) {
    timespec times[2] = {{1767225600 + seconds, 0}, {1767225600 + seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// A JSON string literal of `text`.
inline std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

// One file per entry, the first one oldest, read as one conversation.
inline ConversationDetail parseFiles(std::string_view source, const std::vector<std::vector<std::string>>& files) {
    TempDir dir;
    std::vector<std::string> paths;
    for (size_t i = 0; i < files.size(); ++i) {
        paths.push_back(dir.write("f" + std::to_string(i) + ".jsonl", joinLines(files[i])));
        setModified(paths.back(), static_cast<int>(i));
    }
    return ConversationDetailParser::parse(paths, source);
}

inline ConversationDetail parseLines(std::string_view source, const std::vector<std::string>& lines) {
    return parseFiles(source, {lines});
}

// The timeline as one "Kind|title|detail" line per event.
inline std::string timeline(const ConversationDetail& d) {
    std::string out;
    for (const ConversationEvent& e : d.events) {
        out += std::string(rawValue(e.kind)) + "|" + e.title + "|" + e.detail + "\n";
    }
    return out;
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
