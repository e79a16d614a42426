#include "engine/Settings.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <tuple>

#include "tests/TestSupport.h"

namespace vorel {
namespace {

using test::EnvVar;
using Value = std::optional<std::string>;

TEST(SettingsFromEnvironment, FoldersFromTheVariablesElseTheHomeFolder) {
    struct Case {
        const char* what;
        Value home, xdg, claude, codex, metadata;
        std::string claudeRoot, codexRoot, metadataDir;
    };
    const Case cases[] = {
        {"defaults", "/h/", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
         "/h/.claude/projects", "/h/.codex/sessions", "/h/.local/share/Vorel"},
        // Trailing slashes come off the transcript folders; the metadata
        // folder is taken as given.
        {"named", "/h", "/x", "/c//", "/d/sessions/", "/m/", "/c", "/d/sessions", "/m/"},
        {"root folder", "/h", std::nullopt, "/", "//", std::nullopt, "/", "/", "/h/.local/share/Vorel"},
        // Set to nothing: no transcript folder at all, but the default
        // metadata folder.
        {"empty", "/h", "/x", "", "", "", "", "", "/x/Vorel"},
        {"relative data home is ignored", "/h", "relative", std::nullopt, std::nullopt, std::nullopt,
         "/h/.claude/projects", "/h/.codex/sessions", "/h/.local/share/Vorel"},
        {"no need for a home", "", "/x", "/c", "/d", "/m", "/c", "/d", "/m"},
    };
    for (const Case& c : cases) {
        EnvVar home("HOME", c.home), xdg("XDG_DATA_HOME", c.xdg), claude("VOREL_CLAUDE_ROOT", c.claude),
            codex("VOREL_CODEX_ROOT", c.codex), metadata("VOREL_METADATA_DIR", c.metadata);
        const Settings s = Settings::fromEnvironment();
        EXPECT_EQ(std::tie(s.claudeRoot, s.codexRoot, s.metadataDir),
                  std::tie(c.claudeRoot, c.codexRoot, c.metadataDir))
            << c.what;
    }

    // Without HOME, the account's home folder from the user database.
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_TRUE(account && account->pw_dir && *account->pw_dir);
    const std::string accountHome = account->pw_dir;
    ASSERT_NE(accountHome.back(), '/');
    for (Value unset : {Value{}, Value{""}}) {
        EnvVar home("HOME", unset), xdg("XDG_DATA_HOME", std::nullopt), claude("VOREL_CLAUDE_ROOT", std::nullopt),
            codex("VOREL_CODEX_ROOT", std::nullopt), metadata("VOREL_METADATA_DIR", std::nullopt);
        const Settings s = Settings::fromEnvironment();
        EXPECT_EQ(s.claudeRoot, accountHome + "/.claude/projects");
        EXPECT_EQ(s.metadataDir, accountHome + "/.local/share/Vorel");
    }
}

TEST(SettingsFromEnvironment, WindowSidesAreWholeFiniteNumbersWhateverTheLocale) {
    test::CommaLocale comma;  // where one can be had
    const std::pair<Value, std::optional<int>> cases[] = {
        {std::nullopt, std::nullopt}, {"", std::nullopt}, {"1000.4", 1000}, {"999.5", 1000}, {"1e3", 1000},
        {" 1000", std::nullopt}, {"1000px", std::nullopt}, {"10,5", std::nullopt}, {"nan", std::nullopt},
        {"-infinity", std::nullopt}, {"1e400", std::nullopt},  // overflows to infinity
        {"1e9", Settings::kMaxWindowSide}, {"32767", 32767}, {"0", 1}, {"-5", 1},
    };
    for (const auto& [value, expected] : cases) {
        EnvVar w("VOREL_WINDOW_W", value), h("VOREL_WINDOW_H", "700");
        const Settings s = Settings::fromEnvironment();
        EXPECT_EQ(s.windowWidth, expected) << "value: " << value.value_or("(unset)");
        EXPECT_EQ(s.windowHeight, 700);
    }
    EnvVar h("VOREL_WINDOW_H", "7e2x");
    EXPECT_EQ(Settings::fromEnvironment().windowHeight, std::nullopt);
}

TEST(SettingsFromEnvironment, ChoicesTakeOnlyTheirExactNames) {
    struct Case {
        Value section, chartGroup, plotUnit;
        std::string expectedSection;
        bool groupByTag, byTurns;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, "", false, false},
        {"pricing", "tag", "turns", "pricing", true, true},
        {"Pricing ", "Tag", "Turns", "Pricing ", false, false},
        {"", "tag ", "turns ", "", false, false},
    };
    for (const Case& c : cases) {
        EnvVar section("VOREL_SECTION", c.section), group("VOREL_CHART_GROUP", c.chartGroup),
            unit("VOREL_PLOT_UNIT", c.plotUnit);
        const Settings s = Settings::fromEnvironment();
        EXPECT_EQ(std::tuple(s.section, s.chartGroupByTag, s.plotByTurns),
                  std::tuple(c.expectedSection, c.groupByTag, c.byTurns))
            << c.chartGroup.value_or("(unset)") << " / " << c.plotUnit.value_or("(unset)");
    }
}

}  // namespace
}  // namespace vorel
