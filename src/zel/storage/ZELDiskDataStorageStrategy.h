#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "zel/idvector/ZELFunctionRef.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"

class ZELDiskFreeSpaceTable;
class ZELFileStream;
class ZELMemoryMetricsGatherer;
class ZELStream;

// Writes or reads the object inside a block, with the stream positioned just after the block's
// length prefix. Answers the error that ended the access, or a no-error value.
using ZELDiskDataStorageBlockAccessor = ZELFunctionRef<ZELError(ZELStream& stream)>;

// One data file of a disk data storage: its header, how big a block an object of a given length
// needs, where to put it, and how to read and write it. This root kind is the one-object and
// legacy layout (a 4-byte header); subclasses share a file among many objects. Owned by the
// strategy manager (block-sharing files) or made for one access (one-object files); used under
// the database lock from one thread at a time.
//
// Data file layout (little-endian):
//   offset 0  uint32  data file version = 8
//   offset 4  uint32  fixed block size (fixed-size-block files) or 1 (batched-size-block files)
//   then the object blocks, at the offsets recorded in the slots:
//     uint32 total length L = 4 + N, the N object bytes, padding up to the block size (zero when
//     the block was appended, else whatever the reused space held)
// Header length: 4 for one-object files and the legacy exact-size file, 8 for the others.
class ZELDiskDataStorageStrategy : public ZELObject {
public:
    // The version field of every data file. Stored; never renumber.
    static constexpr uint32_t kDataFileVersion = 8;
    // The length prefix of each object block.
    static constexpr uint32_t kObjectBlockHeaderLength = 4;
    // A buffer size meaning "the default for data files", 4096 bytes.
    static constexpr uint64_t kDefaultBufferSize = UINT64_MAX;

    ZELDiskDataStorageStrategy(uint64_t fileNumber, std::string url);
    ~ZELDiskDataStorageStrategy() override;

    uint64_t fileNum() const { return fileNum_; }
    const std::string& url() const { return url_; }
    // The open stream, or null while closed.
    ZELFileStream* stream() const { return stream_.get(); }
    bool isOpen() const { return stream_ != nullptr; }
    // The ZELFileStreamFlag bits the strategy is open with; 0 while closed.
    int32_t openFlags() const { return stream_ ? openFlags_ : 0; }

    // Closes the stream (pending writes are flushed; errors are dropped).
    virtual void invalidate();

    // Diagnostics: figures that belong to the file rather than to one object, and the figures of
    // the object stored at `offset` with `serializedLength` bytes (prefix included).
    virtual void gatherNonObjectMemoryMetrics(ZELMemoryMetricsGatherer& gatherer,
                                              uint64_t batchingSize);
    virtual void gatherMemoryMetrics(ZELMemoryMetricsGatherer& gatherer, uint32_t offset,
                                     uint32_t serializedLength, uint64_t batchingSize);

    // The free space table of a block-sharing file; null for the others.
    virtual ZELDiskFreeSpaceTable* freeSpaceTable();

    // Opens the data file with ZELFileStreamFlag bits (1 read, 2 write, 3 both) and a buffer of
    // `bufferSize` bytes (kDefaultBufferSize: 4096). A missing (or empty) file opened without
    // the write flag leaves the strategy closed and succeeds; with it, the file and its folder
    // are created and the header written. An existing file has its header checked.
    virtual bool openWithStreamFlags(int32_t flags, uint64_t bufferSize, ZELError* outError);
    // Closes the stream; false with the stream's error when a pending write failed.
    virtual bool closeAndGetError(ZELError* outError);

    // Reads and checks the header (version 8, error code 1 otherwise, kept on the stream).
    virtual bool readDataFileHeaderFromStream(ZELStream& stream);
    virtual bool writeDataFileHeaderToStream(ZELStream& stream);

    // Called by the manager once a save's index is written: saves what the file keeps beside
    // its blocks (a changed free space table). Nothing for the root kind.
    virtual ZELError didEndMassWriteTransaction();

    // Where to write an object of `length` bytes (prefix included) whose current block in this
    // file, if any, is at `lastOffset` with `lastLength`: the old offset when the block still
    // fits, else a new place. 0 on failure, with the error in `outError`. The old block is never
    // given back here: the manager releases it only once the object's new place is saved.
    virtual uint32_t writeOffsetForObjectOfLength(uint32_t length, uint32_t lastOffset,
                                                  uint32_t lastLength, ZELError* outError);
    // Writes the block at `offset`: the length prefix, then whatever `writer` writes (it must
    // write exactly length - 4 bytes).
    virtual ZELError accessWriteStreamForObjectOfLength(uint32_t length, uint32_t offset,
                                                        ZELDiskDataStorageBlockAccessor writer);
    // Reads the block at `offset`: checks that its prefix equals `expectedLength` (error code 3
    // "loadable object data lengths do not match" otherwise), then lets `reader` read.
    virtual ZELError accessReadStreamForObjectAtOffset(uint32_t offset, uint32_t expectedLength,
                                                       ZELDiskDataStorageBlockAccessor reader);
    // Gives the block at `offset` back to the file's free space (nothing for one-object files).
    // Requires: no saved index names the block any more.
    virtual void discardDataForObjectAtOffset(uint32_t offset, uint32_t serializedLength);
    virtual void assertValidObjectData();

    virtual uint64_t dataFileHeaderLength() const { return 4; }
    static uint64_t objectBlockHeaderLength() { return kObjectBlockHeaderLength; }

    // The size of the data file, including writes not yet flushed.
    uint64_t currentFileLength() const;

protected:
    // Positions the open stream at `offset` for a block access; the error when that fails.
    ZELError seekForBlockAccess(uint32_t offset);
    // Closes a stream that kept an error, so that the next access starts on a fresh one.
    void dropStreamAfterError();

    std::shared_ptr<ZELFileStream> stream_;
    int32_t openFlags_ = 0;

private:
    uint64_t fileNum_;
    std::string url_;
};
