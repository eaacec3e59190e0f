#pragma once

#include <compare>
#include <cstdint>

// Identifier of an item, an aspect bit value, a sorted-list key or a stored object.
// IDs start at 1; 0 means none. IDs held in ID vectors stay below 0x7FFFFFFF.
using ZELID = uint32_t;

inline constexpr ZELID ZELNoID = 0;

// A point in time as stored everywhere in the system: binary64 seconds since
// 1970-01-01 00:00:00 UTC.
struct ZELDate {
    double timeIntervalSince1970 = 0.0;

    friend auto operator<=>(const ZELDate&, const ZELDate&) = default;
};

// The boolean operations shared by queries, aspects and user criteria. Stored; never renumber.
enum ZELBooleanOperation : int32_t {
    ZELBooleanOperationAND = 0,
    ZELBooleanOperationOR = 1,
    ZELBooleanOperationNOT = 2,
};
