#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"
#include "zel/storage/ZELDiskDataStorageObjectInfo.h"
#include "zel/storage/ZELDiskDataStorageStrategy_MultiBlock.h"
#include "zel/stream/ZELStreamSerializable.h"

class ZELMemoryMetricsGatherer;

// Places the objects of one disk data storage in a family of data files chosen by size: small
// objects in files of equal blocks (16 to 128 bytes), medium ones in files of granule-rounded
// blocks (up to 512,000 bytes), bigger ones in one-object files. It owns the size-class table,
// picks the file for each object, moves objects between files when their size class changes,
// and runs bulk transactions with large buffers.
//
// Files of a store whose base URL is B: data file n at B/<hundreds of n>/<n>.data (B/0/7.data,
// B/100/134.data), its free space table beside it with the extension "free". File numbers:
// 0 none (or the legacy single data file); 1-18 the size classes; 100-65535 one-object files.
//
// A block that an object leaves (moved or removed) is not given back at once: the index saved
// on disk still names it until the next index write. The manager keeps such blocks as released
// and hands them to their free space tables (or deletes one-object files) only when told that an
// index no longer naming them has been saved (commitReleasedBlocksAndGetError), so that a failed
// or interrupted save can never leave a saved object's bytes reused.
//
// Every byte a save writes goes through the file streams the strategies open here (and the
// index's own stream). Owned by its ZELDiskDataStorage; used under the database lock from one
// thread at a time.
class ZELDiskDataStorageStrategyManager final : public ZELObject {
public:
    // The largest number a one-object file may have: slots keep 16 bits of it.
    static constexpr uint64_t kLargestFileNumber = 0xFFFF;
    // The first one-object file number.
    static constexpr uint64_t kFirstOneBlockFileNumber = 100;
    // The read buffer size of a transaction whose size was not set: 1 MiB.
    static constexpr uint64_t kTransactionBufferSize = 1048576;
    // The write buffer size of a save whose size was not set: 256 KiB. A save may write to
    // every size class at once, each file with its own buffer, so these add up.
    static constexpr uint64_t kTransactionWriteBufferSize = 262144;
    static constexpr size_t kNotFound = SIZE_MAX;

    // Reads one object of `objectByteCount` bytes from `stream`; answers the error that ended
    // the read, or a no-error value.
    using ObjectReader = ZELFunctionRef<ZELError(ZELStream& stream, uint64_t objectByteCount)>;

    // Keeps the URL and builds the size-class table (no file is touched). A store that resets
    // its manager when its own set-up is done passes false and gets the table then.
    explicit ZELDiskDataStorageStrategyManager(std::filesystem::path baseURL,
                                               bool buildsSizeClasses = true);
    ~ZELDiskDataStorageStrategyManager() override;

    // Rebuilds the size-class table with new strategy objects and forgets released blocks.
    void resetToEmpty();
    // Closes every shared-block strategy and drops the table.
    void invalidate();

    // Appends a shared-block strategy of type `Strategy` for the next file number, with the
    // given size bound (the block size of a fixed-size strategy).
    template <typename Strategy>
    std::shared_ptr<Strategy> addFixedStrategyWithClass(uint64_t sizeBound);

    void setDataStreamReadBufferSize(uint64_t readBufferSize, uint64_t writeBufferSize);
    uint64_t readBufferSize() const { return readBufferSize_; }
    uint64_t writeBufferSize() const { return writeBufferSize_; }

    // The stored type: objects are written and read as it, without a class name. An empty one
    // writes and reads class-tagged objects.
    const ZELStreamDeserializer& serializableObjectClass() const { return uniformObjectClass_; }
    void setSerializableObjectClass(ZELStreamDeserializer type) {
        uniformObjectClass_ = std::move(type);
    }
    // A stored hint; nothing depends on it.
    bool isDataBlockSizeGenerallyStatic() const { return isDataBlockSizeGenerallyStatic_; }
    void setIsDataBlockSizeGenerallyStatic(bool flag) { isDataBlockSizeGenerallyStatic_ = flag; }
    const std::filesystem::path& baseFileURL() const { return baseURL_; }

