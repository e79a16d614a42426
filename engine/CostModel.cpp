#include "engine/CostModel.h"

#include <algorithm>
#include <functional>
#include <tuple>

#include "engine/DecimalText.h"
#include "engine/FileTimes.h"
#include "engine/IncrementalTranscript.h"
#include "engine/MetadataStore.h"
#include "engine/ParallelFor.h"
#include "engine/Pricing.h"

namespace vorel {

struct CostModel::CacheEntry {
    // The file as the listing saw it when it was last parsed.
    std::int64_t mtimeNs{};
    std::int64_t size{};
    std::uint64_t inode{};
    std::int64_t ctimeNs{};
    // Read less than a tick of the file system's clock after it last
    // changed, so its times may not show a change made since: its content
    // is checked at the next pass.
    bool racy{};
    TimePoint dayStart = kDistantPast;
    // The source's reader of the file, made at its first parse.
    std::unique_ptr<IncrementalTranscript> transcript;
    const ParsedSession& parsed() const { return transcript->parsed(); }

    // What the source says of the file, worked out once per parse.
    const CostSource* source = nullptr;
    std::string stem;
    std::string transcriptId;
    std::string rowId;
    std::optional<std::string> parentRowId;
    bool isSubagent{};
    std::string subagentLabel;
    std::string dedupeScope;
    // The source's id, ":" and the stem: the file's older metadata id, when
    // its transcript id is not its stem (then the stem is one too).
    std::string scopedStem;

    // A hash of each response key of parsed(), in order, made once per parse
    // so that de-duplication does not hash every key on every pass.
    std::vector<std::uint64_t> keyHashes;
    // The responses of parsed() that the last de-duplication found in newer
    // files, and the totals without them when there were any.
    std::vector<std::uint32_t> dropped;
    std::optional<SessionTotals> deduplicated;
    const SessionTotals& effective() const { return deduplicated ? *deduplicated : parsed(); }

    // Changes whenever the parse or the dropped responses do; the values
    // come from one counter per model, so no two states share one.
    std::uint64_t version{};
    // The number of dedupeScope among all scopes the model has seen, and the
    // conversation the file was last attached to (none after a parse).
    std::uint32_t scope{};
    Conversation* conversation = nullptr;
    // The file's path, for the order of files; the last set of listed paths
    // it was among (see PassState::listings); the last pass that found its
    // dropped responses may have changed.
    std::string path;
    std::uint64_t listing{};
    std::uint64_t dirtyPass{};
    // The metadata generation whose calls covered this file with its
    // present ids (see updateMetadata).
    std::uint64_t metadataGeneration{};
};

struct CostModel::ParsedFile {
    const TranscriptFile* file = nullptr;
    CacheEntry* entry = nullptr;

    // The totals without responses counted in a newer file of the same scope.
    const SessionTotals& totals() const { return entry->effective(); }
};

// Every source's files in one list, each with the position in sources_ of
// the source that listed it.
struct CostModel::Listing {
    std::vector<TranscriptFile> files;
    std::vector<std::uint32_t> sourceOf;
};

// One conversation, kept from pass to pass under its row id so that its row
// is built again only when one of its files changed.
struct CostModel::Conversation {
    const std::string* rowId = nullptr;  // the map's key
    std::uint64_t pass{};                // the last pass that saw it
    // This pass's files in the order they were attached: own files, then
    // subagent files, each newest first.
    std::vector<const ParsedFile*> files;
    // The versions of those files, this pass and when the row was built
    // (none before: a conversation has at least one file).
    std::vector<std::uint64_t> versions, builtVersions;
    bool holdsActive{};

    // The merged figures the order of rows depends on.
    TimePoint lastActivity = kDistantPast;
    std::int64_t mtimeNs = TranscriptFile::kUnknownMtime;
    double totalCost{};

    // A row built this pass, or where the last pass put the row.
    std::optional<SessionRow> fresh;
    std::optional<size_t> rowIndex;

    // The pass that last built its row.
    std::uint64_t freshPass{};
    // Where the last pass put its row in todayRows_.
    std::optional<size_t> todayIndex;

