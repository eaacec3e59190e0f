#include "zel/platform/ZELString.h"

#include <cstdio>
#include <vector>

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes one scalar value starting at `i`, advancing `i`; answers U+FFFD for an ill-formed
// sequence (consuming one byte, so that decoding resynchronises on the next lead byte).
char32_t decodeUTF8(std::string_view s, size_t& i, bool& wellFormed) {
    const auto byteAt = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byteAt(i);
    wellFormed = true;
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length;
    char32_t value;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        wellFormed = false;
        ++i;
        return kReplacementCharacter;
    }
    if (i + length > s.size()) {
        wellFormed = false;
        ++i;
        return kReplacementCharacter;
    }
    for (size_t k = 1; k < length; ++k) {
        const unsigned char continuation = byteAt(i + k);
        if ((continuation & 0xC0) != 0x80) {
            wellFormed = false;
            ++i;
            return kReplacementCharacter;
        }
        value = (value << 6) | (continuation & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        wellFormed = false;
        ++i;
        return kReplacementCharacter;
    }
    i += length;
    return value;
}

}  // namespace

ZELString ZELStringFromUTF8(std::string_view utf8) {
    ZELString result;
    result.reserve(utf8.size());
    size_t i = 0;
    bool wellFormed;
    while (i < utf8.size()) {
        const char32_t c = decodeUTF8(utf8, i, wellFormed);
        if (c >= 0x10000) {
            result.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(c));
        }
    }
    return result;
}

std::string ZELStringToUTF8(std::u16string_view utf16) {
    // The leading ASCII stretch (often the whole text) is copied unit by unit.
    size_t ascii = 0;
    while (ascii < utf16.size() && utf16[ascii] < 0x80) ++ascii;
    std::string result(utf16.begin(), utf16.begin() + static_cast<std::ptrdiff_t>(ascii));
    if (ascii == utf16.size()) return result;
    result.reserve(utf16.size() + utf16.size() / 2);
    for (size_t i = ascii; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacementCharacter;
        }
        if (c < 0x80) {
            result.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (c >> 6)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | (c >> 12)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | (c >> 18)));
            result.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return result;
}

bool ZELStringIsValidUTF8(std::string_view utf8) {
    size_t i = 0;
    bool wellFormed = true;
    while (i < utf8.size() && wellFormed) decodeUTF8(utf8, i, wellFormed);
    return wellFormed;
}

std::string ZELStringWithFormatV(const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0) return std::string();
    std::string result(static_cast<size_t>(length), '\0');
    std::vsnprintf(result.data(), result.size() + 1, format, arguments);
    return result;
}

std::string ZELStringWithFormat(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string result = ZELStringWithFormatV(format, arguments);
    va_end(arguments);
    return result;
}
