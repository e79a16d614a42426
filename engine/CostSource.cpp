#include "CostSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

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

// What a folder held when it was last read: its entries that can matter
// (subfolders, *.jsonl files and entries of unknown type, not hidden), in
// name order, with the folder's identity and times then. A folder whose
// identity, times and size are unchanged holds the same entries, so it is
// not read again; only its files are looked at. A folder changed less than
// two seconds before it was read is not kept, since a second change within
// the same tick of the file system's clock would leave its times alone.
struct FolderEntries {
    struct Entry {
        std::string name;
        unsigned char type;
    };
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{}, ctime{};
    off_t size = 0;
    std::vector<Entry> entries;

    bool describes(const struct stat& st) const {
        return st.st_dev == dev && st.st_ino == ino && st.st_size == size && st.st_mtim.tv_sec == mtime.tv_sec &&
               st.st_mtim.tv_nsec == mtime.tv_nsec && st.st_ctim.tv_sec == ctime.tv_sec &&
               st.st_ctim.tv_nsec == ctime.tv_nsec;
    }
};

// The folders of each listed root as last read, shared by all listings of
// the process. A listing reads from the snapshot it started with, without
// locking, and replaces it at its end when any folder changed.
class FolderCache {
public:
    using Folders = std::unordered_map<std::string, std::shared_ptr<const FolderEntries>>;

    static FolderCache& shared() {
        static FolderCache cache;
        return cache;
    }

    std::shared_ptr<const Folders> snapshot(const std::string& root) {
        std::lock_guard lock(mutex_);
        auto it = roots_.find(root);
        return it == roots_.end() ? std::make_shared<const Folders>() : it->second;
    }

    void replace(const std::string& root, std::shared_ptr<const Folders> folders) {
        std::lock_guard lock(mutex_);
        roots_[root] = std::move(folders);
    }

    // Whether a folder read now may be kept: it last changed at least two
    // whole seconds ago.
    static bool settled(const FolderEntries& folder, time_t now) {
        return now - std::max(folder.mtime.tv_sec, folder.ctime.tv_sec) >= 3;
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<const Folders>> roots_;
};

// Lists a folder tree. The first folders are read in breadth until there
// are enough subtrees to share out; each subtree is then read depth-first by
// one of several threads. Every folder's entries, in name order, become
// files and places for its subfolders, so the result, flattened, is the
// order of a depth-first walk.
//
// The breadth-first start keeps more folders open than one depth-first walk
// does. So that running short of descriptors passes over the same folders
// as a walk on one thread would, a listing that ran short is done again
// that way.
class TreeListing {
public:
    TreeListing(int rootFd, std::string rootPath) : rootFd_(rootFd), rootPath_(std::move(rootPath)) {}
    ~TreeListing() {
        for (int fd : openFolders_) ::close(fd);
    }
    TreeListing(const TreeListing&) = delete;
    TreeListing& operator=(const TreeListing&) = delete;

    std::vector<TranscriptFile> run() {
        cache_ = FolderCache::shared().snapshot(rootPath_);
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        now_ = now.tv_sec;
        std::vector<TranscriptFile> out = runParallel();
        if (!shortOfDescriptors_) {
            keepFolders();
            return out;
        }
        out.clear();
        for (int fd : openFolders_) {
            if (fd != rootFd_) ::close(fd);
        }
        openFolders_.assign(1, rootFd_);
        ::lseek(rootFd_, 0, SEEK_SET);  // read the root's entries again
        Worker w;
        Node root;
        readTree(w, {rootFd_, {}}, rootPath_, root);
        flatten(root, out);
        return out;
    }

