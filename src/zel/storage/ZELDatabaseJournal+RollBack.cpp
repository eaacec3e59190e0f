#include <fcntl.h>

#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "zel/storage/ZELDatabaseJournal+Private.h"
#include "zel/storage/ZELDatabaseJournal.h"

// Rolling back a journal left in a database folder.

namespace {

// Reads the journal's little-endian fields; any read past the end fails from then on.
class JournalReader {
public:
    explicit JournalReader(const std::string& bytes) : bytes_(bytes) {}
    size_t position() const { return position_; }
    bool failed() const { return failed_; }
    uint32_t uint32() { return static_cast<uint32_t>(unsignedOf(4)); }
    uint64_t uint64() { return unsignedOf(8); }
    std::string padded() {
        const uint32_t count = uint32();
        const size_t padding = (4 - count % 4) % 4;
        if (failed_ || bytes_.size() - position_ < uint64_t{count} + padding) {
            failed_ = true;
            return {};
        }
        std::string read = bytes_.substr(position_, count);
        position_ += count + padding;
        return read;
    }
    bool checks(size_t start, uint32_t seed) {
        const uint32_t computed =
            ZELDatabaseJournal_CRC32(bytes_.data() + start, position_ - start, seed);
        return uint32() == computed && !failed_;
    }

private:
    uint64_t unsignedOf(size_t width) {
        if (failed_ || bytes_.size() - position_ < width) {
            failed_ = true;
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            value |= uint64_t{static_cast<uint8_t>(bytes_[position_ + i])} << (8 * i);
        }
        position_ += width;
        return value;
    }

    const std::string& bytes_;
    size_t position_ = 0;
    bool failed_ = false;
};

std::string relativeOfPreservedName(const std::string& name) {
    std::string relative;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && name.compare(i, 3, "%2F") == 0) {
            relative += '/';
            i += 2;
        } else if (name[i] == '%' && name.compare(i, 3, "%25") == 0) {
            relative += '%';
            i += 2;
        } else {
            relative += name[i];
        }
    }
    return relative;
}

std::optional<std::string> readWholeFile(ZELFileSystem& files, const std::string& path) {
    const int fd = files.open(path, O_RDONLY, 0);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t read = files.pread(fd, chunk, sizeof chunk, static_cast<off_t>(bytes.size()));
        if (read < 0) {
            files.close(fd);
            return std::nullopt;
        }
        if (read == 0) break;
        bytes.append(chunk, static_cast<size_t>(read));
    }
    files.close(fd);
    return bytes;
}

}  // namespace

