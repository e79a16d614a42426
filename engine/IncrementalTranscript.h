#pragma once
// The parse of one transcript file, kept between refresh passes. A live
// conversation's file only ever grows by whole lines at its end, so when a
// file has grown and the bytes already read are proven unchanged (their hash
// is the one taken while they were read) the parse continues from the end of
// the last whole line it read. Any other change parses the whole file. The
// result is the same as a parse of the whole file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/Clock.h"
#include "engine/ContentHash.h"
#include "engine/ParsedSession.h"
#include "engine/SourceKind.h"
#include "engine/Transcript.h"

namespace vorel {

class IncrementalTranscript {
public:
    // Reads the files of a source of this kind, with its parser.
    explicit IncrementalTranscript(SourceKind kind) : kind_(kind) {}

    // Brings the parse up to date with the file, which the caller found at
    // this inode and size. Returns true when it continued an earlier parse.
    bool update(const std::string& path, std::uint64_t inode, std::int64_t size, const DayWindow& today);

    const ParsedSession& parsed() const;

    // Whether the file at `path` holds, at this size, exactly the bytes the
    // last update() read: for a file whose times cannot be trusted to show
    // a change. False for a file that was rejected.
    bool sameContent(const std::string& path, std::int64_t size) const;

private:
    bool canContinue(const std::string& path, std::uint64_t inode, std::int64_t size, const DayWindow& today) const;
    void reset();

    SourceKind kind_;
    // The parse after the last line feed read, and where that is.
    std::unique_ptr<Transcript::LineParser> checkpoint_;
    std::int64_t offset_{};
    // The result when it differs from the checkpoint: with the unfinished
    // piece after the last line feed read as a line, or empty for a file
    // that was rejected.
    std::optional<ParsedSession> result_;
    std::uint64_t inode_{};
    std::int64_t size_{};
    TimePoint dayStart_ = kDistantPast;
    // The hash of the bytes before offset_, taken as they were read, and
    // of every byte read, when the file was accepted.
    ContentHash readHash_;
    std::optional<ContentHash> wholeHash_;
};

}  // namespace vorel
