#include "engine/MetadataStore.h"

#include <simdjson.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "engine/FileTimes.h"
#include "engine/FolderLock.h"
#include "engine/NameSuggester.h"
#include "engine/Settings.h"
#include "engine/TextRules.h"

namespace vorel {

namespace fs = std::filesystem;

namespace {

bool isValidUtf8(std::string_view s) { return simdjson::validate_utf8(s.data(), s.size()); }

// Everything the store holds is valid UTF-8, so the file it writes always
// decodes.
using text::validUtf8;

// The text under which texts that differ only in case (full Unicode case
// folding, so "STRASSE" matches "straße") or in the composition of accented
// letters are the same: the canonical decomposition of the case-folded
// canonical decomposition.
icu::UnicodeString caselessKey(std::string_view s) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return u.foldCase(U_FOLD_CASE_DEFAULT);
    icu::UnicodeString folded = nfd->normalize(u, status);
    folded.foldCase(U_FOLD_CASE_DEFAULT);
    icu::UnicodeString key = nfd->normalize(folded, status);
    return U_SUCCESS(status) ? key : u.foldCase(U_FOLD_CASE_DEFAULT);
}

bool hasText(const std::optional<std::string>& s) { return s && !text::isBlank(*s); }

// User input as stored: valid UTF-8, trimmed of white space and line breaks.
std::string cleaned(std::string_view s) { return std::string(text::trimmed(validUtf8(s))); }

const ConversationMeta* lookUp(const MetadataFile::Records& records, const std::string& id) {
    auto it = records.find(id);
    return it == records.end() ? nullptr : &it->second;
}

bool sameRecord(const ConversationMeta* a, const ConversationMeta* b) { return a && b ? *a == *b : a == b; }

// A field in a three-way merge: the store's value where it changed it since
// the file was last seen, else the file's.
template <typename T>
const T& pick(const T& mine, const T& base, const T& theirs) {
    return mine != base ? mine : theirs;
}

// Tags that both sides changed: the store's tags but those the file no
// longer has, then the tags the file added that the store has not (not even
// ignoring case), each in its side's order.
std::vector<std::string> mergeTags(const std::vector<std::string>& mine, const std::vector<std::string>& base,
                                   const std::vector<std::string>& theirs) {
    if (mine == base) return theirs;
    if (theirs == base) return mine;
    auto has = [](const std::vector<std::string>& tags, const std::string& tag) {
        return std::find(tags.begin(), tags.end(), tag) != tags.end();
    };
    std::vector<std::string> out;
    std::vector<icu::UnicodeString> keys;
    for (const std::string& t : mine) {
        if (has(base, t) && !has(theirs, t)) continue;
        out.push_back(t);
        keys.push_back(caselessKey(t));
    }
    for (const std::string& t : theirs) {
        if (has(base, t) || has(mine, t)) continue;
        icu::UnicodeString k = caselessKey(t);
        if (std::find(keys.begin(), keys.end(), k) != keys.end()) continue;
        keys.push_back(std::move(k));
        out.push_back(t);
    }
    return out;
}

}  // namespace

std::u16string MetadataStore::tagKey(std::string_view tag) {
    const icu::UnicodeString key = caselessKey(tag);
    return std::u16string(key.getBuffer(), static_cast<size_t>(key.length()));
}

MetadataStore::MetadataStore(const std::string& folder, Writer writer) : writer_(std::move(writer)) {
    if (folder.empty()) return;
    std::error_code ec;
    fs::create_directories(folder, ec);
    fileURL_ = (fs::path(folder) / "metadata.json").string();
    const std::int64_t seenAt = FileTimes::nowNs();
    MetadataFile::ReadResult file = MetadataFile::read(fileURL_);
    switch (file.status) {
        case MetadataFile::ReadStatus::Missing: break;
        case MetadataFile::ReadStatus::Unreadable: mustSetAsideFile_ = true; break;
        case MetadataFile::ReadStatus::Loaded: byId_ = file.records; break;
    }
    seen_ = {std::move(file.records), file.version, file.hash, seenAt};
}

MetadataStore& MetadataStore::shared() {
    static MetadataStore store(Settings::current().metadataDir);
    return store;
}

const ConversationMeta* MetadataStore::find(std::string_view id) const {
    // Every id is stored as valid UTF-8: one that is not is looked up as stored.
    auto it = isValidUtf8(id) ? byId_.find(id) : byId_.find(validUtf8(id));
    return it == byId_.end() ? nullptr : &it->second;
}

std::string MetadataStore::topic(std::string_view id, std::string_view fallbackText) const {
    if (const ConversationMeta* meta = find(id)) {
        if (hasText(meta->name)) return *meta->name;
        if (hasText(meta->suggestedName)) return *meta->suggestedName;
    }
    return NameSuggester::keywordTopic(fallbackText);
}

std::string MetadataStore::subtitle(std::string_view id, std::string_view fallbackText) const {
    const ConversationMeta* meta = find(id);
    return meta && hasText(meta->subtitle) ? *meta->subtitle : std::string(fallbackText);
}

