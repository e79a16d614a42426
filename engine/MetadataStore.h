#pragma once
// The user's names, notes and tags for conversations, and the names the
// engine suggests, kept by row id in memory and in metadata.json. Every
// change is written to the file at once, or at the end of the batch it was
// made in. A write that fails keeps the changes in memory, says why, and is
// tried again with the next change or retry. Another program (a restored
// backup, a sync tool, a second Vorel) may change the file meanwhile: the
// store takes its changes in before each save and when asked, and never
// writes over them with less.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/ChangeNotifier.h"
#include "engine/ConversationMeta.h"
#include "engine/MetadataFile.h"

namespace vorel {

class MetadataStore {
public:
    // What writes the file's bytes to a path: MetadataFile::writeAtomically,
    // or a stand-in that fails on purpose (tests).
    using Writer = std::function<bool(const std::string& path, std::string_view bytes, std::string* error)>;

    // A store whose file is `folder`/metadata.json. The folder is created
    // with its parents (should that fail, the saves fail in turn and say so)
    // and the file is read once, now. A missing file is an empty store. A
    // file that cannot be read or decoded also gives an empty store, and is
    // moved aside (see MetadataFile::setAside) before the first save replaces
    // it; while it cannot be moved, nothing is written and the saves fail. An
    // empty `folder` (no home folder) keeps the store in memory only.
    explicit MetadataStore(const std::string& folder, Writer writer = MetadataFile::writeAtomically);
    MetadataStore(const MetadataStore&) = delete;
    MetadataStore& operator=(const MetadataStore&) = delete;

    // The process's store, created on first use in the metadata folder the
    // current settings name.
    static MetadataStore& shared();

    const MetadataFile::Records& byId() const { return byId_; }
    const std::string& fileURL() const { return fileURL_; }
    // True when there is no file: what is set is lost when the process ends.
    bool isInMemoryOnly() const { return fileURL_.empty(); }

    // Notified once per change, after it is applied and saved; inside a
    // batch, once at its end when anything changed.
    ChangeNotifier& changed() { return changed_; }

    // True while the file lacks changes held in memory: the last save
    // failed, for the reason saveError() gives (the system's words).
    bool hasUnsavedChanges() const { return unsaved_; }
    const std::string& saveError() const { return saveError_; }
    // Writes the file now, whether or not anything changed (outside a
    // batch). False when it could not be written.
    bool saveNow();
    // Writes the file again when changes are waiting to be saved; what the
    // refresh timer calls, so the changes go out once the cause is gone.
    void retryUnsavedChanges();
    // Takes in what other programs changed in the file since the store last
    // read or wrote it, as every save does first: a record (a field of it)
    // the store has not changed since then is taken from the file; the
    // store's own changes, saved or waiting, win over the file's. A file
    // that is gone or cannot be read gives nothing. Notifies changed() when
    // anything the store holds changed; does nothing inside a batch. What
    // the refresh timer calls, so a restored file shows without a restart.
    void takeInExternalChanges();
    // The name (without its folder) an unreadable metadata.json was kept
    // under, from the save that moved it until dismissSetAsideNotice();
    // empty otherwise.
    const std::string& setAsideName() const { return setAsideName_; }
    void dismissSetAsideNotice();
    // Notified when hasUnsavedChanges(), saveError() or setAsideName()
    // changes.
    ChangeNotifier& statusChanged() { return statusChanged_; }

    // The title to show: the stored name, else the stored suggested name
    // (whichever first is not blank, as stored), else the suggester's topic
    // of `fallbackText`, computed now and not stored.
    std::string topic(std::string_view id, std::string_view fallbackText) const;
    // The stored note when it is not blank, else `fallbackText`.
    std::string subtitle(std::string_view id, std::string_view fallbackText) const;
    bool hasCustomSubtitle(std::string_view id) const;
    // The record's tags in stored order; empty when there is no record.
    std::vector<std::string> tags(std::string_view id) const;
    // Every tag of every record once (exact text), in ascending byte order.
    std::vector<std::string> allTags() const;

    // Stores the trimmed text as the name (note), or removes it when blank.
    // A record left with nothing is removed. Always saves.
    void setName(std::string_view id, std::string_view text);
    void setSubtitle(std::string_view id, std::string_view text);
    // Appends the trimmed tag unless it is blank or the record already has
    // it ignoring case (then nothing is saved).
    void addTag(std::string_view id, std::string_view text);
    // What "the same tag ignoring case" means here, for every screen that
    // compares tags too: two tags are the same when their keys are equal.
    // The key (UTF-16) is the text fully case-folded ("STRASSE" and
    // "straße" are the same) with accented letters decomposed.
    static std::u16string tagKey(std::string_view tag);
    // Removes every tag equal to `text` exactly (untrimmed, case-sensitive);
    // saves whenever the record exists, even when nothing matched.
    void removeTag(std::string_view id, std::string_view text);
    // Stores the suggester's topic of `text` as the suggested name, unless
    // the record has a non-blank name or suggested name.
    void ensureSuggestion(std::string_view id, std::string_view text);
    // Moves the record under `oldId` to `newId`, merged into the record
    // there: the new record's non-blank fields win, its tags come first and
    // the old tags follow unless they equal one already there ignoring case.
    void migrateLegacyId(std::string_view oldId, std::string_view newId);

    // Holds every save and notification back until the outermost batch ends,
    // then saves and notifies once if anything changed. The file's content is
    // the same as with a save per change. Batches nest.
    class Batch {
    public:
        explicit Batch(MetadataStore& store) : store_(&store) { store.beginBatch(); }
        ~Batch() { end(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

        // Ends the batch before the scope does; later calls do nothing.
        void end() {
            if (store_) std::exchange(store_, nullptr)->endBatch();
        }

    private:
        MetadataStore* store_;
    };

private:
    const ConversationMeta* find(std::string_view id) const;
    void commit(const std::string& id, ConversationMeta meta);
    void recordChange();
    bool save(bool* tookInChanges = nullptr);
    bool takeInFileChanges();
    bool writeFile(std::string& error);
    void beginBatch() { ++batchDepth_; }
    void endBatch();
    static ConversationMeta merge(const ConversationMeta& primary, const ConversationMeta& fallback);
    static MetadataFile::Records mergeWithFile(const MetadataFile::Records& mine, const MetadataFile::Records& base,
                                               MetadataFile::Records theirs);

    std::string fileURL_;
    Writer writer_;
    MetadataFile::Records byId_;
    // The file as the store last read or wrote it: the records it held, and
    // what told that version of it from others (with the wall time, in
    // nanoseconds, just before it was looked at). A file that differs from
    // it was changed by someone else; a record of byId_ that differs from
    // its record there was changed by the store since.
    struct SeenFile {
        MetadataFile::Records records;
        MetadataFile::Version version;
        std::uint64_t hash{};
        std::int64_t seenAtNs{};
    };
    SeenFile seen_;
    ChangeNotifier changed_;
    ChangeNotifier statusChanged_;
    bool mustSetAsideFile_{};
    bool unsaved_{};
    std::string saveError_;
    std::string setAsideName_;
    int batchDepth_{};
    bool changedInBatch_{};
};

}  // namespace vorel
