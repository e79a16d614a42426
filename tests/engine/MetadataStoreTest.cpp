#include "engine/MetadataStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "engine/FolderLock.h"
#include "tests/TestSupport.h"

namespace vorel {
namespace {

using test::NoStandardInput;
using test::openDescriptorCount;
using test::TempDir;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
        store = std::make_unique<MetadataStore>(dir.path().string(), writer);
        notified = 0;
        statusNotified = 0;
        store->changed().subscribe([this] { ++notified; });
        store->statusChanged().subscribe([this] { ++statusNotified; });
        return *store;
    }
    fs::path file() const { return dir.path() / "metadata.json"; }

    TempDir dir;
    MetadataStore::Writer writer = MetadataFile::writeAtomically;
    std::unique_ptr<MetadataStore> store;
    int notified = 0;
    int statusNotified = 0;
};

TEST_F(MetadataStoreTest, NamesAndNotesAreTrimmedBlankRemovesAndTopicFallsBack) {
    MetadataStore& s = open();
    s.setName("a", "   ");  // no record: none is made, but the file is written
    EXPECT_EQ(slurp(file()), "{}\n");
    EXPECT_EQ(notified, 1);

    s.setName("a", " \n Alice\u2003\t");
    s.setSubtitle("a", "  a note\n");
    EXPECT_EQ(s.byId().at("a").name, "Alice");
    EXPECT_EQ(s.subtitle("a", "title"), "a note");
    s.setName("a", "   ");
    s.setSubtitle("a", "");
    EXPECT_TRUE(s.byId().empty());  // a record left with nothing is removed
    EXPECT_EQ(slurp(file()), "{}\n");

    // The title shows the first non-blank of name and suggestion, as stored,
    // else a topic computed now and not stored.
    open(R"({"c": {"name": "  ", "suggestedName": "Billing Api", "tags": []},
             "d": {"name": " As Stored ", "suggestedName": "Other", "subtitle": " ", "tags": []}})");
    EXPECT_EQ(store->topic("c", "title"), "Billing Api");
    EXPECT_EQ(store->topic("d", "title"), " As Stored ");
    EXPECT_EQ(store->subtitle("d", "fallback"), "fallback");
    EXPECT_EQ(store->topic("nobody", " \n"), "Untitled");
    EXPECT_FALSE(store->byId().contains("nobody"));
    EXPECT_EQ(notified, 0);
}

TEST_F(MetadataStoreTest, TagsCompareIgnoringCaseAndRemoveExactly) {
    MetadataStore& s = open();
    for (const char* tag : {"backend", " api ", "straße", "Cafe\u0301" /* decomposed é */}) s.addTag("a", tag);
    ASSERT_EQ(notified, 4);
    fs::remove(file());

    for (const char* tag : {"Backend", "STRASSE", "CAF\u00C9" /* composed É */, " \t "}) s.addTag("a", tag);
    EXPECT_THAT(s.tags("a"), ElementsAre("backend", "api", "straße", "Cafe\u0301"));
    EXPECT_EQ(notified, 4);
    EXPECT_FALSE(fs::exists(file()));

    s.removeTag("a", "Backend");  // nothing matches, yet the file is written
    EXPECT_EQ(notified, 5);
    EXPECT_TRUE(fs::exists(file()));
    s.removeTag("nobody", "x");
    EXPECT_EQ(notified, 5);
    s.removeTag("a", "backend");
    EXPECT_THAT(s.tags("a"), ElementsAre("api", "straße", "Cafe\u0301"));
}

TEST_F(MetadataStoreTest, AllTagsInByteOrderAndHandEditedDuplicatesAreHarmless) {
    MetadataStore& s = open(R"({"a": {"tags": ["b", "x", "x", "X"]}, "b": {"tags": ["B", "x"]},
                                "c": {"tags": ["a"]}})");
    EXPECT_THAT(s.allTags(), ElementsAre("B", "X", "a", "b", "x"));
    s.addTag("a", "x");
    EXPECT_EQ(notified, 0);
    s.removeTag("a", "x");
    EXPECT_THAT(s.tags("a"), ElementsAre("b", "X"));
    EXPECT_THAT(s.allTags(), ElementsAre("B", "X", "a", "b", "x"));
}