    // The title the metadata calls of `metadataGeneration` covered.
    std::string suggestedFor;
    std::uint64_t metadataGeneration{};
};

struct CostModel::PassState {
    std::uint64_t passes{};
    std::uint64_t nextVersion{};
    // Counts the passes that listed other paths than the pass before; the
    // entries of the listed files carry the present count.
    std::uint64_t listings{};
    // Cache entries in the order of lastListing_.
    std::vector<std::shared_ptr<CacheEntry>> entries;
    // Whether any of those is racy.
    bool anyRacy{};
    // The position in sources_ of the source that listed each file of
    // lastListing_.
    std::vector<std::uint32_t> lastSourceOf;
    std::unordered_map<std::string, Conversation> conversations;
    // The conversations of allRows_, in the same order.
    std::vector<Conversation*> rowConversations;
    // The listing's files, newest first, as indices into the listing; and
    // whether this pass lists the same paths as the last.
    std::vector<std::uint32_t> order;
    bool samePaths{};
    std::unordered_map<std::string, std::uint32_t> scopes;

    // Every response of every listed file, by the hash of its key mixed with
    // the number of its scope, so that the files a changed file shares keys
    // with are found without going through all of them.
    struct Occurrence {
        CacheEntry* entry = nullptr;
        std::uint32_t turn{};
    };
    std::unordered_multimap<std::uint64_t, Occurrence> responses;
    // The listed files whose dropped responses must be found again.
    std::vector<CacheEntry*> dirty;

    static std::uint64_t mixed(std::uint64_t keyHash, std::uint32_t scope) {
        return keyHash ^ (static_cast<std::uint64_t>(scope) * 0x9E3779B97F4A7C15ULL);
    }
    void markDirty(CacheEntry* e) {
        if (e->listing == listings && e->dirtyPass != passes) {
            e->dirtyPass = passes;
            dirty.push_back(e);
        }
    }
    // Adds the file's responses; the files it shares a key with are dirty.
    void index(CacheEntry& e) {
        for (std::uint32_t t = 0; t < e.keyHashes.size(); ++t) {
            const std::uint64_t h = mixed(e.keyHashes[t], e.scope);
            for (auto [it, end] = responses.equal_range(h); it != end; ++it) markDirty(it->second.entry);
            responses.emplace(h, Occurrence{&e, t});
        }
        markDirty(&e);
    }
    // Takes the file's responses out; the files it shared a key with are
    // dirty.
    void unindex(CacheEntry& e) {
        for (std::uint32_t t = 0; t < e.keyHashes.size(); ++t) {
            auto [it, end] = responses.equal_range(mixed(e.keyHashes[t], e.scope));
            while (it != end) {
                if (it->second.entry == &e && it->second.turn == t) {
                    it = responses.erase(it);
                } else {
                    markDirty(it->second.entry);
                    ++it;
                }
            }
        }
    }

