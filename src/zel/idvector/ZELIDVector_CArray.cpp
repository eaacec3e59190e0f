#include "zel/idvector/ZELIDVector_CArray.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "zel/idvector/ZELIDArray.h"

std::shared_ptr<ZELIDVector_CArray> ZELIDVector_CArray::vector() {
    return newWithIDs(nullptr, 0, false);
}

std::shared_ptr<ZELIDVector_CArray> ZELIDVector_CArray::vectorWithCapacity(uint32_t) {
    // An immutable vector never grows: nothing to reserve.
    return vector();
}

std::shared_ptr<ZELIDVector_CArray> ZELIDVector_CArray::vectorWithID(ZELID id) {
    return newWithIDs(&id, 1, false);
}

std::shared_ptr<ZELIDVector_CArray> ZELIDVector_CArray::vectorWithIDs(const ZELID* ids,
                                                                      uint32_t count) {
    return newWithIDs(const_cast<ZELID*>(ids), count, false);
}

std::shared_ptr<ZELIDVector_CArray> ZELIDVector_CArray::newWithIDs(ZELID* ids, uint32_t count,
                                                                   bool freeWhenDone) {
    ZELID* owned = nullptr;
    if (count == 0) {
        if (freeWhenDone) std::free(ids);
    } else if (freeWhenDone) {
        owned = ids;
    } else {
        owned = static_cast<ZELID*>(std::malloc(size_t{count} * sizeof(ZELID)));
        if (!owned) return nullptr;
        std::memcpy(owned, ids, size_t{count} * sizeof(ZELID));
    }
    try {
        return std::make_shared<ZELIDVector_CArray>(owned, count);
    } catch (const std::bad_alloc&) {
        std::free(owned);
        return nullptr;
    }
}

ZELIDVector_CArray::~ZELIDVector_CArray() {
    std::free(ids_);
}

std::shared_ptr<ZELIDVector> ZELIDVector_CArray::copy() const {
    return sharedVector();
}

std::shared_ptr<ZELMutableIDVector> ZELIDVector_CArray::mutableCopy() const {
    return ZELMutableIDVector_CArray::vectorWithIDs(ids_, count_);
}

bool ZELIDVector_CArray::containsID(ZELID id) const {
    bool found = false;
    ZELIDArray_BinarySearch(ids_, count_, id, &found);
    return found;
}

void ZELIDVector_CArray::enumerateIDsUsingBlock(ZELIDVisitor visitor) const {
    bool stop = false;
    for (uint32_t index = 0; index < count_ && !stop; ++index) visitor(ids_[index], stop);
}

uint32_t ZELIDVector_CArray::getIDs(ZELID* buffer, uint32_t maxCount) const {
    const uint32_t copied = std::min(count_, maxCount);
    if (copied != 0) std::memcpy(buffer, ids_, size_t{copied} * sizeof(ZELID));
    return copied;
}

uint64_t ZELIDVector_CArray::byteCountInActiveRAM() const {
    return sizeof(ZELIDVector_CArray) + uint64_t{count_} * sizeof(ZELID);
}
