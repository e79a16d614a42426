#pragma once
// The built-in rate table (US dollars per million tokens), its lookup by
// longest model-id prefix, and what a response's tokens cost at a row's
// rates. The rates are constants of the program.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/SourceKind.h"

namespace vorel {

struct ModelPricing {
    double inputPerMTok{};
    double outputPerMTok{};
    std::optional<double> cachedInputPerMTok;
    std::optional<double> cacheWrite5mPerMTokOverride;
    std::optional<double> cacheWrite1hPerMTokOverride;
    std::optional<double> longInputPerMTok;
    std::optional<double> longCachedInputPerMTok;
    std::optional<double> longOutputPerMTok;

    // Derived on every read, multiplied as written (x 0.1, not / 10).
    double cacheReadPerMTok() const { return cachedInputPerMTok ? *cachedInputPerMTok : inputPerMTok * 0.1; }
    double cacheWrite5mPerMTok() const {
        return cacheWrite5mPerMTokOverride ? *cacheWrite5mPerMTokOverride : inputPerMTok * 1.25;
    }
    double cacheWrite1hPerMTok() const {
        return cacheWrite1hPerMTokOverride ? *cacheWrite1hPerMTokOverride : inputPerMTok + inputPerMTok;
    }

    // The rates for one call with this many input tokens: the long-context
    // rates from 128001 input tokens on, where the row has them.
    ModelPricing effective(long long inputTokens) const;

    bool operator==(const ModelPricing&) const = default;
};

// The tokens one response is billed for, by kind. A Codex call's input is
// its uncached input and its cache read its cached input; it writes no
// cache.
struct TokenCounts {
    std::int64_t input{};
    std::int64_t output{};
    std::int64_t cacheRead{};
    std::int64_t cacheWrite5m{};
    std::int64_t cacheWrite1h{};
};

// What one response costs, term by term, and the sum of the terms.
struct ResponseCost {
    double input{};
    double output{};
    double cacheRead{};
    double cacheWrite5m{};
    double cacheWrite1h{};
    double total{};

    // Everything read from or written to the prompt cache.
    double cache() const { return cacheRead + cacheWrite5m + cacheWrite1h; }
};

struct RateRow {
    std::string_view prefix;
    ModelPricing pricing;
};

namespace Pricing {

// The lookup table, which is also the list the pricing screen shows.
std::span<const RateRow> displayTable();
inline constexpr std::string_view ratesAsOf = "July 5, 2026";
extern const ModelPricing claudeFallbackRate;
extern const ModelPricing openAIFallbackRate;

ModelPricing pricing(std::string_view model);
bool isKnown(std::string_view model);

// The cost of `tokens` at `rates`: each term tokens x rate / 1,000,000 in
// double precision, summed in the order the source's responses are priced
// in, so that every reader of a transcript arrives at the same bits: input,
// output, cache read, 5-minute write, 1-hour write for Claude Code;
// uncached input, cached input, output for Codex.
ResponseCost cost(const TokenCounts& tokens, const ModelPricing& rates, SourceKind source);

}  // namespace Pricing
}  // namespace vorel
