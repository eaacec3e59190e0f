#include "zel/idvector/ZELIDVector_IndexSet.h"

#include <cstdlib>
#include <new>

namespace {

// The set of a normalized array; false when memory runs out.
bool buildIndexSet(const ZELID* ids, uint32_t count, ZELIndexSet& set) {
    try {
        for (uint32_t index = 0; index < count; ++index) set.addIndex(ids[index]);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The set is copied or moved inside, so that running out of memory while copying it answers
// null too.
template <typename Vector, typename Set>
std::shared_ptr<Vector> makeVector(Set&& set) {
    try {
        return std::make_shared<Vector>(std::forward<Set>(set));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

template <typename Vector>
std::shared_ptr<Vector> makeVectorWithIDs(ZELID* ids, uint32_t count, bool freeWhenDone) {
    ZELIndexSet set;
    const bool built = buildIndexSet(ids, count, set);
    if (freeWhenDone) std::free(ids);
    return built ? makeVector<Vector>(std::move(set)) : nullptr;
}

}  // namespace

std::shared_ptr<ZELIDVector_IndexSet> ZELIDVector_IndexSet::vector() {
    return makeVector<ZELIDVector_IndexSet>(ZELIndexSet());
}

std::shared_ptr<ZELIDVector_IndexSet> ZELIDVector_IndexSet::vectorWithCapacity(uint32_t) {
    return vector();
}

std::shared_ptr<ZELIDVector_IndexSet> ZELIDVector_IndexSet::vectorWithID(ZELID id) {
    return makeVectorWithIDs<ZELIDVector_IndexSet>(&id, 1, false);
}

std::shared_ptr<ZELIDVector_IndexSet> ZELIDVector_IndexSet::vectorWithIDs(const ZELID* ids,
                                                                          uint32_t count) {
    return makeVectorWithIDs<ZELIDVector_IndexSet>(const_cast<ZELID*>(ids), count, false);
}

std::shared_ptr<ZELIDVector_IndexSet> ZELIDVector_IndexSet::newWithIDs(ZELID* ids, uint32_t count,
                                                                       bool freeWhenDone) {
    return makeVectorWithIDs<ZELIDVector_IndexSet>(ids, count, freeWhenDone);
}

std::shared_ptr<ZELIDVector_IndexSet> ZELIDVector_IndexSet::vectorWithIndexSet(ZELIndexSet set) {
    return makeVector<ZELIDVector_IndexSet>(std::move(set));
}

std::shared_ptr<ZELIDVector> ZELIDVector_IndexSet::copy() const {
    return makeVector<ZELIDVector_IndexSet>(ids_);
}

std::shared_ptr<ZELMutableIDVector> ZELIDVector_IndexSet::mutableCopy() const {
    return makeVector<ZELMutableIDVector_IndexSet>(ids_);
}

ZELID ZELIDVector_IndexSet::smallestID() const {
    ZELID first = 0;
    ids_.firstIndex(first);
    return first;
}

ZELID ZELIDVector_IndexSet::largestID() const {
    ZELID last = 0;
    ids_.lastIndex(last);
    return last;
}

void ZELIDVector_IndexSet::enumerateIDsUsingBlock(ZELIDVisitor visitor) const {
    ids_.enumerateIndexes(visitor);
}

uint32_t ZELIDVector_IndexSet::getIDs(ZELID* buffer, uint32_t maxCount) const {
    return static_cast<uint32_t>(ids_.getIndexes(buffer, maxCount));
}

uint64_t ZELIDVector_IndexSet::byteCountInActiveRAM() const {
    // The set's storage is not counted.
    return sizeof(ZELIDVector_IndexSet);
}

// The mutable form.

std::shared_ptr<ZELMutableIDVector_IndexSet> ZELMutableIDVector_IndexSet::vector() {
    return makeVector<ZELMutableIDVector_IndexSet>(ZELIndexSet());
}

std::shared_ptr<ZELMutableIDVector_IndexSet> ZELMutableIDVector_IndexSet::vectorWithCapacity(
    uint32_t) {
    return vector();
}

std::shared_ptr<ZELMutableIDVector_IndexSet> ZELMutableIDVector_IndexSet::vectorWithID(ZELID id) {
    return makeVectorWithIDs<ZELMutableIDVector_IndexSet>(&id, 1, false);
}

std::shared_ptr<ZELMutableIDVector_IndexSet> ZELMutableIDVector_IndexSet::vectorWithIDs(
    const ZELID* ids, uint32_t count) {
    return makeVectorWithIDs<ZELMutableIDVector_IndexSet>(const_cast<ZELID*>(ids), count, false);
}

std::shared_ptr<ZELMutableIDVector_IndexSet> ZELMutableIDVector_IndexSet::newWithIDs(
    ZELID* ids, uint32_t count, bool freeWhenDone) {
    return makeVectorWithIDs<ZELMutableIDVector_IndexSet>(ids, count, freeWhenDone);
}

std::shared_ptr<ZELMutableIDVector_IndexSet> ZELMutableIDVector_IndexSet::vectorWithIndexSet(
    ZELIndexSet set) {
    return makeVector<ZELMutableIDVector_IndexSet>(std::move(set));
}

uint64_t ZELMutableIDVector_IndexSet::byteCountInActiveRAM() const {
    return sizeof(ZELMutableIDVector_IndexSet);
}

void ZELMutableIDVector_IndexSet::addIDs(const ZELID* ids, uint32_t count) {
    for (uint32_t index = 0; index < count; ++index) ids_.addIndex(ids[index]);
}

void ZELMutableIDVector_IndexSet::removeIDs(const ZELID* ids, uint32_t count) {
    for (uint32_t index = 0; index < count; ++index) ids_.removeIndex(ids[index]);
}

void ZELMutableIDVector_IndexSet::unionWithVector(const ZELIDVector& other) {
    if (&other == this) return;
    if (const auto* indexed = dynamic_cast<const ZELIDVector_IndexSet*>(&other)) {
        ids_.addIndexes(indexed->directIndexSet());
        return;
    }
    ZELIDVector_IndexSet::unionWithVector(other);
}

void ZELMutableIDVector_IndexSet::intersectWithVector(const ZELIDVector& other) {
    if (&other == this) return;
    // Walk the smaller side, looking its IDs up in the other.
    ZELIndexSet kept;
    if (other.count() < count()) {
        other.enumerateIDs([&](ZELID id, bool&) {
            if (ids_.containsIndex(id)) kept.addIndex(id);
        });
    } else {
        ids_.enumerateIndexes([&](uint32_t id, bool&) {
            if (other.containsID(id)) kept.addIndex(id);
        });
    }
    ids_ = std::move(kept);
}

void ZELMutableIDVector_IndexSet::subtractVector(const ZELIDVector& other) {
    if (&other == this) {
        ids_.removeAllIndexes();
        return;
    }
    if (const auto* indexed = dynamic_cast<const ZELIDVector_IndexSet*>(&other)) {
        ids_.removeIndexes(indexed->directIndexSet());
        return;
    }
    ZELIDVector_IndexSet::subtractVector(other);
}
