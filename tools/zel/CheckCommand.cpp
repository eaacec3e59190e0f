// zel check DIR [--repair] [--disk]
#include <cstdio>
#include <ostream>
#include <string>

#include "ZELTool.h"
#include "zel/database/ZELDatabaseChecker.h"

namespace {

// "10,233".
std::string grouped(uint64_t number) {
    const std::string digits = std::to_string(number);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string counted(uint64_t number, const char* singular, const char* plural) {
    return grouped(number) + " " + (number == 1 ? singular : plural);
}

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

std::string ZELToolDiskUsageTable(const std::string& folder) {
    const ZELDatabaseChecker::DiskUsage usage = ZELDatabaseChecker(folder).diskUsage();
    std::string table =
        "| store | objects | object MB | block slack MB | free MB | index MB | other MB | total MB |\n"
        "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |\n";
    ZELDatabaseChecker::StoreDiskUsage sum;
    for (const ZELDatabaseChecker::StoreDiskUsage& store : usage.stores) {
        table += "| " + store.name + " | " + grouped(store.objectCount) + " | " +
                 megabytes(store.objectBytes) + " | " + megabytes(store.blockSlack) + " | " +
                 megabytes(store.freeBytes) + " | " + megabytes(store.indexBytes) + " | " +
                 megabytes(store.otherBytes) + " | " + megabytes(store.totalBytes) + " |\n";
        sum.objectCount += store.objectCount;
        sum.objectBytes += store.objectBytes;
        sum.blockSlack += store.blockSlack;
        sum.freeBytes += store.freeBytes;
        sum.indexBytes += store.indexBytes;
        sum.otherBytes += store.otherBytes;
    }
    table += "| other files | | | | | | " + megabytes(usage.otherFileBytes) + " | " +
             megabytes(usage.otherFileBytes) + " |\n";
    table += "| all | " + grouped(sum.objectCount) + " | " + megabytes(sum.objectBytes) + " | " +
             megabytes(sum.blockSlack) + " | " + megabytes(sum.freeBytes) + " | " +
             megabytes(sum.indexBytes) + " | " + megabytes(sum.otherBytes + usage.otherFileBytes) +
             " | " + megabytes(usage.totalBytes) + " |\n";
    return table;
}

int ZELToolCheck(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::string folder;
    bool repair = false;
    bool disk = false;
    for (const std::string& argument : arguments) {
        if (argument == "--repair") {
            repair = true;
        } else if (argument == "--disk") {
            disk = true;
        } else if (argument.rfind("--", 0) == 0 || !folder.empty()) {
            return ZELToolUsageError(
                output, "check needs DIR [--repair] [--disk], not \"" + argument + "\"");
        } else {
            folder = argument;
        }
    }
    if (folder.empty()) return ZELToolUsageError(output, "check needs DIR");

    ZELDatabaseChecker checker(folder);
    if (repair) {
        std::vector<std::string> rebuilt;
        ZELError error;
        const bool repaired = checker.repair(&rebuilt, &error);
        for (const std::string& line : rebuilt) output.out << "repaired " << line << '\n';
        if (!repaired)
            return ZELToolFail(output, folder + ": repair failed: " + error.failureReason());
    }
    const std::vector<std::string> findings = checker.check();
    for (const std::string& finding : findings) output.out << finding << '\n';
    output.out << "zel check: " << counted(findings.size(), "problem", "problems") << " in "
               << counted(checker.storeCount(), "store", "stores") << ", "
               << counted(checker.sortFileCount(), "sort file", "sort files") << ", "
               << counted(checker.itemCount(), "item", "items") << '\n';
    if (disk) output.out << '\n' << ZELToolDiskUsageTable(folder);
    return findings.empty() ? ZELToolExitSuccess : ZELToolExitFailure;
}
