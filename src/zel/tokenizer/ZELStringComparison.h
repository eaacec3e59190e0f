#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zel/platform/ZELString.h"
#include "zel/platform/ZELTypes.h"
#include "zel/tokenizer/ZELRange.h"

// Normalization, ordering and prefix tests of texts, and a few small text operations.
// Free functions on UTF-16 text; every function may be called on any thread. Orderings answer
// a negative number, 0 or a positive number as `text` sorts before, equal to or after `other`.

// The normalized value of a term: Unicode normalization form D, then the locale-independent
// Unicode lower-case mapping. Two terms are the same aspect bit exactly when these are equal.
ZELString ZELNormalizedCaseInsensitiveComparisonString(std::u16string_view text);

// The key order of every aspect's sorted value list, and part of its stored form: changing it
// reorders existing lists on disk.
//   1. Texts whose first character (diacritics aside) is a letter, or that are empty, come
//      before texts beginning with a digit, punctuation or a symbol.
//   2. Then by the texts' canonical decompositions with the nonspacing marks (diacritics)
//      left out, in code point order.
//   3. Texts equal so far are ordered by their full decompositions in code point order, where
//      a nonspacing mark sorts after every other character. Only canonically equivalent texts
//      compare equal.
// Step 2 makes the order agree with `hasZELSortPrefix`: the keys that pass the prefix test for
// a prefix form one run of the order, which starts at the place of
// `ZELSortPrefixLowerBound(prefix)`; for a prefix without diacritics that is the prefix's own
// place (step 3 puts a text without marks first among the texts equal to it in step 2).
int compareZELSort(std::u16string_view text, std::u16string_view other);

// A hash that agrees with `compareZELSort`: texts it finds equal (canonically equivalent
// texts) hash alike. Not stored; may change between versions.
uint32_t hashZELSort(std::u16string_view text);

// Whether `text` begins with `prefix`, ignoring diacritics (nonspacing marks) and treating
// canonically equivalent forms as equal; case matters. An empty prefix answers true. The prefix
// "e" matches a text beginning with "é" and the prefix "é" one beginning with "e".
bool hasZELSortPrefix(std::u16string_view text, std::u16string_view prefix);

// The smallest text in the order of `compareZELSort` that passes `hasZELSortPrefix` for
// `prefix`: its canonical decomposition without nonspacing marks. A sorted list locates the
// run of keys with that prefix at the place of this text.
ZELString ZELSortPrefixLowerBound(std::u16string_view prefix);

// Locale-aware orders with the comparison locale (`localeForUniformZELStringComparison`):
// rule 1 of `compareZELSort` first, then the locale's collation with canonically equivalent
// forms equal; the second ignores case. For lists shown to the user, never for stored orders.
int compareZELLocalized(std::u16string_view text, std::u16string_view other);
int compareZELLocalizedCaseInsensitive(std::u16string_view text, std::u16string_view other);

// Whether `text` begins with `prefix` under the comparison locale's collation, ignoring
// diacritics, with case significant. An empty prefix answers true.
bool hasZELLocalizedPrefix(std::u16string_view text, std::u16string_view prefix);

// The comparison locale's collation with embedded numbers ordered by their value ("2" before
// "10"), for completion lists of years and days.
int compareByZELNumericalSort(std::u16string_view text, std::u16string_view other);

// The user-defaults key under which the comparison locale is kept.
extern const char* const ZELStringComparisonLocaleDefaultsKey;  // "com.tarvo.ZEL.stringComparisonLocale"

// The process's comparison locale, an ICU locale identifier. Computed once: the identifier
// kept in the user defaults when there is one, otherwise the user's current locale, which is
// then stored there, so that orders computed in one run stay valid in the next.
std::string localeForUniformZELStringComparison();

// Replaces the comparison locale for the rest of the process without touching the user
// defaults: for tests, and for hosts that keep the setting themselves. An empty identifier
// forgets the locale: the next use resolves it again from the user defaults.
void ZELSetLocaleForUniformZELStringComparison(std::string localeIdentifier);

// The user's current locale: ICU's default locale (from LC_ALL, LC_MESSAGES or LANG). The
// "C" and "POSIX" locales, which ICU reports as "en_US_POSIX", answer "root": their word
// breaks would split "example.com" and their collation orders every capital before "a".
std::string ZELCurrentUserLocaleIdentifier();

// The ID in decimal.
ZELString stringWithZELID(ZELID identifier);

// The text's integer value as an ID; ZELNoID when the value lies outside 0 to 0xFFFFFFFF.
ZELID ZELIDValue(std::u16string_view text);

// The integer at the start of the text: leading whitespace skipped, an optional sign, then
// ASCII digits; 0 when there are none. Values beyond the 64-bit range saturate.
int64_t ZELStringIntegerValue(std::u16string_view text);

// Each code unit in turn: A-Z, a-z, newline and space as themselves, every other unit as
// "\uXXXX" (four lower-case hex digits). For diagnostics.
std::string unicodeCodePointsDescription(std::u16string_view text);

// An empty range answers itself; otherwise the range from the first to the last unit inside
// `range` that is not whitespace or a newline, or {ZELNotFound, 0} when there is none.
// Requires: `range` lies inside `text`.
ZELRange nonwhitespaceCharacterRangeForRange(std::u16string_view text, ZELRange range);
