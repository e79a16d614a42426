#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "engine/CostModel.h"
#include "engine/FileTimes.h"
#include "engine/LongPath.h"
#include "engine/MetadataStore.h"
#include "engine/Transcript.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace std::chrono;
using namespace vorel::test;
namespace fs = std::filesystem;

namespace {

// Output rates per million tokens: claude-opus-4-8 25, gpt-5.5 30.
double opus(int outputTokens) { return outputTokens * 25 / 1e6; }
double gpt(int outputTokens) { return outputTokens * 30 / 1e6; }
using Ids = std::vector<std::string>;

const std::string kGpt = codexLine("turn_context", R"({"model":"gpt-5.5"})");

Ids idsOf(const std::vector<SessionRow>& rows) {
    Ids ids;
    for (const SessionRow& r : rows) ids.push_back(r.id);
    return ids;
}

class CostModelTest : public ::testing::Test {
protected:
    // Writes a transcript, modified `mtime` seconds after a fixed instant.
    std::string put(const std::string& name, const std::string& bytes, int mtime) {
        std::string path = dir.write(name, bytes);
        setFileTime(path, mtime);
        return path;
    }
    MetadataStore& store() {
        if (!store_) store_ = std::make_unique<MetadataStore>(dir.file("meta"));
        return *store_;
    }
    CostModel& model() {
        if (!model_) model_ = std::make_unique<CostModel>(store(), clock);
        return *model_;
    }
    const SessionRow& row(const std::string& id) {
        for (const SessionRow& r : model().allRows())
            if (r.id == id) return r;
        throw std::runtime_error("no row " + id);
    }

    TempDir dir;
    EnvVar tz{"TZ", "UTC"};
    ScopedSettings roots{Settings{.claudeRoot = dir.file("claude"), .codexRoot = dir.file("codex/sessions")}};
    FixedClock clock{utc(2026, 7, 5, 12)};
    std::unique_ptr<MetadataStore> store_;
    std::unique_ptr<CostModel> model_;
};

}  // namespace

TEST(CostModelText, MenuTitleAndProjectName) {
    EXPECT_EQ(CostModel::menuTitleFor(0), "$0.00");
    EXPECT_EQ(CostModel::menuTitleFor(0.004), "$<0.01");
    EXPECT_EQ(CostModel::menuTitleFor(0.999), "$1.00");
    EXPECT_EQ(CostModel::menuTitleFor(0.01), "$0.01");
    EXPECT_EQ(CostModel::projectName("/r/-Users-ana-code-billing-api/s.jsonl"), "api");
    EXPECT_EQ(CostModel::projectName("/r/---/s.jsonl"), "---");
    EXPECT_EQ(CostModel::projectName("/r/a-billing--/s.jsonl"), "billing");
    EXPECT_EQ(CostModel::projectName("/r/-billing/s.jsonl"), "billing");
    EXPECT_EQ(CostModel::projectName("billing/s.jsonl"), "billing");
    EXPECT_EQ(CostModel::projectName("s.jsonl"), "");

    // The tray's label keeps its point under a comma-decimal locale.
    CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal C library locale could be installed or compiled";
    EXPECT_EQ(CostModel::menuTitleFor(3.27), "$3.27");
    EXPECT_EQ(CostModel::menuTitleFor(1234.5), "$1234.50");
}

