#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "LexiconWordTagger.h"

using namespace vorel;

namespace {

// A small lexicon in the generated format. Scores: tagged frequency x 100
// plus sense count, per noun, verb, adjective, adverb.
const std::string kLexicon =
    "N\tP\tAlice\n"
    "N\tP\tJohnson\n"
    "N\tL\tBerlin\n"
    "N\tP\tMark\n"
    "N\tL\tNew York\n"
    "N\tL\tNew York City\n"
    "N\tO\tBank of England\n"
    "W\toffice\t5003\t\t\t\t\n"
    "W\tdashboard\t2\t\t\t\t\n"
    "W\tbilling\t1\t\t\t\to\n"
    "W\tbill\t3310\t303\t\t\tc\n"
    "W\tfix\t205\t3612\t\t\tc\n"
    "W\ttest\t3606\t4507\t\t\tc\n"
    "W\tmark\t1715\t5815\t\t\tc\n"
    "W\tgoose\t301\t\t\t\t\n"
    "W\treading\t3208\t\t\t\tc\n"
    "W\tread\t5\t16908\t\t\tc\n"
    "W\tmay\t2\t\t\t\tcf\n"
    "W\tyou\t\t\t\t\tcf\n"
    "W\tthe\t\t\t\t\tcf\n"
    "W\ta\t\t\t\t\tcf\n"
    "W\tto\t\t\t\t\tcf\n"
    "W\tit\t\t\t\t\tcf\n"
    "W\tplease\t\t\t\t\tcf\n"
    "W\tadd\t\t20308\t\t\tc\n"
    "W\tcaching\t\t\t\t\to\n"
    "W\tlogin\t\t\t\t\tn\n"
    "X\tn\tgeese\tgoose\n"
    "S\t's\n"
    "S\t're\n";

struct Tag {
    std::string text;
    std::optional<NameType> name;
    bool noun;
    bool operator==(const Tag&) const = default;
};

std::vector<Tag> tags(const LexiconWordTagger& tagger, std::string_view text) {
    std::vector<Tag> out;
    for (const TaggedWord& w : tagger.tag(text)) {
        EXPECT_TRUE(w.text.data() >= text.data() && w.text.data() + w.text.size() <= text.data() + text.size());
        out.push_back({std::string(w.text), w.name, w.noun});
    }
    return out;
}

std::vector<std::string> names(const LexiconWordTagger& tagger, std::string_view text) {
    std::vector<std::string> out;
    for (const TaggedWord& w : tagger.tag(text))
        if (w.name) out.push_back(std::string(w.text));
    return out;
}

std::vector<std::string> nouns(const LexiconWordTagger& tagger, std::string_view text) {
    std::vector<std::string> out;
    for (const TaggedWord& w : tagger.tag(text))
        if (w.noun) out.push_back(std::string(w.text));
    return out;
}

using Words = std::vector<std::string>;

}  // namespace

TEST(LexiconWordTagger, WordsAreLetterAndNumberSegmentsAndAnEmptyLexiconTagsNothing) {
    LexiconWordTagger none("");
    EXPECT_TRUE(none.empty());
    std::vector<Tag> expected = {{"Hello", {}, false}, {"naïve", {}, false}, {"42", {}, false},
                                 {"v2.1", {}, false},  {"Berlin", {}, false}};
    EXPECT_EQ(tags(none, "Hello, naïve 42 🎉 (v2.1) -- Berlin!"), expected);
    EXPECT_TRUE(tags(none, "").empty());
    EXPECT_TRUE(tags(none, " ... !? ").empty());
}

TEST(LexiconWordTagger, NamesMatchInTheirUsualCapitalisation) {
    LexiconWordTagger tagger(kLexicon);
    auto t = tags(tagger, "ask Alice Johnson in Berlin, not alice or BERLIN");
    EXPECT_EQ(t[1], (Tag{"Alice", NameType::person, true}));  // unknown to the dictionaries: a noun
    EXPECT_EQ(t[2].name, NameType::person);
    EXPECT_EQ(t[4], (Tag{"Berlin", NameType::place, true}));
    EXPECT_EQ(names(tagger, "ask Alice Johnson in Berlin, not alice or BERLIN"), (Words{"Alice", "Johnson", "Berlin"}));

    // The longest name wins; every capitalised word of it is tagged, a
    // lower-case connecting word is not.
    EXPECT_EQ(names(tagger, "we flew to New York City today"), (Words{"New", "York", "City"}));
    EXPECT_EQ(names(tagger, "we flew to New York on Monday"), (Words{"New", "York"}));
    EXPECT_EQ(names(tagger, "rates of the Bank of England rose"), (Words{"Bank", "England"}));
    // A line break or a wide gap ends a name; "New" alone is none.
    EXPECT_EQ(names(tagger, "New\nYork"), Words{});
    EXPECT_EQ(names(tagger, "New  --  York"), Words{});

    // A possessive or other clitic is split off.
    EXPECT_EQ(names(tagger, "fix Alice's dashboard"), Words{"Alice"});
    EXPECT_EQ(tags(tagger, "you're")[0].text, "you");
}

