#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStreamSerializable.h"

// One record of a sorted dictionary keyed by string: a key and a stream-serializable value
// (shared). The record types form a family: this base type writes its value class-tagged,
// ZELSortedDiskDictionaryKeyValuePair_KeyOnly reads only keys, and
// ZELSortedDiskDictionaryKeyValuePairSpecific types write their value in the bare form of the
// one value class they were made for. A record type is named by the name its deserializer is
// registered under (ZELRegistry<ZELStreamDeserializer>). Records are immutable; any thread may
// read them.
//
// Stored form:
//   string        the key (uint32 byte length, UTF-16LE bytes, zero padding to 4)
//   uint32        V, the value's byte count
//   V bytes       the value: its class name as a string, then its own form; or, for a record
//                 type made for a value class, its own form only
class ZELSortedDiskDictionaryKeyValuePair : public ZELStreamSerializable {
public:
    static std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair> pairWithKey(
        ZELString key, std::shared_ptr<ZELStreamSerializable> value);

    const ZELString& key() const { return key_; }
    const std::shared_ptr<ZELStreamSerializable>& keyValue() const { return value_; }
    // The value class the record type was made for; none for this base type (the value then
    // carries its class name).
    virtual std::optional<std::string> requiredValueClass() const { return std::nullopt; }

    // Key form + 4 + value form. Requires: the record has a value.
    uint64_t serializedByteCount() const override;
    // Writes the stored form; answers false (writing nothing) for a record without a value.
    bool serializeToStream(ZELStream& stream) const override;
    // Reads a record of this base type; `length` bounds the record. Null when the stream fails
    // or the stored value length does not fit in `length` or disagrees with the value read
    // (error 3).
    static std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair> newDeserializedFromStream(
        ZELStream& stream, uint64_t length);

    // The record's own size plus the key's and the value's estimates.
    uint64_t byteCountInActiveRAM() const;

    // The name of the key-only record type.
    static std::string keyOnlyPairClass();
    // The name of the record type for values of the class registered as `valueClassName`:
    // "ZELSortedDiskDictionaryKeyValuePairSpecific_<value class>", registered on first request.
    // None for an empty name.
    static std::optional<std::string> makeKeyValuePairClassForValueClass(
        const std::string& valueClassName);
    // Registers the base and key-only record types for class-tagged reads. Every factory above
    // does it; call it before reading records written class-tagged in an earlier run.
    static void registerPairClasses();

protected:
    ZELSortedDiskDictionaryKeyValuePair(ZELString key, std::shared_ptr<ZELStreamSerializable> value);

    // Reads the key, the value length and a value of that length (class-tagged without a
    // required class); false when any of it fails.
    static bool readKeyAndValue(ZELStream& stream, uint64_t length,
                                const std::optional<std::string>& requiredValueClass,
                                ZELString* outKey,
                                std::shared_ptr<ZELStreamSerializable>* outValue);

private:
    ZELString key_;
    std::shared_ptr<ZELStreamSerializable> value_;
};
