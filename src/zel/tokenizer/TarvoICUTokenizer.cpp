#include "zel/tokenizer/TarvoICUTokenizer.h"

#include "zel/tokenizer/ZELWordBreakIterator+Private.h"

bool TarvoICUTokenizer_VisitWordsInString(const char* localeIdentifier, std::u16string_view text,
                                          size_t start, size_t length,
                                          const TarvoICUTokenizerVisitor& visitor) {
    // The iterator reads the stretch in place; it needs no copy because the text outlives
    // the walk.
    const ZELWordBreakIterator words(localeIdentifier, text.substr(start, length));
    if (!words.isValid()) return false;
    UBreakIterator* iterator = words.get();
    int32_t previous = ubrk_first(iterator);
    for (int32_t boundary = ubrk_next(iterator); boundary != UBRK_DONE; boundary = ubrk_next(iterator)) {
        if (!visitor(start + static_cast<size_t>(previous), static_cast<size_t>(boundary - previous))) break;
        previous = boundary;
    }
    return true;
}
