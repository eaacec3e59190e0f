// zel check DIR [--repair]
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

}  // namespace

int ZELToolCheck(const std::vector<std::string>& arguments, ZELToolOutput output) {
    std::string folder;
    bool repair = false;
    for (const std::string& argument : arguments) {
        if (argument == "--repair") {
            repair = true;
        } else if (argument.rfind("--", 0) == 0 || !folder.empty()) {
            return ZELToolUsageError(output,
                                     "check needs DIR [--repair], not \"" + argument + "\"");
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
    return findings.empty() ? ZELToolExitSuccess : ZELToolExitFailure;
}