TEST(SessionRowValues, ModelLinesAndDerivedValues) {
    EXPECT_EQ(modelDisplayName("claude-sonnet-4-5"), "sonnet 4 5");
    EXPECT_EQ(modelDisplayName("gpt-5.4"), "gpt 5.4");
    EXPECT_EQ(modelDisplayName("(unknown OpenAI model)"), "(unknown OpenAI model)");

    SessionRow r;
    EXPECT_EQ(r.primaryModel(), "");
    r.models = {{"haiku", 0.1, false}};
    EXPECT_FALSE(r.isMixed());
    r.models = {{"opus 4 8", 0.5, false}, {"gpt 5.5", 0.5, true}, {"haiku", 0.1, false}};
    EXPECT_TRUE(r.isMixed());
    EXPECT_EQ(r.primaryModel(), "opus 4 8");  // the first of equal costs
    const TimePoint now = utc(2026, 7, 5, 12);
    r.lastActivity = now - milliseconds{59'900};
    EXPECT_TRUE(r.isLive(now));
    r.lastActivity = now - seconds{60};
    EXPECT_FALSE(r.isLive(now));
}

TEST_F(CostModelTest, CachedParseIsReusedUntilFileOrDayChanges) {
    using Kind = CostModel::PassKind;
    EXPECT_TRUE(model().allRows().empty());  // no transcripts yet
    EXPECT_EQ(model().headerRow(), nullptr);
    EXPECT_EQ(model().lastPassKind(), Kind::otherPaths);  // nothing listed before
    std::string s1 = put("claude/p/s1.jsonl", claudeUser("today") + claudeReply("m1", 1000), 100);
    put("claude/p/s2.jsonl", claudeUser("earlier") + claudeReply("m2", 2000, "2026-07-01T10:00:00Z"), 50);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 2);
    EXPECT_EQ(model().lastPassKind(), Kind::otherPaths);
    EXPECT_EQ(idsOf(model().allRows()), (Ids{"claude-code:s1", "claude-code:s2"}));
    EXPECT_EQ(idsOf(model().todayRows()), (Ids{"claude-code:s1"}));
    EXPECT_DOUBLE_EQ(model().todayCost(), opus(1000));
    EXPECT_EQ(model().menuTitle(), "$0.03");

    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 0);
    EXPECT_EQ(model().lastPassKind(), Kind::unchanged);

    // Same modification time, new size: parsed again, and only that file.
    dir.write("claude/p/s1.jsonl", claudeUser("today") + claudeReply("m1", 1000) + claudeReply("m3", 3000));
    setFileTime(s1, 100);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 1);
    EXPECT_EQ(model().lastPassKind(), Kind::changedFiles);
    EXPECT_DOUBLE_EQ(row("claude-code:s1").total, opus(1000) + opus(3000));
    ASSERT_EQ(model().todayRows().size(), 1u);  // today's list has the new figures too
    EXPECT_DOUBLE_EQ(model().todayRows()[0].today, opus(1000) + opus(3000));

    // A new day parses every file again; today's costs start from zero.
    clock.set(utc(2026, 7, 6, 12));
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 2);
    EXPECT_EQ(model().lastPassKind(), Kind::changedFiles);
    EXPECT_EQ(model().todayCost(), 0);
    EXPECT_TRUE(model().todayRows().empty());

    // A deleted file takes its cost with it, and leaves the cache: brought
    // back with other bytes of the same size and time (and the same inode),
    // it is parsed again rather than taken from a stale entry. On another
    // day still, the file that stays is parsed again too.
    std::string away = dir.file("s1.away");
    fs::rename(s1, away);
    clock.set(utc(2026, 7, 7, 12));
    model().refresh();
    EXPECT_EQ(model().lastPassKind(), Kind::otherPaths);
    EXPECT_EQ(model().lastPassParseCount(), 1);
    EXPECT_DOUBLE_EQ(model().grandTotal(), opus(2000));
    dir.write("s1.away", claudeUser("today") + claudeReply("m1", 2000) + claudeReply("m3", 3000));
    setFileTime(away, 100);
    fs::rename(away, s1);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 1);
    EXPECT_DOUBLE_EQ(row("claude-code:s1").total, opus(2000) + opus(3000));
}

TEST_F(CostModelTest, ATranscriptPastThePathLimitIsCountedAndFollowed) {
    put("claude/p/near.jsonl", claudeUser("near") + claudeReply("n1", 1000), 100);
    DeepFolder deep(dir.path() / "claude" / "p", 300, "a-folder-with-a-name");
    deep.write("deep.jsonl", claudeUser("deep") + claudeReply("d1", 2000));
    EXPECT_DOUBLE_EQ(row("claude-code:deep").total, opus(2000));
    EXPECT_DOUBLE_EQ(model().grandTotal(), opus(1000) + opus(2000));
    // Just written, its content is checked again rather than parsed.
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 0);

    // Grown, it is read on.
    deep.write("deep.jsonl", claudeReply("d2", 4000), true);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 1);
    EXPECT_DOUBLE_EQ(row("claude-code:deep").total, opus(2000) + opus(4000));

    // Such a path through a folder that is not there opens nothing.
    std::string astray = deep.path() + "/deep.jsonl";
    const std::string first = "/a-folder-with-a-name/";
    astray.replace(astray.find(first), first.size(), "/no-folder-by-this-name/");
    struct stat st {};
    EXPECT_EQ(openLongPath(astray, O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(statLongPath(astray, &st), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(CostModelTest, AFileChangedWithoutItsTimesShowingItIsReadAgain) {
    const std::string path = put("claude/p/s.jsonl", claudeUser("s") + claudeReply("m1", 1000), 100);
    const std::string other = put("claude/p/t.jsonl", claudeUser("t") + claudeReply("t1", 1000), 100);
    EXPECT_DOUBLE_EQ(row("claude-code:s").total, opus(1000));

    // Once its times are a tick old, it is known by them alone. Rewritten
    // then at the same size, in place, its modification time put back (a
    // restore, a sync): its status-change time moved.
    std::this_thread::sleep_for(std::chrono::nanoseconds(FileTimes::kTickNs) + 100ms);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 0);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << claudeUser("s") + claudeReply("m1", 2000);
    setFileTime(path, 100);
    model().refresh();
    EXPECT_DOUBLE_EQ(row("claude-code:s").total, opus(2000));
    // So too in a pass that lists another path besides.
    std::ofstream(other, std::ios::binary | std::ios::trunc) << claudeUser("t") + claudeReply("t1", 2000);
    setFileTime(other, 100);
    put("claude/p/u.jsonl", claudeUser("u") + claudeReply("u1", 1000), 100);
    model().refresh();
    EXPECT_EQ(model().lastPassKind(), CostModel::PassKind::otherPaths);
    EXPECT_DOUBLE_EQ(row("claude-code:t").total, opus(2000));

    // Changed again with no time moving at all: read so soon after its last
    // change, its content is checked at the next pass.
    MappedFile mapped(path);
    mapped.put(claudeUser("s") + claudeReply("m1", 3000));
    model().refresh();
    EXPECT_DOUBLE_EQ(row("claude-code:s").total, opus(3000));
    mapped.put(claudeUser("s") + claudeReply("m1", 4000));
    model().refresh();
    EXPECT_DOUBLE_EQ(row("claude-code:s").total, opus(4000));
    // Checked and found the same, it is not parsed again.
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 0);
    EXPECT_DOUBLE_EQ(row("claude-code:s").total, opus(4000));
}

TEST_F(CostModelTest, TodayOnADayWithTwoMidnights) {
    // Azores, 2026-10-25: 01:00 falls back to 00:00. Today runs from the
    // first midnight (00:00 UTC) to the next day's (01:00 UTC on the 26th).
    EnvVar azores("TZ", "Atlantic/Azores");
    put("claude/p/s1.jsonl",
        claudeUser("early") + claudeReply("m1", 1000, "2026-10-25T00:30:00Z") +
            claudeReply("m2", 2000, "2026-10-26T00:30:00Z") + claudeReply("m3", 4000, "2026-10-26T01:00:00Z"),
        100);
    put("claude/p/s2.jsonl", claudeUser("late") + claudeReply("m4", 8000, "2026-10-24T23:59:59Z"), 50);
    clock.set(utc(2026, 10, 25, 0, 45));
    model().refresh();
    EXPECT_DOUBLE_EQ(model().todayCost(), opus(1000) + opus(2000));
    EXPECT_EQ(idsOf(model().todayRows()), (Ids{"claude-code:s1"}));
}

TEST_F(CostModelTest, ResponseCountsOnceInTheNewestFileOfItsScope) {
    put("claude/p/old.jsonl", claudeUser("old") + claudeReply("m1", 1000) + claudeReply("m2", 2000), 100);
    std::string newFile =
        put("claude/p/new.jsonl", claudeUser("new") + claudeReply("m1", 1000) + claudeReply("m3", 3000), 200);
    put("claude/q/older.jsonl", claudeUser("resumed away") + claudeReply("m3", 3000), 50);
    // Two Codex threads with the same running total never affect each other.
    put("codex/sessions/a.jsonl", codexMeta(R"("id":"t1")") + kGpt + codexTokens(1000, 5000), 150);
    put("codex/sessions/b.jsonl", codexMeta(R"("id":"t2")") + kGpt + codexTokens(1000, 5000), 160);

    EXPECT_DOUBLE_EQ(row("claude-code:new").total, opus(1000) + opus(3000));
    EXPECT_DOUBLE_EQ(row("claude-code:old").total, opus(2000));
    EXPECT_THROW(row("claude-code:older"), std::runtime_error);  // every response counted elsewhere
    EXPECT_DOUBLE_EQ(row("codex:t1").total, gpt(1000));
    EXPECT_DOUBLE_EQ(row("codex:t2").total, gpt(1000));
    EXPECT_DOUBLE_EQ(model().grandTotal(), opus(1000) + opus(2000) + opus(3000) + 2 * gpt(1000));

    // De-duplication starts afresh on every pass from the cached parses:
    // with the newer file gone, the unchanged older ones count their
    // responses again without being parsed again.
    fs::remove(newFile);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 0);
    EXPECT_DOUBLE_EQ(row("claude-code:old").total, opus(1000) + opus(2000));
    EXPECT_DOUBLE_EQ(row("claude-code:older").total, opus(3000));
}

