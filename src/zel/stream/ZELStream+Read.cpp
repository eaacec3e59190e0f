// Reading the primitive encodings: integers, dates, strings, ID vectors and class-tagged
// objects. Every length read from a stream is checked against what the stream holds (where it
// knows) before anything is allocated for it.

#include <cstdlib>
#include <exception>
#include <mutex>

#include "zel/idvector/ZELIDVector.h"
#include "zel/idvector/ZELMutableIDVector.h"
#include "zel/platform/ZELException.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/stream/ZELSerializableData.h"
#include "zel/stream/ZELSerializableString.h"
#include "zel/stream/ZELStream.h"

namespace {

// The stream-serializable classes of the library itself, registered on the first
// class-tagged read. Entries a host registered first under the same names are kept.
void registerBuiltInDeserializers() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& registry = ZELRegistry<ZELStreamDeserializer>::shared();
        const auto add = [&registry](const char* name, ZELStreamDeserializer deserializer) {
            if (!registry.containsEntryNamed(name)) registry.registerEntry(name, deserializer);
        };
        add("ZELSerializableString", [](ZELStream& stream, uint64_t length) {
            return ZELSerializableString::newDeserializedFromStream(stream, length);
        });
        add("ZELSerializableData", [](ZELStream& stream, uint64_t length) {
            return ZELSerializableData::newDeserializedFromStream(stream, length);
        });
        // Every vector reads back as an immutable array-backed vector, whatever class wrote it.
        for (const char* name :
             {"ZELIDVector_CArray", "ZELMutableIDVector_CArray", "ZELIDVector_IndexSet",
              "ZELMutableIDVector_IndexSet", "ZELIDVector_BitBlock"}) {
            add(name, [](ZELStream& stream, uint64_t length) {
                return ZELIDVector::newDeserializedFromStream(stream, length);
            });
        }
    });
}

}  // namespace

int64_t ZELStream::read(void* buffer, uint64_t maxLength) {
    return readBytes(buffer, maxLength) ? static_cast<int64_t>(maxLength) : 0;
}

uint8_t* ZELStream::newFilledReadBufferWithReadByteCount(uint64_t count) {
    if (count == 0 || !checkReadableByteCount(count)) return nullptr;
    auto* block = count <= SIZE_MAX ? static_cast<uint8_t*>(std::malloc(count)) : nullptr;
    if (!block) {
        reportMemoryAllocationFailed("malloc failed when creating new filled read buffer");
        return nullptr;
    }
    if (!readBytes(block, count)) {
        std::free(block);
        return nullptr;
    }
    return block;
}

std::optional<ZELData> ZELStream::newReadDataOfLength(uint64_t length) {
    if (length == 0) return ZELData();
    if (!checkReadableByteCount(length)) return std::nullopt;
    ZELData data;
    try {
        data.resize(length);
    } catch (const std::exception&) {
        reportMemoryAllocationFailed("readData malloc failed");
        return std::nullopt;
    }
    if (!readBytes(data.data(), length)) return std::nullopt;
    return data;
}

std::optional<ZELData> ZELStream::readRemainingData() {
    const uint64_t start = currentLogicalOffset();
    if (!seek(0, SeekFromEnd)) return std::nullopt;
    const uint64_t end = currentLogicalOffset();
    if (!setCurrentLogicalOffset(start)) return std::nullopt;
    return newReadDataOfLength(end > start ? end - start : 0);
}

bool ZELStream::readBytesAndSkipPadding(void* buffer, uint64_t length) {
    if (!readBytes(buffer, length)) return false;
    uint8_t padding[3];
    const uint64_t paddingLength = ZELPaddingForLength(length);
    return paddingLength == 0 || readBytes(padding, paddingLength);
}

uint32_t ZELStream::readUInt32Little() {
    uint32_t value = 0;
    return readBytes(&value, sizeof value) ? value : 0;
}

int32_t ZELStream::readInt32Little() {
    int32_t value = 0;
    return readBytes(&value, sizeof value) ? value : 0;
}

uint64_t ZELStream::readUInt64Little() {
    uint64_t value = 0;
    return readBytes(&value, sizeof value) ? value : 0;
}

bool ZELStream::readUInt32LittleArray(uint32_t* values, uint64_t count) {
    return readBytes(values, count * sizeof *values);
}

bool ZELStream::readSInt32LittleArray(int32_t* values, uint64_t count) {
    return readBytes(values, count * sizeof *values);
}

bool ZELStream::readUInt64LittleArray(uint64_t* values, uint64_t count) {
    return readBytes(values, count * sizeof *values);
}

