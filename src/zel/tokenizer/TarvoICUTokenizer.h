#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

// Visits the word-boundary segments of a stretch of text with ICU's word break iterator.
// Visitor: (start of the segment in `text`, its length in code units) → false to stop.
using TarvoICUTokenizerVisitor = std::function<bool(size_t start, size_t length)>;

// Segments text[start, start + length) with the word break rules of `localeIdentifier` and
// calls `visitor` for each pair of successive boundaries, in order. Answers true when the
// iterator opened (a warning status counts as success), false when it did not; nothing is
// visited then. Any thread.
// Requires: the stretch lies inside `text`.
bool TarvoICUTokenizer_VisitWordsInString(const char* localeIdentifier, std::u16string_view text,
                                          size_t start, size_t length,
                                          const TarvoICUTokenizerVisitor& visitor);
