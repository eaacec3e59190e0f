#include "zel/stream/ZELData+Base64.h"

#include <array>
#include <type_traits>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t kSkipped = 0xFF;
constexpr uint8_t kPad = 64;

// Value of each ASCII character: 0-63 for the alphabet, kPad for "=", kSkipped otherwise.
constexpr std::array<uint8_t, 128> kDecodeTable = [] {
    std::array<uint8_t, 128> table{};
    table.fill(kSkipped);
    for (uint8_t value = 0; value < 64; ++value) {
        table[static_cast<uint8_t>(kAlphabet[value])] = value;
    }
    table['='] = kPad;
    return table;
}();

template <typename Char>
std::optional<ZELData> decode(std::basic_string_view<Char> text) {
    ZELData bytes;
    bytes.reserve(text.size() / 4 * 3);
    uint8_t group[4];
    int groupCount = 0;
    for (const Char character : text) {
        const auto code = static_cast<std::make_unsigned_t<Char>>(character);
        if (code >= kDecodeTable.size() || kDecodeTable[code] == kSkipped) continue;
        group[groupCount++] = kDecodeTable[code];
        if (groupCount < 4) continue;
        groupCount = 0;
        if (group[0] == kPad || group[1] == kPad) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(group[0] << 2 | group[1] >> 4));
        if (group[2] == kPad) continue;
        bytes.push_back(static_cast<uint8_t>((group[1] & 0x0F) << 4 | group[2] >> 2));
        if (group[3] == kPad) continue;
        bytes.push_back(static_cast<uint8_t>((group[2] & 0x03) << 6 | group[3]));
    }
    if (groupCount != 0) return std::nullopt;
    return bytes;
}

}  // namespace

ZELData ZELData_Base64DataWithLineLength(std::span<const uint8_t> bytes, uint32_t lineLength) {
    ZELData text;
    const uint64_t groupCount = (bytes.size() + 2) / 3;
    text.reserve(groupCount * 4 + (lineLength ? groupCount * 4 / lineLength + 1 : 0));
    uint64_t lineCharacters = 0;
    const auto appendGroup = [&](uint32_t triple, int significant) {
        for (int index = 0; index < 4; ++index) {
            text.push_back(index <= significant
                               ? static_cast<uint8_t>(kAlphabet[(triple >> (18 - 6 * index)) & 0x3F])
                               : uint8_t{'='});
        }
        lineCharacters += 4;
        if (lineLength > 0 && lineCharacters >= lineLength) {
            text.push_back('\n');
            lineCharacters = 0;
        }
    };
    size_t index = 0;
    for (; index + 3 <= bytes.size(); index += 3) {
        appendGroup(uint32_t{bytes[index]} << 16 | uint32_t{bytes[index + 1]} << 8 | bytes[index + 2], 3);
    }
    const size_t rest = bytes.size() - index;
    if (rest == 1) appendGroup(uint32_t{bytes[index]} << 16, 1);
    if (rest == 2) appendGroup(uint32_t{bytes[index]} << 16 | uint32_t{bytes[index + 1]} << 8, 2);
    return text;
}

std::string ZELData_Base64String(std::span<const uint8_t> bytes) {
    const ZELData text = ZELData_Base64DataWithLineLength(bytes, 0);
    return std::string(text.begin(), text.end());
}

std::optional<ZELData> ZELData_WithBase64String(std::string_view text) { return decode(text); }

std::optional<ZELData> ZELData_WithBase64String(std::u16string_view text) { return decode(text); }