    // The path of data file `fileNumber`; with `createDirectories` its hundreds folder is made
    // (errors ignored).
    std::string dataFileURLForFileNumber(uint64_t fileNumber, bool createDirectories) const;
    // A one-object file number no data file uses, counting on from the highest hundreds folder;
    // numbers freed below are taken when the count reaches 65,535. 0, with error code 4, when
    // every number is in use.
    uint64_t firstUnusedOneBlockFileNumber(ZELError* outError) const;

    // Visits the shared-block strategies in file-number order with their size bounds.
    void fixedStrategiesEnumerateUsing(
        ZELFunctionRef<void(ZELDiskDataStorageStrategy_MultiBlock& strategy, uint64_t sizeBound,
                            bool& stop)>
            visitor) const;
    // The last size bound (512,000).
    uint64_t fixedStrategyMaximumBlockSize() const;
    // The first strategy whose bound - 4 holds `byteCount` object bytes; null when none does.
    ZELDiskDataStorageStrategy_MultiBlock* fixedStrategyForBlockOfSize(uint64_t byteCount) const;
    // fileNumber - 1 for a number of the size-class table, else kNotFound.
    size_t fixedStrategyIndexForFileNumber(uint64_t fileNumber) const;
    ZELDiskDataStorageStrategy_MultiBlock* fixedStrategyForFileNumber(uint64_t fileNumber) const;
    ZELDiskDataStorageStrategy_MultiBlock* fixedStrategyHoldingObjectWithInfo(
        const ZELDiskDataStorageObjectInfo& info) const;
    uint64_t fixedStrategySizeBoundForFileNumber(uint64_t fileNumber) const;
    // A new one-object strategy for data file `fileNumber`.
    std::shared_ptr<ZELDiskDataStorageStrategy> strategyForOneBlockFileNumber(
        uint64_t fileNumber, bool createDirectories) const;
    // Null for file number 0; a new one-object strategy above 99; else the shared-block one
    // (null for a number without a strategy).
    std::shared_ptr<ZELDiskDataStorageStrategy> strategyHoldingObjectWithInfo(
        const ZELDiskDataStorageObjectInfo& info) const;

    // Opens every shared-block data file for reading (header checked, free space table
    // loaded); the first failure is the result.
    bool preflightLoadAndGetError(ZELError* outError);
    // The free blocks each shared data file has when `slots` name every block in use: every
    // range after the header and inside the file that no slot's block covers, in whole blocks
    // of the file (alignFreeRange), ascending; indexed by file number - 1.
    std::vector<std::vector<ZELDiskFreeSpaceTableBlock>> freeBlocksDerivedFromObjects(
        ZELDiskDataStorageSlotWalk slots) const;
    // Whether the free blocks `tableBlocks` (ascending by offset) offer exactly the ranges of
    // `derived`: none overlaps another, and touching blocks count as one range.
    static bool freeBlocksCoverSameRanges(
        const std::vector<ZELDiskFreeSpaceTableBlock>& tableBlocks,
        const std::vector<ZELDiskFreeSpaceTableBlock>& derived);
    // A free space table is derived data: every table that was damaged when read, or that
    // disagrees with its data file and the slots `slots` (it offers bytes a slot names, or
    // misses unused space), is rebuilt from them, so that no table hands out a saved object's
    // bytes and no space is lost. The tables are written at the next save. Answers one line
    // per rebuilt table, saying which and why.
    std::vector<std::string> rebuildDisagreeingFreeSpaceTables(ZELDiskDataStorageSlotWalk slots);
    // rebuildDisagreeingFreeSpaceTables for the blocks the saved index names: those of `slots`
    // (whose placements are the saved ones) and the released blocks, which stay out of the
    // tables until their commit. Used before a store first writes, and after a failed write
    // (with the slots put back in their saved blocks: the tables then take back the blocks the
    // failed attempt took, and the space its appends left).
    std::vector<std::string> rebuildFreeSpaceTablesDisagreeingWithSavedIndex(
        ZELDiskDataStorageSlotWalk slots);

