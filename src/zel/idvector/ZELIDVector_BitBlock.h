#pragma once

#include "zel/idvector/ZELMutableIDVector.h"

// The bit-block representation, always mutable: ID x is present when bit (x & 7) of byte
// (x >> 3) is set (bit 0 the least significant); bytes at and beyond the used byte count
// read as zero. Adding an ID costs one bit set, which makes it the accumulator of many-way
// unions. Grows exactly to the byte of the largest ID added (at least 16 bytes), never
// shrinks. Belongs to one thread at a time.
class ZELIDVector_BitBlock final : public ZELMutableIDVector {
public:
    static std::shared_ptr<ZELIDVector_BitBlock> vector();
    // Sized to hold IDs up to capacity + 1.
    static std::shared_ptr<ZELIDVector_BitBlock> vectorWithCapacity(uint32_t capacity);
    static std::shared_ptr<ZELIDVector_BitBlock> vectorWithID(ZELID id);
    static std::shared_ptr<ZELIDVector_BitBlock> vectorWithIDs(const ZELID* ids, uint32_t count);
    static std::shared_ptr<ZELIDVector_BitBlock> newWithIDs(ZELID* ids, uint32_t count,
                                                            bool freeWhenDone);
    // Empty, with room for IDs up to `maximumID`.
    static std::shared_ptr<ZELIDVector_BitBlock> vectorWithMaximumID(ZELID maximumID);

    // An empty block with no storage. Use the factories.
    ZELIDVector_BitBlock() = default;
    ~ZELIDVector_BitBlock() override;

    std::shared_ptr<ZELIDVector> copy() const override;
    std::shared_ptr<ZELMutableIDVector> mutableCopy() const override;
    uint32_t count() const override { return count_; }
    ZELID smallestID() const override;
    ZELID largestID() const override;
    bool containsID(ZELID id) const override;
    void enumerateIDsUsingBlock(ZELIDVisitor visitor) const override;
    uint32_t getIDs(ZELID* buffer, uint32_t maxCount) const override;
    bool isMutable() const override { return true; }
    uint64_t byteCountInActiveRAM() const override;
    void addIDs(const ZELID* ids, uint32_t count) override;
    void removeIDs(const ZELID* ids, uint32_t count) override;
    void intersectWithVector(const ZELIDVector& other) override;

    // Bytes in use.
    uint64_t bitblockScalarCount() const { return bitblockScalarCount_; }

private:
    // Makes room for ID x: at least (x >> 3) + 1 bytes in use. False when memory runs out
    // (the block unchanged).
    bool growForID(uint64_t x);

    uint8_t* bitblock_ = nullptr;  // malloc'd; owned
    uint64_t allocatedByteCount_ = 0;
    uint64_t bitblockScalarCount_ = 0;  // bytes in use; those beyond read as zero
    uint32_t count_ = 0;
};
