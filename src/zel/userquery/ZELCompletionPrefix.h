#pragma once

#include <cstddef>
#include <string_view>

#include "zel/platform/ZELString.h"

// The term the user is typing in a search field: the text between the last token before the
// caret and the caret, as the field completes it. The field's text holds each token as one
// U+FFFC character. A plain value; any thread.
struct ZELCompletionPrefix {
    static constexpr char16_t tokenCharacter = u'\uFFFC';

    // The typed term without leading white space and without a leading "!" (which negates);
    // trailing white space is kept (see endsWithTerminal).
    ZELString prefix;
    // The stretch of the text the term occupies: from just after the token (or the start) to
    // the caret. Empty at 0 when nothing but white space was typed.
    size_t rangeStart = 0;
    size_t rangeLength = 0;
    bool isNegated = false;

    // Reads the term before `caret` (clamped to the text's length).
    static ZELCompletionPrefix atCaret(std::u16string_view text, size_t caret);

    // The typed term ends in white space or a line end: the user means to finish it.
    bool endsWithTerminal() const;
    // The term without its terminal character.
    ZELString cleanPrefix() const;
};