    // Replaces the cache's folders of this root with the ones read now,
    // when any differ.
    void keepFolders() {
        bool changed = false;
        size_t count = 0;
        for (const Worker& w : workers_) {
            changed = changed || w.changed;
            count += w.folders.size();
        }
        if (!changed && count == cache_->size()) return;
        auto folders = std::make_shared<FolderCache::Folders>();
        folders->reserve(count);
        for (Worker& w : workers_) {
            for (auto& [path, folder] : w.folders) folders->emplace(std::move(path), std::move(folder));
        }
        FolderCache::shared().replace(rootPath_, std::move(folders));
    }

private:
    struct Node;
    struct Item {
        TranscriptFile file;
        Node* folder = nullptr;  // a subfolder's place
    };
    struct Node {
        std::vector<Item> items;
    };
    // A folder as `rel` inside the open folder `base`; the open folder
    // itself when `rel` is empty.
    struct Where {
        int base = -1;
        std::string rel;
    };
    struct Job {
        Where where;
        std::string path;
        Node* node = nullptr;
    };
    // What one thread reads with, and the folders it read that may be kept.
    struct Worker {
        std::deque<Node> nodes;  // stable addresses
        std::vector<char> buffer = std::vector<char>(32 * 1024);
        std::vector<std::pair<std::string, std::shared_ptr<const FolderEntries>>> folders;
        bool changed = false;  // some folder was read anew
    };

    static constexpr size_t kMaxThreads = 8;
    static constexpr size_t kJobsPerThread = 4;
    // A folder that is not read again is still opened to look at its files
    // when it has this many; fewer are looked at from an open folder above.
    static constexpr size_t kOpenForFiles = 8;

    std::vector<TranscriptFile> runParallel() {
        static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const size_t workers = std::min<size_t>(cores, kMaxThreads);

        // Breadth first until there is work for every thread; the folders
        // opened meanwhile stay open until the end.
        Worker& main = workers_.emplace_back();
        Node* root = &main.nodes.emplace_back();
        openFolders_.push_back(rootFd_);
        std::deque<Job> jobs;
        auto queue = [&](Where where, std::string path, Node* node) {
            jobs.push_back({std::move(where), std::move(path), node});
        };
        readFolder(main, {rootFd_, {}}, rootPath_, *root, true, queue);
        while (!jobs.empty() && jobs.size() < workers * kJobsPerThread) {
            Job job = std::move(jobs.front());
            jobs.pop_front();
            readFolder(main, job.where, job.path, *job.node, true, queue);
        }

        // Then every subtree whole, on up to `workers` threads.
        std::vector<Job> subtrees(std::make_move_iterator(jobs.begin()), std::make_move_iterator(jobs.end()));
        const size_t threads = std::min(workers, subtrees.size());
        while (workers_.size() < std::max<size_t>(threads, 1)) workers_.emplace_back();
        std::atomic<size_t> next{0};
        auto work = [&](Worker& w) {
            for (size_t i = next++; i < subtrees.size(); i = next++) {
                readTree(w, subtrees[i].where, subtrees[i].path, *subtrees[i].node);
            }
        };
        std::vector<std::thread> helpers;
        try {
            for (size_t t = 1; t < threads; ++t) helpers.emplace_back([&, t] { work(workers_[t]); });
        } catch (const std::system_error&) {
            // No more threads: the ones started and this one do the rest.
        }
        work(main);
        for (std::thread& t : helpers) t.join();

        std::vector<TranscriptFile> out;
        flatten(*root, out);
        return out;
    }

    // The folder at `where`, opened without following a link at its last
    // step; -1 when it cannot be.
    int openFolder(const Where& where) {
        int fd = openat(where.base, where.rel.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE)) shortOfDescriptors_ = true;
        return fd;
    }

    // The entries of the folder open at `fd` that can matter, in name order.
    static std::vector<FolderEntries::Entry> readEntries(Worker& w, int fd) {
        std::vector<FolderEntries::Entry> entries;
        while (true) {
            ssize_t n = getdents64(fd, w.buffer.data(), w.buffer.size());
            if (n <= 0) break;  // the end, or an error: keep what was read
            for (ssize_t at = 0; at < n;) {
                auto* d = reinterpret_cast<const dirent64*>(w.buffer.data() + at);
                at += d->d_reclen;
                if (d->d_name[0] == '.') continue;  // hidden, and . and ..
                std::string_view name(d->d_name);
                bool isJsonl = name.size() > 6 && name.ends_with(".jsonl");
                // Skip what the entry type already rules out without a stat.
                if (d->d_type != DT_UNKNOWN && d->d_type != DT_DIR && !(d->d_type == DT_REG && isJsonl)) continue;
                entries.push_back({std::string(name), d->d_type});
            }
        }
        std::sort(entries.begin(), entries.end(),
                  [](const FolderEntries::Entry& a, const FolderEntries::Entry& b) { return a.name < b.name; });
        return entries;
    }

