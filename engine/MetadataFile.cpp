#include "engine/MetadataFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <xxhash.h>

#include "engine/FolderLock.h"

namespace vorel::MetadataFile {

namespace dom = simdjson::dom;

namespace {

// A string field: a string, or null for absent. False for any other type.
bool readOptionalText(dom::element value, std::optional<std::string>& out) {
    if (value.is_null()) {
        out.reset();
        return true;
    }
    std::string_view s;
    if (value.get_string().get(s)) return false;
    out = std::string(s);
    return true;
}

bool readTags(dom::element value, std::vector<std::string>& out) {
    dom::array items;
    if (value.get_array().get(items)) return false;
    out.clear();
    for (dom::element item : items) {
        std::string_view s;
        if (item.get_string().get(s)) return false;
        out.emplace_back(s);
    }
    return true;
}

std::optional<ConversationMeta> decodeRecord(dom::element value) {
    dom::object obj;
    if (value.get_object().get(obj)) return std::nullopt;
    ConversationMeta meta;
    bool hasTags = false;
    for (dom::key_value_pair kv : obj) {
        bool ok = true;
        if (kv.key == "name") {
            ok = readOptionalText(kv.value, meta.name);
        } else if (kv.key == "subtitle") {
            ok = readOptionalText(kv.value, meta.subtitle);
        } else if (kv.key == "suggestedName") {
            ok = readOptionalText(kv.value, meta.suggestedName);
        } else if (kv.key == "tags") {
            ok = readTags(kv.value, meta.tags);
            hasTags = true;
        }
        if (!ok) return std::nullopt;
    }
    if (!hasTags) return std::nullopt;
    return meta;
}

void appendQuoted(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

void appendMember(std::string& out, int indent, std::string_view key) {
    out.append(static_cast<size_t>(indent) * 2, ' ');
    appendQuoted(out, key);
    out += " : ";
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string folderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Makes a rename inside `folder` durable. Failure only weakens durability.
void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// rename() that fails with EEXIST instead of replacing an existing target.
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot rename without replacing: check first.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// A file made where there was none, by a process that is not the owner of
// the folder (a run as root in the user's folder), is given to the folder's
// owner and group, so that the folder's owner can read it. Only a process
// that may give files away can; for any other, nothing changes.
void giveToFolderOwner(int fd, const std::string& folder) {
    struct stat dir;
    if (::stat(folder.c_str(), &dir) != 0 || dir.st_uid == ::geteuid()) return;
    // Where it fails, the file is left with the process's owner and group.
    [[maybe_unused]] const int given = ::fchown(fd, dir.st_uid, dir.st_gid);
}

// The name writeAtomically's temporary files start with: "." and the
// file's name and a dot; mkostemp adds six letters or digits.
std::string temporaryPrefix(const std::string& path) {
    return "." + std::filesystem::path(path).filename().string() + ".";
}

// False, after giving `error` (when not null) the reason errno holds.
bool failed(std::string* error) {
    if (error) *error = std::generic_category().message(errno);
    return false;
}

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

Version versionOf(const struct stat& st) {
    return {true,
            static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_size),
            nanoseconds(st.st_mtim),
            nanoseconds(st.st_ctim)};
}

std::string utcStamp(TimePoint now) {
    auto t = static_cast<std::time_t>(
        std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count());
    std::tm tm{};
    if (!::gmtime_r(&t, &tm)) return "unknown-time";
    char buf[32];  // room for any year an int holds: the text always fits
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

}  // namespace

Version Version::of(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {};
    return versionOf(st);
}

bool Version::mayHideAWriteAfter(std::int64_t seenAtNs) const {
    // The coarsest timestamps of the file systems a home folder may be on
    // (FAT's two seconds); finer ones are done with sooner than that.
    constexpr std::int64_t kTimestampTickNs = 2'000'000'000;
    return exists && std::max(modifiedNs, statusChangedNs) + kTimestampTickNs > seenAtNs;
}

std::uint64_t hashOf(std::string_view bytes) { return XXH3_64bits(bytes.data(), bytes.size()); }

std::string resolvedPath(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p = path;
    // As many links as the system itself follows before it gives up (ELOOP).
    constexpr int kMaxLinks = 40;
    for (int followed = 0;; ++followed) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec))) return p.string();
        if (followed == kMaxLinks) return path;
        fs::path target = fs::read_symlink(p, ec);
        if (ec) return path;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
}

std::optional<Records> decode(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    dom::parser parser;
    dom::element doc;
    if (parser.parse(bytes.data(), bytes.size()).get(doc)) return std::nullopt;
    dom::object root;
    if (doc.get_object().get(root)) return std::nullopt;
    Records records;
    for (dom::key_value_pair kv : root) {
        auto meta = decodeRecord(kv.value);
        if (!meta) return std::nullopt;
        records.insert_or_assign(std::string(kv.key), std::move(*meta));
    }
    return records;
}