std::optional<ZELDate> ZELStream::readZELDate() {
    double seconds = 0;
    if (!readBytes(&seconds, sizeof seconds)) return std::nullopt;
    return ZELDate{seconds};
}

// String form: uint32 byte length L, L bytes of UTF-16LE code units (no byte order mark, no
// terminator), then (4 - L mod 4) mod 4 zero bytes. The empty string is the single uint32 0.
// A failed length read yields none (not an empty string), so a truncated record is never
// mistaken for an empty one; an odd L cannot come from the writer and is refused.
std::optional<ZELString> ZELStream::newReadZELString() {
    uint32_t byteLength = 0;
    if (!readBytes(&byteLength, sizeof byteLength)) return std::nullopt;
    if (byteLength == 0) return ZELString();
    if (byteLength % 2 != 0) {
        reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData,
            ZELStringWithFormat("serialized string has an odd byte length (%u)", byteLength)));
        return std::nullopt;
    }
    if (!checkReadableByteCount(byteLength + ZELPaddingForLength(byteLength))) return std::nullopt;
    ZELString string;
    try {
        string.resize(byteLength / 2);
    } catch (const std::exception&) {
        reportMemoryAllocationFailed("malloc failed when creating new filled read buffer");
        return std::nullopt;
    }
    if (!readBytesAndSkipPadding(string.data(), byteLength)) return std::nullopt;
    return string;
}

void ZELStream::readZELStringUsing(const std::function<void(const ZELString* string)>& visitor) {
    const std::optional<ZELString> string = newReadZELString();
    visitor(string ? &*string : nullptr);
}

// ID vector form: uint32 count, then count IDs of 4 bytes (ascending as written).
bool ZELStream::readIDVectorForm(uint32_t& count, ZELID*& ids) {
    ids = nullptr;
    if (!readBytes(&count, sizeof count)) return false;
    if (count == 0) return true;
    ids = reinterpret_cast<ZELID*>(
        newFilledReadBufferWithReadByteCount(uint64_t{count} * sizeof(ZELID)));
    return ids != nullptr;
}

std::shared_ptr<ZELIDVector> ZELStream::newReadZELIDVector() {
    uint32_t count = 0;
    ZELID* ids = nullptr;
    if (!readIDVectorForm(count, ids)) return nullptr;
    if (count == 0) return ZELIDVector::vector();
    std::shared_ptr<ZELIDVector> vector = ZELIDVector::newWithIDs(ids, count, true);
    if (!vector) reportMemoryAllocationFailed("could not allocate ZELIDVector");
    return vector;
}

std::shared_ptr<ZELMutableIDVector> ZELStream::newReadZELMutableIDVector() {
    uint32_t count = 0;
    ZELID* ids = nullptr;
    if (!readIDVectorForm(count, ids)) return nullptr;
    std::shared_ptr<ZELMutableIDVector> vector = ZELMutableIDVector::newWithIDs(ids, count, true);
    if (!vector) reportMemoryAllocationFailed("could not allocate ZELMutableIDVector");
    return vector;
}

// Class-tagged form: the class name (the writer's className()) as a string, then the object's
// own form. `length` covers both.
std::shared_ptr<ZELStreamSerializable> ZELStream::newReadZELSerializableOfLength(uint64_t length) {
    const std::optional<ZELString> name = newReadZELString();
    if (!name) return nullptr;
    const uint64_t nameByteCount = byteCountForSerializedZELString(*name);
    if (nameByteCount > length) {
        reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData,
            ZELStringWithFormat("class-tagged record of %llu bytes is shorter than its class "
                                "name (%llu bytes)",
                                static_cast<unsigned long long>(length),
                                static_cast<unsigned long long>(nameByteCount))));
        return nullptr;
    }
    registerBuiltInDeserializers();
    const std::string className = ZELStringToUTF8(*name);
    const std::optional<ZELStreamDeserializer> deserializer =
        ZELRegistry<ZELStreamDeserializer>::shared().entryNamed(className);
    if (!deserializer) {
        ZELRaise(
            ZELInternalInconsistencyException,
            ZELStringWithFormat("ZELStream did not find class with name \"%s\" in the runtime.",
                                className.c_str()));
    }
    return (*deserializer)(*this, length - nameByteCount);
}

std::shared_ptr<ZELStreamSerializable> ZELStream::newReadZELSerializableOfLength(
    uint64_t length, const ZELStreamDeserializer& requiredClass) {
    return requiredClass(*this, length);
}
