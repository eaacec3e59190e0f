#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "zel/idvector/ZELIDVector.h"
#include "zel/platform/ZELError.h"
#include "zel/stream/ZELData.h"

// The byte forms of ID vectors outside streams. Inside streams (and in a vector's
// serializeToStream) a vector takes the stream form, uint32 count then the IDs; for a vector
// that must stand alone in a byte buffer handed to a client there is the self-describing
// stand-alone form below. Plain functions; any thread.
//
// Stand-alone form, all fields little-endian; nothing may follow the IDs:
//   offset 0   uint32  magic 0x081A081A (bytes 1A 08 1A 08)
//   offset 4   uint32  version 1
//   offset 8   uint32  count
//   offset 12  count x uint32  the IDs, ascending
// Stored by clients; never change.
inline constexpr uint32_t ZELIDVectorSerializedMagic = 0x081A081A;
inline constexpr uint32_t ZELIDVectorSerializedVersion = 1;
inline constexpr uint64_t ZELIDVectorSerializedHeaderLength = 12;

// A new buffer holding `vector` in the stand-alone form; none when memory runs out.
std::optional<ZELData> ZELIDVector_NewSerializedData(const ZELIDVector& vector);

// A new immutable array-backed vector holding a copy of the IDs of a stand-alone form, or null
// with error 3 (ZELErrorCodeInvalidData) when the bytes are not one, checked in this order:
// "Serialized ZELIDVector data is too short." (fewer than 12 bytes),
// "Serialized ZELIDVector data has bad magic number.",
// "Serialized ZELIDVector data has unsupported version.",
// "Serialized ZELIDVector length does not match saved ID count." (length is not exactly
// 12 + 4 x count). The order of the IDs is not checked.
std::shared_ptr<ZELIDVector> ZELIDVector_VectorWithSerializedData(std::span<const uint8_t> data,
                                                                  ZELError* outError);

// Appends the stream form (uint32 count, then the IDs), written through a data write stream
// over `data`.
void ZELData_AppendZELIDVector(ZELData& data, const ZELIDVector& vector);

// Reads a stream-form vector from the memory between `cursor` and `end` and moves `cursor`
// past it (4 + 4 x count bytes): an empty immutable vector for a count of 0, else an immutable
// vector holding a copy of the IDs. Null, with `cursor` unchanged, when the memory does not
// hold the whole vector.
std::shared_ptr<ZELIDVector> ZELData_ReadZELIDVector(const uint8_t*& cursor, const uint8_t* end);
