#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/LexiconWordTagger.h"

using namespace vorel;

namespace {

// A small lexicon in the generated format. Scores: tagged frequency x 100
// plus sense count, per noun, verb, adjective, adverb.
const std::string kLexicon =
    "N\tP\tAlice\nN\tP\tJohnson\nN\tL\tBerlin\nN\tP\tMark\n"
    "N\tL\tNew York\nN\tL\tNew York City\nN\tO\tBank of England\n"
    "W\toffice\t5003\t\t\t\t\nW\tdashboard\t2\t\t\t\t\nW\tbilling\t1\t\t\t\to\n"
    "W\tbill\t3310\t303\t\t\tc\nW\tfix\t205\t3612\t\t\tc\nW\ttest\t3606\t4507\t\t\tc\n"
    "W\tmark\t1715\t5815\t\t\tc\nW\tgoose\t301\t\t\t\t\nW\treading\t3208\t\t\t\tc\n"
    "W\tread\t5\t16908\t\t\tc\nW\tmay\t2\t\t\t\tcf\n"
    "W\tyou\t\t\t\t\tcf\nW\tthe\t\t\t\t\tcf\nW\ta\t\t\t\t\tcf\nW\tto\t\t\t\t\tcf\n"
    "W\tit\t\t\t\t\tcf\nW\tplease\t\t\t\t\tcf\nW\tadd\t\t20308\t\t\tc\n"
    "W\tcaching\t\t\t\t\to\nW\tlogin\t\t\t\t\tn\nW\tsetup\t\t\t\t\tno\nN\tO\tnpm\n"
    "W\tget\t\t9000\t\t\tc\nW\tgo\t\t9000\t\t\tc\n"
    "X\tn\tgeese\tgoose\nX\tv\tgot\tget\nS\t's\nS\t're\nS\tn't\n"
    "W\tgood\t\t\t9000\t\tc\nW\twell\t\t\t\t9000\tc\nX\ta\tbetter\tgood\nX\tr\tbest\twell\n"
    "W\tfly\t500\t3000\t\t\t\nW\tpas\t5000\t\t\t\t\nW\tpass\t200\t4000\t\t\tc\nW\tzap\t\t0\t\t\tcn\n";

using Words = std::vector<std::string>;

// The words of `text` that `keep` selects, each checked to be a view into it.
Words words(const LexiconWordTagger& tagger, std::string_view text, bool (*keep)(const TaggedWord&) = nullptr) {
    Words out;
    for (const TaggedWord& w : tagger.tag(text)) {
        EXPECT_TRUE(w.text.data() >= text.data() && w.text.data() + w.text.size() <= text.data() + text.size());
        if (!keep || keep(w)) out.emplace_back(w.text);
    }
    return out;
}
Words names(const LexiconWordTagger& t, std::string_view text) {
    return words(t, text, [](const TaggedWord& w) { return w.name.has_value(); });
}
Words nouns(const LexiconWordTagger& t, std::string_view text) { return words(t, text, [](const TaggedWord& w) { return w.noun; }); }

}  // namespace

TEST(LexiconWordTagger, WordsAreLetterAndNumberSegmentsAndAnEmptyLexiconTagsNothing) {
    LexiconWordTagger none("");
    EXPECT_TRUE(none.empty());
    const std::string text = "Hello, naïve 42 🎉 (v2.1) -- Berlin!";
    EXPECT_EQ(words(none, text), (Words{"Hello", "naïve", "42", "v2.1", "Berlin"}));
    EXPECT_TRUE(names(none, text).empty() && nouns(none, text).empty());
    EXPECT_TRUE(words(none, " ... !? ").empty());
}

TEST(LexiconWordTagger, NamesMatchInTheirUsualCapitalisation) {
    LexiconWordTagger tagger(kLexicon);
    auto t = tagger.tag("ask Alice Johnson");
    EXPECT_EQ(t[1].name, NameType::person);
    EXPECT_TRUE(t[1].noun);  // unknown to the dictionaries: a noun
    EXPECT_EQ(names(tagger, "ask Alice Johnson in Berlin, not alice or BERLIN"), (Words{"Alice", "Johnson", "Berlin"}));

    // The longest name wins; every capitalised word of it is tagged, a
    // lower-case connecting word is not.
    EXPECT_EQ(names(tagger, "we flew to New York City today"), (Words{"New", "York", "City"}));
    EXPECT_EQ(names(tagger, "rates of the Bank of England rose"), (Words{"Bank", "England"}));
    // A line break or a gap over three characters ends a name; "New" alone
    // is none. A name may end the text, and the word after it is not part of it.
    EXPECT_EQ(names(tagger, "New\nYork or New -- York"), Words{});
    EXPECT_EQ(names(tagger, "from New - York"), (Words{"New", "York"}));
    EXPECT_EQ(names(tagger, "the New York Office"), (Words{"New", "York"}));
    // A name spelled in lower case is known but tags no word.
    EXPECT_EQ(names(tagger, "install npm"), Words{});

    // A possessive or other clitic is split off.
    EXPECT_EQ(names(tagger, "fix Alice's dashboard"), Words{"Alice"});
    EXPECT_EQ(words(tagger, "you're"), Words{"you"});
    // Clitics match in any case; a word that is only a clitic stays whole.
    EXPECT_EQ(words(tagger, "YOU'RE DON'T n't"), (Words{"YOU", "DO", "n't"}));

    // Capitals at a sentence start only name uncommon words.
    EXPECT_EQ(names(tagger, "Mark the failing tests"), Words{});
    EXPECT_EQ(names(tagger, "Please ask Mark."), Words{"Mark"});
    EXPECT_EQ(names(tagger, "done:\n- Mark the tests"), Words{});
    // Berlin is no common English word, so it is a name anywhere.
    EXPECT_EQ(names(tagger, "Berlin is slow. Berlin again"), (Words{"Berlin", "Berlin"}));

    // An inflected form is common through its lemma: "Got" comes from the
    // common "get", "Geese" from the known but uncommon "goose".
    // The tagger keeps views into its lexicon, so the text lives as long.
    // A score of zero still lists the lemma: "Zaps" is common through "zap".
    const std::string inflectedLexicon = kLexicon + "N\tP\tGot\nN\tP\tGeese\nN\tP\tZaps\n";
    LexiconWordTagger inflected(inflectedLexicon);
    EXPECT_EQ(names(inflected, "Got it. Geese again. Zaps"), Words{"Geese"});
    EXPECT_EQ(names(inflected, "we saw Got"), Words{"Got"});
}

