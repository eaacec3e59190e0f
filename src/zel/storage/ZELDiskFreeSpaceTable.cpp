#include "zel/storage/ZELDiskFreeSpaceTable.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "zel/platform/TarvoMemBlock.h"
#include "zel/platform/ZELString.h"
#include "zel/stream/ZELFileStream.h"
#include "zel/stream/ZELMemoryMetricsGatherer.h"

namespace {

// The table file is small and read or written once per save; 1 KiB buffers suffice.
constexpr uint64_t kTableFileBufferSize = 1024;
// Entries allocated by table().
constexpr uint64_t kInitialCapacity = 32;
// The newest entries searched for the tightest fit; beyond them the first fit ends the scan.
constexpr uint64_t kBestFitScanDepth = 201;
// Free blocks added since the last compaction before a failed room check compacts.
constexpr uint64_t kCompactAfterAddedBlockCount = 1000;

}  // namespace

std::shared_ptr<ZELDiskFreeSpaceTable> ZELDiskFreeSpaceTable::table() {
    std::shared_ptr<ZELDiskFreeSpaceTable> table(new ZELDiskFreeSpaceTable());
    if (!TarvoMemBlock_Realloc(&table->blocks_, &table->blocksCapacity_, kInitialCapacity)) {
        return nullptr;
    }
    return table;
}

ZELDiskFreeSpaceTable::~ZELDiskFreeSpaceTable() {
    invalidate();
}

void ZELDiskFreeSpaceTable::invalidate() {
    std::free(blocks_);
    blocks_ = nullptr;
    blocksCapacity_ = 0;
    blocksEntryCount_ = 0;
    blocksValidCount_ = 0;
    maxFreeBlockSize_ = kUnknownSize;
    minFreeBlockSize_ = kUnknownSize;
}

bool ZELDiskFreeSpaceTable::ensureBlocksAvailable(uint64_t count) {
    if (count <= blocksCapacity_ - blocksEntryCount_) return true;
    if (blocksEntryCount_ > blocksValidCount_) {
        cullBlocksMarkedAsRemoved();
        if (count <= blocksCapacity_ - blocksEntryCount_) return true;
    }
    const uint64_t newCapacity = std::max({blocksCapacity_ + count, blocksCapacity_ * 2,
                                           blocksCapacity_ == 0 ? uint64_t{64} : uint64_t{0}});
    return TarvoMemBlock_Realloc(&blocks_, &blocksCapacity_, newCapacity);
}

// Each removed entry is overwritten by the last kept entry, walking from the end, so the array
// shrinks without moving the kept entries more than once (their order is not preserved).
void ZELDiskFreeSpaceTable::cullBlocksMarkedAsRemoved() {
    for (uint64_t i = blocksEntryCount_; i-- > 0;) {
        if (blocks_[i].flags & ZELDiskFreeSpaceTableBlockFlagRemoved) {
            blocks_[i] = blocks_[blocksEntryCount_ - 1];
            --blocksEntryCount_;
        }
    }
    blocksValidCount_ = blocksEntryCount_;
}

uint64_t ZELDiskFreeSpaceTable::freeBlocksTotalSize() const {
    uint64_t total = 0;
    visitFreeBlocks([&](const ZELDiskFreeSpaceTableBlock& block, bool&) { total += block.size; });
    return total;
}

uint32_t ZELDiskFreeSpaceTable::smallestFreeBlockSize() {
    if (blocksValidCount_ == 0) return 0;
    if (minFreeBlockSize_ != kUnknownSize) return minFreeBlockSize_;
    uint32_t smallest = kUnknownSize;
    visitFreeBlocks([&](const ZELDiskFreeSpaceTableBlock& block, bool&) {
        smallest = std::min(smallest, block.size);
    });
    minFreeBlockSize_ = smallest;
    return smallest;
}

uint32_t ZELDiskFreeSpaceTable::largestFreeBlockSize() {
    if (blocksValidCount_ == 0) return 0;
    if (maxFreeBlockSize_ != kUnknownSize) return maxFreeBlockSize_;
    uint32_t largest = 0;
    visitFreeBlocks([&](const ZELDiskFreeSpaceTableBlock& block, bool&) {
        largest = std::max(largest, block.size);
    });
    maxFreeBlockSize_ = largest;
    return largest;
}

void ZELDiskFreeSpaceTable::addAbandonedByteCount(uint64_t byteCount) {
    if (byteCount == 0) return;
    abandonedSize_ += byteCount;
    hasChanges_ = true;
}

uint64_t ZELDiskFreeSpaceTable::byteCountInActiveRAM() const {
    return sizeof(*this) + blocksCapacity_ * sizeof(ZELDiskFreeSpaceTableBlock);
}

