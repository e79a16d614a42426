#include "MetadataStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "TestSupport.h"

namespace vorel {
namespace {

using test::TempDir;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

class MetadataStoreTest : public ::testing::Test {
protected:
    // A store over `dir`, after writing `file` as metadata.json when given;
    // `notified` counts its change notifications.
    MetadataStore& open(std::optional<std::string> file = std::nullopt) {
        if (file) dir.write("metadata.json", *file);
        store = std::make_unique<MetadataStore>(dir.path().string());
        notified = 0;
        store->changed().subscribe([this] { ++notified; });
        return *store;
    }
    fs::path file() const { return dir.path() / "metadata.json"; }

    TempDir dir;
    std::unique_ptr<MetadataStore> store;
    int notified = 0;
};

TEST_F(MetadataStoreTest, NamesAndNotesAreTrimmedAndBlankRemoves) {
    MetadataStore& s = open();
    s.setName("   ", "a");  // no record: none is made, but the file is written
    EXPECT_TRUE(s.byId().empty());
    EXPECT_EQ(slurp(file()), "{}\n");
    EXPECT_EQ(notified, 1);

    s.setName(" \n Alice\u2003\t", "a");
    EXPECT_EQ(s.byId().at("a").name, "Alice");
    s.setName("   ", "a");
    EXPECT_TRUE(s.byId().empty());
    EXPECT_EQ(slurp(file()), "{}\n");

    s.setSubtitle("  a note\n", "a");
    EXPECT_TRUE(s.hasCustomSubtitle("a"));
    EXPECT_EQ(s.subtitle("a", "title"), "a note");
    EXPECT_EQ(s.subtitle("b", "title"), "title");
}

TEST_F(MetadataStoreTest, TopicPrefersNonBlankNameThenSuggestionAndStoresNothing) {
    MetadataStore& s = open(R"({"c": {"name": "  ", "suggestedName": "Billing Api", "tags": []},
                                "d": {"name": " As Stored ", "suggestedName": "Other", "subtitle": " ", "tags": []}})");
    EXPECT_EQ(s.topic("c", "title"), "Billing Api");
    EXPECT_EQ(s.topic("d", "title"), " As Stored ");
    EXPECT_EQ(s.subtitle("d", "fallback"), "fallback");
    EXPECT_EQ(s.topic("nobody", " \n"), "Untitled");
    EXPECT_FALSE(s.byId().contains("nobody"));
    EXPECT_EQ(notified, 0);
}

TEST_F(MetadataStoreTest, TagsCompareIgnoringCaseAndRemoveExactly) {
    MetadataStore& s = open();
    s.addTag("backend", "a");
    s.addTag(" api ", "a");
    s.addTag("straße", "a");
    s.addTag("Cafe\u0301", "a");  // decomposed é
    ASSERT_EQ(notified, 4);
    fs::remove(file());

    s.addTag("Backend", "a");
    s.addTag("STRASSE", "a");
    s.addTag("CAF\u00C9", "a");  // composed É
    s.addTag(" \t ", "a");
    EXPECT_THAT(s.tags("a"), ElementsAre("backend", "api", "straße", "Cafe\u0301"));
    EXPECT_EQ(notified, 4);
    EXPECT_FALSE(fs::exists(file()));

    s.removeTag("Backend", "a");  // nothing matches, yet the file is written
    EXPECT_EQ(s.tags("a").size(), 4u);
    EXPECT_EQ(notified, 5);
    EXPECT_TRUE(fs::exists(file()));
    s.removeTag("x", "nobody");
    EXPECT_EQ(notified, 5);
    s.removeTag("backend", "a");
    EXPECT_THAT(s.tags("a"), ElementsAre("api", "straße", "Cafe\u0301"));
}

TEST_F(MetadataStoreTest, AllTagsInByteOrderAndHandEditedDuplicatesAreHarmless) {
    MetadataStore& s = open(R"({"a": {"tags": ["b", "x", "x", "X"]}, "b": {"tags": ["B", "x"]},
                                "c": {"tags": ["a"]}})");
    EXPECT_THAT(s.allTags(), ElementsAre("B", "X", "a", "b", "x"));
    s.addTag("x", "a");
    EXPECT_EQ(notified, 0);
    s.removeTag("x", "a");
    EXPECT_THAT(s.tags("a"), ElementsAre("b", "X"));
    EXPECT_THAT(s.allTags(), ElementsAre("B", "X", "a", "b", "x"));
}

