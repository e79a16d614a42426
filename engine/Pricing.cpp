#include "engine/Pricing.h"

#include <array>

namespace vorel {

namespace {

constexpr std::optional<double> none = std::nullopt;

constexpr ModelPricing openAI(double in, double out, double cached, std::optional<double> longIn = none,
                              std::optional<double> longCached = none, std::optional<double> longOut = none) {
    return ModelPricing{in, out, cached, none, none, longIn, longCached, longOut};
}

constexpr ModelPricing claude(double in, double out) {
    return ModelPricing{in, out, none, none, none, none, none, none};
}

const std::array<RateRow, 19> kTable{{
    {"gpt-5.5-pro", openAI(30, 180, 30, 60, 60, 270)},
    {"gpt-5.5", openAI(5, 30, 0.5, 10, 1, 45)},
    {"gpt-5.4-mini", openAI(0.75, 4.5, 0.075)},
    {"gpt-5.4-nano", openAI(0.2, 1.25, 0.02)},
    {"gpt-5.4-pro", openAI(30, 180, 30, 60, 60, 270)},
    {"gpt-5.4", openAI(2.5, 15, 0.25, 5, 0.5, 22.5)},
    {"gpt-5.3-codex", openAI(1.75, 14, 0.175)},
    {"claude-fable-5", claude(10, 50)},
    {"claude-mythos-5", claude(10, 50)},
    {"claude-opus-4-8", claude(5, 25)},
    {"claude-opus-4-7", claude(5, 25)},
    {"claude-opus-4-6", claude(5, 25)},
    {"claude-opus-4-5", claude(5, 25)},
    {"claude-opus", claude(5, 25)},
    {"claude-sonnet-4-6", claude(3, 15)},
    {"claude-sonnet-4-5", claude(3, 15)},
    {"claude-sonnet", claude(3, 15)},
    {"claude-haiku-4-5", claude(1, 5)},
    {"claude-haiku", claude(1, 5)},
}};

// Codex "spark" models are cheaper variants billed differently from the
// row that their id extends; they are priced by the OpenAI fallback.
constexpr std::string_view kSparkPrefix = "gpt-5.3-codex-spark";

// The row whose prefix is the longest prefix of `model`, first row on ties.
const RateRow* longestMatch(std::string_view model) {
    const RateRow* kept = nullptr;
    for (const RateRow& row : kTable) {
        if (model.starts_with(row.prefix) && (!kept || row.prefix.size() > kept->prefix.size())) kept = &row;
    }
    return kept;
}

}  // namespace

ModelPricing ModelPricing::effective(long long inputTokens) const {
    if (inputTokens >= 128001 && longInputPerMTok && longOutputPerMTok) {
        ModelPricing p;
        p.inputPerMTok = *longInputPerMTok;
        p.outputPerMTok = *longOutputPerMTok;
        p.cachedInputPerMTok = longCachedInputPerMTok ? longCachedInputPerMTok : cachedInputPerMTok;
        return p;
    }
    return *this;
}

namespace Pricing {

const ModelPricing claudeFallbackRate = claude(5, 25);
const ModelPricing openAIFallbackRate = openAI(5, 30, 0.5);

std::span<const RateRow> displayTable() { return kTable; }

ModelPricing pricing(std::string_view model) {
    const RateRow* row = longestMatch(model);
    if (model.starts_with(kSparkPrefix)) return openAIFallbackRate;
    if (row) return row->pricing;
    if (model.starts_with("gpt-") || model.starts_with("o") || model.starts_with("chatgpt-")) {
        return openAIFallbackRate;
    }
    return claudeFallbackRate;
}

bool isKnown(std::string_view model) {
    if (model.starts_with(kSparkPrefix)) return false;
    return longestMatch(model) != nullptr;
}

ResponseCost cost(const TokenCounts& tokens, const ModelPricing& rates, SourceKind source) {
    ResponseCost c;
    c.input = static_cast<double>(tokens.input) * rates.inputPerMTok / 1000000.0;
    c.output = static_cast<double>(tokens.output) * rates.outputPerMTok / 1000000.0;
    c.cacheRead = static_cast<double>(tokens.cacheRead) * rates.cacheReadPerMTok() / 1000000.0;
    c.cacheWrite5m = static_cast<double>(tokens.cacheWrite5m) * rates.cacheWrite5mPerMTok() / 1000000.0;
    c.cacheWrite1h = static_cast<double>(tokens.cacheWrite1h) * rates.cacheWrite1hPerMTok() / 1000000.0;
    switch (source) {
        case SourceKind::claudeCode:
            c.total = c.input + c.output + c.cacheRead + c.cacheWrite5m + c.cacheWrite1h;
            return c;
        case SourceKind::codex:
            // A Codex call writes no cache; its write terms are not added.
            c.total = c.input + c.cacheRead + c.output;
            return c;
    }
    unknownSourceKind();
}

}  // namespace Pricing
}  // namespace vorel