TEST_F(CostModelTest, SubagentsFoldIntoTheirConversation) {
    std::string main = put("claude/p/s1.jsonl", claudeUser("main task") + claudeReply("m1", 1000), 100);
    std::string a = put("claude/p/s1/subagents/agent-a.jsonl",
                        claudeUser("look") + claudeReply("a1", 2000, "2026-07-05T11:00:00Z", "claude-sonnet-4-5"), 300);
    std::string b = put("claude/p/s1/subagents/agent-b.jsonl", claudeReply("b1", 1000, "2026-07-05T10:30:00Z"), 200);
    put("claude/p/s2/subagents/agent-c.jsonl", claudeReply("c1", 1000, "2026-07-05T09:00:00Z"), 150);
    put("claude/p/s3.jsonl", claudeUser("other") + claudeReply("x1", 1000, "2026-07-05T10:45:00Z"), 400);

    // The subagent's later activity puts s1 first.
    EXPECT_EQ(idsOf(model().allRows()), (Ids{"claude-code:s1", "claude-code:s3", "claude-code:s2"}));

    const SessionRow& s1 = row("claude-code:s1");
    EXPECT_EQ(s1.title, "main task");
    EXPECT_DOUBLE_EQ(s1.total, opus(1000) + 2000 * 15 / 1e6 + opus(1000));
    EXPECT_EQ(s1.tokens, 4000);
    EXPECT_EQ(s1.lastActivity, utc(2026, 7, 5, 11));
    EXPECT_EQ(s1.transcriptPaths, (Ids{main, a, b}));
    // Subagents newest file first.
    ASSERT_EQ(s1.subagentCount(), 2);
    const SubagentRow& first = s1.subagents[0];
    EXPECT_EQ(first.id, "claude-code:s1:agent:agent-a");
    EXPECT_EQ(first.name, "Agent a");
    EXPECT_DOUBLE_EQ(first.total, 2000 * 15 / 1e6);
    EXPECT_EQ(s1.subagents[1].name, "Agent b");

    // Its main file gone, a conversation lives on under its own row id.
    EXPECT_EQ(row("claude-code:s2").title, "Subagent activity");
    EXPECT_EQ(row("claude-code:s2").subagentCount(), 1);

    // The newest file is s3's: its row is the header though it is not first.
    ASSERT_NE(model().headerRow(), nullptr);
    EXPECT_EQ(model().headerRow()->id, "claude-code:s3");
}

