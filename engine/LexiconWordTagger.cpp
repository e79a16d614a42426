#include "engine/LexiconWordTagger.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <string>

#include "engine/TextRules.h"

namespace vorel {

namespace detail {
// The lexicon text generated at build time (WordLexiconData.cpp).
std::string_view wordLexiconData();
}  // namespace detail

namespace {

enum Flag : std::uint8_t {
    kCommon = 1,    // c
    kFunction = 2,  // f
    kLgNoun = 4,    // n
    kLgOther = 8,   // o
};

// A lexicon score is a tagged frequency x kScoreScale plus a sense count.
constexpr std::int32_t kScoreScale = 100;
constexpr std::int32_t kVerbForms = 4;
constexpr morphology::PartOfSpeech kPartsOfSpeech[] = {morphology::PartOfSpeech::noun, morphology::PartOfSpeech::verb,
                                                      morphology::PartOfSpeech::adjective, morphology::PartOfSpeech::adverb};

// Gaps longer than this, or holding a line break, end a name of several words.
constexpr size_t kMaxNameGap = 3;

// The tab-separated fields of a lexicon line; more than kMaxFields makes
// the line invalid (size 0).
constexpr size_t kMaxFields = 7;
struct Fields {
    std::array<std::string_view, kMaxFields> at;
    size_t size{};
};

Fields splitFields(std::string_view line) {
    Fields f;
    size_t start = 0;
    while (true) {
        size_t end = line.find('\t', start);
        if (f.size == kMaxFields) return {};
        f.at[f.size++] = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (end == std::string_view::npos) return f;
        start = end + 1;
    }
}

// A score field; -1 (no reading) when it holds no number, which from_chars
// leaves untouched.
std::int32_t parseScore(std::string_view s) {
    std::int32_t v = -1;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

std::optional<NameType> parseNameType(std::string_view s) {
    if (s == "P") return NameType::person;
    if (s == "L") return NameType::place;
    if (s == "O") return NameType::organization;
    return std::nullopt;
}

std::optional<morphology::PartOfSpeech> parsePartOfSpeech(std::string_view s) {
    using morphology::PartOfSpeech;
    if (s == "n") return PartOfSpeech::noun;
    if (s == "v") return PartOfSpeech::verb;
    if (s == "a") return PartOfSpeech::adjective;
    if (s == "r") return PartOfSpeech::adverb;
    return std::nullopt;
}

// ICU's property tests hold for no negative value, so an ill-formed byte
// (or empty text) is neither a capital nor a letter.
bool isCapitalised(std::string_view word) {
    UChar32 c = text::firstCodePoint(word);
    return u_isupper(c) || u_istitle(c);
}

bool hasLetter(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    auto n = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < n;) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (u_isalpha(c)) return true;
    }
    return false;
}

bool asciiCaseInsensitiveEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return text::asciiLower(x) == text::asciiLower(y);
           });
}

bool endsSentence(std::string_view gap) {
    return gap.find_first_of(".!?:\n\r") != std::string_view::npos;
}

bool joinsName(std::string_view gap) {
    return gap.size() <= kMaxNameGap && gap.find_first_of("\n\r") == std::string_view::npos;
}

// One word breaker per thread, created on first use; null when ICU lacks
// its break rules.
icu::BreakIterator* wordBreaker() {
    thread_local std::unique_ptr<icu::BreakIterator> breaker = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> b(icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) b.reset();
        return b;
    }();
    return breaker.get();
}

struct Segment {
    size_t begin;
    size_t end;
    bool sentenceStart;
};

