#pragma once

#include <cstdint>
#include <string_view>

#include "zel/platform/ZELValue.h"
#include "zel/stream/ZELData.h"

// Memory estimates (byteCountInActiveRAM) of the plain value types, on which the storage
// layer's memory accounting and compaction rest. "Object size" is the size of the C++ object
// that holds the value. Plain functions; any thread.

// The estimate of any object that has none of its own.
inline constexpr uint64_t ZELOtherObjectByteCountInActiveRAM = 8;

// Object size + 2 bytes per UTF-16 code unit.
uint64_t ZELString_ByteCountInActiveRAM(std::u16string_view string);
// Object size + length.
uint64_t ZELData_ByteCountInActiveRAM(const ZELData& data);
// By kind, with sizeof(ZELValue) as the object size: booleans and numbers object size + 8;
// strings object size + 2 per code unit; data object size + length; arrays object size +
// 8 per element + the estimates of the elements; dictionaries object size + 32 per entry +
// the estimates of the keys (as strings) and values; an ID vector or a serializable string or
// byte buffer its own estimate; anything else (none, dates, other objects) 8.
uint64_t ZELValue_ByteCountInActiveRAM(const ZELValue& value);