TEST_F(MetadataStoreTest, EnsureSuggestionOnlyWhereNoNameOrSuggestion) {
    MetadataStore& s = open(R"({"a": {"suggestedName": "", "tags": []},
                                "b": {"name": "Mine", "tags": []},
                                "c": {"suggestedName": "Kept", "tags": []},
                                "d": {"name": " ", "subtitle": "note", "tags": ["t"]}})");
    for (const char* id : {"b", "c"}) s.ensureSuggestion(id, "");
    EXPECT_EQ(notified, 0);
    for (const char* id : {"a", "d", "new"}) s.ensureSuggestion(id, " ");
    EXPECT_EQ(notified, 3);
    EXPECT_EQ(s.byId().at("a").suggestedName, "Untitled");
    EXPECT_EQ(s.byId().at("d"), (ConversationMeta{" ", "note", "Untitled", {"t"}}));  // the rest kept
}

TEST_F(MetadataStoreTest, MigrationMergesIntoNewIdPreferringItsNonBlankFields) {
    MetadataStore& s = open(R"({"old": {"name": "Old", "subtitle": "old note", "tags": ["x", "Y", "X"]},
                                "new": {"name": "A", "subtitle": "  ", "tags": ["y"]},
                                "empty": {"tags": []}})");
    for (const char* old : {"old", "new", "missing"}) s.migrateLegacyId(old, "new");
    EXPECT_EQ(notified, 1);
    EXPECT_FALSE(s.byId().contains("old"));
    EXPECT_EQ(s.byId().at("new"), (ConversationMeta{"A", "old note", std::nullopt, {"y", "x"}}));

    s.migrateLegacyId("empty", "moved");  // an empty result is still stored
    EXPECT_TRUE(s.byId().at("moved").isEmpty());
    EXPECT_NE(slurp(file()).find("\"moved\""), std::string::npos);
}

