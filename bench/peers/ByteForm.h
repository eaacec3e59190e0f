#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

// The byte form in which a parent hands a child process its work and the child its figures:
// values written in order, in the machine's own layout (both ends are the same program), read
// back in the same order. Reading past the end throws.
class ByteWriter {
public:
    template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T>>>
    void put(T value) {
        bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void putString(std::string_view text) {
        put<uint64_t>(text.size());
        bytes_.append(text);
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

class ByteReader {
public:
    // `bytes` must outlive the reader.
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

    template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T>>>
    T get() {
        T value;
        std::memcpy(&value, take(sizeof value), sizeof value);
        return value;
    }
    std::string getString() {
        const auto size = get<uint64_t>();
        return std::string(take(size), size);
    }

private:
    const char* take(size_t size) {
        if (size > bytes_.size() - offset_) {
            throw std::runtime_error("child process answer is truncated");
        }
        const char* start = bytes_.data() + offset_;
        offset_ += size;
        return start;
    }

    const std::string_view bytes_;
    size_t offset_ = 0;
};
