#pragma once

#include <memory>

#include "zel/stream/ZELStream.h"

// A stream reading an in-memory byte buffer. The buffer is shared with whoever made the stream
// and is not changed by it; `offset` is the next byte to read. Needs no open() before use
// (open() moves back to offset 0). Belongs to one thread at a time.
class ZELDataStream : public ZELStream {
  public:
    // A stream over `data` (null reads as empty), positioned at 0.
    static std::shared_ptr<ZELDataStream> streamWithData(std::shared_ptr<const ZELData> data);
    // A stream over a copy of `bytes`, positioned at 0.
    static std::shared_ptr<ZELDataStream> streamWithBytes(std::span<const uint8_t> bytes);

    explicit ZELDataStream(std::shared_ptr<const ZELData> data);

    bool open() override;
    uint64_t currentLogicalOffset() const override { return offset_; }
    // From the start (0), from the current offset (1), or, for any other whence, to
    // length - |offset| (the sign of the offset is ignored). A target past the length fails
    // with error 6 and leaves the offset unchanged.
    bool seek(int64_t offset, int whence) override;
    // Copies `count` bytes from the offset; when fewer remain, copies nothing, keeps error 6
    // and answers false. A null buffer reads nothing and answers true.
    bool readBytes(void* buffer, uint64_t count) override;
    // Lends the bytes in place (no copy); relinquishing gives them back.
    const uint8_t* acquireFilledReadBufferOfSize(uint64_t size) override;
    void relinquishFilledReadBuffer(const uint8_t* buffer) override;
    bool checkReadableByteCount(uint64_t count) override;

    const ZELData& data() const { return *data_; }
    uint64_t length() const { return data_->size(); }

  protected:
    void setOffset(uint64_t offset) { offset_ = offset; }

  private:
    std::shared_ptr<const ZELData> data_;  // never null
    uint64_t offset_ = 0;
};

// A data stream that also writes, into a growable buffer shared with its creator (who sees
// every write). Made empty, over a copy of existing bytes, or over the caller's own buffer; in
// each case it starts at the end of the buffer, so that writes append. open() moves back to
// 0, so that later writes overwrite from the start. Belongs to one thread at a time.
class ZELDataWriteStream final : public ZELDataStream {
  public:
    static std::shared_ptr<ZELDataWriteStream> stream();
    static std::shared_ptr<ZELDataWriteStream> streamWithCopyOfBytes(
        std::span<const uint8_t> bytes);
    // Writes go into `data` itself (null: a new empty buffer).
    static std::shared_ptr<ZELDataWriteStream> streamOverData(std::shared_ptr<ZELData> data);

    // Requires: `data` is not null (the factories accept null).
    explicit ZELDataWriteStream(std::shared_ptr<ZELData> data);

    // Writes at the offset: appends at the end, overwrites in place when the bytes fit before
    // the end, else replaces the rest of the buffer (which grows). Moves the offset past them.
    // Succeeds unless memory runs out (error 5).
    bool writeBytes(const void* bytes, uint64_t count) override;

    const std::shared_ptr<ZELData>& mutableData() const { return mutableData_; }

  private:
    std::shared_ptr<ZELData> mutableData_;  // the same buffer the base class reads
};
