#pragma once
// Helpers shared by the test files: scratch folders, fixed days, scoped
// settings, environment values and locales, and transcript lines to write.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Clock.h"
#include "engine/FileTimes.h"
#include "engine/Settings.h"
#include "engine/TranscriptReading.h"

namespace vorel::test {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = fs::temp_directory_path() / ("vorel-test-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // Writes `bytes` to `name` (folders created as needed) and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const {
        fs::path p = path_ / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }

private:
    fs::path path_;
};

// A UTC instant from its parts.
inline TimePoint utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    using namespace std::chrono;
    return time_point_cast<milliseconds>(sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s});
}

// The UTC day that holds `t`: tests use it as "today" so they never depend
// on the machine's time zone.
inline DayWindow utcDay(TimePoint t) {
    using namespace std::chrono;
    auto start = time_point_cast<milliseconds>(floor<days>(t));
    return DayWindow{start, start + days{1}};
}

inline Transcript::TranscriptText textOf(std::string bytes) {
    auto t = Transcript::TranscriptText::fromBytes(std::move(bytes));
    EXPECT_TRUE(t.has_value());
    return t ? std::move(*t) : *Transcript::TranscriptText::fromBytes("");
}

// The real transcripts some tests read: the folder VOREL_FIXTURES_DIR names
// in the environment, else the one the build was configured with.
inline std::string fixturesDir() {
    const char* dir = std::getenv("VOREL_FIXTURES_DIR");
    return dir && *dir ? dir : VOREL_FIXTURES_DIR;
}

// Why the real transcripts cannot be read, or nothing when they can.
inline std::optional<std::string> fixturesMissing() {
    std::error_code ec;
    if (fs::is_directory(fixturesDir(), ec)) return std::nullopt;
    return "The real transcripts are not in " + fixturesDir() +
           ": they come from ../shared/fixtures beside the clone (or set VOREL_FIXTURES_DIR, in the environment or "
           "to CMake, to another folder)";
}

// Whether a missing transcript folder fails the tests that need it rather
// than skipping them: VOREL_REQUIRE_FIXTURES=1, as CI sets.
inline bool fixturesRequired() {
    const char* v = std::getenv("VOREL_REQUIRE_FIXTURES");
    return v && std::string(v) == "1";
}

}  // namespace vorel::test

// Opens a test that reads the real transcripts: without them it is skipped
// with one line saying where they come from, or fails when they are required.
#define VOREL_NEEDS_FIXTURES()                                                       \
    do {                                                                             \
        if (auto missing = ::vorel::test::fixturesMissing()) {                       \
            if (::vorel::test::fixturesRequired()) FAIL() << *missing;               \
            GTEST_SKIP() << *missing;                                                \
        }                                                                            \
    } while (false)