bool MetadataStore::hasCustomSubtitle(std::string_view id) const {
    const ConversationMeta* meta = find(id);
    return meta && hasText(meta->subtitle);
}

std::vector<std::string> MetadataStore::tags(std::string_view id) const {
    const ConversationMeta* meta = find(id);
    return meta ? meta->tags : std::vector<std::string>{};
}

std::vector<std::string> MetadataStore::allTags() const {
    std::set<std::string, std::less<>> all;
    for (const auto& [id, meta] : byId_) all.insert(meta.tags.begin(), meta.tags.end());
    return {all.begin(), all.end()};
}

void MetadataStore::setName(std::string_view id, std::string_view text) {
    std::string key = validUtf8(id);
    const ConversationMeta* old = find(key);
    ConversationMeta meta = old ? *old : ConversationMeta{};
    std::string name = cleaned(text);
    meta.name = name.empty() ? std::nullopt : std::optional(std::move(name));
    commit(key, std::move(meta));
}

void MetadataStore::setSubtitle(std::string_view id, std::string_view text) {
    std::string key = validUtf8(id);
    const ConversationMeta* old = find(key);
    ConversationMeta meta = old ? *old : ConversationMeta{};
    std::string note = cleaned(text);
    meta.subtitle = note.empty() ? std::nullopt : std::optional(std::move(note));
    commit(key, std::move(meta));
}

void MetadataStore::addTag(std::string_view id, std::string_view text) {
    std::string tag = cleaned(text);
    if (tag.empty()) return;
    std::string key = validUtf8(id);
    const ConversationMeta* old = find(key);
    ConversationMeta meta = old ? *old : ConversationMeta{};
    const icu::UnicodeString tagKey = caselessKey(tag);
    for (const std::string& t : meta.tags) {
        if (caselessKey(t) == tagKey) return;
    }
    meta.tags.push_back(std::move(tag));
    commit(key, std::move(meta));
}

void MetadataStore::removeTag(std::string_view id, std::string_view text) {
    std::string key = validUtf8(id);
    const ConversationMeta* old = find(key);
    if (!old) return;
    ConversationMeta meta = *old;
    std::erase(meta.tags, text);
    commit(key, std::move(meta));
}

void MetadataStore::ensureSuggestion(std::string_view id, std::string_view text) {
    std::string key = validUtf8(id);
    const ConversationMeta* old = find(key);
    if (old && (hasText(old->name) || hasText(old->suggestedName))) return;
    ConversationMeta meta = old ? *old : ConversationMeta{};
    meta.suggestedName = validUtf8(NameSuggester::keywordTopic(text));
    byId_.insert_or_assign(std::move(key), std::move(meta));
    recordChange();
}

void MetadataStore::migrateLegacyId(std::string_view oldId, std::string_view newId) {
    std::string oldKey = validUtf8(oldId);
    std::string newKey = validUtf8(newId);
    if (oldKey == newKey) return;
    auto old = byId_.find(oldKey);
    if (old == byId_.end()) return;
    const ConversationMeta* current = find(newKey);
    ConversationMeta merged = merge(current ? *current : ConversationMeta{}, old->second);
    byId_.erase(old);
    byId_.insert_or_assign(std::move(newKey), std::move(merged));
    recordChange();
}

ConversationMeta MetadataStore::merge(const ConversationMeta& primary, const ConversationMeta& fallback) {
    ConversationMeta out;
    out.name = hasText(primary.name) ? primary.name : fallback.name;
    out.subtitle = hasText(primary.subtitle) ? primary.subtitle : fallback.subtitle;
    out.suggestedName = hasText(primary.suggestedName) ? primary.suggestedName : fallback.suggestedName;
    out.tags = primary.tags;
    std::vector<icu::UnicodeString> keys;
    for (const std::string& t : out.tags) keys.push_back(caselessKey(t));
    for (const std::string& t : fallback.tags) {
        icu::UnicodeString k = caselessKey(t);
        if (std::find(keys.begin(), keys.end(), k) != keys.end()) continue;
        keys.push_back(std::move(k));
        out.tags.push_back(t);
    }
    return out;
}

void MetadataStore::commit(const std::string& id, ConversationMeta meta) {
    if (meta.isEmpty()) {
        byId_.erase(id);
    } else {
        byId_.insert_or_assign(id, std::move(meta));
    }
    recordChange();
}

void MetadataStore::recordChange() {
    if (batchDepth_ > 0) {
        changedInBatch_ = true;
        return;
    }
    save();
    changed_.notify();
}

void MetadataStore::endBatch() {
    if (--batchDepth_ > 0 || !changedInBatch_) return;
    changedInBatch_ = false;
    save();
    changed_.notify();
}

bool MetadataStore::saveNow() {
    if (batchDepth_ > 0) return true;
    bool tookIn = false;
    const bool ok = save(&tookIn);
    if (tookIn) changed_.notify();
    return ok;
}

void MetadataStore::retryUnsavedChanges() {
    if (unsaved_) saveNow();
}