TEST(LexiconWordTagger, CapitalsAtASentenceStartOnlyNameUncommonWords) {
    LexiconWordTagger tagger(kLexicon);
    EXPECT_EQ(names(tagger, "Mark the failing tests"), Words{});
    EXPECT_EQ(names(tagger, "Please ask Mark."), Words{"Mark"});
    EXPECT_EQ(names(tagger, "Done. Mark the tests"), Words{});
    EXPECT_EQ(names(tagger, "done:\n- Mark the tests"), Words{});
    EXPECT_EQ(names(tagger, "Marks are due"), Words{});  // no entry for the plural
    // Berlin is no common English word, so it is a name anywhere.
    EXPECT_EQ(names(tagger, "Berlin is slow. Berlin again"), (Words{"Berlin", "Berlin"}));
}

TEST(LexiconWordTagger, NounsFollowWordNetFrequencies) {
    LexiconWordTagger tagger(kLexicon);
    // A noun-only lemma; a lemma over a weak verb inflection ("to bill").
    EXPECT_EQ(nouns(tagger, "the office dashboard billing"), (Words{"office", "dashboard", "billing"}));
    // Verb counts are shared by four forms: "fix" 2 vs 36/4, "test" 36 vs 45/4.
    EXPECT_EQ(nouns(tagger, "please fix the test"), Words{"test"});
    // At a sentence start the base form takes the verb's whole count.
    EXPECT_EQ(nouns(tagger, "Test the parser"), Words{"parser"});
    EXPECT_EQ(nouns(tagger, "a test. Test it"), Words{"test"});
    // Inflections: regular, irregular, and one whose verb outweighs the noun.
    EXPECT_EQ(nouns(tagger, "dashboards geese tests reading"), (Words{"dashboards", "geese", "tests"}));
    // Capitals do not matter for nouns.
    EXPECT_EQ(nouns(tagger, "OFFICE Dashboard"), (Words{"OFFICE", "Dashboard"}));
}

TEST(LexiconWordTagger, WordsOutsideWordNetFollowLinkGrammarElseCountAsNouns) {
    LexiconWordTagger tagger(kLexicon);
    // "may": a never-tagged noun that is a function word; "you": a function
    // word only; "caching": a verb form; "login": a noun.
    EXPECT_EQ(nouns(tagger, "you may add caching to the login"), Words{"login"});
    // Unknown words with a letter are nouns; plain numbers are not.
    EXPECT_EQ(nouns(tagger, "kubernetes 2024 v2 3.5"), (Words{"kubernetes", "v2"}));
    EXPECT_TRUE(tagger.isNoun("kubernetes"));
    EXPECT_FALSE(tagger.isNoun("may"));
    EXPECT_FALSE(LexiconWordTagger("").isNoun("kubernetes"));
}

TEST(LexiconWordTagger, BuiltInLexiconTagsPlainEnglish) {
    const auto& tagger = LexiconWordTagger::shared();
    ASSERT_FALSE(tagger.empty()) << "built without the WordNet and link-grammar dictionaries";
    EXPECT_EQ(&tagger, &LexiconWordTagger::shared());

    std::string text = "Alice Johnson wants the Berlin office dashboard fixed";
    auto t = tags(tagger, text);
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[0].name, NameType::person);
    EXPECT_EQ(t[1].name, NameType::person);
    EXPECT_EQ(t[4].name, NameType::place);
    EXPECT_EQ(names(tagger, text), (Words{"Alice", "Johnson", "Berlin"}));
    EXPECT_EQ(nouns(tagger, text), (Words{"Alice", "Johnson", "Berlin", "office", "dashboard"}));

    EXPECT_EQ(names(tagger, "Our team in New York needs the deployment fixed"), (Words{"New", "York"}));
    EXPECT_EQ(nouns(tagger, "Can you fix the login bug in the billing service?"),
              (Words{"login", "bug", "billing", "service"}));
    EXPECT_EQ(nouns(tagger, "Set up the dashboards and tests"), (Words{"dashboards", "tests"}));
    EXPECT_EQ(names(tagger, "Reading the logs. Will you mark them?"), Words{});
    // Nationalities and months are no names, nor a word WordNet knows
    // mainly in lower case; the name lists' given names are.
    EXPECT_EQ(names(tagger, "emails in German and French for the Paris launch in May"), Words{"Paris"});
    EXPECT_EQ(names(tagger, "ask Mark about the Service layer"), Words{"Mark"});
}
