#include "CostModel.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "DecimalText.h"
#include "IncrementalTranscript.h"
#include "MetadataStore.h"
#include "Pricing.h"

namespace vorel {

struct CostModel::CacheEntry {
    std::int64_t mtimeNs = 0;
    std::int64_t size = 0;
    std::uint64_t inode = 0;
    TimePoint dayStart = kDistantPast;
    std::optional<IncrementalTranscript> transcript;
    const ParsedSession& parsed() const { return transcript->parsed(); }

    // What the source says of the file, worked out once per parse.
    const CostSource* source = nullptr;
    std::string stem;
    std::string transcriptId;
    std::string rowId;
    std::optional<std::string> parentRowId;
    bool isSubagent = false;
    std::string subagentLabel;
    std::string dedupeScope;
    // The source's id, ":" and the stem: the file's older metadata id, when
    // its transcript id is not its stem (then the stem is one too).
    std::string scopedStem;

    // A hash of each response key of parsed(), in order, made once per parse
    // so that de-duplication does not hash every key on every pass.
    std::vector<std::uint64_t> keyHashes;
    // The responses of parsed() that the last de-duplication found in newer
    // files, and the parse without them (totals only) when there were any.
    std::vector<std::uint32_t> dropped;
    std::optional<ParsedSession> deduplicated;
    const ParsedSession& effective() const { return deduplicated ? *deduplicated : parsed(); }

    // Changes whenever the parse or the dropped responses do; the values
    // come from one counter per model, so no two states share one.
    std::uint64_t version = 0;
    // The number of dedupeScope among all scopes the model has seen, and the
    // conversation the file was last attached to (none after a parse).
    std::uint32_t scope = 0;
    Conversation* conversation = nullptr;
    // The file's path, for the order of files; the last set of listed paths
    // it was among (see PassState::listings); the last pass that found its
    // dropped responses may have changed.
    std::string path;
    std::uint64_t listing = 0;
    std::uint64_t dirtyPass = 0;
    // The metadata generation whose calls covered this file with its
    // present ids (see updateMetadata).
    std::uint64_t metadataGeneration = 0;
};

struct CostModel::ParsedFile {
    const TranscriptFile* file = nullptr;
    CacheEntry* entry = nullptr;

    // The parse without responses counted in a newer file of the same scope.
    const ParsedSession& parsed() const { return entry->effective(); }
};

struct CostModel::AggregateSession {
    const ParsedFile* primary = nullptr;
    ParsedSession parsed;  // merged totals (no response list)
    std::string url;
    std::int64_t mtimeNs = TranscriptFile::kUnknownMtime;
    std::string sourceId, sourceName, rowId, transcriptId;
    std::vector<const ParsedFile*> subagents;
    std::vector<std::string> extraPaths;
};

// One conversation, kept from pass to pass under its row id so that its row
// is built again only when one of its files changed.
struct CostModel::Conversation {
    const std::string* rowId = nullptr;  // the map's key
    std::uint64_t pass = 0;              // the last pass that saw it
    // This pass's files in the order they were attached: own files, then
    // subagent files, each newest first.
    std::vector<const ParsedFile*> files;
    // The versions of those files, this pass and when the row was built.
    std::vector<std::uint64_t> versions, builtVersions;
    bool built = false;
    bool holdsActive = false;

    // The merged figures the order of rows depends on.
    TimePoint lastActivity = kDistantPast;
    std::int64_t mtimeNs = TranscriptFile::kUnknownMtime;
    double totalCost = 0;

    // A row built this pass, or where the last pass put the row.
    std::optional<SessionRow> fresh;
    std::optional<size_t> rowIndex;

    // The pass that last built its row.
    std::uint64_t freshPass = 0;
    // Where the last pass put its row in todayRows_.
    std::optional<size_t> todayIndex;