TEST_F(CostModelTest, RowFieldsAndTheirTies) {
    // Its first response starts a row; equal model costs list by name.
    put("claude/p/a.jsonl",
        claudeUser("a") + claudeReply("a1", 5000, "2026-07-05T09:00:00Z", "claude-sonnet-4-5") +
            claudeReply("a2", 3000, "2026-07-05T10:00:00Z"),
        100);
    // Equal last activity and file time: by row id.
    put("claude/p/b.jsonl", claudeReply("b1", 1000, "2026-07-05T10:00:00Z"), 100);
    // A subagent whose conversation's own file is not listed keeps a title
    // of its own.
    put("codex/sessions/s.jsonl",
        codexMeta(R"("id":"t2","parent_thread_id":"t1")") + kGpt +
            codexLine("event_msg", R"({"type":"user_message","message":"look around"})") + codexTokens(100, 100),
        50);
    // The costlier model first, whatever its name.
    put("claude/p/c.jsonl",
        claudeUser("c") + claudeReply("c1", 1000, "2026-07-05T08:00:00Z") +
            claudeReply("c2", 5000, "2026-07-05T08:00:00Z", "claude-sonnet-4-5"),
        100);
    EXPECT_EQ(idsOf(model().allRows()), (Ids{"claude-code:a", "claude-code:b", "codex:t1", "claude-code:c"}));
    ASSERT_EQ(row("claude-code:c").models.size(), 2u);
    EXPECT_EQ(row("claude-code:c").models[0].name, "sonnet 4 5");

    const SessionRow& a = row("claude-code:a");
    EXPECT_EQ(a.startTime, utc(2026, 7, 5, 9));
    EXPECT_EQ(a.lastActivity, utc(2026, 7, 5, 10));
    ASSERT_EQ(a.models.size(), 2u);
    EXPECT_DOUBLE_EQ(a.models[0].cost, a.models[1].cost);
    EXPECT_EQ(a.models[0].name, "opus 4 8");
    EXPECT_EQ(a.models[1].name, "sonnet 4 5");
    EXPECT_EQ(row("claude-code:b").title, "(untitled session)");
    EXPECT_EQ(row("codex:t1").title, "look around");
}

TEST_F(CostModelTest, OrderPrimaryFileAndActiveFile) {
    // Equal last activity: the conversation with the newer file comes first.
    put("claude/p/x.jsonl", claudeUser("x") + claudeReply("x1", 1000), 100);
    put("claude/p/y.jsonl", claudeUser("y") + claudeReply("y1", 1000), 200);
    EXPECT_EQ(idsOf(model().allRows()), (Ids{"claude-code:y", "claude-code:x"}));
    // A subagent modified later lends x its date for that rule.
    put("claude/p/x/subagents/agent-1.jsonl", claudeReply("x2", 1000, "2026-07-05T09:00:00Z"), 300);
    model().refresh();
    EXPECT_EQ(idsOf(model().allRows()), (Ids{"claude-code:x", "claude-code:y"}));

    // One conversation in two folders with equal times: the greater path is
    // the primary file, and its title and folder win.
    std::string one = put("claude/proj-one/s.jsonl", claudeUser("first") + claudeReply("s1", 1000), 500);
    std::string two = put("claude/proj-two/s.jsonl", claudeUser("second") + claudeReply("s2", 1000), 500);
    model().refresh();
    const SessionRow& s = row("claude-code:s");
    EXPECT_EQ(s.title, "second");
    EXPECT_EQ(s.project, "two");
    EXPECT_EQ(s.transcriptPaths, (Ids{two, one}));
    EXPECT_DOUBLE_EQ(s.total, opus(2000));

    // Equal newest times across sources: the file listed first (Claude Code)
    // is the active one.
    put("codex/sessions/c.jsonl", codexMeta(R"("id":"t1","cwd":"/a/billing/")") + kGpt + codexTokens(1000, 1000), 500);
    model().refresh();
    EXPECT_EQ(row("codex:t1").project, "billing");
    put("codex/sessions/d.jsonl", codexMeta(R"("id":"t2","cwd":"/")") + kGpt + codexTokens(1000, 1000), 50);
    model().refresh();
    EXPECT_EQ(row("codex:t2").project, "/");  // the root folder keeps its name
    EXPECT_TRUE(row("claude-code:s").isActive);
    ASSERT_NE(model().headerRow(), nullptr);
    EXPECT_EQ(model().headerRow()->id, "claude-code:s");

    // The newest file belongs to no kept conversation: no row is active.
    put("claude/p/empty.jsonl", claudeUser("nothing billed"), 600);
    model().refresh();
    EXPECT_EQ(model().headerRow(), nullptr);
    for (const SessionRow& r : model().allRows()) EXPECT_FALSE(r.isActive) << r.id;
}

