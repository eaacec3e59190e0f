#include <fcntl.h>

#include "storage/ZELDiskDataStorageTestSupport.h"
#include "zel/platform/ZELFileSystem.h"
#include "zel/storage/ZELDatabaseJournal.h"

// The journal file against literal bytes, and rolling back hand-made journals: a torn header
// changes nothing, a record whose CRC fails is not applied.

namespace {

// CRC-32 (IEEE), bit by bit.
uint32_t referenceCRC(const std::string& bytes, uint32_t crc = 0) {
    crc = ~crc;
    for (const char byte : bytes) {
        crc ^= static_cast<uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string littleEndian(uint32_t value) {
    return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                       static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
}

// The example of docs/FORMATS.md: a folder holding the 4-byte file "a", then bytes 1-2 ("BB CC")
// overwritten.
const std::string kHeader = std::string("\x5A\x45\x4C\x4A\x01\0\0\0\x01\0\0\0", 12) +
                            std::string("\x01\0\0\0\x04\0\0\0\0\0\0\0\x01\0\0\0a\0\0\0", 20);
const std::string kRecord = std::string("\x5A\x50\x52\x45\x01\0\0\0a\0\0\0", 12) +
                            std::string("\x01\0\0\0\0\0\0\0\x02\0\0\0\xBB\xCC\0\0", 16);

std::string journalBytes(bool tornHeader, bool tornRecord) {
    const uint32_t headerCRC = referenceCRC(kHeader);
    return kHeader + littleEndian(headerCRC ^ (tornHeader ? 1 : 0)) + kRecord +
           littleEndian(referenceCRC(kRecord, headerCRC) ^ (tornRecord ? 1 : 0));
}

}  // namespace

using DatabaseJournalTest = ZELDiskStorageTest;

TEST_F(DatabaseJournalTest, JournalHoldsTheFolderAndEachPreImageAsLaidOut) {
    ZELTestWriteFile(folder_ / "a", "\xAA\xBB\xCC\xDD");
    auto journal = ZELDatabaseJournal::journalForFolder(folder_, nullptr);
    ASSERT_TRUE(journal);
    ZELFileSystem& files = ZELFileSystem::shared();
    const int fd = files.open((folder_ / "a").string(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(files.pwrite(fd, "xy", 2, 1), 2);
    char read[4];
    ASSERT_EQ(files.pread(fd, read, 4, 0), 4);
    EXPECT_EQ(std::string(read, 4), "\xAAxy\xDD");  // held, but seen
    EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / "a"), "\xAA\xBB\xCC\xDD");
    ASSERT_EQ(files.ftruncate(fd, 4), 0);  // applies what is held
    EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / "a"), "\xAAxy\xDD");
    EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / ZELDatabaseJournal::fileName),
              journalBytes(false, false));
    files.close(fd);
    journal.reset();  // rolls back
    EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / "a"), "\xAA\xBB\xCC\xDD");
    EXPECT_FALSE(std::filesystem::exists(folder_ / ZELDatabaseJournal::fileName));
}

TEST_F(DatabaseJournalTest, RollBackUsesOnlyWhatChecks) {
    struct Case {
        bool tornHeader;
        bool tornRecord;
        const char* a;  // "a" after the roll back (it holds "\xAAxy\xDD" and 2 more bytes before)
        bool keepsB;    // "b", which the header does not list
    };
    for (const Case c :
         {Case{false, false, "\xAA\xBB\xCC\xDD", false}, Case{false, true, "\xAAxy\xDD", false},
          Case{true, false, "\xAAxy\xDD!!", true}}) {
        ZELTestWriteFile(folder_ / "a", "\xAAxy\xDD!!");
        ZELTestWriteFile(folder_ / "b", "new");
        ZELTestWriteFile(folder_ / ZELDatabaseJournal::fileName,
                         journalBytes(c.tornHeader, c.tornRecord));
        ASSERT_TRUE(ZELDatabaseJournal::rollBackFolder(folder_.string(), nullptr));
        EXPECT_EQ(ZELTestReadFile<std::string>(folder_ / "a"), c.a);
        EXPECT_EQ(std::filesystem::exists(folder_ / "b"), c.keepsB);
        EXPECT_FALSE(std::filesystem::exists(folder_ / ZELDatabaseJournal::fileName));
        std::filesystem::remove(folder_ / "b");
    }
}

TEST_F(DatabaseJournalTest, SecondJournalOnAFolderIsRefusedWithItsName) {
    auto first = ZELDatabaseJournal::journalForFolder(folder_, nullptr);
    ZELError error;
    EXPECT_FALSE(ZELDatabaseJournal::journalForFolder(folder_, &error));
    EXPECT_NE(error.failureReason().find(folder_.string()), std::string::npos);
    first.reset();
    EXPECT_TRUE(ZELDatabaseJournal::journalForFolder(folder_, nullptr));
}
