#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELString.h"

class ZELError;

// Synonyms of search terms: a synonym stands for a list of aspect bit value texts, and each
// text knows its synonym. User criteria replace a search term that is a synonym by its texts.
// Kept as a property list "synonyms.plist" in its folder ("storage"/"synonyms" of the database
// folder); no file means no synonyms. Owned by its database; every operation holds the list's
// own lock, so any thread may use it.
class ZELSynonymList : public ZELObject {
public:
    // The stored file's name inside the folder, and its identification and version.
    static constexpr const char* fileName = "synonyms.plist";
    static constexpr const char* fileIdentifier = "com.tarvo.ZEL.synonyms";
    static constexpr int64_t fileVersion = 1;

    static std::shared_ptr<ZELSynonymList> listWithFolderURL(std::filesystem::path folderURL);
    explicit ZELSynonymList(std::filesystem::path folderURL);

    const std::filesystem::path& folderURL() const { return folderURL_; }
    std::filesystem::path fileURL() const { return folderURL_ / fileName; }

    // Replaces the maps with the stored file's; a missing file gives empty maps. A damaged file
    // fails with code 3 ("<reason> in <file>") and leaves the maps as they were; it is not
    // replaced until the synonyms change.
    bool loadAndGetError(ZELError* outError);
    // Writes the file (making the folder) when there are unsaved changes; a damaged file that
    // failed to load is first moved aside ("synonyms-damaged.plist"). Failure: code 4 "could not
    // save synonym list file", or the file system's error from moving the damaged file.
    bool ensureSerializedAndGetError(ZELError* outError);
    bool hasUnsavedChanges() const;

    std::optional<std::vector<ZELString>> aspectBitValuesForSynonym(const ZELString& synonym) const;
    std::optional<ZELString> synonymForAspectBitValue(const ZELString& text) const;
    bool hasSynonym(const ZELString& synonym) const;
    // Every synonym, in code-unit order.
    std::vector<ZELString> allSynonyms() const;
    // Maps every text to the synonym and the synonym to the texts.
    void addSynonym(const ZELString& synonym, const std::vector<ZELString>& texts);
    // Removes the synonym, and those of its texts that no other synonym has taken over from
    // the text map.
    void removeSynonym(const ZELString& synonym);
    // removeSynonym, then addSynonym when `texts` is not empty.
    void setAspectBitValues(const std::vector<ZELString>& texts, const ZELString& synonym);
    // The set union of the present and the given texts, then setAspectBitValues.
    void addAspectBitValues(const std::vector<ZELString>& texts, const ZELString& synonym);
    // The present texts minus the given ones, then setAspectBitValues.
    void removeAspectBitValues(const std::vector<ZELString>& texts, const ZELString& synonym);

private:
    void addSynonymLocked(const ZELString& synonym, const std::vector<ZELString>& texts);
    void removeSynonymLocked(const ZELString& synonym);
    void setAspectBitValuesLocked(const std::vector<ZELString>& texts, const ZELString& synonym);

    const std::filesystem::path folderURL_;
    mutable std::mutex mapsLock_;
    std::map<ZELString, std::vector<ZELString>> synToTermsMap_;  // guarded by mapsLock_
    std::map<ZELString, ZELString> termToSynMap_;                // guarded by mapsLock_
    bool hasUnsavedChanges_ = false;                             // guarded by mapsLock_
    bool isFileDamaged_ = false;  // the last load failed on the file; guarded by mapsLock_
};
