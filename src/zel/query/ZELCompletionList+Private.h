#pragma once

#include <string_view>
#include <vector>

#include "zel/platform/ZELString.h"

// Helpers shared by the completion lists and the completion collector.

// Whether the normalized text (ZELNormalizedCaseInsensitiveComparisonString) begins with the
// normalized prefix, the prefix not ending inside a character: "e" does not begin "é", whose
// normalized form is "e" followed by a combining accent. Case is ignored through the forms.
bool ZELCompletionNormalizedTextHasPrefix(std::u16string_view normalizedText,
                                          std::u16string_view normalizedPrefix);

// Sorts the strings by the localized case-insensitive comparison; strings it finds equal keep
// their order.
void ZELCompletionSortLocalizedCaseInsensitive(std::vector<ZELString>& strings);
