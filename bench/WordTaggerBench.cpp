// The word tagger behind the name suggester: how long its lexicon takes to
// load (the first suggestion of a process pays it once), and how long 1,000
// prompt-like texts of 600 characters take to tag, and to turn into topics.
// Targets: load under 200 ms; 1,000 texts tagged under 50 ms.
//   word_tagger_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "engine/LexiconWordTagger.h"
#include "engine/NameSuggester.h"

namespace {

using namespace vorel;

constexpr size_t kTextCount = 1000;
constexpr size_t kTextLength = 600;

// Sentences in the style of first prompts to a coding assistant, mixing
// names, nouns, verbs, code, numbers and punctuation.
const char* const kSentences[] = {
    "Can you help me fix the login bug in the billing service?",
    "Alice Johnson wants the Berlin office dashboard fixed before Friday.",
    "Please refactor the auth middleware so that it uses JWT tokens.",
    "The tests are failing after the upgrade to Node 20 and React 18.",
    "Write a Python script that parses Apache access logs and counts 404s.",
    "Our team in New York needs the Kubernetes deployment YAML cleaned up.",
    "Why does `cargo build` fail with error E0382 on the CI runner?",
    "Add a CSV export to the reports screen, with one row per invoice.",
    "I'm seeing a race condition in the websocket reconnect logic.",
    "Let's migrate the orders table from MySQL to Postgres without downtime.",
    "Summarize the changes in the last three commits for the release notes.",
    "Set up a Rust workspace with two crates: core and cli.",
    "Explain this stack trace: TypeError: undefined is not a function.",
    "Rename getUserById to findUser and update every caller in src/api.",
    "Optimize the SQL query; it scans 2,000,000 rows on every request.",
    "Bob's script crashes when the config file is missing — handle it gracefully.",
    "Implement dark mode for the settings page using CSS variables.",
    "While you're at it, document the retry policy of the payment client.",
};

std::vector<std::string> promptTexts() {
    std::mt19937 random(20260212);
    std::uniform_int_distribution<size_t> pick(0, std::size(kSentences) - 1);
    std::vector<std::string> texts;
    texts.reserve(kTextCount);
    for (size_t i = 0; i < kTextCount; ++i) {
        std::string t;
        while (t.size() < kTextLength) {
            if (!t.empty()) t += (i + t.size()) % 3 == 0 ? "\n" : " ";
            t += kSentences[pick(random)];
        }
        t.resize(kTextLength);  // the sentences are ASCII: 600 bytes are 600 characters
        texts.push_back(std::move(t));
    }
    return texts;
}

void BM_LexiconLoad(benchmark::State& state) {
    for (auto _ : state) {
        LexiconWordTagger tagger(LexiconWordTagger::builtInLexicon());
        benchmark::DoNotOptimize(tagger.empty());
    }
}
BENCHMARK(BM_LexiconLoad)->Unit(benchmark::kMillisecond);

// One iteration tags all 1,000 texts.
void BM_Tag1000Texts(benchmark::State& state) {
    const auto& tagger = LexiconWordTagger::shared();
    const auto texts = promptTexts();
    size_t words = 0;
    for (auto _ : state) {
        for (const auto& t : texts) {
            auto tagged = tagger.tag(t);
            words += tagged.size();
            benchmark::DoNotOptimize(tagged.data());
        }
    }
    state.counters["words/text"] = static_cast<double>(words) / static_cast<double>(state.iterations() * kTextCount);
}
BENCHMARK(BM_Tag1000Texts)->Unit(benchmark::kMillisecond);

// One iteration suggests topics for all 1,000 texts: tagging plus the passes.
void BM_Topic1000Texts(benchmark::State& state) {
    LexiconWordTagger::shared();
    const auto texts = promptTexts();
    for (auto _ : state)
        for (const auto& t : texts) benchmark::DoNotOptimize(NameSuggester::keywordTopic(t));
}
BENCHMARK(BM_Topic1000Texts)->Unit(benchmark::kMillisecond);

}  // namespace