namespace vorel::test {

// Puts `settings` into effect for a scope, then the ones before again.
class ScopedSettings {
public:
    explicit ScopedSettings(Settings settings) : old_(Settings::current()) {
        Settings::setCurrent(std::move(settings));
    }
    ~ScopedSettings() { Settings::setCurrent(std::move(old_)); }
    ScopedSettings(const ScopedSettings&) = delete;
    ScopedSettings& operator=(const ScopedSettings&) = delete;

private:
    Settings old_;
};

// Sets (or, given nullopt, removes) an environment variable for a scope; a
// change of TZ takes effect at once.
class EnvVar {
public:
    EnvVar(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(value);
    }
    ~EnvVar() { set(old_); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    void set(const std::optional<std::string>& v) {
        if (v) ::setenv(name_, v->c_str(), 1);
        else ::unsetenv(name_);
        ::tzset();
    }
    const char* name_;
    std::optional<std::string> old_;
};

// Sets a file's modification time to `seconds` after a fixed instant in
// 2026, so tests order files without waiting.
inline void setFileTime(const std::string& path, int seconds) {
    struct timespec times[2] = {{1'780'000'000 + seconds, 0}, {1'780'000'000 + seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// A transcript timestamp: "2026-07-05T11:55:00Z".
// The file times' clock (FileTimes::nowNs) stands at `ns`, nanoseconds
// since the epoch, for a scope: what was just changed can look a tick old,
// or not quite, without waiting.
class FileClockAt {
public:
    explicit FileClockAt(std::int64_t ns) {
        set(ns);
        FileTimes::setNowSource([] { return at().load(); });
    }
    ~FileClockAt() { FileTimes::setNowSource(nullptr); }
    FileClockAt(const FileClockAt&) = delete;
    FileClockAt& operator=(const FileClockAt&) = delete;

    void set(std::int64_t ns) { at() = ns; }

private:
    static std::atomic<std::int64_t>& at() {
        static std::atomic<std::int64_t> ns{0};
        return ns;
    }
};

inline std::string isoUtc(TimePoint t) {
    std::time_t secs = std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    std::tm parts{};
    ::gmtime_r(&secs, &parts);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return buf;
}

// Transcript lines. claude-opus-4-8 bills output at 25 dollars per million
// tokens, gpt-5.5 at 30.
inline std::string claudeUser(const std::string& text, const std::string& cwd = "") {
    std::string c = cwd.empty() ? "" : R"("cwd":")" + cwd + R"(",)";
    return R"({"type":"user",)" + c + R"("message":{"role":"user","content":")" + text + "\"}}\n";
}

inline std::string claudeReply(const std::string& id, int outputTokens,
                               const std::string& time = "2026-07-05T10:00:00Z",
                               const std::string& model = "claude-opus-4-8") {
    return R"({"type":"assistant","timestamp":")" + time + R"(","message":{"id":")" + id + R"(","model":")" + model +
           R"(","usage":{"output_tokens":)" + std::to_string(outputTokens) + "}}}\n";
}

inline std::string codexLine(const std::string& type, const std::string& payload,
                             const std::string& time = "2026-07-05T10:00:00Z") {
    return R"({"timestamp":")" + time + R"(","type":")" + type + R"(","payload":)" + payload + "}\n";
}

inline std::string codexMeta(const std::string& fields, const std::string& time = "2026-07-05T10:00:00Z") {
    return codexLine("session_meta", "{" + fields + "}", time);
}

inline std::string codexTokens(int outputTokens, int runningTotal, const std::string& time = "2026-07-05T10:00:00Z") {
    return codexLine("event_msg",
                     R"({"type":"token_count","info":{"last_token_usage":{"output_tokens":)" +
                         std::to_string(outputTokens) + R"(},"total_token_usage":{"total_tokens":)" +
                         std::to_string(runningTotal) + "}}}",
                     time);
}

// A C library locale whose decimal mark is a comma, in effect for a scope,
// to show that numbers written for files and screens never follow it.
// Machines often carry only C and POSIX; then one is compiled once per
// process with localedef into a scratch folder and loaded from there.
class CommaLocale {
public:
    CommaLocale() : old_(std::setlocale(LC_ALL, nullptr)) { active_ = tryInstalled() || tryCompiled(); }
    ~CommaLocale() { std::setlocale(LC_ALL, old_.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }

private:
    static bool usesComma() { return std::string(std::localeconv()->decimal_point) == ","; }
    static bool trySet(const char* name) { return std::setlocale(LC_ALL, name) && usesComma(); }

    static bool tryInstalled() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"})
            if (trySet(name)) return true;
        return false;
    }

    static bool tryCompiled() {
        static TempDir folder;
        // It may warn, and still write the locale.
        static const int compiled = std::system(
            ("localedef -i de_DE -f UTF-8 '" + folder.file("de_DE.UTF-8") + "' >/dev/null 2>&1").c_str());
        (void)compiled;
        // The C library reads LOCPATH while it loads a locale; the loaded
        // data stay when it is gone again.
        EnvVar path("LOCPATH", folder.path().string());
        return trySet("de_DE.UTF-8");
    }

    std::string old_;
    bool active_ = false;
};

// How many file descriptors the process has open, to find any left open.
inline int openDescriptorCount() {
    int count = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++count;
    return count;
}

