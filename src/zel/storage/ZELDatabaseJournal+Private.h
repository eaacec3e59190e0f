#pragma once

// Shared by the journal's files (the transaction and the roll back); not installed.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// The journal file, little-endian (docs/FORMATS.md, "Journal file"):
//
//   header  uint32 magic 0x4A4C455A, uint32 version 1, uint32 entry count N,
//           N x (uint32 kind: 1 file, 2 folder; uint64 length (0 for a folder);
//                uint32 path length P; P bytes of path relative to the folder; padding(P)),
//           uint32 CRC-32 of the header's bytes before it
//   records each: uint32 magic 0x4552505A, uint32 path length P, path, padding(P),
//           uint64 offset, uint32 byte count B, the B bytes the file held there, padding(B),
//           uint32 CRC-32 of the record's bytes before it, started from the header's CRC
//
// A header that does not check means nothing was changed yet; records are read up to the first
// that does not check (a torn tail, never acted on).

constexpr uint32_t kJournalHeaderMagic = 0x4A4C455A;
constexpr uint32_t kJournalRecordMagic = 0x4552505A;
constexpr uint32_t kJournalVersion = 1;
constexpr uint32_t kJournalKindFile = 1;
constexpr uint32_t kJournalKindFolder = 2;

// CRC-32 (IEEE, as zlib's crc32) of `count` bytes, continuing from `crc` (0 to start).
uint32_t ZELDatabaseJournal_CRC32(const void* bytes, size_t count, uint32_t crc);
// The folder part of a relative path ("" for an item at the top).
std::string ZELDatabaseJournal_ParentOf(const std::string& relative);
// Whether something is at `path` (not following a last symbolic link), with its status.
bool ZELDatabaseJournal_Exists(const std::string& path, struct stat* status = nullptr);
// Every file and folder under `folder` but the journal's own, by relative path, with file
// lengths (-1 for folders).
std::map<std::string, int64_t> ZELDatabaseJournal_ItemsInFolder(const std::string& folder);
