#pragma once
// Which coding assistant wrote a transcript. Every source is one kind, and
// its kind, never its display name, picks the rules its files are read
// with: the cost engine's parser and the conversation detail reader's
// record rules. Each choice by kind is a switch over every kind without a
// default, so a kind added here does not build until every reader has
// rules for it.
//
// No kind is 0, so a kind left at its zero value (`SourceKind{}`, as a row
// built without one has) is no kind at all: every reader refuses it rather
// than reading the file by some other source's rules.

#include <cstdlib>

namespace vorel {

enum class SourceKind { claudeCode = 1, codex };

// After a switch over every kind: reached only by a kind never set (zero)
// or a value cast from outside the enumeration, which no reader can be
// chosen for.
[[noreturn]] inline void unknownSourceKind() { std::abort(); }

}  // namespace vorel
