#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELValue.h"

class ZELError;

// What a database folder was written as: the format version, the ID width and byte order, the
// database's identifier and the client's schema version, plus a free dictionary of property-list
// values for the client. Kept in "ZELDatabaseInfo.plist" in the database folder. Owned by its
// database (std::shared_ptr), which checks it before loading anything; touched only under the
// database lock.
class ZELDatabaseMetaInfo : public ZELObject {
public:
    // The meta info file's name in the database folder.
    static constexpr const char* fileName = "ZELDatabaseInfo.plist";
    // What this library writes and accepts. Stored; never change.
    static constexpr int64_t currentFileVersion = 7;
    static constexpr int64_t supportedBitsPerID = 32;

    // Empty client dictionary, every other field zero (big-endian).
    static std::shared_ptr<ZELDatabaseMetaInfo> info();
    // Reads the file at `url` as a dictionary (initWithPropertyDictionary). Null when the file
    // cannot be read (the property-list reader's error: code 0 for a file that cannot be
    // opened, code 3 for a damaged one) or does not hold a dictionary (code 3 "meta-info file
    // does not contain a dictionary"), so that a caller can tell a missing file from a damaged
    // one.
    static std::shared_ptr<ZELDatabaseMetaInfo> infoWithURL(const std::string& url,
                                                            ZELError* outError = nullptr);
    // Each key present with a value of the right kind sets its field; other keys leave their
    // field zero (and so fail validation).
    static std::shared_ptr<ZELDatabaseMetaInfo> infoWithPropertyDictionary(
        const ZELValue::Dictionary& dictionary);
    // A fresh info for a database with `databaseIdentifier` whose client schema version is
    // `clientSchemaVersion` (ZELDatabaseInfo_ClientSchemaVersionForDatabase): version 7, 32 bits,
    // little-endian, and a copy of the client dictionary of `priorMetaInfo` when there is one.
    static std::shared_ptr<ZELDatabaseMetaInfo> infoWithDatabase(
        const std::string& databaseIdentifier, int64_t clientSchemaVersion,
        const ZELDatabaseMetaInfo* priorMetaInfo);

    // The six keys "ClientIdentifier", "Version", "ClientVersion", "BitsPerID", "Endianess"
    // ("little" or "big") and "ClientInfoDict".
    ZELValue::Dictionary propertyDictionary() const;
    // Writes propertyDictionary as an XML property list. The file is replaced atomically, so a
    // crash never leaves a half-written meta info that would make the folder look new. Failure:
    // error code 4 "could not write meta-info to <url>".
    bool writeToURL(const std::string& url, ZELError* outError) const;

    // Whether a database with `databaseIdentifier` and client schema version
    // `clientSchemaVersion` may load the folder this info describes. Checks, in order, the
    // version, the ID width, the byte order and the identifier (error code 1 "<reason> in
    // database meta-info file for '<identifier>'"), then the client schema version in either
    // direction (error code 2 "Database is too old.").
    bool validForLoadIntoDatabase(const std::string& databaseIdentifier,
                                  int64_t clientSchemaVersion, ZELError* outError) const;

    // Identifier, versions, bits, byte order and client dictionary all equal.
    bool isEqualToInfo(const ZELDatabaseMetaInfo& other) const;
    // isEqualToInfo when `other` is a meta info, else identity.
    bool isEqual(const ZELObject& other) const;

    const ZELValue::Dictionary& clientInfoDictionary() const { return clientInfo_; }
    // The client's value under `key`; none when absent.
    ZELValue clientPlistValueForKey(const ZELString& key) const;
    // Stores `value` under `key`; a none value removes the key.
    void setClientPlistValue(const ZELValue& value, const ZELString& key);
    // Lets `visitor` change the client dictionary in place.
    void accessMutableClientInfo(const std::function<void(ZELValue::Dictionary&)>& visitor);

    const std::string& databaseIdentifier() const { return dbIdent_; }
    void setDatabaseIdentifier(std::string identifier) { dbIdent_ = std::move(identifier); }
    int64_t databaseFileVersion() const { return dbFileVersion_; }
    void setDatabaseFileVersion(int64_t version) { dbFileVersion_ = version; }
    int64_t clientSchemaVersion() const { return clientVersion_; }
    void setClientSchemaVersion(int64_t version) { clientVersion_ = version; }
    int64_t bitsPerZELID() const { return bitsPerZELID_; }
    void setBitsPerZELID(int64_t bits) { bitsPerZELID_ = bits; }
    bool isLittleEndian() const { return isLittleEndian_; }
    void setIsLittleEndian(bool isLittleEndian) { isLittleEndian_ = isLittleEndian; }

    // "ZELDatabaseMetaInfo<0x...> with props <property dictionary>".
    std::string description() const override;

private:
    ZELDatabaseMetaInfo() = default;

    std::string dbIdent_;
    int64_t dbFileVersion_ = 0;
    int64_t clientVersion_ = 0;
    int64_t bitsPerZELID_ = 0;
    bool isLittleEndian_ = false;
    ZELValue::Dictionary clientInfo_;
};
