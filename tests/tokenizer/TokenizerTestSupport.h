#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELString.h"
#include "zel/tokenizer/ZELTokenizerState.h"

// Token sets written as UTF-8 literals in expectations.
inline ZELTokenSet Tokens(const std::vector<const char*>& utf8Tokens) {
    ZELTokenSet tokens;
    for (const char* token : utf8Tokens) tokens.insert(ZELStringFromUTF8(token));
    return tokens;
}

inline std::vector<ZELString> TokenList(const std::vector<const char*>& utf8Tokens) {
    std::vector<ZELString> tokens;
    for (const char* token : utf8Tokens) tokens.push_back(ZELStringFromUTF8(token));
    return tokens;
}

inline ZELString U(const char* utf8) { return ZELStringFromUTF8(utf8); }

// Readable token sets in failure messages.
inline std::string Describe(const std::optional<ZELTokenSet>& tokens) {
    if (!tokens) return "(none)";
    std::string text = "{";
    for (const ZELString& token : *tokens) text += " [" + ZELStringToUTF8(token) + "]";
    return text + " }";
}
