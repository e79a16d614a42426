#pragma once
// Short topics for conversations that the user has not named: one or two
// capitalised keywords from the conversation's first user text.

#include <string>
#include <string_view>

#include "engine/WordTagger.h"

namespace vorel::NameSuggester {

// The topic of `text`: up to two words, each with its first character
// upper-cased, joined by a blank; "Untitled" when no word qualifies. Only the
// first 600 user-perceived characters are read. Names come first, then
// nouns; when the tagger finds neither, the plain words of the text.
// Words shorter than 3 characters, stop words and repeats (ignoring case)
// are skipped.
std::string keywordTopic(std::string_view text);

// The same with the given tagger instead of the built-in lexicon tagger.
std::string keywordTopic(std::string_view text, const WordTagger& tagger);

}  // namespace vorel::NameSuggester
