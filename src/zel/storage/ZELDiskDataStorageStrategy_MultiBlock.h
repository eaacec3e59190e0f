#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "zel/storage/ZELDiskDataStorageStrategy.h"
#include "zel/storage/ZELDiskFreeSpaceTable.h"

// A data file shared by many objects, each in its own block, with a free space table (the data
// file's path with the extension "free") that records the holes left by removed and moved
// objects. Subclasses decide the block size of an object. Owned by the strategy manager; used
// under the database lock from one thread at a time.
class ZELDiskDataStorageStrategy_MultiBlock : public ZELDiskDataStorageStrategy {
public:
    using ZELDiskDataStorageStrategy::ZELDiskDataStorageStrategy;

    // The free space table, read from its file on first use. A table file that cannot be read
    // gives an empty table and a damage note (freeSpaceTableDamage), so that the store's load
    // rebuilds it from the index; null only when memory for a table cannot be had.
    ZELDiskFreeSpaceTable* freeSpaceTable() override;
    ZELDiskFreeSpaceTable* freeSpaceTableAndGetError(ZELError* outError);
    std::filesystem::path freeSpaceTableURL() const;
    // What was wrong with the table file when it was read ("could not be read: ..."); empty
    // when it read cleanly or has been rebuilt since.
    const std::string& freeSpaceTableDamage() const { return freeSpaceTableDamage_; }

    // Opens the data file, then, when opening for writing, loads the free space table; only a
    // failure to open the data file (or to find memory for the table) fails the open.
    bool openWithStreamFlags(int32_t flags, uint64_t bufferSize, ZELError* outError) override;
    // Writes the free space table when it changed.
    ZELError didEndMassWriteTransaction() override;

    // Keeps the old block when the length is unchanged, or when the block is as large as the
    // new length needs and no larger; else takes a block from the free space table or appends
    // one at the end of the file (zero-filled up to the block size). A file that would grow past
    // 4 GiB fails with code 4.
    uint32_t writeOffsetForObjectOfLength(uint32_t length, uint32_t lastOffset, uint32_t lastLength,
                                          ZELError* outError) override;
    ZELError accessWriteStreamForObjectOfLength(uint32_t length, uint32_t offset,
                                                ZELDiskDataStorageBlockAccessor writer) override;
    void discardDataForObjectAtOffset(uint32_t offset, uint32_t serializedLength) override;

    void gatherNonObjectMemoryMetrics(ZELMemoryMetricsGatherer& gatherer,
                                      uint64_t batchingSize) override;
    void gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer, uint32_t offset,
                             uint32_t serializedLength, uint64_t batchingSize) override;

    // The block size for an object of `length` bytes (prefix included) placed now, and the size
    // of the block that holds a stored object of `length` bytes at `offset`.
    virtual uint64_t desiredBlockSizeForObjectSerializedLength(uint64_t length) const;
    virtual uint64_t actualBlockSizeForObjectAtOffset(uint32_t offset, uint64_t length) const;

    // Whether a stored block lies after the header and inside the file, so that it may be
    // rewritten in place or given back. A damaged slot fails this and its block is left alone.
    bool isUsableBlock(uint32_t offset, uint32_t length) const;

    // The free blocks of the loaded table in ascending offset order (none while no table is
    // loaded). They never overlap one another.
    std::vector<ZELDiskFreeSpaceTableBlock> sortedFreeBlocks() const;
    // Replaces the table by one holding exactly `blocks` (no abandoned bytes) and clears the
    // damage note; the table is written at the next save. False when memory for the new table
    // cannot be had: the old table is then emptied, so that no block stays on offer.
    bool replaceFreeBlocks(const std::vector<ZELDiskFreeSpaceTableBlock>& blocks);
    // Narrows the free range [start, end) to the whole blocks of this file inside it (nothing
    // for files whose block sizes vary); an empty range when none fits.
    virtual void alignFreeRange(uint64_t& start, uint64_t& end) const;

private:
    // Drops blocks that lie outside the data file or overlap another free block, noting the
    // damage: a damaged table must never hand out bytes that hold an object.
    void dropImplausibleFreeBlocks();

    std::shared_ptr<ZELDiskFreeSpaceTable> freeSpaceTable_;
    std::string freeSpaceTableDamage_;
    // The block most recently appended and the zero bytes still owed after its object.
    uint32_t appendedBlockOffset_ = 0;
    uint64_t appendedBlockPadding_ = 0;
};