    // The title the metadata calls of `metadataGeneration` covered.
    std::string suggestedFor;
    std::uint64_t metadataGeneration = 0;
};

struct CostModel::PassState {
    std::uint64_t passes = 0;
    std::uint64_t nextVersion = 0;
    // Counts the passes that listed other paths than the pass before; the
    // entries of the listed files carry the present count.
    std::uint64_t listings = 0;
    // Cache entries in the order of lastListing_.
    std::vector<std::shared_ptr<CacheEntry>> entries;
    // The position in sources_ of the source that listed each file of
    // lastListing_.
    std::vector<std::uint32_t> lastSourceOf;
    std::unordered_map<std::string, Conversation> conversations;
    // The conversations of allRows_, in the same order.
    std::vector<Conversation*> rowConversations;
    // The listing's files, newest first, as indices into the listing; and
    // whether this pass lists the same paths as the last.
    std::vector<std::uint32_t> order;
    bool samePaths = false;
    std::unordered_map<std::string, std::uint32_t> scopes;

    // Every response of every listed file, by the hash of its key mixed with
    // the number of its scope, so that the files a changed file shares keys
    // with are found without going through all of them.
    struct Occurrence {
        CacheEntry* entry = nullptr;
        std::uint32_t turn = 0;
    };
    std::unordered_multimap<std::uint64_t, Occurrence> responses;
    // The listed files whose dropped responses must be found again.
    std::vector<CacheEntry*> dirty;

