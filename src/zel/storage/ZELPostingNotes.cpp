#include "zel/storage/ZELPostingNotes.h"

#include <algorithm>

void ZELPostingNotes::appendNumber(uint32_t number) {
    while (number >= 0x80) {
        bytes_.push_back(static_cast<uint8_t>(number | 0x80));
        number >>= 7;
    }
    bytes_.push_back(static_cast<uint8_t>(number));
}

void ZELPostingNotes::note(ZELID memberID, const ZELIDVector& vectorIDs) {
    appendNumber(memberID);
    appendNumber(vectorIDs.count());
    ZELID previous = 0;
    vectorIDs.enumerateIDs([&](ZELID vectorID, bool&) {
        appendNumber(vectorID - previous);
        previous = vectorID;
    });
    pairCount_ += vectorIDs.count();
    largestVectorID_ = std::max(largestVectorID_, previous);
}

void ZELPostingNotes::clear() {
    bytes_.clear();
    pairCount_ = 0;
    largestVectorID_ = 0;
}

void ZELPostingNotes::release() {
    std::vector<uint8_t>().swap(bytes_);
    pairCount_ = 0;
    largestVectorID_ = 0;
}

void ZELPostingNotes::swap(ZELPostingNotes& other) noexcept {
    bytes_.swap(other.bytes_);
    std::swap(pairCount_, other.pairCount_);
    std::swap(largestVectorID_, other.largestVectorID_);
}
