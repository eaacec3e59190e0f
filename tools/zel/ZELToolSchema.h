#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"

// The schema a database is created from (`zel create DIR --schema SCHEMA.json`): a JSON
// object
//
//   {
//     "identifier": "org.example.notes",      database identifier (required)
//     "clientVersion": 1,                     client schema version (default 1)
//     "existenceKey": "path",                 record key giving existence tokens (optional)
//     "duplicateKeys": ["package", "version"], record keys whose values together make a
//                                             record a duplicate of a stored one (optional)
//     "dateKeys": ["modified"],               record keys whose texts (ISO 8601) or numbers
//                                             (seconds since 1970) are read as dates
//     "aspects": [                            at least one
//       {
//         "identifier": "title",              aspect identifier (required, unique)
//         "tokenizer": "ZELWordTokenizer",    registered tokenizer class (required)
//         "key": "title",                     record key read by the tokenizer (default:
//                                             the identifier); a detected-text tokenizer
//                                             reads the links found in the key's text
//         "options": {},                      extra keys of the tokenizer's representation
//         "detectsDuplicates": false,         terms take part in duplicate detection
//         "showsLabel": false,                the aspect's label is shown beside its values
//         "defaultBooleanOp": "AND",          "AND", "OR" or "NOT" (or 0, 1, 2)
//         "searchPrefixes": ["from"]          words typed as "from:word" search this aspect
//                                             (a prefix may name several aspects; an aspect's
//                                             identifier always works as its prefix)
//       }
//     ]
//   }
//
// Unknown keys are refused, so that a misspelt key never passes unnoticed.
struct ZELToolAspectSchema {
    ZELString identifier;
    std::string tokenizerClass;
    // The tokenizer's serialized representation: the options with "TokenizerClass" and
    // "ClientObjectGetter" (the key).
    ZELValue tokenizerRepresentation;
    bool detectsDuplicates = false;
    bool showsLabel = false;
    int32_t defaultBooleanOp = 0;
    std::vector<ZELString> searchPrefixes;
};

struct ZELToolSchema {
    std::string identifier;
    int64_t clientVersion = 1;
    ZELString existenceKey;
    std::vector<ZELString> duplicateKeys;
    std::vector<ZELString> dateKeys;
    std::vector<ZELToolAspectSchema> aspects;
};

// Reads and checks the schema file at `path` (every tokenizer is made once, so an unknown
// class is caught here). None with a one-line message "PATH:LINE: problem" on failure.
std::optional<ZELToolSchema> ZELToolReadSchema(const std::string& path, std::string* outMessage);
// The same for schema text; `sourceName` stands for the path in messages.
std::optional<ZELToolSchema> ZELToolParseSchema(const std::string& text, const std::string& sourceName,
                                                std::string* outMessage);

// The tool's own settings as kept in the database's client property-list values (under
// "ZELTool": "ExistenceKey", "DuplicateKeys", "DateKeys", "DuplicateDetectionAspects",
// "SearchPrefixes"), so that `zel add` treats records and `zel search` reads prefixes as the
// schema said.
struct ZELToolSettings {
    ZELString existenceKey;
    std::vector<ZELString> duplicateKeys;
    std::vector<ZELString> dateKeys;
    std::vector<ZELString> duplicateDetectionAspects;
    // Search prefix → the identifiers of the aspects it narrows a word to, in schema order.
    std::map<ZELString, std::vector<ZELString>> searchPrefixes;

    static constexpr const char16_t* clientPlistKey = u"ZELTool";
    static ZELToolSettings fromSchema(const ZELToolSchema& schema);
    static ZELToolSettings fromPlistValue(const ZELValue& value);
    ZELValue plistValue() const;
};

// The 1-based line of byte `offset` in `text`.
size_t ZELToolLineOfOffset(const std::string& text, size_t offset);

// Detected text: ZELDetectedTextInfoTokenizer and its subclasses (ZELDetectedTextLinkTokenizer)
// read a ZELDetectedTextInfo, which records cannot hold. An aspect of the schema with such a
// tokenizer reads its record key through the getter "detectedText:KEY" instead (kept in
// "aspects.plist"), which answers the links found in the record's text under KEY.

// "detectedText:" followed by `key`.
std::string ZELToolDetectedTextGetterName(const std::string& key);
// Registers the getter `getterName` when it has the form above (once); other names are left
// alone. The schema reader and the opening of a database call it for their aspects.
void ZELToolRegisterDetectedTextGetter(const std::string& getterName);
