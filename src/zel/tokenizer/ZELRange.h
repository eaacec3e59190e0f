#pragma once

#include <cstddef>
#include <cstdint>

// The location answered when a search finds nothing.
inline constexpr size_t ZELNotFound = SIZE_MAX;

// A stretch of UTF-16 code units of a text: its first unit and its length. A range whose
// location is ZELNotFound means "nothing found". Plain value.
struct ZELRange {
    size_t location = 0;
    size_t length = 0;

    static constexpr ZELRange notFound() { return ZELRange{ZELNotFound, 0}; }

    constexpr size_t end() const { return location + length; }
    constexpr bool isNotFound() const { return location == ZELNotFound; }
    constexpr bool isEmpty() const { return length == 0; }

    friend constexpr bool operator==(const ZELRange&, const ZELRange&) = default;
};
