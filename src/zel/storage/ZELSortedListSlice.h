#pragma once

#include <cstdint>
#include <memory>

#include "zel/storage/ZELSortedListKey.h"

// One sorted run of a sorted list's key IDs: at most 1999 IDs in ascending key order, in a
// growable heap block. Owned by its ZELSortedList (std::unique_ptr) and touched only under the
// list owner's lock. The slice knows nothing of keys beyond what the loader and comparison
// handed to its searches give it.
class ZELSortedListSlice {
public:
    // Room for max(capacity, count) IDs, holding a copy of `sortedKeyIDs`. Null when the room
    // cannot be allocated.
    static std::unique_ptr<ZELSortedListSlice> sliceWithCapacity(uint64_t capacity,
                                                                 const ZELID* sortedKeyIDs,
                                                                 uint64_t count);
    ~ZELSortedListSlice();
    ZELSortedListSlice(const ZELSortedListSlice&) = delete;
    ZELSortedListSlice& operator=(const ZELSortedListSlice&) = delete;

    uint64_t count() const { return count_; }
    // Truncates to `count` IDs (the split keeps the lower half this way).
    // Requires: count <= count().
    void setCount(uint64_t count);
    uint64_t capacity() const { return capacity_; }

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

    // The ID block: capacity × 4 bytes.
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

private:
    ZELSortedListSlice() = default;

    ZELID* keyIDs_ = nullptr;  // a TarvoMemBlock block of capacity_ IDs
    uint64_t capacity_ = 0;
    uint64_t count_ = 0;
};
