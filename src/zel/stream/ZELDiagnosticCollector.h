#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"

// Collects warnings, diagnostic messages and a required-memory total while a larger operation
// (a consistency check, a load) runs, for one dump at the end. Owned by whoever runs the
// operation; may be fed from several threads: every operation holds the collector's lock.
// Messages are kept as their description texts.
class ZELDiagnosticCollector : public ZELObject {
  public:
    void reportWarning(const std::string& text);
    // The warning becomes "<text>, for URL: <url>", or "<text>, for URL: ../<rest>" with the
    // part of the URL after the first "/Mail/V2/" in it.
    void reportWarning(const std::string& text, const std::string& url);

    void reportDiagnosticMessage(const std::string& message);
    // Keeps the object's description.
    void reportDiagnosticMessage(const ZELObject& message);

    void addRequiredMemoryByteCount(uint64_t byteCount);
    uint64_t totalRequiredMemoryByteCount() const;
    // The byte-count text of the total (ZELMemoryMetricsGatherer::stringDescribingByteCount).
    std::string totalRequireMemoryByteCountDescription() const;

    std::vector<std::string> allReportedWarnings() const;
    std::vector<std::string> allReportedDiagnosticMessages() const;

    // Empties both lists and zeroes the total.
    void reset();

    // Up to three sections, separated by "\n": "<n> collected warnings:" followed by
    // "\n\t<warning>" per warning; "collected diagnostics:" followed by "\n\t<message>" per
    // message; "Operational RAM footprint: <byte-count text>". A section is left out when its
    // list is empty or the total is 0.
    std::string allCollectedInformationDump() const;

  private:
    mutable std::mutex lock_;
    std::vector<std::string> warnings_;  // guarded by lock_
    std::vector<std::string> messages_;  // guarded by lock_
    uint64_t totalByteCount_ = 0;        // guarded by lock_
};
