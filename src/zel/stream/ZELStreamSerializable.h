#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELRegistry.h"

class ZELStream;

// An object that writes itself into a stream and can be read back from one. The reading side is
// a class-level operation, `newDeserializedFromStream(stream, length)`, registered under the
// class name in ZELRegistry<ZELStreamDeserializer> so that class-tagged records (the class
// name followed by the object) can be read back.
class ZELStreamSerializable : public ZELObject {
public:
    // The exact number of bytes serializeToStream writes.
    virtual uint64_t serializedByteCount() const = 0;
    // Writes the object; answers false when the stream failed (the stream keeps the error).
    virtual bool serializeToStream(ZELStream& stream) const = 0;
};

// Reads one object of a registered class from `stream`; `length` is the byte count its
// writer announced. Answers null when the stream failed (the stream keeps the error).
using ZELStreamDeserializer =
    std::function<std::shared_ptr<ZELStreamSerializable>(ZELStream& stream, uint64_t length)>;
