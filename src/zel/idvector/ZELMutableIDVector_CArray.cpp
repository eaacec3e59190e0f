#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "zel/idvector/ZELIDArray.h"
#include "zel/idvector/ZELIDVector_CArray.h"

namespace {

struct FreeDeleter {
    void operator()(ZELID* ids) const { std::free(ids); }
};

std::shared_ptr<ZELMutableIDVector_CArray> makeVector(ZELID* ids, uint32_t count,
                                                      uint32_t capacity) {
    try {
        return std::make_shared<ZELMutableIDVector_CArray>(ids, count, capacity);
    } catch (const std::bad_alloc&) {
        std::free(ids);
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<ZELMutableIDVector_CArray> ZELMutableIDVector_CArray::vector() {
    return makeVector(nullptr, 0, 0);
}

std::shared_ptr<ZELMutableIDVector_CArray> ZELMutableIDVector_CArray::vectorWithCapacity(
    uint32_t capacity) {
    const uint32_t slots = std::max<uint32_t>(capacity, 1);
    auto* ids = static_cast<ZELID*>(std::malloc(size_t{slots} * sizeof(ZELID)));
    if (!ids) return nullptr;
    return makeVector(ids, 0, slots);
}

std::shared_ptr<ZELMutableIDVector_CArray> ZELMutableIDVector_CArray::vectorWithID(ZELID id) {
    return newWithIDs(&id, 1, false);
}

std::shared_ptr<ZELMutableIDVector_CArray> ZELMutableIDVector_CArray::vectorWithIDs(
    const ZELID* ids, uint32_t count) {
    return newWithIDs(const_cast<ZELID*>(ids), count, false);
}

std::shared_ptr<ZELMutableIDVector_CArray> ZELMutableIDVector_CArray::newWithIDs(
    ZELID* ids, uint32_t count, bool freeWhenDone) {
    if (count == 0) {
        if (freeWhenDone) std::free(ids);
        return makeVector(nullptr, 0, 0);
    }
    if (freeWhenDone) return makeVector(ids, count, count);
    auto* copied = static_cast<ZELID*>(std::malloc(size_t{count} * sizeof(ZELID)));
    if (!copied) return nullptr;
    std::memcpy(copied, ids, size_t{count} * sizeof(ZELID));
    return makeVector(copied, count, count);
}

std::shared_ptr<ZELIDVector> ZELMutableIDVector_CArray::copy() const {
    return ZELIDVector_CArray::vectorWithIDs(ids_, count_);
}

uint64_t ZELMutableIDVector_CArray::byteCountInActiveRAM() const {
    return sizeof(ZELMutableIDVector_CArray) + uint64_t{capacity_} * sizeof(ZELID);
}

uint64_t ZELMutableIDVector_CArray::memoryResidentUnusedByteCount() const {
    return uint64_t{capacity_ - count_} * sizeof(ZELID);
}

void ZELMutableIDVector_CArray::releaseSpareCapacity() {
    if (count_ == 0 || capacity_ == count_) return;
    void* shrunk = std::realloc(ids_, size_t{count_} * sizeof(ZELID));
    if (!shrunk) return;
    ids_ = static_cast<ZELID*>(shrunk);
    capacity_ = count_;
}

bool ZELMutableIDVector_CArray::aliasesStorage(const ZELID* ids) const {
    const std::less<const ZELID*> before;
    return ids_ && !before(ids, ids_) && before(ids, ids_ + capacity_);
}

void ZELMutableIDVector_CArray::addIDs(const ZELID* ids, uint32_t count) {
    if (count == 0) return;
    if (aliasesStorage(ids)) {
        // Growing may move the storage the IDs are read from: add from a copy.
        std::unique_ptr<ZELID, FreeDeleter> copied(
            static_cast<ZELID*>(std::malloc(size_t{count} * sizeof(ZELID))));
        if (!copied) return;
        std::memcpy(copied.get(), ids, size_t{count} * sizeof(ZELID));
        addIDs(copied.get(), count);
        return;
    }
    if (count_ == 0 && capacity_ > count) {
        std::memcpy(ids_, ids, size_t{count} * sizeof(ZELID));
        count_ = count;
        return;
    }
    ZELIDArray_UnionInPlace(&ids_, &count_, &capacity_, ids, count);
}

void ZELMutableIDVector_CArray::removeIDs(const ZELID* ids, uint32_t count) {
    if (count == 0 || count_ == 0) return;
    if (aliasesStorage(ids)) {
        std::unique_ptr<ZELID, FreeDeleter> copied(
            static_cast<ZELID*>(std::malloc(size_t{count} * sizeof(ZELID))));
        if (!copied) return;
        std::memcpy(copied.get(), ids, size_t{count} * sizeof(ZELID));
        removeIDs(copied.get(), count);
        return;
    }
    count_ = ZELIDArray_DifferenceInPlace(ids_, count_, ids, count);
}

void ZELMutableIDVector_CArray::unionWithVector(const ZELIDVector& other) {
    if (&other == this) return;
    ZELIDVector_CArray::unionWithVector(other);
}

void ZELMutableIDVector_CArray::intersectWithVector(const ZELIDVector& other) {
    if (&other == this || count_ == 0) return;
    if (const ZELID* theirs = other.directIDs()) {
        count_ = ZELIDArray_IntersectionInPlace(ids_, count_, theirs, other.count());
        return;
    }
    // No array on the other side: look each ID up there, which needs no temporary copy.
    uint32_t kept = 0;
    for (uint32_t index = 0; index < count_; ++index) {
        if (other.containsID(ids_[index])) ids_[kept++] = ids_[index];
    }
    count_ = kept;
}

void ZELMutableIDVector_CArray::subtractVector(const ZELIDVector& other) {
    if (&other == this) {
        count_ = 0;
        return;
    }
    ZELIDVector_CArray::subtractVector(other);
}
