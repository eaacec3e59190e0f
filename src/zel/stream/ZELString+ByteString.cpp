#include <algorithm>
#include <cstring>

#include "zel/stream/ZELData.h"  // little-endian build
#include "zel/stream/ZELString+ByteString.h"

uint64_t ZELString_MaximumLengthOfZELByteString(std::u16string_view string) {
    return uint64_t{string.size()} * 2 + 1;
}

bool ZELString_GetZELByteString(std::u16string_view string, uint8_t* buffer, uint64_t bufferLength,
                                uint64_t* usedLength) {
    const uint64_t unitCount = std::min<uint64_t>(string.size(), bufferLength / 2);
    if (unitCount > 0) std::memcpy(buffer, string.data(), unitCount * 2);
    if (usedLength) *usedLength = unitCount * 2;
    return unitCount == string.size();
}

ZELString ZELString_WithZELByteString(const uint8_t* bytes, uint64_t length) {
    ZELString string(length / 2, u'\0');
    if (!string.empty()) std::memcpy(string.data(), bytes, string.size() * 2);
    return string;
}

void ZELString_EnumerateZELByteStringUnits(
    std::u16string_view string, const std::function<void(uint16_t unit, uint64_t index)>& visitor) {
    for (uint64_t index = 0; index < string.size(); ++index) {
        visitor(static_cast<uint16_t>(string[index]), index);
    }
}
