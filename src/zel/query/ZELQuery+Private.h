#pragma once

#include <string_view>

#include "zel/platform/ZELString.h"

// Character tests shared by the description code of the query node kinds. Not installed.

// A space, a tab or another Unicode space separator (line breaks do not count): a value
// holding one is quoted in descriptions.
bool ZELQueryTextContainsSpaceSeparator(std::u16string_view text);
// Any white-space character, line breaks included (UTF-8 text).
bool ZELQueryTextContainsWhitespaceOrNewline(std::string_view utf8);
// A line break: LF, VT, FF, CR, NEL, U+2028 or U+2029 (UTF-8 text).
bool ZELQueryTextContainsNewline(std::string_view utf8);