    // Runs `visitor` with 1 MiB read buffers when no read buffer size is set; the strategies
    // opened meanwhile are closed afterwards, so that the large buffers go.
    ZELError readMassTransactionVisitor(const std::function<ZELError()>& visitor);
    // Closes the shared-block strategies, runs `visitor` with 256 KiB write buffers when no write
    // buffer size is set, then closes the strategies again (flushing their writes). Answers the
    // visitor's error, else the first error of the closing. Free space tables are written by
    // commitReleasedBlocksAndGetError, once the index that matches them is saved.
    ZELError writeMassTransactionVisitor(const std::function<ZELError()>& visitor);

    // Writes the slot's object into the file of its size class (a one-object file stays the
    // object's file whatever its new size) and updates the slot's offset, length and file
    // number. On failure the slot keeps its old placement. The block the object leaves is
    // released (see above).
    bool writeDataForObjectWithInfo(ZELDiskDataStorageObjectInfo& info, ZELError* outError);
    // Reads the slot's object with `reader`: error code 10 "no file strategy for object" when
    // the slot names no data file the store has, code 3 when its length or the block's prefix
    // is wrong, the stream's error when the block lies past the end of its file.
    bool readDataForObjectWithInfo(const ZELDiskDataStorageObjectInfo& info, ZELError* outError,
                                   ObjectReader reader);
    // Releases the slot's block, drops its object, zeroes its placement and marks it dirty.
    void discardDataForObjectWithInfo(ZELDiskDataStorageObjectInfo& info);

    // Tells the manager that an index naming none of the released blocks is saved: their space
    // returns to the free space tables, every changed table is written, and released one-object
    // files are deleted. Errors are reported but lose nothing (at worst space stays unused).
    bool commitReleasedBlocksAndGetError(ZELError* outError);
    // Forgets the released blocks: the slots that named them were replaced by the saved index.
    void discardReleasedBlocks() { releasedBlocks_.clear(); }
    uint64_t releasedBlockCount() const { return releasedBlocks_.size(); }
    // Forgets the blocks released after the first `count`: their objects were put back in them.
    void keepReleasedBlocks(uint64_t count) { releasedBlocks_.resize(count); }

    // Adds the folder's size on disk, each free space table's memory, free and abandoned bytes,
    // and per slot the cached object's memory (as `objectMemory` answers), used and unused
    // block bytes.
    void gatherMemoryMetrics(
        ZELMemoryMetricsGatherer& gatherer, ZELDiskDataStorageSlotWalk slots,
        ZELFunctionRef<uint64_t(const ZELStreamSerializable& object)> objectMemory) const;

    // The size attribute of the file at `url`; 0 when it cannot be read.
    static uint64_t fileByteCountOnDisk(const std::filesystem::path& url);

private:
    struct ReleasedBlock {
        uint16_t fileNumber;
        uint32_t offset;
        uint32_t length;
    };

    bool openStrategyForWriting(ZELDiskDataStorageStrategy& strategy, ZELError* outError) const;
    void releaseBlock(const ZELDiskDataStorageObjectInfo& info);

    std::filesystem::path baseURL_;
    ZELStreamDeserializer uniformObjectClass_;
    uint64_t readBufferSize_ = 0;   // 0 = unset
    uint64_t writeBufferSize_ = 0;  // 0 = unset
    bool isDataBlockSizeGenerallyStatic_ = false;
    std::vector<std::shared_ptr<ZELDiskDataStorageStrategy_MultiBlock>> fixedStrats_;
    std::vector<uint64_t> fixedStratSizeBounds_;
    std::vector<ReleasedBlock> releasedBlocks_;
};

template <typename Strategy>
std::shared_ptr<Strategy> ZELDiskDataStorageStrategyManager::addFixedStrategyWithClass(
    uint64_t sizeBound) {
    const uint64_t fileNumber = fixedStrats_.size() + 1;
    std::shared_ptr<Strategy> strategy;
    if constexpr (std::is_constructible_v<Strategy, uint64_t, std::string, uint64_t>) {
        strategy = std::make_shared<Strategy>(
            fileNumber, dataFileURLForFileNumber(fileNumber, false), sizeBound);
    } else {
        strategy =
            std::make_shared<Strategy>(fileNumber, dataFileURLForFileNumber(fileNumber, false));
    }
    fixedStrats_.push_back(strategy);
    fixedStratSizeBounds_.push_back(sizeBound);
    return strategy;
}
