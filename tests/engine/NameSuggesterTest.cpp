#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "NameSuggester.h"

using namespace vorel;
using NameSuggester::keywordTopic;

namespace {

// Splits at blanks and tags the words it was told about; remembers the text
// it was given.
class FakeTagger : public WordTagger {
public:
    FakeTagger& name(const std::string& word, NameType type = NameType::place) {
        tags_[word].name = type;
        return *this;
    }
    FakeTagger& noun(const std::string& word) {
        tags_[word].noun = true;
        return *this;
    }

    std::vector<TaggedWord> tag(std::string_view text) const override {
        seen = std::string(text);
        std::vector<TaggedWord> out;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = std::min(text.find(' ', start), text.size());
            if (end > start) {
                TaggedWord w{text.substr(start, end - start), std::nullopt, false};
                if (auto it = tags_.find(std::string(w.text)); it != tags_.end()) {
                    w.name = it->second.name;
                    w.noun = it->second.noun;
                }
                out.push_back(w);
            }
            start = end + 1;
        }
        return out;
    }

    mutable std::string seen;

private:
    std::map<std::string, TaggedWord> tags_;
};

std::string repeat(std::string_view s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

TEST(NameSuggester, UntitledWhenNoWordQualifies) {
    FakeTagger tagger;
    tagger.noun("the").noun("ab");
    EXPECT_EQ(keywordTopic("", tagger), "Untitled");
    EXPECT_EQ(keywordTopic(" \n\t ", tagger), "Untitled");
    EXPECT_EQ(keywordTopic("the ab -- ?! a to-do; it's ok", tagger), "Untitled");
    EXPECT_EQ(keywordTopic("Please look at THE Project, yesterday's way", tagger), "Untitled");
}

TEST(NameSuggester, NamesComeFirstInTextOrderThenNouns) {
    FakeTagger tagger;
    tagger.name("Alice", NameType::person).name("Johnson", NameType::person).name("Berlin").noun("dashboard");
    tagger.noun("office").noun("Berlin");
    // Names of several words count word by word; a third name is ignored;
    // a noun before them does not get in.
    EXPECT_EQ(keywordTopic("dashboard for Alice Johnson in Berlin", tagger), "Alice Johnson");
    // One name, then the first noun that passes the filters.
    tagger.noun("ui").noun("page").noun("settings");
    EXPECT_EQ(keywordTopic("the Berlin ui page office dashboard", tagger), "Berlin Office");
    // A noun collected: the plain words never run, however many there are.
    EXPECT_EQ(keywordTopic("rewrite ui page settings quickly", tagger), "Settings");
}

TEST(NameSuggester, RepeatsIgnoringCaseAreCollectedOnce) {
    FakeTagger tagger;
    tagger.name("Berlin").name("BERLIN").name("berlin").noun("office");
    EXPECT_EQ(keywordTopic("Berlin BERLIN berlin office", tagger), "Berlin Office");
    // Full case folding: "ß" folds to "ss".
    tagger.noun("Straße").noun("STRASSE").noun("map");
    EXPECT_EQ(keywordTopic("Straße STRASSE map", tagger), "Straße Map");
    // Plain words too.
    EXPECT_EQ(keywordTopic("deploy DEPLOY Deploy staging", FakeTagger()), "Deploy Staging");
}

TEST(NameSuggester, CapitalisesTheFirstCharacterByFullCaseMapping) {
    FakeTagger tagger;
    tagger.noun("billing").noun("api").noun("API").noun("iOS").noun("élan").noun("e\u0301cole").noun("ßig");
    EXPECT_EQ(keywordTopic("billing api", tagger), "Billing Api");
    EXPECT_EQ(keywordTopic("API iOS", tagger), "API IOS");
    EXPECT_EQ(keywordTopic("élan e\u0301cole", tagger), "Élan E\u0301cole");
    EXPECT_EQ(keywordTopic("ßig", tagger), "SSig");
}

TEST(NameSuggester, PlainWordsSplitAtEveryNonLetterOrNumber) {
    FakeTagger none;
    EXPECT_EQ(keywordTopic("re-deploy the staging_server now", none), "Deploy Staging");
    EXPECT_EQ(keywordTopic("v2 build: 2024 release", none), "2024 Release");
    EXPECT_EQ(keywordTopic("naïve—café", none), "Naïve Café");
    EXPECT_EQ(keywordTopic("for/the/app", none), "Untitled");
}

TEST(NameSuggester, CandidatesAreTrimmedAndMeasuredInCharacters) {
    FakeTagger tagger;
    tagger.name("«Berlin»,").noun("(ab)").noun("(Project)").noun("e\u0301e\u0301").noun("日本語");
    EXPECT_EQ(keywordTopic("(ab) «Berlin», (Project)", tagger), "Berlin");
    // Two characters in four code points are too short; three in nine bytes are enough.
    EXPECT_EQ(keywordTopic("e\u0301e\u0301 日本語", tagger), "日本語");
}

TEST(NameSuggester, ReadsOnlyTheFirst600Characters) {
    FakeTagger tagger;
    tagger.name("Berlin");
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
}

TEST(NameSuggester, SuggestsFromPlainEnglishWithTheBuiltInTagger) {
    EXPECT_EQ(keywordTopic("Alice Johnson wants the Berlin office dashboard fixed"), "Alice Johnson");
    EXPECT_EQ(keywordTopic("The Berlin office dashboard is broken"), "Berlin Office");
    EXPECT_EQ(keywordTopic("Can you fix the login bug in the billing service?"), "Login Bug");
    EXPECT_EQ(keywordTopic("please refactor the payment service"), "Payment Service");
    EXPECT_EQ(keywordTopic(""), "Untitled");
}
