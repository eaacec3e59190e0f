#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"
#include "zel/userquery/ZELUserQueryListEntry.h"

class TarvoSecureURL;
class ZELError;

// The keys of a list property list (docs/FORMATS.md, "Saved searches"). Stored; never change.
extern const char16_t* const ZELUserQueryListPlistKey_Title;     // u"title"
extern const char16_t* const ZELUserQueryListPlistKey_Entries;   // u"entries"
extern const char16_t* const ZELUserQueryListPlistKey_Sublists;  // u"sublists"

// A titled list of saved searches with sublists, kept in memory, read from a property list, or
// loaded from a folder (ZELUserQueryList_FromFolder). `changeCount` rises with every change so
// that views rebuild only when needed. A folder list reloads itself on its watcher's thread, so
// the list guards its contents with its own lock: the accessors answer copies and any thread
// may call them.
class ZELUserQueryList : public ZELObject {
public:
    using EntryList = std::vector<std::shared_ptr<ZELUserQueryListEntry>>;
    using ListList = std::vector<std::shared_ptr<ZELUserQueryList>>;

    // What a folder list loads and watches (bits). Stored by hosts; never renumber.
    enum LoadFlags : uint64_t {
        LoadFlagWatchFolder = 1,       // watch the folder and reload when it changes
        LoadFlagLoadSubfolders = 2,    // subfolders become sublists
        LoadFlagWatchSubfolders = 4,   // sublists get the flags 7 instead of 2
    };
    // changeCount never reaches this value, so a view may use it for "never built".
    static constexpr uint64_t changeCountNever = 0x7FFFFFFFFFFFFFFF;

    ZELUserQueryList() = default;
    static std::shared_ptr<ZELUserQueryList> list() { return std::make_shared<ZELUserQueryList>(); }
    // Reads the property-list form: "entries" must be an array (else null with the typed
    // look-up's error); unreadable entries and sublists are passed over.
    static std::shared_ptr<ZELUserQueryList> listWithPlistSerialization(const ZELValue& dictionary,
                                                                        ZELError* outError);
    // A ZELUserQueryList_FromFolder for the folder, loaded at once; null with the error when
    // the folder cannot be read, null without error when no location is given.
    static std::shared_ptr<ZELUserQueryList> listWithContentsOfFolder(
        std::shared_ptr<TarvoSecureURL> secureURL, uint64_t flags, ZELError* outError);

    // {"title": title or "{none}", "entries": [...], "sublists": [...]}.
    ZELValue plistSerialization() const;

    std::optional<ZELString> title() const;
    void setTitle(std::optional<ZELString> title);
    bool isSortByMostRecentlyUsed() const;
    void setIsSortByMostRecentlyUsed(bool flag);
    uint64_t changeCount() const;
    void setChangeCount(uint64_t count);
    EntryList entries() const;
    ListList sublists() const;

    // Nothing for a list in memory; a folder list loads when its folder changed.
    virtual void ensureLoaded() {}

    // changeCount + 1, wrapping to 1 before changeCountNever.
    void markDidChange();
    // Runs `mutator` on the entries under the list's lock; true from it counts a change.
    void mutateEntriesUsing(const std::function<bool(EntryList& entries)>& mutator);
    // Sorted by most recent use: an equal entry moves to the front, else the entry is
    // inserted at the front. Otherwise nothing moves. A change is counted either way.
    void addEntry(const std::shared_ptr<ZELUserQueryListEntry>& entry);
    // Removes that very entry object; counts a change only when it was there.
    void removeEntry(const std::shared_ptr<ZELUserQueryListEntry>& entry);
    // Out-of-range indexes change nothing.
    void moveEntryAtIndex(size_t from, size_t to);
    void removeAllEntries();
    // The part of the range inside the list is removed.
    void removeEntriesInRange(size_t location, size_t length);

    std::string description() const override;

protected:
    // Replaces entries and sublists at once and counts a change.
    void replaceContents(EntryList entries, ListList sublists);

    mutable std::recursive_mutex contentsLock_;

private:
    std::optional<ZELString> title_;  // the fields below are guarded by contentsLock_
    EntryList entries_;
    ListList sublists_;
    bool isSortByMostRecentlyUsed_ = false;
    uint64_t changeCount_ = 0;
};