void ZELDiskFreeSpaceTable::addFreeBlockOfSize(uint32_t size, uint64_t offset) {
    if (size < smallestTrackedSize_) {
        addAbandonedByteCount(size);
        return;
    }
    if (!ensureBlocksAvailable(1)) return;
    blocks_[blocksEntryCount_++] = ZELDiskFreeSpaceTableBlock{offset, size, 0};
    if (blocksValidCount_ == 0) {
        minFreeBlockSize_ = size;
        maxFreeBlockSize_ = size;
        isAllBlocksSameSize_ = true;
    } else {
        // An unknown maximum (kUnknownSize) stays unknown: max() keeps it.
        if (maxFreeBlockSize_ != size) isAllBlocksSameSize_ = false;
        minFreeBlockSize_ = std::min(minFreeBlockSize_, size);
        maxFreeBlockSize_ = std::max(maxFreeBlockSize_, size);
    }
    ++blocksValidCount_;
    hasChanges_ = true;
}

bool ZELDiskFreeSpaceTable::hasFreeBlockWithMinimumSize(uint32_t minimumSize) {
    if (blocksValidCount_ == 0) return false;
    if (maxFreeBlockSize_ == kUnknownSize) {
        // A peek at the first two free blocks often answers before a full recomputation.
        int peeked = 0;
        for (uint64_t i = 0; i < blocksEntryCount_ && peeked < 2; ++i) {
            if (blocks_[i].flags & ZELDiskFreeSpaceTableBlockFlagRemoved) continue;
            if (blocks_[i].size >= minimumSize) return true;
            ++peeked;
        }
    }
    if (largestFreeBlockSize() >= minimumSize) return true;
    if (blocksValidCount_ > lastCompactBlockCount_ + kCompactAfterAddedBlockCount) {
        compactFreeBlocks();
        return largestFreeBlockSize() >= minimumSize;
    }
    return false;
}

bool ZELDiskFreeSpaceTable::getFreeBlockOffset(uint64_t* outOffset, uint32_t minimumSize,
                                               bool dequeue) {
    if (!hasFreeBlockWithMinimumSize(minimumSize)) return false;
    bool found = false;
    uint64_t chosen = 0;
    bool hasBest = false;
    uint64_t best = 0;
    uint32_t bestLeftover = 0;
    for (uint64_t i = blocksEntryCount_; i-- > 0;) {
        const ZELDiskFreeSpaceTableBlock& block = blocks_[i];
        if ((block.flags & ZELDiskFreeSpaceTableBlockFlagRemoved) || block.size < minimumSize) {
            continue;
        }
        const uint32_t leftover = block.size - minimumSize;
        if (leftover == 0 || leftover >= minimumSize) {
            found = true;
            chosen = i;
            break;
        }
        if (!hasBest || leftover < bestLeftover) {
            hasBest = true;
            best = i;
            bestLeftover = leftover;
        }
        if (blocksEntryCount_ - i >= kBestFitScanDepth) break;
    }
    if (!found) {
        if (!hasBest) return false;
        chosen = best;
    }
    if (outOffset) *outOffset = blocks_[chosen].offset;
    if (dequeue) decreaseSizeOfBlockAtIndex(chosen, minimumSize);
    return true;
}

void ZELDiskFreeSpaceTable::decreaseSizeOfBlockAtIndex(uint64_t index, uint32_t byteCount) {
    ZELDiskFreeSpaceTableBlock& block = blocks_[index];
    const uint32_t remainder = block.size - byteCount;
    if (!(remainder == 0 && isAllBlocksSameSize_)) {
        if (minFreeBlockSize_ == block.size) minFreeBlockSize_ = kUnknownSize;
        if (maxFreeBlockSize_ == block.size) maxFreeBlockSize_ = kUnknownSize;
    }
    if (remainder >= smallestTrackedSize_) {
        block.offset += byteCount;
        block.size = remainder;
        isAllBlocksSameSize_ = false;
    } else {
        block.flags |= ZELDiskFreeSpaceTableBlockFlagRemoved;
        abandonedSize_ += remainder;
        --blocksValidCount_;
    }
    hasChanges_ = true;
}

void ZELDiskFreeSpaceTable::visitFreeBlocks(
    ZELFunctionRef<void(const ZELDiskFreeSpaceTableBlock& block, bool& stop)> visitor) const {
    bool stop = false;
    for (uint64_t i = 0; i < blocksEntryCount_ && !stop; ++i) {
        if (blocks_[i].flags & ZELDiskFreeSpaceTableBlockFlagRemoved) continue;
        visitor(blocks_[i], stop);
    }
}

