#include "ZELToolChangelogImport.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

#include "ZELChangelogSchema.h"
#include "zel/database/ZELDatabase.h"

namespace fs = std::filesystem;

std::vector<std::string> ZELToolInstalledChangelogFiles() {
    std::vector<std::string> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/usr/share/doc", error)) {
        const fs::path changelog = entry.path() / "changelog.Debian.gz";
        std::error_code ignored;
        if (fs::is_regular_file(changelog, ignored)) files.push_back(changelog.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<ZELToolOpenDatabase> ZELToolOpenChangelogDatabase(const std::string& folder,
                                                                std::string* outMessage) {
    std::optional<ZELToolSchema> schema =
        ZELToolParseSchema(ZELChangelogSchemaJSON, ZELChangelogSchemaSourceName, outMessage);
    if (!schema) return std::nullopt;
    return ZELToolOpenOrCreateDatabase(folder, *schema, outMessage);
}

std::optional<ZELToolChangelogImport> ZELToolImportChangelogFiles(
    ZELToolOpenDatabase& opened, const std::vector<std::string>& files, ZELToolOutput output,
    std::string* outMessage) {
    ZELToolChangelogImport import;
    std::vector<ZELValue::Dictionary> entries;
    ZELToolProgress reading(output.err, "reading changelogs", "files");
    for (const std::string& file : files) {
        std::string problem;
        std::optional<std::vector<ZELValue::Dictionary>> read =
            ZELReadChangelogFile(file, &import.read, &problem);
        if (read) {
            ++import.files;
            std::move(read->begin(), read->end(), std::back_inserter(entries));
        } else {
            // Told on standard error; the other files go in.
            reading.abandon();
            ZELToolFail(output, problem);
            ++import.unreadableFiles;
        }
        reading.update(import.files + import.unreadableFiles, files.size());
    }
    reading.finish(files.size(), files.size());

    const size_t total = entries.size();
    ZELToolProgress adding(output.err, "indexing", "entries");
    if (std::optional<size_t> refused = ZELToolAddRecords(*opened.database, std::move(entries),
                                                          opened.settings, adding, &import.added)) {
        adding.abandon();
        *outMessage = "the database refused entry " + std::to_string(*refused + 1) + " of " +
                      std::to_string(total);
        return std::nullopt;
    }
    adding.finish(total, total, ", saving");
    return import;
}
