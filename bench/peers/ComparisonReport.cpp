#include "ComparisonReport.h"

#include <sqlite3.h>
#include <sys/utsname.h>
#include <unicode/uvernum.h>
#include <xapian.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <thread>

namespace {

constexpr double megabyte = 1024.0 * 1024.0;
constexpr size_t differencesShown = 3;

// Three significant digits, no exponent: "0.0123", "4.56", "789", "12345".
std::string number(double value) {
    if (!std::isfinite(value)) return "-";
    char text[64];
    const double magnitude = std::fabs(value);
    const int decimals = magnitude >= 100   ? 0
                         : magnitude >= 10  ? 1
                         : magnitude >= 1   ? 2
                         : magnitude >= 0.1 ? 3
                                            : 4;
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// One row of both tables: how to read the figure of an engine, and whether more is better
// (a rate: its ratio is then ZEL's rate over the peer's, so that above 1 ZEL is ahead, as for
// the times and sizes, whose ratio is the peer's over ZEL's).
struct Row {
    std::string label;
    std::function<double(const EngineFigures&)> value;
    bool higherIsBetter = false;
};

std::vector<Row> rowsFor(const DataSetResults& results) {
    std::vector<Row> rows;
    const double records = results.recordCount;
    rows.push_back({"indexing, records/s",
                    [records](const EngineFigures& f) { return records / f.indexSeconds; }, true});
    rows.push_back(
        {"bytes on disk, MB", [](const EngineFigures& f) { return f.bytesOnDisk / megabyte; }});
    rows.push_back({"indexing peak memory, MB",
                    [](const EngineFigures& f) { return f.indexPeakBytes / megabyte; }});
    rows.push_back(
        {"reopen + first query, ms", [](const EngineFigures& f) { return f.reopenSeconds * 1e3; }});
    rows.push_back({"memory after reopen, MB",
                    [](const EngineFigures& f) { return f.openedBytes / megabyte; }});
    rows.push_back({"first pass over all queries, ms",
                    [](const EngineFigures& f) { return f.firstPassSeconds * 1e3; }});
    for (size_t shape = 0; shape < benchQueryShapeCount; ++shape) {
        const std::string name = nameOfBenchQueryShape(allBenchQueryShapes[shape]);
        rows.push_back({name + ", median µs",
                        [shape](const EngineFigures& f) { return f.queries[shape].medianMicros; }});
        rows.push_back({name + ", p99 µs",
                        [shape](const EngineFigures& f) { return f.queries[shape].p99Micros; }});
    }
    rows.push_back({"completion limit setup, ms",
                    [](const EngineFigures& f) { return f.completionLimitSeconds * 1e3; }});
    for (size_t limited = 0; limited < 2; ++limited) {
        for (size_t length = 0; length < completionPrefixLengths; ++length) {
            const std::string name = "complete " + std::to_string(length + 1) +
                                     (length ? " letters" : " letter") +
                                     (limited ? ", limited" : "");
            rows.push_back({name + ", median µs", [=](const EngineFigures& f) {
                                return f.completions[length][limited].medianMicros;
                            }});
            rows.push_back({name + ", p99 µs", [=](const EngineFigures& f) {
                                return f.completions[length][limited].p99Micros;
                            }});
        }
    }
    return rows;
}

std::string tableHead(const DataSetResults& results, const std::string& firstColumn) {
    std::string head = "| " + firstColumn;
    std::string rule = "| ---";
    for (const EngineFigures& figures : results.figures) {
        head += " | " + figures.engine;
        rule += " | ---:";
    }
    return head + " |\n" + rule + " |\n";
}

const EngineFigures* referenceOf(const DataSetResults& results) {
    for (const EngineFigures& figures : results.figures) {
        if (figures.error.empty()) return &figures;
    }
    return nullptr;
}

// Ratios against the first engine that did not fail (ZEL when it was measured), whose own
// column holds its figures.
std::string ratioTable(const DataSetResults& results, const std::vector<Row>& rows) {
    const EngineFigures* base = referenceOf(results);
    const std::string baseName = base ? base->engine : "zel";
    std::string text = tableHead(
        results, "figure (peer / " + baseName + "; > 1: " + baseName + " faster or smaller)");
    for (const Row& row : rows) {
        text += "| " + row.label;
        for (const EngineFigures& figures : results.figures) {
            text += " | ";
            if (!figures.error.empty() || !base) {
                text += "failed";
            } else if (&figures == base) {
                text += number(row.value(figures));
            } else {
                const double ratio = row.higherIsBetter ? row.value(*base) / row.value(figures)
                                                        : row.value(figures) / row.value(*base);
                text += number(ratio);
            }
        }
        text += " |\n";
    }
    return text;
}

std::string absoluteTable(const DataSetResults& results, const std::vector<Row>& rows) {
    std::string text = tableHead(results, "figure");
    for (const Row& row : rows) {
        text += "| " + row.label;
        for (const EngineFigures& figures : results.figures) {
            text += " | " +
                    (figures.error.empty() ? number(row.value(figures)) : std::string("failed"));
        }
        text += " |\n";
    }
    text += "| completions per call (1, 2, 3 letters; limited)";
    for (const EngineFigures& figures : results.figures) {
        text += " |";
        for (size_t limited = 0; limited < 2; ++limited) {
            for (size_t length = 0; length < completionPrefixLengths; ++length) {
                text += (length    ? "/"
                         : limited ? "; "
                                   : " ") +
                        number(figures.completionsPerCall[length][limited]);
            }
        }
    }
    return text + " |\n";
}

std::string agreement(const DataSetResults& results) {
    const EngineFigures* reference = referenceOf(results);
    if (!reference || !results.workload) return "No engine answered.\n";
    std::string text = "Answers that differ from " + reference->engine +
                       "'s (same queries, compared as record sets):\n\n";
    for (size_t shape = 0; shape < benchQueryShapeCount; ++shape) {
        const auto& queries = results.workload->queries[shape];
        text += std::string("- ") + nameOfBenchQueryShape(allBenchQueryShapes[shape]) + ":";
        std::vector<size_t> differing;
        for (const EngineFigures& figures : results.figures) {
            if (&figures == reference || !figures.error.empty()) continue;
            size_t count = 0;
            for (size_t index = 0; index < queries.size(); ++index) {
                if (figures.answers[shape].at(index) == reference->answers[shape].at(index)) {
                    continue;
                }
                ++count;
                if (std::find(differing.begin(), differing.end(), index) == differing.end()) {
                    differing.push_back(index);
                }
            }
            text += " " + figures.engine + " " + std::to_string(count) + "/" +
                    std::to_string(queries.size()) + ";";
        }
        text.back() = '\n';
        std::sort(differing.begin(), differing.end());
        for (size_t shown = 0; shown < differing.size() && shown < differencesShown; ++shown) {
            const size_t index = differing[shown];
            text += "  - `" + queries[index].description() + "`: records";
            for (const EngineFigures& figures : results.figures) {
                if (figures.error.empty()) {
                    text += " " + figures.engine + " " +
                            std::to_string(figures.answers[shape][index].count);
                }
            }
            text += "\n";
        }
    }
    return text;
}

std::string firstLineStartingWith(const char* path, const std::string& start) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, start.size(), start) == 0) return line;
    }
    return "";
}

