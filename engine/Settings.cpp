#include "engine/Settings.h"

#include <locale.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

namespace vorel {

namespace {

namespace fs = std::filesystem;

std::string withoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// $HOME when set and not empty, else the account's home folder; empty when
// neither is known.
std::string homeFolder() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// A transcript folder: the variable's value when it is set, even to
// nothing (which names no folder), else `underHome` in the home folder.
std::string transcriptRoot(const char* name, const std::string& home, const char* underHome) {
    if (const char* v = std::getenv(name)) return withoutTrailingSlashes(v);
    return home.empty() ? std::string{} : withoutTrailingSlashes(home) + underHome;
}

std::string metadataFolder(const std::string& home) {
    if (const char* dir = std::getenv("VOREL_METADATA_DIR"); dir && *dir) return dir;
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        if (home.empty()) return {};
        base = fs::path(home) / ".local" / "share";
    }
    return (base / "Vorel").string();
}

std::optional<int> windowSide(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return std::nullopt;
    // The whole text must be a number; strtod would skip leading white
    // space, so that is refused first. The C locale is used explicitly:
    // under a German locale "1000.5" would read as 1000 followed by junk.
    if (std::isspace(static_cast<unsigned char>(*v))) return std::nullopt;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    char* end = nullptr;
    double d = ::strtod_l(v, &end, cLocale);
    if (end == v || *end != '\0' || !std::isfinite(d)) return std::nullopt;
    return static_cast<int>(std::clamp(std::round(d), 1.0, static_cast<double>(Settings::kMaxWindowSide)));
}

bool is(const char* name, std::string_view value) {
    const char* v = std::getenv(name);
    return v && value == v;
}

Settings& storage() {
    static Settings settings;
    return settings;
}

}  // namespace

Settings Settings::fromEnvironment() {
    const std::string home = homeFolder();
    Settings s;
    s.claudeRoot = transcriptRoot("VOREL_CLAUDE_ROOT", home, "/.claude/projects");
    s.codexRoot = transcriptRoot("VOREL_CODEX_ROOT", home, "/.codex/sessions");
    s.metadataDir = metadataFolder(home);
    if (const char* v = std::getenv("VOREL_SECTION")) s.section = v;
    s.windowWidth = windowSide("VOREL_WINDOW_W");
    s.windowHeight = windowSide("VOREL_WINDOW_H");
    s.chartGroupByTag = is("VOREL_CHART_GROUP", "tag");
    s.plotByTurns = is("VOREL_PLOT_UNIT", "turns");
    return s;
}

const Settings& Settings::current() { return storage(); }

void Settings::setCurrent(Settings settings) { storage() = std::move(settings); }

}  // namespace vorel
