#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ZELToolSchema.h"
#include "zel/platform/ZELValue.h"

class ZELDatabase;

// Adding records to a database, shared by `zel add`, `zel import-changelogs` and `zel demo`.

// A progress bar on standard error for work that runs longer than a second:
// "\rzel: LABEL [#####.....]  42% N of M UNIT", redrawn at most four times a second. Work that
// ends sooner shows nothing. One thread.
class ZELToolProgress {
public:
    ZELToolProgress(std::ostream& err, std::string label, std::string unit);

    void update(size_t done, size_t total);
    // Ends a shown line with "N of M UNIT" and `note` (such as ", saving").
    void finish(size_t done, size_t total, const std::string& note = std::string());
    // Ends a shown line as it is, so that a message can follow on a line of its own.
    void abandon();

private:
    void draw(size_t done, size_t total);

    std::ostream& err_;
    std::string label_;
    std::string unit_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDrawn_;
    bool shown_ = false;
};

// Reads the whole file at `path` ("-": standard input) into `*outText`; false when it cannot.
bool ZELToolReadInput(const std::string& path, std::string* outText);

// Records read from JSON lines, with the line each came from.
struct ZELToolRecordLines {
    std::vector<ZELValue::Dictionary> records;
    std::vector<size_t> lines;
};

// Reads every line of `text` into records (blank lines are skipped), turning the values under
// `dateKeys` into dates; none with a "SOURCE:LINE: problem" message on the first bad line.
std::optional<ZELToolRecordLines> ZELToolParseRecordLines(const std::string& text,
                                                          const std::string& sourceName,
                                                          const std::vector<ZELString>& dateKeys,
                                                          std::string* outMessage);

// What adding records did.
struct ZELToolAddCounts {
    size_t added = 0;   // new items
    size_t merged = 0;  // records that matched a stored item (and updated it)
};

// Adds `records` as record items with the settings' existence and duplicate keys, in one
// batch of item changes, showing progress. Saves nothing. When the database refuses a record,
// stops there and answers that record's index; none when every record went in.
std::optional<size_t> ZELToolAddRecords(ZELDatabase& database,
                                        std::vector<ZELValue::Dictionary> records,
                                        const ZELToolSettings& settings, ZELToolProgress& progress,
                                        ZELToolAddCounts* outCounts);