void MetadataStore::takeInExternalChanges() {
    if (fileURL_.empty() || batchDepth_ > 0) return;
    if (takeInFileChanges()) changed_.notify();
}

// True when byId_ changed.
bool MetadataStore::takeInFileChanges() {
    const std::int64_t seenAt = FileTimes::nowNs();
    const MetadataFile::Version now = MetadataFile::Version::of(fileURL_);
    // Unchanged, unless a write of the same size in the same timestamp tick
    // could hide behind the same version: then the content tells.
    if (now == seen_.version && !now.mayHideAWriteAfter(seen_.seenAtNs)) return false;
    MetadataFile::ReadResult file = MetadataFile::read(fileURL_);
    if (file.status != MetadataFile::ReadStatus::Loaded) {
        // Gone: nothing to take in, and the next save writes the store's
        // view again. Unreadable: it is set aside before the next save
        // replaces it. The records last seen stay the base of a later merge.
        mustSetAsideFile_ = file.status == MetadataFile::ReadStatus::Unreadable;
        seen_.version = file.version;
        seen_.hash = file.hash;
        seen_.seenAtNs = seenAt;
        return false;
    }
    mustSetAsideFile_ = false;
    if (file.hash == seen_.hash) {  // touched, or racily clean: the same content
        seen_.version = file.version;
        seen_.seenAtNs = seenAt;
        return false;
    }
    MetadataFile::Records merged = mergeWithFile(byId_, seen_.records, file.records);
    seen_ = {std::move(file.records), file.version, file.hash, seenAt};
    if (merged == byId_) return false;
    byId_ = std::move(merged);
    return true;
}

MetadataFile::Records MetadataStore::mergeWithFile(const MetadataFile::Records& mine,
                                                   const MetadataFile::Records& base, MetadataFile::Records theirs) {
    static const ConversationMeta none;
    auto mergeRecord = [&](const std::string& id) {
        const ConversationMeta* m = lookUp(mine, id);
        const ConversationMeta* b = lookUp(base, id);
        if (sameRecord(m, b)) return;  // not changed by the store: the file's stands
        const ConversationMeta* t = lookUp(theirs, id);
        const ConversationMeta& mr = m ? *m : none;
        const ConversationMeta& br = b ? *b : none;
        const ConversationMeta& tr = t ? *t : none;
        ConversationMeta out{pick(mr.name, br.name, tr.name), pick(mr.subtitle, br.subtitle, tr.subtitle),
                             pick(mr.suggestedName, br.suggestedName, tr.suggestedName),
                             mergeTags(mr.tags, br.tags, tr.tags)};
        // A record the store removed stays removed unless the file added to it.
        if (!m && out.isEmpty()) {
            theirs.erase(id);
        } else {
            theirs.insert_or_assign(id, std::move(out));
        }
    };
    for (const auto& entry : mine) mergeRecord(entry.first);
    for (const auto& entry : base) {
        if (!mine.contains(entry.first)) mergeRecord(entry.first);
    }
    return theirs;
}

void MetadataStore::dismissSetAsideNotice() {
    if (setAsideName_.empty()) return;
    setAsideName_.clear();
    statusChanged_.notify();
}

// Takes in what others changed in the file first (`tookInChanges`, when
// given, tells whether that changed byId_), then writes the store's view.
// On failure the changes stay in memory: the next save writes them all.
bool MetadataStore::save(bool* tookInChanges) {
    if (fileURL_.empty()) return true;
    // Another Vorel saving to the same file waits until this one has
    // written, so the file it then reads holds this one's changes, and the
    // reverse: neither replaces what the other wrote after it read.
    // The lock is let go before anyone is told.
    const std::string asideBefore = setAsideName_;
    std::string error;
    const bool ok = [&] {
        const FolderLock lock(fs::path(MetadataFile::resolvedPath(fileURL_)).parent_path().string());
        const bool tookIn = takeInFileChanges();
        if (tookInChanges) *tookInChanges = tookIn;
        return writeFile(error);
    }();
    if (ok) error.clear();
    const bool statusChanged = unsaved_ == ok || saveError_ != error || setAsideName_ != asideBefore;
    unsaved_ = !ok;
    saveError_ = std::move(error);
    if (statusChanged) statusChanged_.notify();
    return ok;
}

bool MetadataStore::writeFile(std::string& error) {
    if (mustSetAsideFile_) {
        // The file on disk could not be read: keep it under another name
        // rather than replace it with what little the store now holds.
        std::string reason;
        if (!MetadataFile::setAside(fileURL_, clock().now(), &setAsideName_, &reason)) {
            error = "the unreadable " + fs::path(fileURL_).filename().string() +
                    " could not be moved aside (" + reason + ")";
            return false;
        }
        mustSetAsideFile_ = false;
    }
    const std::string bytes = MetadataFile::encode(byId_);
    if (!writer_(fileURL_, bytes, &error)) return false;
    const std::int64_t seenAt = FileTimes::nowNs();
    seen_ = {byId_, MetadataFile::Version::of(fileURL_), MetadataFile::hashOf(bytes), seenAt};
    return true;
}

}  // namespace vorel
