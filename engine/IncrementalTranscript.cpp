#include "IncrementalTranscript.h"

#include "TranscriptReading.h"

namespace vorel {

namespace {

constexpr std::int64_t kGuardBytes = 64;

}  // namespace

const ParsedSession& IncrementalTranscript::parsed() const {
    static const ParsedSession kEmpty;
    if (result_) return *result_;
    return checkpoint_ ? checkpoint_->session() : kEmpty;
}

bool IncrementalTranscript::canContinue(const std::string& path, std::uint64_t inode, std::int64_t size,
                                        const DayWindow& today) const {
    // Only a file that grew can have been appended to.
    if (!checkpoint_ || inode != inode_ || today.start != dayStart_ || size <= size_) return false;
    auto head = Transcript::readBytesAt(path, 0, static_cast<std::int64_t>(head_.size()));
    if (!head || *head != head_) return false;
    auto guard = Transcript::readBytesAt(path, offset_ - static_cast<std::int64_t>(guard_.size()),
                         static_cast<std::int64_t>(guard_.size()));
    return guard && *guard == guard_;
}

bool IncrementalTranscript::update(const std::string& path, std::uint64_t inode, std::int64_t size,
                                   const DayWindow& today) {
    bool resumed = canContinue(path, inode, size, today);
    if (!resumed) {
        checkpoint_ = kind_ == Kind::codex ? Transcript::makeCodexParser(today) : Transcript::makeClaudeParser(today);
        offset_ = 0;
    }
    inode_ = inode;
    size_ = size;
    dayStart_ = today.start;
    result_.reset();

    Transcript::TranscriptLineReader reader(path, offset_);
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
    if (kind_ == Kind::codex) Transcript::trimCodexThreadParsers();
    else Transcript::trimClaudeThreadParsers();

    if (!reader.accepted()) {
        // The whole file is rejected; start afresh next time.
        checkpoint_.reset();
        offset_ = 0;
        head_.clear();
        guard_.clear();
        result_ = ParsedSession{};
        return resumed;
    }
    offset_ = reader.completeEnd();
    std::int64_t guardLength = std::min(offset_, kGuardBytes);
    auto head = Transcript::readBytesAt(path, 0, guardLength);
    auto guard = Transcript::readBytesAt(path, offset_ - guardLength, guardLength);
    head_ = head.value_or(std::string{});
    guard_ = guard.value_or(std::string{});
    if (!head || !guard) inode_ = 0;  // the file changed under us: parse it whole next time
    if (withTail) result_ = withTail->session();
    return resumed;
}

}  // namespace vorel
