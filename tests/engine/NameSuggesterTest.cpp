#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/NameSuggester.h"

using namespace vorel;
using NameSuggester::keywordTopic;

namespace {

using Words = std::vector<std::string>;

// Splits at blanks and tags the words it was told about as names or nouns;
// remembers the text it was given.
class FakeTagger : public WordTagger {
public:
    FakeTagger(const Words& names = {}, const Words& nouns = {}) {
        for (const std::string& w : names) tags_[w].name = NameType::place;
        for (const std::string& w : nouns) tags_[w].noun = true;
    }

    std::vector<TaggedWord> tag(std::string_view text) const override {
        seen = std::string(text);
        std::vector<TaggedWord> out;
        size_t start = 0;
        while (start <= text.size()) {
            const size_t end = std::min(text.find(' ', start), text.size());
            const std::string_view word = text.substr(start, end - start);
            start = end + 1;
            if (word.empty()) continue;
            TaggedWord tagged;  // a word it was told nothing about keeps the default tags
            if (auto it = tags_.find(std::string(word)); it != tags_.end()) tagged = it->second;
            tagged.text = word;
            out.push_back(tagged);
        }
        return out;
    }

    mutable std::string seen;

private:
    std::map<std::string, TaggedWord> tags_;
};

std::string repeat(std::string_view s, size_t n) {
    std::string out;
    while (n--) out += s;
    return out;
}

}  // namespace

TEST(NameSuggester, NamesThenNounsThenPlainWords) {
    const struct {
        std::string text;
        FakeTagger tagger;
        std::string topic;
    } cases[] = {
        // Nothing qualifies: too short, a stop word in any case, or no letter.
        {"the ab -- ?! a to-do; it's ok", {{}, {"the", "ab"}}, "Untitled"},
        {"Please look at THE Project, And APP, yesterday's way", {}, "Untitled"},
        // Names come first in text order, word by word, and a third is
        // ignored; a noun before them does not get in.
        {"dashboard for Alice Johnson in Berlin", {{"Alice", "Johnson", "Berlin"}, {"dashboard"}}, "Alice Johnson"},
        // One name, then the first noun that passes the filters.
        {"the Berlin ui page office dashboard", {{"Berlin"}, {"Berlin", "ui", "page", "office"}}, "Berlin Office"},
        // A noun collected: the plain words never run, however many there are.
        {"rewrite ui page settings quickly", {{}, {"ui", "page", "settings"}}, "Settings"},
        // Repeats ignoring case are collected once, with full case folding.
        {"Berlin BERLIN berlin office", {{"Berlin", "BERLIN", "berlin"}, {"office"}}, "Berlin Office"},
        {"Straße STRASSE map", {{}, {"Straße", "STRASSE", "map"}}, "Straße Map"},
        // The first character is capitalised by full case mapping.
        {"élan e\u0301cole", {{}, {"élan", "e\u0301cole"}}, "Élan E\u0301cole"},
        {"ßig", {{}, {"ßig"}}, "SSig"},
        // Plain words split at every character that is no letter or number.
        {"re-deploy the staging_server now", {}, "Deploy Staging"},
        {"v2 build: 2024 release", {}, "2024 Release"},
        {"naïve—café", {}, "Naïve Café"},
        {"élan vital", {}, "Élan Vital"},
        {"naïve\xFF" "café", {}, "Naïve Café"},  // an ill-formed byte splits too
        // Candidates are trimmed to letters and numbers and measured in
        // characters: two in four code points are too short, three in nine
        // bytes are enough.
        {"(ab) «Berlin», (Project)", {{"«Berlin»,"}, {"(ab)", "(Project)"}}, "Berlin"},
        {"e\u0301e\u0301 日本語", {{}, {"e\u0301e\u0301", "日本語"}}, "日本語"},
    };
    for (const auto& c : cases) EXPECT_EQ(keywordTopic(c.text, c.tagger), c.topic) << c.text;
}

TEST(NameSuggester, ReadsOnlyTheFirst600Characters) {
    FakeTagger tagger({"Berlin"});
    // The name ends at character 600: seen. One character later: cut.
    EXPECT_EQ(keywordTopic(repeat(".", 593) + " Berlin", tagger), "Berlin");
    EXPECT_EQ(keywordTopic(repeat(".", 594) + " Berlin", tagger), "Berli");
    EXPECT_EQ(tagger.seen.size(), 600u);
    EXPECT_EQ(keywordTopic(repeat(".", 600) + " Berlin office", tagger), "Untitled");
    // Characters, not bytes or code points: a thumb with a skin tone is one.
    std::string thumbs = repeat("👍🏽", 593);
    EXPECT_EQ(keywordTopic(thumbs + " Berlin", tagger), "Berlin");
    EXPECT_EQ(keywordTopic(thumbs + "👍🏽 Berlin", tagger), "Berli");
    EXPECT_EQ(tagger.seen, thumbs + "👍🏽 Berli");
    // A line break written CR LF is one character too.
    EXPECT_EQ(keywordTopic(repeat("\r\n", 593) + " Berlin", tagger), "Berlin");
    EXPECT_EQ(keywordTopic(repeat("\r\n", 594) + " Berlin", tagger), "Berli");
}

TEST(NameSuggester, SuggestsFromPlainEnglishWithTheBuiltInTagger) {
    EXPECT_EQ(keywordTopic("Alice Johnson wants the Berlin office dashboard fixed"), "Alice Johnson");
    EXPECT_EQ(keywordTopic("The Berlin office dashboard is broken"), "Berlin Office");
    EXPECT_EQ(keywordTopic("Can you fix the login bug in the billing service?"), "Login Bug");
    EXPECT_EQ(keywordTopic("please refactor the payment service"), "Payment Service");
    // Nationalities and months are no names.
    EXPECT_EQ(keywordTopic("emails in German and French for the Paris launch in May"), "Paris Emails");
}
