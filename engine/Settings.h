#pragma once
// What the process's environment asks of Vorel, read once at start
// (Settings::fromEnvironment) and put into effect for the whole process
// (Settings::setCurrent). No other code reads these variables (nor HOME or
// XDG_DATA_HOME); tests set the value directly.

#include <optional>
#include <string>

namespace vorel {

struct Settings {
    // The folder of Claude Code transcripts: VOREL_CLAUDE_ROOT, else
    // ~/.claude/projects. Empty names no folder (the variable set to
    // nothing, or no home folder): an empty path never means the working
    // folder. Without trailing slashes.
    std::string claudeRoot{};
    // The folder of Codex sessions: VOREL_CODEX_ROOT, else
    // ~/.codex/sessions; its archive is the sibling archived_sessions.
    // Same rules as claudeRoot.
    std::string codexRoot{};
    // The folder of metadata.json: VOREL_METADATA_DIR when set and not
    // empty; otherwise Vorel in $XDG_DATA_HOME (when it is an absolute
    // path), else in ~/.local/share. Empty when no home folder can be found,
    // which keeps names and notes in memory only.
    std::string metadataDir{};
    // VOREL_SECTION as given: the name of the section the main window opens
    // at when launched (the shell reads the name).
    std::string section{};
    // VOREL_WINDOW_W / VOREL_WINDOW_H: the main window's first content size,
    // when the whole text is a finite number; rounded, and clamped to
    // 1 ... kMaxWindowSide.
    std::optional<int> windowWidth{};
    std::optional<int> windowHeight{};
    // VOREL_CHART_GROUP is exactly "tag": the chart opens grouped by tag.
    bool chartGroupByTag{};
    // VOREL_PLOT_UNIT is exactly "turns": a cost plot starts with one bar
    // per turn rather than per call.
    bool plotByTurns{};

    // X11 window coordinates are 16-bit signed; "1e9" is a size no window
    // can have.
    static constexpr int kMaxWindowSide = 32767;

    static Settings fromEnvironment();

    // The value in effect; until setCurrent is called, a default one: no
    // transcript folders, names and notes in memory, every default look.
    static const Settings& current();
    // Not while another thread may read current(): the process sets it
    // before anything starts, tests before they make a model.
    static void setCurrent(Settings settings);
};

}  // namespace vorel
