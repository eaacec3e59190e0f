#include "zel/platform/ZELFileManager.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "zel/platform/ZELChildProcess.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELString.h"

namespace {

// The error for the errno of the call that just failed. errno is read before anything else
// runs, as building the message may allocate and change it.
ZELError errnoError(const char* action, const std::string& path) {
    const int errnoValue = errno;
    return ZELError::errorWithErrno(errnoValue, action + path);
}

// ---- Paths ----

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// A file name's stem and extension (with its period). A leading period starts a hidden name,
// not an extension; a trailing one ends no extension.
std::pair<std::string, std::string> stemAndExtensionOf(const std::string& fileName) {
    const size_t period = fileName.rfind('.');
    if (period == std::string::npos || period == 0 || period + 1 == fileName.size()) {
        return {fileName, std::string()};
    }
    return {fileName.substr(0, period), fileName.substr(period)};
}

// Everything up to and including the last "/", or "" for a bare name.
std::string folderPrefixOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string lastPathComponentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder holding `path`: "." for a bare name, "/" for an item at the root.
std::string folderOf(const std::string& path) {
    const std::string prefix = folderPrefixOf(path);
    if (prefix.empty()) return ".";
    return prefix.size() == 1 ? prefix : prefix.substr(0, prefix.size() - 1);
}

std::string joined(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool itemExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isNonDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Flushes the file or folder at `path` to disk.
bool syncItem(const std::string& path, ZELError* outError) {
    ZELFileSystem& files = ZELFileSystem::shared();
    const bool synced =
        (isDirectory(path) ? files.syncFolder(path) : ZELFileSystem::syncFile(files, path)) == 0;
    if (!synced) return ZELSetError(outError, errnoError("could not flush ", path));
    return true;
}

// ---- Process-wide settings ----

std::mutex& applicationNameLock() {
    static std::mutex lock;
    return lock;
}

std::string& applicationNameStorage() {  // guarded by applicationNameLock()
    static std::string name = [] {
        std::error_code error;
        const std::filesystem::path executable =
            std::filesystem::read_symlink("/proc/self/exe", error);
        const std::string fileName = error ? std::string() : executable.filename().string();
        return fileName.empty() ? std::string("zel") : fileName;
    }();
    return name;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    passwd entry;
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

std::mutex& temporaryFolderLock() {
    static std::mutex lock;
    return lock;
}

// The process's private temporary folder, made by mkdtemp at first use, or "" before that.
std::string& temporaryFolderStorage() {  // guarded by temporaryFolderLock()
    static std::string folder;
    return folder;
}

void removeTemporaryFolderIfEmpty() {
    std::lock_guard<std::mutex> guard(temporaryFolderLock());
    if (!temporaryFolderStorage().empty()) rmdir(temporaryFolderStorage().c_str());
}

std::optional<std::string> processTemporaryFolder(ZELError* outError) {
    std::lock_guard<std::mutex> guard(temporaryFolderLock());
    std::string& folder = temporaryFolderStorage();
    if (!folder.empty() && isDirectory(folder)) return folder;

    const char* environmentFolder = std::getenv("TMPDIR");
    const std::string base = environmentFolder && *environmentFolder ? environmentFolder : "/tmp";
    if (!ZELFileManager::createDirectoryRecursivelyAtURL(base, outError)) return std::nullopt;
    std::string pattern = joined(base, ZELFileManager::applicationName() + "-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        ZELSetError(outError, errnoError("could not make a temporary folder in ", base));
        return std::nullopt;
    }
    // Registered after the lock and the storage exist, so it runs before they are destroyed.
    static bool cleanupRegistered = false;  // guarded by temporaryFolderLock()
    if (!cleanupRegistered) cleanupRegistered = std::atexit(removeTemporaryFolderIfEmpty) == 0;
    folder = pattern;
    return folder;
}

// ---- Tools ----

std::mutex& toolPathCacheLock() {
    static std::mutex lock;
    return lock;
}

// Tool name -> path, or none for a tool that was looked for and not found. Guarded by
// toolPathCacheLock().
std::map<std::string, std::optional<std::string>>& toolPathCache() {
    static std::map<std::string, std::optional<std::string>> cache;
    return cache;
}

std::string trimmedWhiteSpace(const std::string& text) {
    const char* const whiteSpace = " \t\n\r\f\v";
    const size_t start = text.find_first_not_of(whiteSpace);
    if (start == std::string::npos) return std::string();
    return text.substr(start, text.find_last_not_of(whiteSpace) - start + 1);
}

std::optional<std::string> lookUpTool(const std::string& name) {
    const std::string inUsrBin = "/usr/bin/" + name;
    if (isNonDirectory(inUsrBin)) return inUsrBin;
    const std::string which = "/usr/bin/which";
    if (!isNonDirectory(which)) {
        ZELLog("*** the 'which' command is not available");
    } else {
        ZELChildProcessResult result;
        if (ZELChildProcess::run(which, {name}, &result, nullptr)) {
            const std::string path = trimmedWhiteSpace(result.standardOutput);
            if (!path.empty() && path.rfind("no ", 0) != 0) return path;
        }
    }
    ZELLogFormat("*** the '%s' command is not available on this computer", name.c_str());
    return std::nullopt;
}

constexpr int kFirstUniqueSuffix = 2;
constexpr int kLastUniqueSuffix = 9998;

}  // namespace

void ZELFileManager::setApplicationName(std::string name) {
    std::lock_guard<std::mutex> guard(applicationNameLock());
    applicationNameStorage() = std::move(name);
}

std::string ZELFileManager::applicationName() {
    std::lock_guard<std::mutex> guard(applicationNameLock());
    return applicationNameStorage();
}

std::optional<std::string> ZELFileManager::mainBundleApplicationSupportFolderURLWithCreate(
    bool create, ZELError* outError) {
    // A relative $XDG_DATA_HOME is invalid and ignored, as the base-directory rules require.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const std::string dataFolder = dataHome && dataHome[0] == '/'
                                       ? std::string(dataHome)
                                       : joined(homeFolder(), ".local/share");
    const std::string folder = joined(dataFolder, applicationName());
    if (create && !createDirectoryRecursivelyAtURL(folder, outError)) return std::nullopt;
    return folder;
}

std::optional<std::string> ZELFileManager::uniqueNonExistantFilePathForPath(const std::string& path,
                                                                            ZELError* outError) {
    if (!itemExists(path)) return path;
    const std::string trimmed = withoutTrailingSlashes(path);
    const std::string prefix = folderPrefixOf(trimmed);
    const auto [stem, extension] = stemAndExtensionOf(lastPathComponentOf(trimmed));
    for (int suffix = kFirstUniqueSuffix; suffix <= kLastUniqueSuffix; ++suffix) {
        std::string candidate = prefix + stem + "-" + std::to_string(suffix) + extension;
        if (!itemExists(candidate)) return candidate;
    }
    ZELSetError(outError, ZELError::errorWithZELErrorCode(ZELErrorCodeFileAccess,
                                                          "could not make unique file"));
    return std::nullopt;
}

std::optional<std::string> ZELFileManager::moveDamagedItemAsideAtURL(const std::string& path,
                                                                     ZELError* outError) {
    const std::string trimmed = withoutTrailingSlashes(path);
    const auto [stem, extension] = stemAndExtensionOf(lastPathComponentOf(trimmed));
    const std::optional<std::string> aside = uniqueNonExistantFilePathForPath(
        folderPrefixOf(trimmed) + stem + "-damaged" + extension, outError);
    if (!aside) return std::nullopt;
    if (ZELFileSystem::shared().rename(trimmed, *aside) != 0) {
        ZELSetError(outError, errnoError("could not move aside ", path));
        return std::nullopt;
    }
    return aside;
}

std::optional<std::string> ZELFileManager::temporaryItemURLWithLastPathComponent(
    const std::string& name, ZELError* outError) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        ZELSetError(outError, ZELError::errorWithErrno(
                                  EINVAL, "invalid temporary item name \"" + name + "\""));
        return std::nullopt;
    }
    const std::optional<std::string> folder = processTemporaryFolder(outError);
    if (!folder) return std::nullopt;
    return uniqueNonExistantFilePathForPath(joined(*folder, name), outError);
}