TEST(LexiconWordTagger, NounsFollowWordNetFrequenciesThenLinkGrammar) {
    LexiconWordTagger tagger(kLexicon);
    // A noun-only lemma; a lemma over a weak verb inflection ("to bill").
    EXPECT_EQ(nouns(tagger, "the office dashboard billing"), (Words{"office", "dashboard", "billing"}));
    // Verb counts are shared by four forms: "fix" 2 vs 36/4, "test" 36 vs 45/4.
    EXPECT_EQ(nouns(tagger, "please fix the test"), Words{"test"});
    // At a sentence start the base form takes the verb's whole count.
    EXPECT_EQ(nouns(tagger, "Test the parser"), Words{"parser"});
    // Inflections: regular, irregular, and one whose verb outweighs the noun.
    EXPECT_EQ(nouns(tagger, "dashboards geese tests reading"), (Words{"dashboards", "geese", "tests"}));
    EXPECT_EQ(nouns(tagger, "you got the goose"), Words{"goose"});  // an irregular verb form
    EXPECT_EQ(nouns(tagger, "it goes"), Words{});  // a regular one of a two-letter verb
    EXPECT_EQ(nouns(tagger, "it flies"), Words{});  // "fly" from a two-letter stem
    // Irregular adjective and adverb forms.
    EXPECT_EQ(nouns(tagger, "better best"), Words{});
    // A noun ending in "ss" is no plural: "pass" is not read as "pas".
    EXPECT_EQ(nouns(tagger, "you pass"), Words{});
    // Without a sentence start given, a word is taken mid-sentence.
    EXPECT_TRUE(tagger.isNoun("test"));
    EXPECT_FALSE(tagger.isNoun("test", true));

    // Words outside WordNet follow link-grammar, else count as nouns.
    // "may": a never-tagged noun that is a function word; "you": a function
    // word only; "caching": a verb form; "login": a noun.
    EXPECT_EQ(nouns(tagger, "you may add caching to the login"), Words{"login"});
    EXPECT_EQ(nouns(tagger, "the setup"), Words{"setup"});  // a noun and more
    // A verb WordNet lists but never saw tagged still outranks link-grammar.
    EXPECT_EQ(nouns(tagger, "the zap"), Words{});
    // Unknown words with a letter are nouns; plain numbers are not.
    EXPECT_EQ(nouns(tagger, "kubernetes 2024 v2 3.5"), (Words{"kubernetes", "v2"}));
    EXPECT_FALSE(LexiconWordTagger("").isNoun("kubernetes"));
}

TEST(LexiconWordTagger, BuiltInLexiconTagsPlainEnglish) {
    const auto& tagger = LexiconWordTagger::shared();
    ASSERT_FALSE(tagger.empty()) << "built without the WordNet and link-grammar dictionaries";
    EXPECT_EQ(tagger.tag("the Berlin office")[1].name, NameType::place);
    EXPECT_EQ(nouns(tagger, "Alice Johnson wants the Berlin office dashboard fixed"),
              (Words{"Alice", "Johnson", "Berlin", "office", "dashboard"}));
    // A word WordNet knows mainly in lower case is no name; the name lists'
    // given names are.
    EXPECT_EQ(names(tagger, "ask Mark about the Service layer"), Words{"Mark"});
}

TEST(LexiconWordTagger, MalformedLexiconLinesAreIgnored) {
    // Each line is a valid one with a field too few or too many, an unknown
    // kind, name type or part of speech, or an empty word; read before the
    // valid lexicon, none of them changes what it tags.
    const std::string lexicon =
        "S\t\n"
        "W\tkubernetes\t\t900\n"
        "W\tkubernetes\t\t900\t\t\t\t\n"
        "W\tes\n"
        "X\tv\tkubernetes\tadd\textra\n"
        "Q\tv\tkubernetes\tadd\n"
        "X\tq\tkubernetes\tadd\n"
        "Q\tP\tKubernetes\n"
        "N\tQ\tKubernetes\n"
        "N\tP\tKubernetes\tx\n" +
        kLexicon;
    LexiconWordTagger tagger(lexicon);
    EXPECT_EQ(words(tagger, "ask Alice's kubernetes"), (Words{"ask", "Alice", "kubernetes"}));
    EXPECT_EQ(nouns(tagger, "the kubernetes"), Words{"kubernetes"});
    EXPECT_EQ(names(tagger, "ask Kubernetes or Alice"), Words{"Alice"});
    // A lexicon of nothing but broken word lines tags nothing.
    EXPECT_TRUE(LexiconWordTagger("W\t\t100\t\t\t\t\nW\tx\t100\n").empty());
    // Nor is there anything to tag in empty text.
    EXPECT_TRUE(tagger.tag("").empty() && tagger.tag(std::string_view()).empty());
}
