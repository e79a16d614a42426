#include "engine/CostSource.h"

#include <iterator>
#include <memory>
#include <string_view>

#include "engine/IncrementalTranscript.h"
#include "engine/Settings.h"

namespace vorel {

namespace {

std::string withoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string parentFolder(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string fileStem(const std::string& path) {
    std::string name = lastComponent(path);
    auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Defaults

std::string CostSource::transcriptId(const std::string& path, const ParsedSession& parsed) const {
    return parsed.sourceThreadId.empty() ? fileStem(path) : parsed.sourceThreadId;
}

std::optional<std::string> CostSource::parentTranscriptId(const std::string&, const ParsedSession& parsed) const {
    if (parsed.parentThreadId.empty()) return std::nullopt;
    return parsed.parentThreadId;
}

bool CostSource::isSubagent(const std::string& path, const ParsedSession& parsed) const {
    return parsed.isSubagent || parentTranscriptId(path, parsed).has_value();
}

std::string CostSource::subagentLabel(const std::string& path, const ParsedSession& parsed) const {
    return parsed.subagentName.empty() ? fileStem(path) : parsed.subagentName;
}

std::string CostSource::dedupeScope(const std::string& rowId) const { return rowId; }

std::unique_ptr<IncrementalTranscript> CostSource::reader() const {
    return std::make_unique<IncrementalTranscript>(kind());
}

std::vector<std::shared_ptr<const CostSource>> standardSources() {
    return {std::make_shared<ClaudeCodeSource>(), std::make_shared<CodexSource>()};
}

// Claude Code

std::string ClaudeCodeSource::root() { return Settings::current().claudeRoot; }

std::vector<TranscriptFile> ClaudeCodeSource::transcriptURLs() const { return listTranscripts(root()); }

bool ClaudeCodeSource::isSubagent(const std::string& path, const ParsedSession&) const {
    return lastComponent(parentFolder(path)) == "subagents";
}

std::string ClaudeCodeSource::transcriptId(const std::string& path, const ParsedSession& parsed) const {
    std::string stem = fileStem(path);
    if (!isSubagent(path, parsed)) return stem;
    return lastComponent(parentFolder(parentFolder(path))) + ":agent:" + stem;
}

std::optional<std::string> ClaudeCodeSource::parentTranscriptId(const std::string& path,
                                                                const ParsedSession& parsed) const {
    if (!isSubagent(path, parsed)) return std::nullopt;
    return lastComponent(parentFolder(parentFolder(path)));
}

std::string ClaudeCodeSource::subagentLabel(const std::string& path, const ParsedSession&) const {
    std::string stem = fileStem(path);
    std::string out;
    static constexpr std::string_view kFrom = "agent-";
    for (size_t i = 0; i < stem.size();) {
        if (std::string_view(stem).substr(i).starts_with(kFrom)) {
            out += "Agent ";
            i += kFrom.size();
        } else {
            out += stem[i++];
        }
    }
    return out;
}

// Codex

std::string CodexSource::root() { return Settings::current().codexRoot; }

std::string CodexSource::archivedRoot() {
    const std::string root = withoutTrailingSlashes(CodexSource::root());
    if (root.empty()) return {};
    std::string parent = parentFolder(root);
    return (parent.empty() && root.front() != '/' ? std::string(".") : parent) + "/archived_sessions";
}

std::vector<TranscriptFile> CodexSource::transcriptURLs() const {
    auto files = listTranscripts(root());
    auto archived = listTranscripts(archivedRoot());
    files.insert(files.end(), std::make_move_iterator(archived.begin()), std::make_move_iterator(archived.end()));
    return files;
}

}  // namespace vorel
