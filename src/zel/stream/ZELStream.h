#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"
#include "zel/stream/ZELData.h"
#include "zel/stream/ZELStreamSerializable.h"

class ZELIDVector;
class ZELMutableIDVector;
class ZELDataStream;
class ZELDataWriteStream;
class ZELFileStream;
class ZELFileReadStream;
class ZELFileWriteStream;
class ZELReadStreamAdaptor;
class ZELWriteStreamAdaptor;

// The byte stream under every stored format: object records, index and list files, and the
// primitive encodings (little-endian integers, IDs, dates, strings, ID vectors, class-tagged
// objects), which are defined once here as operations of the stream. Concrete streams are the
// data streams over memory (ZELDataStream, ZELDataWriteStream), the buffered file streams
// (ZELFileStream and its read / write kinds) and adaptors over C++ iostreams.
//
// A stream never throws for I/O trouble: every operation answers success or failure, and the
// stream keeps the first error it met (streamError, closeAndGetError). The one exception is an
// unknown class name in a class-tagged record (ZELInternalInconsistencyException).
// Reference-counted (std::shared_ptr); a stream belongs to one thread at a time.
class ZELStream : public ZELObject {
  public:
    // Values of `whence` for seek.
    static constexpr int SeekFromStart = 0;
    static constexpr int SeekFromCurrent = 1;
    static constexpr int SeekFromEnd = 2;

    // Factories. File streams are created closed; call open() before use. `flags` combine
    // ZELFileStreamFlagRead (1), ZELFileStreamFlagWrite (2) and ZELFileStreamFlagUncached (4).
    static std::shared_ptr<ZELFileStream> streamForURL(const std::string& url,
                                                       int32_t flags, uint64_t bufferSize);
    static std::shared_ptr<ZELFileReadStream> streamForReadingURL(const std::string& url,
                                                                  uint64_t bufferSize);
    static std::shared_ptr<ZELFileWriteStream> streamForWritingURL(const std::string& url,
                                                                   uint64_t bufferSize);
    // A write stream over that very buffer, positioned at its end (writes append).
    static std::shared_ptr<ZELDataWriteStream> streamForData(std::shared_ptr<ZELData> data);
    // A read stream over `data`, positioned at 0.
    static std::shared_ptr<ZELDataStream> streamForReadingData(std::shared_ptr<const ZELData> data);
    static std::shared_ptr<ZELReadStreamAdaptor> readStreamForInputStream(
        std::shared_ptr<std::istream> stream);
    static std::shared_ptr<ZELWriteStreamAdaptor> writeStreamForOutputStream(
        std::shared_ptr<std::ostream> stream);

    ZELStream(const ZELStream&) = delete;
    ZELStream& operator=(const ZELStream&) = delete;

    // ---- Operations of the concrete streams (base behaviour in brackets) ----

    // [false] Opens the stream; answers whether it is usable.
    virtual bool open();
    // [nothing] Closing twice is harmless; the kept error survives.
    virtual void close();
    // [0] Where the next read or write happens.
    virtual uint64_t currentLogicalOffset() const;
    // [false] Moves to `offset` counted as `whence` says (SeekFromStart, SeekFromCurrent,
    // SeekFromEnd).
    virtual bool seek(int64_t offset, int whence);
    // [error 10] Reads exactly `count` bytes into `buffer`; false (with an error kept) when
    // they could not all be read.
    virtual bool readBytes(void* buffer, uint64_t count);
    // [error 10] Writes `count` bytes.
    virtual bool writeBytes(const void* bytes, uint64_t count);

    // Lends `size` bytes read from the stream, to be looked at in place and given back with
    // relinquishFilledReadBuffer before the next operation on the stream; null when they could
    // not be read. [a new heap block filled by newFilledReadBufferWithReadByteCount]
    virtual const uint8_t* acquireFilledReadBufferOfSize(uint64_t size);
    // [frees the block; null ignored]
    virtual void relinquishFilledReadBuffer(const uint8_t* buffer);
    // Lends room for `capacity` bytes to be encoded in place; the first `filledByteCount`
    // bytes are written when it is given back with relinquishWriteBuffer, which must come
    // before the next operation on the stream. Null (error 5) when no room can be had.
    // [a new heap block]
    virtual uint8_t* acquireWriteBufferWithCapacity(uint64_t capacity);
    // [null ignored; else writes the filled bytes and frees the block]
    virtual void relinquishWriteBuffer(uint8_t* buffer, uint64_t filledByteCount);

    // [keeps a copy of `error` unless an error is kept already]
    virtual void reportError(const ZELError& error);
    // [the kept error; a no-error value while none]
    virtual ZELError streamError() const;

    // Answers false, after keeping the error a read of `count` bytes would meet, when the
    // stream knows that fewer bytes remain. Length-prefixed readers call it before allocating
    // for a length they read, so that a corrupt length never causes a huge allocation.
    // [true: the base cannot tell]
    virtual bool checkReadableByteCount(uint64_t count);

    // ---- Operations built on the ones above ----

    // close(); false with the kept error stored in `outError` (when given) if there is one.
    bool closeAndGetError(ZELError* outError);
    bool setCurrentLogicalOffset(uint64_t offset) {
        return seek(static_cast<int64_t>(offset), SeekFromStart);
    }
    // maxLength when all bytes were read, else 0.
    int64_t read(void* buffer, uint64_t maxLength);
    // maxLength when all bytes were written, else -1 (never a short count).
    int64_t write(const void* buffer, uint64_t maxLength);

