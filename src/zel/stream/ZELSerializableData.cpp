#include "zel/stream/ZELSerializableData.h"

#include "zel/stream/ZELStream.h"
#include "zel/stream/ZELValue+MemoryEstimate.h"

std::shared_ptr<ZELSerializableData> ZELSerializableData::dataWithValue(ZELData value) {
    return std::make_shared<ZELSerializableData>(std::move(value));
}

bool ZELSerializableData::serializeToStream(ZELStream& stream) const {
    return stream.writeData(value_);
}

std::shared_ptr<ZELSerializableData> ZELSerializableData::newDeserializedFromStream(
    ZELStream& stream, uint64_t length) {
    std::optional<ZELData> value = stream.newReadDataOfLength(length);
    return value ? dataWithValue(std::move(*value)) : nullptr;
}

uint64_t ZELSerializableData::byteCountInActiveRAM() const {
    return ZELData_ByteCountInActiveRAM(value_);
}
