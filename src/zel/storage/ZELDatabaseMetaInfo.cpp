#include "zel/storage/ZELDatabaseMetaInfo.h"

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELString.h"

// The meta info file is an XML property list holding one dictionary:
//
//   "ClientIdentifier"  string      the database's identifier
//   "Version"           integer     7
//   "ClientVersion"     integer     the client's schema version
//   "BitsPerID"         integer     32
//   "Endianess"         string      "little" (any other text reads as big-endian)
//   "ClientInfoDict"    dictionary  property-list values chosen by the client
//
// Keys are stored; never rename them.

namespace {

const ZELString kKeyClientIdentifier = u"ClientIdentifier";
const ZELString kKeyVersion = u"Version";
const ZELString kKeyClientVersion = u"ClientVersion";
const ZELString kKeyBitsPerID = u"BitsPerID";
const ZELString kKeyEndianess = u"Endianess";
const ZELString kKeyClientInfoDict = u"ClientInfoDict";
const ZELString kLittleEndian = u"little";
const ZELString kBigEndian = u"big";

// The integer under `key` when it holds a number; `fallback` otherwise.
int64_t integerForKey(const ZELValue::Dictionary& dictionary, const ZELString& key,
                      int64_t fallback) {
    const auto found = dictionary.find(key);
    if (found == dictionary.end() || !found->second.isNumber()) return fallback;
    return found->second.integerValue();
}

}  // namespace

std::shared_ptr<ZELDatabaseMetaInfo> ZELDatabaseMetaInfo::info() {
    return std::shared_ptr<ZELDatabaseMetaInfo>(new ZELDatabaseMetaInfo());
}

std::shared_ptr<ZELDatabaseMetaInfo> ZELDatabaseMetaInfo::infoWithURL(const std::string& url,
                                                                       ZELError* outError) {
    ZELValue value;
    if (!ZELPropertyList::readFile(url, &value, outError)) return nullptr;
    if (!value.isDictionary()) {
        ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                  ZELErrorCodeInvalidData,
                                  "meta-info file does not contain a dictionary"));
        return nullptr;
    }
    return infoWithPropertyDictionary(value.dictionaryValue());
}

std::shared_ptr<ZELDatabaseMetaInfo> ZELDatabaseMetaInfo::infoWithPropertyDictionary(
    const ZELValue::Dictionary& dictionary) {
    auto info = ZELDatabaseMetaInfo::info();
    if (const auto found = dictionary.find(kKeyClientIdentifier);
        found != dictionary.end() && found->second.isString()) {
        info->dbIdent_ = found->second.utf8Value();
    }
    info->dbFileVersion_ = integerForKey(dictionary, kKeyVersion, 0);
    info->clientVersion_ = integerForKey(dictionary, kKeyClientVersion, 0);
    info->bitsPerZELID_ = integerForKey(dictionary, kKeyBitsPerID, 0);
    if (const auto found = dictionary.find(kKeyEndianess); found != dictionary.end()) {
        info->isLittleEndian_ = found->second.isString() && found->second.stringValue() == kLittleEndian;
    }
    if (const auto found = dictionary.find(kKeyClientInfoDict);
        found != dictionary.end() && found->second.isDictionary()) {
        info->clientInfo_ = found->second.dictionaryValue();
    }
    return info;
}

std::shared_ptr<ZELDatabaseMetaInfo> ZELDatabaseMetaInfo::infoWithDatabase(
    const std::string& databaseIdentifier, int64_t clientSchemaVersion,
    const ZELDatabaseMetaInfo* priorMetaInfo) {
    auto info = ZELDatabaseMetaInfo::info();
    info->dbIdent_ = databaseIdentifier;
    info->dbFileVersion_ = currentFileVersion;
    info->clientVersion_ = clientSchemaVersion;
    info->bitsPerZELID_ = supportedBitsPerID;
    info->isLittleEndian_ = true;
    if (priorMetaInfo) info->clientInfo_ = priorMetaInfo->clientInfo_;
    return info;
}

