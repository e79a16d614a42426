#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <tuple>

#include "engine/Pricing.h"

using namespace vorel;

namespace {

// The row stored under exactly this prefix.
ModelPricing row(std::string_view prefix) {
    for (const RateRow& r : Pricing::displayTable()) {
        if (r.prefix == prefix) return r.pricing;
    }
    ADD_FAILURE() << "no row " << prefix;
    return {};
}

ModelPricing rates(double in, double out, std::optional<double> cached = std::nullopt) {
    ModelPricing p;
    p.inputPerMTok = in;
    p.outputPerMTok = out;
    p.cachedInputPerMTok = cached;
    return p;
}

}  // namespace

TEST(Pricing, LookupByLongestPrefixAndFallbacks) {
    const ModelPricing claude = Pricing::claudeFallbackRate, openAI = Pricing::openAIFallbackRate;
    const struct {
        std::string id;
        ModelPricing expected;
        bool known;
    } cases[] = {
        // The longest matching prefix wins, wherever its row sits.
        {"gpt-5.5-pro-2026-06-01", row("gpt-5.5-pro"), true},
        {"gpt-5.5-2026-06-01", row("gpt-5.5"), true},
        {"gpt-5.3-codex-high", row("gpt-5.3-codex"), true},
        // Spark ids extend row 7 but take the OpenAI fallback.
        {"gpt-5.3-codex-spark-preview", openAI, false},
        {"claude-opus-4-1", row("claude-opus"), true},
        {"claude-sonnet-4-6-20260101", row("claude-sonnet-4-6"), true},
        // Case-sensitive: capitals match no row.
        {"Claude-Opus-4-8", claude, false},
        {"o3", openAI, false},
        {"chatgpt-4o-latest", openAI, false},
        {"gpt-4.1", openAI, false},
        {"", claude, false},
        {"(unknown OpenAI model)", claude, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Pricing::pricing(c.id), c.expected) << c.id;
        EXPECT_EQ(Pricing::isKnown(c.id), c.known) << c.id;
    }
    // No row is hidden behind a shorter one: each is reached by its own prefix.
    for (const RateRow& r : Pricing::displayTable()) EXPECT_EQ(Pricing::pricing(r.prefix), r.pricing) << r.prefix;
    // Multiplied as written, so 3 x 0.1 keeps its rounding.
    EXPECT_EQ(row("claude-sonnet").cacheReadPerMTok(), 0.30000000000000004);
}

TEST(Pricing, LongContextRatesFrom128001InputTokens) {
    ModelPricing gpt55 = Pricing::pricing("gpt-5.5");
    EXPECT_EQ(gpt55.effective(128000), gpt55);
    EXPECT_EQ(gpt55.effective(128001), rates(10, 45, 1));
    EXPECT_EQ(gpt55.effective(INT64_MAX), rates(10, 45, 1));
    // Rows without both long rates never switch.
    EXPECT_EQ(Pricing::pricing("claude-opus-4-8").effective(10'000'000), Pricing::pricing("claude-opus-4-8"));
    ModelPricing noLongOutput{2, 8, 0.2, std::nullopt, std::nullopt, 4, 0.4, std::nullopt};
    EXPECT_EQ(noLongOutput.effective(200000), noLongOutput);
    // A missing long cached rate falls back to the cached rate, then to 0.1 x
    // the long input; cache-write overrides do not carry over.
    ModelPricing noLongCached{2, 8, 0.2, 3, 5, 4, std::nullopt, 12};
    EXPECT_EQ(noLongCached.effective(200000), rates(4, 12, 0.2));
    ModelPricing noCached{2, 8, std::nullopt, std::nullopt, std::nullopt, 4, std::nullopt, 12};
    EXPECT_EQ(noCached.effective(200000).cacheReadPerMTok(), 4 * 0.1);
}

TEST(Pricing, AResponseCostsItsTermsAddedInItsSourcesOrder) {
    const ModelPricing opus = row("claude-opus-4-6");  // 5 / 25, cache read 0.5, writes 6.25 and 10
    // Here the order of the sum shows in the last bit: (input + output) +
    // cache read for Claude Code, (uncached + cached) + output for Codex.
    const TokenCounts n{8, 3, 11515, 0, 0};
    EXPECT_EQ(Pricing::cost(n, opus, SourceKind::claudeCode).total, 0.005872499999999999);
    EXPECT_EQ(Pricing::cost(n, opus, SourceKind::codex).total, 0.0058725);

    // Each term is its tokens at its own rate; the writes count only for
    // Claude Code, and the cache part is everything read or written there.
    const ResponseCost c = Pricing::cost({8, 3, 11515, 4000, 100}, opus, SourceKind::claudeCode);
    EXPECT_EQ(c.input, 0.00004);
    EXPECT_EQ(c.output, 0.000075);
    EXPECT_EQ(c.cacheWrite5m, 0.025);
    EXPECT_EQ(c.cacheWrite1h, 0.001);
    EXPECT_EQ(c.cache(), 0.0317575);
    EXPECT_EQ(c.total, 0.0318725);
    EXPECT_EQ(Pricing::cost({8, 3, 11515, 4000, 100}, opus, SourceKind::codex).total, 0.0058725);
}

