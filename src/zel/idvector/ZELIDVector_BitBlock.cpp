#include "zel/idvector/ZELIDVector_BitBlock.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "zel/idvector/ZELIDVector_CArray.h"

// The scans below read eight bytes at a time as one integer, in which byte n of the block
// holds bits 8n to 8n + 7: the block's bit order on a little-endian machine.
static_assert(std::endian::native == std::endian::little);

namespace {

inline uint64_t loadWord(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof(word));
    return word;
}

// Calls visit(id) for each set bit of the block in ascending order until visit answers false.
// Answers false when stopped.
template <typename Visit>
bool scanBits(const uint8_t* block, uint64_t byteCount, Visit&& visit) {
    const uint64_t wordCount = byteCount / 8;
    for (uint64_t wordIndex = 0; wordIndex < wordCount; ++wordIndex) {
        uint64_t word = loadWord(block + wordIndex * 8);
        while (word != 0) {
            const auto id = static_cast<ZELID>(wordIndex * 64 + std::countr_zero(word));
            if (!visit(id)) return false;
            word &= word - 1;
        }
    }
    for (uint64_t byteIndex = wordCount * 8; byteIndex < byteCount; ++byteIndex) {
        unsigned byte = block[byteIndex];
        while (byte != 0) {
            const auto id = static_cast<ZELID>(byteIndex * 8 + std::countr_zero(byte));
            if (!visit(id)) return false;
            byte &= byte - 1;
        }
    }
    return true;
}

