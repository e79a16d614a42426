#include "CostSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "Transcript.h"

namespace vorel {

namespace {

std::string withoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return withoutTrailingSlashes(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return withoutTrailingSlashes(pw->pw_dir);
    return {};
}

// The folder named by an environment variable, or `fallback` when it is not
// set. A variable set to an empty value names no folder at all: an empty
// path must never mean the working folder.
std::optional<std::string> envFolder(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return withoutTrailingSlashes(v);
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

void listInto(int dirFd, const std::string& dirPath, std::vector<TranscriptFile>& out) {
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    struct Entry {
        std::string name;
        unsigned char type;
    };
    std::vector<Entry> entries;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;  // hidden, and . and ..
        entries.push_back({e->d_name, e->d_type});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });

    for (const Entry& e : entries) {
        bool isJsonl = e.name.size() > 6 && e.name.ends_with(".jsonl");
        // Skip what the entry type already rules out without a stat.
        if (e.type != DT_UNKNOWN && e.type != DT_DIR && !(e.type == DT_REG && isJsonl)) continue;
        struct stat st {};
        if (fstatat(dirfd(dir), e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string path = dirPath + "/" + e.name;
        if (S_ISDIR(st.st_mode)) {
            int sub = openat(dirfd(dir), e.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) listInto(sub, path, out);
        } else if (S_ISREG(st.st_mode) && isJsonl) {
            TranscriptFile f;
            f.path = std::move(path);
            f.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
            f.size = static_cast<std::int64_t>(st.st_size);
            f.inode = static_cast<std::uint64_t>(st.st_ino);
            out.push_back(std::move(f));
        }
    }
    closedir(dir);
}

}  // namespace

std::vector<TranscriptFile> listTranscripts(const std::string& root) {
    std::vector<TranscriptFile> out;
    if (root.empty()) return out;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return out;
    listInto(fd, withoutTrailingSlashes(root), out);
    return out;
}

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

// Claude Code

std::string ClaudeCodeSource::root() {
    if (auto v = envFolder("VOREL_CLAUDE_ROOT")) return *v;
    std::string home = homeFolder();
    return home.empty() ? std::string{} : home + "/.claude/projects";
}

std::vector<TranscriptFile> ClaudeCodeSource::transcriptURLs() const { return listTranscripts(root()); }

ParsedSession ClaudeCodeSource::parse(const std::string& path, const DayWindow& today) const {
    return Transcript::parseClaude(path, today);
}

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

std::string CodexSource::root() {
    if (auto v = envFolder("VOREL_CODEX_ROOT")) return *v;
    std::string home = homeFolder();
    return home.empty() ? std::string{} : home + "/.codex/sessions";
}

std::string CodexSource::archivedRoot() {
    if (auto v = envFolder("VOREL_CODEX_ROOT")) {
        if (v->empty()) return {};
        std::string parent = parentFolder(*v);
        return (parent.empty() && v->front() != '/' ? std::string(".") : parent) + "/archived_sessions";
    }
    std::string home = homeFolder();
    return home.empty() ? std::string{} : home + "/.codex/archived_sessions";
}

std::vector<TranscriptFile> CodexSource::transcriptURLs() const {
    auto files = listTranscripts(root());
    auto archived = listTranscripts(archivedRoot());
    files.insert(files.end(), std::make_move_iterator(archived.begin()), std::make_move_iterator(archived.end()));
    return files;
}

ParsedSession CodexSource::parse(const std::string& path, const DayWindow& today) const {
    return Transcript::parseCodex(path, today);
}

}  // namespace vorel
