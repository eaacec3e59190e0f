#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "zel/storage/ZELSortedListKey.h"

class ZELStream;

// One sorted run of a sorted list's key IDs: at most 1999 IDs in ascending key order, in a
// growable heap block. Owned by its ZELSortedList (std::unique_ptr) and touched only under the
// list owner's lock. A slice made from a loaded sort file may be unread: it knows its count,
// its first ID and where its IDs lie in the file, and holds no block until the list reads it
// (readFromStream); every call that looks at IDs other than the first requires a read slice. The slice knows nothing of keys beyond what the loader and comparison
// handed to its searches give it, and the guide: copies of every guideStride-th key and of the
// last, made by the first guided search and dropped by every change of the IDs, so that the
// guide always holds the keys of the IDs at its positions.
class ZELSortedListSlice {
public:
    // Room for max(capacity, count) IDs, holding a copy of `sortedKeyIDs`. Null when the room
    // cannot be allocated.
    static std::unique_ptr<ZELSortedListSlice> sliceWithCapacity(uint64_t capacity,
                                                                 const ZELID* sortedKeyIDs,
                                                                 uint64_t count);
    // A slice of `count` IDs (count > 0) still in the sort file at `fileOffset`, the first of
    // them `firstKeyID`.
    static std::unique_ptr<ZELSortedListSlice> unreadSlice(uint64_t count, ZELID firstKeyID,
                                                           uint64_t fileOffset);
    ~ZELSortedListSlice();
    ZELSortedListSlice(const ZELSortedListSlice&) = delete;
    ZELSortedListSlice& operator=(const ZELSortedListSlice&) = delete;

    uint64_t count() const { return count_; }
    // Truncates to `count` IDs (the split keeps the lower half this way).
    // Requires: count <= count().
    void setCount(uint64_t count);
    uint64_t capacity() const { return capacity_; }

    bool isRead() const { return keyIDs_ != nullptr; }
    // Reads an unread slice's IDs from the sort file `stream` into a block of room for
    // max(capacity, count) IDs. False, with the slice left unread, when the block cannot be
    // had or the IDs cannot be read.
    bool readFromStream(ZELStream& stream, uint64_t capacity);
    // Requires: count() > 0.
    ZELID firstKeyID() const { return keyIDs_ ? keyIDs_[0] : firstKeyID_; }

    // Requires: index < count().
    ZELID keyIDAtIndex(uint64_t index) const { return keyIDs_[index]; }
    const ZELID* keyIDs() const { return keyIDs_; }
    // loader(ID at index, load true).
    ZELSortedListKey keyAtIndex(uint64_t index, const ZELSortedListKeyLoader& loader) const;

    // Stores `keyID` at `index`, shifting the tail up. A full slice first grows to
    // max(2000, capacity × 2) slots; when that fails nothing is inserted and the answer is false.
    // Requires: index <= count().
    bool insertKeyID(ZELID keyID, uint64_t index);
    // Requires: index < count().
    void removeKeyIDAtIndex(uint64_t index);

    // The ID block (capacity × 4 bytes) and the guide; nothing for an unread slice.
    uint64_t byteCountInActiveRAM() const;

    // Whether `key` lies before the first or after the last key of the slice; when it does,
    // `*outInsertionIndex` is 0 or count(). Loads the first key and, unless the slice holds
    // one key, the last. An empty slice is outside with index 0. Sets `*outKeyUnavailable`
    // (when given) if a key could not be loaded; the answer is then meaningless.
    bool isOutsideKey(const ZELString& key, uint64_t* outInsertionIndex,
                      const ZELSortedListKeyCompare& compare, const ZELSortedListKeyLoader& loader,
                      bool* outKeyUnavailable = nullptr) const;

    // The lower bound of `key` in the slice: the index of the equal key (with `*outKeyExists`
    // true) or the index where it would be inserted. The binary search prefers probing keys the
    // loader already holds within four positions of each midpoint, so that lookups of nearby
    // keys load nothing new. Sets `*outKeyUnavailable` (when given) if a key could not be
    // loaded; the answer is then meaningless and must not be used for a change.
    uint64_t indexForKey(const ZELString& key, bool* outKeyExists,
                         const ZELSortedListKeyCompare& compare,
                         const ZELSortedListKeyLoader& loader,
                         bool* outKeyUnavailable = nullptr) const;
    // The same answer as indexForKey, found through the guide (made first when missing), so
    // that at most log2(guideStride) keys are loaded. Without a guide (a key failed to load
    // while making it) it is indexForKey.
    uint64_t guidedIndexForKey(const ZELString& key, bool* outKeyExists,
                               const ZELSortedListKeyCompare& compare,
                               const ZELSortedListKeyLoader& loader,
                               bool* outKeyUnavailable = nullptr) const;
    // Forgets the guide (memory compaction).
    void dropGuide() const;

    // One guide key per this many IDs.
    static constexpr uint64_t guideStride = 8;

private:
    ZELSortedListSlice() = default;

    // The binary search over the IDs in [lo, hi), for a key that sorts between the keys just
    // outside that range: the key's index when present (*outKeyExists), else where it would be
    // inserted. Near each midpoint it takes the first key the loader already holds.
    uint64_t searchIDs(const ZELString& key, uint64_t lo, uint64_t hi, bool* outKeyExists,
                       const ZELSortedListKeyCompare& compare, const ZELSortedListKeyLoader& loader,
                       bool* outKeyUnavailable) const;
    // Guide key j is the key of the ID at min(j × guideStride, count − 1).
    uint64_t guidePosition(uint64_t guideIndex) const;
    bool makeGuide(const ZELSortedListKeyLoader& loader) const;

    ZELID* keyIDs_ = nullptr;  // a TarvoMemBlock block of capacity_ IDs; null while unread
    uint64_t capacity_ = 0;
    uint64_t count_ = 0;
    // Of an unread slice only: its first ID and the file offset of its IDs.
    ZELID firstKeyID_ = ZELNoID;
    uint64_t fileOffset_ = 0;
    // Empty when there is no guide. Made by searches, hence mutable.
    mutable std::vector<ZELString> guideKeys_;
};
