#include "zel/platform/ZELError.h"

#include <cstring>
#include <iterator>

#include "zel/platform/ZELString.h"

const char* const ZELErrorDomain = "ZELErrorDomain";
const char* const ZELPlatformErrorDomain = "ZELPlatformErrorDomain";

namespace {

// Indexed by ZELErrorCode.
constexpr const char* kErrorCodeNames[] = {
    "ZELErrorCodeFileAccess",         "ZELErrorCodeUnsupportedFormat",
    "ZELErrorCodeDatabaseTooOld",     "ZELErrorCodeInvalidData",
    "ZELErrorCodeWriteFailed",        "ZELErrorCodeOutOfMemory",
    "ZELErrorCodeIOFailure",          "ZELErrorCodeIDInUse",
    "ZELErrorCodeIDNotAssigned",      "ZELErrorCodeUnknownSearchCriterion",
    "ZELErrorCodeUnsupportedOperation",
};
static_assert(std::size(kErrorCodeNames) == ZELErrorCodeUnsupportedOperation + 1);

}  // namespace

const char* ZELErrorCodeName(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kErrorCodeNames))) return "";
    return kErrorCodeNames[code];
}

ZELError::ZELError(std::string domain, int code, std::string failureReason)
    : domain_(std::move(domain)), code_(code), failureReason_(std::move(failureReason)) {}

ZELError ZELError::errorWithZELErrorCode(int code, std::string message) {
    return ZELError(ZELErrorDomain, code, std::move(message));
}

ZELError ZELError::errorWithDomain(std::string domain, int code, std::string message) {
    return ZELError(std::move(domain), code, std::move(message));
}

ZELError ZELError::errorWithCocoaErrorCode(int code, std::string message) {
    return ZELError(ZELPlatformErrorDomain, code, std::move(message));
}

ZELError ZELError::errorWithErrno(int errnoValue, const std::string& what) {
    return ZELError(ZELPlatformErrorDomain, errnoValue,
                    what + ": " + std::strerror(errnoValue));
}

bool ZELError::matchesZELErrorCode(int code) const {
    return code_ == code && domain_ == ZELErrorDomain;
}

std::string ZELError::description() const {
    return ZELStringWithFormat("Error Domain=%s Code=%d \"%s\"", domain_.c_str(), code_,
                               failureReason_.c_str());
}

bool ZELSetError(ZELError* outError, ZELError error) {
    if (outError) *outError = std::move(error);
    return false;
}
