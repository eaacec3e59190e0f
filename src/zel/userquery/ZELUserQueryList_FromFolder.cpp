#include "zel/userquery/ZELUserQueryList_FromFolder.h"

#include <sys/stat.h>

#include "zel/platform/TarvoSecureURL.h"
#include "zel/platform/ZELError.h"
#include "zel/platform/ZELLog.h"
#include "zel/platform/ZELPropertyList.h"

namespace {

// The folder's content modification date; none when it cannot be read.
std::optional<ZELDate> modificationDateOfURL(const std::filesystem::path& url) {
    struct stat info;
    if (::stat(url.c_str(), &info) != 0) return std::nullopt;
    return ZELDate{static_cast<double>(info.st_mtim.tv_sec) +
                   static_cast<double>(info.st_mtim.tv_nsec) / 1e9};
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

bool readDictionaryFile(const std::filesystem::path& url, ZELValue* outValue, ZELError* outError) {
    if (!ZELPropertyList::readFile(url.string(), outValue, outError)) return false;
    if (outValue->isDictionary()) return true;
    return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                     ZELErrorCodeInvalidData,
                                     ZELStringWithFormat("\"%s\" does not hold a dictionary",
                                                         url.c_str())));
}

}  // namespace

ZELUserQueryList_FromFolder::ZELUserQueryList_FromFolder(
    std::shared_ptr<TarvoSecureURL> folderSecureURL, uint64_t flags)
    : folderSecureURL_(std::move(folderSecureURL)), loadFlags_(flags) {}

ZELUserQueryList_FromFolder::~ZELUserQueryList_FromFolder() {
    // First of all, so that no watcher call can reach a list being torn down (this also waits
    // for a reload that the watcher is running).
    TarvoFileWatcher::instance().removeFilesForDelegate(this);
}

TarvoFileWatcher::Token ZELUserQueryList_FromFolder::folderWatchToken() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return folderWatchToken_;
}

std::optional<std::filesystem::path> ZELUserQueryList_FromFolder::lastLoadedFolderURL() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return lastLoadedFolderURL_;
}

std::optional<ZELDate> ZELUserQueryList_FromFolder::lastLoadedFolderChangeDate() const {
    std::lock_guard<std::recursive_mutex> guard(contentsLock_);
    return lastLoadedFolderChangeDate_;
}

void ZELUserQueryList_FromFolder::ensureLoaded() {
    bool loaded;
    std::optional<ZELDate> lastDate;
    {
        std::lock_guard<std::recursive_mutex> guard(contentsLock_);
        loaded = wasLoaded_;
        lastDate = lastLoadedFolderChangeDate_;
    }
    if (loaded && folderSecureURL_ && modificationDateOfURL(folderSecureURL_->url()) == lastDate) {
        return;
    }
    reloadFromDisk();
}

bool ZELUserQueryList_FromFolder::reloadFromDisk() {
    ZELError error;
    if (reloadFromDiskAndGetError(&error)) return true;
    ZELLogFormat("! error loading query list from folder: %s", error.description().c_str());
    return false;
}

bool ZELUserQueryList_FromFolder::reloadFromDiskAndGetError(ZELError* outError) {
    if (!folderSecureURL_) return true;
    return folderSecureURL_->accessWithFlags(
        TarvoSecureURL::AccessFlagRead, outError, [&](const std::filesystem::path& url) {
            TarvoFileWatcher& watcher = TarvoFileWatcher::instance();
            TarvoFileWatcher::Token staleToken = 0;
            {
                std::lock_guard<std::recursive_mutex> guard(contentsLock_);
                if (folderWatchToken_ &&
                    !(lastLoadedFolderURL_ && sameFile(url, *lastLoadedFolderURL_))) {
                    staleToken = folderWatchToken_;
                    folderWatchToken_ = 0;
                }
            }
            if (staleToken) watcher.removeFileWithToken(staleToken);

            EntryList entries;
            ListList sublists;
            loadFromAccessibleURL(url, loadFlags_, &entries, &sublists, nullptr);

            // The watcher answers the same token when this list registers the folder again.
            const TarvoFileWatcher::Token token =
                (loadFlags_ & LoadFlagWatchFolder)
                    ? watcher.addFileAtPath(url.string(), TarvoFileWatcherActionsFolderChange, this)
                    : 0;
            std::lock_guard<std::recursive_mutex> guard(contentsLock_);
            if (token) folderWatchToken_ = token;
            lastLoadedFolderURL_ = url;
            lastLoadedFolderChangeDate_ = modificationDateOfURL(url);
            wasLoaded_ = true;
            replaceContents(std::move(entries), std::move(sublists));
        });
}

bool ZELUserQueryList_FromFolder::loadFromAccessibleURL(const std::filesystem::path& url,
                                                        uint64_t flags, EntryList* outEntries,
                                                        ListList* outSublists, ZELError*) {
    EntryList entries;
    ListList sublists;
    std::error_code error;
    std::filesystem::directory_iterator children(url, error);
    for (; !error && children != std::filesystem::directory_iterator(); children.increment(error)) {
        const std::filesystem::path& child = children->path();
        if (child.extension() == ".query") {
            ZELValue plist;
            ZELError readError;
            if (!readDictionaryFile(child, &plist, &readError)) {
                ZELLogFormat("! error loading query from file: %s", readError.description().c_str());
                continue;
            }
            auto entry = ZELUserQueryListEntry::entryWithPlistSerialization(plist);
            entry->setTitle(ZELStringFromUTF8(child.stem().string()));
            entries.push_back(std::move(entry));
            continue;
        }
        std::error_code typeError;
        if (!(flags & LoadFlagLoadSubfolders) || !children->is_directory(typeError)) continue;
        ZELError captureError;
        auto subfolderURL = TarvoSecureURL::secureURLCapturingBookmarkForURL(child, true, &captureError);
        if (!subfolderURL) {
            ZELLogFormat("! error loading query list from subfolder: %s",
                         captureError.description().c_str());
            continue;
        }
        const uint64_t subflags = (flags & LoadFlagWatchSubfolders)
                                      ? (LoadFlagWatchFolder | LoadFlagLoadSubfolders | LoadFlagWatchSubfolders)
                                      : LoadFlagLoadSubfolders;
        auto sublist = std::make_shared<ZELUserQueryList_FromFolder>(std::move(subfolderURL), subflags);
        sublist->setTitle(ZELStringFromUTF8(child.filename().string()));
        sublists.push_back(std::move(sublist));
    }
    if (error) {
        ZELLogFormat("! error loading query list from folder: %s: %s", url.c_str(),
                     error.message().c_str());
    }
    if (outEntries) *outEntries = std::move(entries);
    if (outSublists) *outSublists = std::move(sublists);
    return true;
}

void ZELUserQueryList_FromFolder::fileWatcherNotedAction(TarvoFileWatcher&, uint64_t,
                                                         const std::string&) {
    reloadFromDisk();
}
