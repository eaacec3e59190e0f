// The reader of binary property lists ("bplist00").
//
// Layout, every integer big-endian:
//   offset 0         "bplist00"
//   offset 8         the objects, each a marker byte and its payload
//   table offset     the offset table: object count entries of `offsetSize` bytes, each the
//                    offset of one object; objects are named by their index in this table
//   length - 32      the trailer: 5 unused bytes, sort version (u8), offsetSize (u8, 1 to 8),
//                    objectRefSize (u8, 1 to 8), object count (u64), top object (u64),
//                    table offset (u64)
// Markers (high nibble the type, low nibble n):
//   0x08 false, 0x09 true
//   0x1n integer of 2^n bytes: 1, 2 and 4 bytes unsigned, 8 bytes signed, 16 bytes signed
//   0x2n real of 2^n bytes (binary32 or binary64)
//   0x33 date: binary64 seconds since 2001-01-01T00:00:00Z
//   0x4n data of n bytes        0x5n ASCII string of n bytes
//   0x6n UTF-16 string of n code units
//   0xAn array: n object refs of `objectRefSize` bytes
//   0xDn dictionary: n key refs, then n value refs; keys are strings
// A count n of 0xF means that an integer object (marker 0x1n) follows with the count. Null,
// fill, UID, URL, UUID and set objects have no value here and are refused.
//
// Every offset, count and reference is checked against the bounds of the input before use;
// a reference back to an object on the current path is a cycle. Shared objects are allowed, but
// the values they expand to are counted so that a small input cannot unfold into a huge tree.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "zel/platform/ZELPropertyList+Private.h"
#include "zel/platform/ZELPropertyList.h"
#include "zel/platform/ZELString.h"

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kTrailerSize = 32;
// Seconds from 1970-01-01 to 2001-01-01, the origin of binary dates.
constexpr double kSecondsFrom1970To2001 = 978307200.0;
// Limits on what shared objects may expand to: values per object and bytes of text or data per
// input byte, plus a fixed allowance. Writers share keys and small values, never whole trees.
constexpr uint64_t kValuesPerObject = 16;
constexpr uint64_t kExtraValueAllowance = uint64_t{1} << 14;
constexpr uint64_t kPayloadBytesPerInputByte = 16;
constexpr uint64_t kExtraPayloadAllowance = uint64_t{64} << 20;

class ZELBinaryPropertyListReader {
public:
    ZELBinaryPropertyListReader(const uint8_t* bytes, size_t length, const std::string& sourceName,
                                ZELError* outError)
        : bytes_(bytes), length_(length), sourceName_(sourceName), outError_(outError) {}

    bool read(ZELValue* outValue) {
        if (length_ < kHeaderSize + kTrailerSize + 1) {
            return fail("the binary form is truncated (shorter than its header and trailer)");
        }
        const size_t trailer = length_ - kTrailerSize;
        offsetSize_ = bytes_[trailer + 6];
        refSize_ = bytes_[trailer + 7];
        objectCount_ = bigEndian(trailer + 8, 8);
        const uint64_t topObject = bigEndian(trailer + 16, 8);
        tableOffset_ = bigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            return fail(
                ZELStringWithFormat("the trailer gives offset size %u and reference size "
                                    "%u; both must be 1 to 8",
                                    offsetSize_, refSize_));
        }
        if (tableOffset_ <= kHeaderSize || tableOffset_ > trailer) {
            return fail(ZELStringWithFormat("the offset table offset %llu lies outside the objects",
                                            static_cast<unsigned long long>(tableOffset_)));
        }
        if (objectCount_ == 0 || objectCount_ > (trailer - tableOffset_) / offsetSize_) {
            return fail(
                ZELStringWithFormat("the offset table of %llu entries does not fit "
                                    "between offset %llu and the trailer",
                                    static_cast<unsigned long long>(objectCount_),
                                    static_cast<unsigned long long>(tableOffset_)));
        }
        if (topObject >= objectCount_) {
            return fail(ZELStringWithFormat("the top object %llu is not among the %llu objects",
                                            static_cast<unsigned long long>(topObject),
                                            static_cast<unsigned long long>(objectCount_)));
        }
        valueAllowance_ = kValuesPerObject * objectCount_ + kExtraValueAllowance;
        payloadAllowance_ = kPayloadBytesPerInputByte * uint64_t{length_} + kExtraPayloadAllowance;
        onPath_.assign(objectCount_, false);
        return readObject(topObject, 0, outValue);
    }