TEST_F(MetadataStoreTest, EnsureSuggestionOnlyWhereNoNameOrSuggestion) {
    MetadataStore& s = open(R"({"a": {"suggestedName": "", "tags": []},
                                "b": {"name": "Mine", "tags": []},
                                "c": {"suggestedName": "Kept", "tags": []},
                                "d": {"name": " ", "subtitle": "note", "tags": ["t"]}})");
    s.ensureSuggestion("b", "");
    s.ensureSuggestion("c", "");
    EXPECT_EQ(notified, 0);

    s.ensureSuggestion("a", " ");
    s.ensureSuggestion("d", "");
    s.ensureSuggestion("new", "");
    EXPECT_EQ(notified, 3);
    EXPECT_EQ(s.byId().at("a").suggestedName, "Untitled");
    EXPECT_EQ(s.byId().at("new").suggestedName, "Untitled");
    const ConversationMeta& d = s.byId().at("d");
    EXPECT_EQ(d.name, " ");
    EXPECT_EQ(d.subtitle, "note");
    EXPECT_THAT(d.tags, ElementsAre("t"));
}

TEST_F(MetadataStoreTest, MigrationMergesIntoNewIdPreferringItsNonBlankFields) {
    MetadataStore& s = open(R"({"old": {"name": "Old", "subtitle": "old note", "tags": ["x", "Y", "X"]},
                                "new": {"name": "A", "subtitle": "  ", "tags": ["y"]},
                                "empty": {"tags": []}})");
    s.migrateLegacyId("old", "new");
    s.migrateLegacyId("new", "new");
    s.migrateLegacyId("missing", "new");
    EXPECT_EQ(notified, 1);
    EXPECT_FALSE(s.byId().contains("old"));
    const ConversationMeta& m = s.byId().at("new");
    EXPECT_EQ(m.name, "A");
    EXPECT_EQ(m.subtitle, "old note");
    EXPECT_THAT(m.tags, ElementsAre("y", "x"));

    s.migrateLegacyId("empty", "moved");  // an empty result is still stored
    EXPECT_TRUE(s.byId().at("moved").isEmpty());
    EXPECT_NE(slurp(file()).find("\"moved\""), std::string::npos);
}

TEST_F(MetadataStoreTest, WritesSortedPrettyValidJsonAtomically) {
    MetadataStore& s = open();
    s.setName("A", "codex:2");
    s.addTag("y", "claude-code:1");
    s.addTag("x", "claude-code:1");
    s.setSubtitle("say \"hi\"\n\\ \x01 \u00e9", "claude-code:1");
    s.ensureSuggestion("codex:3", "");
    s.setSubtitle("n", "codex:3");
    s.setName("B", "codex:3");
    EXPECT_EQ(slurp(file()), R"({
  "claude-code:1" : {
    "subtitle" : "say \"hi\"\n\\ \u0001 é",
    "tags" : [
      "y",
      "x"
    ]
  },
  "codex:2" : {
    "name" : "A",
    "tags" : []
  },
  "codex:3" : {
    "name" : "B",
    "subtitle" : "n",
    "suggestedName" : "Untitled",
    "tags" : []
  }
}
)");
    // An id that is not valid UTF-8 (from a file name) still gives a file
    // that reads back, and is found under the same id.
    s.setName("Odd", "codex:\xff");
    EXPECT_EQ(s.topic("codex:\xff", ""), "Odd");
    EXPECT_THAT(namesIn(dir.path()), ElementsAre("metadata.json"));

    MetadataStore reopened(dir.path().string());
    EXPECT_EQ(reopened.byId(), s.byId());
    EXPECT_EQ(reopened.topic("codex:\xff", ""), "Odd");
}