// The letter and number segments of `text`, with whether each begins a
// sentence (first word, or a sentence mark or line break before it).
std::vector<Segment> wordSegments(std::string_view text) {
    std::vector<Segment> out;
    icu::BreakIterator* breaker = wordBreaker();
    if (!breaker) return out;
    UErrorCode status = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUTF8(&ut, text.data(), static_cast<int64_t>(text.size()), &status);
    breaker->setText(&ut, status);
    if (U_SUCCESS(status)) {
        int32_t start = breaker->first();
        for (int32_t end = breaker->next(); end != icu::BreakIterator::DONE; start = end, end = breaker->next()) {
            if (breaker->getRuleStatus() < UBRK_WORD_NONE_LIMIT) continue;
            const size_t begin = static_cast<size_t>(start);
            out.push_back({begin, static_cast<size_t>(end),
                           out.empty() || endsSentence(text.substr(out.back().end, begin - out.back().end))});
        }
    }
    // The breaker works on its own shallow clone of `ut`, which the next
    // call replaces before it is read again.
    utext_close(&ut);
    return out;
}

}  // namespace

LexiconWordTagger::LexiconWordTagger(std::string_view lexicon) {
    words_.reserve(static_cast<size_t>(std::count(lexicon.begin(), lexicon.end(), '\n')));
    size_t start = 0;
    while (start < lexicon.size()) {
        size_t end = lexicon.find('\n', start);
        if (end == std::string_view::npos) end = lexicon.size();
        std::string_view line = lexicon.substr(start, end - start);
        start = end + 1;
        // An invalid line has no fields, so it matches no kind.
        auto [f, count] = splitFields(line);
        if (f[0] == "W" && count == 7 && !f[1].empty()) {
            WordInfo info;
            for (size_t p = 0; p < 4; ++p) info.scores[p] = parseScore(f[2 + p]);
            for (char c : f[6]) {
                if (c == 'c') info.flags |= kCommon;
                if (c == 'f') info.flags |= kFunction;
                if (c == 'n') info.flags |= kLgNoun;
                if (c == 'o') info.flags |= kLgOther;
            }
            words_[f[1]] = info;
        } else if (f[0] == "N" && count == 3) {
            auto type = parseNameType(f[1]);
            if (!type) continue;
            std::string_view first = f[2].substr(0, f[2].find(' '));
            auto words = static_cast<std::uint32_t>(std::count(f[2].begin(), f[2].end(), ' ') + 1);
            NameHead& head = names_[first];
            if (words == 1) head.single = type;
            else head.longer.push_back({f[2], words, *type});
        } else if (f[0] == "X" && count == 4) {
            if (auto pos = parsePartOfSpeech(f[1])) exceptions_[f[2]].push_back({*pos, f[3]});
        } else if (f[0] == "S" && count == 2 && !f[1].empty()) {
            clitics_.push_back(f[1]);
        }
    }
    for (auto& [first, head] : names_)
        std::stable_sort(head.longer.begin(), head.longer.end(),
                         [](const LongerName& a, const LongerName& b) { return a.count > b.count; });
}

std::string_view LexiconWordTagger::builtInLexicon() { return detail::wordLexiconData(); }

const LexiconWordTagger& LexiconWordTagger::shared() {
    static const LexiconWordTagger tagger(builtInLexicon());
    return tagger;
}

const LexiconWordTagger::WordInfo* LexiconWordTagger::find(std::string_view lowerForm) const {
    auto it = words_.find(lowerForm);
    return it == words_.end() ? nullptr : &it->second;
}

template <class Visit>
void LexiconWordTagger::visitInflectionLemmas(std::string_view lowerForm, Visit&& visit) const {
    if (auto it = exceptions_.find(lowerForm); it != exceptions_.end())
        for (const Exception& x : it->second)
            if (const WordInfo* e = find(x.lemma)) visit(x.pos, *e);
    for (auto pos : kPartsOfSpeech)
        morphology::regularBases(lowerForm, pos, [&](std::string_view base) {
            if (const WordInfo* e = find(base)) visit(pos, *e);
        });
}

LexiconWordTagger::Readings LexiconWordTagger::wordNetReadings(std::string_view lowerForm, const WordInfo* entry,
                                                               bool sentenceStart) const {
    Readings readings;
    auto consider = [&](PartOfSpeech pos, std::int32_t score, bool exact) {
        if (score < 0) return;
        std::int32_t frequency = score / kScoreScale;
        bool shared = pos == PartOfSpeech::verb && !(exact && sentenceStart);
        Reading r{shared ? frequency / kVerbForms : frequency, exact, score % kScoreScale};
        readings[static_cast<size_t>(pos)] = std::max(readings[static_cast<size_t>(pos)], r);
    };
    if (entry)
        for (auto pos : kPartsOfSpeech) consider(pos, entry->scores[static_cast<size_t>(pos)], true);
    visitInflectionLemmas(lowerForm, [&](PartOfSpeech pos, const WordInfo& lemma) {
        consider(pos, lemma.scores[static_cast<size_t>(pos)], false);
    });
    return readings;
}