std::optional<std::string> ZELFileManager::temporaryItemURLForReplacingItemAtURL(
    const std::string& path, ZELError* outError) {
    const std::string trimmed = withoutTrailingSlashes(path);
    // Made through the file layer, so that a database folder's journal sees the new folder.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder = joined(
            folderOf(trimmed),
            ZELStringWithFormat(".zel-replace-%ld-%u", static_cast<long>(getpid()), counter++));
        if (ZELFileSystem::shared().mkdir(folder, 0700) == 0) {
            return joined(folder, lastPathComponentOf(trimmed));
        }
        if (errno != EEXIST) break;
    }
    ZELSetError(outError, errnoError("could not make a replacement folder for ", path));
    return std::nullopt;
}

bool ZELFileManager::replaceItemAtURL(const std::string& path, const std::string& temporaryPath,
                                      ZELError* outError) {
    if (!syncItem(temporaryPath, outError)) return false;
    ZELFileSystem& files = ZELFileSystem::shared();
    if (isDirectory(temporaryPath) && isDirectory(path)) {
        // rename() cannot put a folder over a non-empty one; exchanging the two is still atomic,
        // and the old folder, now at the temporary path, is deleted afterwards.
        if (files.exchange(temporaryPath, path) != 0) {
            return ZELSetError(outError, errnoError("could not replace ", path));
        }
        ZELFileSystem::removeTree(files, temporaryPath);
    } else if (files.rename(temporaryPath, path) != 0) {
        return ZELSetError(outError, errnoError("could not replace ", path));
    }
    // The rename is durable only once the folder holding the item is flushed.
    if (!syncItem(folderOf(withoutTrailingSlashes(path)), outError)) return false;
    files.rmdir(folderOf(withoutTrailingSlashes(temporaryPath)));
    return true;
}

