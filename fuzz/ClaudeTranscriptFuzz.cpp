// Arbitrary bytes as a Claude Code transcript: must never crash, leak or
// trip a sanitizer, and every result must keep its own invariants.
#include <cstdlib>

#include "engine/Transcript.h"

using namespace vorel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto text = Transcript::TranscriptText::fromBytes(std::string(reinterpret_cast<const char*>(data), size));
    if (!text) return 0;
    DayWindow today{TimePoint{}, TimePoint{} + std::chrono::hours(24 * 365 * 100)};
    ParsedSession s = Transcript::parseClaudeText(*text, today);
    if (s.turns.empty() && (s.totalCost != 0 || !s.perModel.empty())) std::abort();
    (void)s.totalTokens();
    ParsedSession copy = s;
    copy.absorb(s);
    (void)copy.rebuilt(s.turns, today).totalTokens();
    return 0;
}
