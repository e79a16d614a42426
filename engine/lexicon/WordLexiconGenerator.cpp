// Build-time tool: turns WordNet and link-grammar's English dictionary (both
// Debian packages) into the compact lexicon the word tagger embeds.
//
//   WordLexiconGenerator <wordnet-dir> <link-grammar-en-dir> <output.cpp>
//
// The output is a C++ source file that defines vorel::detail::wordLexiconData()
// returning the lexicon text. A missing data folder gives a warning and a
// lexicon without its part; without both the lexicon is empty and the tagger
// tags nothing.
//
// Lexicon lines, tab-separated, sorted:
//   N <P|L|O> <words>              a name (person, place, organization); its
//                                  words as the word breaker splits them,
//                                  joined by one space, in their usual case
//   W <form> <n> <v> <a> <r> <fl>  a lower-case word form; per part of speech
//                                  (WordNet lemma) its score, the tagged
//                                  frequency of its lower-case senses x 100
//                                  plus its sense count, or empty; flags:
//                                  c  a common word: lower-case senses occur in
//                                     the tagged corpus, or link-grammar's core
//                                     dictionary defines it; a capitalised
//                                     occurrence at a sentence start is then
//                                     no evidence of a name
//                                  f  a function word: the core dictionary
//                                     defines it and link-grammar never lists
//                                     it as a noun
//                                  n  link-grammar lists it as a noun
//                                  o  link-grammar lists it as another class
//   X <n|v|a|r> <form> <lemma>     an irregular inflection from WordNet's
//                                  exception lists
//   S <suffix>                     a clitic that link-grammar splits off a
//                                  word ("'s", "'re"), with its apostrophe

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include "engine/WordMorphology.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::array<char, 4> kPosLetters{'n', 'v', 'a', 'r'};
constexpr std::array<const char*, 4> kPosNames{"noun", "verb", "adj", "adv"};

// WordNet lexicographer files of named things.
constexpr int kLexGroup = 14;
constexpr int kLexLocation = 15;
constexpr int kLexPerson = 18;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

long toLong(std::string_view s, int base = 10) {
    try {
        return std::stol(std::string(s), nullptr, base);
    } catch (...) {
        return -1;
    }
}

std::string lowered(std::string_view s) {
    std::string out;
    icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(out);
    return out;
}

bool isLowerCaseText(std::string_view s) { return lowered(s) == s; }

bool startsCapitalised(std::string_view s) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    if (u.isEmpty()) return false;
    UChar32 c = u.char32At(0);
    return u_isupper(c) || u_istitle(c);
}

bool hasLetter(std::string_view s) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    for (int32_t i = 0; i < u.length(); i = u.moveIndex32(i, 1))
        if (u_isalpha(u.char32At(i))) return true;
    return false;
}

// Splits text into words the way the tagger does at run time: ICU word
// boundaries, keeping the segments that hold letters or numbers.
class WordSplitter {
public:
    WordSplitter() {
        UErrorCode status = U_ZERO_ERROR;
        breaker_.reset(icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) breaker_.reset();
    }

