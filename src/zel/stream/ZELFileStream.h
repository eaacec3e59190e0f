#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "zel/stream/ZELStream.h"

// Flags of a file stream. Stored by callers in their own settings; never renumber.
enum ZELFileStreamFlag : int32_t {
    ZELFileStreamFlagRead = 1,
    ZELFileStreamFlagWrite = 2,
    // Keeps the file out of the operating system's cache and disables read-ahead (on Linux:
    // POSIX_FADV_RANDOM and POSIX_FADV_DONTNEED).
    ZELFileStreamFlagUncached = 4,
};

// The stream over one file: every data, index and list file of the database is read and
// written through it. It sits on a descriptor of ZELFileSystem::shared() (so that a database
// folder's journal sees every write) and keeps its own memory buffer on top, used either for
// reading ahead or for gathering writes; it reads and writes at the position it tracks itself,
// so that offsets and lengths are answered without asking the system, and lends its
// buffer to the encoders of strings and ID vectors and to record readers. Errors name the
// file, the positions and the system error numbers. Created closed; open() opens the file,
// close() (or destruction) flushes and releases it. Belongs to one thread at a time.
class ZELFileStream : public ZELStream {
public:
    // Stores the path, the flags and the buffer size (0: no buffer); opens nothing and
    // allocates the buffer only when it is first used.
    ZELFileStream(std::string url, int32_t flags, uint64_t bufferSize);
    ~ZELFileStream() override;

    // Opens the file: for reading and writing (created when missing), only writing (created or
    // emptied), or only reading. Opening an open stream reopens the file from offset 0.
    // A closed stream cannot be opened again (it has dropped its path).
    bool open() override;
    // Flushes pending writes, closes the descriptor, frees the buffer and drops the path.
    void close() override;
    uint64_t currentLogicalOffset() const override;
    // Seeks inside the read buffer when the target lies in it (forward only when more than 4
    // buffered bytes stay after it); otherwise flushes and moves the position.
    bool seek(int64_t offset, int whence) override;
    // Reads at most half a buffer through the buffer (refilling a whole buffer's worth), larger
    // reads straight from the file. Reading past the end delivers what there is, keeps an
    // error and answers false. A null buffer reads nothing and answers true.
    bool readBytes(void* buffer, uint64_t count) override;
    // Gathers writes smaller than the buffer; larger ones go straight to the file. A 0-byte
    // write answers false. A gathered write answers true; a failure surfaces when the buffer
    // is flushed (closeAndGetError catches it).
    bool writeBytes(const void* bytes, uint64_t count) override;
    // Lends `size` bytes from the memory buffer (refilled, or grown to `size`, when they are
    // not all in it); null, with the offset unchanged, when fewer than `size` bytes remain.
    const uint8_t* acquireFilledReadBufferOfSize(uint64_t size) override;
    void relinquishFilledReadBuffer(const uint8_t* buffer) override;
    // Lends free room at the end of the pending writes (flushing, or growing the buffer to
    // `capacity`, when there is not enough).
    uint8_t* acquireWriteBufferWithCapacity(uint64_t capacity) override;
    void relinquishWriteBuffer(uint8_t* buffer, uint64_t filledByteCount) override;
    // Keeps the first error, rewritten to name the file and the positions: "Error encountered
    // with file at: <path>\n", then (with an open file) the position (twice) and
    // the logical and disk lengths, then "Error cause: <reason>".
    void reportError(const ZELError& error) override;
    bool checkReadableByteCount(uint64_t count) override;
    // "ZELFileStream<0x...> for \"<path>\"".
    std::string description() const override;

    const std::string& fileURL() const { return url_; }
    // The file's length including writes still in the buffer.
    uint64_t logicalFileLength() const;
    // The size the memory buffer takes when it is first used (0: none); no change once it is.
    void setBufferSize(uint64_t bufferSize);
    // Replaces the memory buffer by one of `capacity` bytes (none for 0). Requires: no bytes
    // are buffered. When the allocation fails the old buffer stays, error 5 is kept and the
    // answer is false.
    bool setMemoryBufferCapacity(uint64_t capacity);

private:
    // What the memory buffer holds. Reading: the file bytes [H - F, H), next byte buffer[R],
    // logical offset H - F + R. Writing: F bytes not yet written, destined for [H, H + F),
    // logical offset H + F. None: logical offset H.
    enum class BufferMode : uint8_t {
        None = 0,
        ReadLent = 1,   // reading, with bytes lent out until relinquishFilledReadBuffer
        WriteLent = 2,  // writing, with room lent out until relinquishWriteBuffer
        Reading = 3,
        Writing = 4,
    };

    bool isReadBuffering() const {
        return bufferMode_ == BufferMode::Reading || bufferMode_ == BufferMode::ReadLent;
    }
    bool isWriteBuffering() const {
        return bufferMode_ == BufferMode::Writing || bufferMode_ == BufferMode::WriteLent;
    }

    // Allocates the buffer of the requested size at its first use: a stream that only reads a
    // header, or only reads unbuffered, holds none. False when there is none.
    bool ensureBuffer();
    bool writeBytesNoBuffer(const void* bytes, uint64_t count);
    uint64_t readBytesNoBuffer(void* buffer, uint64_t count);
    void flushWriteBuffer();
    void rescindReadBuffer();
    void emptyBuffer() { bufferFill_ = bufferReadAt_ = 0; }
    void switchToReading();
    void switchToBufferedWriting();
    void switchToUnbufferedWriting();

    void reportOpenFailure(int errnoValue);
    void reportTransferFailure(const char* words, uint64_t expected, uint64_t actual);
    void reportSeekFailure(int whence, int64_t offset, int errnoValue);
    uint64_t diskLength() const;

    int fd_ = -1;                        // owned; -1 while closed
    uint64_t handlePosition_ = 0;        // H: where the next transfer on the file starts
    bool transferFailed_ = false;        // a read or write call failed (not a short read)
    uint64_t fileLengthOnDisk_ = 0;      // read at open, raised by every write past it
    std::string url_;                    // dropped by close()
    int32_t flags_;                      // ZELFileStreamFlag bits
    uint64_t requestedBufferSize_;       // 0: no buffer
    uint8_t* buffer_ = nullptr;          // malloc'd, owned
    uint64_t bufferReadAt_ = 0;          // R
    uint64_t bufferFill_ = 0;            // F
    uint64_t bufferCapacity_ = 0;        // C
    BufferMode bufferMode_ = BufferMode::None;
};

// A file stream that only reads: writing (and lending write room) keeps error 10 "can't write
// to a read-only stream".
class ZELFileReadStream final : public ZELFileStream {
public:
    using ZELFileStream::ZELFileStream;

    bool writeBytes(const void* bytes, uint64_t count) override;
    uint8_t* acquireWriteBufferWithCapacity(uint64_t capacity) override;
};

// A file stream that only writes: reading (and lending read bytes) keeps error 10 "can't read
// from write-only stream".
class ZELFileWriteStream final : public ZELFileStream {
public:
    using ZELFileStream::ZELFileStream;

    bool readBytes(void* buffer, uint64_t count) override;
    const uint8_t* acquireFilledReadBufferOfSize(uint64_t size) override;
};
