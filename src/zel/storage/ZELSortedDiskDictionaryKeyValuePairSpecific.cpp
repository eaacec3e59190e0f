#include "zel/storage/ZELSortedDiskDictionaryKeyValuePairSpecific.h"

std::shared_ptr<ZELSortedDiskDictionaryKeyValuePairSpecific>
ZELSortedDiskDictionaryKeyValuePairSpecific::pairWithKey(
    const std::string& valueClassName, ZELString key,
    std::shared_ptr<ZELStreamSerializable> value) {
    makeKeyValuePairClassForValueClass(valueClassName);
    return std::shared_ptr<ZELSortedDiskDictionaryKeyValuePairSpecific>(
        new ZELSortedDiskDictionaryKeyValuePairSpecific(valueClassName, std::move(key),
                                                        std::move(value)));
}

ZELSortedDiskDictionaryKeyValuePairSpecific::ZELSortedDiskDictionaryKeyValuePairSpecific(
    std::string valueClassName, ZELString key, std::shared_ptr<ZELStreamSerializable> value)
    : ZELSortedDiskDictionaryKeyValuePair(std::move(key), std::move(value)),
      valueClassName_(std::move(valueClassName)) {}

std::string ZELSortedDiskDictionaryKeyValuePairSpecific::className() const {
    return classNameForValueClass(valueClassName_);
}

std::string ZELSortedDiskDictionaryKeyValuePairSpecific::classNameForValueClass(
    const std::string& valueClassName) {
    return "ZELSortedDiskDictionaryKeyValuePairSpecific_" + valueClassName;
}

std::shared_ptr<ZELSortedDiskDictionaryKeyValuePairSpecific>
ZELSortedDiskDictionaryKeyValuePairSpecific::newDeserializedFromStream(
    ZELStream& stream, uint64_t length, const std::string& valueClassName) {
    ZELString key;
    std::shared_ptr<ZELStreamSerializable> value;
    if (!readKeyAndValue(stream, length, valueClassName, &key, &value)) return nullptr;
    return pairWithKey(valueClassName, std::move(key), std::move(value));
}