private:
    bool fail(const std::string& problem) {
        return ZELSetError(outError_, ZELPropertyList_InvalidDataError(sourceName_, problem));
    }

    bool failObject(uint64_t index, const std::string& problem) {
        return fail(ZELStringWithFormat("binary object %llu: %s",
                                        static_cast<unsigned long long>(index), problem.c_str()));
    }

    // Requires: [position, position + size) lies inside the input; size <= 8.
    uint64_t bigEndian(size_t position, size_t size) const {
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i) value = (value << 8) | bytes_[position + i];
        return value;
    }

    // True when `count` items of `itemSize` bytes fit between `position` and the offset table.
    bool fits(uint64_t position, uint64_t count, uint64_t itemSize) const {
        return position <= tableOffset_ && count <= (tableOffset_ - position) / itemSize;
    }

    // Reads the count of a marker whose low nibble is `nibble`, advancing `position` past an
    // integer object that holds it.
    bool readCount(uint64_t index, uint8_t nibble, uint64_t* position, uint64_t* outCount) {
        if (nibble != 0xF) {
            *outCount = nibble;
            return true;
        }
        if (!fits(*position, 1, 1)) return failObject(index, "its count runs past the objects");
        const uint8_t marker = bytes_[*position];
        const uint64_t size = uint64_t{1} << (marker & 0xF);
        if ((marker & 0xF0) != 0x10 || size > 8) {
            return failObject(index, ZELStringWithFormat("its count is not an integer of at most 8 "
                                                         "bytes (marker 0x%02X)",
                                                         unsigned{marker}));
        }
        if (!fits(*position + 1, size, 1)) {
            return failObject(index, "its count runs past the objects");
        }
        *outCount = bigEndian(*position + 1, size);
        *position += 1 + size;
        return true;
    }

    bool offsetOf(uint64_t index, uint64_t* outOffset) {
        const uint64_t offset = bigEndian(tableOffset_ + index * offsetSize_, offsetSize_);
        if (offset < kHeaderSize || offset >= tableOffset_) {
            return failObject(index, ZELStringWithFormat("its offset %llu lies outside the objects",
                                                         static_cast<unsigned long long>(offset)));
        }
        *outOffset = offset;
        return true;
    }

    bool readRef(uint64_t index, uint64_t position, uint64_t* outRef) {
        const uint64_t ref = bigEndian(position, refSize_);
        if (ref >= objectCount_) {
            return failObject(index,
                              ZELStringWithFormat("it refers to object %llu of %llu",
                                                  static_cast<unsigned long long>(ref),
                                                  static_cast<unsigned long long>(objectCount_)));
        }
        *outRef = ref;
        return true;
    }

    bool spendPayload(uint64_t index, uint64_t bytes) {
        if (bytes <= payloadAllowance_) {
            payloadAllowance_ -= bytes;
            return true;
        }
        return failObject(index, "shared objects expand to too much data");
    }

    // `depth` counts the containers around the object.
    bool readObject(uint64_t index, int depth, ZELValue* outValue) {
        if (onPath_[index]) return failObject(index, "it contains itself (a reference cycle)");
        if (valueAllowance_ == 0) {
            return failObject(index, "shared objects expand to too many values");
        }
        --valueAllowance_;
        uint64_t position = 0;
        if (!offsetOf(index, &position)) return false;
        const uint8_t marker = bytes_[position++];
        const uint8_t nibble = marker & 0xF;
        switch (marker >> 4) {
            case 0x0:
                if (marker == 0x08 || marker == 0x09) {
                    *outValue = ZELValue(marker == 0x09);
                    return true;
                }
                break;
            case 0x1:
                return readInteger(index, nibble, position, outValue);
            case 0x2:
                return readReal(index, nibble, position, outValue);
            case 0x3:
                if (marker == 0x33) {
                    if (!fits(position, 8, 1)) {
                        return failObject(index, "the date runs past the objects");
                    }
                    double seconds = 0;
                    const uint64_t bits = bigEndian(position, 8);
                    std::memcpy(&seconds, &bits, sizeof seconds);
                    if (!std::isfinite(seconds)) {
                        return failObject(index, "the date is not a finite number");
                    }
                    *outValue = ZELValue(ZELDate{seconds + kSecondsFrom1970To2001});
                    return true;
                }
                break;
            case 0x4: {
                uint64_t count = 0;
                if (!readCount(index, nibble, &position, &count)) return false;
                if (!fits(position, count, 1)) {
                    return failObject(index, "the data runs past the objects");
                }
                if (!spendPayload(index, count)) return false;
                *outValue = ZELValue(ZELValue::Data(bytes_ + position, bytes_ + position + count));
                return true;
            }
            case 0x5:
                return readASCIIString(index, nibble, position, outValue);
            case 0x6:
                return readUTF16String(index, nibble, position, outValue);
            case 0xA:
                return readArray(index, nibble, position, depth, outValue);
            case 0xD:
                return readDictionary(index, nibble, position, depth, outValue);
            default:
                break;
        }
        return failObject(index, ZELStringWithFormat("unsupported object type (marker 0x%02X)",
                                                     unsigned{marker}));
    }

    bool readInteger(uint64_t index, uint8_t nibble, uint64_t position, ZELValue* outValue) {
        if (nibble > 4) {
            return failObject(index,
                              ZELStringWithFormat("an integer of 2^%u bytes", unsigned{nibble}));
        }
        const uint64_t size = uint64_t{1} << nibble;
        if (!fits(position, size, 1)) return failObject(index, "the integer runs past the objects");
        if (size < 8) {
            *outValue = ZELValue(static_cast<int64_t>(bigEndian(position, size)));
            return true;
        }
        if (size == 8) {
            *outValue = ZELValue(static_cast<int64_t>(bigEndian(position, 8)));
            return true;
        }
        // 16 bytes: a signed 128-bit value, which must fit in 64 bits.
        const uint64_t high = bigEndian(position, 8);
        const uint64_t low = bigEndian(position + 8, 8);
        const bool fitsPositive = high == 0 && low <= uint64_t{INT64_MAX};
        const bool fitsNegative = high == UINT64_MAX && low > uint64_t{INT64_MAX};
        if (!fitsPositive && !fitsNegative) {
            return failObject(index, "the integer is out of the 64-bit range");
        }
        *outValue = ZELValue(static_cast<int64_t>(low));
        return true;
    }

    bool readReal(uint64_t index, uint8_t nibble, uint64_t position, ZELValue* outValue) {
        if (nibble != 2 && nibble != 3) {
            return failObject(index, ZELStringWithFormat("a real of 2^%u bytes", unsigned{nibble}));
        }
        const uint64_t size = uint64_t{1} << nibble;
        if (!fits(position, size, 1)) return failObject(index, "the real runs past the objects");
        const uint64_t bits = bigEndian(position, size);
        if (size == 4) {
            float single;
            const uint32_t singleBits = static_cast<uint32_t>(bits);
            std::memcpy(&single, &singleBits, sizeof single);
            *outValue = ZELValue(static_cast<double>(single));
        } else {
            double real = 0;
            std::memcpy(&real, &bits, sizeof real);
            *outValue = ZELValue(real);
        }
        return true;
    }

    bool readASCIIString(uint64_t index, uint8_t nibble, uint64_t position, ZELValue* outValue) {
        uint64_t count = 0;
        if (!readCount(index, nibble, &position, &count)) return false;
        if (!fits(position, count, 1)) return failObject(index, "the string runs past the objects");
        if (!spendPayload(index, 2 * count)) return false;
        ZELString text;
        text.reserve(count);
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t byte = bytes_[position + i];
            if (byte >= 0x80) {
                return failObject(
                    index,
                    ZELStringWithFormat("the ASCII string holds the byte 0x%02X", unsigned{byte}));
            }
            text.push_back(static_cast<char16_t>(byte));
        }
        *outValue = ZELValue(std::move(text));
        return true;
    }

    bool readUTF16String(uint64_t index, uint8_t nibble, uint64_t position, ZELValue* outValue) {
        uint64_t count = 0;
        if (!readCount(index, nibble, &position, &count)) return false;
        if (!fits(position, count, 2)) return failObject(index, "the string runs past the objects");
        if (!spendPayload(index, 2 * count)) return false;
        ZELString text;
        text.reserve(count);
        for (uint64_t i = 0; i < count; ++i) {
            text.push_back(static_cast<char16_t>(bigEndian(position + 2 * i, 2)));
        }
        for (size_t i = 0; i < text.size(); ++i) {
            const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
            const bool low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
            if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                ++i;
            } else if (high || low) {
                return failObject(index, ZELStringWithFormat("the string holds an unpaired "
                                                             "surrogate U+%04X",
                                                             unsigned{text[i]}));
            }
        }
        *outValue = ZELValue(std::move(text));
        return true;
    }

    bool enterContainer(uint64_t index, int depth) {
        if (depth >= ZELPropertyList::maximumNestingDepth) {
            return failObject(index, ZELStringWithFormat("containers nest deeper than %d levels",
                                                         ZELPropertyList::maximumNestingDepth));
        }
        onPath_[index] = true;
        return true;
    }

    bool readArray(uint64_t index, uint8_t nibble, uint64_t position, int depth,
                   ZELValue* outValue) {
        uint64_t count = 0;
        if (!readCount(index, nibble, &position, &count)) return false;
        if (!fits(position, count, refSize_)) {
            return failObject(index, "the array runs past the objects");
        }
        if (!enterContainer(index, depth)) return false;
        ZELValue::Array array;
        array.reserve(std::min(count, valueAllowance_));
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t ref = 0;
            ZELValue element;
            if (!readRef(index, position + i * refSize_, &ref) ||
                !readObject(ref, depth + 1, &element)) {
                return false;
            }
            array.push_back(std::move(element));
        }
        onPath_[index] = false;
        *outValue = ZELValue(std::move(array));
        return true;
    }

    bool readDictionary(uint64_t index, uint8_t nibble, uint64_t position, int depth,
                        ZELValue* outValue) {
        uint64_t count = 0;
        if (!readCount(index, nibble, &position, &count)) return false;
        if (count > UINT64_MAX / 2 || !fits(position, 2 * count, refSize_)) {
            return failObject(index, "the dictionary runs past the objects");
        }
        if (!enterContainer(index, depth)) return false;
        ZELValue::Dictionary dictionary;
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t keyRef = 0;
            uint64_t valueRef = 0;
            ZELValue key, value;
            if (!readRef(index, position + i * refSize_, &keyRef) ||
                !readRef(index, position + (count + i) * refSize_, &valueRef) ||
                !readObject(keyRef, depth + 1, &key)) {
                return false;
            }
            if (!key.isString()) {
                return failObject(index, ZELStringWithFormat("a key is a %s, not a string",
                                                             ZELValue::kindName(key.kind())));
            }
            if (dictionary.count(key.stringValue()) != 0) {
                return failObject(
                    index,
                    "duplicate key " + ZELPropertyList_Excerpt(ZELStringToUTF8(key.stringValue())));
            }
            if (!readObject(valueRef, depth + 1, &value)) return false;
            dictionary.emplace(key.stringValue(), std::move(value));
        }
        onPath_[index] = false;
        *outValue = ZELValue(std::move(dictionary));
        return true;
    }

    const uint8_t* bytes_;
    size_t length_;
    const std::string& sourceName_;
    ZELError* outError_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t tableOffset_ = 0;
    uint64_t valueAllowance_ = 0;
    uint64_t payloadAllowance_ = 0;
    std::vector<bool> onPath_;  // objects being read on the way from the top object
};

}  // namespace

bool ZELPropertyList_ReadBinary(const uint8_t* bytes, size_t length, const std::string& sourceName,
                                ZELValue* outValue, ZELError* outError) {
    return ZELBinaryPropertyListReader(bytes, length, sourceName, outError).read(outValue);
}
