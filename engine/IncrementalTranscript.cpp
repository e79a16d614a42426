#include "engine/IncrementalTranscript.h"

#include "engine/TranscriptReading.h"

namespace vorel {

namespace {

std::unique_ptr<Transcript::LineParser> parserFor(SourceKind kind, const DayWindow& today) {
    switch (kind) {
        case SourceKind::claudeCode: return Transcript::makeClaudeParser(today);
        case SourceKind::codex: return Transcript::makeCodexParser(today);
    }
    unknownSourceKind();
}

void trimThreadParsers(SourceKind kind) {
    switch (kind) {
        case SourceKind::claudeCode: Transcript::trimClaudeThreadParsers(); return;
        case SourceKind::codex: Transcript::trimCodexThreadParsers(); return;
    }
    unknownSourceKind();
}

}  // namespace

const ParsedSession& IncrementalTranscript::parsed() const {
    static const ParsedSession kEmpty;
    if (result_) return *result_;
    return checkpoint_ ? checkpoint_->session() : kEmpty;
}

bool IncrementalTranscript::canContinue(const std::string& path, std::uint64_t inode, std::int64_t size,
                                        const DayWindow& today) const {
    // Only a file that grew can have been appended to, and only one whose
    // bytes already read are as they were.
    if (!checkpoint_ || inode != inode_ || today.start != dayStart_ || size <= size_) return false;
    auto now = ContentHash::ofFilePrefix(path, offset_);
    return now && now->digest() == readHash_.digest();
}

bool IncrementalTranscript::sameContent(const std::string& path, std::int64_t size) const {
    // A prefix of another length hashes differently, so the length needs no
    // check of its own.
    if (!wholeHash_) return false;
    auto now = ContentHash::ofFilePrefix(path, size);
    return now && now->digest() == wholeHash_->digest();
}

void IncrementalTranscript::reset() {
    checkpoint_.reset();
    offset_ = 0;
    readHash_ = ContentHash();
}

bool IncrementalTranscript::update(const std::string& path, std::uint64_t inode, std::int64_t size,
                                   const DayWindow& today) {
    bool resumed = canContinue(path, inode, size, today);
    if (!resumed) {
        reset();
        checkpoint_ = parserFor(kind_, today);
    }
    inode_ = inode;
    size_ = size;
    dayStart_ = today.start;
    result_.reset();

    Transcript::TranscriptLineReader reader(path, offset_);
    reader.hashInto(&readHash_);
    wholeHash_.emplace();
    reader.hashWholeInto(&*wholeHash_);
    // The unfinished piece is read by a copy of the checkpoint, in place in
    // the reader's buffer: the JSON parser reads into the padding after a
    // line, which a copy of the line would not have.
    std::unique_ptr<Transcript::LineParser> withTail;
    while (auto line = reader.next()) {
        if (reader.lastWasUnfinished()) {
            withTail = checkpoint_->clone();
            withTail->read(*line);
        } else {
            checkpoint_->read(*line);
        }
    }
    trimThreadParsers(kind_);

    if (!reader.accepted()) {
        // The whole file is rejected; start afresh next time.
        reset();
        wholeHash_.reset();
        result_ = ParsedSession{};
        return resumed;
    }
    offset_ = reader.completeEnd();
    if (withTail) result_ = withTail->session();
    return resumed;
}

}  // namespace vorel
