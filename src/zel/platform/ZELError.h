#pragma once

#include <string>

// The system's error domain, "ZELErrorDomain".
extern const char* const ZELErrorDomain;
// The platform's general error domain, for errors that are not the system's own
// (file-manager failures passed on to callers).
extern const char* const ZELPlatformErrorDomain;

// Codes of ZELErrorDomain. Part of the public contract and stored by hosts; never renumber.
enum ZELErrorCode : int {
    ZELErrorCodeFileAccess = 0,
    ZELErrorCodeUnsupportedFormat = 1,
    ZELErrorCodeDatabaseTooOld = 2,
    ZELErrorCodeInvalidData = 3,
    ZELErrorCodeWriteFailed = 4,
    ZELErrorCodeOutOfMemory = 5,
    ZELErrorCodeIOFailure = 6,
    ZELErrorCodeIDInUse = 7,
    ZELErrorCodeIDNotAssigned = 8,
    ZELErrorCodeUnknownSearchCriterion = 9,
    ZELErrorCodeUnsupportedOperation = 10,
};

// The name of a code of ZELErrorDomain ("ZELErrorCodeFileAccess", ...), or "" for another value.
const char* ZELErrorCodeName(int code);

// An error handed back through a nullable `ZELError* outError`: a domain, a code and the
// message as failure reason. A default-constructed error is "no error" (empty domain).
class ZELError {
public:
    ZELError() = default;
    ZELError(std::string domain, int code, std::string failureReason);

    static ZELError errorWithZELErrorCode(int code, std::string message);
    static ZELError errorWithDomain(std::string domain, int code, std::string message);
    static ZELError errorWithCocoaErrorCode(int code, std::string message);
    // An error in ZELPlatformErrorDomain whose code is `errnoValue` and whose reason names
    // the failed operation and strerror's text.
    static ZELError errorWithErrno(int errnoValue, const std::string& what);

    bool isError() const { return !domain_.empty(); }
    explicit operator bool() const { return isError(); }

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }
    const std::string& failureReason() const { return failureReason_; }

    // True when the domain is ZELErrorDomain and the code equals `code`.
    bool matchesZELErrorCode(int code) const;

    // "Error Domain=%s Code=%d \"%s\"" for logs.
    std::string description() const;

    friend bool operator==(const ZELError&, const ZELError&) = default;

private:
    std::string domain_;
    int code_ = 0;
    std::string failureReason_;
};

// Stores `error` in `*outError` when the caller asked for it. Answers false, so that a failing
// operation can end with `return ZELSetError(outError, ...);`.
bool ZELSetError(ZELError* outError, ZELError error);
