// The changelog reader: entries of literal changelog text, the trailer's dates, malformed and
// truncated text (its files are read in ZELToolChangelogTests).
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "ZELChangelogReader.h"

namespace {

ZELValue text(const char* utf8) { return ZELValue::fromUTF8(utf8); }

// Seconds since 1970 of a UTC time.
double utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    std::tie(parts.tm_year, parts.tm_mon, parts.tm_mday) = std::tuple(year - 1900, month - 1, day);
    std::tie(parts.tm_hour, parts.tm_min, parts.tm_sec) = std::tuple(hour, minute, second);
    return static_cast<double>(timegm(&parts));
}

const char* const kTwoEntries =
    "bash (5.2.15-2) unstable; urgency=medium\n"
    "\n"
    "  * Fix the prompt.\n"
    "\n"
    "  * See https://example.org/bug.\n"
    "\n"
    " -- Jane Doe <jane@example.org>  Sat, 03 Jun 2023 10:11:12 +0200\n"
    "\n"
    "bash (5.2.15-1) stable-security unstable; binary-only=yes, URGENCY=High (security)\n"
    "  * First.\n"
    " -- Ann Example <ann@example.org>  Mon, 2 Jan 2023 23:30:00 -0100\n";

std::vector<ZELValue::Dictionary> read(const std::string& changelog, ZELChangelogReadStats* stats = nullptr) {
    return ZELReadChangelogEntries(changelog, stats);
}

}  // namespace

TEST(ZELChangelogReader, EntriesBecomeRecords) {
    ZELChangelogReadStats stats;
    const auto entries = read(kTwoEntries, &stats);

    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (ZELValue::Dictionary{
                              {u"package", text("bash")},
                              {u"version", text("5.2.15-2")},
                              {u"distribution", text("unstable")},
                              {u"urgency", text("medium")},
                              {u"authorName", text("Jane Doe")},
                              {u"authorEmail", text("jane@example.org")},
                              {u"date", ZELValue(ZELDate{utc(2023, 6, 3, 8, 11, 12)})},
                              // Blank lines around the body go, blank lines inside it stay.
                              {u"body", text("  * Fix the prompt.\n\n  * See https://example.org/bug.")},
                          }));
    // All the distributions as written; the urgency key in any case, its value up to a blank.
    EXPECT_EQ(entries[1].at(u"distribution"), text("stable-security unstable"));
    EXPECT_EQ(entries[1].at(u"urgency"), text("High"));
    EXPECT_EQ(entries[1].at(u"date"), ZELValue(ZELDate{utc(2023, 1, 3, 0, 30, 0)}));
    EXPECT_EQ(entries[1].at(u"body"), text("  * First."));
    EXPECT_EQ(stats.entries, 2u);
    EXPECT_EQ(stats.skippedEntries, 0u);
    EXPECT_EQ(stats.undatedEntries, 0u);

    // Line ends of CR LF read the same.
    std::string crlf;
    for (const char* c = kTwoEntries; *c; ++c) crlf += *c == '\n' ? std::string("\r\n") : std::string(1, *c);
    EXPECT_EQ(read(crlf), entries);
}

TEST(ZELChangelogReader, TrailerDates) {
    const struct {
        const char* text;
        double seconds;
    } good[] = {
        {"Sat, 03 Jun 2023 10:11:12 +0200", utc(2023, 6, 3, 8, 11, 12)},
        {"3 Jun 2023 10:11:12 +0000", utc(2023, 6, 3, 10, 11, 12)},
        {"Thu,  7 Nov 1996 17:42:34 -0600", utc(1996, 11, 7, 23, 42, 34)},
        {"Mon, 01 jan 2001 00:00 GMT", utc(2001, 1, 1, 0, 0, 0)},
        {"Tue, 29 Feb 2000 12:00:00 +0100 (CET)", utc(2000, 2, 29, 11, 0, 0)},
        {"Wed, 31 December 1997 23:59:59 UTC", utc(1997, 12, 31, 23, 59, 59)},
    };
    for (const auto& c : good) {
        EXPECT_EQ(ZELReadChangelogDate(c.text), ZELDate{c.seconds}) << c.text;
    }
    for (const char* bad : {"", "yesterday", "Sat 03 Jun 2023 10:11:12 +0200", "03 Jux 2023 10:11:12 +0200",
                            "31 Feb 2023 10:11:12 +0200", "03 Jun 23 10:11:12 +0200", "03 Jun 2023 25:00:00 +0200",
                            "03 Jun 2023 10:11:12", "03 Jun 2023 10:11:12 CEST", "03 Jun 2023 10:11:12 +02",
                            "03 Jun 2023 10:11:12 +2500", "003 Jun 2023 10:11:12 +0200", "03 Jun 2023 10:11:123 +0200"}) {
        EXPECT_EQ(ZELReadChangelogDate(bad), std::nullopt) << bad;
    }
}

