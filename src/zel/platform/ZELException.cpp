#include "zel/platform/ZELException.h"

const char* const ZELImmutableVectorException = "ZELImmutableVectorException";
const char* const ZELDatabaseInvalidException = "ZELDatabaseInvalidException";
const char* const ZELOutOfMemoryException = "ZELOutOfMemoryException";
const char* const ZELFileCorruptionException = "ZELFileCorruptionException";
const char* const ZELInternalInconsistencyException = "ZELInternalInconsistencyException";

ZELException::ZELException(std::string name, std::string reason)
    : name_(std::move(name)), reason_(std::move(reason)), what_(name_ + ": " + reason_) {}

void ZELRaise(const char* name, std::string reason) {
    throw ZELException(name, std::move(reason));
}