TEST_F(CostModelTest, CodexConversationsAndTheirAnnotations) {
    dir.write("meta/metadata.json",
              R"({"rollout-x":{"name":"Old name","tags":["x"]},"codex:rollout-x":{"tags":["Y","X","z"]}})");
    const std::string day = "codex/sessions/2026/07/05/";
    const std::string ask = codexLine("event_msg", R"({"type":"user_message","message":"fix the export"})");
    put(day + "rollout-x.jsonl", codexMeta(R"("id":"t1","cwd":"/w/billing")") + kGpt + ask + codexTokens(1000, 1000), 100);
    put(day + "rollout-sub.jsonl",
        codexMeta(R"("id":"t2","parent_thread_id":"t1","agent_nickname":"Scout")") + kGpt + codexTokens(2000, 2000), 200);
    // A subagent naming no parent, priced before any model was named; an
    // archived file without a session id.
    put(day + "rollout-lone.jsonl",
        codexMeta(R"("id":"t3","thread_source":"subagent")") + codexTokens(1000, 1000, "2026-07-05T08:00:00Z"), 50);
    put("codex/archived_sessions/rollout-y.jsonl", kGpt + codexTokens(1000, 1000, "2026-07-01T10:00:00Z"), 10);

    int metaSaves = 0;
    store().changed().subscribe([&] { ++metaSaves; });
    EXPECT_EQ(idsOf(model().allRows()), (Ids{"codex:t1", "codex:t3", "codex:rollout-y"}));
    EXPECT_EQ(idsOf(model().todayRows()), (Ids{"codex:t1", "codex:t3"}));
    EXPECT_EQ(metaSaves, 1);  // migrations and suggestions of one pass, saved once

    const SessionRow& t1 = row("codex:t1");
    EXPECT_EQ(t1.title, "fix the export");
    EXPECT_DOUBLE_EQ(t1.total, gpt(1000) + gpt(2000));
    ASSERT_EQ(t1.subagentCount(), 1);
    EXPECT_EQ(t1.subagents[0].id, "codex:t2");
    EXPECT_EQ(t1.subagents[0].name, "Scout");
    const SessionRow& t3 = row("codex:t3");
    ASSERT_EQ(t3.subagentCount(), 1);
    EXPECT_EQ(t3.subagents[0].name, "rollout-lone");
    EXPECT_TRUE(t3.hasEstimated());

    // Annotations kept under the file's stem, bare or with the source id,
    // now belong to the thread's row id.
    const auto& byId = store().byId();
    EXPECT_FALSE(byId.contains("rollout-x") || byId.contains("codex:rollout-x"));
    ASSERT_TRUE(byId.contains("codex:t1"));
    EXPECT_EQ(byId.at("codex:t1").name, "Old name");
    EXPECT_EQ(byId.at("codex:t1").tags, (Ids{"x", "Y", "z"}));
    // Every other row has a suggested name, and the one save wrote all of it.
    EXPECT_TRUE(byId.contains("codex:rollout-y") && byId.at("codex:rollout-y").suggestedName);
    EXPECT_EQ(MetadataStore(dir.file("meta")).byId(), byId);

    // Passes that change nothing save nothing but still notify the model's
    // observers; a pass with a new conversation saves again.
    int passes = 0;
    model().changed().subscribe([&] { ++passes; });
    model().refresh();
    model().refresh();
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(metaSaves, 1);
    put(day + "rollout-z.jsonl", codexMeta(R"("id":"t9")") + kGpt + codexTokens(500, 500), 300);
    model().refresh();
    EXPECT_EQ(passes, 3);
    EXPECT_EQ(metaSaves, 2);

    // A tag stored under the old id after a pass that changed nothing (by
    // another window) still moves at the next pass, though no file changed.
    model().refresh();
    store().addTag("rollout-x", "late");
    model().refresh();
    EXPECT_FALSE(store().byId().contains("rollout-x"));
    EXPECT_EQ(store().byId().at("codex:t1").tags, (Ids{"x", "Y", "z", "late"}));

    // A subagent's file that turns up later, in a conversation whose row
    // keeps its title, still has the note kept under its stem moved.
    store().setName("rollout-late", "Late helper");
    model().refresh();
    put(day + "rollout-late.jsonl", codexMeta(R"("id":"t5","parent_thread_id":"t1")") + kGpt + codexTokens(100, 100),
        400);
    model().refresh();
    EXPECT_EQ(row("codex:t1").subagentCount(), 2);
    EXPECT_FALSE(store().byId().contains("rollout-late"));
    EXPECT_EQ(store().byId().at("codex:t5").name, "Late helper");

    // A conversation that starts to cost something gets a suggested name,
    // though its file was known (at no cost) before.
    put(day + "rollout-free.jsonl", codexMeta(R"("id":"t6")") + ask, 500);
    model().refresh();
    model().refresh();
    EXPECT_FALSE(store().byId().contains("codex:t6"));
    put(day + "rollout-free.jsonl", codexMeta(R"("id":"t6")") + ask + kGpt + codexTokens(100, 100), 600);
    model().refresh();
    EXPECT_TRUE(store().byId().contains("codex:t6") && store().byId().at("codex:t6").suggestedName);
}

