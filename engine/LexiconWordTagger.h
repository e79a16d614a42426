#pragma once
// A word tagger driven by a lexicon built from WordNet and link-grammar's
// English dictionary (see lexicon/WordLexiconGenerator.cpp for its format).
//
// Words are the letter and number segments of ICU's word breaking, without
// the clitics link-grammar splits off ("Alice's" -> "Alice", "you're" ->
// "you").
// Names: a word sequence that matches a name of the lexicon exactly, in its
// usual capitalisation, tags its capitalised words with the name's type; the
// longest match wins. A lone capitalised word at the start of a sentence is
// only taken for a name when its lower-case form is no common word ("Mark
// the tests", "Reading the logs"), since there capitals say nothing.
// Nouns: WordNet decides for the words it knows, as a lemma or through its
// inflection rules: a word is a noun when its noun reading was tagged at
// least as often in WordNet's corpus as any other reading. A verb's count is
// shared by its four forms (base, -s, -ed, -ing), so a verb reading weighs a
// quarter of it; on equal weight a reading of the form itself beats one of an
// inflection ("billing" the noun, not a form of "to bill"), then more senses
// win. At the start of a sentence a verb is mostly in its base form (an
// imperative or a question: "Set up ...", "Can you ..."), so there a verb
// lemma weighs its whole count. A noun never tagged in the corpus that link-grammar defines only as a
// function word ("may", "must") is none. For words WordNet does not know,
// link-grammar's word classes decide; a word neither knows ("api",
// "kubernetes") is taken for a noun when it holds a letter.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/WordMorphology.h"
#include "engine/WordTagger.h"

namespace vorel {

class LexiconWordTagger final : public WordTagger {
public:
    // Builds the tables from lexicon text, which must outlive the tagger.
    // A lexicon without word entries (a build without the dictionary
    // packages) gives a tagger that tags nothing.
    explicit LexiconWordTagger(std::string_view lexicon);

    // The lexicon text generated from the dictionaries at build time.
    static std::string_view builtInLexicon();

    // The tagger over the built-in lexicon, loaded on first use.
    static const LexiconWordTagger& shared();

    std::vector<TaggedWord> tag(std::string_view text) const override;

    bool empty() const { return words_.empty(); }

    // Whether a lower-case word form counts as a noun, in the middle of a
    // sentence or at its start.
    bool isNoun(std::string_view lowerForm, bool sentenceStart = false) const;

private:
    using PartOfSpeech = morphology::PartOfSpeech;
    using Scores = std::array<std::int32_t, 4>;  // per part of speech; -1: not a lemma

    // The weight of reading a form as one part of speech.
    struct Reading {
        std::int32_t share = -1;  // tagged uses of this form, estimated; -1: no reading
        bool exact{};             // the form is the lemma itself
        std::int32_t senses{};
        auto operator<=>(const Reading&) const = default;
    };
    using Readings = std::array<Reading, 4>;

    struct WordInfo {
        Scores scores{};  // every lexicon line sets all four
        std::uint8_t flags{};
    };
    struct LongerName {  // always built with all three members
        std::string_view words;  // separated by one space
        std::uint32_t count;
        NameType type;
    };
    struct NameHead {
        std::optional<NameType> single;
        std::vector<LongerName> longer;  // longest first
    };
    struct Exception {
        PartOfSpeech pos;
        std::string_view lemma;
    };

    const WordInfo* find(std::string_view lowerForm) const;
    Readings wordNetReadings(std::string_view lowerForm, const WordInfo* entry, bool sentenceStart) const;
    size_t cliticLength(std::string_view word) const;
    bool isCommon(std::string_view lowerForm) const;
    template <class Visit>
    void visitInflectionLemmas(std::string_view lowerForm, Visit&& visit) const;

    std::unordered_map<std::string_view, WordInfo> words_;
    std::unordered_map<std::string_view, NameHead> names_;
    std::unordered_map<std::string_view, std::vector<Exception>> exceptions_;
    std::vector<std::string_view> clitics_;
};

}  // namespace vorel
