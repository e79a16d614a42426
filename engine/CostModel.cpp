#include "CostModel.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <thread>
#include <unordered_set>

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
};

struct CostModel::ParsedFile {
    const TranscriptFile* file = nullptr;
    const CacheEntry* entry = nullptr;
    // The parse without responses counted in a newer file of the same
    // scope, when any were dropped; otherwise the cached parse stands.
    std::optional<ParsedSession> deduplicated;

    const ParsedSession& parsed() const { return deduplicated ? *deduplicated : entry->parsed(); }
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
    : sources_(std::move(sources)), meta_(meta), clock_(clock) {
    refresh();
}

CostModel::CostModel(MetadataStore& meta, const Clock& clock)
    : CostModel({std::make_shared<ClaudeCodeSource>(), std::make_shared<CodexSource>()}, meta, clock) {}

const SessionRow* CostModel::headerRow() const {
    for (const SessionRow& r : allRows_) {
        if (r.isActive) return &r;
    }
    return nullptr;
}

std::string CostModel::menuTitleFor(double amount) {
    if (amount > 0 && amount < 0.01) return "$<0.01";
    char buf[64];
    std::snprintf(buf, sizeof buf, "$%.2f", amount);
    return buf;
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
    const TimePoint now = clock_.now();
    const DayWindow today = DayWindow::containing(now);

    // 1. List every source's files, with their times and sizes.
    std::vector<TranscriptFile> listing;
    std::vector<const CostSource*> owner;
    for (const auto& source : sources_) {
        for (TranscriptFile& f : source->transcriptURLs()) {
            listing.push_back(std::move(f));
            owner.push_back(source.get());
        }
    }

    // A pass that sees the same files, times and sizes on the same day
    // would compute the same rows: publish the last result again.
    auto sameFile = [](const TranscriptFile& a, const TranscriptFile& b) {
        return a.path == b.path && a.mtimeNs == b.mtimeNs && a.size == b.size && a.inode == b.inode;
    };
    if (haveResult_ && today.start == lastDayStart_ && listing.size() == lastListing_.size() &&
        std::equal(listing.begin(), listing.end(), lastListing_.begin(), sameFile)) {
        lastParseCount_ = 0;
        {
            MetadataStore::Batch batch(meta_);
            migrateLegacyIds(listing);
            for (const SessionRow& r : allRows_) meta_.ensureSuggestion(r.id, r.title);
        }
        changed_.notify();
        return;
    }

    // 2. Reuse the cached parse of every unchanged file; parse the others,
    // in parallel, joined before the pass goes on.
    std::vector<size_t> toParse;
    std::unordered_set<std::string> seen;
    seen.reserve(listing.size() * 2);
    for (size_t i = 0; i < listing.size(); ++i) {
        const TranscriptFile& f = listing[i];
        seen.insert(f.path);
        auto it = cache_.find(f.path);
        if (it == cache_.end() || it->second->mtimeNs != f.mtimeNs || it->second->size != f.size ||
            it->second->inode != f.inode || it->second->dayStart != today.start) {
            toParse.push_back(i);
        }
    }
    std::vector<std::shared_ptr<CacheEntry>> entries(toParse.size());
    for (size_t k = 0; k < toParse.size(); ++k) {
        auto& slot = cache_[listing[toParse[k]].path];
        if (!slot) slot = std::make_shared<CacheEntry>();
        entries[k] = slot;
    }
    parallelFor(toParse.size(), [&](size_t k) {
        const TranscriptFile& f = listing[toParse[k]];
        CacheEntry& e = *entries[k];
        auto kind = owner[toParse[k]]->isCodex() ? IncrementalTranscript::Kind::codex
                                                   : IncrementalTranscript::Kind::claude;
        if (!e.transcript) e.transcript.emplace(kind);
        e.mtimeNs = f.mtimeNs;
        e.size = f.size;
        e.inode = f.inode;
        e.dayStart = today.start;
        e.transcript->update(f.path, f.inode, f.size, today);
    });
    for (size_t k = 0; k < toParse.size(); ++k) {
        size_t i = toParse[k];
        CacheEntry& e = *entries[k];
        const CostSource& src = *owner[i];
        const std::string& path = listing[i].path;
        const ParsedSession& parsed = e.parsed();
        e.source = &src;
        e.stem = fileStem(path);
        e.transcriptId = src.transcriptId(path, parsed);
        e.rowId = src.id() + ":" + e.transcriptId;
        e.parentRowId.reset();
        if (auto parent = src.parentTranscriptId(path, parsed)) e.parentRowId = src.id() + ":" + *parent;
        e.isSubagent = src.isSubagent(path, parsed);
        e.subagentLabel = src.subagentLabel(path, parsed);
        e.dedupeScope = src.dedupeScope(e.rowId);
    }
    lastParseCount_ = static_cast<int>(toParse.size());

    // 3. Forget files that are gone.
    std::erase_if(cache_, [&](const auto& kv) { return !seen.contains(kv.first); });

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

    MetadataStore::Batch batch(meta_);
    migrateLegacyIds(listing);

    allRows_ = buildRows(listing, active, today);
    todayRows_.clear();
    for (const SessionRow& r : allRows_) {
        if (r.today > 0) todayRows_.push_back(r);
    }
    for (const SessionRow& r : allRows_) meta_.ensureSuggestion(r.id, r.title);

    grandTotal_ = 0;
    todayCost_ = 0;
    for (const SessionRow& r : allRows_) grandTotal_ += r.total;
    for (const SessionRow& r : allRows_) todayCost_ += r.today;
    menuTitle_ = menuTitleFor(todayCost_);

    lastListing_ = std::move(listing);
    lastDayStart_ = today.start;
    haveResult_ = true;
    batch.end();
    changed_.notify();
}

// Annotations kept under a file's older ids (its stem, alone or after the
// source id) move to its row id. Only files whose transcript id is not
// their stem can have had another id.
void CostModel::migrateLegacyIds(const std::vector<TranscriptFile>& listing) {
    for (const TranscriptFile& f : listing) {
        const CacheEntry& e = *cache_.at(f.path);
        if (e.transcriptId != e.stem) {
            meta_.migrateLegacyId(e.stem, e.rowId);
            meta_.migrateLegacyId(e.source->id() + ":" + e.stem, e.rowId);
        }
    }
}

std::vector<SessionRow> CostModel::buildRows(const std::vector<TranscriptFile>& listing, size_t activeIndex,
                                             const DayWindow& today) {
    // 4. Newest file first; equal times by path, the greater first.
    std::vector<ParsedFile> files;
    files.reserve(listing.size());
    for (const TranscriptFile& f : listing) files.push_back({&f, cache_.at(f.path).get(), std::nullopt});
    std::sort(files.begin(), files.end(), [](const ParsedFile& a, const ParsedFile& b) {
        if (a.file->mtimeNs != b.file->mtimeNs) return a.file->mtimeNs > b.file->mtimeNs;
        return a.file->path > b.file->path;
    });

    // 5. A response counts once per scope, in the newest file that has it.
    std::unordered_map<std::string_view, std::unordered_set<std::string_view>> counted;
    for (ParsedFile& pf : files) {
        const ParsedSession& p = pf.entry->parsed();
        auto& keys = counted[pf.entry->dedupeScope];
        bool dropped = std::any_of(p.turns.begin(), p.turns.end(),
                                   [&](const BilledTurn& t) { return keys.contains(t.key); });
        if (dropped) {
            std::vector<BilledTurn> kept;
            kept.reserve(p.turns.size());
            for (const BilledTurn& t : p.turns) {
                if (!keys.contains(t.key)) kept.push_back(t);
            }
            pf.deduplicated = p.rebuilt(std::move(kept), today);
        }
        for (const BilledTurn& t : p.turns) keys.insert(t.key);
    }

    // 6. Merge each conversation's own files, then fold in subagents.
    std::map<std::string, AggregateSession> byRow;
    std::vector<std::string> order;  // creation order, for deterministic ties
    for (const ParsedFile& pf : files) {
        if (pf.entry->isSubagent) continue;
        auto [it, created] = byRow.try_emplace(pf.entry->rowId);
        AggregateSession& a = it->second;
        if (created) {
            a.primary = &pf;
            a.parsed = totalsOf(pf.parsed());
            a.url = pf.file->path;
            a.mtimeNs = pf.file->mtimeNs;
            a.sourceId = pf.entry->source->id();
            a.sourceName = pf.entry->source->name();
            a.rowId = pf.entry->rowId;
            a.transcriptId = pf.entry->transcriptId;
            order.push_back(a.rowId);
        } else {
            absorbTotals(a.parsed, pf.parsed());
            a.mtimeNs = std::max(a.mtimeNs, pf.file->mtimeNs);
            a.extraPaths.push_back(pf.file->path);
        }
    }
    for (const ParsedFile& pf : files) {
        if (!pf.entry->isSubagent) continue;
        const std::string& parentKey = pf.entry->parentRowId ? *pf.entry->parentRowId : pf.entry->rowId;
        auto [it, created] = byRow.try_emplace(parentKey);
        AggregateSession& a = it->second;
        if (created) {
            a.parsed = totalsOf(pf.parsed());
            if (a.parsed.title.empty()) a.parsed.title = "Subagent activity";
            a.url = pf.file->path;
            a.mtimeNs = pf.file->mtimeNs;
            a.sourceId = pf.entry->source->id();
            a.sourceName = pf.entry->source->name();
            a.rowId = parentKey;
            a.transcriptId = parentKey;
            order.push_back(a.rowId);
        } else {
            absorbTotals(a.parsed, pf.parsed());
            a.mtimeNs = std::max(a.mtimeNs, pf.file->mtimeNs);
        }
        a.subagents.push_back(&pf);
    }

    // 7, 8. Conversations that cost anything, latest activity first.
    std::vector<const AggregateSession*> kept;
    for (const std::string& id : order) {
        const AggregateSession& a = byRow.at(id);
        if (a.parsed.totalCost > 0) kept.push_back(&a);
    }
    std::sort(kept.begin(), kept.end(), [](const AggregateSession* a, const AggregateSession* b) {
        if (a->parsed.lastActivity != b->parsed.lastActivity) return a->parsed.lastActivity > b->parsed.lastActivity;
        if (a->mtimeNs != b->mtimeNs) return a->mtimeNs > b->mtimeNs;
        return a->rowId < b->rowId;
    });

    // 9. One row per conversation.
    const std::string* activePath = activeIndex < listing.size() ? &listing[activeIndex].path : nullptr;
    std::vector<SessionRow> rows;
    rows.reserve(kept.size());
    for (const AggregateSession* a : kept) {
        SessionRow r;
        r.id = a->rowId;
        r.source = a->sourceName;
        r.title = a->parsed.title.empty() ? "(untitled session)" : a->parsed.title;
        r.project = a->parsed.cwd.empty() ? projectName(a->url) : lastPathComponent(a->parsed.cwd);
        r.total = a->parsed.totalCost;
        r.today = a->parsed.todayCost;
        r.startTime = a->parsed.firstActivity == kDistantFuture ? a->parsed.lastActivity : a->parsed.firstActivity;
        r.lastActivity = a->parsed.lastActivity;
        r.tokens = a->parsed.totalTokens();
        r.models = modelLines(a->parsed);

        std::vector<const ParsedFile*> subs = a->subagents;
        std::stable_sort(subs.begin(), subs.end(), [](const ParsedFile* x, const ParsedFile* y) {
            return x->file->mtimeNs > y->file->mtimeNs;
        });
        for (const ParsedFile* s : subs) {
            const ParsedSession& p = s->parsed();
            r.subagents.push_back({s->entry->rowId, s->entry->subagentLabel, p.totalCost, p.todayCost, p.lastActivity,
                                   p.totalTokens(), modelLines(p), {s->file->path}});
        }

        if (a->primary) r.transcriptPaths.push_back(a->primary->file->path);
        r.transcriptPaths.insert(r.transcriptPaths.end(), a->extraPaths.begin(), a->extraPaths.end());
        for (const ParsedFile* s : a->subagents) r.transcriptPaths.push_back(s->file->path);
        r.isActive = activePath && std::find(r.transcriptPaths.begin(), r.transcriptPaths.end(), *activePath) !=
                                       r.transcriptPaths.end();
        rows.push_back(std::move(r));
    }
    return rows;
}

}  // namespace vorel