TEST_F(CostModelTest, MetadataCallsAreLeftOutOnlyWhenEachWouldChangeNothing) {
    const std::string day = "codex/sessions/2026/07/05/";
    const std::string s1 = put("claude/p/s1.jsonl", claudeUser("first task") + claudeReply("m1", 1000), 100);
    put("claude/p/s2.jsonl", claudeUser("second task") + claudeReply("m2", 1000), 90);
    EXPECT_TRUE(model().lastPassCalledMetadata());
    // Those calls stored suggestions: made once more, and left out after a
    // round that changed nothing.
    model().refresh();
    EXPECT_TRUE(model().lastPassCalledMetadata());
    model().refresh();
    EXPECT_FALSE(model().lastPassCalledMetadata());

    // A grown file, its conversation rebuilt with the same ids and title.
    dir.write("claude/p/s1.jsonl", claudeUser("first task") + claudeReply("m1", 1000) + claudeReply("m3", 1000));
    setFileTime(s1, 110);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 1);
    EXPECT_FALSE(model().lastPassCalledMetadata());

    // A change to the store by anyone: made once, then left out again.
    store().setName("claude-code:s2", "Named");
    model().refresh();
    EXPECT_TRUE(model().lastPassCalledMetadata());
    model().refresh();
    EXPECT_FALSE(model().lastPassCalledMetadata());

    // A rebuilt conversation with another title.
    dir.write("claude/p/s1.jsonl", claudeUser("other task") + claudeReply("m1", 1000) + claudeReply("m3", 1000));
    setFileTime(s1, 120);
    model().refresh();
    EXPECT_TRUE(model().lastPassCalledMetadata());
    model().refresh();
    model().refresh();
    EXPECT_FALSE(model().lastPassCalledMetadata());

    // A file of no cost, so of no row, whose transcript id moves away from
    // its stem: the note kept under the stem follows it.
    const std::string free = put(day + "rollout-q.jsonl", codexLine("event_msg", R"({"type":"user_message","message":"hi"})"), 130);
    model().refresh();
    store().setName("codex:rollout-q", "Kept note");
    model().refresh();
    model().refresh();
    EXPECT_FALSE(model().lastPassCalledMetadata());
    dir.write(day + "rollout-q.jsonl", codexMeta(R"("id":"t8")"));
    setFileTime(free, 140);
    model().refresh();
    EXPECT_TRUE(model().lastPassCalledMetadata());
    EXPECT_FALSE(store().byId().contains("codex:rollout-q"));
    ASSERT_TRUE(store().byId().contains("codex:t8"));
    EXPECT_EQ(store().byId().at("codex:t8").name, "Kept note");
    // Calls are made again for it whenever its id moves on.
    model().refresh();
    model().refresh();
    EXPECT_FALSE(model().lastPassCalledMetadata());
    dir.write(day + "rollout-q.jsonl", codexMeta(R"("id":"t9")"));
    setFileTime(free, 150);
    model().refresh();
    EXPECT_TRUE(model().lastPassCalledMetadata());
}

TEST_F(CostModelTest, WholePassOverTheFixtures) {
    VOREL_NEEDS_FIXTURES();
    const std::string claudeRoot = fixturesDir() + "/claude/projects";
    ScopedSettings fixtures(Settings{.claudeRoot = claudeRoot, .codexRoot = fixturesDir() + "/codex/sessions"});
    clock.set(utc(2026, 5, 11, 12));

    // The expected total, worked out apart from the model: every Claude Code
    // response once, priced as in the newest file that holds it; every Codex
    // thread on its own.
    std::vector<TranscriptFile> claudeFiles = listTranscripts(claudeRoot);
    std::sort(claudeFiles.begin(), claudeFiles.end(), [](const TranscriptFile& a, const TranscriptFile& b) {
        return a.mtimeNs != b.mtimeNs ? a.mtimeNs > b.mtimeNs : a.path > b.path;
    });
    std::map<std::string, double> claudeCost;
    for (const TranscriptFile& f : claudeFiles)
        for (const BilledTurn& t : Transcript::parseClaude(f.path).turns) claudeCost.try_emplace(t.key, t.cost);
    double expected = 0;
    for (const auto& [key, cost] : claudeCost) expected += cost;
    for (const TranscriptFile& f : CodexSource().transcriptURLs()) expected += Transcript::parseCodex(f.path).totalCost;
    EXPECT_EQ(model().allRows().size(), 10u);
    EXPECT_NEAR(model().grandTotal(), expected, 1e-9);
}