ZELValue::Dictionary ZELDatabaseMetaInfo::propertyDictionary() const {
    return ZELValue::Dictionary{
        {kKeyClientIdentifier, ZELValue::fromUTF8(dbIdent_)},
        {kKeyVersion, ZELValue(dbFileVersion_)},
        {kKeyClientVersion, ZELValue(clientVersion_)},
        {kKeyBitsPerID, ZELValue(bitsPerZELID_)},
        {kKeyEndianess, ZELValue(isLittleEndian_ ? kLittleEndian : kBigEndian)},
        {kKeyClientInfoDict, ZELValue(clientInfo_)},
    };
}

bool ZELDatabaseMetaInfo::writeToURL(const std::string& url, ZELError* outError) const {
    if (ZELPropertyList::writeFile(url, ZELValue(propertyDictionary()), nullptr)) return true;
    return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                     ZELErrorCodeWriteFailed,
                                     ZELStringWithFormat("could not write meta-info to %s",
                                                         url.c_str())));
}

bool ZELDatabaseMetaInfo::validForLoadIntoDatabase(const std::string& databaseIdentifier,
                                                   int64_t clientSchemaVersion,
                                                   ZELError* outError) const {
    const char* reason = nullptr;
    if (dbFileVersion_ != currentFileVersion) {
        reason = "unsupported version number";
    } else if (bitsPerZELID_ != supportedBitsPerID) {
        reason = "unsupported ID bit length";
    } else if (!isLittleEndian_) {
        reason = "unsupported endianess";
    } else if (dbIdent_ != databaseIdentifier) {
        reason = "mismatched db identifier";
    }
    if (reason) {
        return ZELSetError(outError,
                           ZELError::errorWithZELErrorCode(
                               ZELErrorCodeUnsupportedFormat,
                               ZELStringWithFormat("%s in database meta-info file for '%s'",
                                                   reason, databaseIdentifier.c_str())));
    }
    if (clientVersion_ != clientSchemaVersion) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeDatabaseTooOld,
                                                                     "Database is too old."));
    }
    return true;
}

bool ZELDatabaseMetaInfo::isEqualToInfo(const ZELDatabaseMetaInfo& other) const {
    return dbIdent_ == other.dbIdent_ && dbFileVersion_ == other.dbFileVersion_ &&
           clientVersion_ == other.clientVersion_ && bitsPerZELID_ == other.bitsPerZELID_ &&
           isLittleEndian_ == other.isLittleEndian_ && clientInfo_ == other.clientInfo_;
}

bool ZELDatabaseMetaInfo::isEqual(const ZELObject& other) const {
    if (const auto* info = dynamic_cast<const ZELDatabaseMetaInfo*>(&other)) {
        return isEqualToInfo(*info);
    }
    return this == &other;
}

ZELValue ZELDatabaseMetaInfo::clientPlistValueForKey(const ZELString& key) const {
    const auto found = clientInfo_.find(key);
    return found == clientInfo_.end() ? ZELValue() : found->second;
}

void ZELDatabaseMetaInfo::setClientPlistValue(const ZELValue& value, const ZELString& key) {
    if (value.isNone()) {
        clientInfo_.erase(key);
        return;
    }
    const auto found = clientInfo_.find(key);
    if (found != clientInfo_.end() && found->second == value) return;
    clientInfo_.insert_or_assign(key, value);
}

void ZELDatabaseMetaInfo::accessMutableClientInfo(
    const std::function<void(ZELValue::Dictionary&)>& visitor) {
    visitor(clientInfo_);
}

std::string ZELDatabaseMetaInfo::description() const {
    std::string properties;
    if (!ZELPropertyList::xmlData(ZELValue(propertyDictionary()), &properties, nullptr)) {
        properties = "(a client value has no property-list form)";
    }
    return descriptionHead() + " with props " + properties;
}