TEST(ZELChangelogReader, MalformedEntriesAreSkippedAndCounted) {
    const std::string changelog =
        "Local variables:\n"                                      // before any entry: passed over
        " -- Stray Trailer <stray@example.org>  Mon, 1 Jan 2001 00:00:00 +0000\n"  // no heading
        "a (1) unstable; urgency=low\n"
        "  * Never closed.\n"
        "b (2) unstable; urgency=low\n"                           // closes nothing of a: a is skipped
        "  * Kept.\n"
        " -- Bee <bee@example.org>  Mon, 1 Jan 2001 00:00:00 +0000\n"
        "c (3) unstable; urgency=low\n"
        " -- No Address  Mon, 1 Jan 2001 00:00:00 +0000\n"        // no e-mail: c is skipped
        "d (4) unstable\n"                                         // no ";": not a heading
        "e (5 6) unstable; urgency=low\n"                          // a blank in the version: neither
        "f (6) unstable; low\n"                                    // no urgency: kept without one
        " -- Eff <eff@example.org>  someday\n"                     // a date that does not read
        "g (7) unstable; urgency=low\n"
        "  * Cut off.\n";                                          // never closed
    ZELChangelogReadStats stats;
    const auto entries = read(changelog, &stats);

    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].at(u"package"), text("b"));
    EXPECT_EQ(entries[0].at(u"body"), text("  * Kept."));
    EXPECT_EQ(entries[1].at(u"package"), text("f"));
    EXPECT_EQ(entries[1].count(u"urgency"), 0u);
    EXPECT_EQ(entries[1].count(u"date"), 0u);
    EXPECT_EQ(stats.entries, 2u);
    EXPECT_EQ(stats.skippedEntries, 4u);  // the stray trailer, a, c and g
    EXPECT_EQ(stats.undatedEntries, 1u);

    // Counts add up over readings.
    read(kTwoEntries, &stats);
    EXPECT_EQ(stats.entries, 4u);
    EXPECT_EQ(stats.skippedEntries, 4u);
}

TEST(ZELChangelogReader, TruncatedAndDamagedTextNeverCrashes) {
    const std::string full = kTwoEntries;
    // Every cut gives the entries whose trailer it keeps whole, or fewer when it cuts a trailer.
    for (size_t length = 0; length <= full.size(); ++length) {
        EXPECT_LE(read(full.substr(0, length)).size(), 2u) << length;
    }
    EXPECT_EQ(read(full.substr(0, full.find(" -- Ann"))).size(), 1u);

    // Each entry ends with a trailer line of its own, whatever the damage.
    std::mt19937 random(20240612);
    for (int trial = 0; trial < 2000; ++trial) {
        std::string damaged = full;
        for (int flips = 0; flips < 4; ++flips) damaged[random() % damaged.size()] = static_cast<char>(random());
        size_t trailers = damaged.rfind(" -- ", 0) == 0 ? 1 : 0;
        for (size_t at = damaged.find("\n -- "); at != std::string::npos; at = damaged.find("\n -- ", at + 1)) ++trailers;
        EXPECT_LE(read(damaged).size(), trailers) << damaged;
    }
    // (Arbitrary bytes and the stats' counts are the fuzz target's.)

    // Bytes that are no UTF-8 become U+FFFD.
    const auto latin1 = read("p (1) unstable; urgency=low\n  * Caf\xE9.\n -- J\xF6rg <j@example.org>  1 Jan 2001 00:00 +0000\n");
    ASSERT_EQ(latin1.size(), 1u);
    EXPECT_EQ(latin1[0].at(u"body").stringValue(), u"  * Caf\uFFFD.");
    EXPECT_EQ(latin1[0].at(u"authorName").stringValue(), u"J\uFFFDrg");
}