std::string encode(const Records& records) {
    if (records.empty()) return "{}\n";
    std::string out = "{\n";
    bool firstRecord = true;
    for (const auto& [id, meta] : records) {
        if (!firstRecord) out += ",\n";
        firstRecord = false;
        appendMember(out, 1, id);
        out += "{\n";
        // Keys in ascending order: name, subtitle, suggestedName, tags.
        const std::pair<const char*, const std::optional<std::string>*> texts[] = {
            {"name", &meta.name}, {"subtitle", &meta.subtitle}, {"suggestedName", &meta.suggestedName}};
        for (const auto& [key, value] : texts) {
            if (!*value) continue;
            appendMember(out, 2, key);
            appendQuoted(out, **value);
            out += ",\n";
        }
        appendMember(out, 2, "tags");
        if (meta.tags.empty()) {
            out += "[]";
        } else {
            out += "[\n";
            for (size_t i = 0; i < meta.tags.size(); ++i) {
                out += "      ";
                appendQuoted(out, meta.tags[i]);
                out += i + 1 < meta.tags.size() ? ",\n" : "\n";
            }
            out += "    ]";
        }
        out += "\n  }";
    }
    out += "\n}\n";
    return out;
}

ReadResult read(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    // A folder on the way that is not one (ENOTDIR) holds no file either.
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        return {ReadStatus::Unreadable, {}, Version::of(path)};
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return {ReadStatus::Unreadable, {}, Version::of(path)};
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return {ReadStatus::Unreadable, {}, versionOf(st)};
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return {ReadStatus::Unreadable, {}, versionOf(st)};
        }
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    auto records = decode(bytes);
    if (!records) return {ReadStatus::Unreadable, {}, versionOf(st), hashOf(bytes)};
    return {ReadStatus::Loaded, std::move(*records), versionOf(st), hashOf(bytes)};
}

bool writeAtomically(const std::string& path, std::string_view bytes, std::string* error) {
    // Replacing a symbolic link would cut it from the file it leads to (in
    // a synced folder, say): the new file takes the place of that file.
    const std::string file = resolvedPath(path);
    const std::string folder = folderOf(file);
    std::string temp = (std::filesystem::path(folder) / (temporaryPrefix(file) + "XXXXXX")).string();
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return failed(error);
    // mkostemp makes the file 0600 and the process's own; the old file's
    // owner, group and mode are kept (so a run as root leaves the user's
    // file theirs). Where the process may not give the owner, the group
    // alone may still be one of its own. Failing to keep them is no reason
    // to lose the content. The mode goes last: a change of owner can clear
    // some of its bits.
    struct stat old;
    if (::stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // Owner and group, then the group alone (a no-op after the first
        // succeeded); what cannot be given stays the process's.
        [[maybe_unused]] const int ownerKept = ::fchown(fd, old.st_uid, old.st_gid);
        [[maybe_unused]] const int groupKept = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        giveToFolderOwner(fd, folder);
    }
    int err = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), file.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        errno = err;
        return failed(error);
    }
    syncFolder(folder);
    return true;
}

bool setAside(const std::string& path, TimePoint now, std::string* movedTo, std::string* error) {
    // The file a symbolic link leads to is what could not be read; the link
    // stays, to lead to the next save's file.
    const std::string file = resolvedPath(path);
    const std::string base = file + ".unreadable-" + utcStamp(now);
    for (int n = 1; n <= 10; ++n) {
        std::string target = n == 1 ? base : base + "-" + std::to_string(n);
        if (renameNoReplace(file, target)) {
            syncFolder(folderOf(file));
            if (movedTo) {
                *movedTo = folderOf(file) == folderOf(path) ? std::filesystem::path(target).filename().string() : target;
            }
            return true;
        }
        if (errno == EEXIST) continue;
        if (errno == ENOENT) {
            struct stat st;
            if (::lstat(file.c_str(), &st) != 0 && errno == ENOENT) return true;
            errno = ENOENT;
        }
        return failed(error);
    }
    errno = EEXIST;
    return failed(error);
}

int removeStaleTemporaries(const std::string& path) {
    const std::string file = resolvedPath(path);
    const std::string prefix = temporaryPrefix(file);
    const std::string folder = folderOf(file);
    // A save of another Vorel's holds this lock while its temporary file
    // exists: that one is not left behind, and is not to be removed.
    const FolderLock lock(folder);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) continue;
        const std::string_view suffix = name.substr(prefix.size());
        auto isAsciiAlnum = [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        };
        if (!std::all_of(suffix.begin(), suffix.end(), isAsciiAlnum)) continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    // No folder sync: a removal a crash undoes is done again next time.
    ::closedir(dir);
    return removed;
}

}  // namespace vorel::MetadataFile