// Frees descriptor 0 (standard input) for a scope, so that the next file
// opened gets it, as in a process started without one.
class NoStandardInput {
public:
    NoStandardInput() : saved_(::fcntl(0, F_DUPFD_CLOEXEC, 3)) { ::close(0); }
    ~NoStandardInput() {
        if (saved_ < 0) return;
        ::dup2(saved_, 0);
        ::close(saved_);
    }
    NoStandardInput(const NoStandardInput&) = delete;
    NoStandardInput& operator=(const NoStandardInput&) = delete;

private:
    int saved_;
};

// A chain of `levels` folders named `name` inside `root`, whose path runs
// past the system's path limit. Neither mkdir nor removal works by such a
// path, so the chain is made and taken down a level at a time, relative to
// open folders; the whole chain goes at the end of the scope.
class DeepFolder {
public:
    DeepFolder(const fs::path& root, int levels, const std::string& name) : name_(name) {
        fs::create_directories(root);
        top_ = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bottom_ = ::dup(top_);
        path_ = root.string();
        for (int level = 0; level < levels && bottom_ >= 0; ++level) {
            ::mkdirat(bottom_, name.c_str(), 0755);
            const int next = ::openat(bottom_, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(bottom_);
            bottom_ = next;
            path_ += "/" + name;
        }
        EXPECT_GE(bottom_, 0);
        EXPECT_GT(path_.size(), size_t{PATH_MAX});
    }
    ~DeepFolder() {
        if (bottom_ >= 0) ::close(bottom_);
        removeInside(top_, name_);
        ::unlinkat(top_, name_.c_str(), AT_REMOVEDIR);
        ::close(top_);
    }
    DeepFolder(const DeepFolder&) = delete;
    DeepFolder& operator=(const DeepFolder&) = delete;

    // The bottom folder's path.
    const std::string& path() const { return path_; }

    // Writes (or appends) `bytes` to `file` in the bottom folder; its path.
    std::string write(const std::string& file, const std::string& bytes, bool append = false) const {
        const int fd = ::openat(bottom_, file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC),
                                0644);
        EXPECT_GE(fd, 0) << file;
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        return path_ + "/" + file;
    }

private:
    // Empties the folder `name` inside the open folder `parent`.
    static void removeInside(int parent, const std::string& name) {
        const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        for (const auto& entry : entriesOf(fd)) {
            if (::unlinkat(fd, entry.c_str(), 0) == 0) continue;
            removeInside(fd, entry);
            ::unlinkat(fd, entry.c_str(), AT_REMOVEDIR);
        }
        ::close(fd);
    }
    static std::vector<std::string> entriesOf(int fd) {
        std::vector<std::string> names;
        DIR* d = ::fdopendir(::dup(fd));
        if (!d) return names;
        while (const dirent* e = ::readdir(d)) {
            if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..") names.push_back(e->d_name);
        }
        ::closedir(d);
        return names;
    }

    std::string name_;
    std::string path_;
    int top_ = -1;
    int bottom_ = -1;
};

// A file changed through a shared mapping of it. The first change moves
// the file's times, as any write does; later ones, to pages already
// written, leave them as they are: the file changes as it would twice within
// one tick of a coarse file system clock, with nothing in its times or size
// to show it.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0) {
            size_ = static_cast<size_t>(st.st_size);
            void* at = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (at != MAP_FAILED) bytes_ = static_cast<char*>(at);
        }
        if (fd >= 0) ::close(fd);
        EXPECT_NE(bytes_, nullptr) << path;
    }
    ~MappedFile() {
        if (bytes_) ::munmap(bytes_, size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Puts `bytes`, as long as the file, in place of its content.
    void put(const std::string& bytes) {
        ASSERT_EQ(bytes.size(), size_);
        if (bytes_) std::copy(bytes.begin(), bytes.end(), bytes_);
    }

private:
    char* bytes_ = nullptr;
    size_t size_ = 0;
};

}  // namespace vorel::test