uint64_t ZELFileManager::byteCountOnDiskAtURL(const std::string& path) {
    constexpr uint64_t kStatBlockByteCount = 512;  // st_blocks counts 512-byte units
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return 0;
    if (!S_ISDIR(info.st_mode)) return static_cast<uint64_t>(info.st_blocks) * kStatBlockByteCount;

    uint64_t byteCount = 0;
    std::error_code error;
    std::filesystem::recursive_directory_iterator entries(
        path, std::filesystem::directory_options::skip_permission_denied, error);
    for (const std::filesystem::recursive_directory_iterator end; !error && entries != end;
         entries.increment(error)) {
        struct stat entryInfo;
        if (lstat(entries->path().c_str(), &entryInfo) == 0 && !S_ISDIR(entryInfo.st_mode)) {
            byteCount += static_cast<uint64_t>(entryInfo.st_blocks) * kStatBlockByteCount;
        }
    }
    return byteCount;
}

bool ZELFileManager::createDirectoryRecursivelyAtURL(const std::string& path, mode_t permissions,
                                                     ZELError* outError) {
    if (path.empty()) {
        return ZELSetError(outError,
                           ZELError::errorWithErrno(ENOENT, "could not create an unnamed folder"));
    }
    // Each ancestor in turn, from the root down; a folder made is durable once the folder
    // holding it is flushed.
    ZELFileSystem& files = ZELFileSystem::shared();
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string ancestor = path.substr(0, slash);
        if (!isDirectory(ancestor)) {
            if (files.mkdir(ancestor, permissions) == 0) {
                files.syncFolder(folderOf(ancestor));
            } else if (errno != EEXIST) {
                return ZELSetError(outError, errnoError("could not create folder ", ancestor));
            }
        }
        if (slash == std::string::npos) break;
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return ZELSetError(outError,
                           ZELError::errorWithErrno(EEXIST, "could not create folder " + path));
    }
    return true;
}

std::optional<std::string> ZELFileManager::commandLineExecutablePathForToolName(
    const std::string& name) {
    {
        std::lock_guard<std::mutex> guard(toolPathCacheLock());
        const auto cached = toolPathCache().find(name);
        if (cached != toolPathCache().end()) return cached->second;
    }
    // Looked up outside the lock, since it may run a child process; when two threads race for
    // the same name, the first answer stored stays.
    std::optional<std::string> path = lookUpTool(name);
    std::lock_guard<std::mutex> guard(toolPathCacheLock());
    return toolPathCache().emplace(name, std::move(path)).first->second;
}

bool ZELFileManager::unarchiveFileAtURL(const std::string& archivePath,
                                        const std::string& folderPath) {
    const std::optional<std::string> unzip = commandLineExecutablePathForToolName("unzip");
    if (!unzip) return false;
    ZELChildProcessResult result;
    return ZELChildProcess::run(*unzip, {"-x", archivePath, "-d", folderPath}, &result, nullptr) &&
           result.exitStatus == 0;
}
