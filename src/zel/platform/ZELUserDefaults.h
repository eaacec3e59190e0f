#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "zel/platform/ZELValue.h"

class ZELError;

// Named values that outlive the process: the host's and the library's preferences (the last
// used save format, the string comparison locale). A store keeps its values in memory, reads
// its XML property-list file on first use and writes it back only through synchronize.
// `standard()` lives for the whole process, at
// $XDG_CONFIG_HOME/<application name>/defaults.plist (XDG_CONFIG_HOME defaulting to
// ~/.config); other stores belong to their creator. Any thread may use a store: its own mutex
// guards it. A damaged file is logged and read as empty; it is kept beside the new file, with
// ".damaged" appended to its name, when the store is next written.
class ZELUserDefaults {
public:
    // The process-wide store; its file is read on first use.
    static ZELUserDefaults& standard();

    // Names the folder of the standard store. The host sets it before the first use of
    // standard(); later calls are logged and change nothing. Default "ZEL". A name that cannot
    // be a single folder name ("", ".", "..", or holding '/') is logged and ignored.
    static void setApplicationName(std::string applicationName);

    // Where the standard store keeps its file, from the environment and the application name;
    // empty when neither XDG_CONFIG_HOME nor a home folder is known.
    static std::string standardFilePath();

    // A store backed by an explicit file path (tests, tools).
    explicit ZELUserDefaults(std::string filePath);
    ZELUserDefaults(const ZELUserDefaults&) = delete;
    ZELUserDefaults& operator=(const ZELUserDefaults&) = delete;

    const std::string& filePath() const { return filePath_; }

    // The value under `key` (UTF-8), or none when absent.
    ZELValue objectForKey(std::string_view key) const;

    // Stores `value` under `key`; none removes the key. A value without a property-list form
    // (a client object, a string XML cannot carry, ...) is logged and not stored.
    void setObject(std::string_view key, ZELValue value);
    void removeObjectForKey(std::string_view key);

    // Writes the file (atomically, creating its folder) when a value changed since the last
    // write; answers true at once when nothing changed.
    bool synchronize(ZELError* outError);

private:
    // Requires: lock_ is held.
    void loadIfNeeded() const;

    const std::string filePath_;
    mutable std::mutex lock_;
    mutable bool loaded_ = false;           // guarded by lock_
    mutable ZELValue::Dictionary values_;   // guarded by lock_
    mutable bool keepDamagedFile_ = false;  // guarded by lock_; set when the file was unreadable
    bool changed_ = false;                  // guarded by lock_
};
