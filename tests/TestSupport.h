#pragma once
// Helpers shared by the test files: scratch folders and fixed days.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "Clock.h"
#include "TranscriptReading.h"

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

inline std::string fixturesDir() { return VOREL_FIXTURES_DIR; }

}  // namespace vorel::test
