#pragma once

// Every test that leaves database folders behind runs the integrity checker on them at its
// teardown: a folder a test made through the library must always check clean.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "zel/database/ZELDatabaseChecker.h"
#include "zel/storage/ZELDatabaseMetaInfo.h"

// Adds a failure for every finding in `root` and in each folder below it that holds a meta info
// file (a folder without one was never saved). A test that damages a database on purpose opts
// out by not calling it.
inline void ZELTestExpectCleanDatabaseFolders(const std::filesystem::path& root) {
    std::error_code error;
    const auto checkFolder = [](const std::filesystem::path& folder) {
        std::error_code existsError;
        if (!std::filesystem::exists(folder / ZELDatabaseMetaInfo::fileName, existsError)) return;
        for (const std::string& finding : ZELDatabaseChecker(folder).check()) {
            ADD_FAILURE() << "zel check " << folder.string() << ": " << finding;
        }
    };
    checkFolder(root);
    for (std::filesystem::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_directory(error)) checkFolder(it->path());
    }
}
