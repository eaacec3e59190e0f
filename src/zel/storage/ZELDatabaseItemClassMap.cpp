#include "zel/storage/ZELDatabaseItemClassMap.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELString.h"

// The class map file is an XML property list holding one dictionary:
//
//   "Version"   integer     1
//   "ClassMap"  dictionary  token as a decimal string ("1", "2", ...) -> item class name
//
// Tokens start at 1 and are never reused or renumbered; a stored name is kept even when the
// process no longer knows its class.

namespace {

const ZELString kKeyVersion = u"Version";
const ZELString kKeyClassMap = u"ClassMap";

// The token written as `text`: a decimal number from 1 to 4294967295 without sign or leading
// zeros (so that no two stored keys name the same token). 0 when the text is anything else.
uint32_t tokenFromString(const ZELString& text) {
    if (text.empty() || text.size() > 10 || text[0] == u'0') return 0;
    uint64_t token = 0;
    for (const char16_t unit : text) {
        if (unit < u'0' || unit > u'9') return 0;
        token = token * 10 + static_cast<uint64_t>(unit - u'0');
    }
    return token <= UINT32_MAX ? static_cast<uint32_t>(token) : 0;
}

bool fileExists(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 || errno != ENOENT;
}

}  // namespace

std::shared_ptr<ZELDatabaseItemClassMap> ZELDatabaseItemClassMap::mapWithFileAtURL(
    std::string url) {
    return std::shared_ptr<ZELDatabaseItemClassMap>(new ZELDatabaseItemClassMap(std::move(url)));
}

ZELDatabaseItemClassMap::ZELDatabaseItemClassMap(std::string url) : fileURL_(std::move(url)) {}

bool ZELDatabaseItemClassMap::loadWithDatabase(const ZELDatabaseItemClassResolver& resolver,
                                               ZELError* outError) {
    if (!fileExists(fileURL_)) {
        itemClassNameMap_.clear();
        tokenMap_.clear();
        itemClassMap_.clear();
        hadChanges_ = true;
        return true;
    }

    ZELValue file;
    if (!ZELPropertyList::readFile(fileURL_, &file, nullptr) || !file.isDictionary() ||
        file.dictionaryValue().empty()) {
        return ZELSetError(outError,
                           ZELError::errorWithZELErrorCode(ZELErrorCodeFileAccess,
                                                           "database class map file failed to load"));
    }
    const ZELValue* version = file.valueForKey(kKeyVersion);
    if (!version || !version->isNumber() || version->realValue() != fileVersion) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeUnsupportedFormat,
                                         "unsupported database class map file version"));
    }
    const ZELValue* classMap = file.valueForKey(kKeyClassMap);
    if (!classMap || !classMap->isDictionary()) {
        return ZELSetError(outError,
                           ZELError::errorWithZELErrorCode(
                               ZELErrorCodeInvalidData,
                               "database class map file does not contain dictionary"));
    }

    std::map<std::string, uint32_t> tokenMap;
    std::map<uint32_t, std::string> itemClassMap;
    for (const auto& [tokenText, nameValue] : classMap->dictionaryValue()) {
        const uint32_t token = tokenFromString(tokenText);
        if (token == 0 || !nameValue.isString() || nameValue.stringValue().empty()) {
            return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                             ZELErrorCodeInvalidData,
                                             "database class map file has a malformed entry"));
        }
        const std::string storedName = nameValue.utf8Value();
        std::string resolvedName = storedName;
        if (!resolver.isKnownItemClassName(storedName)) {
            resolvedName = resolver.substituteForUnknownItemClassName(storedName)
                               .value_or(baseItemClassName);
        }
        itemClassMap[token] = resolvedName;
        // Only a class stored under its own name is looked up by name: were a stand-in entered
        // too, new items of the stand-in class would take the token of the unknown class and be
        // read back as that class once it is known again.
        if (resolvedName == storedName) tokenMap[storedName] = token;
    }

    itemClassNameMap_ = classMap->dictionaryValue();
    tokenMap_ = std::move(tokenMap);
    itemClassMap_ = std::move(itemClassMap);
    hadChanges_ = false;
    return true;
}

bool ZELDatabaseItemClassMap::ensureSerializedAndGetError(ZELError* outError) {
    if (!hadChanges_) return true;
    const ZELValue::Dictionary file{
        {kKeyClassMap, ZELValue(itemClassNameMap_)},
        {kKeyVersion, ZELValue(fileVersion)},
    };
    if (!ZELPropertyList::writeFile(fileURL_, ZELValue(file), nullptr)) {
        return ZELSetError(outError,
                           ZELError::errorWithZELErrorCode(ZELErrorCodeWriteFailed,
                                                           "could not write database class map"));
    }
    hadChanges_ = false;
    return true;
}

uint32_t ZELDatabaseItemClassMap::tokenForItemClass(const std::string& className) {
    const auto found = tokenMap_.find(className);
    if (found != tokenMap_.end()) return found->second;
    return addTokenForItemClass(className);
}

// The next token follows the largest one in use as well as the entry count, so that a map whose
// file has gaps never hands out a token that is already taken.
uint32_t ZELDatabaseItemClassMap::addTokenForItemClass(const std::string& className) {
    uint64_t largestToken = itemClassNameMap_.size();
    if (!itemClassMap_.empty()) largestToken = std::max<uint64_t>(largestToken, itemClassMap_.rbegin()->first);
    if (largestToken >= UINT32_MAX) {
        ZELLogFormat("database class map has no token left for item class %s", className.c_str());
        return 0;
    }
    const auto token = static_cast<uint32_t>(largestToken + 1);
    tokenMap_[className] = token;
    itemClassMap_[token] = className;
    itemClassNameMap_.insert_or_assign(ZELStringFromUTF8(ZELStringWithFormat("%ld", static_cast<long>(token))),
                                       ZELValue::fromUTF8(className));
    hadChanges_ = true;
    return token;
}

std::optional<std::string> ZELDatabaseItemClassMap::itemClassForToken(uint32_t token) const {
    const auto found = itemClassMap_.find(token);
    if (found == itemClassMap_.end()) return std::nullopt;
    return found->second;
}

std::string ZELDatabaseItemClassMap::description() const {
    std::string text = descriptionHead() + " at " + fileURL_ + " {";
    for (const auto& [token, className] : itemClassMap_) {
        text += ZELStringWithFormat(" %u = %s;", token, className.c_str());
    }
    return text + " }";
}
