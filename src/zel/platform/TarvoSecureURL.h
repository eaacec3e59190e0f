#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "zel/platform/ZELObject.h"

class ZELError;

// A remembered location of a folder (or file) with the right to use it: the stand-in for a
// sandbox bookmark. Access is checked each time it is asked for, so a folder that went away,
// was replaced by a file, or cannot be read answers an error instead of running the callable.
// Immutable; any thread.
class TarvoSecureURL : public ZELObject {
public:
    // Access flags; only reading is asked for by the library.
    enum AccessFlags : uint64_t {
        AccessFlagRead = 1,
    };

    // Captures `url` (made absolute). Fails with code 0 (ZELErrorCodeFileAccess) naming the path
    // and the system's reason when nothing is there.
    static std::shared_ptr<TarvoSecureURL> secureURLCapturingBookmarkForURL(
        const std::filesystem::path& url, bool readOnly, ZELError* outError);
    TarvoSecureURL(std::filesystem::path url, bool readOnly);

    const std::filesystem::path& url() const { return url_; }
    bool isReadOnly() const { return readOnly_; }

    // Runs `body` with the location when it names a folder whose listing can be opened (the
    // library keeps only folder locations). Otherwise false with code 0 (ZELErrorCodeFileAccess) "The folder \"<path>\" cannot be
    // read: <reason>." and `body` is not run.
    bool accessWithFlags(uint64_t flags, ZELError* outError,
                         const std::function<void(const std::filesystem::path& url)>& body) const;

    // "TarvoSecureURL<0x...> <path>".
    std::string description() const override;

private:
    const std::filesystem::path url_;
    const bool readOnly_;
};
