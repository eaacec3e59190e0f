#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

// Text of the system: UTF-16, the form the stored bytes, ICU and Qt use. Diagnostic texts
// (error reasons, log lines, descriptions) are UTF-8 std::string; conversion happens at the edges.
using ZELString = std::u16string;

// Converts UTF-8 to UTF-16; an ill-formed sequence becomes U+FFFD.
ZELString ZELStringFromUTF8(std::string_view utf8);

// Converts UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ZELStringToUTF8(std::u16string_view utf16);

// True when `utf8` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool ZELStringIsValidUTF8(std::string_view utf8);

// printf-style formatting into a std::string.
std::string ZELStringWithFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string ZELStringWithFormatV(const char* format, va_list arguments);
