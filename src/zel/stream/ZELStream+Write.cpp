// Writing the primitive encodings. Zero-length pieces are never handed to writeBytes (a file
// stream answers false to a 0-byte write), so an empty array or string writes just its prefix.
// Strings and ID vectors without an array of their own are encoded straight into a buffer
// the stream lends (a file stream lends its own memory buffer).

#include <algorithm>
#include <cstring>

#include "zel/idvector/ZELIDVector.h"
#include "zel/stream/ZELStream.h"
#include "zel/stream/ZELString+ByteString.h"

int64_t ZELStream::write(const void* buffer, uint64_t maxLength) {
    return writeBytes(buffer, maxLength) ? static_cast<int64_t>(maxLength) : -1;
}

bool ZELStream::writeData(std::span<const uint8_t> data) {
    return data.empty() || writeBytes(data.data(), data.size());
}

bool ZELStream::writePaddingOfLength(uint64_t length) {
    // Eight runs of the pattern, so that every chunk continues it where the last one ended.
    static constexpr uint8_t kPattern[64] = {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8,
                                             1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8,
                                             1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8,
                                             1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8};
    while (length > 0) {
        const uint64_t chunk = std::min<uint64_t>(length, sizeof kPattern);
        if (!writeBytes(kPattern, chunk)) return false;
        length -= chunk;
    }
    return true;
}

bool ZELStream::writeBytesAndPadding(const void* bytes, uint64_t length) {
    static constexpr uint8_t kZeros[3] = {};
    if (length > 0 && !writeBytes(bytes, length)) return false;
    const uint64_t padding = ZELPaddingForLength(length);
    return padding == 0 || writeBytes(kZeros, padding);
}

bool ZELStream::writeInt32Little(int32_t value) {
    return writeBytes(&value, sizeof value);
}

bool ZELStream::writeUInt32Little(uint32_t value) {
    return writeBytes(&value, sizeof value);
}

bool ZELStream::writeUInt64Little(uint64_t value) {
    return writeBytes(&value, sizeof value);
}

bool ZELStream::writeInt32LittleArray(const int32_t* values, uint64_t count) {
    return count == 0 || writeBytes(values, count * sizeof *values);
}

bool ZELStream::writeUInt32LittleArray(const uint32_t* values, uint64_t count) {
    return count == 0 || writeBytes(values, count * sizeof *values);
}

bool ZELStream::writeZELDate(ZELDate date) {
    return writeBytes(&date.timeIntervalSince1970, sizeof date.timeIntervalSince1970);
}

// String form (see newReadZELString). The whole record is encoded into one lent buffer: a
// 4-byte slot for L, the UTF-16LE bytes, the padding. Answers false when no buffer could be
// had or the string is too long for its 32-bit length; a failure of the final write is kept
// as the stream's error, as for every buffered write.
bool ZELStream::writeZELString(std::u16string_view string) {
    const uint64_t maximumLength = ZELString_MaximumLengthOfZELByteString(string);
    if (maximumLength - 1 > UINT32_MAX) {
        reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData,
            ZELStringWithFormat("string of %llu bytes is too long to serialize",
                                static_cast<unsigned long long>(maximumLength - 1))));
        return false;
    }
    uint8_t* buffer = acquireWriteBufferWithCapacity(maximumLength + 8);
    if (!buffer) return false;
    uint64_t usedLength = 0;
    ZELString_GetZELByteString(string, buffer + 4, maximumLength, &usedLength);
    const auto byteLength = static_cast<uint32_t>(usedLength);
    std::memcpy(buffer, &byteLength, sizeof byteLength);
    const uint64_t padding = ZELPaddingForLength(byteLength);
    std::memset(buffer + 4 + byteLength, 0, padding);
    relinquishWriteBuffer(buffer, 4 + byteLength + padding);
    return true;
}

bool ZELStream::writeZELStringByteUnits(const char16_t* units, uint64_t count) {
    return count == 0 || writeBytes(units, count * sizeof *units);
}

// ID vector form (see newReadZELIDVector). Written from the vector's own array when it has
// one; otherwise the IDs are copied into a lent buffer.
bool ZELStream::writeZELIDVector(const ZELIDVector& vector) {
    const uint32_t count = vector.count();
    if (!writeUInt32Little(count)) return false;
    if (count == 0) return true;
    const uint64_t byteCount = uint64_t{count} * sizeof(ZELID);
    if (const ZELID* ids = vector.directIDs()) return writeBytes(ids, byteCount);
    uint8_t* buffer = acquireWriteBufferWithCapacity(byteCount);
    if (!buffer) return false;
    const uint32_t copied = vector.getIDs(reinterpret_cast<ZELID*>(buffer), count);
    relinquishWriteBuffer(buffer, uint64_t{copied} * sizeof(ZELID));
    return true;
}

bool ZELStream::writeZELSerializable(const ZELStreamSerializable& object, bool withRequiredClass) {
    if (!withRequiredClass && !writeZELString(ZELStringFromUTF8(object.className()))) return false;
    return object.serializeToStream(*this);
}

uint64_t ZELStream::byteCountForSerializedZELString(std::u16string_view string) {
    const uint64_t byteLength = uint64_t{string.size()} * 2;
    return 4 + byteLength + ZELPaddingForLength(byteLength);
}

uint64_t ZELStream::byteCountForSerializedZELIDVector(const ZELIDVector& vector) {
    return 4 + uint64_t{vector.count()} * sizeof(ZELID);
}

uint64_t ZELStream::byteCountForZELSerializable(const ZELStreamSerializable& object,
                                                bool withRequiredClass) {
    uint64_t byteCount = object.serializedByteCount();
    if (!withRequiredClass) {
        byteCount += byteCountForSerializedZELString(ZELStringFromUTF8(object.className()));
    }
    return byteCount;
}
