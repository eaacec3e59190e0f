#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zel/platform/ZELValue.h"

// Reads Debian changelogs ("changelog.Debian.gz") into records, one per entry:
//
//   bash (5.2.15-2) unstable; urgency=medium          heading: package (version)
//                                                     distributions; key=value, ...
//     * Fix the prompt.                               body
//
//    -- Jane Doe <jane@example.org>  Sat, 03 Jun 2023 10:11:12 +0200     trailer
//
// Each record holds "package", "version", "distribution" (all the heading's distributions,
// as written), "urgency" (when the heading names one), "authorName", "authorEmail", "date"
// (a date, when the trailer's date reads) and "body" (the lines between heading and trailer,
// without leading and trailing blank lines, joined by line feeds). Lines outside entries
// ("Local variables:", old-style logs) are passed over. Text that is not UTF-8 is read with
// U+FFFD for its bad bytes. Plain functions; any thread.

// What reading found. Each reading adds to the counts, so one stats can cover many files.
struct ZELChangelogReadStats {
    size_t entries = 0;         // the records answered
    size_t skippedEntries = 0;  // malformed entries left out: a heading that no trailer closes,
                                // a trailer without a heading, a trailer without "<e-mail>"
    size_t undatedEntries = 0;  // records answered without "date": the trailer's date did not read
};

// A gzip file decompresses to at most this many bytes; a larger one is refused as damaged.
inline constexpr size_t ZELChangelogMaximumTextBytes = size_t{64} << 20;

// The entries of changelog text, in the order of the text.
std::vector<ZELValue::Dictionary> ZELReadChangelogEntries(std::string_view text,
                                                          ZELChangelogReadStats* stats);

// The text of the changelog file at `path`, decompressed when it starts like a gzip file;
// none with a message naming the file when it cannot be read or decompressed.
std::optional<std::string> ZELReadChangelogText(const std::string& path, std::string* outMessage);

// ZELReadChangelogEntries of the file's text.
std::optional<std::vector<ZELValue::Dictionary>> ZELReadChangelogFile(const std::string& path,
                                                                      ZELChangelogReadStats* stats,
                                                                      std::string* outMessage);

// The date of a changelog trailer, "Sat, 03 Jun 2023 10:11:12 +0200": an optional weekday
// and comma, the day, the English month abbreviation, the year, the time (seconds optional)
// and the zone offset, then anything (such as "(CEST)"). None for anything else.
std::optional<ZELDate> ZELReadChangelogDate(std::string_view text);
