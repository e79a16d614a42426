#include "engine/MetadataStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

#include "engine/FolderLock.h"
#include "tests/TestSupport.h"

namespace vorel {
namespace {

using test::FileClockAt;
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
    EXPECT_TRUE(s.hasCustomSubtitle("a"));
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
    EXPECT_FALSE(store->hasCustomSubtitle("c"));
    EXPECT_FALSE(store->hasCustomSubtitle("d"));
    EXPECT_FALSE(store->hasCustomSubtitle("nobody"));
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
    for (std::string bad : {R"({"a": {"tags": []}, "b": {"name": "x"}})", R"({"a": {"tags": [1]}})", R"({"a": {"tags": "t"}})",
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

    // The last name is tried too.
    dir.write("metadata.json", "{again");
    fs::remove(dir.path() / (aside + "-10"));
    std::string movedTo;
    EXPECT_TRUE(MetadataFile::setAside(file().string(), clock().now(), &movedTo));
    EXPECT_EQ(movedTo, aside + "-10");
    setClock(nullptr);
}

// In a child process of a death test: ends it, saying what failed, unless `ok`.
void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "failed: %s\n", what);
    std::_Exit(1);
}

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kAuditArch = 0;  // not known here: no filter
#endif

// Makes this process's renames with flags fail with EINVAL, as they do on
// a file system that cannot rename without replacing. False where that
// cannot be arranged.
bool refuseRenamesWithFlags() {
    auto stmt = [](std::uint16_t code, std::uint32_t k) { return sock_filter{code, 0, 0, k}; };
    auto ifEqual = [](std::uint32_t k, std::uint8_t skipWhenEqual, std::uint8_t skipOtherwise) {
        return sock_filter{BPF_JMP | BPF_JEQ | BPF_K, skipWhenEqual, skipOtherwise, k};
    };
    sock_filter program[] = {
        stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        ifEqual(kAuditArch, 1, 0),
        stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        ifEqual(__NR_renameat2, 1, 0),
        stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),  // the flags (little-endian low half)
        ifEqual(0, 0, 1),
        stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        stmt(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
    };
    const sock_fprog fprog{static_cast<unsigned short>(std::size(program)), program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) == 0;
}

TEST(MetadataFileDeathTest, AnUnreadableFileIsSetAsideWhereRenamesCannotRefuseToReplace) {
    if (kAuditArch == 0) GTEST_SKIP() << "no system call filter for this processor";
    // In a child process, since the filter stays for the process's life.
    TempDir dir;
    const std::string path = dir.write("metadata.json", "{broken");
    const std::string aside = "metadata.json.unreadable-20261206T211500Z";
    dir.write(aside, "kept before");
    EXPECT_EXIT(
        {
            require(refuseRenamesWithFlags(), "renames with flags refused");
            require(::renameat2(AT_FDCWD, "/nonexistent-a", AT_FDCWD, "/nonexistent-b", RENAME_NOREPLACE) != 0 &&
                        errno == EINVAL,
                    "a rename that must not replace fails as on such a file system");
            std::string movedTo;
            require(MetadataFile::setAside(path, test::utc(2026, 12, 6, 21, 15, 0), &movedTo), "set aside");
            require(movedTo == aside + "-2", "under the first free name");
            require(slurp(dir.path() / aside) == "kept before", "the taken name keeps its file");
            require(slurp(dir.path() / (aside + "-2")) == "{broken", "the file is kept");
            require(!fs::exists(path), "nothing left at the path");
            require(MetadataFile::setAside(path, test::utc(2026, 12, 6, 21, 15, 0)), "no file: nothing to keep");
            // A name with no room for the suffix fails as it does elsewhere.
            const std::string longer = dir.write(std::string(240, 'm'), "{broken");
            std::string error;
            require(!MetadataFile::setAside(longer, test::utc(2026, 12, 6, 21, 15, 0), nullptr, &error) &&
                        error == "File name too long" && slurp(longer) == "{broken",
                    "a name too long is left in place");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MetadataStoreDeathTest, AProcessWithoutStandardInputReadsAndSaves) {
    TempDir dir;
    dir.write("metadata.json", R"({"a": {"name": "A", "tags": []}})");
    EXPECT_EXIT(
        {
            ::close(STDIN_FILENO);  // the first file opened gets descriptor 0
            MetadataStore store(dir.path().string());
            require(store.topic("a", "") == "A", "read");
            store.setName("b", "B");
            require(!store.hasUnsavedChanges(), "saved");
            require(MetadataStore(dir.path().string()).byId().size() == 2, "read back");
            require(MetadataFile::writeAtomically(dir.file("other.json"), "{}\n") &&
                        slurp(dir.path() / "other.json") == "{}\n",
                    "written without a lock");
            require(::fcntl(STDIN_FILENO, F_GETFD) == -1, "nothing left open");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
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
        MetadataStore::Batch idle(s);  // nothing changed: nothing written
    }
    {
        MetadataStore::Batch outer(s);
        {
            MetadataStore::Batch inner(s);
            edits(s);
        }
        EXPECT_TRUE(s.saveNow());  // held back too
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

    // Inside a batch the file is not looked at either.
    MetadataStore other(dir.path().string());
    other.setName("elsewhere", "E");
    {
        MetadataStore::Batch held(s);
        s.takeInExternalChanges();
        EXPECT_FALSE(s.byId().contains("elsewhere"));
    }
    s.takeInExternalChanges();
    EXPECT_TRUE(s.byId().contains("elsewhere"));
}

TEST_F(MetadataStoreTest, FailedSaveIsReportedKeptInMemoryAndRetried) {
    // A disk that is full until told otherwise.
    bool full = true;
    std::string reason = "No space left on device";
    int writes = 0;
    writer = [&](const std::string& path, std::string_view bytes, std::string* error) {
        ++writes;
        if (full) {
            *error = reason;
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
    {
        MetadataStore::Batch held(s);
        s.retryUnsavedChanges();  // held back too
        EXPECT_EQ(writes, 3);
    }
    reason = "Disk quota exceeded";  // still failing, for another reason
    s.retryUnsavedChanges();
    EXPECT_EQ(s.saveError(), "Disk quota exceeded");
    EXPECT_EQ(statusNotified, 2);

    full = false;
    s.retryUnsavedChanges();
    EXPECT_FALSE(s.hasUnsavedChanges());
    EXPECT_EQ(s.saveError(), "");
    EXPECT_EQ(statusNotified, 3);
    EXPECT_EQ(*MetadataFile::decode(slurp(file())), s.byId());  // every change made while failing
    s.retryUnsavedChanges();  // nothing waiting: nothing written
    EXPECT_EQ(writes, 5);

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
    int memoryNotified = 0;
    memory.changed().subscribe([&] { ++memoryNotified; });
    EXPECT_TRUE(memory.saveNow());
    EXPECT_EQ(memoryNotified, 0);
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
    std::string respaced = slurp(file());  // the same records, laid out otherwise
    std::replace(respaced.begin(), respaced.end(), '\n', ' ');
    dir.write("metadata.json", respaced);
    a.takeInExternalChanges();
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

TEST_F(MetadataStoreTest, AFileOlderThanATickIsToldByItsVersionAlone) {
    // The stores look a while after the file was last written: no write
    // can hide behind an unchanged version any more.
    FileClockAt later(FileTimes::nowNs() + 10'000'000'000);
    MetadataStore& a = open(R"({"x": {"name": "X", "tags": []}})");
    a.takeInExternalChanges();
    EXPECT_EQ(notified, 0);

    MetadataStore b(dir.path().string());
    b.setName("y", "From B");
    a.takeInExternalChanges();
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(a.topic("y", ""), "From B");
    a.takeInExternalChanges();
    a.setName("x", "Mine");  // after its own save too
    EXPECT_EQ(notified, 2);
    b.setName("z", "Also from B");
    a.takeInExternalChanges();
    EXPECT_EQ(a.byId().size(), 3u);
    EXPECT_EQ(MetadataFile::decode(slurp(file())), a.byId());

    // An unreadable file found at the start is kept, not written over.
    MetadataStore& c = open("{broken");
    c.setName("c", "C");
    ASSERT_FALSE(c.setAsideName().empty());
    EXPECT_EQ(statusNotified, 1);  // the name it was kept under is news
    const std::string keptAs = c.setAsideName();
    c.setName("d", "D");  // the file is now the store's own: not set aside again
    EXPECT_EQ(c.setAsideName(), keptAs);
    EXPECT_EQ(slurp(dir.path() / c.setAsideName()), "{broken");
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
    const int seen = notified;
    fs::remove(file());
    a.takeInExternalChanges();
    EXPECT_EQ(a.byId().size(), 52u);
    EXPECT_EQ(notified, seen);
    dir.write("metadata.json", "{broken");
    a.takeInExternalChanges();
    a.setName("x", "After");
    EXPECT_EQ(a.byId().size(), 52u);
    EXPECT_FALSE(a.setAsideName().empty());
    EXPECT_EQ(slurp(dir.path() / a.setAsideName()), "{broken");
}

TEST_F(MetadataStoreTest, NoDescriptorIsLeftOpen) {
    auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    const auto before = openDescriptors();
    MetadataStore& s = open("{broken");
    s.setName("a", "A");  // sets the unreadable file aside, then writes
    s.takeInExternalChanges();
    fs::remove(file());
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);  // read, but never opened to wait for a writer
    s.takeInExternalChanges();
    const MetadataFile::ReadResult fifo = MetadataFile::read(file().string());
    EXPECT_EQ(fifo.status, MetadataFile::ReadStatus::Unreadable);
    EXPECT_EQ(fifo.hash, 0u);  // nothing was read
    dir.write(".metadata.json.Ab12Cd", "");
    EXPECT_EQ(MetadataFile::removeStaleTemporaries(file().string()), 1);
    store.reset();
    EXPECT_EQ(openDescriptors(), before);
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
    // What stood there was no file: the new one is private.
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    ASSERT_TRUE(MetadataFile::writeAtomically(path, "{}\n"));
    EXPECT_EQ(modeOf(path), fs::perms::owner_read | fs::perms::owner_write);

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
    // In a folder of the process's own, a new file is left as the system
    // makes it, whatever the folder's group.
    TempDir own;
    ASSERT_EQ(::chown(own.path().c_str(), ::geteuid(), 4343), 0);
    ASSERT_TRUE(MetadataFile::writeAtomically(own.file("metadata.json"), "{}\n"));
    ASSERT_EQ(::stat(own.file("metadata.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, ::getegid());

    // A process that may not give the file to its owner still keeps its
    // group when that is one of its own (a folder a group shares).
    fs::remove(path);
    ASSERT_TRUE(MetadataFile::writeAtomically(path, "{}\n"));
    ASSERT_EQ(::chown(path.c_str(), 4242, 4343), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    EXPECT_EXIT(
        {
            const gid_t groups[] = {4343};
            require(::setgroups(1, groups) == 0 && ::setgid(5005) == 0 && ::setuid(5005) == 0, "another user");
            require(MetadataFile::writeAtomically(path, "{ }\n"), "written");
            struct stat after;
            require(::stat(path.c_str(), &after) == 0 && after.st_uid == 5005 && after.st_gid == 4343 &&
                        (after.st_mode & 07777) == 0664,
                    "group and mode kept");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
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

    // As many links as the system follows, and no more.
    std::string chain = "names.json";
    for (int n = 1; n <= 41; ++n) {
        fs::create_symlink(chain, synced.path() / ("link" + std::to_string(n)));
        chain = "link" + std::to_string(n);
    }
    EXPECT_EQ(MetadataFile::resolvedPath(synced.file("link40")), target.string());
    EXPECT_TRUE(fs::exists(synced.path() / "link40"));
    EXPECT_EQ(MetadataFile::resolvedPath(synced.file("link41")), synced.file("link41"));
    std::error_code tooMany;
    EXPECT_FALSE(fs::exists(synced.path() / "link41", tooMany));
    for (int n = 1; n <= 41; ++n) fs::remove(synced.path() / ("link" + std::to_string(n)));

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
    EXPECT_EQ(MetadataFile::Version::of(path), (MetadataFile::Version{false, 0, 0, 0, 0, 0}));
    EXPECT_EQ(MetadataFile::read(path).status, MetadataFile::ReadStatus::Missing);
    EXPECT_FALSE(MetadataFile::Version{}.mayHideAWriteAfter(0));
    const std::int64_t seenAt =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    ASSERT_TRUE(MetadataFile::writeAtomically(path, "{}\n"));
    const MetadataFile::Version v = MetadataFile::Version::of(path);
    EXPECT_TRUE(v.exists);
    EXPECT_EQ(v.size, 3);
    EXPECT_TRUE(v.mayHideAWriteAfter(seenAt));
    EXPECT_FALSE(v.mayHideAWriteAfter(seenAt + 3'000'000'000));

    // Times count to the nanosecond, and the later of the two is the one
    // a write within the tick would carry.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, 250'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(MetadataFile::Version::of(path).modifiedNs, 1'700'000'000'250'000'000);
    for (auto [modified, changed] : {std::pair{5, 7}, std::pair{7, 5}}) {
        const MetadataFile::Version written{true, 1, 2, 3, modified, changed};
        EXPECT_TRUE(written.mayHideAWriteAfter(7 + 2'000'000'000 - 1));
        EXPECT_FALSE(written.mayHideAWriteAfter(7 + 2'000'000'000));
    }
}

TEST(MetadataFileTest, OnlyStaleTemporariesOfTheFileAreRemoved) {
    TempDir dir;
    const std::vector<std::string> stale = {".metadata.json.a1B2c3", ".metadata.json.XXXXXX", ".metadata.json.000000",
        ".metadata.json.09AZaz"};
    const std::vector<std::string> kept = {"metadata.json", ".metadata.json.abc12", ".metadata.json.abc1234",
        ".metadata.json.ab-123", "metadata.json.a1B2c3", ".other.json.a1B2c3", ".metadata.lock",
        "metadata.json.unreadable-20261206T211500Z", ".metadata.json.a1B2c3x"};
    for (const auto& name : stale) dir.write(name, "{}");
    for (const auto& name : kept) dir.write(name, "{}");
    fs::create_directory(dir.path() / ".metadata.json.Folder");  // not a file: left alone
    fs::create_symlink(dir.path() / "metadata.json", dir.path() / ".metadata.json.Linked");
    EXPECT_EQ(MetadataFile::removeStaleTemporaries(dir.file("metadata.json")), 4);
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