    std::vector<std::string> words(std::string_view text) const {
        std::vector<std::string> out;
        if (!breaker_) return out;
        UErrorCode status = U_ZERO_ERROR;
        UText ut = UTEXT_INITIALIZER;
        utext_openUTF8(&ut, text.data(), static_cast<int64_t>(text.size()), &status);
        breaker_->setText(&ut, status);
        if (U_FAILURE(status)) return out;
        int32_t start = breaker_->first();
        for (int32_t end = breaker_->next(); end != icu::BreakIterator::DONE; start = end, end = breaker_->next()) {
            if (breaker_->getRuleStatus() >= UBRK_WORD_NONE_LIMIT)
                out.emplace_back(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
        }
        utext_close(&ut);
        return out;
    }

private:
    std::unique_ptr<icu::BreakIterator> breaker_;
};

const WordSplitter& splitter() {
    static const WordSplitter s;
    return s;
}

// A single word as the run-time breaker sees it, or nothing.
// Underscores join the words of a phrase in both dictionaries.
bool isSingleWord(std::string_view s) {
    if (s.find('_') != std::string_view::npos) return false;
    auto w = splitter().words(s);
    return w.size() == 1 && w[0] == s;
}

struct Synset {
    int lexFile = -1;
    std::vector<std::string> words;         // as written, '_' for blanks
    std::vector<long> hypernyms;            // "@" and "@i" targets in the same file
    bool instance = false;                  // has an "@i" pointer
};

struct PosData {
    std::unordered_map<long, Synset> synsets;
    // lemma -> synset offsets in sense-number order
    std::unordered_map<std::string, std::vector<long>> senses;
};

// Strips an adjective's syntactic marker: "galore(ip)" -> "galore".
std::string_view withoutMarker(std::string_view w) {
    auto p = w.find('(');
    return p == std::string_view::npos ? w : w.substr(0, p);
}

void readData(const std::string& text, PosData& pos) {
    for (auto line : splitLines(text)) {
        if (line.empty() || line[0] == ' ') continue;  // licence header
        auto bar = line.find(" | ");
        auto f = splitFields(line.substr(0, bar));
        if (f.size() < 4) continue;
        Synset s;
        long offset = toLong(f[0]);
        s.lexFile = static_cast<int>(toLong(f[1]));
        long wordCount = toLong(f[3], 16);
        size_t i = 4;
        for (long k = 0; k < wordCount && i + 1 < f.size(); ++k, i += 2) s.words.emplace_back(withoutMarker(f[i]));
        if (i >= f.size()) continue;
        long pointerCount = toLong(f[i++]);
        for (long k = 0; k < pointerCount && i + 3 < f.size(); ++k, i += 4) {
            if (f[i] == "@" || f[i] == "@i") {
                if (f[i] == "@i") s.instance = true;
                s.hypernyms.push_back(toLong(f[i + 1]));
            }
        }
        pos.synsets.emplace(offset, std::move(s));
    }
}

void readIndex(const std::string& text, PosData& pos) {
    for (auto line : splitLines(text)) {
        if (line.empty() || line[0] == ' ') continue;
        auto f = splitFields(line);
        if (f.size() < 6) continue;
        long synsetCount = toLong(f[2]);
        long pointerCount = toLong(f[3]);
        size_t first = 4 + static_cast<size_t>(pointerCount) + 2;
        if (synsetCount <= 0 || first + static_cast<size_t>(synsetCount) > f.size()) continue;
        std::vector<long> offsets;
        for (long k = 0; k < synsetCount; ++k) offsets.push_back(toLong(f[first + static_cast<size_t>(k)]));
        pos.senses.emplace(std::string(f[0]), std::move(offsets));
    }
}

struct WordEntry {
    std::array<long, 4> score{-1, -1, -1, -1};
    long commonFrequency = 0;  // tagged uses of its lower-case senses
    bool common = false;
    bool coreDefined = false;  // defined in link-grammar's core dictionary
    bool lgNoun = false;       // a noun somewhere in link-grammar's lists
    bool lgOther = false;      // another class somewhere in link-grammar's lists
};

// How strongly a name is of each type (person, place, organization): the
// tagged frequency of its WordNet senses of that type x 100, plus one per
// sense or list that gives it the type.
struct NameVotes {
    std::array<long, 3> weight{0, 0, 0};
    long frequency = 0;   // tagged uses of its WordNet name senses
    bool listed = false;  // in one of link-grammar's name lists
};

constexpr std::array<char, 3> kNameLetters{'P', 'L', 'O'};

class Lexicon {
public:
    std::map<std::string, WordEntry> words;
    std::map<std::string, NameVotes> names;
    // Tagged uses of capitalised spellings other than as names: "French"
    // the language, "May" the month.
    std::unordered_map<std::string, long> otherProperFrequency;
    std::set<std::string> clitics;
    std::set<std::tuple<size_t, std::string, std::string>> exceptions;  // pos, form, lemma

    bool inWordNet(const std::string& lemma, size_t pos) const {
        auto it = words.find(lemma);
        return it != words.end() && it->second.score[pos] >= 0;
    }

