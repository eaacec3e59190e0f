#include "zel/storage/ZELSortedListSlice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "zel/platform/TarvoMemBlock.h"
#include "zel/stream/ZELDefs.h"
#include "zel/stream/ZELStream.h"

namespace {

// A full slice grows to at least this many slots, so that a slice made for a loaded chunk
// reaches its split size with one growth.
constexpr uint64_t kMinimumGrownCapacity = 2000;

// How far the inner search walks from a midpoint looking for a key already in memory:
// mid, mid - 1, mid + 1, mid - 2, mid + 2, mid - 3, mid + 3, mid - 4.
constexpr int64_t kProbeOffsets[] = {0, -1, 1, -2, 2, -3, 3, -4};

}  // namespace

std::unique_ptr<ZELSortedListSlice> ZELSortedListSlice::sliceWithCapacity(
    uint64_t capacity, const ZELID* sortedKeyIDs, uint64_t count) {
    std::unique_ptr<ZELSortedListSlice> slice(new ZELSortedListSlice());
    if (!TarvoMemBlock_Realloc(&slice->keyIDs_, &slice->capacity_, std::max(capacity, count))) {
        return nullptr;
    }
    if (count > 0) std::memcpy(slice->keyIDs_, sortedKeyIDs, count * sizeof(ZELID));
    slice->count_ = count;
    return slice;
}

std::unique_ptr<ZELSortedListSlice> ZELSortedListSlice::unreadSlice(uint64_t count,
                                                                    ZELID firstKeyID,
                                                                    uint64_t fileOffset) {
    ZELAssert(count > 0);
    std::unique_ptr<ZELSortedListSlice> slice(new ZELSortedListSlice());
    slice->count_ = count;
    slice->firstKeyID_ = firstKeyID;
    slice->fileOffset_ = fileOffset;
    return slice;
}

bool ZELSortedListSlice::readFromStream(ZELStream& stream, uint64_t capacity) {
    ZELAssert(!isRead());
    ZELID* block = nullptr;
    uint64_t blockCapacity = 0;
    if (!TarvoMemBlock_Realloc(&block, &blockCapacity, std::max(capacity, count_))) return false;
    if (!stream.setCurrentLogicalOffset(fileOffset_) || !stream.readZELIDs(block, count_)) {
        std::free(block);
        return false;
    }
    keyIDs_ = block;
    capacity_ = blockCapacity;
    return true;
}

ZELSortedListSlice::~ZELSortedListSlice() { std::free(keyIDs_); }

void ZELSortedListSlice::setCount(uint64_t count) {
    ZELAssert(count <= count_);
    count_ = std::min(count, count_);
    dropGuide();
}

ZELSortedListKey ZELSortedListSlice::keyAtIndex(uint64_t index,
                                                const ZELSortedListKeyLoader& loader) const {
    return loader(keyIDs_[index], true);
}

bool ZELSortedListSlice::insertKeyID(ZELID keyID, uint64_t index) {
    ZELAssert(index <= count_);
    if (index > count_) return false;
    if (count_ == capacity_) {
        if (!TarvoMemBlock_Realloc(&keyIDs_, &capacity_,
                                   std::max(kMinimumGrownCapacity, capacity_ * 2))) {
            return false;
        }
    }
    std::memmove(keyIDs_ + index + 1, keyIDs_ + index, (count_ - index) * sizeof(ZELID));
    keyIDs_[index] = keyID;
    ++count_;
    dropGuide();
    return true;
}

void ZELSortedListSlice::removeKeyIDAtIndex(uint64_t index) {
    ZELAssert(index < count_);
    if (index >= count_) return;
    std::memmove(keyIDs_ + index, keyIDs_ + index + 1, (count_ - index - 1) * sizeof(ZELID));
    --count_;
    dropGuide();
}

uint64_t ZELSortedListSlice::byteCountInActiveRAM() const {
    uint64_t byteCount = capacity_ * sizeof(ZELID) + guideKeys_.capacity() * sizeof(ZELString);
    for (const ZELString& key : guideKeys_) byteCount += key.capacity() * sizeof(char16_t);
    return byteCount;
}

bool ZELSortedListSlice::isOutsideKey(const ZELString& key, uint64_t* outInsertionIndex,
                                      const ZELSortedListKeyCompare& compare,
                                      const ZELSortedListKeyLoader& loader,
                                      bool* outKeyUnavailable) const {
    *outInsertionIndex = 0;
    if (count_ == 0) return true;

    const ZELSortedListKey firstKey = keyAtIndex(0, loader);
    if (!firstKey) {
        if (outKeyUnavailable) *outKeyUnavailable = true;
        return true;
    }
    if (compare(key, *firstKey) < 0) return true;
    if (count_ == 1) return false;

    const ZELSortedListKey lastKey = keyAtIndex(count_ - 1, loader);
    if (!lastKey) {
        if (outKeyUnavailable) *outKeyUnavailable = true;
        return true;
    }
    if (compare(key, *lastKey) > 0) {
        *outInsertionIndex = count_;
        return true;
    }
    return false;
}

