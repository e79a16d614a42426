#include "engine/MetadataStore.h"

#include <simdjson.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>
#include <set>

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
    MetadataFile::ReadResult file = MetadataFile::read(fileURL_);
    switch (file.status) {
        case MetadataFile::ReadStatus::Missing: break;
        case MetadataFile::ReadStatus::Unreadable: mustSetAsideFile_ = true; break;
        case MetadataFile::ReadStatus::Loaded: byId_ = std::move(file.records); break;
    }
}

MetadataStore& MetadataStore::shared() {
    static MetadataStore store(Settings::current().metadataDir);
    return store;
}

const ConversationMeta* MetadataStore::find(std::string_view id) const {
    auto it = byId_.find(id);
    if (it == byId_.end() && !isValidUtf8(id)) it = byId_.find(validUtf8(id));
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
    commit(std::move(meta), key);
}

void MetadataStore::setSubtitle(std::string_view id, std::string_view text) {
    std::string key = validUtf8(id);
    const ConversationMeta* old = find(key);
    ConversationMeta meta = old ? *old : ConversationMeta{};
    std::string note = cleaned(text);
    meta.subtitle = note.empty() ? std::nullopt : std::optional(std::move(note));
    commit(std::move(meta), key);
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
    commit(std::move(meta), key);
}

void MetadataStore::removeTag(std::string_view id, std::string_view text) {
    std::string key = validUtf8(id);
    const ConversationMeta* old = find(key);
    if (!old) return;
    ConversationMeta meta = *old;
    std::erase(meta.tags, text);
    commit(std::move(meta), key);
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

void MetadataStore::commit(ConversationMeta meta, const std::string& id) {
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

bool MetadataStore::saveNow() { return batchDepth_ > 0 || save(); }

void MetadataStore::retryUnsavedChanges() {
    if (unsaved_ && batchDepth_ == 0) save();
}

void MetadataStore::dismissSetAsideNotice() {
    if (setAsideName_.empty()) return;
    setAsideName_.clear();
    statusChanged_.notify();
}

// On failure the changes stay in memory: the next save writes them all.
bool MetadataStore::save() {
    if (fileURL_.empty()) return true;
    const std::string asideBefore = setAsideName_;
    std::string error;
    const bool ok = writeFile(error);
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
    return writer_(fileURL_, MetadataFile::encode(byId_), &error);
}

}  // namespace vorel
