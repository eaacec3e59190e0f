#include "zel/database/ZELItemExistenceMap.h"

#include <cstdlib>

#include "zel/platform/TarvoMemBlock.h"

namespace {

uint64_t hashSlot(ZELItemExistenceToken token, uint64_t bucketCount) {
    return (static_cast<uint64_t>(token.first) * static_cast<uint64_t>(token.second)) % bucketCount;
}

}  // namespace

std::unique_ptr<ZELItemExistenceMap> ZELItemExistenceMap::mapWithCapacity(uint64_t capacity) {
    return ZELItemExistenceMap_Custom::mapWithCapacity(capacity);
}

uint64_t ZELItemExistenceMap_Custom::bucketCountForCapacity(uint64_t capacity) {
    if (capacity == 0) return 1;
    if (capacity < 30) return 59;
    return 2 * (capacity & 0x7FFFFFFF) + 1;
}

std::unique_ptr<ZELItemExistenceMap_Custom> ZELItemExistenceMap_Custom::mapWithCapacity(
    uint64_t capacity) {
    std::unique_ptr<ZELItemExistenceMap_Custom> map(new ZELItemExistenceMap_Custom());
    if (!TarvoMemBlock_ReallocZeroed(&map->buckets_, &map->bucketsCapacity_,
                                     bucketCountForCapacity(capacity))) {
        return nullptr;
    }
    return map;
}

ZELItemExistenceMap_Custom::~ZELItemExistenceMap_Custom() { std::free(buckets_); }

void ZELItemExistenceMap_Custom::insertIntoBuckets(Bucket* buckets, uint64_t bucketCount,
                                                   ZELItemExistenceToken token) {
    uint64_t slot = hashSlot(token, bucketCount);
    while (buckets[slot].used) slot = (slot + 1 == bucketCount) ? 0 : slot + 1;
    buckets[slot] = Bucket{token.first, token.second, 1};
}

bool ZELItemExistenceMap_Custom::growToBucketCount(uint64_t bucketCount) {
    Bucket* grown = nullptr;
    uint64_t grownCapacity = 0;
    if (!TarvoMemBlock_ReallocZeroed(&grown, &grownCapacity, bucketCount)) return false;
    for (uint64_t i = 0; i < bucketsCapacity_; ++i) {
        if (buckets_[i].used) {
            insertIntoBuckets(grown, grownCapacity, {buckets_[i].first, buckets_[i].second});
        }
    }
    std::free(buckets_);
    buckets_ = grown;
    bucketsCapacity_ = grownCapacity;
    return true;
}

// A map sized by the host never grows while it holds no more tokens than it was made for
// (its load stays at or below one half); past three quarters it grows so that probing stays
// short and an add always finds a free bucket. When growing fails the token is still stored
// while a free bucket is left.
void ZELItemExistenceMap_Custom::addItemExistenceToken(ZELItemExistenceToken token) {
    if ((count_ + 1) * 4 > bucketsCapacity_ * 3) {
        if (!growToBucketCount(4 * (count_ + 1) + 1) && count_ >= bucketsCapacity_) return;
    }
    insertIntoBuckets(buckets_, bucketsCapacity_, token);
    ++count_;
}

bool ZELItemExistenceMap_Custom::containsItemExistenceToken(ZELItemExistenceToken token) const {
    const uint64_t start = hashSlot(token, bucketsCapacity_);
    uint64_t slot = start;
    do {
        const Bucket& bucket = buckets_[slot];
        if (!bucket.used) return false;
        if (bucket.first == token.first && bucket.second == token.second) return true;
        slot = (slot + 1 == bucketsCapacity_) ? 0 : slot + 1;
    } while (slot != start);
    return false;
}

uint64_t ZELItemExistenceMap_Custom::byteCountInActiveRAM() const {
    return sizeof(*this) + sizeof(Bucket) * bucketsCapacity_;
}
