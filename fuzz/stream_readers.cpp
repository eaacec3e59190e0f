// Feeds arbitrary bytes to the readers of the stored forms: strings, stream-form ID vectors and
// class-tagged records read from a stream (over memory or through the iostream adaptor), the
// stand-alone ID vector form and the cursor reader. None may crash or allocate for a length the
// input does not hold. The first byte picks the reader (low two bits) and the stream kind (bit
// 2); the rest is the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "zel/idvector/ZELIDVector+Serialization.h"
#include "zel/platform/ZELException.h"
#include "zel/stream/ZELDataStream.h"
#include "zel/stream/ZELStreamAdaptor.h"

namespace {

std::shared_ptr<ZELStream> streamOver(std::span<const uint8_t> input, bool adaptor) {
    if (!adaptor) return ZELDataStream::streamWithBytes(input);
    return ZELStream::readStreamForInputStream(
        std::make_shared<std::istringstream>(std::string(input.begin(), input.end())));
}

// Reads records of one kind until the stream fails; each read either yields a value or keeps
// an error.
void readRecords(ZELStream& stream, int reader, uint64_t inputSize) {
    for (int record = 0; record < 256 && !stream.streamError(); ++record) {
        bool read = false;
        switch (reader) {
            case 0:
                read = stream.newReadZELString().has_value();
                break;
            case 1:
                read = stream.newReadZELIDVector() != nullptr;
                break;
            default: {
                const uint64_t offset = stream.currentLogicalOffset();
                const uint64_t length = offset < inputSize ? inputSize - offset : 0;
                try {
                    read = stream.newReadZELSerializableOfLength(length) != nullptr;
                } catch (const ZELException& exception) {
                    // An unknown class name is the one documented exception.
                    if (exception.name() != ZELInternalInconsistencyException) std::abort();
                    return;
                }
                break;
            }
        }
        if (read == stream.streamError().isError()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    const std::span<const uint8_t> input(data + 1, size - 1);

    ZELError error;
    if (!ZELIDVector_VectorWithSerializedData(input, &error) && !error) std::abort();

    const uint8_t* cursor = input.data();
    while (ZELData_ReadZELIDVector(cursor, input.data() + input.size())) {
    }

    std::shared_ptr<ZELStream> stream = streamOver(input, selector & 4);
    readRecords(*stream, selector & 3, input.size());
    return 0;
}