TEST_F(MetadataStoreTest, WritesSortedPrettyValidJsonAtomically) {
    MetadataStore& s = open();
    s.ensureSuggestion("codex:3", "");
    s.setSubtitle("codex:3", "n");
    s.setName("codex:3", "B");
    s.addTag("claude-code:1", "y");
    s.addTag("claude-code:1", "x");
    s.setSubtitle("claude-code:1", "say \"hi\"\n\\ \x01 \u00e9");
    EXPECT_EQ(slurp(file()), R"({
  "claude-code:1" : {
    "subtitle" : "say \"hi\"\n\\ \u0001 é",
    "tags" : [
      "y",
      "x"
    ]
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
    // that reads back under the same id.
    s.setName("codex:\xff", "Odd");
    EXPECT_EQ(s.topic("codex:\xff", "title"), "Odd");  // and is found under it
    EXPECT_THAT(namesIn(dir.path()), ElementsAre("metadata.json"));
    EXPECT_EQ(MetadataStore(dir.path().string()).byId(), s.byId());
    // In a name, only the ill-formed byte is replaced: a NUL is a character
    // like any other.
    s.setName("codex:\xff", std::string("a\0b\xff", 4));
    EXPECT_EQ(s.byId().at("codex:\xef\xbf\xbd").name, std::string("a\0b\xef\xbf\xbd", 6));
}

TEST(MetadataFileTest, OneBadRecordFailsTheWholeFile) {
    for (std::string bad : {R"({"a": {"tags": []}, "b": {"name": "x"}})", R"({"a": {"tags": [1]}})",
                            R"({"a": {"name": 5, "tags": []}})", R"({"a": []})", R"({"a": {"tags": []}} x)", "",
                            "{\"a\": {\"name\": \"\xff\", \"tags\": []}}"})
        EXPECT_FALSE(MetadataFile::decode(bad)) << bad;
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

    // While it cannot be set aside (every name is taken), nothing is
    // written, and the save says so.
    dir.write(aside, "");
    for (int n = 2; n <= 10; ++n) dir.write(aside + "-" + std::to_string(n), "");
    s.setName("b", "First");
    EXPECT_EQ(slurp(file()), original);
    EXPECT_EQ(s.topic("b", ""), "First");
    EXPECT_TRUE(s.hasUnsavedChanges());
    EXPECT_EQ(s.saveError(), "the unreadable metadata.json could not be moved aside (File exists)");
    EXPECT_EQ(s.setAsideName(), "");

    fs::remove(dir.path() / (aside + "-7"));
    s.setName("c", "Second");
    EXPECT_EQ(slurp(dir.path() / (aside + "-7")), original);
    auto reread = MetadataFile::decode(slurp(file()));
    ASSERT_TRUE(reread);
    EXPECT_EQ(*reread, s.byId());
    // Saved, and the name it was kept under is there to tell the user.
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_EQ(s.setAsideName(), aside + "-7");
    EXPECT_EQ(statusNotified, 2);

    s.setName("d", "Third");  // the file is now ours: no second set-aside
    EXPECT_EQ(namesIn(dir.path()).size(), 11u);
    EXPECT_EQ(s.setAsideName(), aside + "-7");
    s.dismissSetAsideNotice();
    s.dismissSetAsideNotice();
    EXPECT_EQ(s.setAsideName(), "");
    EXPECT_EQ(statusNotified, 3);
    setClock(nullptr);
}

TEST_F(MetadataStoreTest, BatchSavesAndNotifiesOnceWithSameContent) {
    TempDir otherDir;
    MetadataStore perChange(otherDir.path().string());
    auto edits = [](MetadataStore& m) {
        m.ensureSuggestion("new", "");
        m.addTag("old", "t");
        m.migrateLegacyId("old", "new");
        m.setName("new", "N");
        m.removeTag("new", "t");
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
        s.addTag("new", " ");
    }
    EXPECT_EQ(notified, 1);
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(MetadataStoreTest, FailedSaveIsReportedKeptInMemoryAndRetried) {
    // A disk that is full until told otherwise.
    bool full = true;
    int writes = 0;
    writer = [&](const std::string& path, std::string_view bytes, std::string* error) {
        ++writes;
        if (full) {
            *error = "No space left on device";
            return false;
        }
        return MetadataFile::writeAtomically(path, bytes, error);
    };
    MetadataStore& s = open();
    s.setName("a", "A");
    EXPECT_TRUE(s.hasUnsavedChanges());
    EXPECT_EQ(s.saveError(), "No space left on device");
    EXPECT_EQ(statusNotified, 1);
    EXPECT_EQ(notified, 1);  // the change itself is made and shown
    s.addTag("a", "t");
    s.retryUnsavedChanges();
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(statusNotified, 1);  // still failing, for the same reason
    EXPECT_FALSE(fs::exists(file()));

    full = false;
    s.retryUnsavedChanges();
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_EQ(s.saveError(), "");
    EXPECT_EQ(statusNotified, 2);
    EXPECT_EQ(*MetadataFile::decode(slurp(file())), s.byId());  // every change made while failing
    s.retryUnsavedChanges();  // nothing waiting: nothing written
    EXPECT_EQ(writes, 4);

    // A real failure: a file stands where the folder should be (and there
    // is no unreadable metadata file to set aside).
    TempDir parent;
    const fs::path folder = parent.path() / "meta";
    parent.write("meta", "not a folder");
    MetadataStore real(folder.string());
    real.setName("b", "B");
    EXPECT_TRUE(real.hasUnsavedChanges());
    EXPECT_EQ(real.saveError(), "Not a directory");
    fs::remove(folder);
    fs::create_directory(folder);
    EXPECT_TRUE(real.saveNow());
    EXPECT_FALSE(real.hasUnsavedChanges());
    EXPECT_EQ(MetadataStore(folder.string()).byId(), real.byId());

    // Without a folder the changes live in memory only, and that is no failure.
    MetadataStore memory("");
    memory.setName("c", "C");
    EXPECT_TRUE(memory.saveNow());
    EXPECT_FALSE(memory.hasUnsavedChanges());
    EXPECT_EQ(memory.saveError(), "");
}

TEST_F(MetadataStoreTest, TwoStoresOnOneFolderInterleaveWithoutLosingEdits) {
    MetadataStore& a = open(R"({"gone": {"name": "Old", "tags": []}, "kept": {"name": "K", "tags": ["x"]}})");
    MetadataStore b(dir.path().string());
    a.setName("one", "From A");
    b.setName("two", "From B");  // b keeps a's new record
    a.addTag("two", "a-tag");    // a tags b's record without undoing its name
    b.setSubtitle("one", "note from b");
    b.setName("gone", "");  // b removes a record a never changed: gone for a too
    a.addTag("kept", "y");
    EXPECT_EQ(notified, 3);

    // A change of b's shows in a at the refresh tick, before a saves again.
    b.setName("three", "B3");
    a.takeInExternalChanges();
    EXPECT_EQ(notified, 4);
    EXPECT_EQ(a.topic("three", ""), "B3");
    a.takeInExternalChanges();  // nothing new: nothing told
    EXPECT_EQ(notified, 4);

    b.takeInExternalChanges();
    const MetadataFile::Records expected = {
        {"kept", {"K", std::nullopt, std::nullopt, {"x", "y"}}},
        {"one", {"From A", "note from b", std::nullopt, {}}},
        {"three", {"B3", std::nullopt, std::nullopt, {}}},
        {"two", {"From B", std::nullopt, std::nullopt, {"a-tag"}}},
    };
    EXPECT_EQ(a.byId(), expected);
    EXPECT_EQ(b.byId(), expected);
    EXPECT_EQ(MetadataFile::decode(slurp(file())), expected);
}

TEST_F(MetadataStoreTest, TwoProcessesSavingAtOnceLoseNoEdit) {
    // Two processes, each with its own store on the folder (a second Vorel
    // that runs without the instance lock), rename at the same time. A save
    // must never replace a file the other process wrote after this one read
    // it: each one's last file then lacks some of its own names.
    constexpr int kEach = 60;
    const std::string folder = dir.path().string();
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = ::fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
            MetadataStore mine(folder);
            for (int i = 0; i < kEach; ++i) {
                mine.setName("p" + std::to_string(k) + "-" + std::to_string(i), "Name");
                if (i % 5 == 0) mine.takeInExternalChanges();
            }
            ::_exit(mine.hasUnsavedChanges() ? 1 : 0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(open().byId().size(), 2u * kEach);

    // A holder that never lets go holds a save up for a bounded time only.
    FolderLock stuck(folder);
    ASSERT_TRUE(stuck.held());
    EXPECT_FALSE(FolderLock(folder, std::chrono::milliseconds(20)).held());
    // One that lets go within the wait is waited for.
    const std::string other = (dir.path() / "other").string();
    fs::create_directory(other);
    std::optional<FolderLock> brief(std::in_place, other);
    ASSERT_TRUE(brief->held());
    std::thread letGo([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        brief.reset();
    });
    EXPECT_TRUE(FolderLock(other, std::chrono::seconds(5)).held());
    letGo.join();

    // Taken through descriptor 0, the lock is held like any other, and let
    // go with the object.
    const int descriptors = openDescriptorCount();
    {
        NoStandardInput none;
        {
            FolderLock first(other);
            EXPECT_TRUE(first.held());
            EXPECT_FALSE(FolderLock(other, std::chrono::milliseconds(1)).held());
        }
        EXPECT_TRUE(FolderLock(other, std::chrono::milliseconds(1)).held());
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST_F(MetadataStoreTest, AnotherWritersRecordsSurviveTheNextSaveAndUnsavedChangesWin) {
    bool full = false;
    writer = [&](const std::string& path, std::string_view bytes, std::string* error) {
        if (!full) return MetadataFile::writeAtomically(path, bytes, error);
        *error = "No space left on device";
        return false;
    };
    MetadataStore& a = open(R"({"x": {"name": "Base", "subtitle": "base note", "tags": ["t", "u"]}})");

    // A restored backup written in place (same file, as cp does) brings 50
    // records; the next save, here one a new transcript causes, keeps them.
    std::string restored = "{";
    for (int i = 0; i < 50; ++i) restored += "\"r" + std::to_string(i) + "\": {\"name\": \"Restored\", \"tags\": []},";
    restored += R"("x": {"name": "Base", "subtitle": "base note", "tags": ["t", "u"]}})";
    std::ofstream(file(), std::ios::in | std::ios::out | std::ios::binary) << restored;
    a.ensureSuggestion("new-row", "title");
    EXPECT_EQ(a.byId().size(), 52u);
    EXPECT_EQ(a.topic("r49", ""), "Restored");
    EXPECT_EQ(MetadataFile::decode(slurp(file())), a.byId());

    // Changes that cannot be saved yet win over the file's changes to the
    // same fields; what the file changed besides is kept.
    full = true;
    a.setName("x", "Mine");
    a.addTag("x", "mine-tag");
    a.removeTag("x", "u");
    a.setName("r0", "");
    a.setName("memory", "Only in memory");
    ASSERT_TRUE(a.hasUnsavedChanges());
    {
        MetadataStore other(dir.path().string());
        MetadataStore::Batch batch(other);
        other.setName("x", "Theirs");
        other.setSubtitle("x", "their note");
        other.addTag("x", "their-tag");
        other.removeTag("x", "t");
        other.setSubtitle("r0", "their note on r0");
        other.setName("r1", "");
    }
    const int before = notified;
    full = false;
    a.retryUnsavedChanges();
    EXPECT_FALSE(a.hasUnsavedChanges());
    EXPECT_EQ(notified, before + 1);  // the screens show what came in
    EXPECT_EQ(a.byId().at("x"), (ConversationMeta{"Mine", "their note", std::nullopt, {"mine-tag", "their-tag"}}));
    EXPECT_EQ(a.byId().at("r0"), (ConversationMeta{std::nullopt, "their note on r0", std::nullopt, {}}));
    EXPECT_FALSE(a.byId().contains("r1"));
    EXPECT_EQ(a.topic("memory", ""), "Only in memory");
    EXPECT_EQ(a.topic("r49", ""), "Restored");
    EXPECT_EQ(MetadataFile::decode(slurp(file())), a.byId());

    // A rewrite in place of the same size, its modification time put back,
    // is noticed as well.
    struct stat st;
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    std::string same = slurp(file());
    same.replace(same.find("\"Restored\""), 10, "\"Restorex\"");
    std::ofstream(file(), std::ios::in | std::ios::out | std::ios::binary) << same;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file().c_str(), times, 0), 0);
    a.takeInExternalChanges();
    EXPECT_EQ(std::count_if(a.byId().begin(), a.byId().end(), [](const auto& e) { return e.second.name == "Restorex"; }),
              1);

    // A file removed meanwhile takes nothing away; one made unreadable is
    // kept aside, not written over.
    fs::remove(file());
    a.takeInExternalChanges();
    EXPECT_EQ(a.byId().size(), 52u);
    dir.write("metadata.json", "{broken");
    a.takeInExternalChanges();
    a.setName("x", "After");
    EXPECT_EQ(a.byId().size(), 52u);
    EXPECT_FALSE(a.setAsideName().empty());
    EXPECT_EQ(slurp(dir.path() / a.setAsideName()), "{broken");
}

TEST(MetadataFileTest, WriteKeepsTheReplacedFilesModeAndFailsCleanly) {
    TempDir dir;
    const std::string path = dir.file("metadata.json");
    auto modeOf = [](const std::string& p) { return fs::status(p).permissions() & fs::perms::mask; };
    ASSERT_TRUE(MetadataFile::writeAtomically(path, "{}\n"));
    EXPECT_EQ(modeOf(path), fs::perms::owner_read | fs::perms::owner_write);  // a new file is private
    for (auto mode : {fs::perms(0644), fs::perms(0640), fs::perms(0600), fs::perms(0664)}) {
        fs::permissions(path, mode);
        ASSERT_TRUE(MetadataFile::writeAtomically(path, "{}\n"));
        EXPECT_EQ(modeOf(path), mode) << static_cast<int>(mode);
    }

    // A write the system cuts short (here by a file-size limit) leaves the
    // old content and no temporary file, and gives the reason.
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    std::string error;
    const bool wrote = MetadataFile::writeAtomically(path, "{\"a\": {\"tags\": []}}\n", &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(error, "File too large");
    EXPECT_EQ(slurp(path), "{}\n");
    EXPECT_THAT(namesIn(dir.path()), ElementsAre("metadata.json"));
}

TEST(MetadataFileTest, WriteKeepsTheReplacedFilesOwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    TempDir dir;
    const std::string path = dir.file("metadata.json");
    ASSERT_TRUE(MetadataFile::writeAtomically(path, "{}\n"));
    ASSERT_EQ(::chown(path.c_str(), 4242, 4343), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(MetadataFile::writeAtomically(path, "{ }\n"));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4242u);
    EXPECT_EQ(st.st_gid, 4343u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A file made where there was none, or where an unreadable one was set
    // aside, in a folder of the user's is the user's too.
    ASSERT_EQ(::chown(dir.path().c_str(), 4242, 4343), 0);
    for (const char* before : {"", "{broken"}) {
        fs::remove(path);
        if (*before) dir.write("metadata.json", before);
        MetadataStore store(dir.path().string());
        store.setName("a", "A");
        ASSERT_FALSE(store.hasUnsavedChanges());
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4242u) << before;
        EXPECT_EQ(st.st_gid, 4343u) << before;
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST_F(MetadataStoreTest, SymlinkedFileIsWrittenThroughAndStaysALink) {
    TempDir synced;
    const fs::path target = synced.path() / "names.json";
    const fs::path hop = synced.path() / "hop.json";
    fs::create_symlink(target, hop);  // a link to a file not made yet
    fs::create_symlink(hop, file());  // and a link to that link
    MetadataStore& s = open();
    s.setName("a", "Through");
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_TRUE(fs::is_symlink(hop));
    EXPECT_EQ(MetadataFile::decode(slurp(target)), s.byId());
    EXPECT_THAT(namesIn(dir.path()), ElementsAre("metadata.json"));
    EXPECT_THAT(namesIn(synced.path()), ::testing::UnorderedElementsAre("names.json", "hop.json"));

    // A relative link leads from the link's own folder.
    fs::remove(file());
    fs::create_symlink(fs::relative(target, dir.path()), file());
    s.setName("a", "Again");
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(MetadataFile::decode(slurp(target)), s.byId());

    // An unreadable file behind the link is kept beside it; the link stays.
    synced.write("names.json", "{broken");
    synced.write(".names.json.Ab12Cd", "left by a killed save");
    MetadataStore reopened(dir.path().string());
    reopened.setName("c", "C");
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(MetadataFile::decode(slurp(target)), reopened.byId());
    ASSERT_FALSE(reopened.setAsideName().empty());
    EXPECT_EQ(slurp(reopened.setAsideName()), "{broken");
    EXPECT_EQ(MetadataFile::removeStaleTemporaries(file().string()), 1);
}

TEST(MetadataFileTest, AFileJustWrittenIsToldApartByContentOnlyForATick) {
    TempDir dir;
    const std::string path = dir.file("metadata.json");
    EXPECT_EQ(MetadataFile::Version::of(path), MetadataFile::Version{});
    EXPECT_FALSE(MetadataFile::Version{}.mayHideAWriteAfter(0));
    const std::int64_t seenAt =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    ASSERT_TRUE(MetadataFile::writeAtomically(path, "{}\n"));
    const MetadataFile::Version v = MetadataFile::Version::of(path);
    EXPECT_TRUE(v.exists);
    EXPECT_EQ(v.size, 3);
    EXPECT_TRUE(v.mayHideAWriteAfter(seenAt));
    EXPECT_FALSE(v.mayHideAWriteAfter(seenAt + 3'000'000'000));
}

TEST(MetadataFileTest, OnlyStaleTemporariesOfTheFileAreRemoved) {
    TempDir dir;
    const std::vector<std::string> stale = {".metadata.json.a1B2c3", ".metadata.json.XXXXXX", ".metadata.json.000000"};
    const std::vector<std::string> kept = {"metadata.json", ".metadata.json.abc12", ".metadata.json.abc1234",
        ".metadata.json.ab-123", "metadata.json.a1B2c3", ".other.json.a1B2c3", ".metadata.lock",
        "metadata.json.unreadable-20261206T211500Z", ".metadata.json.a1B2c3x"};
    for (const auto& name : stale) dir.write(name, "{}");
    for (const auto& name : kept) dir.write(name, "{}");
    fs::create_directory(dir.path() / ".metadata.json.Folder");  // not a file: left alone
    fs::create_symlink(dir.path() / "metadata.json", dir.path() / ".metadata.json.Linked");
    EXPECT_EQ(MetadataFile::removeStaleTemporaries(dir.file("metadata.json")), 3);
    for (const auto& name : stale) EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
    EXPECT_TRUE(fs::is_directory(dir.path() / ".metadata.json.Folder"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / ".metadata.json.Linked"));
    EXPECT_EQ(MetadataFile::removeStaleTemporaries(dir.file("missing/metadata.json")), 0);

    // The temporary file of a save in progress elsewhere, which holds the
    // folder's lock, is left to that save.
    for (const auto& name : kept) fs::remove(dir.path() / name);
    std::optional<FolderLock> saving(std::in_place, dir.path().string());
    ASSERT_TRUE(saving->held());
    dir.write(".metadata.json.Saving", "{}\n");
    std::thread save([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::error_code ec;
        fs::rename(dir.path() / ".metadata.json.Saving", dir.path() / "metadata.json", ec);
        saving.reset();
    });
    EXPECT_EQ(MetadataFile::removeStaleTemporaries(dir.file("metadata.json")), 0);
    save.join();
    EXPECT_EQ(slurp(dir.path() / "metadata.json"), "{}\n");
}

}  // namespace
}  // namespace vorel
