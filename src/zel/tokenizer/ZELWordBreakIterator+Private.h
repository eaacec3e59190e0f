#pragma once

#include <unicode/ubrk.h>

#include <string_view>

// An ICU word break iterator over one text, borrowed from a per-thread pool of iterators
// (opening one costs far more than resetting its text). Lives on the stack of one call and
// stays on its thread; nested borrows on one thread get separate iterators.
class ZELWordBreakIterator {
public:
    // Borrows an iterator for `localeIdentifier` set to the first `length` units of `text`.
    // Texts longer than INT32_MAX units are seen only up to that length.
    ZELWordBreakIterator(const char* localeIdentifier, std::u16string_view text);
    ~ZELWordBreakIterator();
    ZELWordBreakIterator(const ZELWordBreakIterator&) = delete;
    ZELWordBreakIterator& operator=(const ZELWordBreakIterator&) = delete;

    // True when ICU opened the iterator (a warning such as "using the root rules" counts as
    // success).
    bool isValid() const { return iterator_ != nullptr; }
    const char* errorName() const;

    // Requires: isValid().
    UBreakIterator* get() const { return iterator_; }

private:
    UBreakIterator* iterator_ = nullptr;
    int slot_ = -1;
    int status_ = 0;  // UErrorCode of a failed open
};
