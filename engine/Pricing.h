#pragma once
// The built-in rate table (US dollars per million tokens) and its lookup by
// longest model-id prefix. The rates are constants of the program.

#include <optional>
#include <span>
#include <string_view>

namespace vorel {

struct ModelPricing {
    double inputPerMTok = 0;
    double outputPerMTok = 0;
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

}  // namespace Pricing
}  // namespace vorel
