#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "zel/platform/TarvoFileWatcher.h"
#include "zel/platform/ZELTypes.h"
#include "zel/userquery/ZELUserQueryList.h"

class TarvoSecureURL;

// A list of the saved searches in a folder: every file with the extension "query" is an entry
// titled by its file name, and with LoadFlagLoadSubfolders every subfolder a sublist (loaded
// when first asked). With LoadFlagWatchFolder the list watches its folder and reloads itself
// on the watcher's thread; each reload replaces the entries and sublists wholesale. Shared by
// its owner and, while watched, called by the shared TarvoFileWatcher, from which it removes
// itself when destroyed.
class ZELUserQueryList_FromFolder : public ZELUserQueryList, public TarvoFileWatcherDelegate {
public:
    // Nothing is read yet.
    ZELUserQueryList_FromFolder(std::shared_ptr<TarvoSecureURL> folderSecureURL, uint64_t flags);
    ~ZELUserQueryList_FromFolder() override;

    // Reloads unless the folder was loaded before and its modification date is unchanged.
    void ensureLoaded() override;
    // reloadFromDiskAndGetError, logging "! error loading query list from folder: <error>".
    bool reloadFromDisk();
    // Fails only when the folder cannot be accessed (the list then keeps its contents).
    bool reloadFromDiskAndGetError(ZELError* outError);

    // Lists the folder's immediate children in listing order: "query" files become entries
    // (damaged ones are logged and passed over), subfolders sublists when `flags` asks.
    static bool loadFromAccessibleURL(const std::filesystem::path& url, uint64_t flags,
                                      EntryList* outEntries, ListList* outSublists,
                                      ZELError* outError);

    // The watcher's callback: reloads, whatever the action.
    void fileWatcherNotedAction(TarvoFileWatcher& watcher, uint64_t actions,
                                const std::string& path) override;

    const std::shared_ptr<TarvoSecureURL>& folderSecureURL() const { return folderSecureURL_; }
    uint64_t loadFlags() const { return loadFlags_; }
    TarvoFileWatcher::Token folderWatchToken() const;
    std::optional<std::filesystem::path> lastLoadedFolderURL() const;
    std::optional<ZELDate> lastLoadedFolderChangeDate() const;

private:
    const std::shared_ptr<TarvoSecureURL> folderSecureURL_;
    const uint64_t loadFlags_;
    // Guarded by contentsLock_; the watcher is called only outside it (its delivery lock is
    // held while it calls this list, so holding both the other way round would deadlock).
    TarvoFileWatcher::Token folderWatchToken_ = 0;
    std::optional<std::filesystem::path> lastLoadedFolderURL_;
    std::optional<ZELDate> lastLoadedFolderChangeDate_;
    bool wasLoaded_ = false;
};
