#include "zel/platform/TarvoSecureURL.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELString.h"

std::shared_ptr<TarvoSecureURL> TarvoSecureURL::secureURLCapturingBookmarkForURL(
    const std::filesystem::path& url, bool readOnly, ZELError* outError) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(url, error);
    struct stat info;
    if (error || url.empty() || ::stat(absolute.c_str(), &info) != 0) {
        const std::string reason = error ? error.message() : std::strerror(url.empty() ? ENOENT : errno);
        ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                  ZELErrorCodeFileAccess,
                                  ZELStringWithFormat("Cannot remember the location \"%s\": %s.",
                                                      url.c_str(), reason.c_str())));
        return nullptr;
    }
    return std::make_shared<TarvoSecureURL>(absolute.lexically_normal(), readOnly);
}

TarvoSecureURL::TarvoSecureURL(std::filesystem::path url, bool readOnly)
    : url_(std::move(url)), readOnly_(readOnly) {}

bool TarvoSecureURL::accessWithFlags(
    uint64_t, ZELError* outError,
    const std::function<void(const std::filesystem::path& url)>& body) const {
    std::string reason;
    struct stat info;
    if (::stat(url_.c_str(), &info) != 0) {
        reason = std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
        DIR* folder = ::opendir(url_.c_str());
        if (folder) {
            ::closedir(folder);
        } else {
            reason = std::strerror(errno);
        }
    } else {
        reason = "it is not a folder";
    }
    if (!reason.empty()) {
        return ZELSetError(outError, ZELError::errorWithZELErrorCode(
                                         ZELErrorCodeFileAccess,
                                         ZELStringWithFormat("The folder \"%s\" cannot be read: %s.",
                                                             url_.c_str(), reason.c_str())));
    }
    body(url_);
    return true;
}

std::string TarvoSecureURL::description() const {
    return descriptionHead() + " " + url_.string();
}
