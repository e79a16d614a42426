#include "engine/FolderWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <deque>
#include <iterator>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "engine/FileTimes.h"
#include "engine/LongPath.h"
#include "engine/ParallelFor.h"

namespace vorel {

namespace {

std::string withoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// What a folder held when it was last read: its entries that can matter
// (subfolders, *.jsonl files and entries of unknown type, not hidden), in
// name order, with the folder's identity and times then. A folder whose
// identity, times and size are unchanged holds the same entries, so it is
// not read again; only its files are looked at. A folder changed less than
// a tick of the file system's clock before it was read is not kept, since a
// second change within that tick would leave its times alone.
struct FolderEntries {
    struct Entry {
        std::string name;
        unsigned char type;
    };
    dev_t dev;
    ino_t ino;
    timespec mtime, ctime;
    off_t size;
    std::vector<Entry> entries;

    bool describes(const struct stat& st) const {
        return st.st_dev == dev && st.st_ino == ino && st.st_size == size && st.st_mtim.tv_sec == mtime.tv_sec &&
               st.st_mtim.tv_nsec == mtime.tv_nsec && st.st_ctim.tv_sec == ctime.tv_sec &&
               st.st_ctim.tv_nsec == ctime.tv_nsec;
    }
};

// A folder's identity. Folders are known by it rather than by their path,
// which in a deep tree is long: keeping every folder's path would take
// memory that grows with the square of the depth.
struct FolderKey {
    dev_t dev{};
    ino_t ino{};
    bool operator==(const FolderKey&) const = default;
    static FolderKey of(const struct stat& st) { return {st.st_dev, st.st_ino}; }
};

struct FolderKeyHash {
    size_t operator()(const FolderKey& k) const {
        return std::hash<std::uint64_t>{}(static_cast<std::uint64_t>(k.ino) * 0x9E3779B97F4A7C15ULL ^
                                          static_cast<std::uint64_t>(k.dev));
    }
};

// The folders of each listed root as last read, shared by all listings of
// the process. A listing reads from the snapshot it started with, without
// locking, and replaces it at its end when any folder changed.
class FolderCache {
public:
    using Folders = std::unordered_map<FolderKey, std::shared_ptr<const FolderEntries>, FolderKeyHash>;

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

    // Whether a folder read at `readNs` may be kept: it last changed a
    // whole tick of the file system's clock before.
    static bool settled(const FolderEntries& folder, std::int64_t readNs) {
        const std::int64_t changed = static_cast<std::int64_t>(folder.ctime.tv_sec) * 1'000'000'000 + folder.ctime.tv_nsec;
        return !FileTimes::mayChangeUnseen(changed, readNs);
    }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<const Folders>> roots_;
};

std::atomic<FolderOpener> folderOpener{nullptr};

// A transcript's name; the bare ".jsonl" is hidden, and never comes here.
bool isTranscriptName(std::string_view name) { return name.ends_with(".jsonl"); }

// The path of `name` in the folder at `folder`.
std::string joined(const std::string& folder, const std::string& name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append("/").append(name);
    return path;
}

TranscriptFile transcriptFile(std::string path, const struct stat& st) {
    TranscriptFile f;
    f.path = std::move(path);
    f.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    f.size = static_cast<std::int64_t>(st.st_size);
    f.inode = static_cast<std::uint64_t>(st.st_ino);
    f.ctimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return f;
}

// Lists a folder tree in the order of a depth-first walk, each folder's
// entries in name order. The first few folders are read in breadth until
// there are enough subtrees to share out; each subtree is then walked by
// one of several threads.
//
// A walk keeps no call stack and no open folder per level, so a tree of
// any depth the file system holds is listed: its explicit stack holds each
// level's name and entries, and it has one folder open at a time (besides
// the subtree's top), reaching the next one by a path relative to the open
// one and going back up through "..", which must lead to the very folder
// it came down from. Paths are never opened whole, so they may be longer
// than the system's path limit.
//
// The breadth-first start keeps its folders open. So that running short of
// descriptors passes over the same folders as a walk on one thread would, a
// listing that ran short is done again that way.
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
        now_ = FileTimes::nowNs();
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
        walk(workers_.front(), rootFd_, {}, rootPath_, out);
        return out;
    }

private:
    // A folder read by the breadth-first start: its files, and a place for
    // each subfolder, in name order. A subtree handed to a thread keeps
    // what its walk listed in `walked` instead.
    struct Node;
    struct Item {
        TranscriptFile file;
        Node* folder = nullptr;
    };
    struct Node {
        std::vector<Item> items;
        std::vector<TranscriptFile> walked;
    };
    // A subfolder yet to be read: `name` in the open folder `base`.
    struct Job {
        int base;
        std::string name;
        std::string path;
        Node* node;
    };
    // What one thread reads with, and the folders it read that may be kept.
    struct Worker {
        std::vector<char> buffer = std::vector<char>(32 * 1024);
        std::vector<std::pair<FolderKey, std::shared_ptr<const FolderEntries>>> folders;
        bool changed{};  // some folder was read anew
    };
    // One level of a walk.
    struct Frame {
        std::shared_ptr<const FolderEntries> folder;
        size_t next{};             // the next entry to look at
        std::string name;          // in the folder above
        std::string prefix;        // from the open folder: empty when it is the open one, else "a/b/"
        size_t pathLength{};       // of its path
        FolderKey key;
    };

