#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "zel/platform/ZELTypes.h"
#include "zel/platform/ZELValue.h"

// Conversion between JSON and the system's values, for the zel tool's inputs and outputs.
// Plain functions; any thread.
//
// JSON has no dates and no byte buffers, so both are written as one-key objects:
//   {"$date": "2024-03-01T12:00:00Z"}   a date (ISO 8601, see ZELJSON_DateFromISO8601; a
//                                      number is read as seconds since 1970)
//   {"$data": "AAEC"}                  a byte buffer in base64
// Every other object is a dictionary. Integers that fit in 64 bits stay integers, larger ones
// become reals. A client object has no JSON form and is written as null.

// Values nest at most this deep; deeper input is refused rather than risking the stack.
inline constexpr int ZELJSON_MaximumNestingDepth = 64;

// The value of `json`; none with a message in `*outMessage` for nesting past the limit or a
// malformed "$date" / "$data" object.
std::optional<ZELValue> ZELJSON_ValueFromJSON(const nlohmann::json& json, std::string* outMessage);

// The JSON form of `value`, as described above.
nlohmann::json ZELJSON_JSONFromValue(const ZELValue& value);

// "YYYY-MM-DD", optionally followed by "THH:MM" or "THH:MM:SS" with an optional fraction of
// seconds and an optional zone ("Z", "+HH:MM", "-HH:MM", "+HHMM"); a space may stand for the
// "T". No zone means UTC. None for anything else or an out-of-range field.
std::optional<ZELDate> ZELJSON_DateFromISO8601(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ" in UTC, with the fraction of seconds (up to microseconds, trailing
// zeros dropped) when the date has one. Dates outside the years 0000 to 9999 (and non-finite
// ones) give their number of seconds as text instead.
std::string ZELJSON_ISO8601FromDate(ZELDate date);

// The parser's own words from a parse error ("syntax error while parsing value - ..."),
// without its exception name and position, which the caller states in its own terms.
std::string ZELJSON_ParseErrorText(const nlohmann::json::parse_error& error);
