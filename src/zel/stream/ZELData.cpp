#include "zel/stream/ZELData.h"

#include "zel/stream/ZELString+ByteString.h"

namespace {

void appendBytes(ZELData& data, const void* bytes, uint64_t length) {
    const auto* first = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), first, first + length);
}

}  // namespace

void ZELData_AppendZELID(ZELData& data, ZELID id) {
    appendBytes(data, &id, sizeof id);
}

void ZELData_AppendZELInt32Little(ZELData& data, int32_t value) {
    appendBytes(data, &value, sizeof value);
}

void ZELData_AppendZELDate(ZELData& data, ZELDate date) {
    appendBytes(data, &date.timeIntervalSince1970, sizeof date.timeIntervalSince1970);
}

void ZELData_AppendZELBytesAndPadding(ZELData& data, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    appendBytes(data, bytes.data(), bytes.size());
    data.resize(data.size() + ZELPaddingForLength(bytes.size()), 0);
}

void ZELData_AppendZELString(ZELData& data, std::u16string_view string) {
    const uint64_t byteLength = ZELString_MaximumLengthOfZELByteString(string) - 1;
    if (byteLength > UINT32_MAX) return;  // no 32-bit length can describe it
    const auto storedLength = static_cast<uint32_t>(byteLength);
    appendBytes(data, &storedLength, sizeof storedLength);
    appendBytes(data, string.data(), byteLength);
    data.resize(data.size() + ZELPaddingForLength(byteLength), 0);
}
