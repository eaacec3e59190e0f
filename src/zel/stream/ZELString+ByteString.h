#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "zel/platform/ZELString.h"

// The byte string of a string, the form every stored string uses: its UTF-16 code units in
// order, 2 bytes each, little-endian, without a byte order mark or terminator. Its length in
// bytes is twice the number of code units. Plain functions; any thread.

// The largest byte-string length the string can need, plus 1.
uint64_t ZELString_MaximumLengthOfZELByteString(std::u16string_view string);

// Writes the byte string into `buffer` as far as whole code units fit in `bufferLength`
// bytes, stores the bytes used in `*usedLength` (when given), and answers whether the whole
// string fit.
bool ZELString_GetZELByteString(std::u16string_view string, uint8_t* buffer, uint64_t bufferLength,
                                uint64_t* usedLength);

// The string whose byte string is the `length` bytes at `bytes` (a final odd byte is not part
// of any code unit and is dropped). The bytes are copied: a ZELString owns its storage.
ZELString ZELString_WithZELByteString(const uint8_t* bytes, uint64_t length);

// Calls visitor(unit, index) for every code unit in order.
void ZELString_EnumerateZELByteStringUnits(
    std::u16string_view string, const std::function<void(uint16_t unit, uint64_t index)>& visitor);
