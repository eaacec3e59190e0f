#include "zel/storage/ZELSortedDiskDictionaryKeyValuePair_KeyOnly.h"

#include "zel/stream/ZELStream.h"

std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair_KeyOnly>
ZELSortedDiskDictionaryKeyValuePair_KeyOnly::pairWithKey(ZELString key) {
    registerPairClasses();
    return std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair_KeyOnly>(
        new ZELSortedDiskDictionaryKeyValuePair_KeyOnly(std::move(key)));
}

ZELSortedDiskDictionaryKeyValuePair_KeyOnly::ZELSortedDiskDictionaryKeyValuePair_KeyOnly(
    ZELString key)
    : ZELSortedDiskDictionaryKeyValuePair(std::move(key), nullptr) {}

bool ZELSortedDiskDictionaryKeyValuePair_KeyOnly::serializeToStream(ZELStream& stream) const {
    (void)stream;
    return false;
}

std::shared_ptr<ZELSortedDiskDictionaryKeyValuePair_KeyOnly>
ZELSortedDiskDictionaryKeyValuePair_KeyOnly::newDeserializedFromStream(ZELStream& stream,
                                                                       uint64_t length) {
    (void)length;
    std::optional<ZELString> key = stream.newReadZELString();
    if (!key) return nullptr;
    return pairWithKey(std::move(*key));
}
