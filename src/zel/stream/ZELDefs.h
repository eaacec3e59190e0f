#pragma once

#include <cstdint>

class ZELObject;

// Assertion and allocation-failure reporting shared by the whole library. Every function may be
// called from any thread; the assertion record and the emergency reserve are process-wide.
//
// The first call of any of these functions sets aside an emergency memory reserve (released when
// an allocation failure is reported, so that the report itself can allocate) and the buffer the
// allocation-failure message is composed in.

// Logs "ASSERT failed: <codeText>" (file and line only serve to recognise repeats). A failure that
// keeps repeating rapidly (the fourth or later of the same assertion, at most 5 s apart on average
// since its first failure, within 60 s of it) logs "ASSERT repeatedly failed, ignoring: <codeText>"
// instead.
void ZELAssertFailed(const char* codeText, const char* fileName, int lineNumber);

// Reports a call of an operation a subclass had to implement, as an assertion failure with the
// text "abstract method should be implemented [<class name> <operation>]".
void ZELAbstractMethodWasCalled(const ZELObject& object, const char* operation,
                                const char* fileName, int lineNumber);

// Reports an allocation of `byteCount` bytes for `what` that failed: releases the emergency
// reserve, prints the message to standard output, reports it as an assertion failure and raises
// ZELOutOfMemoryException with the reason "out of memory". Never returns.
[[noreturn]] void ZELMemoryAllocationFailed(uint64_t byteCount, const char* what,
                                            const char* fileName, int lineNumber);

// Checks a condition the code relies on; when it does not hold, reports the condition's text,
// file and line through ZELAssertFailed and carries on.
#define ZELAssert(test) ((test) ? (void)0 : ZELAssertFailed(#test, __FILE__, __LINE__))