// Every row of the table in its order, with the rates written out as
// published: a mistyped rate or a row out of order fails here, not only in
// the lookup. Derived cache rates too: read at a tenth of the input rate
// unless the row gives one, writes at 1.25 and twice the input rate.
TEST(Pricing, EveryRowAndBothFallbacksAtTheirPublishedRates) {
    using Opt = std::optional<double>;
    const Opt none;
    const struct {
        const char* prefix;
        double in, out;
        Opt cached, longIn, longCached, longOut;
        double read, write5m, write1h;
    } table[] = {
        {"gpt-5.5-pro", 30, 180, 30, 60, 60, 270, 30, 37.5, 60},
        {"gpt-5.5", 5, 30, 0.5, 10, 1, 45, 0.5, 6.25, 10},
        {"gpt-5.4-mini", 0.75, 4.5, 0.075, none, none, none, 0.075, 0.9375, 1.5},
        {"gpt-5.4-nano", 0.2, 1.25, 0.02, none, none, none, 0.02, 0.25, 0.4},
        {"gpt-5.4-pro", 30, 180, 30, 60, 60, 270, 30, 37.5, 60},
        {"gpt-5.4", 2.5, 15, 0.25, 5, 0.5, 22.5, 0.25, 3.125, 5},
        {"gpt-5.3-codex", 1.75, 14, 0.175, none, none, none, 0.175, 2.1875, 3.5},
        {"claude-fable-5", 10, 50, none, none, none, none, 1, 12.5, 20},
        {"claude-mythos-5", 10, 50, none, none, none, none, 1, 12.5, 20},
        {"claude-opus-4-8", 5, 25, none, none, none, none, 0.5, 6.25, 10},
        {"claude-opus-4-7", 5, 25, none, none, none, none, 0.5, 6.25, 10},
        {"claude-opus-4-6", 5, 25, none, none, none, none, 0.5, 6.25, 10},
        {"claude-opus-4-5", 5, 25, none, none, none, none, 0.5, 6.25, 10},
        {"claude-opus", 5, 25, none, none, none, none, 0.5, 6.25, 10},
        {"claude-sonnet-4-6", 3, 15, none, none, none, none, 0.30000000000000004, 3.75, 6},
        {"claude-sonnet-4-5", 3, 15, none, none, none, none, 0.30000000000000004, 3.75, 6},
        {"claude-sonnet", 3, 15, none, none, none, none, 0.30000000000000004, 3.75, 6},
        {"claude-haiku-4-5", 1, 5, none, none, none, none, 0.1, 1.25, 2},
        {"claude-haiku", 1, 5, none, none, none, none, 0.1, 1.25, 2},
    };
    const std::span<const RateRow> rows = Pricing::displayTable();
    ASSERT_EQ(rows.size(), std::size(table));
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& want = table[i];
        const ModelPricing& got = rows[i].pricing;
        SCOPED_TRACE(want.prefix);
        EXPECT_EQ(rows[i].prefix, want.prefix);
        EXPECT_EQ(got, (ModelPricing{want.in, want.out, want.cached, none, none, want.longIn, want.longCached,
                                     want.longOut}));
        EXPECT_DOUBLE_EQ(got.cacheReadPerMTok(), want.read);
        EXPECT_DOUBLE_EQ(got.cacheWrite5mPerMTok(), want.write5m);
        EXPECT_DOUBLE_EQ(got.cacheWrite1hPerMTok(), want.write1h);
    }

    // Unknown Claude models: 5 in, 25 out, nothing else given; unknown OpenAI
    // models: 5 in, 30 out, cached input 0.5.
    const ModelPricing claude = Pricing::claudeFallbackRate, openAI = Pricing::openAIFallbackRate;
    EXPECT_EQ(claude, (ModelPricing{5, 25, none, none, none, none, none, none}));
    EXPECT_EQ(std::tuple(claude.cacheReadPerMTok(), claude.cacheWrite5mPerMTok(), claude.cacheWrite1hPerMTok()),
              std::tuple(0.5, 6.25, 10.0));
    EXPECT_EQ(openAI, (ModelPricing{5, 30, 0.5, none, none, none, none, none}));
    EXPECT_EQ(std::tuple(openAI.cacheReadPerMTok(), openAI.cacheWrite5mPerMTok(), openAI.cacheWrite1hPerMTok()),
              std::tuple(0.5, 6.25, 10.0));
}
