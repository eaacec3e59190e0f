#include "zel/stream/ZELSerializableString.h"

#include "zel/stream/ZELStream.h"
#include "zel/stream/ZELValue+MemoryEstimate.h"

std::shared_ptr<ZELSerializableString> ZELSerializableString::stringWithValue(ZELString value) {
    return std::make_shared<ZELSerializableString>(std::move(value));
}

uint64_t ZELSerializableString::serializedByteCount() const {
    return ZELStream::byteCountForSerializedZELString(value_);
}

bool ZELSerializableString::serializeToStream(ZELStream& stream) const {
    return stream.writeZELString(value_);
}

std::shared_ptr<ZELSerializableString> ZELSerializableString::newDeserializedFromStream(
    ZELStream& stream, uint64_t) {
    std::optional<ZELString> value = stream.newReadZELString();
    return value ? stringWithValue(std::move(*value)) : nullptr;
}

uint64_t ZELSerializableString::byteCountInActiveRAM() const {
    return ZELString_ByteCountInActiveRAM(value_);
}