    // Whether WordNet explains `form` through an irregular or a regular
    // inflection, as the tagger tries when the form is no lemma itself.
    bool inflectionInWordNet(const std::string& form) const {
        for (size_t p = 0; p < 4; ++p) {
            for (auto it = exceptions.lower_bound({p, form, ""}); it != exceptions.end(); ++it) {
                if (std::get<0>(*it) != p || std::get<1>(*it) != form) break;
                if (inWordNet(std::get<2>(*it), p)) return true;
            }
            bool found = false;
            vorel::morphology::regularBases(form, static_cast<vorel::morphology::PartOfSpeech>(p),
                                            [&](std::string_view base) { found = found || inWordNet(std::string(base), p); });
            if (found) return true;
        }
        return false;
    }

    void addName(std::string_view written, int type, long frequency, bool listed) {
        std::string spaced(written);
        std::replace(spaced.begin(), spaced.end(), '_', ' ');
        auto parts = splitter().words(spaced);
        if (parts.empty()) return;
        bool capitalised = false;
        std::string joined;
        for (const auto& p : parts) {
            capitalised = capitalised || startsCapitalised(p);
            if (!joined.empty()) joined += ' ';
            joined += p;
        }
        if (!capitalised || !hasLetter(joined)) return;
        if (parts.size() == 1 && icu::UnicodeString::fromUTF8(parts[0]).countChar32() < 2) return;
        NameVotes& v = names[joined];
        v.weight[static_cast<size_t>(type)] += 1 + 100 * frequency;
        v.frequency += frequency;
        v.listed = v.listed || listed;
    }
};

// Frequencies from cntlist.rev: lemma -> pos -> sense number -> tag count.
using Counts = std::unordered_map<std::string, std::array<std::map<long, long>, 4>>;

Counts readCounts(const std::string& text) {
    Counts counts;
    for (auto line : splitLines(text)) {
        auto f = splitFields(line);
        if (f.size() != 3) continue;
        auto key = f[0];
        auto pct = key.find('%');
        if (pct == std::string_view::npos || pct + 1 >= key.size()) continue;
        int ssType = key[pct + 1] - '0';
        int pos = ssType == 5 ? 2 : ssType - 1;
        if (pos < 0 || pos > 3) continue;
        counts[std::string(key.substr(0, pct))][static_cast<size_t>(pos)][toLong(f[1])] += toLong(f[2]);
    }
    return counts;
}

// Whether `offset` is `target` or reaches it through hypernyms.
bool descendsFrom(const PosData& nouns, long offset, long target) {
    std::vector<long> todo{offset};
    std::set<long> seen;
    while (!todo.empty()) {
        long o = todo.back();
        todo.pop_back();
        if (o == target) return true;
        if (!seen.insert(o).second) continue;
        auto it = nouns.synsets.find(o);
        if (it == nouns.synsets.end()) continue;
        for (long h : it->second.hypernyms) todo.push_back(h);
    }
    return false;
}

bool readWordNet(const fs::path& dir, Lexicon& lex) {
    std::array<PosData, 4> pos;
    for (size_t p = 0; p < 4; ++p) {
        auto data = readFile(dir / (std::string("data.") + kPosNames[p]));
        auto index = readFile(dir / (std::string("index.") + kPosNames[p]));
        if (data.empty() || index.empty()) return false;
        readData(data, pos[p]);
        readIndex(index, pos[p]);
    }
    Counts counts = readCounts(readFile(dir / "cntlist.rev"));

    // Which noun synsets are names: instances of persons and places, and the
    // proper names of organizations.
    long organization = -1;
    if (auto it = pos[0].senses.find("organization"); it != pos[0].senses.end() && !it->second.empty())
        organization = it->second.front();
    std::unordered_map<long, int> nameTypes;
    for (const auto& [offset, s] : pos[0].synsets) {
        if (s.lexFile == kLexPerson && s.instance) nameTypes[offset] = 0;
        else if (s.lexFile == kLexLocation && s.instance) nameTypes[offset] = 1;
        else if (s.lexFile == kLexGroup && organization >= 0 && descendsFrom(pos[0], offset, organization))
            nameTypes[offset] = 2;
    }
    auto frequency = [&](const std::string& lemma, size_t p, size_t sense) -> long {
        auto c = counts.find(lemma);
        if (c == counts.end()) return 0;
        auto it = c->second[p].find(static_cast<long>(sense) + 1);
        return it == c->second[p].end() ? 0 : it->second;
    };

    for (size_t p = 0; p < 4; ++p) {
        for (const auto& entry : pos[p].senses) {
            const std::string& lemma = entry.first;
            const std::vector<long>& offsets = entry.second;
            if (!isSingleWord(lemma)) continue;
            long commonFreq = 0;
            for (size_t k = 0; k < offsets.size(); ++k) {
                auto s = pos[p].synsets.find(offsets[k]);
                if (s == pos[p].synsets.end()) continue;
                // The lemma as this sense spells it: "may" the shrub, "May" the month.
                auto spelled = std::find_if(s->second.words.begin(), s->second.words.end(),
                                            [&](const std::string& w) { return lowered(w) == lemma; });
                if (spelled == s->second.words.end()) continue;
                long n = frequency(lemma, p, k);
                if (*spelled == lemma) commonFreq += n;
                else if (p != 0 || !nameTypes.contains(offsets[k])) lex.otherProperFrequency[*spelled] += n;
            }
            // Frequencies of proper-name senses ("May" the month) say nothing
            // about the lower-case word ("may"), so only common senses count.
            auto& e = lex.words[lemma];
            e.score[p] = commonFreq * 100 + std::min<long>(static_cast<long>(offsets.size()), 99);
            e.common = e.common || commonFreq > 0;
            e.commonFrequency += commonFreq;
        }
    }

    for (const auto& [offset, type] : nameTypes) {
        for (const auto& w : pos[0].synsets.at(offset).words) {
            if (isLowerCaseText(w)) continue;
            // The sense's tagged frequency: "Berlin" the city is far more
            // common than Irving Berlin.
            std::string lemma = lowered(w);
            long n = 0;
            if (auto senses = pos[0].senses.find(lemma); senses != pos[0].senses.end()) {
                auto at = std::find(senses->second.begin(), senses->second.end(), offset);
                if (at != senses->second.end()) n = frequency(lemma, 0, static_cast<size_t>(at - senses->second.begin()));
            }
            lex.addName(w, type, n, false);
        }
    }

    for (size_t p = 0; p < 4; ++p) {
        std::string text = readFile(dir / (std::string(kPosNames[p]) + ".exc"));
        for (auto line : splitLines(text)) {
            auto f = splitFields(line);
            if (f.size() < 2 || !isSingleWord(f[0])) continue;
            for (size_t i = 1; i < f.size(); ++i)
                if (isSingleWord(f[i]) && lex.inWordNet(std::string(f[i]), p))
                    lex.exceptions.emplace(p, std::string(f[0]), std::string(f[i]));
        }
    }
    return true;
}

// A dictionary token: "will.v" -> word "will", subscript "v".
struct Token {
    std::string word;
    std::string subscript;
};

Token splitToken(std::string_view t) {
    auto dot = t.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && dot + 1 < t.size()) {
        auto sub = t.substr(dot + 1);
        bool ok = sub[0] >= 'a' && sub[0] <= 'z' &&
                  std::all_of(sub.begin(), sub.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
        if (ok) return {std::string(t.substr(0, dot)), std::string(sub)};
    }
    return {std::string(t), {}};
}

bool isNounSubscript(std::string_view sub) { return !sub.empty() && sub[0] == 'n'; }
bool isOtherSubscript(std::string_view sub) {
    return !sub.empty() && (sub[0] == 'v' || sub[0] == 'a' || sub[0] == 'e' || sub[0] == 'g');
}

// The word lists in words/: each whitespace-separated token is one entry.
std::vector<Token> readWordList(const fs::path& file) {
    std::vector<Token> out;
    std::string text = readFile(file);
    for (auto line : splitLines(text)) {
        if (!line.empty() && line[0] == '%') continue;
        for (auto t : splitFields(line)) out.push_back(splitToken(t));
    }
    return out;
}

// The words that head definitions in the core dictionary file: the tokens
// before each unquoted ':' of a statement. Macros (<...>), file references
// (/...) and #define lines are skipped; '%' starts a comment.
std::vector<Token> readCoreDictionaryWords(const std::string& text) {
    std::vector<Token> out;
    std::vector<std::string> pending;
    bool inBody = false;
    size_t i = 0;
    auto skipComment = [&] {
        while (i < text.size() && text[i] != '\n') ++i;
    };
    while (i < text.size()) {
        char c = text[i];
        if (c == '%') {
            skipComment();
        } else if (inBody) {
            if (c == ';') inBody = false;
            ++i;
        } else if (c == '#' && (i == 0 || text[i - 1] == '\n')) {
            while (i < text.size() && text[i] != ';' && text[i] != '\n') ++i;
        } else if (c == ';') {
            pending.clear();
            ++i;
        } else if (c == ':') {
            for (const auto& t : pending)
                if (t[0] != '<' && t[0] != '/') out.push_back(splitToken(t));
            pending.clear();
            inBody = true;
            ++i;
        } else if (c == '"') {
            size_t end = text.find('"', i + 2);  // a quoted token is never empty
            if (end == std::string::npos) break;
            pending.emplace_back(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else {
            size_t start = i;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n' && text[i] != '\r' &&
                   text[i] != ':' && text[i] != ';' && text[i] != '%')
                ++i;
            pending.emplace_back(text.substr(start, i - start));
        }
    }
    return out;
}

// The suffixes the affix file lists for the SUF class: "'s 're ... : SUF+;".
std::vector<std::string> readClitics(const std::string& affix) {
    std::vector<std::string> out;
    std::vector<std::string> pending;
    for (auto line : splitLines(affix)) {
        if (!line.empty() && line[0] == '%') continue;
        for (auto t : splitFields(line)) {
            if (t == ":") continue;
            if (t.starts_with(":")) t.remove_prefix(1);
            if (t.empty()) continue;
            if (t.back() == ';') {
                if (t == "SUF+;") out.insert(out.end(), pending.begin(), pending.end());
                pending.clear();
            } else if (t.back() == ':' && t.size() > 1) {
                pending.emplace_back(t.substr(0, t.size() - 1));
            } else {
                pending.emplace_back(t);
            }
        }
    }
    return out;
}

bool readLinkGrammar(const fs::path& dir, Lexicon& lex) {
    for (const auto& suffix : readClitics(readFile(dir / "4.0.affix"))) lex.clitics.insert(suffix);
    auto core = readFile(dir / "4.0.dict");
    fs::path words = dir / "words";
    if (core.empty() || !fs::is_directory(words)) return false;

    for (const auto& t : readCoreDictionaryWords(core)) {
        if (!isSingleWord(t.word) || !hasLetter(t.word)) continue;
        auto& e = lex.words[lowered(t.word)];
        e.coreDefined = true;
        if (isNounSubscript(t.subscript)) e.lgNoun = true;
        else if (isOtherSubscript(t.subscript)) e.lgOther = true;
    }

    std::vector<fs::path> files;
    for (const auto& f : fs::directory_iterator(words)) files.push_back(f.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::string name = file.filename().string();
        if (name.rfind("entities.", 0) == 0) continue;
        for (const auto& t : readWordList(file)) {
            if (!isSingleWord(t.word) || !hasLetter(t.word)) continue;
            bool noun = isNounSubscript(t.subscript);
            if (!noun && !isOtherSubscript(t.subscript)) continue;
            auto& e = lex.words[lowered(t.word)];
            (noun ? e.lgNoun : e.lgOther) = true;
        }
    }

    auto addNames = [&](const char* file, int type, bool (*accept)(const Token&)) {
        for (const auto& t : readWordList(words / file))
            if (accept(t)) lex.addName(t.word, type, 0, true);
    };
    auto anyName = +[](const Token&) { return true; };
    // Places: abbreviations ("Ala.") and two-letter country codes ("AF")
    // are left out; they collide with ordinary words and acronyms.
    auto placeName = +[](const Token& t) {
        if (t.word.find('.') != std::string::npos) return false;
        bool allUpper = std::all_of(t.word.begin(), t.word.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
        return !(allUpper && t.word.size() <= 2);
    };
    // The organization list mostly holds words that begin longer names
    // ("United", "North"); only entries marked as organizations are names.
    auto organizationName = +[](const Token& t) { return t.subscript == "o"; };
    addNames("entities.given-bisex.sing", 0, anyName);
    addNames("entities.given-female.sing", 0, anyName);
    addNames("entities.given-male.sing", 0, anyName);
    addNames("entities.locations.sing", 1, placeName);
    addNames("entities.national.sing", 1, placeName);
    addNames("entities.us-states.sing", 1, placeName);
    addNames("entities.organizations.sing", 2, organizationName);
    return true;
}

std::string render(const Lexicon& lex) {
    std::string out;
    for (const auto& [words, v] : lex.names) {
        // A single word is left out when its capitalised spelling is used
        // more often otherwise ("French" the language, "May" the month), or,
        // known as a name only to WordNet ("Service" for Robert Service),
        // when its lower-case word is used more often than the name.
        if (words.find(' ') == std::string::npos) {
            if (auto other = lex.otherProperFrequency.find(words);
                other != lex.otherProperFrequency.end() && other->second > v.frequency)
                continue;
            auto common = lex.words.find(lowered(words));
            if (!v.listed && common != lex.words.end() && common->second.commonFrequency > v.frequency) continue;
        }
        size_t best = 0;
        for (size_t t = 1; t < 3; ++t)
            if (v.weight[t] > v.weight[best]) best = t;
        out += "N\t";
        out += kNameLetters[best];
        out += '\t' + words + '\n';
    }
    for (const auto& [form, e] : lex.words) {
        bool wordNet = std::any_of(e.score.begin(), e.score.end(), [](long s) { return s >= 0; });
        bool common = e.common || e.coreDefined;
        bool function = e.coreDefined && !e.lgNoun;
        // Link-grammar's classes only matter for forms WordNet cannot explain,
        // and the tagger takes an unknown word for a noun anyway.
        if (!wordNet && !common && !function && (e.lgNoun || lex.inflectionInWordNet(form))) continue;
        out += "W\t" + form;
        for (long s : e.score) {
            out += '\t';
            if (s >= 0) out += std::to_string(s);
        }
        out += '\t';
        if (common) out += 'c';
        if (function) out += 'f';
        if (e.lgNoun) out += 'n';
        if (e.lgOther) out += 'o';
        out += '\n';
    }
    for (const auto& c : lex.clitics) out += "S\t" + c + '\n';
    for (const auto& [pos, form, lemma] : lex.exceptions) out += std::string("X\t") + kPosLetters[pos] + '\t' + form + '\t' + lemma + '\n';
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " <wordnet-dir> <link-grammar-en-dir> <output.cpp>\n";
        return 2;
    }
    Lexicon lex;
    // Without either source the tagger would take most words for nouns and
    // name conversations badly: the build stops instead.
    if (!readWordNet(argv[1], lex)) {
        std::cerr << "error: WordNet not found in " << argv[1] << "\n";
        return 1;
    }
    if (!readLinkGrammar(argv[2], lex)) {
        std::cerr << "error: link-grammar's English dictionary not found in " << argv[2] << "\n";
        return 1;
    }
    std::string data = render(lex);
    if (data.find(")lexicon\"") != std::string::npos) {
        std::cerr << "error: the lexicon holds its own string delimiter\n";
        return 1;
    }

    std::string out =
        "// Generated by WordLexiconGenerator from WordNet and link-grammar's English dictionary.\n"
        "#include <string_view>\n\n"
        "namespace vorel::detail {\n\n"
        "std::string_view wordLexiconData() {\n"
        "    static constexpr char data[] = R\"lexicon(";
    out += data;
    out += ")lexicon\";\n"
           "    return {data, sizeof data - 1};\n"
           "}\n\n"
           "}  // namespace vorel::detail\n";
    std::string tmp = std::string(argv[3]) + ".tmp";
    std::error_code ec;
    {
        // The stream's last bytes reach the file only at close(), which is
        // checked too: a full disk must not leave a short file in place.
        std::ofstream f(tmp, std::ios::binary);
        f << out;
        f.close();
        if (!f) {
            fs::remove(tmp, ec);
            return 1;
        }
    }
    fs::rename(tmp, argv[3], ec);
    return ec ? 1 : 0;
}
