#include "zel/database/ZELAspectBitValueInfo.h"

#include <limits>
#include <new>

#include "zel/platform/ZELRegistry.h"
#include "zel/stream/ZELStream.h"
#include "zel/stream/ZELValue+MemoryEstimate.h"

namespace {

// Class-tagged records name the record by its class name; registered when the library loads.
[[maybe_unused]] const bool kDeserializerRegistered = [] {
    ZELRegistry<ZELStreamDeserializer>::shared().registerEntry(
        "ZELAspectBitValueInfo", ZELAspectBitValueInfo::deserializer());
    return true;
}();

}  // namespace

std::shared_ptr<ZELAspectBitValueInfo> ZELAspectBitValueInfo::infoWithNormalizedValue(
    ZELString normalizedValue) {
    return std::make_shared<ZELAspectBitValueInfo>(std::move(normalizedValue));
}

ZELStreamDeserializer ZELAspectBitValueInfo::deserializer() {
    return [](ZELStream& stream, uint64_t length) -> std::shared_ptr<ZELStreamSerializable> {
        return newDeserializedFromStream(stream, length);
    };
}

ZELAspectBitValueInfo::ZELAspectBitValueInfo(ZELString normalizedValue)
    : normValue_(std::move(normalizedValue)) {
    ZELAspectBitValueInfoCanonGuts_Init(&canons_);
}

ZELAspectBitValueInfo::~ZELAspectBitValueInfo() {
    ZELAspectBitValueInfoCanonGuts_Free(&canons_);
}

uint64_t ZELAspectBitValueInfo::adjustUseCount(int64_t delta) {
    if (delta >= 0) {
        const uint64_t increment = static_cast<uint64_t>(delta);
        const uint64_t room = std::numeric_limits<uint64_t>::max() - useCount_;
        useCount_ = increment > room ? std::numeric_limits<uint64_t>::max() : useCount_ + increment;
    } else {
        // Negating through uint64 avoids the overflow of -INT64_MIN.
        const uint64_t decrement = ~static_cast<uint64_t>(delta) + 1;
        useCount_ = decrement > useCount_ ? 0 : useCount_ - decrement;
    }
    return useCount_;
}

void ZELAspectBitValueInfo::voteForCanonicalString(std::u16string_view string) {
    ZELAspectBitValueInfoCanonGuts_VoteForCanonicalString(&canons_, string);
}

std::optional<ZELString> ZELAspectBitValueInfo::canonicalStringVotedMost() {
    const ZELString* best = canonicalStringVotedMostInPlace();
    if (!best) return std::nullopt;
    return *best;
}

const ZELString* ZELAspectBitValueInfo::canonicalStringVotedMostInPlace() {
    return ZELAspectBitValueInfoCanonGuts_BestCanonicalString(&canons_);
}

uint64_t ZELAspectBitValueInfo::byteCountInActiveRAM() const {
    return sizeof(*this) + ZELString_ByteCountInActiveRAM(normValue_) +
           ZELAspectBitValueInfoCanonGuts_ByteCountInRAM(&canons_);
}

uint64_t ZELAspectBitValueInfo::serializedByteCount() const {
    return ZELStream::byteCountForSerializedZELString(normValue_) + 4 +
           ZELAspectBitValueInfoCanonGuts_ByteCountSerialized(&canons_);
}

// Stored form of the record (integers little-endian), the object kept at an aspect bit ID in
// the "aspectValues" store:
//     normalized_value: string           # stream string form
//     use_count:        uint32           # low 32 bits of the use count
//     canonical strings: the entry block of ZELAspectBitValueInfoCanonGuts_SerializeToStream
//                        (uint32 count, then per entry uint32 votes and a string)
bool ZELAspectBitValueInfo::serializeToStream(ZELStream& stream) const {
    ZELAspectBitValueInfoCanonGuts_BestCanonicalString(&canons_);  // compacts
    return stream.writeZELString(normValue_) &&
           stream.writeUInt32Little(static_cast<uint32_t>(useCount_)) &&
           ZELAspectBitValueInfoCanonGuts_SerializeToStream(&canons_, stream);
}

std::shared_ptr<ZELAspectBitValueInfo> ZELAspectBitValueInfo::newDeserializedFromStream(
    ZELStream& stream, uint64_t /*length*/) {
    std::optional<ZELString> normalizedValue = stream.newReadZELString();
    if (!normalizedValue) return nullptr;
    uint32_t useCount = 0;
    if (!stream.readUInt32LittleArray(&useCount, 1)) return nullptr;
    std::shared_ptr<ZELAspectBitValueInfo> info;
    try {
        info = infoWithNormalizedValue(std::move(*normalizedValue));
    } catch (const std::bad_alloc&) {
        stream.reportMemoryAllocationFailed("could not allocate ZELAspectBitValueInfo");
        return nullptr;
    }
    info->useCount_ = useCount;
    if (!ZELAspectBitValueInfoCanonGuts_InitWithStream(&info->canons_, stream)) return nullptr;
    return info;
}

std::string ZELAspectBitValueInfo::description() const {
    return ZELStringWithFormat("%s \"%s\" useCount=%llu, %u canonical strings",
                               descriptionHead().c_str(), ZELStringToUTF8(normValue_).c_str(),
                               static_cast<unsigned long long>(useCount_),
                               static_cast<unsigned>(canons_.canonCount));
}
