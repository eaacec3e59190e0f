// zel stats DIR [--blocks]
#include <filesystem>
#include <ostream>

#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "zel/database/ZELAspect.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"
#include "zel/tokenizer/ZELTokenizer.h"

int ZELToolStats(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::string folder;
    bool withBlocks = false;
    for (const std::string& argument : arguments) {
        if (argument == "--blocks") {
            withBlocks = true;
        } else if (argument.rfind("--", 0) == 0) {
            return ZELToolUsageError(output, "stats: unknown option " + argument);
        } else if (folder.empty()) {
            folder = argument;
        } else {
            return ZELToolUsageError(output, "stats takes one folder");
        }
    }
    if (folder.empty()) return ZELToolUsageError(output, "stats needs DIR");
    std::string message;
    std::optional<ZELToolOpenDatabase> opened = ZELToolOpenDatabaseInFolder(folder, &message);
    if (!opened) return ZELToolFail(output, message);
    ZELDatabase& database = *opened->database;

    uint64_t fileCount = 0;
    uint64_t byteCount = 0;
    std::error_code error;
    for (auto entry = std::filesystem::recursive_directory_iterator(folder, error);
         !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
        if (entry->is_regular_file(error)) {
            ++fileCount;
            byteCount += entry->file_size(error);
        }
    }

    output.out << "database \"" << database.identifier() << "\" in " << folder << "\n";
    if (std::shared_ptr<ZELDatabaseMetaInfo> info = database.metaInfo()) {
        output.out << "client version: " << info->clientSchemaVersion() << ", format version "
                   << info->databaseFileVersion() << "\n";
    }
    output.out << "items: " << database.itemCount() << " (largest item ID " << database.largestExistingItemID() << ")\n";
    output.out << "files: " << fileCount << ", " << byteCount << " bytes\n";
    output.out << "aspects:\n";
    for (const std::shared_ptr<ZELAspect>& aspect : database.allAspects()) {
        const uint64_t terms = database.accessLockedUsing([&] { return aspect->aspectBitCount(); });
        std::shared_ptr<ZELTokenizer> tokenizer = aspect->aspectValueTokenizer();
        output.out << "  " << aspect->aspectID() << " \"" << ZELStringToUTF8(aspect->aspectIdentifier()) << "\": " << terms
                   << (terms == 1 ? " term" : " terms") << " (" << (tokenizer ? tokenizer->className() : "no tokenizer")
                   << (aspect->isUsedToDetectDuplicates() ? ", detects duplicates" : "") << ")\n";
    }
    output.out << "\n" << database.descriptionWithDetails(withBlocks) << std::endl;
    return ZELToolExitSuccess;
}
