#include "zel/storage/ZELSortedListIDCache.h"

#include <new>

namespace {

constexpr uint64_t kInitialCapacity = 256;

}  // namespace

ZELID ZELSortedListIDCache::findID(uint32_t hash, ZELFunctionRef<bool(ZELID keyID)> matches) const {
    if (count_ == 0) return ZELNoID;
    for (uint64_t index = slotIndexForHash(hash);; index = (index + 1) & (capacity_ - 1)) {
        const Slot& slot = slots_[index];
        if (slot.keyID == ZELNoID) return ZELNoID;
        if (slot.hash == hash && matches(slot.keyID)) return slot.keyID;
    }
}

ZELID ZELSortedListIDCache::firstIDWithHash(uint32_t hash) const {
    if (count_ == 0) return ZELNoID;
    for (uint64_t index = slotIndexForHash(hash);; index = (index + 1) & (capacity_ - 1)) {
        const Slot& slot = slots_[index];
        if (slot.keyID == ZELNoID || slot.hash == hash) return slot.keyID;
    }
}

void ZELSortedListIDCache::addID(uint32_t hash, ZELID keyID) {
    if (keyID == ZELNoID) return;
    if ((count_ + 1) * 10 > capacity_ * 7 && !grow()) return;
    uint64_t index = slotIndexForHash(hash);
    for (; slots_[index].keyID != ZELNoID; index = (index + 1) & (capacity_ - 1)) {
        if (slots_[index].keyID == keyID && slots_[index].hash == hash) return;
    }
    slots_[index] = Slot{hash, keyID};
    ++count_;
}

// Backward-shift deletion: the slots after the removed one move up while their home slot lies
// at or before the gap, so that every probe run stays unbroken.
void ZELSortedListIDCache::removeID(uint32_t hash, ZELID keyID) {
    if (count_ == 0) return;
    const uint64_t mask = capacity_ - 1;
    uint64_t gap = slotIndexForHash(hash);
    for (;; gap = (gap + 1) & mask) {
        if (slots_[gap].keyID == ZELNoID) return;
        if (slots_[gap].keyID == keyID && slots_[gap].hash == hash) break;
    }
    for (uint64_t next = (gap + 1) & mask; slots_[next].keyID != ZELNoID; next = (next + 1) & mask) {
        const uint64_t home = slotIndexForHash(slots_[next].hash);
        // Distance from home to `next` against distance from `gap` to `next`, both cyclic.
        if (((next - home) & mask) >= ((next - gap) & mask)) {
            slots_[gap] = slots_[next];
            gap = next;
        }
    }
    slots_[gap] = Slot{0, ZELNoID};
    --count_;
}

void ZELSortedListIDCache::clear() {
    slots_.reset();
    capacity_ = 0;
    count_ = 0;
}

bool ZELSortedListIDCache::grow() {
    const uint64_t capacity = capacity_ ? capacity_ * 2 : kInitialCapacity;
    std::unique_ptr<Slot[]> slots(new (std::nothrow) Slot[capacity]());
    if (!slots) return false;
    std::swap(slots, slots_);
    const uint64_t oldCapacity = capacity_;
    capacity_ = capacity;
    count_ = 0;
    for (uint64_t index = 0; index < oldCapacity; ++index) {
        if (slots[index].keyID != ZELNoID) addID(slots[index].hash, slots[index].keyID);
    }
    return true;
}
