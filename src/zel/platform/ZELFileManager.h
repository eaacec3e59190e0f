#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "zel/platform/ZELError.h"

// File-system helpers shared by the storage and the host-facing code: the application-support
// folder, unique and temporary paths, atomic replacement, sizes on disk, finding and running
// command-line tools. Locations are plain file-system paths. Every function may be called from
// any thread; the few process-wide settings and caches guard themselves.
//
// Failures of the operating system come back as errors in ZELPlatformErrorDomain whose code is
// the errno value.
class ZELFileManager {
  public:
    // The running application's name, used for its application-support folder and its temporary
    // folder. Defaults to the file name of the running executable; hosts may set their own.
    static void setApplicationName(std::string name);
    static std::string applicationName();

    // "$XDG_DATA_HOME/<application name>" ($XDG_DATA_HOME defaulting to ~/.local/share). With
    // `create`, the folder and any missing parent folders are made. None on failure.
    static std::optional<std::string> mainBundleApplicationSupportFolderURLWithCreate(
        bool create, ZELError* outError);

    // `path` when nothing exists there; otherwise the first free "<name>-<n>.<extension>" in the
    // same folder for n = 2 ... 9998 ("a.txt" gives "a-2.txt"; "a" gives "a-2"). When every
    // candidate exists: none and error ZELErrorCodeFileAccess "could not make unique file".
    // The path is free when answered; nothing is created there.
    static std::optional<std::string> uniqueNonExistantFilePathForPath(const std::string& path,
                                                                       ZELError* outError);

    // Keeps a damaged file that a new one is about to replace: renames the item at `path` to
    // "<name>-damaged.<extension>" beside it (made unique as above). The new path, or none with
    // the file system's error.
    static std::optional<std::string> moveDamagedItemAsideAtURL(const std::string& path,
                                                                ZELError* outError);

    // A free path named after `name` (made unique as above) in the process's own temporary
    // folder: a private folder (mode 0700) made under $TMPDIR (default /tmp) at first use and
    // made again if it disappears. Removed at exit when empty. `name` must be a single path
    // component.
    static std::optional<std::string> temporaryItemURLWithLastPathComponent(const std::string& name,
                                                                            ZELError* outError);

    // A path for building a replacement of the item at `path`: a fresh hidden folder made beside
    // the item (so on the same file system, which the atomic rename of replaceItemAtURL needs)
    // joined with the item's file name.
    static std::optional<std::string> temporaryItemURLForReplacingItemAtURL(const std::string& path,
                                                                            ZELError* outError);

    // Puts the item at `temporaryPath` in the place of the item at `path` in one atomic step: a
    // reader sees either the old or the new item, never a mixture or nothing. The new item is
    // flushed to disk before, and the folder after, the rename. A folder replaces an existing
    // folder by an atomic exchange, after which the old folder is deleted. On success the
    // temporary item's parent folder is removed when it is empty. Both paths must be on the same
    // file system.
    static bool replaceItemAtURL(const std::string& path, const std::string& temporaryPath,
                                 ZELError* outError);

    // Bytes allocated on disk: 0 when nothing is there; for a file, its allocated blocks; for a
    // folder, the sum over every file inside it, recursively (symbolic links are not followed).
    static uint64_t byteCountOnDiskAtURL(const std::string& path);

    // Makes the folder at `path` and any missing parent folders with `permissions` (less the
    // umask), each flushed into the folder holding it. Succeeds when the folder exists already.
    static bool createDirectoryRecursivelyAtURL(const std::string& path, mode_t permissions,
                                                ZELError* outError);
    static bool createDirectoryRecursivelyAtURL(const std::string& path, ZELError* outError) {
        return createDirectoryRecursivelyAtURL(path, 0777, outError);
    }

    // The path of the command-line tool `name`: "/usr/bin/<name>" when that file exists, else
    // what "/usr/bin/which <name>" prints. The answer, found or not, is kept for the process's
    // lifetime; a tool that is not found is logged once.
    static std::optional<std::string> commandLineExecutablePathForToolName(const std::string& name);

    // Extracts the zip archive at `archivePath` into `folderPath` with the "unzip" tool. True
    // when the tool ran and succeeded; false when it is missing or failed.
    static bool unarchiveFileAtURL(const std::string& archivePath, const std::string& folderPath);
};
