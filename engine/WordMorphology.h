#pragma once
// WordNet's regular inflection rules: the base forms an English word form
// may come from ("dashboards" -> "dashboard", "fixed" -> "fix" or "fixe").
// Used by the word tagger at run time and by the tool that builds its
// lexicon, so that both agree on which forms WordNet can explain. Candidates
// are not checked against any dictionary; callers keep those that exist.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vorel::morphology {

enum class PartOfSpeech : std::uint8_t { noun, verb, adjective, adverb };

struct SuffixRule {
    std::string_view suffix;
    std::string_view ending;
};

inline constexpr SuffixRule kNounRules[] = {{"s", ""},    {"ses", "s"},   {"xes", "x"}, {"zes", "z"},
                                            {"ches", "ch"}, {"shes", "sh"}, {"men", "man"}, {"ies", "y"}};
inline constexpr SuffixRule kVerbRules[] = {{"s", ""},   {"ies", "y"}, {"es", "e"},  {"es", ""},
                                            {"ed", "e"}, {"ed", ""},   {"ing", "e"}, {"ing", ""}};
inline constexpr SuffixRule kAdjectiveRules[] = {{"er", ""}, {"est", ""}, {"er", "e"}, {"est", "e"}};

inline std::span<const SuffixRule> rulesFor(PartOfSpeech pos) {
    switch (pos) {
        case PartOfSpeech::noun: return kNounRules;
        case PartOfSpeech::verb: return kVerbRules;
        case PartOfSpeech::adjective: return kAdjectiveRules;
        case PartOfSpeech::adverb: break;
    }
    return {};
}

// Calls `visit(base)` for every base form the rules of `pos` give for the
// lower-case `form`. A noun ending in "ss" ("class") is not a plural, and no
// rule leaves a base shorter than two letters.
template <class Visit>
void regularBases(std::string_view form, PartOfSpeech pos, Visit&& visit) {
    if (pos == PartOfSpeech::noun && form.ends_with("ss")) return;
    std::string base;
    for (const SuffixRule& rule : rulesFor(pos)) {
        if (!form.ends_with(rule.suffix)) continue;
        size_t stem = form.size() - rule.suffix.size();
        if (stem + rule.ending.size() < 2) continue;
        base.assign(form.substr(0, stem));
        base.append(rule.ending);
        visit(std::string_view(base));
    }
}

}  // namespace vorel::morphology