TEST_F(CostModelTest, OverlappingSourceFoldersReadEachFileAsTwoFiles) {
    // One Claude Code conversation and one Codex thread, laid out under the
    // two roots in several ways. Where the roots overlap, each source also
    // lists the other's file and reads it with its own parser, which finds
    // nothing to price in it: the rows are those of two separate folders.
    const std::string claudeFile = claudeUser("claude side") + claudeReply("m1", 1000) + claudeReply("m2", 2000);
    const std::string codexFile = codexMeta(R"("id":"t1")") + kGpt + codexTokens(3000, 3000);
    struct Layout {
        const char *name, *claudeRoot, *codexRoot, *claudePath, *codexPath;
    };
    const Layout layouts[] = {
        {"apart", "a/claude", "a/codex/sessions", "a/claude/p/s1.jsonl", "a/codex/sessions/2026/07/05/r.jsonl"},
        {"one folder", "b/both", "b/both", "b/both/p/s1.jsonl", "b/both/2026/07/05/r.jsonl"},
        {"Codex inside", "c/claude", "c/claude/codex/sessions", "c/claude/p/s1.jsonl",
         "c/claude/codex/sessions/2026/07/05/r.jsonl"},
        {"Claude Code inside", "d/codex/sessions/claude", "d/codex/sessions", "d/codex/sessions/claude/p/s1.jsonl",
         "d/codex/sessions/2026/07/05/r.jsonl"},
    };
    // Each row as text, by row id.
    auto seen = [](const CostModel& m) {
        std::vector<std::string> out;
        for (const SessionRow& r : m.allRows()) {
            char figures[64];
            std::snprintf(figures, sizeof figures, " %.6f %.6f %zu", r.total, r.today, r.transcriptPaths.size());
            out.push_back(r.id + " " + r.source + figures);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        std::string claudePath = put(l.claudePath, claudeFile, 100);
        put(l.codexPath, codexFile, 200);
        ScopedSettings layout(Settings{.claudeRoot = dir.file(l.claudeRoot), .codexRoot = dir.file(l.codexRoot)});
        MetadataStore meta("");
        CostModel m(meta, clock);
        EXPECT_EQ(seen(m), (Ids{"claude-code:s1 Claude Code 0.075000 0.075000 1", "codex:t1 Codex 0.090000 0.090000 1"}));
        EXPECT_DOUBLE_EQ(m.grandTotal(), opus(3000) + gpt(3000));

        // Later passes keep each source's reading apart, for a file that
        // changed as for one that did not.
        dir.write(l.claudePath, claudeFile + claudeReply("m3", 4000));
        setFileTime(claudePath, 300);
        m.refresh();
        m.refresh();
        EXPECT_EQ(seen(m), (Ids{"claude-code:s1 Claude Code 0.175000 0.175000 1", "codex:t1 Codex 0.090000 0.090000 1"}));
    }
}

namespace {

// Every field of a row, numbers to the last digit, so a failure shows what
// differs.
std::string describe(const std::vector<SessionRow>& rows) {
    auto num = [](double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return std::string(buf);
    };
    auto time = [](TimePoint t) { return std::to_string(t.time_since_epoch().count()); };
    // The fields a row and a subagent row share.
    auto common = [&](const auto& r, const std::string& indent) {
        std::string s = num(r.total) + " " + num(r.today) + " " + time(r.lastActivity) + " " + std::to_string(r.tokens);
        for (const ModelLine& m : r.models) s += " [" + m.name + " " + num(m.cost) + (m.estimated ? " est]" : "]");
        for (const std::string& p : r.transcriptPaths) s += "\n" + indent + "file " + p;
        return s + "\n";
    };
    std::string out;
    for (const SessionRow& r : rows) {
        out += r.id + " | " + r.source + " | " + r.title + " | " + r.project + (r.isActive ? " active " : " ") +
               time(r.startTime) + " " + common(r, "  ");
        for (const SubagentRow& s : r.subagents) out += "  sub " + s.id + " | " + s.name + " " + common(s, "    ");
    }
    return out;
}

// A random history of the transcript folders: files of both assistants,
// subagents, responses copied between files, and the day moving on. Each
// step makes several changes before the next pass, as a real pass sees
// them, and counts them by kind.
class TranscriptHistory {
public:
    enum Kind {
        dayMoves,
        created,
        appended,
        rewritten,
        truncated,
        touched,
        deleted,
        rewrittenAndAppended,
        appendedKeepingTime,
        kKinds
    };
    static constexpr const char* kKindNames[] = {
        "day moves on", "new",    "append",             "rewrite", "truncate", "touch",
        "delete",       "rewrite and append", "append keeping the time"};

    TranscriptHistory(const TempDir& dir, FixedClock& clock, unsigned seed) : dir_(dir), clock_(clock), rng_(seed) {}

    // One to four changes to the folders or the clock; returns what they were.
    std::string step() {
        std::string done;
        for (unsigned n = 1 + pick(4); n > 0; --n) done += (done.empty() ? "" : ", ") + change();
        return done;
    }

    // How many changes of each kind the steps so far made.
    int count(Kind k) const { return counts_[k]; }

private:
    std::string change() {
        ++stamp_;
        const unsigned what = pick(100);
        if (what < 8) {
            clock_.advance(hours{1 + static_cast<int>(pick(30))});
            return did(dayMoves, "");
        }
        const std::string name = kNames[pick(std::size(kNames))];
        auto it = files_.find(name);
        if (it == files_.end()) {
            files_[name] = lines(name, 1 + pick(4));
            write(name);
            return did(created, name);
        }
        std::string& bytes = it->second;
        if (what < 40) return did(appended, append(name, 1 + pick(3)));
        if (what < 45) {
            // Grown within the same tick of the file's clock: only the
            // size tells.
            const int time = times_[name];
            append(name, 1);
            setFileTime(dir_.file(name), time);
            times_[name] = time;
            return did(appendedKeepingTime, name);
        }
        if (what < 60) {
            bytes = lines(name, 1 + pick(4));
            write(name);
            // Rewritten, then grown again before the pass looks.
            if (pick(3) == 0) return did(rewrittenAndAppended, append(name, 1 + pick(2)));
            return did(rewritten, name);
        }
        if (what < 75) {
            bytes.resize(pick(bytes.size() + 1));  // also inside a line: its rest may follow
            write(name);
            return did(truncated, name);
        }
        if (what < 82) {
            setFileTime(dir_.file(name), times_[name] = stamp_);
            return did(touched, name);
        }
        fs::remove(dir_.file(name));
        files_.erase(it);
        return did(deleted, name);
    }

    std::string did(Kind k, const std::string& name) {
        ++counts_[k];
        return kKindNames[k] + (name.empty() ? "" : " " + name);
    }

    std::string append(const std::string& name, unsigned n) {
        std::string& bytes = files_[name];
        const size_t had = bytes.size();
        bytes += lines(name, n);
        std::ofstream(dir_.file(name), std::ios::binary | std::ios::app) << bytes.substr(had);
        setFileTime(dir_.file(name), times_[name] = ++stamp_);
        return name;
    }

    static constexpr const char* kNames[] = {
        "claude/p/s1.jsonl", "claude/p/s2.jsonl", "claude/q/s1.jsonl", "claude/p/s1/subagents/agent-a.jsonl",
        "claude/p/s1/subagents/agent-b.jsonl", "claude/p/s3/subagents/agent-c.jsonl",
        "codex/sessions/2026/07/05/r1.jsonl", "codex/sessions/2026/07/05/r2.jsonl",
        "codex/sessions/2026/07/06/r3.jsonl", "codex/sessions/2026/07/06/r4.jsonl", "codex/archived_sessions/r5.jsonl"};

    unsigned pick(size_t n) { return static_cast<unsigned>(rng_() % n); }

    // A time near now: today, yesterday or earlier.
    std::string when() {
        static const int kHoursBack[] = {0, 1, 3, 20, 30, 80};
        return isoUtc(clock_.now() - hours{kHoursBack[pick(std::size(kHoursBack))]} - minutes{pick(60)});
    }

    // Lines for a file; responses come from a small pool of ids and totals,
    // so files share them.
    std::string lines(const std::string& name, unsigned n) {
        std::string out;
        const bool codex = name.starts_with("codex/");
        for (unsigned i = 0; i < n; ++i) {
            const unsigned kind = pick(10);
            static const char* kMeta[] = {R"("id":"t1","cwd":"/w/billing")", R"("id":"t2")",
                                          R"("id":"t3","parent_thread_id":"t1","agent_nickname":"Scout")",
                                          R"("id":"t4","thread_source":"subagent")"};
            if (codex && kind == 0) out += codexMeta(kMeta[pick(std::size(kMeta))], when());
            else if (codex && kind == 1)
                out += codexLine("turn_context", pick(2) ? R"({"model":"gpt-5.5"})" : R"({"model":"gpt-5.4"})");
            else if (codex && kind == 2)
                out += codexLine("event_msg", R"({"type":"user_message","message":"fix the export"})", when());
            else if (codex) out += codexTokens(100 * int(1 + pick(9)), 1000 * int(1 + pick(6)), when());
            else if (kind < 2) out += claudeUser("task " + std::to_string(pick(3)), pick(2) ? "/w/api" : "");
            else
                out += claudeReply("m" + std::to_string(pick(12)), 100 * int(1 + pick(20)), when(),
                                   pick(4) ? "claude-opus-4-8" : "claude-mystery");
        }
        return out;
    }

    void write(const std::string& name) {
        dir_.write(name, files_[name]);
        setFileTime(dir_.file(name), times_[name] = stamp_);
    }

    const TempDir& dir_;
    FixedClock& clock_;
    std::mt19937 rng_;
    int stamp_ = 0;
    std::map<std::string, std::string> files_;
    std::map<std::string, int> times_;  // each file's modification time, as set
    int counts_[kKinds] = {};
};

}  // namespace

// A model kept through any history of changes shows what a model made
// afresh over the same files shows. With the last seed, the Claude Code
// folder holds the Codex one, so both sources read the Codex files. The
// models must hold rows, today's too, through most steps, and every kind of
// change must have happened, or the comparison proves little.
TEST_F(CostModelTest, RefreshedModelEqualsOneBuiltAfresh) {
    constexpr int kSteps = 60;
    for (unsigned seed : {1u, 2u, 3u}) {
        TempDir folders;
        ScopedSettings folderRoots(Settings{.claudeRoot = seed == 3 ? folders.path().string() : folders.file("claude"),
                                      .codexRoot = folders.file("codex/sessions")});
        clock.set(utc(2026, 7, 5, 21));
        TranscriptHistory history(folders, clock, seed);
        MetadataStore meta("");
        CostModel kept(meta, clock);
        int withRows = 0, withTodayRows = 0;
        for (int i = 0; i < kSteps; ++i) {
            const std::string change = history.step();
            SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(i) + ": " + change);
            kept.refresh();
            MetadataStore freshMeta("");
            CostModel fresh(freshMeta, clock);
            ASSERT_EQ(describe(kept.allRows()), describe(fresh.allRows()));
            ASSERT_TRUE(kept.allRows() == fresh.allRows() && kept.todayRows() == fresh.todayRows());
            ASSERT_EQ(std::tuple(kept.grandTotal(), kept.todayCost(), kept.menuTitle()),
                      std::tuple(fresh.grandTotal(), fresh.todayCost(), fresh.menuTitle()));
            withRows += !kept.allRows().empty();
            withTodayRows += !kept.todayRows().empty();
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_GE(withRows, kSteps * 9 / 10);
        EXPECT_GE(withTodayRows, kSteps / 2);
        for (int k = 0; k < TranscriptHistory::kKinds; ++k)
            EXPECT_GT(history.count(TranscriptHistory::Kind(k)), 0) << TranscriptHistory::kKindNames[k];
    }
}