uint64_t ZELSortedListSlice::indexForKey(const ZELString& key, bool* outKeyExists,
                                         const ZELSortedListKeyCompare& compare,
                                         const ZELSortedListKeyLoader& loader,
                                         bool* outKeyUnavailable) const {
    *outKeyExists = false;
    uint64_t insertionIndex = 0;
    if (isOutsideKey(key, &insertionIndex, compare, loader, outKeyUnavailable)) {
        return insertionIndex;
    }
    return searchIDs(key, 0, count_, outKeyExists, compare, loader, outKeyUnavailable);
}

uint64_t ZELSortedListSlice::searchIDs(const ZELString& key, uint64_t lo, uint64_t hi,
                                       bool* outKeyExists, const ZELSortedListKeyCompare& compare,
                                       const ZELSortedListKeyLoader& loader,
                                       bool* outKeyUnavailable) const {
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;

        // Take the first key near the midpoint that the loader already holds; stop walking when
        // the next position would leave [lo, hi).
        uint64_t probe = mid;
        ZELSortedListKey probeKey;
        for (const int64_t offset : kProbeOffsets) {
            if (offset < 0 && (mid < static_cast<uint64_t>(-offset) ||
                               mid - static_cast<uint64_t>(-offset) < lo)) {
                break;
            }
            if (offset > 0 && mid + static_cast<uint64_t>(offset) >= hi) break;
            const uint64_t position = mid + static_cast<uint64_t>(offset);
            probeKey = loader(keyIDs_[position], false);
            if (probeKey) {
                probe = position;
                break;
            }
        }
        if (!probeKey) {
            probe = mid;
            probeKey = loader(keyIDs_[mid], true);
            if (!probeKey) {
                if (outKeyUnavailable) *outKeyUnavailable = true;
                return lo;
            }
        }

        const int order = compare(key, *probeKey);
        if (order == 0) {
            *outKeyExists = true;
            return probe;
        }
        if (order > 0) {
            lo = probe + 1;
        } else {
            hi = probe;
        }
    }
    return lo;
}

uint64_t ZELSortedListSlice::guidePosition(uint64_t guideIndex) const {
    return std::min(guideIndex * guideStride, count_ - 1);
}

bool ZELSortedListSlice::makeGuide(const ZELSortedListKeyLoader& loader) const {
    if (!guideKeys_.empty()) return true;
    if (count_ == 0) return false;
    // Positions 0, stride, 2 × stride, ... and the last one.
    const uint64_t guideCount = (count_ - 1 + guideStride - 1) / guideStride + 1;
    std::vector<ZELString> keys;
    keys.reserve(guideCount);
    for (uint64_t guideIndex = 0; guideIndex < guideCount; ++guideIndex) {
        const ZELSortedListKey key = loader(keyIDs_[guidePosition(guideIndex)], true);
        if (!key) return false;
        keys.push_back(*key);
    }
    guideKeys_ = std::move(keys);
    return true;
}

void ZELSortedListSlice::dropGuide() const {
    guideKeys_.clear();
    guideKeys_.shrink_to_fit();
}

uint64_t ZELSortedListSlice::guidedIndexForKey(const ZELString& key, bool* outKeyExists,
                                               const ZELSortedListKeyCompare& compare,
                                               const ZELSortedListKeyLoader& loader,
                                               bool* outKeyUnavailable) const {
    if (!makeGuide(loader)) return indexForKey(key, outKeyExists, compare, loader, outKeyUnavailable);
    *outKeyExists = false;
    // The ends first: a search over the slices asks most slices only whether the key lies
    // outside them.
    const int orderToFirst = compare(key, guideKeys_.front());
    if (orderToFirst <= 0) {
        *outKeyExists = orderToFirst == 0;
        return 0;
    }
    const int orderToLast = compare(key, guideKeys_.back());
    if (orderToLast >= 0) {
        *outKeyExists = orderToLast == 0;
        return orderToLast == 0 ? count_ - 1 : count_;
    }
    // The first guide key not below `key`, between the two ends.
    uint64_t lo = 1;
    uint64_t hi = guideKeys_.size() - 1;
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        const int order = compare(key, guideKeys_[mid]);
        if (order == 0) {
            *outKeyExists = true;
            return guidePosition(mid);
        }
        if (order > 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    // Strictly between the IDs of two neighbouring guide keys: search the IDs between them.
    return searchIDs(key, guidePosition(lo - 1) + 1, guidePosition(lo), outKeyExists, compare,
                     loader, outKeyUnavailable);
}
