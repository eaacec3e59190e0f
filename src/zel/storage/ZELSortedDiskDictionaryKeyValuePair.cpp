#include "zel/storage/ZELSortedDiskDictionaryKeyValuePair.h"

#include <mutex>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/storage/ZELSortedDiskDictionaryKeyValuePairSpecific.h"
#include "zel/storage/ZELSortedDiskDictionaryKeyValuePair_KeyOnly.h"
#include "zel/stream/ZELStream.h"
#include "zel/stream/ZELValue+MemoryEstimate.h"

namespace {

const char* const kPairClassName = "ZELSortedDiskDictionaryKeyValuePair";
const char* const kKeyOnlyPairClassName = "ZELSortedDiskDictionaryKeyValuePair_KeyOnly";

}  // namespace

std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair> ZELSortedDiskDictionaryKeyValuePair::pairWithKey(
    ZELString key, std::shared_ptr<ZELStreamSerializable> value) {
    registerPairClasses();
    return std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair>(
        new ZELSortedDiskDictionaryKeyValuePair(std::move(key), std::move(value)));
}

ZELSortedDiskDictionaryKeyValuePair::ZELSortedDiskDictionaryKeyValuePair(
    ZELString key, std::shared_ptr<ZELStreamSerializable> value)
    : key_(std::move(key)), value_(std::move(value)) {}

uint64_t ZELSortedDiskDictionaryKeyValuePair::serializedByteCount() const {
    const uint64_t valueByteCount =
        value_ ? ZELStream::byteCountForZELSerializable(*value_, requiredValueClass().has_value())
               : 0;
    return ZELStream::byteCountForSerializedZELString(key_) + sizeof(uint32_t) + valueByteCount;
}

bool ZELSortedDiskDictionaryKeyValuePair::serializeToStream(ZELStream& stream) const {
    if (!value_) return false;
    const bool withRequiredClass = requiredValueClass().has_value();
    const uint64_t valueByteCount =
        ZELStream::byteCountForZELSerializable(*value_, withRequiredClass);
    if (valueByteCount > UINT32_MAX) {
        stream.reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData, "key-value pair value is too large to be stored"));
        return false;
    }
    return stream.writeZELString(key_) &&
           stream.writeUInt32Little(static_cast<uint32_t>(valueByteCount)) &&
           stream.writeZELSerializable(*value_, withRequiredClass);
}

bool ZELSortedDiskDictionaryKeyValuePair::readKeyAndValue(
    ZELStream& stream, uint64_t length, const std::optional<std::string>& requiredValueClass,
    ZELString* outKey, std::shared_ptr<ZELStreamSerializable>* outValue) {
    std::optional<ZELString> key = stream.newReadZELString();
    if (!key) return false;
    uint32_t valueLength = 0;
    if (!stream.readUInt32LittleArray(&valueLength, 1)) return false;
    const uint64_t headerLength = ZELStream::byteCountForSerializedZELString(*key) + sizeof(uint32_t);
    if (headerLength > length || valueLength > length - headerLength) {
        stream.reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData, "key-value pair value length exceeds its record"));
        return false;
    }

    std::shared_ptr<ZELStreamSerializable> value;
    if (requiredValueClass) {
        const std::optional<ZELStreamDeserializer> deserializer =
            ZELRegistry<ZELStreamDeserializer>::shared().entryNamed(*requiredValueClass);
        if (!deserializer) {
            stream.reportError(ZELError::errorWithZELErrorCode(
                ZELErrorCodeInvalidData,
                "key-value pair value class " + *requiredValueClass + " is not registered"));
            return false;
        }
        value = stream.newReadZELSerializableOfLength(valueLength, *deserializer);
    } else {
        value = stream.newReadZELSerializableOfLength(valueLength);
    }
    if (!value) return false;
    // A value that read more or fewer bytes than its record announced means a damaged record.
    if (ZELStream::byteCountForZELSerializable(*value, requiredValueClass.has_value()) !=
        valueLength) {
        stream.reportError(ZELError::errorWithZELErrorCode(
            ZELErrorCodeInvalidData, "key-value pair value length disagrees with its value"));
        return false;
    }
    *outKey = std::move(*key);
    *outValue = std::move(value);
    return true;
}

std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair>
ZELSortedDiskDictionaryKeyValuePair::newDeserializedFromStream(ZELStream& stream,
                                                               uint64_t length) {
    ZELString key;
    std::shared_ptr<ZELStreamSerializable> value;
    if (!readKeyAndValue(stream, length, std::nullopt, &key, &value)) return nullptr;
    return pairWithKey(std::move(key), std::move(value));
}

uint64_t ZELSortedDiskDictionaryKeyValuePair::byteCountInActiveRAM() const {
    uint64_t byteCount = sizeof(*this) + ZELString_ByteCountInActiveRAM(key_);
    if (value_) byteCount += ZELValue_ByteCountInActiveRAM(ZELValue(std::shared_ptr<ZELObject>(value_)));
    return byteCount;
}

std::string ZELSortedDiskDictionaryKeyValuePair::keyOnlyPairClass() {
    registerPairClasses();
    return kKeyOnlyPairClassName;
}

std::optional<std::string> ZELSortedDiskDictionaryKeyValuePair::makeKeyValuePairClassForValueClass(
    const std::string& valueClassName) {
    if (valueClassName.empty()) return std::nullopt;
    registerPairClasses();
    const std::string pairClassName =
        ZELSortedDiskDictionaryKeyValuePairSpecific::classNameForValueClass(valueClassName);
    auto& registry = ZELRegistry<ZELStreamDeserializer>::shared();
    if (!registry.containsEntryNamed(pairClassName)) {
        registry.registerEntry(pairClassName, [valueClassName](ZELStream& stream, uint64_t length) {
            return ZELSortedDiskDictionaryKeyValuePairSpecific::newDeserializedFromStream(
                stream, length, valueClassName);
        });
    }
    return pairClassName;
}

void ZELSortedDiskDictionaryKeyValuePair::registerPairClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& registry = ZELRegistry<ZELStreamDeserializer>::shared();
        registry.registerEntry(kPairClassName, [](ZELStream& stream, uint64_t length) {
            return ZELSortedDiskDictionaryKeyValuePair::newDeserializedFromStream(stream, length);
        });
        registry.registerEntry(kKeyOnlyPairClassName, [](ZELStream& stream, uint64_t length) {
            return ZELSortedDiskDictionaryKeyValuePair_KeyOnly::newDeserializedFromStream(stream,
                                                                                           length);
        });
    });
}
