#include "engine/NameSuggester.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "engine/LexiconWordTagger.h"
#include "engine/TextRules.h"

namespace vorel::NameSuggester {

namespace {

constexpr size_t kTextLimit = 600;  // user-perceived characters
constexpr size_t kWordLimit = 2;
constexpr size_t kMinimumLength = 3;  // user-perceived characters

// Words too generic to name a conversation by; compared in lower case.
constexpr std::array<std::string_view, 57> kStopWords = {
    "and", "app", "application", "are", "build", "built", "code", "day", "file", "files", "for", "from", "help",
    "her", "here", "him", "into", "junior", "look", "make", "need", "now", "one", "our", "page", "personal",
    "please", "project", "projects", "site", "someone", "something", "stuff", "that", "the", "them", "then",
    "there", "thing", "things", "this", "time", "today", "tomorrow", "tool", "user", "users", "using", "want",
    "way", "web", "website", "with", "work", "yesterday", "you", "your"};
static_assert(std::ranges::is_sorted(kStopWords));

icu::UnicodeString toUnicode(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

std::string toUtf8(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::string foldCase(std::string_view s) { return toUtf8(toUnicode(s).foldCase()); }

bool isStopWord(std::string_view word) {
    std::string lower;
    vorel::text::lowerCase(word, lower);
    return std::ranges::binary_search(kStopWords, lower);
}

size_t clusterCount(std::string_view s, size_t atMost) { return vorel::text::graphemeEnds(s, atMost).size(); }

// The text up to the end of its `limit`-th grapheme cluster (limit > 0).
std::string_view clusterPrefix(std::string_view s, size_t limit) {
    if (s.size() <= limit) return s;  // no cluster is shorter than a byte
    return s.substr(0, vorel::text::graphemeEnds(s, limit).back());
}

// Letters, marks and digits: what stays at either end of a candidate.
bool isAlphanumeric(UChar32 c) { return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0; }

std::string_view trimmedToAlphanumerics(std::string_view s) {
    return vorel::text::trimmed(s, [](char32_t c) { return !isAlphanumeric(static_cast<UChar32>(c)); });
}

// A character that does not split plain words: its first code point is
// alphabetic or has a numeric value (an ill-formed byte, negative, has
// neither).
bool isLetterOrNumber(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

// The pieces of `text` between characters that are neither letters nor
// numbers; empty where two such characters meet (too short to be taken).
std::vector<std::string_view> plainWords(std::string_view text) {
    std::vector<std::string_view> words;
    size_t pieceStart = 0;
    size_t clusterStart = 0;
    for (size_t end : vorel::text::graphemeEnds(text, text.size())) {
        if (!isLetterOrNumber(vorel::text::firstCodePoint(text.substr(clusterStart)))) {
            words.push_back(text.substr(pieceStart, clusterStart - pieceStart));
            pieceStart = end;
        }
        clusterStart = end;
    }
    words.push_back(text.substr(pieceStart));
    return words;
}

// The words collected for a topic, in order. Callers stop adding once it is
// full.
class TopicWords {
public:
    bool full() const { return words_.size() >= kWordLimit; }
    bool empty() const { return words_.empty(); }

    void add(std::string_view candidate) {
        std::string_view word = trimmedToAlphanumerics(candidate);
        if (clusterCount(word, kMinimumLength) < kMinimumLength || isStopWord(word)) return;
        std::string folded = foldCase(word);
        if (std::find(folded_.begin(), folded_.end(), folded) != folded_.end()) return;
        words_.emplace_back(word);
        folded_.push_back(std::move(folded));
    }

    std::string joinedCapitalised() const {
        std::string out;
        for (const std::string& w : words_) {
            if (!out.empty()) out += ' ';
            // Every word has at least kMinimumLength characters.
            size_t first = vorel::text::graphemeEnds(w, 1).front();
            out += toUtf8(toUnicode(std::string_view(w).substr(0, first)).toUpper(icu::Locale::getRoot()));
            out.append(w, first);
        }
        return out;
    }

private:
    std::vector<std::string> words_;
    std::vector<std::string> folded_;
};

}  // namespace

std::string keywordTopic(std::string_view text) { return keywordTopic(text, LexiconWordTagger::shared()); }

std::string keywordTopic(std::string_view text, const WordTagger& tagger) {
    std::string_view head = clusterPrefix(text, kTextLimit);
    std::vector<TaggedWord> tagged = tagger.tag(head);
    TopicWords topic;

    for (const TaggedWord& w : tagged) {
        if (topic.full()) break;
        if (w.name) topic.add(w.text);
    }
    for (const TaggedWord& w : tagged) {
        if (topic.full()) break;
        if (w.noun) topic.add(w.text);
    }
    if (topic.empty()) {
        for (std::string_view piece : plainWords(head)) {
            if (topic.full()) break;
            topic.add(piece);
        }
    }
    return topic.empty() ? std::string("Untitled") : topic.joinedCapitalised();
}

}  // namespace vorel::NameSuggester
