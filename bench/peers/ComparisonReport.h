#pragma once

#include <string>
#include <vector>

#include "EngineMeasurement.h"

// The figures of every engine on one data set, with what is worth saying about the set.
struct DataSetResults {
    std::string name;
    uint32_t recordCount = 0;
    std::vector<std::string> notes;  // one line each: word counts, the limit query, ...
    const BenchWorkload* workload = nullptr;
    std::vector<EngineFigures> figures;  // in engine order; ZEL first when measured
};

// The Markdown section of one data set: the ratio table (peer cost / ZEL cost, so that above
// 1 ZEL is faster or smaller), the table of absolute figures, and the answers in which the
// engines disagree, per query shape, with the first few differing queries.
std::string reportDataSet(const DataSetResults& results);

// A Markdown list of the machine and the libraries: CPU model, cores, memory, kernel,
// compiler, SQLite, Xapian and ICU versions, and the date.
std::string describeMachine();
