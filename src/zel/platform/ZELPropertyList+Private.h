#pragma once

// Shared by the property-list files (the writer, the XML reader, the binary reader); not
// installed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELTypes.h"
#include "zel/platform/ZELValue.h"

// An error of code ZELErrorCodeInvalidData whose reason is "property list <source>: <problem>"
// (or "property list: <problem>" for an unnamed source).
ZELError ZELPropertyList_InvalidDataError(const std::string& sourceName,
                                          const std::string& problem);

// `text` in double quotes for a message: at most 40 characters, control characters, quotes and
// backslashes escaped, "..." marking a cut.
std::string ZELPropertyList_Excerpt(std::string_view text);

// The two readers behind ZELPropertyList::readData.
bool ZELPropertyList_ReadXML(const uint8_t* bytes, size_t length, const std::string& sourceName,
                             ZELValue* outValue, ZELError* outError);
bool ZELPropertyList_ReadBinary(const uint8_t* bytes, size_t length, const std::string& sourceName,
                                ZELValue* outValue, ZELError* outError);

// Dates in the XML form: ISO 8601 in UTC, "2001-01-01T00:00:00Z", with an optional fraction of
// a second ("2001-01-01T00:00:00.25Z"), years 0000 to 9999.
bool ZELPropertyList_DateFromISO8601(std::string_view text, ZELDate* outDate);
// Answers false for a date outside that range or not a number. The fraction is written in its
// shortest form that reads back as the same binary64 value, and only when not zero.
bool ZELPropertyList_ISO8601FromDate(ZELDate date, std::string* outText);
