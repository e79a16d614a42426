#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CostModel.h"
#include "MetadataStore.h"
#include "TestSupport.h"
#include "Transcript.h"

using namespace vorel;
using namespace std::chrono;
using namespace vorel::test;
namespace fs = std::filesystem;

namespace {

// claude-opus-4-8 bills output at 25 dollars per million tokens.
double opus(int outputTokens) { return outputTokens * 25 / 1e6; }
// gpt-5.5 bills output at 30 dollars per million tokens.
double gpt(int outputTokens) { return outputTokens * 30 / 1e6; }

const std::string kGpt = codexLine("turn_context", R"({"model":"gpt-5.5"})");

std::vector<std::string> idsOf(const std::vector<SessionRow>& rows) {
    std::vector<std::string> ids;
    for (const SessionRow& r : rows) ids.push_back(r.id);
    return ids;
}

class CostModelTest : public ::testing::Test {
protected:
    // Writes a transcript below the temp folder, modified `mtime` seconds
    // after a fixed instant.
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
    EnvVar claudeRoot{"VOREL_CLAUDE_ROOT", dir.file("claude")};
    EnvVar codexRoot{"VOREL_CODEX_ROOT", dir.file("codex/sessions")};
    FixedClock clock{utc(2026, 7, 5, 12)};
    std::unique_ptr<MetadataStore> store_;
    std::unique_ptr<CostModel> model_;
};

}  // namespace

TEST(CostModelText, MenuTitleAndProjectName) {
    EXPECT_EQ(CostModel::menuTitleFor(0), "$0.00");
    EXPECT_EQ(CostModel::menuTitleFor(0.004), "$<0.01");
    EXPECT_EQ(CostModel::menuTitleFor(0.999), "$1.00");
    EXPECT_EQ(CostModel::projectName("/r/-Users-ana-code-billing-api/s.jsonl"), "api");
    EXPECT_EQ(CostModel::projectName("/r/---/s.jsonl"), "---");
}

TEST(SessionRowValues, ModelLinesAndDerivedValues) {
    EXPECT_EQ(modelDisplayName("claude-sonnet-4-5"), "sonnet 4 5");
    EXPECT_EQ(modelDisplayName("gpt-5.4"), "gpt 5.4");
    EXPECT_EQ(modelDisplayName("(unknown OpenAI model)"), "(unknown OpenAI model)");

    SessionRow r;
    EXPECT_EQ(r.primaryModel(), "");
    r.models = {{"opus 4 8", 0.5, false}, {"gpt 5.5", 0.5, true}, {"haiku", 0.1, false}};
    EXPECT_EQ(r.primaryModel(), "opus 4 8");  // the first of equal costs
    const TimePoint now = utc(2026, 7, 5, 12);
    r.lastActivity = now - milliseconds{59'900};
    EXPECT_TRUE(r.isLive(now));
    r.lastActivity = now - seconds{60};
    EXPECT_FALSE(r.isLive(now));
}

TEST_F(CostModelTest, CachedParseIsReusedUntilFileOrDayChanges) {
    EXPECT_TRUE(model().allRows().empty());  // no transcripts yet
    EXPECT_EQ(model().headerRow(), nullptr);
    std::string s1 = put("claude/p/s1.jsonl", claudeUser("today") + claudeReply("m1", 1000), 100);
    put("claude/p/s2.jsonl", claudeUser("earlier") + claudeReply("m2", 2000, "2026-07-01T10:00:00Z"), 50);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 2);
    EXPECT_EQ(idsOf(model().allRows()), (std::vector<std::string>{"claude-code:s1", "claude-code:s2"}));
    EXPECT_EQ(idsOf(model().todayRows()), (std::vector<std::string>{"claude-code:s1"}));
    EXPECT_DOUBLE_EQ(model().todayCost(), opus(1000));
    EXPECT_EQ(model().menuTitle(), "$0.03");

    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 0);

    // Same modification time, new size: parsed again, and only that file.
    dir.write("claude/p/s1.jsonl", claudeUser("today") + claudeReply("m1", 1000) + claudeReply("m3", 3000));
    setFileTime(s1, 100);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 1);
    EXPECT_DOUBLE_EQ(row("claude-code:s1").total, opus(1000) + opus(3000));

    // A new day parses every file again; today's costs start from zero.
    clock.set(utc(2026, 7, 6, 12));
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 2);
    EXPECT_EQ(model().todayCost(), 0);
    EXPECT_TRUE(model().todayRows().empty());

    // A deleted file takes its cost with it, and leaves the cache: brought
    // back with other bytes of the same size and time (and the same inode),
    // it is parsed again rather than taken from a stale entry.
    std::string away = dir.file("s1.away");
    fs::rename(s1, away);
    model().refresh();
    EXPECT_DOUBLE_EQ(model().grandTotal(), opus(2000));
    dir.write("s1.away", claudeUser("today") + claudeReply("m1", 2000) + claudeReply("m3", 3000));
    setFileTime(away, 100);
    fs::rename(away, s1);
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 1);
    EXPECT_DOUBLE_EQ(row("claude-code:s1").total, opus(2000) + opus(3000));
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
    EXPECT_EQ(idsOf(model().allRows()),
              (std::vector<std::string>{"claude-code:s1", "claude-code:s3", "claude-code:s2"}));

    const SessionRow& s1 = row("claude-code:s1");
    EXPECT_EQ(s1.title, "main task");
    EXPECT_DOUBLE_EQ(s1.total, opus(1000) + 2000 * 15 / 1e6 + opus(1000));
    EXPECT_EQ(s1.tokens, 4000);
    EXPECT_EQ(s1.lastActivity, utc(2026, 7, 5, 11));
    EXPECT_EQ(s1.transcriptPaths, (std::vector<std::string>{main, a, b}));
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