std::string afterColon(const std::string& line) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return line;
    const size_t start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
}

}  // namespace

std::string reportDataSet(const DataSetResults& results) {
    std::string text =
        "### " + results.name + " (" + std::to_string(results.recordCount) + " records)\n\n";
    for (const std::string& note : results.notes) text += "- " + note + "\n";
    for (const EngineFigures& figures : results.figures) {
        if (!figures.error.empty()) {
            text += "- " + figures.engine + " failed: " + figures.error + "\n";
        }
    }
    const std::vector<Row> rows = rowsFor(results);
    text += "\n" + ratioTable(results, rows) + "\nAbsolute figures:\n\n" +
            absoluteTable(results, rows) + "\n" + agreement(results) + "\n";
    for (const EngineFigures& figures : results.figures) {
        if (figures.diskBreakdown.empty()) continue;
        text += "Where " + figures.engine + "'s bytes go after indexing (file sizes):\n\n" +
                figures.diskBreakdown + "\n";
    }
    return text;
}

std::string describeMachine() {
    utsname system{};
    uname(&system);
    const double memoryKilobytes =
        std::atof(afterColon(firstLineStartingWith("/proc/meminfo", "MemTotal")).c_str());
    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d", std::gmtime(&now));
    std::string text;
    text += "- CPU: " + afterColon(firstLineStartingWith("/proc/cpuinfo", "model name")) + ", " +
            std::to_string(std::thread::hardware_concurrency()) + " cores\n";
    text += "- memory: " + number(memoryKilobytes / megabyte) + " GB\n";
    text += std::string("- kernel: ") + system.sysname + " " + system.release + "\n";
    text += std::string("- compiler: g++ ") + __VERSION__ + " (release build, -O2)\n";
    text += std::string("- SQLite ") + sqlite3_libversion() + ", Xapian " +
            Xapian::version_string() + ", ICU " + U_ICU_VERSION + "\n";
    text += std::string("- date: ") + date + "\n";
    return text;
}
