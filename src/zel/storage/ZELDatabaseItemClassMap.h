#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELValue.h"

class ZELError;

// What the class map asks of its database while loading: whether the process knows an item
// class by a stored name, and which class stands in for one it does not know (the database
// delegate's ZELDatabase:encounteredUnknownItemClassName). Implemented by the database; held
// without ownership for the length of the load.
class ZELDatabaseItemClassResolver {
public:
    virtual ~ZELDatabaseItemClassResolver() = default;
    // Whether an item class is registered under `className`.
    virtual bool isKnownItemClassName(const std::string& className) const = 0;
    // The name of a registered class to use for the unknown `className`; none to fall back to
    // the base item class.
    virtual std::optional<std::string> substituteForUnknownItemClassName(
        const std::string& className) const = 0;
};

// Gives every item class that was ever stored a small token, the first four bytes of each of
// its items' blobs, so that a blob can be turned back into an item of the right class. Item
// classes are named by their registered class names. Kept in "storage"/"itemClasses.plist";
// tokens start at 1 and are never reused or renumbered. Owned by its database
// (std::shared_ptr) and touched only under the database lock.
class ZELDatabaseItemClassMap : public ZELObject {
public:
    // The class that stands in for a stored class that neither the process nor the delegate
    // knows.
    static constexpr const char* baseItemClassName = "ZELItem";
    // The file format version written and accepted. Stored; never change.
    static constexpr int64_t fileVersion = 1;

    // An empty map for the file at `url`; nothing is read.
    static std::shared_ptr<ZELDatabaseItemClassMap> mapWithFileAtURL(std::string url);

    const std::string& fileURL() const { return fileURL_; }
    // The map differs from its file.
    bool hadChanges() const { return hadChanges_; }

    // Reads the file. A missing file gives an empty map marked changed (so that the first save
    // creates the file). Each stored name resolves to itself when `resolver` knows it, else to
    // the resolver's substitute, else to "ZELItem"; the stored names stay as they were. Errors:
    // code 0 "database class map file failed to load" (unreadable or empty), code 1
    // "unsupported database class map file version", code 3 "database class map file does not
    // contain dictionary", and code 3 "database class map file has a malformed entry" (a token
    // that is not a decimal number from 1 to 4294967295, or a name that is not a non-empty
    // string). A failed load leaves the map as it was.
    bool loadWithDatabase(const ZELDatabaseItemClassResolver& resolver, ZELError* outError);
    // Writes the file atomically when the map changed; success clears hadChanges. Failure:
    // error code 4 "could not write database class map".
    bool ensureSerializedAndGetError(ZELError* outError);

    // The token of the item class named `className`; a class not yet in the map gets the next
    // token and marks the map changed.
    uint32_t tokenForItemClass(const std::string& className);
    // The name of the resolved class for `token`; none for an unknown token.
    std::optional<std::string> itemClassForToken(uint32_t token) const;

    // The name map exactly as stored: token as decimal string -> stored class name.
    const ZELValue::Dictionary& itemClassNameMap() const { return itemClassNameMap_; }

    std::string description() const override;

private:
    explicit ZELDatabaseItemClassMap(std::string url);

    uint32_t addTokenForItemClass(const std::string& className);

    std::string fileURL_;
    ZELValue::Dictionary itemClassNameMap_;
    bool hadChanges_ = false;
    std::map<std::string, uint32_t> tokenMap_;      // resolved class name -> token
    std::map<uint32_t, std::string> itemClassMap_;  // token -> resolved class name
};
