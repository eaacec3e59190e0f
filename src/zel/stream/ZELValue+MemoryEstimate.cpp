#include "zel/stream/ZELValue+MemoryEstimate.h"

#include "zel/idvector/ZELIDVector.h"
#include "zel/stream/ZELSerializableData.h"
#include "zel/stream/ZELSerializableString.h"

namespace {

uint64_t objectByteCountInActiveRAM(const ZELObject* object) {
    if (const auto* vector = dynamic_cast<const ZELIDVector*>(object)) {
        return vector->byteCountInActiveRAM();
    }
    if (const auto* string = dynamic_cast<const ZELSerializableString*>(object)) {
        return string->byteCountInActiveRAM();
    }
    if (const auto* data = dynamic_cast<const ZELSerializableData*>(object)) {
        return data->byteCountInActiveRAM();
    }
    return ZELOtherObjectByteCountInActiveRAM;
}

}  // namespace

uint64_t ZELString_ByteCountInActiveRAM(std::u16string_view string) {
    return sizeof(ZELString) + uint64_t{string.size()} * 2;
}

uint64_t ZELData_ByteCountInActiveRAM(const ZELData& data) {
    return sizeof(ZELData) + data.size();
}

uint64_t ZELValue_ByteCountInActiveRAM(const ZELValue& value) {
    constexpr uint64_t objectSize = sizeof(ZELValue);
    switch (value.kind()) {
        case ZELValue::Kind::Boolean:
        case ZELValue::Kind::Integer:
        case ZELValue::Kind::Real:
            return objectSize + 8;
        case ZELValue::Kind::String:
            return objectSize + uint64_t{value.stringValue().size()} * 2;
        case ZELValue::Kind::Data:
            return objectSize + value.dataValue().size();
        case ZELValue::Kind::Array: {
            uint64_t total = objectSize + 8 * uint64_t{value.arrayValue().size()};
            for (const ZELValue& element : value.arrayValue()) {
                total += ZELValue_ByteCountInActiveRAM(element);
            }
            return total;
        }
        case ZELValue::Kind::Dictionary: {
            uint64_t total = objectSize + 32 * uint64_t{value.dictionaryValue().size()};
            for (const auto& [key, element] : value.dictionaryValue()) {
                total += ZELString_ByteCountInActiveRAM(key) + ZELValue_ByteCountInActiveRAM(element);
            }
            return total;
        }
        case ZELValue::Kind::Object:
            return objectByteCountInActiveRAM(value.objectValue().get());
        case ZELValue::Kind::None:
        case ZELValue::Kind::Date:
            break;
    }
    return ZELOtherObjectByteCountInActiveRAM;
}