std::shared_ptr<ZELIDVector_BitBlock> makeBlock() {
    try {
        return std::make_shared<ZELIDVector_BitBlock>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<ZELIDVector_BitBlock> ZELIDVector_BitBlock::vector() {
    return vectorWithCapacity(0);
}

std::shared_ptr<ZELIDVector_BitBlock> ZELIDVector_BitBlock::vectorWithCapacity(uint32_t capacity) {
    std::shared_ptr<ZELIDVector_BitBlock> block = makeBlock();
    if (!block || !block->growForID(uint64_t{capacity} + 1)) return nullptr;
    return block;
}

std::shared_ptr<ZELIDVector_BitBlock> ZELIDVector_BitBlock::vectorWithID(ZELID id) {
    return newWithIDs(&id, 1, false);
}

std::shared_ptr<ZELIDVector_BitBlock> ZELIDVector_BitBlock::vectorWithIDs(const ZELID* ids,
                                                                          uint32_t count) {
    return newWithIDs(const_cast<ZELID*>(ids), count, false);
}

std::shared_ptr<ZELIDVector_BitBlock> ZELIDVector_BitBlock::newWithIDs(ZELID* ids, uint32_t count,
                                                                       bool freeWhenDone) {
    std::shared_ptr<ZELIDVector_BitBlock> block = makeBlock();
    if (block && block->growForID(count != 0 ? ids[count - 1] : 1)) {
        block->addIDs(ids, count);
    } else {
        block = nullptr;
    }
    if (freeWhenDone) std::free(ids);
    return block;
}

std::shared_ptr<ZELIDVector_BitBlock> ZELIDVector_BitBlock::vectorWithMaximumID(ZELID maximumID) {
    std::shared_ptr<ZELIDVector_BitBlock> block = makeBlock();
    if (!block || !block->growForID(maximumID)) return nullptr;
    return block;
}

ZELIDVector_BitBlock::~ZELIDVector_BitBlock() {
    std::free(bitblock_);
}

bool ZELIDVector_BitBlock::growForID(uint64_t x) {
    const uint64_t need = (x >> 3) + 1;
    if (bitblockScalarCount_ >= need) return true;
    if (need > allocatedByteCount_) {
        // Exact growth: many-way unions grow once per operand at most.
        const uint64_t bytes = std::max<uint64_t>(need, 16);
        void* grown = std::realloc(bitblock_, bytes);
        if (!grown) return false;
        bitblock_ = static_cast<uint8_t*>(grown);
        allocatedByteCount_ = bytes;
    }
    std::memset(bitblock_ + bitblockScalarCount_, 0, need - bitblockScalarCount_);
    bitblockScalarCount_ = need;
    return true;
}

std::shared_ptr<ZELIDVector> ZELIDVector_BitBlock::copy() const {
    if (count_ == 0) return ZELIDVector_CArray::vector();
    auto* ids = static_cast<ZELID*>(std::malloc(size_t{count_} * sizeof(ZELID)));
    if (!ids) return nullptr;
    getIDs(ids, count_);
    return ZELIDVector_CArray::newWithIDs(ids, count_, true);
}

std::shared_ptr<ZELMutableIDVector> ZELIDVector_BitBlock::mutableCopy() const {
    std::shared_ptr<ZELIDVector_BitBlock> block = makeBlock();
    if (!block) return nullptr;
    if (bitblockScalarCount_ != 0) {
        if (!block->growForID((bitblockScalarCount_ - 1) * 8)) return nullptr;
        std::memcpy(block->bitblock_, bitblock_, bitblockScalarCount_);
    }
    block->count_ = count_;
    return block;
}

ZELID ZELIDVector_BitBlock::smallestID() const {
    ZELID first = 0;
    scanBits(bitblock_, bitblockScalarCount_, [&](ZELID id) {
        first = id;
        return false;
    });
    return first;
}

ZELID ZELIDVector_BitBlock::largestID() const {
    // Scanning down from the end finds the same ID as enumerating them all.
    for (uint64_t byteIndex = bitblockScalarCount_; byteIndex-- > 0;) {
        const unsigned byte = bitblock_[byteIndex];
        if (byte != 0)
            return static_cast<ZELID>(byteIndex * 8 + 7 -
                                      std::countl_zero(static_cast<uint8_t>(byte)));
    }
    return 0;
}

bool ZELIDVector_BitBlock::containsID(ZELID id) const {
    const uint64_t byteIndex = id >> 3;
    return byteIndex < bitblockScalarCount_ && (bitblock_[byteIndex] >> (id & 7) & 1) != 0;
}

void ZELIDVector_BitBlock::enumerateIDsUsingBlock(ZELIDVisitor visitor) const {
    bool stop = false;
    scanBits(bitblock_, bitblockScalarCount_, [&](ZELID id) {
        visitor(id, stop);
        return !stop;
    });
}

uint32_t ZELIDVector_BitBlock::getIDs(ZELID* buffer, uint32_t maxCount) const {
    uint32_t written = 0;
    if (maxCount == 0) return 0;
    scanBits(bitblock_, bitblockScalarCount_, [&](ZELID id) {
        buffer[written++] = id;
        return written < maxCount;
    });
    return written;
}

uint64_t ZELIDVector_BitBlock::byteCountInActiveRAM() const {
    return sizeof(ZELIDVector_BitBlock) + bitblockScalarCount_;
}

void ZELIDVector_BitBlock::addIDs(const ZELID* ids, uint32_t count) {
    if (count == 0) return;
    // The last ID of a normalized array is the largest: one growth covers them all.
    if (!growForID(ids[count - 1])) return;
    uint32_t added = 0;
    for (uint32_t index = 0; index < count; ++index) {
        const ZELID id = ids[index];
        // Only reached for an input that is not normalized; keeps the write in bounds.
        if ((id >> 3) >= bitblockScalarCount_ && !growForID(id)) break;
        uint8_t& byte = bitblock_[id >> 3];
        const auto mask = static_cast<uint8_t>(1u << (id & 7));
        added += (byte & mask) == 0;
        byte |= mask;
    }
    count_ += added;
}

void ZELIDVector_BitBlock::removeIDs(const ZELID* ids, uint32_t count) {
    uint32_t removed = 0;
    for (uint32_t index = 0; index < count; ++index) {
        const ZELID id = ids[index];
        // Every later ID of a normalized array lies further beyond the block.
        if ((id >> 3) >= bitblockScalarCount_) break;
        uint8_t& byte = bitblock_[id >> 3];
        const auto mask = static_cast<uint8_t>(1u << (id & 7));
        removed += (byte & mask) != 0;
        byte &= static_cast<uint8_t>(~mask);
    }
    count_ -= removed;
}

void ZELIDVector_BitBlock::intersectWithVector(const ZELIDVector& other) {
    if (&other == this) return;
    if (const auto* block = dynamic_cast<const ZELIDVector_BitBlock*>(&other)) {
        // Bytes beyond the other block read as zero.
        const uint64_t shared = std::min(bitblockScalarCount_, block->bitblockScalarCount_);
        uint32_t kept = 0;
        for (uint64_t byteIndex = 0; byteIndex < shared; ++byteIndex) {
            bitblock_[byteIndex] &= block->bitblock_[byteIndex];
            kept += static_cast<uint32_t>(std::popcount(bitblock_[byteIndex]));
        }
        if (bitblockScalarCount_ > shared) {
            std::memset(bitblock_ + shared, 0, bitblockScalarCount_ - shared);
        }
        count_ = kept;
        return;
    }
    uint32_t removed = 0;
    scanBits(bitblock_, bitblockScalarCount_, [&](ZELID id) {
        if (!other.containsID(id)) {
            bitblock_[id >> 3] &= static_cast<uint8_t>(~(1u << (id & 7)));
            ++removed;
        }
        return true;
    });
    count_ -= removed;
}
