#pragma once

#include <exception>
#include <string>

// Exception names. Raised only for programming errors and exhausted memory.
extern const char* const ZELImmutableVectorException;
extern const char* const ZELDatabaseInvalidException;
extern const char* const ZELOutOfMemoryException;
extern const char* const ZELFileCorruptionException;  // for clients; the system never raises it
extern const char* const ZELInternalInconsistencyException;

// The one exception type of the system: a name from the list above and a reason text.
class ZELException : public std::exception {
public:
    ZELException(std::string name, std::string reason);

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string name_;
    std::string reason_;
    std::string what_;  // "name: reason"
};

[[noreturn]] void ZELRaise(const char* name, std::string reason);
