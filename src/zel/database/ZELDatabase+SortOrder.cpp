#include <set>
#include <system_error>

#include "zel/database/ZELAspect.h"
#include "zel/database/ZELDatabase.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"

// Only files are asked about: a sort file's save leaves nothing else ending in ".sort" behind
// once it succeeded. A sort file of an aspect the host did not create this session keeps the
// check pending, so that its list is checked when a later session loads it.
bool ZELDatabase::recordSortFileKeyOrderIfChecked(ZELError* outError) {
    std::set<std::string> checked;
    for (const auto& aspect : allAspects()) {
        for (std::string& name : ZELAspect::sortFileBaseNamesForAspectIdentifier(aspect->aspectIdentifier())) {
            checked.insert(std::move(name) + ".sort");
        }
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(aspectDataFolderURL(), error)) {
        if (entry.path().extension() != ".sort" || !entry.is_regular_file(error)) continue;
        if (checked.count(entry.path().filename().string()) == 0) return true;
    }
    if (error) return true;
    savedInfo_->setClientPlistValue(ZELValue(sortFileKeyOrder), sortFileKeyOrderClientKey);
    if (!savedInfo_->writeToURL((folderURL_ / ZELDatabaseMetaInfo::fileName).string(), outError)) {
        savedInfo_->setClientPlistValue(ZELValue(), sortFileKeyOrderClientKey);
        return false;
    }
    sortFilesNeedOrderCheck_ = false;
    return true;
}
