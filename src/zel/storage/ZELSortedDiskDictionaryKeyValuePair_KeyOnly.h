#pragma once

#include <memory>

#include "zel/storage/ZELSortedDiskDictionaryKeyValuePair.h"

// A record of a sorted dictionary read for its key alone, for scans that need no values: reading
// takes just the key string and makes a record without a value. It cannot be written.
class ZELSortedDiskDictionaryKeyValuePair_KeyOnly final : public ZELSortedDiskDictionaryKeyValuePair {
public:
    static std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair_KeyOnly> pairWithKey(ZELString key);

    // Writes nothing and answers false.
    bool serializeToStream(ZELStream& stream) const override;
    // Reads the key string only; `length` is ignored. Null when the read fails.
    static std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair_KeyOnly> newDeserializedFromStream(
        ZELStream& stream, uint64_t length);

private:
    explicit ZELSortedDiskDictionaryKeyValuePair_KeyOnly(ZELString key);
};
