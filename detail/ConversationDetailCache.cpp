#include "detail/ConversationDetailCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "detail/ConversationDetailParser.h"
#include "detail/DetailRecords.h"
#include "engine/ContentHash.h"
#include "engine/FileTimes.h"
#include "engine/LongPath.h"

namespace vorel {

namespace P = ConversationDetailParser;

namespace {

// What identifies one state of a file.
struct FileStamp {
    bool found{};
    bool regular{};
    dev_t device{};
    ino_t inode{};
    off_t size{};
    std::int64_t changed{};  // nanoseconds
    P::FileDate date = P::kDistantPastFileDate;  // the modification time

    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::string& path) {
    FileStamp s;
    struct stat st {};
    if (statLongPath(path, &st) != 0) return s;
    s.found = true;
    s.regular = S_ISREG(st.st_mode);
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    s.date = P::fileDate(st);
    return s;
}

}  // namespace

// The reading state of one conversation after the last whole line of its
// newest file, with the timeline order of what was read so far.
struct ConversationDetailCache::State {
    SourceKind source{};
    std::vector<std::string> paths;
    std::vector<FileStamp> stamps;
    std::vector<size_t> order;  // reading order: positions in `paths`
    // For each file: whether it was read so soon after it last changed that
    // a change since may not show in its stamp, and then the hash of every
    // byte read, to check it by.
    std::vector<char> racy;
    std::vector<std::optional<ContentHash>> whole;

    P::DetailBuilder b;
    // The repeat keys of the cost-less events of every file before the
    // newest: an event of the newest file with one of them is dropped.
    std::unordered_set<std::string, DetailKeyHash, std::equal_to<>> earlierKeys;
    size_t newestStart{};  // where the newest file's events begin
    // For the events settled so far ([0, kept.size())): whether each stays,
    // and those that stay in timeline order.
    std::vector<char> kept;
    std::vector<std::uint32_t> timeline;

    // Where to continue the newest file, and the hash of its bytes before
    // `offset`, taken as they were read: the reading continues only while
    // they are unchanged.
    bool resumable{};
    std::int64_t offset{};
    ContentHash readHash;

    std::shared_ptr<const ConversationDetail> result;

    bool before(std::uint32_t a, std::uint32_t c) const {
        const auto& events = b.d.events;
        if (P::comesBefore(events[a], events[c])) return true;
        if (P::comesBefore(events[c], events[a])) return false;
        return a < c;  // reading order, which the kept events keep
    }

    // The timeline of everything read: the settled one with the events read
    // since (and those whose time moved) merged in. `keptSince` receives
    // whether each event read since stays.
    std::vector<std::uint32_t> mergedTimeline(std::vector<char>& keptSince) const {
        const auto& events = b.d.events;
        const size_t settled = kept.size();
        std::vector<std::uint32_t> extra;
        keptSince.clear();
        for (size_t i = settled; i < events.size(); ++i) {
            const ConversationEvent& e = events[i];
            bool stays = e.cost || earlierKeys.empty() || !earlierKeys.contains(P::repeatKey(e));
            keptSince.push_back(stays);
            if (stays) extra.push_back(static_cast<std::uint32_t>(i));
        }
        std::vector<std::uint32_t> moved;
        for (std::uint32_t m : b.moved()) {
            if (m < settled && kept[m]) moved.push_back(m);
        }
        std::sort(moved.begin(), moved.end());
        moved.erase(std::unique(moved.begin(), moved.end()), moved.end());
        extra.insert(extra.end(), moved.begin(), moved.end());
        auto less = [this](std::uint32_t a, std::uint32_t c) { return before(a, c); };
        std::sort(extra.begin(), extra.end(), less);

        std::vector<std::uint32_t> out(timeline.size() + extra.size() - moved.size());
        if (moved.empty()) {
            std::merge(timeline.begin(), timeline.end(), extra.begin(), extra.end(), out.begin(), less);
        } else {
            std::vector<std::uint32_t> rest;
            rest.reserve(timeline.size());
            for (std::uint32_t t : timeline) {
                if (!std::binary_search(moved.begin(), moved.end(), t)) rest.push_back(t);
            }
            std::merge(rest.begin(), rest.end(), extra.begin(), extra.end(), out.begin(), less);
        }
        return out;
    }

    // Makes everything read so far settled.
    void settle() {
        std::vector<char> keptSince;
        timeline = mergedTimeline(keptSince);
        kept.insert(kept.end(), keptSince.begin(), keptSince.end());
        b.clearMoved();
    }

    // The newest file ends here; the next one begins.
    void startFile() {
        const auto& events = b.d.events;
        for (size_t i = newestStart; i < events.size(); ++i) {
            if (!events[i].cost) earlierKeys.insert(P::repeatKey(events[i]));
        }
        newestStart = events.size();
    }

    void publish(const std::vector<std::uint32_t>& timelineOrder) {
        const ConversationDetail& d = b.d;
        auto out = std::make_shared<ConversationDetail>();
        out->generatedTitle = d.generatedTitle;
        out->summaries = d.summaries;
        out->itemizedCost = d.itemizedCost;
        out->currentModel = d.currentModel;
        out->claudeCostEventIndex = d.claudeCostEventIndex;
        out->seenCodexUsage = d.seenCodexUsage;
        out->events.reserve(timelineOrder.size());
        int turn = 0;
        bool pending = true;
        for (std::uint32_t index : timelineOrder) {
            out->events.push_back(d.events[index]);
            P::number(out->events.back(), out->events.size() - 1, turn, pending);
        }
        out->stats = P::recomputedStats(out->events, d.stats.compactions);
        result = std::move(out);
    }

