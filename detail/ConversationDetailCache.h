#pragma once
// The detail of the conversation on screen, kept between reads. The screen
// asks again after every refresh pass, every two seconds; most of the time
// nothing changed, and when something did, it is almost always new lines at
// the end of the newest file. Then only those lines are read, continuing
// from the reading state saved after the last whole line. Every answer is
// equal to ConversationDetailParser::parse of the same files.

#include <memory>
#include <string>
#include <vector>

#include "detail/ConversationDetail.h"
#include "engine/SourceKind.h"

namespace vorel {

class ConversationDetailCache {
public:
    ConversationDetailCache();
    ~ConversationDetailCache();
    ConversationDetailCache(const ConversationDetailCache&) = delete;
    ConversationDetailCache& operator=(const ConversationDetailCache&) = delete;

    // The detail of the conversation whose transcript files are `paths`,
    // read with the record rules of the source kind `source`. The same
    // object as last time while no file changed (path, modification and
    // change time, size, inode, and, for a file read just after it last
    // changed, its content); when only the newest file grew, the earlier
    // reading continued.
    std::shared_ptr<const ConversationDetail> detail(const std::vector<std::string>& paths, SourceKind source);

    // What the last call of detail() did.
    enum class Step { reused, appended, parsed };
    Step lastStep() const { return lastStep_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    Step lastStep_ = Step::parsed;
};

}  // namespace vorel
