#pragma once

#include "zel/idvector/ZELMutableIDVector.h"

// The array representation, the default of the family: `count` IDs in a malloc'd normalized
// array owned by the vector (null when the count is 0). ZELIDVector_CArray is immutable and
// shared rather than duplicated when copied; ZELMutableIDVector_CArray adds spare capacity
// and grows in place. See ZELIDVector for ownership and threads.
class ZELIDVector_CArray : public ZELMutableIDVector {
public:
    static std::shared_ptr<ZELIDVector_CArray> vector();
    static std::shared_ptr<ZELIDVector_CArray> vectorWithCapacity(uint32_t capacity);
    static std::shared_ptr<ZELIDVector_CArray> vectorWithID(ZELID id);
    static std::shared_ptr<ZELIDVector_CArray> vectorWithIDs(const ZELID* ids, uint32_t count);
    static std::shared_ptr<ZELIDVector_CArray> newWithIDs(ZELID* ids, uint32_t count,
                                                          bool freeWhenDone);

    // Takes over `ids` (malloc'd, normalized, `count` IDs; null or freed by the caller's
    // factory when count is 0). Use the factories; they own the failure handling.
    ZELIDVector_CArray(ZELID* ids, uint32_t count) : count_(count), ids_(ids) {}
    ~ZELIDVector_CArray() override;

    std::shared_ptr<ZELIDVector> copy() const override;
    std::shared_ptr<ZELMutableIDVector> mutableCopy() const override;
    uint32_t count() const override { return count_; }
    ZELID smallestID() const override { return count_ ? ids_[0] : 0; }
    ZELID largestID() const override { return count_ ? ids_[count_ - 1] : 0; }
    bool containsID(ZELID id) const override;
    void enumerateIDsUsingBlock(ZELIDVisitor visitor) const override;
    uint32_t getIDs(ZELID* buffer, uint32_t maxCount) const override;
    const ZELID* directIDs() const override { return ids_; }
    uint64_t byteCountInActiveRAM() const override;

    // The index-th ID. Requires: index < count().
    ZELID IDAtIndex(uint32_t index) const { return ids_[index]; }

protected:
    uint32_t count_;
    ZELID* ids_;  // malloc'd; owned
};

// The growable array representation: `capacity` slots allocated, `count` in use. Adds grow
// the allocation by one eighth (at least to 16 or 128 slots) and never shrink it; a mutable
// copy, or releaseSpareCapacity, trims the capacity to the count.
class ZELMutableIDVector_CArray final : public ZELIDVector_CArray {
public:
    static std::shared_ptr<ZELMutableIDVector_CArray> vector();
    // Reserves max(capacity, 1) slots.
    static std::shared_ptr<ZELMutableIDVector_CArray> vectorWithCapacity(uint32_t capacity);
    static std::shared_ptr<ZELMutableIDVector_CArray> vectorWithID(ZELID id);
    static std::shared_ptr<ZELMutableIDVector_CArray> vectorWithIDs(const ZELID* ids,
                                                                    uint32_t count);
    static std::shared_ptr<ZELMutableIDVector_CArray> newWithIDs(ZELID* ids, uint32_t count,
                                                                 bool freeWhenDone);

    // Takes over `ids` (malloc'd, `capacity` slots of which the first `count` hold a
    // normalized array). Use the factories.
    ZELMutableIDVector_CArray(ZELID* ids, uint32_t count, uint32_t capacity)
        : ZELIDVector_CArray(ids, count), capacity_(capacity) {}

    std::shared_ptr<ZELIDVector> copy() const override;
    bool isMutable() const override { return true; }
    uint64_t byteCountInActiveRAM() const override;
    uint64_t memoryResidentUnusedByteCount() const override;
    void addIDs(const ZELID* ids, uint32_t count) override;
    void removeIDs(const ZELID* ids, uint32_t count) override;
    void unionWithVector(const ZELIDVector& other) override;
    void intersectWithVector(const ZELIDVector& other) override;
    void subtractVector(const ZELIDVector& other) override;
    // Shrinks the allocation to the count in place (an empty vector keeps its allocation);
    // when the shrinking fails the vector stays as it was.
    void releaseSpareCapacity() override;

    uint32_t capacity() const { return capacity_; }
    // The vector's own array, for callers that fill or edit it in place (keeping it
    // normalized). Null while nothing is allocated.
    ZELID* directMutableIDs() { return ids_; }

private:
    // True when `ids` points into this vector's allocation.
    bool aliasesStorage(const ZELID* ids) const;

    uint32_t capacity_;
};