TEST_F(CostModelTest, OrderPrimaryFileAndActiveFile) {
    // Equal last activity: the conversation with the newer file comes first.
    put("claude/p/x.jsonl", claudeUser("x") + claudeReply("x1", 1000), 100);
    put("claude/p/y.jsonl", claudeUser("y") + claudeReply("y1", 1000), 200);
    EXPECT_EQ(idsOf(model().allRows()), (std::vector<std::string>{"claude-code:y", "claude-code:x"}));
    // A subagent modified later lends x its date for that rule.
    put("claude/p/x/subagents/agent-1.jsonl", claudeReply("x2", 1000, "2026-07-05T09:00:00Z"), 300);
    model().refresh();
    EXPECT_EQ(idsOf(model().allRows()), (std::vector<std::string>{"claude-code:x", "claude-code:y"}));

    // One conversation in two folders with equal times: the greater path is
    // the primary file, and its title and folder win.
    std::string one = put("claude/proj-one/s.jsonl", claudeUser("first") + claudeReply("s1", 1000), 500);
    std::string two = put("claude/proj-two/s.jsonl", claudeUser("second") + claudeReply("s2", 1000), 500);
    model().refresh();
    const SessionRow& s = row("claude-code:s");
    EXPECT_EQ(s.title, "second");
    EXPECT_EQ(s.project, "two");
    EXPECT_EQ(s.transcriptPaths, (std::vector<std::string>{two, one}));
    EXPECT_DOUBLE_EQ(s.total, opus(2000));

    // Equal newest times across sources: the file listed first (Claude Code)
    // is the active one.
    put("codex/sessions/c.jsonl", codexMeta(R"("id":"t1","cwd":"/a/billing/")") + kGpt + codexTokens(1000, 1000), 500);
    model().refresh();
    EXPECT_EQ(row("codex:t1").project, "billing");
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
    EXPECT_EQ(idsOf(model().allRows()), (std::vector<std::string>{"codex:t1", "codex:t3", "codex:rollout-y"}));
    EXPECT_EQ(idsOf(model().todayRows()), (std::vector<std::string>{"codex:t1", "codex:t3"}));
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
    EXPECT_EQ(byId.at("codex:t1").tags, (std::vector<std::string>{"x", "Y", "z"}));
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
}

TEST_F(CostModelTest, WholePassOverTheFixtures) {
    VOREL_NEEDS_FIXTURES();
    const std::string claudeRoot = fixturesDir() + "/claude/projects";
    EnvVar claude("VOREL_CLAUDE_ROOT", claudeRoot), codex("VOREL_CODEX_ROOT", fixturesDir() + "/codex/sessions");
    clock.set(utc(2026, 5, 11, 12));

    // The expected total, worked out apart from the model: every Claude Code
    // response once, priced as in the newest file that holds it; every Codex
    // thread on its own.
    std::vector<TranscriptFile> claudeFiles = listTranscripts(claudeRoot);
    std::sort(claudeFiles.begin(), claudeFiles.end(), [](const TranscriptFile& a, const TranscriptFile& b) {
        return a.mtimeNs != b.mtimeNs ? a.mtimeNs > b.mtimeNs : a.path > b.path;
    });
    std::map<std::string, double> claudeCost;
    for (const TranscriptFile& f : claudeFiles) {
        for (const BilledTurn& t : Transcript::parseClaude(f.path).turns) claudeCost.try_emplace(t.key, t.cost);
    }
    double expected = 0;
    for (const auto& [key, cost] : claudeCost) expected += cost;
    for (const TranscriptFile& f : CodexSource().transcriptURLs()) expected += Transcript::parseCodex(f.path).totalCost;
    EXPECT_EQ(model().allRows().size(), 10u);
    EXPECT_NEAR(model().grandTotal(), expected, 1e-9);

    // Nothing changed: the next pass parses nothing and publishes the same.
    std::vector<SessionRow> before = model().allRows();
    model().refresh();
    EXPECT_EQ(model().lastPassParseCount(), 0);
    EXPECT_EQ(model().allRows(), before);
}