    // A new malloc'd block of `count` bytes read from the stream, owned by the caller (who
    // releases it with free()); null for 0 bytes, on allocation failure (error 5) and when
    // the read fails.
    uint8_t* newFilledReadBufferWithReadByteCount(uint64_t count);
    // Exactly `length` bytes (empty for 0); none when they cannot be read or allocated.
    std::optional<ZELData> newReadDataOfLength(uint64_t length);
    std::optional<ZELData> readDataOfLength(uint64_t length) { return newReadDataOfLength(length); }
    // Everything from the current offset to the end; none when a seek or the read fails.
    std::optional<ZELData> readRemainingData();
    // readBytes, then reads and drops the zero padding up to a multiple of 4.
    bool readBytesAndSkipPadding(void* buffer, uint64_t length);

    // The value, or 0 when the read fails.
    uint32_t readUInt32Little();
    int32_t readInt32Little();
    uint64_t readUInt64Little();
    ZELID readZELID() { return readUInt32Little(); }
    bool readUInt32LittleArray(uint32_t* values, uint64_t count);
    bool readSInt32LittleArray(int32_t* values, uint64_t count);
    bool readZELIDs(ZELID* ids, uint64_t count) { return readUInt32LittleArray(ids, count); }
    bool readUInt64LittleArray(uint64_t* values, uint64_t count);
    // None when the read fails.
    std::optional<ZELDate> readZELDate();

    // A string in the string form; none when the read fails or the stored length is odd
    // (error 3).
    std::optional<ZELString> newReadZELString();
    std::optional<ZELString> readZELString() { return newReadZELString(); }
    // Reads a string the same way and hands it to `visitor` (null when reading failed); the
    // visitor copies the string if it keeps it beyond the call.
    void readZELStringUsing(const std::function<void(const ZELString* string)>& visitor);

    // A new immutable array-backed vector in the ID vector form; null when the read fails. The
    // IDs are not checked for order.
    std::shared_ptr<ZELIDVector> newReadZELIDVector();
    std::shared_ptr<ZELIDVector> readZELIDVector() { return newReadZELIDVector(); }
    // The same form read as a mutable array-backed vector that owns the read IDs, without
    // spare room; null when the read fails.
    std::shared_ptr<ZELMutableIDVector> newReadZELMutableIDVector();

    // A class-tagged object: the class name as a string, then the object, read by the
    // deserializer registered under that name in ZELRegistry<ZELStreamDeserializer> with
    // `length` reduced by the bytes the name took. Null when the stream fails (or the name
    // took more than `length` bytes, error 3). An unknown class name raises
    // ZELInternalInconsistencyException.
    std::shared_ptr<ZELStreamSerializable> newReadZELSerializableOfLength(uint64_t length);
    // An object of a required class: its own form only, read by `requiredClass`.
    std::shared_ptr<ZELStreamSerializable> newReadZELSerializableOfLength(
        uint64_t length, const ZELStreamDeserializer& requiredClass);

    bool writeData(std::span<const uint8_t> data);
    // `length` filler bytes of the pattern 01 02 03 04 05 06 07 08, repeated.
    bool writePaddingOfLength(uint64_t length);
    // The bytes, then zero bytes up to a multiple of 4.
    bool writeBytesAndPadding(const void* bytes, uint64_t length);
    bool writeInt32Little(int32_t value);
    bool writeUInt32Little(uint32_t value);
    bool writeZELID(ZELID id) { return writeUInt32Little(id); }
    bool writeUInt64Little(uint64_t value);
    bool writeInt32LittleArray(const int32_t* values, uint64_t count);
    bool writeUInt32LittleArray(const uint32_t* values, uint64_t count);
    bool writeZELIDs(const ZELID* ids, uint64_t count) {
        return writeUInt32LittleArray(ids, count);
    }
    bool writeZELDate(ZELDate date);
    // uint32 byte length L, the L bytes of the UTF-16LE form, zero padding to a multiple of 4.
    bool writeZELString(std::u16string_view string);
    // `count` UTF-16 code units as 2 bytes each, no length prefix.
    bool writeZELStringByteUnits(const char16_t* units, uint64_t count);
    // uint32 count, then the IDs, 4 bytes each.
    bool writeZELIDVector(const ZELIDVector& vector);
    // Without a required class, the object's class name as a string first; then the object's
    // own form. Answers the object's serializeToStream.
    bool writeZELSerializable(const ZELStreamSerializable& object, bool withRequiredClass);

    static uint64_t byteCountForSerializedZELString(std::u16string_view string);
    static uint64_t byteCountForSerializedZELIDVector(const ZELIDVector& vector);
    static uint64_t byteCountForZELSerializable(const ZELStreamSerializable& object,
                                                bool withRequiredClass);

    // Keeps error 5 with `message`.
    void reportMemoryAllocationFailed(const std::string& message);

  protected:
    ZELStream() = default;

  private:
    // The ID vector form's count and IDs, the IDs in a new heap block (null for none); false
    // when the read fails.
    bool readIDVectorForm(uint32_t& count, ZELID*& ids);

    ZELError firstError_;  // the first error reported; no-error while none
};
