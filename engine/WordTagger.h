#pragma once
// Tags the words of a text with what the name suggester needs: whether a
// word is part of a person's, place's or organization's name, and whether
// it is a noun.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vorel {

enum class NameType : std::uint8_t { person, place, organization };

struct TaggedWord {
    std::string_view text;  // a view into the tagged text
    std::optional<NameType> name;
    bool noun{};
};

class WordTagger {
public:
    virtual ~WordTagger() = default;

    // The words of `text` (UTF-8) in text order, each with its tags.
    // Punctuation, white space and other symbols are no words. A name of
    // several words gives one tagged word per word.
    virtual std::vector<TaggedWord> tag(std::string_view text) const = 0;
};

}  // namespace vorel
