#include "zel/database/ZELSynonymList.h"

#include <algorithm>
#include <set>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELFileManager.h"
#include "zel/platform/ZELPropertyList.h"

// "synonyms.plist", an XML property list:
//   "com.tarvo.ZEL.synonyms": the same string (file identification)
//   "Version": integer 1
//   "Synonyms": dictionary synonym -> array of aspect bit value texts, in the order kept

std::shared_ptr<ZELSynonymList> ZELSynonymList::listWithFolderURL(std::filesystem::path folderURL) {
    return std::make_shared<ZELSynonymList>(std::move(folderURL));
}

ZELSynonymList::ZELSynonymList(std::filesystem::path folderURL) : folderURL_(std::move(folderURL)) {}

bool ZELSynonymList::loadAndGetError(ZELError* outError) {
    const std::filesystem::path url = fileURL();
    std::error_code existsError;
    if (!std::filesystem::exists(url, existsError)) {
        std::lock_guard<std::mutex> guard(mapsLock_);
        synToTermsMap_.clear();
        termToSynMap_.clear();
        hasUnsavedChanges_ = false;
        isFileDamaged_ = false;
        return true;
    }
    auto fail = [&](const char* reason) {
        std::lock_guard<std::mutex> guard(mapsLock_);
        isFileDamaged_ = true;
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeInvalidData,
                                         ZELStringWithFormat("%s in %s", reason, url.c_str())));
    };
    ZELValue plist;
    if (!ZELPropertyList::readFile(url, &plist, nullptr) || !plist.isDictionary()) {
        return fail("could not load");
    }
    const ZELValue* identification = plist.valueForKey(fileIdentifier);
    if (!identification || identification->utf8Value() != fileIdentifier) return fail("bad identifier");
    const ZELValue* version = plist.valueForKey("Version");
    if (!version || !version->isInteger() || version->integerValue() != fileVersion) {
        return fail("unsupported version");
    }
    const ZELValue* synonyms = plist.valueForKey("Synonyms");
    if (!synonyms || !synonyms->isDictionary()) return fail("missing synonyms");
    std::map<ZELString, std::vector<ZELString>> loaded;
    for (const auto& [synonym, texts] : synonyms->dictionaryValue()) {
        if (!texts.isArray()) return fail("malformed synonym");
        std::vector<ZELString>& entry = loaded[synonym];
        for (const ZELValue& text : texts.arrayValue()) {
            if (!text.isString()) return fail("malformed synonym");
            entry.push_back(text.stringValue());
        }
    }
    std::lock_guard<std::mutex> guard(mapsLock_);
    synToTermsMap_.clear();
    termToSynMap_.clear();
    for (const auto& [synonym, texts] : loaded) {
        if (!texts.empty()) addSynonymLocked(synonym, texts);
    }
    hasUnsavedChanges_ = false;
    isFileDamaged_ = false;
    return true;
}

bool ZELSynonymList::ensureSerializedAndGetError(ZELError* outError) {
    std::lock_guard<std::mutex> guard(mapsLock_);
    if (!hasUnsavedChanges_) return true;
    // A damaged file is kept beside the new one: the synonyms it holds may yet be recovered.
    std::error_code existsError;
    if (isFileDamaged_ && std::filesystem::exists(fileURL(), existsError) &&
        !ZELFileManager::moveDamagedItemAsideAtURL(fileURL(), outError)) {
        return false;
    }
    isFileDamaged_ = false;
    ZELValue::Dictionary synonyms;
    for (const auto& [synonym, texts] : synToTermsMap_) {
        synonyms[synonym] = ZELValue(ZELValue::Array(texts.begin(), texts.end()));
    }
    ZELValue::Dictionary plist{
        {ZELStringFromUTF8(fileIdentifier), ZELValue::fromUTF8(fileIdentifier)},
        {u"Version", ZELValue(fileVersion)},
        {u"Synonyms", ZELValue(std::move(synonyms))},
    };
    if (!ZELFileManager::createDirectoryRecursivelyAtURL(folderURL_, nullptr) ||
        !ZELPropertyList::writeFile(fileURL(), ZELValue(std::move(plist)), nullptr)) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeWriteFailed, "could not save synonym list file"));
    }
    hasUnsavedChanges_ = false;
    return true;
}

