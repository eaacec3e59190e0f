#pragma once

#include <cstdint>
#include <memory>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELTypes.h"

// The sorted list's memory of keys it has already found: a hash table from a key's hash to its
// key ID, so that a key met again (a word repeated across items, say) is found with one key
// load and one comparison instead of a binary search that loads a key per step. Only pairs the
// list has verified go in; a miss proves nothing and sends the list to its binary search.
//
// Open addressing with linear probing over slots of (32-bit hash, key ID); ID 0 marks an empty
// slot. The table is at most 7/10 full (it doubles before passing that) and never shrinks
// except by clear(). Several IDs may share a hash; the caller tells the right one by its key.
class ZELSortedListIDCache {
public:
    ZELSortedListIDCache() = default;
    ZELSortedListIDCache(const ZELSortedListIDCache&) = delete;
    ZELSortedListIDCache& operator=(const ZELSortedListIDCache&) = delete;

    uint64_t count() const { return count_; }
    uint64_t byteCount() const { return capacity_ * sizeof(Slot); }

    // Calls `matches` for each ID stored with `hash` until one answers true; answers that ID,
    // or 0.
    ZELID findID(uint32_t hash, ZELFunctionRef<bool(ZELID keyID)> matches) const;
    // The first ID stored with `hash` (0 when none), without telling whether it is the right
    // one: a hint for prefetching.
    ZELID firstIDWithHash(uint32_t hash) const;
    // Starts bringing the slot where `hash`'s probe run begins into the processor's cache.
    void prefetch(uint32_t hash) const {
        if (count_ != 0) __builtin_prefetch(&slots_[slotIndexForHash(hash)]);
    }
    // Adds the pair unless it is present. Nothing happens when the table cannot grow.
    void addID(uint32_t hash, ZELID keyID);
    // Removes the pair, if present.
    void removeID(uint32_t hash, ZELID keyID);
    // Forgets every pair and gives the table back.
    void clear();

private:
    struct Slot {
        uint32_t hash;
        ZELID keyID;  // 0: empty
    };
    uint64_t slotIndexForHash(uint32_t hash) const { return hash & (capacity_ - 1); }
    bool grow();

    std::unique_ptr<Slot[]> slots_;
    uint64_t capacity_ = 0;  // 0 or a power of two
    uint64_t count_ = 0;
};
