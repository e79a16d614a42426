#pragma once
// The engine's shared object: lists both assistants' transcript files, parses
// the changed ones, drops responses counted twice, folds each conversation's
// files and subagents together and publishes one row per conversation that
// cost anything, with today's and the lifetime totals.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/ChangeNotifier.h"
#include "engine/Clock.h"
#include "engine/CostSource.h"
#include "engine/ParsedSession.h"
#include "engine/SessionRow.h"

namespace vorel {

class MetadataStore;

class CostModel {
public:
    // Runs the first refresh pass before returning.
    CostModel(std::vector<std::shared_ptr<const CostSource>> sources, MetadataStore& meta,
              const Clock& clock);
    // These follow the process clock (vorel::clock()) at every pass, so a
    // clock replaced later is never read after it is gone.
    CostModel(std::vector<std::shared_ptr<const CostSource>> sources, MetadataStore& meta);
    // With the two standard sources, Claude Code then Codex.
    CostModel(MetadataStore& meta, const Clock& clock);
    explicit CostModel(MetadataStore& meta);
    ~CostModel();
    CostModel(const CostModel&) = delete;
    CostModel& operator=(const CostModel&) = delete;

    // One refresh pass; notifies the observers at its end, changed or not.
    void refresh();

    double todayCost() const { return todayCost_; }
    const std::vector<SessionRow>& todayRows() const { return todayRows_; }
    const std::vector<SessionRow>& allRows() const { return allRows_; }
    double grandTotal() const { return grandTotal_; }
    const std::string& menuTitle() const { return menuTitle_; }
    // The first row that holds the most recently modified transcript file.
    const SessionRow* headerRow() const;

    ChangeNotifier& changed() { return changed_; }

    // "$<0.01" for a positive amount under a cent, else "$" and two decimals.
    static std::string menuTitleFor(double todayCost);

    // The project name a transcript's folder gives: the last non-empty
    // hyphen-separated piece of the folder's name.
    static std::string projectName(const std::string& transcriptPath);

    // How many files the last pass parsed (fully or from where it left off).
    int lastPassParseCount() const { return lastParseCount_; }
    // What the last pass found: nothing changed (it published the last
    // result again), changed files among the paths listed before, or other
    // paths (each file's cached parse looked up again).
    enum class PassKind { unchanged, changedFiles, otherPaths };
    PassKind lastPassKind() const { return lastPassKind_; }
    // Whether the last pass made its metadata calls (older ids moved to row
    // ids, suggested names), rather than finding that each would change
    // nothing.
    bool lastPassCalledMetadata() const { return lastCalledMetadata_; }

private:
    CostModel(std::vector<std::shared_ptr<const CostSource>> sources, MetadataStore& meta, const Clock* clock);
    struct CacheEntry;
    struct ParsedFile;
    struct Conversation;
    struct PassState;
    struct Listing;

    // The steps of a pass, in the order refresh() takes them.
    Listing listSources() const;
    bool sameAsLastPass(const Listing& listing, const DayWindow& today) const;
    std::vector<size_t> filesToParse(const Listing& listing, const DayWindow& today);
    void checkRacyFiles(const Listing& listing, std::vector<size_t>& toParse);
    void forgetUnlistedFiles();
    void parseFiles(const Listing& listing, const std::vector<size_t>& toParse, const DayWindow& today);
    void identifyFiles(const Listing& listing, const std::vector<size_t>& parsed);
    static const TranscriptFile* activeFile(const std::vector<TranscriptFile>& listing);
    std::vector<SessionRow> buildRows(const std::vector<TranscriptFile>& listing, const TranscriptFile* active,
                                      const DayWindow& today);
    std::vector<SessionRow> todayRowsOf(const std::vector<SessionRow>& rows);
    void publishTotals();
    void updateMetadata(const std::vector<TranscriptFile>& listing, const std::vector<size_t>& parsed);

    // The steps of buildRows(), in order.
    std::vector<ParsedFile> filesNewestFirst(const std::vector<TranscriptFile>& listing);
    void deduplicate(const DayWindow& today);
    std::vector<Conversation*> attachToConversations(const std::vector<ParsedFile>& files,
                                                     const TranscriptFile* active);
    void mergeConversation(Conversation& c);
    std::vector<SessionRow> rowsByActivity(const std::vector<Conversation*>& present);

    std::vector<std::shared_ptr<const CostSource>> sources_;
    MetadataStore& meta_;
    const Clock* clock_;  // null: the process clock
    TimePoint now() const { return clock_ ? clock_->now() : vorel::clock().now(); }

    double todayCost_{};
    std::vector<SessionRow> todayRows_;
    std::vector<SessionRow> allRows_;
    double grandTotal_{};
    std::string menuTitle_ = "$0.00";

    // The last parse of every listed file: one map of paths per source, in
    // the order of sources_, since two sources may list the same path.
    std::vector<std::unordered_map<std::string, std::shared_ptr<CacheEntry>>> cache_;
    // What the last pass saw, to recognise a pass where nothing changed.
    std::vector<TranscriptFile> lastListing_;
    TimePoint lastDayStart_ = kDistantPast;
    bool haveResult_{};
    int lastParseCount_{};
    PassKind lastPassKind_ = PassKind::otherPaths;
    bool lastCalledMetadata_{};
    // What passes keep for the next one: the cache entries in listing order,
    // the conversations and their rows, the metadata calls known to change
    // nothing.
    std::unique_ptr<PassState> state_;

    ChangeNotifier changed_;
};

}  // namespace vorel
