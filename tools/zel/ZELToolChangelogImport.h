#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ZELChangelogReader.h"
#include "ZELTool.h"
#include "ZELToolDatabase.h"
#include "ZELToolRecords.h"

// Building the changelog database, shared by `zel import-changelogs` and `zel demo`.

// The changelogs of the packages installed here: /usr/share/doc/*/changelog.Debian.gz, sorted
// by path (a package whose documentation folder links to another's repeats its changelog).
std::vector<std::string> ZELToolInstalledChangelogFiles();

// Opens the changelog database in `folder`, first making it from the built-in schema (see
// ZELChangelogSchema.h) when the folder does not exist or is empty. None with a one-line
// message when it cannot, or when the folder holds another database.
std::optional<ZELToolOpenDatabase> ZELToolOpenChangelogDatabase(const std::string& folder,
                                                                std::string* outMessage);

// What an import did.
struct ZELToolChangelogImport {
    size_t files = 0;            // files read
    size_t unreadableFiles = 0;  // files left out (each told on standard error)
    ZELChangelogReadStats read;
    ZELToolAddCounts added;  // merged: the entries that repeat a stored one
};

// Reads the entries of `files` and adds them to `opened`, with progress on `output.err`;
// saves nothing. None with a message when the database refuses an entry.
std::optional<ZELToolChangelogImport> ZELToolImportChangelogFiles(
    ZELToolOpenDatabase& opened, const std::vector<std::string>& files, ZELToolOutput output,
    std::string* outMessage);
