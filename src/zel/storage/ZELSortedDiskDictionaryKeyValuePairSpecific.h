#pragma once

#include <memory>
#include <optional>
#include <string>

#include "zel/storage/ZELSortedDiskDictionaryKeyValuePair.h"

// A record of a sorted dictionary whose values are all of one class: the value is written in
// its own form, without its class name, and read back by that class. Each value class has its
// own record type, named "ZELSortedDiskDictionaryKeyValuePairSpecific_<value class>" and made
// by ZELSortedDiskDictionaryKeyValuePair::makeKeyValuePairClassForValueClass.
class ZELSortedDiskDictionaryKeyValuePairSpecific final
    : public ZELSortedDiskDictionaryKeyValuePair {
public:
    // A record of the type made for `valueClassName`, which registers that type.
    // Requires: `value` is of that class.
    static std::shared_ptr<ZELSortedDiskDictionaryKeyValuePairSpecific> pairWithKey(
        const std::string& valueClassName, ZELString key,
        std::shared_ptr<ZELStreamSerializable> value);

    std::optional<std::string> requiredValueClass() const override { return valueClassName_; }
    // "ZELSortedDiskDictionaryKeyValuePairSpecific_<value class>".
    std::string className() const override;

    // Reads a record whose value is of `valueClassName` (registered in
    // ZELRegistry<ZELStreamDeserializer>); null when the stream fails, the class is not
    // registered (error 3) or the value length is inconsistent (error 3).
    static std::shared_ptr<ZELSortedDiskDictionaryKeyValuePairSpecific> newDeserializedFromStream(
        ZELStream& stream, uint64_t length, const std::string& valueClassName);

    // The type name for `valueClassName`.
    static std::string classNameForValueClass(const std::string& valueClassName);

private:
    ZELSortedDiskDictionaryKeyValuePairSpecific(std::string valueClassName, ZELString key,
                                                std::shared_ptr<ZELStreamSerializable> value);

    std::string valueClassName_;
};