void ZELDiskFreeSpaceTable::compactFreeBlocks() {
    cullBlocksMarkedAsRemoved();
    if (blocksEntryCount_ == 0) {
        lastCompactBlockCount_ = 0;
        return;
    }
    std::sort(blocks_, blocks_ + blocksEntryCount_,
              [](const ZELDiskFreeSpaceTableBlock& a, const ZELDiskFreeSpaceTableBlock& b) {
                  return a.offset < b.offset;
              });
    bool merged = false;
    uint64_t runFirst = 0;
    uint64_t runEnd = blocks_[0].offset + blocks_[0].size;
    for (uint64_t i = 1; i < blocksEntryCount_; ++i) {
        const uint64_t offset = blocks_[i].offset;
        const uint32_t size = blocks_[i].size;
        // A merged block must still fit the 32-bit size field; a run that would overflow it
        // starts a new block instead.
        if (offset == runEnd && uint64_t{blocks_[runFirst].size} + size <= kUnknownSize - 1) {
            blocks_[runFirst].size += size;
            decreaseSizeOfBlockAtIndex(i, size);
            runEnd += size;
            merged = true;
        } else {
            runFirst = i;
            runEnd = offset + size;
        }
    }
    lastCompactBlockCount_ = blocksValidCount_;
    if (merged) {
        minFreeBlockSize_ = kUnknownSize;
        maxFreeBlockSize_ = kUnknownSize;
        isAllBlocksSameSize_ = false;
    }
}

// Table file, little-endian, written through a stream with a 1 KiB buffer:
//   offset 0   uint32  version = 2
//   offset 4   uint64  abandoned byte count
//   offset 12  uint32  smallest free block size (0 when empty)
//   offset 16  uint32  largest free block size (0 when empty)
//   offset 20  uint32  free block count N
//   offset 24  N x 16  per block: uint64 offset, uint64 size (the 32-bit size widened)
bool ZELDiskFreeSpaceTable::readFromURL(const std::filesystem::path& url, ZELError* outError) {
    std::error_code existsError;
    if (!std::filesystem::exists(url, existsError)) return true;

    const auto stream = ZELStream::streamForReadingURL(url, kTableFileBufferSize);
    if (!stream->open()) return stream->closeAndGetError(outError);

    const uint32_t version = stream->readUInt32Little();
    const uint64_t storedAbandonedSize = stream->readUInt64Little();
    stream->readUInt32Little();  // smallest and largest sizes: rebuilt from the blocks
    stream->readUInt32Little();
    if (!stream->streamError() && version != kFileVersion) {
        stream->reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData, "free space table version number is invalid"));
    }
    if (stream->streamError()) return stream->closeAndGetError(outError);

    const uint32_t storedCount = stream->readUInt32Little();
    // A damaged count must not allocate more entries than the file can hold.
    if (!stream->streamError() && stream->checkReadableByteCount(uint64_t{storedCount} * 16)) {
        blocksEntryCount_ = 0;
        if (!ensureBlocksAvailable(storedCount)) {
            stream->reportMemoryAllocationFailed("free space table blocks");
        }
    }
    if (stream->streamError()) return stream->closeAndGetError(outError);

    blocksValidCount_ = 0;
    abandonedSize_ = storedAbandonedSize;
    isAllBlocksSameSize_ = true;
    bool droppedBlock = false;
    for (uint32_t i = 0; i < storedCount; ++i) {
        const uint64_t offset = stream->readUInt64Little();
        const uint64_t size = stream->readUInt64Little();
        if (stream->streamError()) break;
        // Sizes are 32-bit; a wider or empty one is damage and is not recorded.
        if (size == 0 || size > kUnknownSize - 1 || offset > UINT64_MAX - size) {
            droppedBlock = true;
            continue;
        }
        addFreeBlockOfSize(static_cast<uint32_t>(size), offset);
    }
    lastCompactBlockCount_ = blocksValidCount_;
    hasChanges_ = droppedBlock;
    return stream->closeAndGetError(outError);
}

bool ZELDiskFreeSpaceTable::writeToURL(const std::filesystem::path& url, ZELError* outError) {
    cullBlocksMarkedAsRemoved();
    const auto stream = ZELStream::streamForWritingURL(url, kTableFileBufferSize);
    if (!stream->open()) return stream->closeAndGetError(outError);
    stream->writeUInt32Little(kFileVersion);
    stream->writeUInt64Little(abandonedSize_);
    stream->writeUInt32Little(smallestFreeBlockSize());
    stream->writeUInt32Little(largestFreeBlockSize());
    stream->writeUInt32Little(static_cast<uint32_t>(blocksEntryCount_));
    for (uint64_t i = 0; i < blocksEntryCount_; ++i) {
        stream->writeUInt64Little(blocks_[i].offset);
        stream->writeUInt64Little(blocks_[i].size);
    }
    if (!stream->closeAndGetError(outError)) return false;
    hasChanges_ = false;
    return true;
}

std::string ZELDiskFreeSpaceTable::description() const {
    uint32_t largest = 0;
    visitFreeBlocks([&](const ZELDiskFreeSpaceTableBlock& block, bool&) {
        largest = std::max(largest, block.size);
    });
    return ZELStringWithFormat(
        "%s %lu free blocks, total free %s, largest %s, abandoned %s", descriptionHead().c_str(),
        static_cast<unsigned long>(blocksValidCount_),
        ZELMemoryMetricsGatherer::stringDescribingByteCount(freeBlocksTotalSize()).c_str(),
        ZELMemoryMetricsGatherer::stringDescribingByteCount(largest).c_str(),
        ZELMemoryMetricsGatherer::stringDescribingByteCount(abandonedSize_).c_str());
}
