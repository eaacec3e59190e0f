#include "zel/userquery/ZELCompletionPrefix.h"

#include <algorithm>

namespace {

bool isSpaceOrLineEnd(char16_t character) {
    return character == u' ' || character == u'\t' || character == u'\n' || character == u'\r' ||
           character == u'\u00A0' || character == u'\u2028' || character == u'\u2029' ||
           character == u'\u3000';
}

size_t skipSpace(std::u16string_view text, size_t position) {
    while (position < text.size() && isSpaceOrLineEnd(text[position])) ++position;
    return position;
}

}  // namespace

ZELCompletionPrefix ZELCompletionPrefix::atCaret(std::u16string_view text, size_t caret) {
    caret = std::min(caret, text.size());
    const size_t token = text.substr(0, caret).rfind(tokenCharacter);
    const size_t start = token == std::u16string_view::npos ? 0 : token + 1;
    ZELCompletionPrefix result;
    size_t termStart = skipSpace(text, start);
    if (termStart >= caret) return result;
    if (text[termStart] == u'!') {
        result.isNegated = true;
        termStart = skipSpace(text, termStart + 1);
    }
    result.prefix = ZELString(text.substr(termStart, caret - std::min(termStart, caret)));
    result.rangeStart = start;
    result.rangeLength = caret - start;
    return result;
}

bool ZELCompletionPrefix::endsWithTerminal() const {
    return !prefix.empty() && isSpaceOrLineEnd(prefix.back());
}

ZELString ZELCompletionPrefix::cleanPrefix() const {
    return endsWithTerminal() ? prefix.substr(0, prefix.size() - 1) : prefix;
}
