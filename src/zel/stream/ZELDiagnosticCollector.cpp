#include "zel/stream/ZELDiagnosticCollector.h"

#include <string_view>

#include "zel/stream/ZELMemoryMetricsGatherer.h"

namespace {

// Locations inside the mail store are shortened to the part after this folder.
constexpr std::string_view kMailStoreFolder = "/Mail/V2/";

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += separator;
        text += parts[i];
    }
    return text;
}

void appendSection(std::string& dump, const std::string& section) {
    if (!dump.empty()) dump += "\n";
    dump += section;
}

}  // namespace

void ZELDiagnosticCollector::reportWarning(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    warnings_.push_back(text);
}

void ZELDiagnosticCollector::reportWarning(const std::string& text, const std::string& url) {
    const size_t folderStart = url.find(kMailStoreFolder);
    const std::string warning =
        folderStart == std::string::npos
            ? text + ", for URL: " + url
            : text + ", for URL: ../" + url.substr(folderStart + kMailStoreFolder.size());
    std::lock_guard<std::mutex> guard(lock_);
    warnings_.push_back(warning);
}

void ZELDiagnosticCollector::reportDiagnosticMessage(const std::string& message) {
    std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back(message);
}

void ZELDiagnosticCollector::reportDiagnosticMessage(const ZELObject& message) {
    reportDiagnosticMessage(message.description());
}

void ZELDiagnosticCollector::addRequiredMemoryByteCount(uint64_t byteCount) {
    std::lock_guard<std::mutex> guard(lock_);
    totalByteCount_ += byteCount;
}

uint64_t ZELDiagnosticCollector::totalRequiredMemoryByteCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return totalByteCount_;
}

std::string ZELDiagnosticCollector::totalRequireMemoryByteCountDescription() const {
    return ZELMemoryMetricsGatherer::stringDescribingByteCount(totalRequiredMemoryByteCount());
}

std::vector<std::string> ZELDiagnosticCollector::allReportedWarnings() const {
    std::lock_guard<std::mutex> guard(lock_);
    return warnings_;
}

std::vector<std::string> ZELDiagnosticCollector::allReportedDiagnosticMessages() const {
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
}

void ZELDiagnosticCollector::reset() {
    std::lock_guard<std::mutex> guard(lock_);
    warnings_.clear();
    messages_.clear();
    totalByteCount_ = 0;
}

std::string ZELDiagnosticCollector::allCollectedInformationDump() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::string dump;
    if (!warnings_.empty()) {
        appendSection(dump, std::to_string(warnings_.size()) + " collected warnings:\n\t" +
                                joined(warnings_, "\n\t"));
    }
    if (!messages_.empty()) {
        appendSection(dump, "collected diagnostics:\n\t" + joined(messages_, "\n\t"));
    }
    if (totalByteCount_ != 0) {
        appendSection(dump,
                      "Operational RAM footprint: " +
                          ZELMemoryMetricsGatherer::stringDescribingByteCount(totalByteCount_));
    }
    return dump;
}
