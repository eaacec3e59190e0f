#include "zel/idvector/ZELIDVector+Serialization.h"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "zel/stream/ZELDataStream.h"

namespace {

uint32_t readUInt32At(const uint8_t* bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// A new immutable vector with a copy of `count` IDs stored (perhaps unaligned) at `bytes`.
std::shared_ptr<ZELIDVector> vectorWithStoredIDs(const uint8_t* bytes, uint32_t count) {
    if (count == 0) return ZELIDVector::vector();
    auto* ids = static_cast<ZELID*>(std::malloc(uint64_t{count} * sizeof(ZELID)));
    if (!ids) return nullptr;
    std::memcpy(ids, bytes, uint64_t{count} * sizeof(ZELID));
    return ZELIDVector::newWithIDs(ids, count, true);
}

ZELError invalidDataError(const char* message) {
    return ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, message);
}

}  // namespace

uint64_t ZELIDVector::serializedByteCount() const {
    return ZELStream::byteCountForSerializedZELIDVector(*this);
}

bool ZELIDVector::serializeToStream(ZELStream& stream) const {
    return stream.writeZELIDVector(*this);
}

std::shared_ptr<ZELIDVector> ZELIDVector::newDeserializedFromStream(ZELStream& stream, uint64_t) {
    return stream.newReadZELIDVector();
}

std::optional<ZELData> ZELIDVector_NewSerializedData(const ZELIDVector& vector) {
    const uint32_t count = vector.count();
    ZELData data;
    try {
        data.resize(ZELIDVectorSerializedHeaderLength + uint64_t{count} * sizeof(ZELID));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const uint32_t header[3] = {ZELIDVectorSerializedMagic, ZELIDVectorSerializedVersion, count};
    std::memcpy(data.data(), header, sizeof header);
    if (count > 0) {
        // The buffer is allocated with new's alignment, so the IDs at offset 12 are aligned.
        vector.getIDs(reinterpret_cast<ZELID*>(data.data() + ZELIDVectorSerializedHeaderLength),
                      count);
    }
    return data;
}

std::shared_ptr<ZELIDVector> ZELIDVector_VectorWithSerializedData(std::span<const uint8_t> data,
                                                                  ZELError* outError) {
    if (data.size() < ZELIDVectorSerializedHeaderLength) {
        ZELSetError(outError, invalidDataError("Serialized ZELIDVector data is too short."));
        return nullptr;
    }
    if (readUInt32At(data.data()) != ZELIDVectorSerializedMagic) {
        ZELSetError(outError, invalidDataError("Serialized ZELIDVector data has bad magic number."));
        return nullptr;
    }
    if (readUInt32At(data.data() + 4) != ZELIDVectorSerializedVersion) {
        ZELSetError(outError,
                    invalidDataError("Serialized ZELIDVector data has unsupported version."));
        return nullptr;
    }
    const uint32_t count = readUInt32At(data.data() + 8);
    if (data.size() != ZELIDVectorSerializedHeaderLength + uint64_t{count} * sizeof(ZELID)) {
        ZELSetError(outError, invalidDataError(
                                  "Serialized ZELIDVector length does not match saved ID count."));
        return nullptr;
    }
    std::shared_ptr<ZELIDVector> vector =
        vectorWithStoredIDs(data.data() + ZELIDVectorSerializedHeaderLength, count);
    if (!vector) {
        ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeOutOfMemory,
                                                              "out of memory"));
    }
    return vector;
}

void ZELData_AppendZELIDVector(ZELData& data, const ZELIDVector& vector) {
    // A non-owning reference: the stream lives only for this call.
    ZELDataWriteStream::streamOverData(std::shared_ptr<ZELData>(std::shared_ptr<ZELData>(), &data))
        ->writeZELIDVector(vector);
}

std::shared_ptr<ZELIDVector> ZELData_ReadZELIDVector(const uint8_t*& cursor, const uint8_t* end) {
    if (end - cursor < 4) return nullptr;
    const uint32_t count = readUInt32At(cursor);
    if (static_cast<uint64_t>(end - cursor - 4) / sizeof(ZELID) < count) return nullptr;
    std::shared_ptr<ZELIDVector> vector = vectorWithStoredIDs(cursor + 4, count);
    if (vector) cursor += 4 + uint64_t{count} * sizeof(ZELID);
    return vector;
}