    // The metadata calls of a pass (migrations, then suggestions) can be
    // left out when each was made by an earlier pass, none of those changed
    // the store and nothing has changed it since: each would find the store
    // as it was then and change nothing again. A generation is one set of
    // calls: files and conversations record the one that covered them.
    MetadataStore* store = nullptr;
    ChangeNotifier::Token token{};
    std::uint64_t storeChanges{};         // notifications from the store
    std::uint64_t storeChangesAfter{};    // ... at the end of the last pass
    bool lastCallsChangedStore = true;
    std::uint64_t metadataGeneration = 1;
};

namespace {

bool sameFile(const TranscriptFile& a, const TranscriptFile& b) {
    return a.path == b.path && a.mtimeNs == b.mtimeNs && a.size == b.size && a.inode == b.inode &&
           a.ctimeNs == b.ctimeNs;
}

std::vector<ModelLine> modelLines(const SessionTotals& p) {
    std::vector<ModelLine> lines;
    lines.reserve(p.perModel.size());
    for (const auto& [model, usage] : p.perModel) {
        lines.push_back({modelDisplayName(model), usage.cost, !Pricing::isKnown(model)});
    }
    // Largest cost first; equal costs by name so rows never reshuffle.
    std::stable_sort(lines.begin(), lines.end(), [](const ModelLine& a, const ModelLine& b) {
        if (a.cost != b.cost) return a.cost > b.cost;
        return a.name < b.name;
    });
    return lines;
}

std::string lastPathComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path == "/") return path;
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

CostModel::CostModel(std::vector<std::shared_ptr<const CostSource>> sources, MetadataStore& meta, const Clock& clock)
    : CostModel(std::move(sources), meta, &clock) {}

CostModel::CostModel(std::vector<std::shared_ptr<const CostSource>> sources, MetadataStore& meta)
    : CostModel(std::move(sources), meta, nullptr) {}

CostModel::CostModel(std::vector<std::shared_ptr<const CostSource>> sources, MetadataStore& meta, const Clock* clock)
    : sources_(std::move(sources)),
      meta_(meta),
      clock_(clock),
      cache_(sources_.size()),
      state_(std::make_unique<PassState>()) {
    PassState* state = state_.get();
    state->store = &meta_;
    state->token = meta_.changed().subscribe([state] { ++state->storeChanges; });
    refresh();
}

CostModel::CostModel(MetadataStore& meta, const Clock& clock) : CostModel(standardSources(), meta, &clock) {}

CostModel::CostModel(MetadataStore& meta) : CostModel(standardSources(), meta, nullptr) {}

CostModel::~CostModel() { state_->store->changed().unsubscribe(state_->token); }

const SessionRow* CostModel::headerRow() const {
    for (const SessionRow& r : allRows_) {
        if (r.isActive) return &r;
    }
    return nullptr;
}

std::string CostModel::menuTitleFor(double amount) {
    if (amount > 0 && amount < 0.01) return "$<0.01";
    return "$" + fixedDecimal(amount, 2);
}

std::string CostModel::projectName(const std::string& transcriptPath) {
    auto slash = transcriptPath.rfind('/');
    std::string folder = lastPathComponent(slash == std::string::npos ? std::string{} : transcriptPath.substr(0, slash));
    const size_t end = folder.find_last_not_of('-');
    if (end == std::string::npos) return folder;  // empty, or hyphens only
    // The piece starts after the hyphen before it, or at the start (npos + 1 is 0).
    const size_t start = folder.find_last_of('-', end) + 1;
    return folder.substr(start, end + 1 - start);
}

// A pass: list the files; when nothing changed (no file's times or size,
// nor the content of one read just after it changed), publish the last
// result again; else bring the changed files' parses up to date, fold the files
// into rows and publish them with today's rows and the totals. The metadata
// store hears of new rows last.
void CostModel::refresh() {
    PassState& st = *state_;
    ++st.passes;
    const DayWindow today = DayWindow::containing(now());

    Listing listing = listSources();
    const bool same = sameAsLastPass(listing, today);
    std::vector<size_t> toParse;
    if (!same || st.anyRacy) {
        toParse = filesToParse(listing, today);
        if (st.anyRacy) checkRacyFiles(listing, toParse);
    }
    if (same && toParse.empty()) {
        lastParseCount_ = 0;
        lastPassKind_ = PassKind::unchanged;
        updateMetadata(listing.files, {});
        changed_.notify();
        return;
    }
    parseFiles(listing, toParse, today);
    identifyFiles(listing, toParse);
    st.anyRacy = std::any_of(st.entries.begin(), st.entries.end(), [](const auto& e) { return e->racy; });
    lastParseCount_ = static_cast<int>(toParse.size());
    lastPassKind_ = st.samePaths ? PassKind::changedFiles : PassKind::otherPaths;

    lastListing_ = std::move(listing.files);
    st.lastSourceOf = std::move(listing.sourceOf);
    allRows_ = buildRows(lastListing_, activeFile(lastListing_), today);
    todayRows_ = todayRowsOf(allRows_);
    publishTotals();
    lastDayStart_ = today.start;
    haveResult_ = true;

    // Rows do not depend on the store: its changes are saved, and its
    // observers told, once everything above is published.
    updateMetadata(lastListing_, toParse);
    changed_.notify();
}

// Every source's files with their times and sizes. A file is known by its
// source and its path together: folders of two sources may overlap, and
// then each source reads the file with its own reader and its own rules, as
// it would read a file of its own.
CostModel::Listing CostModel::listSources() const {
    Listing listing;
    for (size_t s = 0; s < sources_.size(); ++s) {
        for (TranscriptFile& f : sources_[s]->transcriptURLs()) {
            listing.files.push_back(std::move(f));
            listing.sourceOf.push_back(static_cast<std::uint32_t>(s));
        }
    }
    return listing;
}

// Adds to `toParse` (the files whose times or size changed, in listing
// order) the racy files whose content is no longer what was read (see
// CacheEntry::racy); those found the same that have settled since are
// trusted by their times from now on.
void CostModel::checkRacyFiles(const Listing& listing, std::vector<size_t>& toParse) {
    PassState& st = *state_;
    std::vector<size_t> check;
    for (size_t i = 0, t = 0; i < listing.files.size(); ++i) {
        if (t < toParse.size() && toParse[t] == i) ++t;
        else if (st.entries[i]->racy) check.push_back(i);
    }
    std::vector<char> changed(check.size(), 0);
    parallelFor(check.size(), coreCount(), [&](size_t k, size_t) {
        CacheEntry& e = *st.entries[check[k]];
        const std::int64_t readAt = FileTimes::nowNs();
        if (!e.transcript->sameContent(listing.files[check[k]].path, e.size)) changed[k] = 1;
        else e.racy = FileTimes::mayChangeUnseen(e.ctimeNs, readAt);
    });
    for (size_t k = 0; k < check.size(); ++k) {
        if (changed[k]) toParse.push_back(check[k]);
    }
    std::sort(toParse.begin(), toParse.end());
    st.anyRacy = std::any_of(st.entries.begin(), st.entries.end(), [](const auto& e) { return e->racy; });
}

// Whether the last pass saw the same files of the same sources, with the
// same times and sizes, on the same day: then it computed the rows this one
// would.
bool CostModel::sameAsLastPass(const Listing& listing, const DayWindow& today) const {
    return haveResult_ && listing.sourceOf == state_->lastSourceOf && today.start == lastDayStart_ &&
           listing.files.size() == lastListing_.size() &&
           std::equal(listing.files.begin(), listing.files.end(), lastListing_.begin(), sameFile);
}

// The files whose cached parse is out of date: changed, new, or parsed on
// another day; as indices into the listing. Leaves st.entries holding each
// listed file's cache entry in listing order, and forgets the entries of
// files no longer listed. When the same paths are listed in the same order
// as in the last pass, the listing alone tells which files changed and
// every file keeps its entry.
std::vector<size_t> CostModel::filesToParse(const Listing& listing, const DayWindow& today) {
    PassState& st = *state_;
    const std::vector<TranscriptFile>& files = listing.files;
    std::vector<size_t> toParse;
    bool samePaths = haveResult_ && listing.sourceOf == st.lastSourceOf && files.size() == lastListing_.size();
    for (size_t i = 0; i < files.size() && samePaths; ++i) samePaths = files[i].path == lastListing_[i].path;
    st.samePaths = samePaths;
    if (samePaths) {
        const bool newDay = today.start != lastDayStart_;
        for (size_t i = 0; i < files.size(); ++i) {
            if (newDay || !sameFile(files[i], lastListing_[i])) toParse.push_back(i);
        }
        return toParse;
    }

    ++st.listings;
    std::vector<std::shared_ptr<CacheEntry>> entries(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const TranscriptFile& f = files[i];
        auto& cached = cache_[listing.sourceOf[i]][f.path];
        if (!cached) {
            cached = std::make_shared<CacheEntry>();
            cached->path = f.path;
        }
        entries[i] = cached;
        CacheEntry& e = *cached;
        e.listing = st.listings;
        if (!e.transcript || e.mtimeNs != f.mtimeNs || e.size != f.size || e.inode != f.inode ||
            e.ctimeNs != f.ctimeNs || e.dayStart != today.start) {
            toParse.push_back(i);
        }
    }
    st.entries = std::move(entries);
    forgetUnlistedFiles();
    return toParse;
}

// Drops the entries of files the present listing does not hold, and their
// responses from the index.
void CostModel::forgetUnlistedFiles() {
    PassState& st = *state_;
    for (auto& files : cache_) {
        std::erase_if(files, [&](const auto& kv) {
            if (kv.second->listing == st.listings) return false;
            st.unindex(*kv.second);
            return true;
        });
    }
}

// Brings the parses of `toParse` up to date, in parallel, each with its
// source's reader; joined before the pass goes on.
void CostModel::parseFiles(const Listing& listing, const std::vector<size_t>& toParse, const DayWindow& today) {
    PassState& st = *state_;
    const auto& entries = st.entries;
    for (size_t i : toParse) st.unindex(*entries[i]);
    parallelFor(toParse.size(), coreCount(), [&](size_t k, size_t) {
        const size_t i = toParse[k];
        const TranscriptFile& f = listing.files[i];
        CacheEntry& e = *entries[i];
        if (!e.transcript) e.transcript = sources_[listing.sourceOf[i]]->reader();
        e.mtimeNs = f.mtimeNs;
        e.size = f.size;
        e.inode = f.inode;
        e.ctimeNs = f.ctimeNs;
        e.dayStart = today.start;
        // A change after the reading began may not move the times.
        const std::int64_t readAt = FileTimes::nowNs();
        e.transcript->update(f.path, f.inode, f.size, today);
        e.racy = FileTimes::mayChangeUnseen(f.ctimeNs, readAt);
        const auto& turns = e.parsed().turns;
        e.keyHashes.resize(turns.size());
        for (size_t t = 0; t < turns.size(); ++t) e.keyHashes[t] = std::hash<std::string_view>{}(turns[t].key);
    });
}

// What each freshly parsed file's source says of it: its conversation, its
// parent's, whether it is a subagent, its de-duplication scope and its older
// metadata id. Its responses join the index; it is a new version.
void CostModel::identifyFiles(const Listing& listing, const std::vector<size_t>& parsed) {
    PassState& st = *state_;
    for (size_t i : parsed) {
        CacheEntry& e = *st.entries[i];
        const CostSource& src = *sources_[listing.sourceOf[i]];
        const std::string& path = listing.files[i].path;
        const ParsedSession& session = e.parsed();
        const std::string oldRowId = e.rowId, oldScopedStem = e.scopedStem;
        e.source = &src;
        e.stem = fileStem(path);
        e.transcriptId = src.transcriptId(path, session);
        e.rowId = src.id() + ":" + e.transcriptId;
        e.parentRowId.reset();
        if (auto parent = src.parentTranscriptId(path, session)) e.parentRowId = src.id() + ":" + *parent;
        e.isSubagent = src.isSubagent(path, session);
        e.subagentLabel = src.subagentLabel(path, session);
        e.dedupeScope = src.dedupeScope(e.rowId);
        e.scope = st.scopes.try_emplace(e.dedupeScope, static_cast<std::uint32_t>(st.scopes.size())).first->second;
        e.conversation = nullptr;
        e.scopedStem = e.transcriptId != e.stem ? src.id() + ":" + e.stem : std::string{};
        if (e.rowId != oldRowId || e.scopedStem != oldScopedStem) e.metadataGeneration = 0;
        e.dropped.clear();
        e.deduplicated.reset();
        e.version = ++st.nextVersion;
        st.index(e);
    }
}

// The active file: the most recently modified one, the first listed on
// equal times; a file whose time could not be read never is. Null when
// there is none.
const TranscriptFile* CostModel::activeFile(const std::vector<TranscriptFile>& listing) {
    const TranscriptFile* active = nullptr;
    std::int64_t newest = TranscriptFile::kUnknownMtime;
    for (const TranscriptFile& f : listing) {
        if (f.mtimeNs > newest) {
            newest = f.mtimeNs;
            active = &f;
        }
    }
    return active;
}

// The rows with a cost today, in the order of `rows`; those of unchanged
// conversations move over from the last pass's list.
std::vector<SessionRow> CostModel::todayRowsOf(const std::vector<SessionRow>& rows) {
    PassState& st = *state_;
    std::vector<SessionRow> todayRows;
    for (size_t i = 0; i < rows.size(); ++i) {
        Conversation& c = *st.rowConversations[i];
        const std::optional<size_t> last = std::exchange(c.todayIndex, std::nullopt);
        if (!(rows[i].today > 0)) continue;
        // A rebuilt conversation has no place in the last list (see
        // mergeConversation): its fresh row is copied.
        if (last) {
            todayRows.push_back(std::move(todayRows_[*last]));
            todayRows.back().isActive = rows[i].isActive;
        } else {
            todayRows.push_back(rows[i]);
        }
        c.todayIndex = todayRows.size() - 1;
    }
    return todayRows;
}

void CostModel::publishTotals() {
    grandTotal_ = 0;
    todayCost_ = 0;
    for (const SessionRow& r : allRows_) grandTotal_ += r.total;
    for (const SessionRow& r : allRows_) todayCost_ += r.today;
    menuTitle_ = menuTitleFor(todayCost_);
}

// Annotations kept under a file's older ids (its stem, alone or after the
// source id) move to its row id; then every row gets a suggested name.
// `parsed`: the files of the listing parsed in this pass.
void CostModel::updateMetadata(const std::vector<TranscriptFile>& listing, const std::vector<size_t>& parsed) {
    PassState& st = *state_;
    const std::uint64_t generation = st.metadataGeneration;

    // Files and rows that were there before are covered by the present
    // generation; only what is new to this pass needs looking at.
    auto covered = [&] {
        if (st.lastCallsChangedStore || st.storeChanges != st.storeChangesAfter) return false;
        for (size_t i : parsed) {
            if (st.entries[i]->metadataGeneration != generation) return false;
        }
        for (size_t i = 0; i < allRows_.size(); ++i) {
            const Conversation& c = *st.rowConversations[i];
            if (c.freshPass != st.passes) continue;
            if (c.metadataGeneration != generation || c.suggestedFor != allRows_[i].title) return false;
        }
        return true;
    };
    lastCalledMetadata_ = !covered();
    st.lastCallsChangedStore = false;
    if (lastCalledMetadata_) {
        const std::uint64_t before = st.storeChanges;
        {
            MetadataStore::Batch batch(meta_);
            // Only files whose transcript id is not their stem can have had
            // another id.
            for (size_t i = 0; i < listing.size(); ++i) {
                const CacheEntry& e = *st.entries[i];
                if (!e.scopedStem.empty()) {
                    meta_.migrateLegacyId(e.stem, e.rowId);
                    meta_.migrateLegacyId(e.scopedStem, e.rowId);
                }
            }
            for (const SessionRow& r : allRows_) meta_.ensureSuggestion(r.id, r.title);
        }
        st.lastCallsChangedStore = st.storeChanges != before;

        // These calls form a new generation.
        const std::uint64_t next = ++st.metadataGeneration;
        for (const auto& e : st.entries) e->metadataGeneration = next;
        for (size_t i = 0; i < allRows_.size(); ++i) {
            Conversation& c = *st.rowConversations[i];
            c.metadataGeneration = next;
            c.suggestedFor = allRows_[i].title;
        }
    }
    st.storeChangesAfter = st.storeChanges;
}

// A response counts once per scope, in the newest file that has it: a
// file's response is dropped exactly when a newer file of its scope has the
// same key. Only files that changed, or share a key with a file that
// changed or went, can find a different answer than in the last pass.
void CostModel::deduplicate(const DayWindow& today) {
    PassState& st = *state_;
    // The later modification time, then the greater path.
    auto newer = [](const CacheEntry& a, const CacheEntry& b) {
        return std::tie(a.mtimeNs, a.path) > std::tie(b.mtimeNs, b.path);
    };
    std::vector<std::uint32_t> dropped;
    for (CacheEntry* e : st.dirty) {
        const auto& turns = e->parsed().turns;
        dropped.clear();
        for (std::uint32_t t = 0; t < turns.size(); ++t) {
            auto [it, end] = st.responses.equal_range(PassState::mixed(e->keyHashes[t], e->scope));
            for (; it != end; ++it) {
                const CacheEntry& other = *it->second.entry;
                // A file is not newer than itself: a key repeated within
                // it was never in an earlier file's set.
                if (other.scope != e->scope || !newer(other, *e)) continue;
                if (other.parsed().turns[it->second.turn].key == turns[t].key) {
                    dropped.push_back(t);
                    break;
                }
            }
        }
        if (dropped == e->dropped) continue;
        // The parse without those responses; a new version of the file.
        e->dropped = dropped;
        e->deduplicated.reset();
        if (!dropped.empty()) {
            std::vector<BilledTurn> kept;
            kept.reserve(turns.size() - dropped.size());
            size_t d = 0;
            for (size_t t = 0; t < turns.size(); ++t) {
                if (d < dropped.size() && dropped[d] == t) ++d;
                else kept.push_back(turns[t]);
            }
            // Rows need the totals only.
            e->deduplicated = SessionTotals(e->parsed().rebuilt(std::move(kept), today));
        }
        e->version = ++st.nextVersion;
    }
    st.dirty.clear();
}

// Folds the listed files into one row per conversation that cost anything,
// latest activity first. Only conversations with a changed file are merged
// again; the others keep their row.
std::vector<SessionRow> CostModel::buildRows(const std::vector<TranscriptFile>& listing,
                                             const TranscriptFile* active, const DayWindow& today) {
    const std::vector<ParsedFile> files = filesNewestFirst(listing);
    deduplicate(today);
    const std::vector<Conversation*> present = attachToConversations(files, active);
    for (Conversation* c : present) {
        if (c->versions == c->builtVersions) continue;
        mergeConversation(*c);
    }
    return rowsByActivity(present);
}

// The listing's files, newest first; equal times by path, the greater
// first. The last pass's order of the same files is usually still right.
std::vector<CostModel::ParsedFile> CostModel::filesNewestFirst(const std::vector<TranscriptFile>& listing) {
    PassState& st = *state_;
    auto newer = [&](std::uint32_t a, std::uint32_t b) {
        if (listing[a].mtimeNs != listing[b].mtimeNs) return listing[a].mtimeNs > listing[b].mtimeNs;
        return listing[a].path > listing[b].path;
    };
    // Listing the same paths as the last pass, which put them in order, is
    // listing as many.
    if (!st.samePaths || !std::is_sorted(st.order.begin(), st.order.end(), newer)) {
        st.order.resize(listing.size());
        for (size_t i = 0; i < listing.size(); ++i) st.order[i] = static_cast<std::uint32_t>(i);
        std::sort(st.order.begin(), st.order.end(), newer);
    }
    std::vector<ParsedFile> files;
    files.reserve(listing.size());
    for (std::uint32_t i : st.order) files.push_back({&listing[i], st.entries[i].get()});
    return files;
}

// Hands each file to its conversation: first every conversation's own
// files, then the subagents' files under their parent's row id (their own
// when they name no parent), each newest first. Returns the conversations
// this pass has, and forgets the others.
std::vector<CostModel::Conversation*> CostModel::attachToConversations(const std::vector<ParsedFile>& files,
                                                                       const TranscriptFile* active) {
    PassState& st = *state_;
    const std::uint64_t pass = st.passes;
    std::vector<Conversation*> present;
    auto attach = [&](const std::string& key, const ParsedFile& pf) {
        // The entry remembers its conversation until it is parsed again;
        // a conversation lives as long as any listed file attaches to it.
        if (!pf.entry->conversation) {
            auto it = st.conversations.try_emplace(key).first;
            it->second.rowId = &it->first;
            pf.entry->conversation = &it->second;
        }
        Conversation& c = *pf.entry->conversation;
        if (c.pass != pass) {
            c.pass = pass;
            c.files.clear();
            c.versions.clear();
            c.holdsActive = false;
            present.push_back(&c);
        }
        c.files.push_back(&pf);
        c.versions.push_back(pf.entry->version);
        if (pf.file == active) c.holdsActive = true;
    };
    for (const ParsedFile& pf : files) {
        if (!pf.entry->isSubagent) attach(pf.entry->rowId, pf);
    }
    for (const ParsedFile& pf : files) {
        if (pf.entry->isSubagent) attach(pf.entry->parentRowId ? *pf.entry->parentRowId : pf.entry->rowId, pf);
    }
    std::erase_if(st.conversations, [&](const auto& kv) { return kv.second.pass != pass; });
    return present;
}

// Merges the files of a conversation into the figures rows are ordered by
// and, when it cost anything, into a fresh row. The first file attached
// gives the row its source and project: the newest own file or, for a
// conversation whose own file is not listed, its newest subagent file.
void CostModel::mergeConversation(Conversation& c) {
    c.builtVersions = c.versions;
    c.fresh.reset();
    c.rowIndex.reset();
    c.todayIndex.reset();

    const ParsedFile& first = *c.files.front();
    SessionTotals totals = first.totals();
    if (first.entry->isSubagent && totals.title.empty()) totals.title = "Subagent activity";
    std::int64_t mtimeNs = first.file->mtimeNs;
    for (size_t i = 1; i < c.files.size(); ++i) {
        totals.absorb(c.files[i]->totals());
        mtimeNs = std::max(mtimeNs, c.files[i]->file->mtimeNs);
    }
    c.lastActivity = totals.lastActivity;
    c.mtimeNs = mtimeNs;
    c.totalCost = totals.totalCost;
    if (!(totals.totalCost > 0)) return;

    SessionRow r;
    r.id = *c.rowId;
    r.source = first.entry->source->name();
    r.sourceKind = first.entry->source->kind();
    r.title = totals.title.empty() ? "(untitled session)" : totals.title;
    r.project = totals.cwd.empty() ? projectName(first.file->path) : lastPathComponent(totals.cwd);
    r.total = totals.totalCost;
    r.today = totals.todayCost;
    r.startTime = totals.firstActivity == kDistantFuture ? totals.lastActivity : totals.firstActivity;
    r.lastActivity = totals.lastActivity;
    r.tokens = totals.totalTokens();
    r.models = modelLines(totals);
    // Own files, then subagent files, each newest first, as attached.
    for (const ParsedFile* pf : c.files) {
        r.transcriptPaths.push_back(pf->file->path);
        if (!pf->entry->isSubagent) continue;
        const SessionTotals& s = pf->totals();
        r.subagents.push_back({pf->entry->rowId, pf->entry->subagentLabel, s.totalCost, s.todayCost, s.lastActivity,
                               s.totalTokens(), modelLines(s), {pf->file->path}});
    }
    c.fresh = std::move(r);
    c.freshPass = state_->passes;
}

// The rows of the conversations that cost anything, latest activity first,
// then the latest file, then by row id. Rows of unchanged conversations move
// over from the last pass's list.
std::vector<SessionRow> CostModel::rowsByActivity(const std::vector<Conversation*>& present) {
    PassState& st = *state_;
    std::vector<Conversation*> kept;
    for (Conversation* c : present) {
        if (c->totalCost > 0) kept.push_back(c);
    }
    std::sort(kept.begin(), kept.end(), [](const Conversation* a, const Conversation* b) {
        if (a->lastActivity != b->lastActivity) return a->lastActivity > b->lastActivity;
        if (a->mtimeNs != b->mtimeNs) return a->mtimeNs > b->mtimeNs;
        return *a->rowId < *b->rowId;
    });

    std::vector<SessionRow> rows;
    rows.reserve(kept.size());
    for (Conversation* c : kept) {
        if (c->fresh) {
            rows.push_back(std::move(*c->fresh));
            c->fresh.reset();
        } else {
            rows.push_back(std::move(allRows_[*c->rowIndex]));
        }
        // The row holds the active path exactly when its conversation holds
        // the active file: every file belongs to one conversation.
        rows.back().isActive = c->holdsActive;
        c->rowIndex = rows.size() - 1;
    }
    st.rowConversations = std::move(kept);
    return rows;
}

}  // namespace vorel
