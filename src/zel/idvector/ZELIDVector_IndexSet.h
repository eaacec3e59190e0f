#pragma once

#include "zel/idvector/ZELIndexSet.h"
#include "zel/idvector/ZELMutableIDVector.h"

// The index-set representation: the IDs kept in a range-compressed ZELIndexSet owned by the
// vector. Nothing in the system picks it by itself; it suits long runs of consecutive IDs.
// ZELIDVector_IndexSet is immutable; ZELMutableIDVector_IndexSet changes its set in place.
class ZELIDVector_IndexSet : public ZELMutableIDVector {
public:
    static std::shared_ptr<ZELIDVector_IndexSet> vector();
    static std::shared_ptr<ZELIDVector_IndexSet> vectorWithCapacity(uint32_t capacity);
    static std::shared_ptr<ZELIDVector_IndexSet> vectorWithID(ZELID id);
    static std::shared_ptr<ZELIDVector_IndexSet> vectorWithIDs(const ZELID* ids, uint32_t count);
    static std::shared_ptr<ZELIDVector_IndexSet> newWithIDs(ZELID* ids, uint32_t count,
                                                            bool freeWhenDone);
    static std::shared_ptr<ZELIDVector_IndexSet> vectorWithIndexSet(ZELIndexSet set);

    // Use the factories.
    explicit ZELIDVector_IndexSet(ZELIndexSet set) : ids_(std::move(set)) {}

    std::shared_ptr<ZELIDVector> copy() const override;
    std::shared_ptr<ZELMutableIDVector> mutableCopy() const override;
    uint32_t count() const override { return static_cast<uint32_t>(ids_.count()); }
    ZELID smallestID() const override;
    ZELID largestID() const override;
    bool containsID(ZELID id) const override { return ids_.containsIndex(id); }
    void enumerateIDsUsingBlock(ZELIDVisitor visitor) const override;
    uint32_t getIDs(ZELID* buffer, uint32_t maxCount) const override;
    uint64_t byteCountInActiveRAM() const override;

    const ZELIndexSet& directIndexSet() const { return ids_; }

protected:
    ZELIndexSet ids_;
};

class ZELMutableIDVector_IndexSet final : public ZELIDVector_IndexSet {
public:
    static std::shared_ptr<ZELMutableIDVector_IndexSet> vector();
    static std::shared_ptr<ZELMutableIDVector_IndexSet> vectorWithCapacity(uint32_t capacity);
    static std::shared_ptr<ZELMutableIDVector_IndexSet> vectorWithID(ZELID id);
    static std::shared_ptr<ZELMutableIDVector_IndexSet> vectorWithIDs(const ZELID* ids,
                                                                      uint32_t count);
    static std::shared_ptr<ZELMutableIDVector_IndexSet> newWithIDs(ZELID* ids, uint32_t count,
                                                                   bool freeWhenDone);
    static std::shared_ptr<ZELMutableIDVector_IndexSet> vectorWithIndexSet(ZELIndexSet set);

    // Use the factories.
    explicit ZELMutableIDVector_IndexSet(ZELIndexSet set) : ZELIDVector_IndexSet(std::move(set)) {}

    bool isMutable() const override { return true; }
    uint64_t byteCountInActiveRAM() const override;
    void addIDs(const ZELID* ids, uint32_t count) override;
    void removeIDs(const ZELID* ids, uint32_t count) override;
    void unionWithVector(const ZELIDVector& other) override;
    void intersectWithVector(const ZELIDVector& other) override;
    void subtractVector(const ZELIDVector& other) override;

    ZELIndexSet& directMutableIndexSet() { return ids_; }
};
