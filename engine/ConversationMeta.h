#pragma once
// The user's annotations of one conversation, and the name the engine
// suggested for it.

#include <optional>
#include <string>
#include <vector>

namespace vorel {

struct ConversationMeta {
    std::optional<std::string> name;           // given by the user
    std::optional<std::string> subtitle;       // the user's note
    std::optional<std::string> suggestedName;  // from NameSuggester
    std::vector<std::string> tags;             // in the order they were added

    // Nothing present at all. Presence only: an empty name still counts.
    bool isEmpty() const { return !name && !subtitle && !suggestedName && tags.empty(); }

    bool operator==(const ConversationMeta&) const = default;
};

}  // namespace vorel