TEST(MetadataFileTest, OneBadRecordFailsTheWholeFile) {
    for (std::string bad : {R"({"a": {"tags": []}, "b": {"name": "x"}})", R"({"a": {"tags": "x"}})",
                            R"({"a": {"tags": [1]}})", R"({"a": {"tags": null}})",
                            R"({"a": {"name": 5, "tags": []}})", R"({"a": {"subtitle": {}, "tags": []}})",
                            R"([])", R"({"a": []})", R"({"a": {"tags": []}} x)", "", "{\"a\": {\"name\": \"\xff\", \"tags\": []}}"}) {
        EXPECT_FALSE(MetadataFile::decode(bad)) << bad;
    }
    auto ok = MetadataFile::decode(R"({"a": {"name": null, "subtitle": " x ", "extra": 1, "tags": []},
                                       "e": {"tags": []}})");
    ASSERT_TRUE(ok);
    EXPECT_FALSE(ok->at("a").name);
    EXPECT_EQ(ok->at("a").subtitle, " x ");
    EXPECT_TRUE(ok->at("e").isEmpty());
}

TEST_F(MetadataStoreTest, UnreadableFileIsSetAsideNotOverwritten) {
    setClock(std::make_shared<FixedClock>(test::utc(2026, 12, 6, 21, 15, 0)));
    const std::string original = R"({"a": {"name": "precious"}})";
    const std::string aside = "metadata.json.unreadable-20261206T211500Z";
    MetadataStore& s = open(original);
    EXPECT_TRUE(s.byId().empty());
    EXPECT_EQ(slurp(file()), original);  // untouched until a save

    // While it cannot be set aside (every name is taken), nothing is written.
    dir.write(aside, "");
    for (int n = 2; n <= 10; ++n) dir.write(aside + "-" + std::to_string(n), "");
    s.setName("First", "b");
    EXPECT_EQ(slurp(file()), original);
    EXPECT_EQ(s.topic("b", ""), "First");

    fs::remove(dir.path() / (aside + "-7"));
    s.setName("Second", "c");
    EXPECT_EQ(slurp(dir.path() / (aside + "-7")), original);
    auto reread = MetadataFile::decode(slurp(file()));
    ASSERT_TRUE(reread);
    EXPECT_EQ(*reread, s.byId());
    EXPECT_EQ(reread->size(), 2u);

    s.setName("Third", "d");  // the file is now ours: no second set-aside
    EXPECT_EQ(namesIn(dir.path()).size(), 11u);
    setClock(nullptr);
}

TEST_F(MetadataStoreTest, BatchSavesAndNotifiesOnceWithSameContent) {
    TempDir otherDir;
    MetadataStore perChange(otherDir.path().string());
    auto edits = [](MetadataStore& m) {
        m.ensureSuggestion("new", "");
        m.addTag("t", "old");
        m.migrateLegacyId("old", "new");
        m.setName("N", "new");
        m.removeTag("t", "new");
    };
    edits(perChange);

    MetadataStore& s = open();
    {
        MetadataStore::Batch outer(s);
        {
            MetadataStore::Batch inner(s);
            edits(s);
        }
        EXPECT_EQ(notified, 0);
        EXPECT_FALSE(fs::exists(file()));
        outer.end();
        EXPECT_EQ(notified, 1);
    }
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(slurp(file()), slurp(otherDir.path() / "metadata.json"));

    fs::remove(file());
    {
        MetadataStore::Batch idle(s);
        s.ensureSuggestion("new", "");
        s.addTag(" ", "new");
    }
    EXPECT_EQ(notified, 1);
    EXPECT_FALSE(fs::exists(file()));
}

TEST(MetadataStoreFolderTest, FromEnvironment) {
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* n : {"VOREL_METADATA_DIR", "XDG_DATA_HOME", "HOME"}) {
        const char* v = std::getenv(n);
        saved.emplace_back(n, v ? std::optional<std::string>(v) : std::nullopt);
    }
    ::setenv("HOME", "/h", 1);
    ::setenv("VOREL_METADATA_DIR", "/m/", 1);
    ::setenv("XDG_DATA_HOME", "/x", 1);
    EXPECT_EQ(MetadataStore::folderFromEnvironment(), "/m/");
    ::setenv("VOREL_METADATA_DIR", "", 1);  // empty means the default
    EXPECT_EQ(MetadataStore::folderFromEnvironment(), "/x/Vorel");
    ::setenv("XDG_DATA_HOME", "relative", 1);  // ignored: not absolute
    EXPECT_EQ(MetadataStore::folderFromEnvironment(), "/h/.local/share/Vorel");

    for (const auto& [name, value] : saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

}  // namespace
}  // namespace vorel