size_t LexiconWordTagger::cliticLength(std::string_view word) const {
    for (std::string_view c : clitics_)
        if (word.size() > c.size() && asciiCaseInsensitiveEqual(word.substr(word.size() - c.size()), c)) return c.size();
    return 0;
}

bool LexiconWordTagger::isNoun(std::string_view lowerForm, bool sentenceStart) const {
    if (empty()) return false;
    const WordInfo* entry = find(lowerForm);
    Readings r = wordNetReadings(lowerForm, entry, sentenceStart);
    constexpr size_t noun = static_cast<size_t>(PartOfSpeech::noun);
    if (std::any_of(r.begin(), r.end(), [](const Reading& x) { return x.share >= 0; })) {
        if (r[noun].share < 0 || *std::max_element(r.begin(), r.end()) > r[noun]) return false;
        bool neverTagged = r[noun].share == 0;
        return !(neverTagged && entry && (entry->flags & kFunction));
    }
    if (entry) return (entry->flags & kLgNoun) || !(entry->flags & (kLgOther | kFunction));
    return hasLetter(lowerForm);
}

bool LexiconWordTagger::isCommon(std::string_view lowerForm) const {
    const WordInfo* entry = find(lowerForm);
    if (entry && (entry->flags & kCommon)) return true;
    bool common = false;
    visitInflectionLemmas(lowerForm, [&](PartOfSpeech pos, const WordInfo& lemma) {
        common = common || (lemma.scores[static_cast<size_t>(pos)] >= 0 && (lemma.flags & kCommon));
    });
    return common;
}

std::vector<TaggedWord> LexiconWordTagger::tag(std::string_view text) const {
    std::vector<Segment> segments = wordSegments(text);
    for (Segment& s : segments) s.end -= cliticLength(text.substr(s.begin, s.end - s.begin));
    std::vector<TaggedWord> out;
    out.reserve(segments.size());
    for (const Segment& s : segments) out.push_back({text.substr(s.begin, s.end - s.begin), std::nullopt, false});
    if (empty()) return out;

    std::string lower;
    for (size_t i = 0; i < out.size(); ++i) {
        text::lowerCase(out[i].text, lower);
        out[i].noun = isNoun(lower, segments[i].sentenceStart);
    }

    for (size_t i = 0; i < out.size();) {
        auto head = names_.find(out[i].text);
        if (head == names_.end()) {
            ++i;
            continue;
        }
        // The longest name of several words that the text spells out.
        const LongerName* match = nullptr;
        for (const LongerName& name : head->second.longer) {
            if (i + name.count > out.size()) continue;
            std::string_view rest = name.words.substr(name.words.find(' ') + 1);
            bool same = true;
            for (size_t k = i + 1; k < i + name.count && same; ++k) {
                std::string_view part = rest.substr(0, rest.find(' '));
                rest.remove_prefix(std::min(rest.size(), part.size() + 1));
                std::string_view gap = text.substr(segments[k - 1].end, segments[k].begin - segments[k - 1].end);
                same = joinsName(gap) && out[k].text == part;
            }
            if (same) {
                match = &name;
                break;
            }
        }
        if (match) {
            for (size_t k = i; k < i + match->count; ++k)
                if (isCapitalised(out[k].text)) out[k].name = match->type;
            i += match->count;
            continue;
        }
        if (head->second.single && isCapitalised(out[i].text)) {
            text::lowerCase(out[i].text, lower);
            if (!(segments[i].sentenceStart && isCommon(lower))) out[i].name = head->second.single;
        }
        ++i;
    }
    return out;
}

}  // namespace vorel
