#pragma once

// Whole-file reads and writes, and little-endian words, for tests that check stored bytes
// against literal ones or damage them on purpose.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

// The file's bytes, as a std::vector<uint8_t> or as `Bytes` (std::string); empty when missing.
template <class Bytes = std::vector<uint8_t>>
Bytes ZELTestReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void ZELTestWriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void ZELTestWriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    ZELTestWriteFile(path,
                     std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Bytes written as pairs of hex digits, spaces free: ZELTestHex("0403 0201 ff").
inline std::vector<uint8_t> ZELTestHex(std::string_view digits) {
    std::vector<uint8_t> bytes;
    int pending = -1;  // the high half of the byte being read
    for (const char digit : digits) {
        if (digit == ' ') continue;
        const int nibble = digit <= '9' ? digit - '0' : (digit | 0x20) - 'a' + 10;
        if (pending < 0) {
            pending = nibble;
        } else {
            bytes.push_back(static_cast<uint8_t>(pending << 4 | nibble));
            pending = -1;
        }
    }
    return bytes;
}

inline uint32_t ZELTestRead32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes.at(offset + i);
    return value;
}
inline void ZELTestPut32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}
