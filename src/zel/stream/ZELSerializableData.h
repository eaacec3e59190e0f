#pragma once

#include <memory>

#include "zel/stream/ZELData.h"
#include "zel/stream/ZELStreamSerializable.h"

// A byte buffer as a stream-serializable object (class-tagged records name it
// "ZELSerializableData"). Its form is the bytes alone, with no length and no padding: the
// container knows the length and passes it to newDeserializedFromStream. Immutable; any
// thread may read it.
class ZELSerializableData final : public ZELStreamSerializable {
public:
    static std::shared_ptr<ZELSerializableData> dataWithValue(ZELData value);

    explicit ZELSerializableData(ZELData value) : value_(std::move(value)) {}

    const ZELData& value() const { return value_; }

    // The length.
    uint64_t serializedByteCount() const override { return value_.size(); }
    // ZELStream::writeData.
    bool serializeToStream(ZELStream& stream) const override;
    // ZELStream::newReadDataOfLength(length); null when the read fails.
    static std::shared_ptr<ZELSerializableData> newDeserializedFromStream(ZELStream& stream,
                                                                         uint64_t length);

    // Object size plus the length.
    uint64_t byteCountInActiveRAM() const;

private:
    ZELData value_;
};