bool ZELSynonymList::hasUnsavedChanges() const {
    std::lock_guard<std::mutex> guard(mapsLock_);
    return hasUnsavedChanges_;
}

std::optional<std::vector<ZELString>> ZELSynonymList::aspectBitValuesForSynonym(
    const ZELString& synonym) const {
    std::lock_guard<std::mutex> guard(mapsLock_);
    const auto found = synToTermsMap_.find(synonym);
    if (found == synToTermsMap_.end()) return std::nullopt;
    return found->second;
}

std::optional<ZELString> ZELSynonymList::synonymForAspectBitValue(const ZELString& text) const {
    std::lock_guard<std::mutex> guard(mapsLock_);
    const auto found = termToSynMap_.find(text);
    if (found == termToSynMap_.end()) return std::nullopt;
    return found->second;
}

bool ZELSynonymList::hasSynonym(const ZELString& synonym) const {
    return aspectBitValuesForSynonym(synonym).has_value();
}

std::vector<ZELString> ZELSynonymList::allSynonyms() const {
    std::lock_guard<std::mutex> guard(mapsLock_);
    std::vector<ZELString> result;
    for (const auto& entry : synToTermsMap_) result.push_back(entry.first);
    return result;
}

void ZELSynonymList::addSynonymLocked(const ZELString& synonym,
                                      const std::vector<ZELString>& texts) {
    for (const ZELString& text : texts) termToSynMap_[text] = synonym;
    synToTermsMap_[synonym] = texts;
    hasUnsavedChanges_ = true;
}

void ZELSynonymList::removeSynonymLocked(const ZELString& synonym) {
    const auto found = synToTermsMap_.find(synonym);
    if (found != synToTermsMap_.end()) {
        // A text that a later synonym took over stays with that one.
        for (const ZELString& text : found->second) {
            const auto owner = termToSynMap_.find(text);
            if (owner != termToSynMap_.end() && owner->second == synonym) termToSynMap_.erase(owner);
        }
        synToTermsMap_.erase(found);
    }
    hasUnsavedChanges_ = true;
}

void ZELSynonymList::setAspectBitValuesLocked(const std::vector<ZELString>& texts,
                                              const ZELString& synonym) {
    removeSynonymLocked(synonym);
    if (!texts.empty()) addSynonymLocked(synonym, texts);
}

void ZELSynonymList::addSynonym(const ZELString& synonym, const std::vector<ZELString>& texts) {
    std::lock_guard<std::mutex> guard(mapsLock_);
    addSynonymLocked(synonym, texts);
}

void ZELSynonymList::removeSynonym(const ZELString& synonym) {
    std::lock_guard<std::mutex> guard(mapsLock_);
    removeSynonymLocked(synonym);
}

void ZELSynonymList::setAspectBitValues(const std::vector<ZELString>& texts,
                                        const ZELString& synonym) {
    std::lock_guard<std::mutex> guard(mapsLock_);
    setAspectBitValuesLocked(texts, synonym);
}

void ZELSynonymList::addAspectBitValues(const std::vector<ZELString>& texts,
                                        const ZELString& synonym) {
    std::lock_guard<std::mutex> guard(mapsLock_);
    std::set<ZELString> united(texts.begin(), texts.end());
    if (const auto found = synToTermsMap_.find(synonym); found != synToTermsMap_.end()) {
        united.insert(found->second.begin(), found->second.end());
    }
    setAspectBitValuesLocked(std::vector<ZELString>(united.begin(), united.end()), synonym);
}

void ZELSynonymList::removeAspectBitValues(const std::vector<ZELString>& texts,
                                           const ZELString& synonym) {
    std::lock_guard<std::mutex> guard(mapsLock_);
    std::set<ZELString> remaining;
    if (const auto found = synToTermsMap_.find(synonym); found != synToTermsMap_.end()) {
        remaining.insert(found->second.begin(), found->second.end());
    }
    for (const ZELString& text : texts) remaining.erase(text);
    setAspectBitValuesLocked(std::vector<ZELString>(remaining.begin(), remaining.end()), synonym);
}
