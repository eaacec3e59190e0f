#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "zel/platform/ZELTypes.h"

// Every stored form is little-endian, and the encoders copy integers, IDs and UTF-16 code
// units straight between memory and the stored bytes.
static_assert(std::endian::native == std::endian::little,
              "the stored forms are little-endian and are copied straight from memory");

// A growable byte buffer: what data streams read and write and what the append operations
// below extend. A plain value; a data stream shares it with its creator through
// std::shared_ptr. Belongs to one thread at a time.
using ZELData = std::vector<uint8_t>;

// Append operations: each appends, at the end of `data`, one value in the stored form the
// streams use (see ZELStream and docs/FORMATS.md), for code that builds byte buffers without
// a stream. The ID vector form is appended by ZELData_AppendZELIDVector
// (zel/idvector/ZELIDVector+Serialization.h).

// 4 bytes, little-endian.
void ZELData_AppendZELID(ZELData& data, ZELID id);
void ZELData_AppendZELInt32Little(ZELData& data, int32_t value);
// 8 bytes: binary64 seconds since 1970-01-01 00:00:00 UTC.
void ZELData_AppendZELDate(ZELData& data, ZELDate date);
// Nothing for an empty span; else the bytes, then zero bytes up to a multiple of 4.
void ZELData_AppendZELBytesAndPadding(ZELData& data, std::span<const uint8_t> bytes);
// The string form: uint32 byte length L of the UTF-16LE form, the L bytes, zero padding to 4.
// A string whose byte length does not fit in 32 bits appends nothing.
void ZELData_AppendZELString(ZELData& data, std::u16string_view string);

// Zero bytes that follow `length` bytes to reach a multiple of 4.
constexpr uint64_t ZELPaddingForLength(uint64_t length) {
    return (4 - length % 4) % 4;
}
