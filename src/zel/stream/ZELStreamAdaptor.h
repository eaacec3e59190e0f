#pragma once

#include <iosfwd>
#include <memory>

#include "zel/stream/ZELStream.h"

// A stream over a C++ iostream, for hosts that want the stored forms on a stream of their own
// (nothing inside the library makes one). The adaptor shares ownership of the iostream.
// open() answers whether the iostream is usable; close() flushes an output stream and closes a
// file stream's file. The logical offset is the iostream's own position (0 when it cannot
// tell). Requires: the iostream is not null. Belongs to one thread at a time.
class ZELStreamAdaptor : public ZELStream {
public:
    bool open() override;
    void close() override;
    // The kept error; else, when the iostream has failed, an error 6 saying so.
    ZELError streamError() const override;

protected:
    explicit ZELStreamAdaptor(std::shared_ptr<std::ios> stream);

    void reportTransferFailure(const char* words, uint64_t expected, uint64_t actual);

private:
    std::shared_ptr<std::ios> stream_;
};

// The input side: reads from a std::istream. Seeks only from the start (whence 0).
class ZELReadStreamAdaptor final : public ZELStreamAdaptor {
public:
    explicit ZELReadStreamAdaptor(std::shared_ptr<std::istream> stream);

    uint64_t currentLogicalOffset() const override;
    bool seek(int64_t offset, int whence) override;
    // Succeeds when exactly `count` bytes were read.
    bool readBytes(void* buffer, uint64_t count) override;
    // Knows the remaining length when the iostream can seek.
    bool checkReadableByteCount(uint64_t count) override;

private:
    std::shared_ptr<std::istream> input_;
};

// The output side: writes to a std::ostream. Seeks only from the start (whence 0).
class ZELWriteStreamAdaptor final : public ZELStreamAdaptor {
public:
    explicit ZELWriteStreamAdaptor(std::shared_ptr<std::ostream> stream);

    void close() override;
    uint64_t currentLogicalOffset() const override;
    bool seek(int64_t offset, int whence) override;
    // Succeeds when all `count` bytes were taken.
    bool writeBytes(const void* bytes, uint64_t count) override;

private:
    std::shared_ptr<std::ostream> output_;
};