    static constexpr size_t kMaxThreads = 8;
    static constexpr size_t kJobsPerThread = 4;
    // The breadth-first start reads at most this many folders, so a deep
    // chain of single folders does not keep one open per level.
    static constexpr size_t kBreadthFolders = 64;
    // A folder that is not read again is still opened to look at its files
    // when it has this many; fewer are looked at from an open folder above,
    // as long as the way there stays this short.
    static constexpr size_t kOpenForFiles = 8;
    static constexpr size_t kMaxPrefix = 256;

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
            for (auto& [key, folder] : w.folders) folders->emplace(key, std::move(folder));
        }
        FolderCache::shared().replace(rootPath_, std::move(folders));
    }

    std::vector<TranscriptFile> runParallel() {
        const size_t workers = std::min(coreCount(), kMaxThreads);

        // Breadth first until there is work for every thread; the folders
        // opened meanwhile stay open until the end.
        Worker& main = workers_.emplace_back();
        std::deque<Node> nodes;  // stable addresses
        Node* root = &nodes.emplace_back();
        openFolders_.push_back(rootFd_);
        std::deque<Job> jobs;
        struct stat rootStat {};
        if (fstat(rootFd_, &rootStat) != 0) return {};
        readBreadth(main, rootFd_, rootStat, rootPath_, *root, nodes, jobs);
        for (size_t read = 1; !jobs.empty() && jobs.size() < workers * kJobsPerThread && read < kBreadthFolders;
             ++read) {
            Job job = std::move(jobs.front());
            jobs.pop_front();
            int fd = openFolder(job.base, job.name);
            if (fd < 0) continue;  // unreadable or gone: passed over
            openFolders_.push_back(fd);
            struct stat st {};
            if (fstat(fd, &st) == 0) readBreadth(main, fd, st, job.path, *job.node, nodes, jobs);
        }

        // Then every subtree whole, on up to `workers` threads.
        std::vector<Job> subtrees(std::make_move_iterator(jobs.begin()), std::make_move_iterator(jobs.end()));
        const size_t threads = std::min(workers, subtrees.size());
        while (workers_.size() < std::max<size_t>(threads, 1)) workers_.emplace_back();
        parallelFor(subtrees.size(), threads, [&](size_t i, size_t worker) {
            const Job& job = subtrees[i];
            walk(workers_[worker], job.base, job.name, job.path, job.node->walked);
        });

        std::vector<TranscriptFile> out;
        flatten(*root, out);
        return out;
    }

    // `rel` inside the open folder `base`, opened without following a link
    // at its last step; -1 when it cannot be.
    int openFolder(int base, const std::string& rel) {
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        const FolderOpener opener = folderOpener.load(std::memory_order_relaxed);
        int fd = opener ? opener(base, rel.c_str(), kFlags) : openat(base, rel.c_str(), kFlags);
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
                // Skip what the entry type already rules out without a stat.
                if (d->d_type != DT_UNKNOWN && d->d_type != DT_DIR && !(d->d_type == DT_REG && isTranscriptName(name)))
                    continue;
                entries.push_back({std::string(name), d->d_type});
            }
        }
        std::sort(entries.begin(), entries.end(),
                  [](const FolderEntries::Entry& a, const FolderEntries::Entry& b) { return a.name < b.name; });
        return entries;
    }

    // The folder's entries as last read, when they are known to be the same
    // still; null otherwise.
    std::shared_ptr<const FolderEntries> cachedEntries(Worker& w, const struct stat& st) const {
        auto it = cache_->find(FolderKey::of(st));
        if (it == cache_->end() || !it->second->describes(st)) return nullptr;
        w.folders.emplace_back(it->first, it->second);
        return it->second;
    }

    // The entries of the folder open at `fd`, whose status is `st`.
    std::shared_ptr<const FolderEntries> entriesOf(Worker& w, int fd, const struct stat& st) const {
        if (auto known = cachedEntries(w, st)) return known;
        auto read = std::make_shared<const FolderEntries>(
            FolderEntries{st.st_dev, st.st_ino, st.st_mtim, st.st_ctim, st.st_size, readEntries(w, fd)});
        w.changed = true;
        if (FolderCache::settled(*read, now_)) w.folders.emplace_back(FolderKey::of(st), read);
        return read;
    }

    // Reads the folder open at `fd` into `node`: its files, and a job for
    // each subfolder.
    void readBreadth(Worker& w, int fd, const struct stat& st, const std::string& path, Node& node,
                     std::deque<Node>& nodes, std::deque<Job>& jobs) {
        auto folder = entriesOf(w, fd, st);
        for (const FolderEntries::Entry& e : folder->entries) {
            struct stat child {};
            if (fstatat(fd, e.name.c_str(), &child, AT_SYMLINK_NOFOLLOW) != 0) continue;
            std::string childPath = joined(path, e.name);
            if (S_ISDIR(child.st_mode)) {
                Node* place = &nodes.emplace_back();
                node.items.push_back({{}, place});
                jobs.push_back({fd, e.name, std::move(childPath), place});
            } else if (S_ISREG(child.st_mode) && isTranscriptName(e.name)) {
                node.items.push_back({transcriptFile(std::move(childPath), child), nullptr});
            }
        }
    }

    // Lists the folder `rel` inside the open folder `base` (`base` itself
    // when `rel` is empty), at `path`, and everything below it, depth
    // first, into `out`.
    void walk(Worker& w, int base, const std::string& rel, const std::string& path, std::vector<TranscriptFile>& out) {
        // The top of the walk stays open throughout.
        const int top = rel.empty() ? base : openFolder(base, rel);
        if (top < 0) return;
        struct stat st {};
        if (fstat(top, &st) == 0) {
            std::vector<Frame> stack;
            stack.push_back({entriesOf(w, top, st), 0, {}, {}, path.size(), FolderKey::of(st)});
            std::string at = path;
            walkFrom(w, top, stack, at, out);
        }
        if (top != base) ::close(top);
    }

    void walkFrom(Worker& w, const int top, std::vector<Frame>& stack, std::string& path,
                  std::vector<TranscriptFile>& out) {
        int open = top;  // the folder the frames' prefixes start from
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == frame.folder->entries.size()) {
                const bool wasOpen = frame.prefix.empty();
                stack.pop_back();
                if (stack.empty()) break;
                path.resize(stack.back().pathLength);
                if (wasOpen && !goUp(stack, top, open)) break;
                continue;
            }
            const FolderEntries::Entry& e = frame.folder->entries[frame.next++];
            const std::string rel = frame.prefix + e.name;
            struct stat st {};
            if (fstatat(open, rel.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISREG(st.st_mode)) {
                if (!isTranscriptName(e.name)) continue;
                out.push_back(transcriptFile(joined(path, e.name), st));
                continue;
            }
            if (!S_ISDIR(st.st_mode)) continue;  // a link is not followed

            Frame child;
            child.name = e.name;
            child.pathLength = path.size() + 1 + e.name.size();
            child.key = FolderKey::of(st);
            child.folder = cachedEntries(w, st);
            if (child.folder && child.folder->entries.size() < kOpenForFiles && rel.size() < kMaxPrefix) {
                child.prefix = rel + "/";  // looked at from the open folder
            } else {
                int fd = openFolder(open, rel);
                if (fd < 0) continue;  // unreadable or gone: passed over
                if (!child.folder) child.folder = entriesOf(w, fd, st);
                if (open != top) ::close(open);
                open = fd;
            }
            path.append("/").append(child.name);
            stack.push_back(std::move(child));
        }
        // The top frame is the last one left, and `open` is the top again:
        // each frame left that had a folder opened for it was left by goUp.
    }

    // After the open folder is left, opens the nearest frame above it that
    // is not looked at from another: through ".." when that leads to the
    // folder it was, else step by step down from the top (the folder was
    // moved meanwhile). False when it cannot be reached; the walk then ends.
    bool goUp(const std::vector<Frame>& stack, const int top, int& open) {
        size_t target = stack.size() - 1;
        while (!stack[target].prefix.empty()) --target;  // the top's is empty
        const int left = open;
        open = top;
        if (target > 0) {
            std::string up = "..";
            for (size_t i = target + 1; i < stack.size(); ++i) up += "/..";
            open = openFolder(left, up);
            struct stat st {};
            if (open >= 0 && !(fstat(open, &st) == 0 && FolderKey::of(st) == stack[target].key)) {
                ::close(open);
                open = -1;
            }
        }
        if (left != top) ::close(left);
        if (open >= 0) return true;

        open = top;
        for (size_t i = 1; i <= target; ++i) {
            const int next = openFolder(open, stack[i].name);
            if (open != top) ::close(open);
            open = next;
            if (open < 0) break;
        }
        struct stat st {};
        if (open >= 0 && fstat(open, &st) == 0 && FolderKey::of(st) == stack[target].key) return true;
        if (open >= 0) ::close(open);
        open = top;
        return false;
    }

    static void flatten(Node& root, std::vector<TranscriptFile>& out) {
        std::vector<std::pair<Node*, size_t>> stack{{&root, 0}};
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            // A subtree's files, from its walk; a folder read in breadth
            // has none there.
            if (next == 0) std::move(node->walked.begin(), node->walked.end(), std::back_inserter(out));
            if (next == node->items.size()) {
                stack.pop_back();
                continue;
            }
            Item& item = node->items[next++];
            if (item.folder) stack.push_back({item.folder, 0});
            else out.push_back(std::move(item.file));
        }
    }

    int rootFd_;
    std::string rootPath_;
    std::shared_ptr<const FolderCache::Folders> cache_;
    std::int64_t now_{};  // when the listing began
    std::atomic<bool> shortOfDescriptors_{false};
    std::vector<int> openFolders_;  // closed at the end
    std::deque<Worker> workers_;
};

}  // namespace

void setFolderOpener(FolderOpener opener) { folderOpener.store(opener); }

std::vector<TranscriptFile> listTranscripts(const std::string& root) {
    std::vector<TranscriptFile> out;
    if (root.empty()) return out;
    int fd = openLongPath(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return out;
    return TreeListing(fd, withoutTrailingSlashes(root)).run();
}

}  // namespace vorel