    // Reads the folder at `where` into `node`; onFolder(where, path, place)
    // is told of each subfolder, in order. With `keepOpen` a folder opened
    // here stays open until the listing ends (its subfolders are read
    // later), else it is closed before returning.
    template <typename OnFolder>
    void readFolder(Worker& w, const Where& where, const std::string& path, Node& node, bool keepOpen,
                    OnFolder&& onFolder) {
        struct stat folderStat {};
        int fd = -1;
        if (where.rel.empty()) {
            fd = where.base;
            if (fstat(fd, &folderStat) != 0) return;
        } else if (fstatat(where.base, where.rel.c_str(), &folderStat, AT_SYMLINK_NOFOLLOW) != 0 ||
                   !S_ISDIR(folderStat.st_mode)) {
            return;  // gone, or not a folder (a link is not followed)
        }
        bool opened = false;
        auto open = [&] {
            if (fd >= 0) return true;
            fd = openFolder(where);
            if (fd < 0) return false;
            opened = true;
            if (keepOpen) openFolders_.push_back(fd);
            return true;
        };

        std::shared_ptr<const FolderEntries> folder;
        if (auto it = cache_->find(path); it != cache_->end() && it->second->describes(folderStat)) {
            folder = it->second;
            w.folders.emplace_back(path, folder);
            if (folder->entries.size() >= kOpenForFiles) open();  // else its files are looked at from above
        } else {
            if (!open()) return;  // unreadable or gone: passed over
            auto read = std::make_shared<FolderEntries>();
            read->dev = folderStat.st_dev;
            read->ino = folderStat.st_ino;
            read->mtime = folderStat.st_mtim;
            read->ctime = folderStat.st_ctim;
            read->size = folderStat.st_size;
            read->entries = readEntries(w, fd);
            w.changed = true;
            if (FolderCache::settled(*read, now_)) w.folders.emplace_back(path, read);
            folder = std::move(read);
        }

        for (const FolderEntries::Entry& e : folder->entries) {
            Where at = fd >= 0 ? Where{fd, e.name} : Where{where.base, where.rel + "/" + e.name};
            std::string childPath;
            childPath.reserve(path.size() + 1 + e.name.size());
            childPath.append(path).append("/").append(e.name);
            if (e.type == DT_DIR) {
                Node* child = &w.nodes.emplace_back();
                node.items.push_back({{}, child});
                onFolder(std::move(at), std::move(childPath), child);
                continue;
            }
            struct stat st {};
            if (fstatat(at.base, at.rel.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                Node* child = &w.nodes.emplace_back();
                node.items.push_back({{}, child});
                onFolder(std::move(at), std::move(childPath), child);
            } else if (S_ISREG(st.st_mode) && e.name.size() > 6 && e.name.ends_with(".jsonl")) {
                Item item;
                item.file.path = std::move(childPath);
                item.file.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
                item.file.size = static_cast<std::int64_t>(st.st_size);
                item.file.inode = static_cast<std::uint64_t>(st.st_ino);
                node.items.push_back(std::move(item));
            }
        }
        if (opened && !keepOpen) ::close(fd);
    }

    // Reads the folder at `where` and everything below it, depth first.
    void readTree(Worker& w, const Where& where, const std::string& path, Node& node) {
        readFolder(w, where, path, node, false,
                   [&](const Where& at, const std::string& childPath, Node* place) { readTree(w, at, childPath, *place); });
    }

    static void flatten(Node& node, std::vector<TranscriptFile>& out) {
        for (Item& item : node.items) {
            if (item.folder) flatten(*item.folder, out);
            else out.push_back(std::move(item.file));
        }
    }

    int rootFd_;
    std::string rootPath_;
    std::shared_ptr<const FolderCache::Folders> cache_;
    time_t now_ = 0;
    std::atomic<bool> shortOfDescriptors_{false};
    std::vector<int> openFolders_;  // closed at the end
    std::deque<Worker> workers_;
};

}  // namespace

std::vector<TranscriptFile> listTranscripts(const std::string& root) {
    std::vector<TranscriptFile> out;
    if (root.empty()) return out;
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return out;
    return TreeListing(fd, withoutTrailingSlashes(root)).run();
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
