#include <gtest/gtest.h>

#include <string>

#include "Pricing.h"

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
        {"gpt-5.4-mini", row("gpt-5.4-mini"), true},
        {"gpt-5.4", row("gpt-5.4"), true},
        {"gpt-5.3-codex-high", row("gpt-5.3-codex"), true},
        // Spark ids extend row 7 but take the OpenAI fallback.
        {"gpt-5.3-codex-spark", openAI, false},
        {"gpt-5.3-codex-spark-preview", openAI, false},
        {"claude-opus-4-1", row("claude-opus"), true},
        {"claude-opus-4-8", row("claude-opus-4-8"), true},
        {"claude-sonnet-4-6-20260101", row("claude-sonnet-4-6"), true},
        {"claude-haiku-4-5-20251001", row("claude-haiku-4-5"), true},
        // Case-sensitive: capitals match no row.
        {"Claude-Opus-4-8", claude, false},
        {"o3", openAI, false},
        {"chatgpt-4o-latest", openAI, false},
        {"gpt-4.1", openAI, false},
        {"", claude, false},
        {"(x", claude, false},
        {"(unknown OpenAI model)", claude, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Pricing::pricing(c.id), c.expected) << c.id;
        EXPECT_EQ(Pricing::isKnown(c.id), c.known) << c.id;
    }
}

TEST(Pricing, TableRowsAndDerivedRates) {
    auto table = Pricing::displayTable();
    ASSERT_EQ(table.size(), 19u);
    EXPECT_EQ(table.front().prefix, "gpt-5.5-pro");
    EXPECT_EQ(table.back().prefix, "claude-haiku");
    EXPECT_EQ(Pricing::ratesAsOf, "July 5, 2026");
    for (const RateRow& r : table) {
        const ModelPricing& p = r.pricing;
        // Every row is reachable by its own prefix.
        EXPECT_EQ(Pricing::pricing(r.prefix), p) << r.prefix;
        EXPECT_FALSE(p.cacheWrite5mPerMTokOverride || p.cacheWrite1hPerMTokOverride) << r.prefix;
        bool isClaude = r.prefix.starts_with("claude");
        EXPECT_NE(isClaude, p.cachedInputPerMTok.has_value()) << r.prefix;
        EXPECT_FALSE(isClaude && (p.longInputPerMTok || p.longCachedInputPerMTok || p.longOutputPerMTok));
    }

    // Multiplied as written, so 3 x 0.1 keeps its rounding.
    ModelPricing sonnet = row("claude-sonnet");
    EXPECT_EQ(sonnet.cacheReadPerMTok(), 0.30000000000000004);
    EXPECT_EQ(sonnet.cacheWrite5mPerMTok(), 3.75);
    EXPECT_EQ(sonnet.cacheWrite1hPerMTok(), 6);
    for (const ModelPricing& p : {row("claude-opus-4-8"), Pricing::claudeFallbackRate}) {
        EXPECT_EQ(p.cacheReadPerMTok(), 0.5);
        EXPECT_EQ(p.cacheWrite5mPerMTok(), 6.25);
        EXPECT_EQ(p.cacheWrite1hPerMTok(), 10);
    }
    EXPECT_EQ(Pricing::claudeFallbackRate, rates(5, 25));
    EXPECT_EQ(Pricing::openAIFallbackRate, rates(5, 30, 0.5));
}

TEST(Pricing, LongContextRatesFrom128001InputTokens) {
    ModelPricing gpt55 = Pricing::pricing("gpt-5.5");
    EXPECT_EQ(gpt55.effective(128000), gpt55);
    EXPECT_EQ(gpt55.effective(128001), rates(10, 45, 1));
    EXPECT_EQ(gpt55.effective(INT64_MAX), rates(10, 45, 1));
    EXPECT_EQ(Pricing::pricing("gpt-5.4").effective(200000), rates(5, 22.5, 0.5));
    // Rows without both long rates never switch.
    for (const char* id : {"gpt-5.4-mini", "gpt-5.3-codex", "claude-opus-4-8", "o3", ""}) {
        EXPECT_EQ(Pricing::pricing(id).effective(10'000'000), Pricing::pricing(id)) << id;
    }
    ModelPricing noLongOutput{2, 8, 0.2, std::nullopt, std::nullopt, 4, 0.4, std::nullopt};
    EXPECT_EQ(noLongOutput.effective(200000), noLongOutput);
    // A missing long cached rate falls back to the cached rate, then to 0.1 x
    // the long input; cache-write overrides do not carry over.
    ModelPricing noLongCached{2, 8, 0.2, 3, 5, 4, std::nullopt, 12};
    EXPECT_EQ(noLongCached.cacheWrite1hPerMTok(), 5);
    EXPECT_EQ(noLongCached.effective(200000), rates(4, 12, 0.2));
    ModelPricing noCached{2, 8, std::nullopt, std::nullopt, std::nullopt, 4, std::nullopt, 12};
    EXPECT_EQ(noCached.effective(200000).cacheReadPerMTok(), 4 * 0.1);
}
