#pragma once

#include <memory>

#include "zel/platform/ZELString.h"
#include "zel/stream/ZELStreamSerializable.h"

// A string as a stream-serializable object, for containers of objects that hold strings
// (class-tagged records name it "ZELSerializableString"). Its form is the stream's string
// form. Immutable; any thread may read it.
class ZELSerializableString final : public ZELStreamSerializable {
public:
    static std::shared_ptr<ZELSerializableString> stringWithValue(ZELString value);

    explicit ZELSerializableString(ZELString value) : value_(std::move(value)) {}

    const ZELString& value() const { return value_; }

    // 4 + L + padding (ZELStream::byteCountForSerializedZELString).
    uint64_t serializedByteCount() const override;
    // ZELStream::writeZELString.
    bool serializeToStream(ZELStream& stream) const override;
    // ZELStream::newReadZELString; `length` is ignored. Null when the read fails.
    static std::shared_ptr<ZELSerializableString> newDeserializedFromStream(ZELStream& stream,
                                                                           uint64_t length);

    // Object size plus 2 bytes per code unit.
    uint64_t byteCountInActiveRAM() const;

private:
    ZELString value_;
};
