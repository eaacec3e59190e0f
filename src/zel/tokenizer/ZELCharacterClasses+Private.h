#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zel/tokenizer/ZELRange.h"

// Character classes shared by the tokenizers and the string comparison. The classes of the
// basic multilingual plane are looked up in one table filled block by block at first use
// (thread-safe); code points beyond it ask ICU directly. Any thread.

enum ZELCharacterClass : uint8_t {
    // Z* categories, U+0009 to U+000D and U+0085.
    ZELCharacterClassWhitespaceOrNewline = 1 << 0,
    // Outside whitespace-and-newline, controls (Cc, Cf), surrogates and unassigned code points.
    ZELCharacterClassVisible = 1 << 1,
    // Letters, marks and numbers (L*, M*, N*).
    ZELCharacterClassAlphanumeric = 1 << 2,
    // Decimal digits, punctuation and symbols (Nd, P*, S*): texts beginning with one of these
    // sort after texts beginning with a letter.
    ZELCharacterClassLeadingNonLetter = 1 << 3,
    // Nonspacing marks (Mn): the diacritics that sorting and prefix tests look through.
    ZELCharacterClassNonspacingMark = 1 << 4,
    // The Chinese and Japanese blocks whose runs are segmented with a dictionary.
    ZELCharacterClassCJK = 1 << 5,
    // "A"-"Z", "a"-"z", "0"-"9", "+", "/", "=".
    ZELCharacterClassBase64 = 1 << 6,
};

// The class bits of one code point.
uint8_t ZELCharacterClassesOf(char32_t codePoint);

inline bool ZELCharacterIsIn(char32_t codePoint, ZELCharacterClass characterClass) {
    return (ZELCharacterClassesOf(codePoint) & characterClass) != 0;
}

// The code point at `index` (a surrogate pair read as one) and its length in code units.
// An unpaired surrogate reads as itself, one unit long.
inline char32_t ZELCodePointAt(std::u16string_view text, size_t index, size_t* unitCount) {
    const char16_t unit = text[index];
    if (unit >= 0xD800 && unit < 0xDC00 && index + 1 < text.size()) {
        const char16_t trail = text[index + 1];
        if (trail >= 0xDC00 && trail < 0xE000) {
            *unitCount = 2;
            return 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(trail) - 0xDC00);
        }
    }
    *unitCount = 1;
    return unit;
}

// True when the unit begins a paragraph separator (line feed, carriage return, U+2029).
inline bool ZELIsParagraphSeparator(char16_t unit) {
    return unit == u'\n' || unit == u'\r' || unit == 0x2029;
}

// The first unit at or after `from` that is whitespace or a newline; ZELNotFound when none.
size_t ZELFindWhitespaceOrNewline(std::u16string_view text, size_t from);

// True when the text holds at least one visible character.
bool ZELContainsVisibleCharacter(std::u16string_view text);