    // Reads the newest file from `offset` (its start, or where the last
    // reading stopped) and publishes the result. An unfinished last line
    // counts in the result but is taken back afterwards, to be read again
    // once it is finished. False when the file was rejected.
    bool readNewest(P::LineRule rule) {
        const std::string& path = paths[order.back()];
        Transcript::JsonLineParser& parser = P::lineParser();
        const P::DetailBuilder::Mark start = b.mark();
        std::optional<P::DetailBuilder::Mark> unfinished;
        const std::int64_t readAt = FileTimes::nowNs();
        Transcript::TranscriptLineReader reader(path, offset);
        reader.hashInto(&readHash);
        std::optional<ContentHash>& hash = whole[order.back()];
        hash.emplace();
        reader.hashWholeInto(&*hash);
        while (auto line = reader.next()) {
            if (reader.lastWasUnfinished()) {
                settle();
                unfinished = b.mark();
            }
            if (auto obj = parser.parse(*line)) rule(*obj, b);
        }
        parser.trim();
        const FileStamp& stamp = stamps[order.back()];
        racy[order.back()] = FileTimes::mayChangeUnseen(stamp.changed, readAt);
        if (!reader.accepted()) {
            hash.reset();
            b.rollback(start);
            b.commit();
            resumable = false;
            return false;
        }
        if (unfinished) {
            std::vector<char> keptSince;
            publish(mergedTimeline(keptSince));
            b.rollback(*unfinished);
        } else {
            settle();
            publish(timeline);
        }
        b.commit();

        offset = reader.completeEnd();
        resumable = true;
        return true;
    }

    // Whether a file that was racy when read, and whose stamp is the same
    // now, holds other bytes than were read. Those found the same that have
    // settled since are no longer racy.
    bool changedUnseen(const std::vector<FileStamp>& now) {
        for (size_t i = 0; i < paths.size(); ++i) {
            if (!racy[i] || !(now[i] == stamps[i])) continue;
            const std::int64_t readAt = FileTimes::nowNs();
            const auto& read = whole[i];
            if (!read || read->length() != now[i].size) return true;
            auto hash = ContentHash::ofFilePrefix(paths[i], read->length());
            if (!hash || hash->digest() != read->digest()) return true;
            racy[i] = FileTimes::mayChangeUnseen(now[i].changed, readAt);
        }
        return false;
    }

    // Whether the newest file only grew by lines at its end since it was
    // read, every other file being as it was.
    bool onlyNewestGrew(const std::vector<FileStamp>& now) const {
        if (!resumable) return false;
        const size_t newest = order.back();
        for (size_t i = 0; i < stamps.size(); ++i) {
            if (i != newest && !(now[i] == stamps[i])) return false;
        }
        const FileStamp &was = stamps[newest], &is = now[newest];
        if (!is.found || !is.regular || is.device != was.device || is.inode != was.inode || is.size <= was.size) {
            return false;
        }
        // It must still be the newest, read last.
        std::vector<P::FileDate> dates;
        for (const FileStamp& s : now) dates.push_back(s.date);
        if (P::readingOrder(dates) != order) return false;
        auto read = ContentHash::ofFilePrefix(paths[newest], offset);
        return read && read->digest() == readHash.digest();
    }
};

ConversationDetailCache::ConversationDetailCache() = default;
ConversationDetailCache::~ConversationDetailCache() = default;

std::shared_ptr<const ConversationDetail> ConversationDetailCache::detail(const std::vector<std::string>& paths,
                                                                          SourceKind source) {
    std::vector<FileStamp> stamps;
    stamps.reserve(paths.size());
    for (const std::string& path : paths) stamps.push_back(stampOf(path));

    const P::LineRule rule = P::ruleFor(source);
    const bool same =
        state_ && state_->source == source && state_->paths == paths && !state_->changedUnseen(stamps);
    if (same && state_->stamps == stamps) {
        lastStep_ = Step::reused;
        return state_->result;
    }
    if (same && state_->onlyNewestGrew(stamps)) {
        state_->stamps = stamps;
        if (state_->readNewest(rule)) {
            lastStep_ = Step::appended;
            return state_->result;
        }
        // Rejected on the new bytes: the whole file goes, so read all again.
    }

    auto s = std::make_unique<State>();
    s->source = source;
    s->paths = paths;
    s->stamps = std::move(stamps);
    std::vector<P::FileDate> dates;
    for (const FileStamp& st : s->stamps) dates.push_back(st.date);
    s->order = P::readingOrder(dates);
    s->racy.assign(paths.size(), 0);
    s->whole.resize(paths.size());

    Transcript::JsonLineParser& parser = P::lineParser();
    for (size_t k = 0; k + 1 < s->order.size(); ++k) {
        const size_t i = s->order[k];
        const P::DetailBuilder::Mark start = s->b.mark();
        Transcript::TranscriptLineReader reader(paths[i]);
        // Only a racy file is hashed, to be checked by its content later.
        const FileStamp& stamp = s->stamps[i];
        ContentHash lines;
        if (FileTimes::mayChangeUnseen(stamp.changed, FileTimes::nowNs())) {
            s->racy[i] = 1;
            s->whole[i].emplace();
            reader.hashInto(&lines);
            reader.hashWholeInto(&*s->whole[i]);
        }
        while (auto line = reader.next()) {
            if (auto obj = parser.parse(*line)) rule(*obj, s->b);
        }
        if (!reader.accepted()) {
            s->whole[i].reset();
            s->b.rollback(start);
        }
        s->b.commit();
        s->settle();
        s->startFile();
    }
    parser.trim();
    if (s->order.empty()) {
        s->publish({});
    } else {
        s->readNewest(rule);
        if (!s->result) s->publish(s->timeline);
    }
    state_ = std::move(s);
    lastStep_ = Step::parsed;
    return state_->result;
}

}  // namespace vorel
