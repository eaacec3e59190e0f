#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zel/platform/ZELValue.h"

class ZELError;

// Reads and writes property-list files: the meta files, aspect definitions, queries and saved
// searches of a database. Reading accepts the XML form ("<plist version="1.0">...") and the
// binary form ("bplist00"); writing produces the XML form only. Everything a file does not
// allow (a malformed number, date or base64 block, a duplicate key, an unknown element, bad
// UTF-8, entity declarations, trailing garbage, nesting past `maximumNestingDepth`) fails with
// an error of code ZELErrorCodeInvalidData whose reason names the input, the problem and, for
// XML, the line. Stateless; any thread may call it.
class ZELPropertyList {
public:
    // Containers nest at most this deep, in what is read and in what is written. It stays
    // below libxml2's own element-depth limit (256) so that anything written can be read back.
    static constexpr int maximumNestingDepth = 200;

    // Reads the file at `path`. A file that cannot be opened or read fails with code
    // ZELErrorCodeFileAccess and the system's reason.
    static bool readFile(const std::string& path, ZELValue* outValue, ZELError* outError);

    // Reads XML or binary form; `sourceName` names the input in error messages.
    static bool readData(const uint8_t* bytes, size_t length, const std::string& sourceName,
                         ZELValue* outValue, ZELError* outError);

    // Writes `value` in XML form, atomically: a temporary file in the same folder is written,
    // flushed to disk and renamed over `path`. A value that has no property-list form fails with
    // ZELErrorCodeInvalidData (see xmlData); a failed write with ZELErrorCodeWriteFailed.
    static bool writeFile(const std::string& path, const ZELValue& value, ZELError* outError);

    // The XML form of `value`: dictionaries in key order, one tab per nesting level, reals in
    // their shortest exact form. Fails (ZELErrorCodeInvalidData) for a none or client-object
    // value anywhere inside, a date outside the years 0000 to 9999, a string that XML cannot
    // hold (control characters, unpaired surrogates, U+FFFE, U+FFFF) and nesting deeper than
    // `maximumNestingDepth`.
    static bool xmlData(const ZELValue& value, std::string* outXML, ZELError* outError);
};
