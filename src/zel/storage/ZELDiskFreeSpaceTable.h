#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"

// One free range inside a data file. 16 bytes in memory.
struct ZELDiskFreeSpaceTableBlock {
    uint64_t offset;  // start of the free range in the data file
    uint32_t size;    // length of the free range; never 0 in a table
    uint32_t flags;   // ZELDiskFreeSpaceTableBlockFlagRemoved, or 0
};

// Set on an entry that no longer describes a free range; culled when room is needed.
inline constexpr uint32_t ZELDiskFreeSpaceTableBlockFlagRemoved = 1;

// The unused byte ranges (free blocks) inside one data file that holds many objects, so that new
// or grown objects go into holes instead of always being appended. It picks the hole for an
// allocation (a bounded best-fit search preferring recently freed blocks), splits holes, forgets
// slivers below the tracking size (abandoned bytes) and now and then merges touching holes.
// Owned by the block-sharing strategy of its data file, which loads it from the table file next
// to the data file and saves it after a save pass. Not thread-safe: used under the database lock.
class ZELDiskFreeSpaceTable final : public ZELObject {
public:
    // The version field of the table file. Stored; never renumber.
    static constexpr uint32_t kFileVersion = 2;

    // An empty table with tracking size 64 and room for 32 entries; null when that room cannot
    // be had.
    static std::shared_ptr<ZELDiskFreeSpaceTable> table();

    ZELDiskFreeSpaceTable(const ZELDiskFreeSpaceTable&) = delete;
    ZELDiskFreeSpaceTable& operator=(const ZELDiskFreeSpaceTable&) = delete;
    ~ZELDiskFreeSpaceTable() override;

    // Frees the entry array; the table is empty afterwards.
    void invalidate();

    // Free ranges smaller than this are not recorded but counted as abandoned. Setting 0 stores 1.
    uint64_t smallestTrackedBlockSize() const { return smallestTrackedSize_; }
    void setSmallestTrackedBlockSize(uint64_t size) { smallestTrackedSize_ = size == 0 ? 1 : size; }

    // Makes room for `count` more entries, culling removed entries before growing. False when the
    // room cannot be had.
    bool ensureBlocksAvailable(uint64_t count);

    // Raw access: entries in use (removed ones included), entries allocated, entry `index`
    // (below blocksEntryCount), entries flagged removed.
    uint64_t blocksEntryCount() const { return blocksEntryCount_; }
    uint64_t blocksCapacity() const { return blocksCapacity_; }
    ZELDiskFreeSpaceTableBlock& blockAtIndex(uint64_t index) { return blocks_[index]; }
    const ZELDiskFreeSpaceTableBlock& blockAtIndex(uint64_t index) const { return blocks_[index]; }
    uint64_t blockCountPendingRemoval() const { return blocksEntryCount_ - blocksValidCount_; }

    uint64_t freeBlockCount() const { return blocksValidCount_; }
    uint64_t freeBlocksTotalSize() const;
    // 0 when there is no free block; recomputed and cached when unknown.
    uint32_t smallestFreeBlockSize();
    uint32_t largestFreeBlockSize();

    uint64_t byteCountAbandonedOnDisk() const { return abandonedSize_; }
    // Adding 0 does nothing; anything more marks the table changed.
    void addAbandonedByteCount(uint64_t byteCount);
    uint64_t byteCountInActiveRAM() const;

    // True when the table differs from its table file.
    bool hasChanges() const { return hasChanges_; }
    void markChanged() { hasChanges_ = true; }

    // Records the free range [offset, offset + size). A range below the tracking size is added to
    // the abandoned bytes instead; a range that finds no room in the entry array is dropped.
    // Touching ranges are not merged here (compactFreeBlocks does that).
    void addFreeBlockOfSize(uint32_t size, uint64_t offset);

    // Whether some free block holds at least `minimumSize` bytes; may compact when many blocks
    // were added since the last compaction.
    bool hasFreeBlockWithMinimumSize(uint32_t minimumSize);

    // Finds a free block of at least `minimumSize` bytes and writes its offset to `outOffset`;
    // with `dequeue` the first `minimumSize` bytes of it are taken. The newest 200 entries are
    // searched for the tightest fit, older ones only up to the next fitting one; an exact fit or
    // a block that could hold the request twice is taken at once.
    bool getFreeBlockOffset(uint64_t* outOffset, uint32_t minimumSize, bool dequeue);

    // Takes `byteCount` bytes off the front of entry `index`. Requires: byteCount <= its size.
    void decreaseSizeOfBlockAtIndex(uint64_t index, uint32_t byteCount);

    // Visits the free blocks in array order; setting `stop` ends the visit.
    void visitFreeBlocks(
        ZELFunctionRef<void(const ZELDiskFreeSpaceTableBlock& block, bool& stop)> visitor) const;

    // Merges touching free blocks (sorting the entries by offset).
    void compactFreeBlocks();

    // Loads the table file at `url` into this empty table. A missing file leaves the table empty
    // and succeeds.
    bool readFromURL(const std::filesystem::path& url, ZELError* outError);
    // Writes the table file at `url` (culling removed entries first).
    bool writeToURL(const std::filesystem::path& url, ZELError* outError);

    // "ZELDiskFreeSpaceTable<0x...> <n> free blocks, total free <t>, largest <l>, abandoned <a>".
    std::string description() const override;

private:
    ZELDiskFreeSpaceTable() = default;

    void cullBlocksMarkedAsRemoved();

    static constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

    uint64_t blocksEntryCount_ = 0;
    ZELDiskFreeSpaceTableBlock* blocks_ = nullptr;  // malloc'd, grown by TarvoMemBlock_Realloc
    uint64_t blocksCapacity_ = 0;
    uint64_t smallestTrackedSize_ = 64;
    uint64_t blocksValidCount_ = 0;
    uint32_t maxFreeBlockSize_ = kUnknownSize;  // cached; kUnknownSize = recompute on demand
    uint32_t minFreeBlockSize_ = kUnknownSize;
    uint64_t lastCompactBlockCount_ = 0;
    bool isAllBlocksSameSize_ = true;
    bool hasChanges_ = false;
    uint64_t abandonedSize_ = 0;
};