bool ZELDatabaseJournal::rollBackFolder(const std::string& folder, ZELError* outError) {
    ZELFileSystem& files = base();
    const std::string journalPath = folder + "/" + fileName;
    const std::string preservedPath = folder + "/" + preservedFolderName;
    const auto failed = [&](const std::string& what, const std::string& path) {
        return ZELSetError(outError, ZELError::errorWithErrno(errno, "rolling back " + folder +
                                                                         ": " + what + " " + path));
    };
    const std::optional<std::string> journal = readWholeFile(files, journalPath);
    if (!journal) {
        if (ZELDatabaseJournal_Exists(journalPath)) return failed("could not read", journalPath);
        // No journal: the last transaction committed; only its preserved items may be left.
        if (ZELFileSystem::removeTree(files, preservedPath) != 0) {
            return failed("could not delete", preservedPath);
        }
        return true;
    }

    JournalReader reader(*journal);
    std::map<std::string, int64_t> found;
    const bool headerValid =
        reader.uint32() == kJournalHeaderMagic && reader.uint32() == kJournalVersion;
    const uint32_t count = headerValid ? reader.uint32() : 0;
    for (uint32_t i = 0; headerValid && i < count && !reader.failed(); ++i) {
        const uint32_t kind = reader.uint32();
        const uint64_t length = reader.uint64();
        found[reader.padded()] = kind == kJournalKindFolder ? -1 : static_cast<int64_t>(length);
    }
    const uint32_t headerCRC =
        ZELDatabaseJournal_CRC32(journal->data(), std::min(reader.position(), journal->size()), 0);
    std::set<std::string> touchedFiles;
    std::set<std::string> touchedFolders{""};
    const auto path = [&](const std::string& relative) {
        return relative.empty() ? folder : folder + "/" + relative;
    };
    // A header that does not check was never flushed whole: nothing was changed after it.
    if (headerValid && reader.checks(0, 0)) {
        for (const auto& [relative, length] : found) {
            if (length < 0 && !ZELDatabaseJournal_Exists(path(relative)) &&
                files.mkdir(path(relative), 0755) != 0) {
                return failed("could not make", path(relative));
            }
        }
        std::error_code error;
        std::vector<std::string> kept;
        for (std::filesystem::directory_iterator it(preservedPath, error), end; !error && it != end;
             it.increment(error)) {
            kept.push_back(it->path().filename().string());
        }
        for (const std::string& name : kept) {
            const std::string relative = relativeOfPreservedName(name);
            if (found.count(relative) && found[relative] < 0 &&
                ZELFileSystem::removeTree(files, path(relative)) != 0) {
                return failed("could not delete", path(relative));
            }
            if (files.rename(preservedPath + "/" + name, path(relative)) != 0) {
                return failed("could not restore", path(relative));
            }
            touchedFolders.insert(ZELDatabaseJournal_ParentOf(relative));
        }
        struct PreImage {
            std::string path;
            uint64_t offset;
            std::string bytes;
        };
        std::vector<PreImage> preImages;
        for (;;) {
            const size_t start = reader.position();
            if (reader.uint32() != kJournalRecordMagic) break;
            PreImage preImage;
            preImage.path = reader.padded();
            preImage.offset = reader.uint64();
            preImage.bytes = reader.padded();
            if (!reader.checks(start, headerCRC)) break;
            preImages.push_back(std::move(preImage));
        }
        // Last first, so that the oldest bytes of a range are the ones left.
        for (auto it = preImages.rbegin(); it != preImages.rend(); ++it) {
            const int fd = files.open(path(it->path), O_WRONLY | O_CREAT, 0644);
            if (fd < 0 || !ZELFileSystem::writeAll(files, fd, it->bytes.data(), it->bytes.size(),
                                                   static_cast<off_t>(it->offset))) {
                if (fd >= 0) files.close(fd);
                return failed("could not write back", path(it->path));
            }
            files.close(fd);
            touchedFiles.insert(it->path);
        }
        for (const auto& [relative, length] : found) {
            struct stat status;
            if (length < 0 || !ZELDatabaseJournal_Exists(path(relative), &status) ||
                status.st_size <= length) {
                continue;
            }
            const int fd = files.open(path(relative), O_WRONLY, 0);
            if (fd < 0 || files.ftruncate(fd, length) != 0) {
                if (fd >= 0) files.close(fd);
                return failed("could not truncate", path(relative));
            }
            files.close(fd);
            touchedFiles.insert(relative);
        }
        for (const auto& [relative, length] : ZELDatabaseJournal_ItemsInFolder(folder)) {
            if (found.count(relative) || !ZELDatabaseJournal_Exists(path(relative))) continue;
            if (ZELFileSystem::removeTree(files, path(relative)) != 0) {
                return failed("could not delete", path(relative));
            }
            touchedFolders.insert(ZELDatabaseJournal_ParentOf(relative));
        }
        for (const std::string& relative : touchedFiles) {
            if (ZELFileSystem::syncFile(files, path(relative)) != 0) {
                return failed("could not flush", path(relative));
            }
        }
        for (const std::string& relative : touchedFolders) {
            if (ZELDatabaseJournal_Exists(path(relative)) &&
                files.syncFolder(path(relative)) != 0) {
                return failed("could not flush", path(relative));
            }
        }
    }
    if (files.unlink(journalPath) != 0) return failed("could not delete", journalPath);
    if (ZELFileSystem::removeTree(files, preservedPath) != 0 || files.syncFolder(folder) != 0) {
        return failed("could not tidy", folder);
    }
    return true;
}
