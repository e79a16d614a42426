#pragma once
// A transcript source: where one coding assistant keeps its transcript files,
// how to list them, which reader parses them, and how a file's conversation,
// parent conversation and de-duplication scope are identified. A source
// keeps nothing between calls; its listing goes through the folder walk
// (engine/FolderWalk.h), which keeps each folder's entries between listings.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/FolderWalk.h"
#include "engine/ParsedSession.h"
#include "engine/SourceKind.h"

namespace vorel {

class IncrementalTranscript;

class CostSource {
public:
    virtual ~CostSource() = default;

    virtual std::string id() const = 0;
    virtual std::string name() const = 0;
    // Which assistant writes the source's files: it picks the parser here
    // and the record rules of the conversation detail reader.
    virtual SourceKind kind() const = 0;
    // The source's transcript files, as local paths (not URLs, despite the
    // name), with what the listing learnt about each.
    virtual std::vector<TranscriptFile> transcriptURLs() const = 0;
    // A reader for one of the source's files, kept while the file is listed
    // so that a file that grew is read on from where it left off.
    std::unique_ptr<IncrementalTranscript> reader() const;

    // The defaults read the thread facts the parser found in the file.
    virtual std::string transcriptId(const std::string& path, const ParsedSession& parsed) const;
    virtual std::optional<std::string> parentTranscriptId(const std::string& path, const ParsedSession& parsed) const;
    virtual bool isSubagent(const std::string& path, const ParsedSession& parsed) const;
    virtual std::string subagentLabel(const std::string& path, const ParsedSession& parsed) const;
    virtual std::string dedupeScope(const std::string& rowId) const;
};

class ClaudeCodeSource final : public CostSource {
public:
    std::string id() const override { return "claude-code"; }
    std::string name() const override { return "Claude Code"; }
    SourceKind kind() const override { return SourceKind::claudeCode; }
    std::vector<TranscriptFile> transcriptURLs() const override;

    // Claude Code tells a conversation's files and subagents apart by path:
    // …/<conversation>/subagents/<agent>.jsonl is a subagent of <conversation>.
    std::string transcriptId(const std::string& path, const ParsedSession& parsed) const override;
    std::optional<std::string> parentTranscriptId(const std::string& path, const ParsedSession& parsed) const override;
    bool isSubagent(const std::string& path, const ParsedSession& parsed) const override;
    std::string subagentLabel(const std::string& path, const ParsedSession& parsed) const override;
    // A response may be copied into the file of a resumed conversation, so
    // all Claude Code files share one set of counted responses.
    std::string dedupeScope(const std::string&) const override { return "claude-code"; }

    // The folder listed: the one the current settings name, read at each
    // listing.
    static std::string root();
};

class CodexSource final : public CostSource {
public:
    std::string id() const override { return "codex"; }
    std::string name() const override { return "Codex"; }
    SourceKind kind() const override { return SourceKind::codex; }
    std::vector<TranscriptFile> transcriptURLs() const override;

    // The folders listed, as for Claude Code: the sessions folder the
    // settings name and the archived_sessions folder beside it (none beside
    // no folder).
    static std::string root();
    static std::string archivedRoot();
};

// The sources the application reads, in the order the cost model holds
// them: Claude Code, then Codex.
std::vector<std::shared_ptr<const CostSource>> standardSources();

// The last path component without its extension.
std::string fileStem(const std::string& path);

}  // namespace vorel
