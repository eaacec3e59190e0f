#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "zel/idvector/ZELIDVector.h"
#include "zel/storage/ZELPostingNotes.h"

namespace {

std::shared_ptr<ZELIDVector> vectorOf(const std::vector<ZELID>& ids) {
    return ZELIDVector::vectorWithIDs(ids.data(), static_cast<uint32_t>(ids.size()));
}

TEST(ZELPostingNotesTest, RecordLayout) {
    ZELPostingNotes notes;
    // Member 300, three vector IDs: 1, then the distances 127 and 16384; then the largest
    // member with one vector ID, five bytes each.
    notes.note(300, *vectorOf({1, 128, 16512}));
    notes.note(0xFFFFFFFFu, *vectorOf({0xFFFFFFFEu}));
    EXPECT_EQ(notes.bytes(),
              (std::vector<uint8_t>{0xAC, 0x02, 0x03, 0x01, 0x7F, 0x80, 0x80, 0x01, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0x0F, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F}));
    EXPECT_EQ(notes.pairCount(), 4u);
    EXPECT_EQ(notes.largestVectorID(), 0xFFFFFFFEu);
}

// Random records of IDs at every byte length, read back whole or in part (a reader that stops
// early must not shift the records after it), against the records as noted.
TEST(ZELPostingNotesTest, RecordsReadBackAsNoted) {
    std::mt19937 random(20261207);
    const uint32_t magnitudes[] = {0x7F, 0x3FFF, 0x1FFFFF, 0xFFFFFFF, 0xFFFFFFFF};
    ZELPostingNotes notes;
    std::vector<std::pair<ZELID, std::vector<ZELID>>> model;
    size_t bound = 0;
    ZELID largest = 0;
    for (int record = 0; record < 500; ++record) {
        const ZELID member = random() % magnitudes[random() % 5];
        std::set<ZELID> ids;
        const int count = 1 + static_cast<int>(random() % 40);
        while (static_cast<int>(ids.size()) < count) {
            ids.insert(1 + random() % magnitudes[random() % 5]);
        }
        model.emplace_back(member, std::vector<ZELID>(ids.begin(), ids.end()));
        notes.note(member, *vectorOf(model.back().second));
        bound += ZELPostingNotes::maximumRecordByteCount(static_cast<uint32_t>(count));
        largest = std::max(largest, *ids.rbegin());
    }
    EXPECT_LE(notes.byteCount(), bound);
    EXPECT_EQ(notes.largestVectorID(), largest);

    for (const bool partly : {false, true}) {
        size_t index = 0;
        notes.forEachRecord([&](ZELID member, ZELPostingNotes::VectorIDs& ids) {
            ASSERT_LT(index, model.size());
            const auto& [expectedMember, expectedIDs] = model[index++];
            EXPECT_EQ(member, expectedMember);
            ASSERT_EQ(ids.remaining(), expectedIDs.size());
            const size_t reading =
                partly ? random() % (expectedIDs.size() + 1) : expectedIDs.size();
            for (size_t at = 0; at < reading; ++at) EXPECT_EQ(ids.next(), expectedIDs[at]);
        });
        EXPECT_EQ(index, model.size());
    }

    notes.clear();
    EXPECT_TRUE(notes.isEmpty());
    EXPECT_EQ(notes.pairCount(), 0u);
    EXPECT_EQ(notes.largestVectorID(), 0u);
}

}  // namespace
