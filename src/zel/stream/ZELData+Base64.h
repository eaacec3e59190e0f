#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zel/stream/ZELData.h"

// The base64 text form of byte buffers (RFC 4648 alphabet with "+" and "/", "=" padding).
// Plain functions; any thread.

// The text as ASCII bytes. With lineLength > 0, a line feed follows every 4-character group
// after which the current line holds lineLength or more characters (lines hold lineLength
// rounded up to a multiple of 4, and the text ends with a line feed when its last line is
// full); lineLength 0 gives one line.
ZELData ZELData_Base64DataWithLineLength(std::span<const uint8_t> bytes, uint32_t lineLength);
// The text on one line.
std::string ZELData_Base64String(std::span<const uint8_t> bytes);

// Decodes leniently: every character outside the alphabet and "=" is skipped wherever it
// stands; significant characters are taken in groups of four, and "=" in the third or fourth
// place ends its group with one or two bytes instead of three. The text may end only between
// groups; a text ending inside a group (or with "=" in a group's first two places) gives none.
// The empty text gives an empty buffer.
std::optional<ZELData> ZELData_WithBase64String(std::string_view text);
std::optional<ZELData> ZELData_WithBase64String(std::u16string_view text);