    static std::uint64_t mixed(std::uint64_t keyHash, std::uint32_t scope) {
        return keyHash ^ ((static_cast<std::uint64_t>(scope) + 1) * 0x9E3779B97F4A7C15ULL);
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
    ChangeNotifier::Token token = 0;
    std::uint64_t storeChanges = 0;       // notifications from the store
    std::uint64_t storeChangesAfter = 0;  // ... at the end of the last pass
    bool lastCallsChangedStore = true;
    std::uint64_t metadataGeneration = 1;
};

namespace {

// A copy of a parse without its list of responses: rows need only totals.
ParsedSession totalsOf(const ParsedSession& p) {
    ParsedSession s;
    s.perModel = p.perModel;
    s.totalCost = p.totalCost;
    s.todayCost = p.todayCost;
    s.lastActivity = p.lastActivity;
    s.firstActivity = p.firstActivity;
    s.hadTodayActivity = p.hadTodayActivity;
    s.title = p.title;
    s.hasUnknownModel = p.hasUnknownModel;
    s.cwd = p.cwd;
    s.sourceThreadId = p.sourceThreadId;
    s.parentThreadId = p.parentThreadId;
    s.isSubagent = p.isSubagent;
    s.subagentName = p.subagentName;
    s.subagentRole = p.subagentRole;
    return s;
}

void absorbTotals(ParsedSession& into, const ParsedSession& other) {
    if (other.turns.empty()) {
        into.absorb(other);
        return;
    }
    into.absorb(totalsOf(other));
}

std::vector<ModelLine> modelLines(const ParsedSession& p) {
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

// Runs fn(i) for i in [0, n) on up to one thread per core.
template <typename Fn>
void parallelFor(size_t n, Fn&& fn) {
    unsigned workers = std::min<size_t>(n, std::max(1u, std::thread::hardware_concurrency()));
    if (workers <= 1) {
        for (size_t i = 0; i < n; ++i) fn(i);
        return;
    }
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (unsigned w = 0; w < workers; ++w) {
        threads.emplace_back([&] {
            for (size_t i = next++; i < n; i = next++) fn(i);
        });
    }
    for (auto& t : threads) t.join();
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

CostModel::CostModel(MetadataStore& meta, const Clock& clock)
    : CostModel({std::make_shared<ClaudeCodeSource>(), std::make_shared<CodexSource>()}, meta, &clock) {}

CostModel::CostModel(MetadataStore& meta)
    : CostModel({std::make_shared<ClaudeCodeSource>(), std::make_shared<CodexSource>()}, meta, nullptr) {}

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
    std::string last;
    size_t start = 0;
    while (start <= folder.size()) {
        size_t dash = folder.find('-', start);
        if (dash == std::string::npos) dash = folder.size();
        if (dash > start) last = folder.substr(start, dash - start);
        start = dash + 1;
    }
    return last.empty() ? folder : last;
}

void CostModel::refresh() {
    PassState& st = *state_;
    ++st.passes;
    const TimePoint now = this->now();
    const DayWindow today = DayWindow::containing(now);

    // 1. List every source's files, with their times and sizes. A file is
    // known by its source and its path together: folders of two sources may
    // overlap, and then each source reads the file with its own parser and
    // its own rules, as it would read a file of its own.
    std::vector<TranscriptFile> listing;
    std::vector<std::uint32_t> sourceOf;
    for (size_t s = 0; s < sources_.size(); ++s) {
        for (TranscriptFile& f : sources_[s]->transcriptURLs()) {
            listing.push_back(std::move(f));
            sourceOf.push_back(static_cast<std::uint32_t>(s));
        }
    }
    auto owner = [&](size_t i) -> const CostSource& { return *sources_[sourceOf[i]]; };

    // A pass that sees the same files, times and sizes on the same day
    // would compute the same rows: publish the last result again.
    auto sameFile = [](const TranscriptFile& a, const TranscriptFile& b) {
        return a.path == b.path && a.mtimeNs == b.mtimeNs && a.size == b.size && a.inode == b.inode;
    };
    const bool sameSources = sourceOf == st.lastSourceOf;
    if (haveResult_ && sameSources && today.start == lastDayStart_ && listing.size() == lastListing_.size() &&
        std::equal(listing.begin(), listing.end(), lastListing_.begin(), sameFile)) {
        lastParseCount_ = 0;
        updateMetadata(listing, {});
        changed_.notify();
        return;
    }

    // 2. Reuse the cached parse of every unchanged file; parse the others,
    // in parallel, joined before the pass goes on. When the same paths are
    // listed in the same order as in the last pass, the listing tells which
    // files changed and every file keeps its entry.
    std::vector<size_t> toParse;
    bool samePaths = haveResult_ && sameSources && listing.size() == lastListing_.size();
    for (size_t i = 0; i < listing.size() && samePaths; ++i) samePaths = listing[i].path == lastListing_[i].path;
    if (samePaths) {
        const bool newDay = today.start != lastDayStart_;
        for (size_t i = 0; i < listing.size(); ++i) {
            if (newDay || !sameFile(listing[i], lastListing_[i])) toParse.push_back(i);
        }
    } else {
        ++st.listings;
        std::vector<std::shared_ptr<CacheEntry>> entries(listing.size());
        for (size_t i = 0; i < listing.size(); ++i) {
            const TranscriptFile& f = listing[i];
            auto& cached = cache_[sourceOf[i]][f.path];
            if (!cached) {
                cached = std::make_shared<CacheEntry>();
                cached->path = f.path;
            }
            entries[i] = cached;
            CacheEntry& e = *cached;
            e.listing = st.listings;
            if (!e.transcript || e.mtimeNs != f.mtimeNs || e.size != f.size || e.inode != f.inode ||
                e.dayStart != today.start) {
                toParse.push_back(i);
            }
        }
        st.entries = std::move(entries);
        // 3. Forget files that are gone.
        for (auto& files : cache_) {
            std::erase_if(files, [&](const auto& kv) {
                if (kv.second->listing == st.listings) return false;
                st.unindex(*kv.second);
                return true;
            });
        }
    }
    st.samePaths = samePaths;
    const auto& entries = st.entries;
    for (size_t i : toParse) st.unindex(*entries[i]);
    parallelFor(toParse.size(), [&](size_t k) {
        const size_t i = toParse[k];
        const TranscriptFile& f = listing[i];
        CacheEntry& e = *entries[i];
        auto kind = owner(i).isCodex() ? IncrementalTranscript::Kind::codex : IncrementalTranscript::Kind::claude;
        if (!e.transcript) e.transcript.emplace(kind);
        e.mtimeNs = f.mtimeNs;
        e.size = f.size;
        e.inode = f.inode;
        e.dayStart = today.start;
        e.transcript->update(f.path, f.inode, f.size, today);
        const auto& turns = e.parsed().turns;
        e.keyHashes.resize(turns.size());
        for (size_t t = 0; t < turns.size(); ++t) e.keyHashes[t] = std::hash<std::string_view>{}(turns[t].key);
    });
    for (size_t i : toParse) {
        CacheEntry& e = *entries[i];
        const CostSource& src = owner(i);
        const std::string& path = listing[i].path;
        const ParsedSession& parsed = e.parsed();
        const std::string oldRowId = e.rowId, oldScopedStem = e.scopedStem;
        e.source = &src;
        e.stem = fileStem(path);
        e.transcriptId = src.transcriptId(path, parsed);
        e.rowId = src.id() + ":" + e.transcriptId;
        e.parentRowId.reset();
        if (auto parent = src.parentTranscriptId(path, parsed)) e.parentRowId = src.id() + ":" + *parent;
        e.isSubagent = src.isSubagent(path, parsed);
        e.subagentLabel = src.subagentLabel(path, parsed);
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
    lastParseCount_ = static_cast<int>(toParse.size());

    // The active file: the most recently modified one, the first listed on
    // equal times; a file whose time could not be read never is.
    size_t active = listing.size();
    std::int64_t newest = TranscriptFile::kUnknownMtime;
    for (size_t i = 0; i < listing.size(); ++i) {
        if (listing[i].mtimeNs > newest) {
            newest = listing[i].mtimeNs;
            active = i;
        }
    }

    lastListing_ = std::move(listing);
    st.lastSourceOf = std::move(sourceOf);
    allRows_ = buildRows(lastListing_, active, today);
    // The rows with a cost today; those of unchanged conversations move over
    // from the last pass's list.
    std::vector<SessionRow> todayRows;
    for (size_t i = 0; i < allRows_.size(); ++i) {
        Conversation& c = *st.rowConversations[i];
        const std::optional<size_t> last = std::exchange(c.todayIndex, std::nullopt);
        if (!(allRows_[i].today > 0)) continue;
        if (c.freshPass != st.passes && last) {
            todayRows.push_back(std::move(todayRows_[*last]));
            todayRows.back().isActive = allRows_[i].isActive;
        } else {
            todayRows.push_back(allRows_[i]);
        }
        c.todayIndex = todayRows.size() - 1;
    }
    todayRows_ = std::move(todayRows);

    grandTotal_ = 0;
    todayCost_ = 0;
    for (const SessionRow& r : allRows_) grandTotal_ += r.total;
    for (const SessionRow& r : allRows_) todayCost_ += r.today;
    menuTitle_ = menuTitleFor(todayCost_);

    lastDayStart_ = today.start;
    haveResult_ = true;
    // Rows do not depend on the store: its changes are saved, and its
    // observers told, once everything above is published.
    updateMetadata(lastListing_, toParse);
    changed_.notify();
}

// Annotations kept under a file's older ids (its stem, alone or after the
// source id) move to its row id; then every row gets a suggested name.
// `parsed`: the files of the listing parsed in this pass.
void CostModel::updateMetadata(const std::vector<TranscriptFile>& listing, const std::vector<size_t>& parsed) {
    PassState& st = *state_;
    const std::uint64_t generation = st.metadataGeneration;

    // Files and rows that were there before are covered by the present
    // generation; only what is new to this pass needs looking at.
    bool known = !st.lastCallsChangedStore && st.storeChanges == st.storeChangesAfter;
    for (size_t i = 0; i < parsed.size() && known; ++i) {
        known = st.entries[parsed[i]]->metadataGeneration == generation;
    }
    for (size_t i = 0; i < st.rowConversations.size() && known; ++i) {
        const Conversation& c = *st.rowConversations[i];
        if (c.freshPass == st.passes) {
            known = c.metadataGeneration == generation && c.suggestedFor == allRows_[i].title;
        }
    }
    st.lastCallsChangedStore = false;
    if (!known) {
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
            if (c.suggestedFor != allRows_[i].title) c.suggestedFor = allRows_[i].title;
        }
    }
    st.storeChangesAfter = st.storeChanges;
}

// 5. A response counts once per scope, in the newest file that has it: a
// file's response is dropped exactly when a newer file of its scope has the
// same key. Only files that changed, or share a key with a file that
// changed or went, can find a different answer than in the last pass.
void CostModel::deduplicate(const DayWindow& today) {
    PassState& st = *state_;
    auto newer = [](const CacheEntry& a, const CacheEntry& b) {
        if (a.mtimeNs != b.mtimeNs) return a.mtimeNs > b.mtimeNs;
        return a.path > b.path;
    };
    std::vector<std::uint32_t> dropped;
    for (CacheEntry* e : st.dirty) {
        const auto& turns = e->parsed().turns;
        dropped.clear();
        for (std::uint32_t t = 0; t < turns.size(); ++t) {
            auto [it, end] = st.responses.equal_range(PassState::mixed(e->keyHashes[t], e->scope));
            for (; it != end; ++it) {
                const CacheEntry& other = *it->second.entry;
                // A key repeated within the file itself was never in an
                // earlier file's set.
                if (&other == e || other.scope != e->scope || !newer(other, *e)) continue;
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
            e->deduplicated = e->parsed().rebuilt(std::move(kept), today);
            e->deduplicated->turns = {};  // rows need the totals only
        }
        e->version = ++st.nextVersion;
    }
    st.dirty.clear();
}

std::vector<SessionRow> CostModel::buildRows(const std::vector<TranscriptFile>& listing, size_t activeIndex,
                                             const DayWindow& today) {
    PassState& st = *state_;

    // 4. Newest file first; equal times by path, the greater first. The last
    // pass's order of the same files is usually still right.
    auto newer = [&](std::uint32_t a, std::uint32_t b) {
        if (listing[a].mtimeNs != listing[b].mtimeNs) return listing[a].mtimeNs > listing[b].mtimeNs;
        return listing[a].path > listing[b].path;
    };
    if (!st.samePaths || st.order.size() != listing.size() || !std::is_sorted(st.order.begin(), st.order.end(), newer)) {
        st.order.resize(listing.size());
        for (size_t i = 0; i < listing.size(); ++i) st.order[i] = static_cast<std::uint32_t>(i);
        std::sort(st.order.begin(), st.order.end(), newer);
    }
    std::vector<ParsedFile> files;
    files.reserve(listing.size());
    for (std::uint32_t i : st.order) files.push_back({&listing[i], st.entries[i].get()});

    deduplicate(today);

    // 6. Attach each conversation's own files, then its subagents.
    const std::string* activePath = activeIndex < listing.size() ? &listing[activeIndex].path : nullptr;
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
        if (activePath && pf.file == &listing[activeIndex]) c.holdsActive = true;
    };
    for (const ParsedFile& pf : files) {
        if (!pf.entry->isSubagent) attach(pf.entry->rowId, pf);
    }
    for (const ParsedFile& pf : files) {
        if (pf.entry->isSubagent) attach(pf.entry->parentRowId ? *pf.entry->parentRowId : pf.entry->rowId, pf);
    }
    if (present.size() != st.conversations.size()) {
        std::erase_if(st.conversations, [&](const auto& kv) { return kv.second.pass != pass; });
    }

    // Merge the files of every conversation whose files changed; the others
    // keep their figures and row.
    for (Conversation* c : present) {
        if (c->built && c->versions == c->builtVersions) continue;
        c->builtVersions = c->versions;
        c->built = true;
        c->fresh.reset();
        c->rowIndex.reset();
        c->todayIndex.reset();

        AggregateSession a;
        for (const ParsedFile* pf : c->files) {
            if (pf->entry->isSubagent) {
                if (!a.primary && a.subagents.empty()) {
                    // No own file: an orphan conversation under the parent key.
                    a.parsed = totalsOf(pf->parsed());
                    if (a.parsed.title.empty()) a.parsed.title = "Subagent activity";
                    a.url = pf->file->path;
                    a.mtimeNs = pf->file->mtimeNs;
                    a.sourceId = pf->entry->source->id();
                    a.sourceName = pf->entry->source->name();
                    a.rowId = *c->rowId;
                    a.transcriptId = *c->rowId;
                } else {
                    absorbTotals(a.parsed, pf->parsed());
                    a.mtimeNs = std::max(a.mtimeNs, pf->file->mtimeNs);
                }
                a.subagents.push_back(pf);
            } else if (!a.primary) {
                a.primary = pf;
                a.parsed = totalsOf(pf->parsed());
                a.url = pf->file->path;
                a.mtimeNs = pf->file->mtimeNs;
                a.sourceId = pf->entry->source->id();
                a.sourceName = pf->entry->source->name();
                a.rowId = pf->entry->rowId;
                a.transcriptId = pf->entry->transcriptId;
            } else {
                absorbTotals(a.parsed, pf->parsed());
                a.mtimeNs = std::max(a.mtimeNs, pf->file->mtimeNs);
                a.extraPaths.push_back(pf->file->path);
            }
        }
        c->lastActivity = a.parsed.lastActivity;
        c->mtimeNs = a.mtimeNs;
        c->totalCost = a.parsed.totalCost;
        // 7. Only conversations that cost anything get a row.
        if (!(a.parsed.totalCost > 0)) continue;

        // 9. The row.
        SessionRow r;
        r.id = a.rowId;
        r.source = a.sourceName;
        r.title = a.parsed.title.empty() ? "(untitled session)" : a.parsed.title;
        r.project = a.parsed.cwd.empty() ? projectName(a.url) : lastPathComponent(a.parsed.cwd);
        r.total = a.parsed.totalCost;
        r.today = a.parsed.todayCost;
        r.startTime = a.parsed.firstActivity == kDistantFuture ? a.parsed.lastActivity : a.parsed.firstActivity;
        r.lastActivity = a.parsed.lastActivity;
        r.tokens = a.parsed.totalTokens();
        r.models = modelLines(a.parsed);

        std::vector<const ParsedFile*> subs = a.subagents;
        std::stable_sort(subs.begin(), subs.end(), [](const ParsedFile* x, const ParsedFile* y) {
            return x->file->mtimeNs > y->file->mtimeNs;
        });
        for (const ParsedFile* s : subs) {
            const ParsedSession& p = s->parsed();
            r.subagents.push_back({s->entry->rowId, s->entry->subagentLabel, p.totalCost, p.todayCost, p.lastActivity,
                                   p.totalTokens(), modelLines(p), {s->file->path}});
        }

        if (a.primary) r.transcriptPaths.push_back(a.primary->file->path);
        r.transcriptPaths.insert(r.transcriptPaths.end(), a.extraPaths.begin(), a.extraPaths.end());
        for (const ParsedFile* s : a.subagents) r.transcriptPaths.push_back(s->file->path);
        c->fresh = std::move(r);
        c->freshPass = pass;
    }

    // 7, 8. Conversations that cost anything, latest activity first.
    std::vector<Conversation*> kept;
    for (Conversation* c : present) {
        if (c->totalCost > 0) kept.push_back(c);
    }
    std::sort(kept.begin(), kept.end(), [](const Conversation* a, const Conversation* b) {
        if (a->lastActivity != b->lastActivity) return a->lastActivity > b->lastActivity;
        if (a->mtimeNs != b->mtimeNs) return a->mtimeNs > b->mtimeNs;
        return *a->rowId < *b->rowId;
    });

    // Rows of unchanged conversations move over from the last pass's list.
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
