// A conversation row of the cost model beside its detail: every source's
// rows open with that source's record rules, and a row costs what its
// detail itemizes wherever the two readers count responses alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "detail/ConversationDetailParser.h"
#include "engine/CostModel.h"
#include "engine/CostSource.h"
#include "engine/IncrementalTranscript.h"
#include "engine/MetadataStore.h"
#include "engine/Pricing.h"
#include "engine/Transcript.h"
#include "tests/TestSupport.h"

using namespace vorel;
using namespace vorel::test;

namespace {

namespace T = vorel::Transcript;

// The files holding each response key, over every row of one source kind.
using FilesOfKey = std::map<std::string, std::set<std::string>>;

ParsedSession engineParse(const SessionRow& row, const std::string& path) {
    switch (row.sourceKind) {
        case SourceKind::claudeCode: return T::parseClaude(path);
        case SourceKind::codex: return T::parseCodex(path);
    }
    unknownSourceKind();
}

// Whether the cost model and the detail reader count this row's responses
// alike. Their rules differ on purpose for:
// - a Claude Code key first seen on an unbilled line (no model, or
//   "<synthetic>"): the engine's key is spent, the detail's is not;
// - a response that prices to 0: the engine bills it, the detail leaves its
//   key free for a later line;
// - a Codex token count without running totals: only the engine bills it;
// - a model a later session_meta names: only the detail prices with it;
// - a key in more than one file: the engine counts it once per scope (all
//   Claude Code files, each Codex file), the detail once per conversation.
bool countedAlike(const SessionRow& row, const FilesOfKey& filesOfKey) {
    T::JsonLineParser parser;
    for (const std::string& path : row.transcriptPaths) {
        for (const BilledTurn& t : engineParse(row, path).turns) {
            if (!(t.cost > 0) || filesOfKey.at(t.key).size() > 1) return false;
        }
        bool modelKnown = false;
        T::TranscriptLineReader lines(path);
        while (auto line = lines.next()) {
            auto obj = parser.parse(*line);
            if (!obj) continue;
            const std::string_view type = T::stringValue(T::field(*obj, "type")).value_or("");
            if (row.sourceKind == SourceKind::claudeCode) {
                auto message = T::objectValue(T::field(*obj, "message"));
                if (type != "assistant" || !message || !T::objectValue(T::field(*message, "usage"))) continue;
                const std::string_view model = T::stringValue(T::field(*message, "model")).value_or("");
                if (model.empty() || model == "<synthetic>") return false;
                continue;
            }
            auto payload = T::objectValue(T::field(*obj, "payload"));
            if (!payload) continue;
            const bool namesModel = T::stringValue(T::field(*payload, "model")).has_value();
            if (type == "session_meta" && namesModel && modelKnown) return false;
            if ((type == "session_meta" || type == "turn_context") && namesModel) modelKnown = true;
            auto info = T::objectValue(T::field(*payload, "info"));
            if (type == "event_msg" && info && T::objectValue(T::field(*info, "last_token_usage")) &&
                !T::objectValue(T::field(*info, "total_token_usage"))) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

TEST(RowDetail, EverySourceOpensItsRowsWithItsOwnRecordRules) {
    TempDir dir;
    ScopedSettings roots{Settings{.claudeRoot = dir.file("claude"), .codexRoot = dir.file("codex/sessions")}};
    // One billed response in each source's own format, which the other
    // source's rules read as nothing.
    const std::map<std::string, std::pair<std::string, std::string>> samples{
        {"claude-code", {"claude/p/one.jsonl", claudeUser("Fix the build") + claudeReply("m1", 4000)}},
        {"codex",
         {"codex/sessions/2026/07/05/rollout-a.jsonl",
          codexMeta(R"("id":"t1","cwd":"/w")") + codexLine("turn_context", R"({"model":"gpt-5.5"})") +
              codexTokens(3000, 3000)}},
    };
    const auto sources = standardSources();
    for (const auto& source : sources) {
        auto sample = samples.find(source->id());
        ASSERT_NE(sample, samples.end()) << "no transcript of source " << source->id() << " to open";
        dir.write(sample->second.first, sample->second.second);
    }

    MetadataStore meta(dir.file("meta"));
    FixedClock clock{utc(2026, 7, 5, 12)};
    CostModel model(sources, meta, clock);
    ASSERT_EQ(model.allRows().size(), sources.size());
    std::set<SourceKind> kinds;
    for (const SessionRow& row : model.allRows()) {
        SCOPED_TRACE(row.id);
        kinds.insert(row.sourceKind);
        const ConversationDetail detail = ConversationDetailParser::parse(row.transcriptPaths, row.sourceKind);
        ASSERT_EQ(detail.costEvents().size(), 1u);
        EXPECT_GT(row.total, 0);
        EXPECT_EQ(detail.itemizedCost, row.total);
    }
    EXPECT_EQ(kinds.size(), sources.size());
}

TEST(RowDetail, FixtureRowsCostWhatTheirDetailItemizesWhereBothCountAlike) {
    VOREL_NEEDS_FIXTURES();
    TempDir dir;
    ScopedSettings roots{
        Settings{.claudeRoot = fixturesDir() + "/claude/projects", .codexRoot = fixturesDir() + "/codex/sessions"}};
    MetadataStore meta(dir.file("meta"));
    FixedClock clock{utc(2026, 5, 11, 12)};
    CostModel model(standardSources(), meta, clock);

    std::map<SourceKind, FilesOfKey> filesOfKey;
    for (const SessionRow& row : model.allRows()) {
        for (const std::string& path : row.transcriptPaths) {
            for (const BilledTurn& t : engineParse(row, path).turns) filesOfKey[row.sourceKind][t.key].insert(path);
        }
    }

    std::map<SourceKind, int> compared;
    for (const SessionRow& row : model.allRows()) {
        SCOPED_TRACE(row.id);
        if (!countedAlike(row, filesOfKey[row.sourceKind])) continue;
        ++compared[row.sourceKind];
        // The same responses at the same prices; only the order in which
        // the files' sums are added up differs.
        const ConversationDetail detail = ConversationDetailParser::parse(row.transcriptPaths, row.sourceKind);
        EXPECT_NEAR(detail.itemizedCost, row.total, row.total * 1e-13);
    }
    EXPECT_GE(compared[SourceKind::claudeCode], 9);
    EXPECT_GE(compared[SourceKind::codex], 1);
}

TEST(RowDetailDeathTest, ARowBuiltWithoutAKindIsReadByNoSourcesRules) {
    // A row the cost model did not make has no kind; neither reader, nor
    // the pricing of a response, takes it for any source's.
    const SessionRow row;
    EXPECT_DEATH(ConversationDetailParser::parse({}, row.sourceKind), "");
    EXPECT_DEATH(Pricing::cost({}, Pricing::pricing("claude-opus-4-6"), row.sourceKind), "");
    EXPECT_DEATH(
        {
            IncrementalTranscript reader(row.sourceKind);
            reader.update("/nonexistent.jsonl", 1, 10, DayWindow{});
        },
        "");
}
