#include "EngineMeasurement.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "ByteForm.h"
#include "ChildProcess.h"
#include "SearchEngine.h"
#include "ZELTool.h"
#include "zel/platform/ZELFileManager.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

uint64_t growthSince(uint64_t startBytes, uint64_t bytes) {
    return bytes > startBytes ? bytes - startBytes : 0;
}

QueryAnswer answerOf(std::vector<uint32_t>& positions) {
    std::sort(positions.begin(), positions.end());
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a over the positions
    for (uint32_t position : positions) hash = (hash ^ position) * 0x100000001b3ull;
    return QueryAnswer{static_cast<uint32_t>(positions.size()), hash};
}

std::unique_ptr<SearchEngine> engineNamed(const std::string& name) {
    auto engine = makeSearchEngine(name);
    if (!engine) throw std::runtime_error("no engine named " + name);
    return engine;
}

// In the child: indexes and answers seconds and peak bytes.
std::string indexInChild(const std::string& name, const BenchDataSet& dataSet,
                         const std::filesystem::path& folder) {
    resetPeakResidentBytes();
    const uint64_t startBytes = residentBytes();
    auto engine = engineNamed(name);
    const auto start = Clock::now();
    engine->createDatabase(dataSet, folder);
    const double seconds = secondsSince(start);
    engine.reset();
    ByteWriter writer;
    writer.put(seconds);
    writer.put(growthSince(startBytes, peakResidentBytes()));
    return writer.bytes();
}

void putSummary(ByteWriter& writer, const LatencySummary& summary) {
    writer.put(summary.medianMicros);
    writer.put(summary.p99Micros);
}

LatencySummary getSummary(ByteReader& reader) {
    LatencySummary summary;
    summary.medianMicros = reader.get<double>();
    summary.p99Micros = reader.get<double>();
    return summary;
}

// In a fresh process, as an application opening its database at start: reopens, queries and
// completes; answers the figures in the order readReading takes them.
std::string readInChild(const std::string& name, const BenchWorkload& workload,
                        const std::filesystem::path& folder) {
    ByteWriter writer;
    std::vector<uint32_t> positions;
    const uint64_t startBytes = residentBytes();
    auto engine = engineNamed(name);
    const auto start = Clock::now();
    engine->open(folder);
    engine->evaluate(workload.queries[0].at(0), positions);
    writer.put(secondsSince(start));
    writer.put(growthSince(startBytes, residentBytes()));

    // A first pass over every query, timed only as a whole, so that the timed pass finds what
    // each engine caches loaded.
    const auto firstPassStart = Clock::now();
    for (const auto& queries : workload.queries) {
        for (const BenchQuery& query : queries) engine->evaluate(query, positions);
    }
    writer.put(secondsSince(firstPassStart));
    for (const auto& queries : workload.queries) {
        std::vector<double> micros;
        std::vector<QueryAnswer> answers;
        for (const BenchQuery& query : queries) {
            const auto queryStart = Clock::now();
            engine->evaluate(query, positions);
            micros.push_back(microsSince(queryStart));
            answers.push_back(answerOf(positions));
        }
        putSummary(writer, LatencySummary::ofSamples(std::move(micros)));
        writer.put(static_cast<uint64_t>(answers.size()));
        for (const QueryAnswer& answer : answers) {
            writer.put(answer.count);
            writer.put(answer.hash);
        }
    }

    const auto limitStart = Clock::now();
    engine->setCompletionLimit(workload.completionLimit);
    writer.put(secondsSince(limitStart));
    for (const auto& prefixes : workload.prefixes) {
        for (const bool limited : {false, true}) {
            for (const std::string& prefix : prefixes) {
                engine->complete(prefix, limited, workload.completionCount);  // untimed first round
            }
            std::vector<double> micros;
            size_t answered = 0;
            for (int repeat = 0; repeat < workload.completionRepeats; ++repeat) {
                for (const std::string& prefix : prefixes) {
                    const auto completionStart = Clock::now();
                    const auto words = engine->complete(prefix, limited, workload.completionCount);
                    micros.push_back(microsSince(completionStart));
                    answered += words.size();
                }
            }
            const size_t calls = micros.size();
            putSummary(writer, LatencySummary::ofSamples(std::move(micros)));
            writer.put(calls ? static_cast<double>(answered) / static_cast<double>(calls) : 0.0);
        }
    }
    return writer.bytes();
}

void putQuery(ByteWriter& writer, const BenchQuery& query) {
    writer.put(static_cast<uint8_t>(query.kind));
    writer.putString(query.word);
    writer.put(static_cast<uint64_t>(query.operands.size()));
    for (const BenchQuery& operand : query.operands) putQuery(writer, operand);
}

BenchQuery getQuery(ByteReader& reader) {
    BenchQuery query;
    query.kind = static_cast<BenchQuery::Kind>(reader.get<uint8_t>());
    query.word = reader.getString();
    const auto operandCount = reader.get<uint64_t>();
    for (uint64_t index = 0; index < operandCount; ++index) {
        query.operands.push_back(getQuery(reader));
    }
    return query;
}

// What the reading process is to do: the engine, the folder and the workload.
std::string readingRequest(const std::string& name, const BenchWorkload& workload,
                           const std::filesystem::path& folder) {
    ByteWriter writer;
    writer.putString(name);
    writer.putString(folder.string());
    for (const auto& queries : workload.queries) {
        writer.put(static_cast<uint64_t>(queries.size()));
        for (const BenchQuery& query : queries) putQuery(writer, query);
    }
    putQuery(writer, workload.completionLimit);
    for (const auto& prefixes : workload.prefixes) {
        writer.put(static_cast<uint64_t>(prefixes.size()));
        for (const std::string& prefix : prefixes) writer.putString(prefix);
    }
    writer.put(workload.completionRepeats);
    writer.put(static_cast<uint64_t>(workload.completionCount));
    return writer.bytes();
}

void readReading(const std::string& bytes, EngineFigures& figures) {
    ByteReader reader(bytes);
    figures.reopenSeconds = reader.get<double>();
    figures.openedBytes = reader.get<uint64_t>();
    figures.firstPassSeconds = reader.get<double>();
    for (size_t shape = 0; shape < benchQueryShapeCount; ++shape) {
        figures.queries[shape] = getSummary(reader);
        const auto count = reader.get<uint64_t>();
        for (uint64_t index = 0; index < count; ++index) {
            QueryAnswer answer;
            answer.count = reader.get<uint32_t>();
            answer.hash = reader.get<uint64_t>();
            figures.answers[shape].push_back(answer);
        }
    }
    figures.completionLimitSeconds = reader.get<double>();
    for (size_t length = 0; length < completionPrefixLengths; ++length) {
        for (size_t limited = 0; limited < 2; ++limited) {
            figures.completions[length][limited] = getSummary(reader);
            figures.completionsPerCall[length][limited] = reader.get<double>();
        }
    }
}

}  // namespace

const char* const readingChildArgument = "--reading-child";

std::string answerReadingRequest(const std::string& request) {
    ByteReader reader(request);
    const std::string name = reader.getString();
    const std::filesystem::path folder = reader.getString();
    BenchWorkload workload;
    for (auto& queries : workload.queries) {
        const auto count = reader.get<uint64_t>();
        for (uint64_t index = 0; index < count; ++index) queries.push_back(getQuery(reader));
    }
    workload.completionLimit = getQuery(reader);
    for (auto& prefixes : workload.prefixes) {
        const auto count = reader.get<uint64_t>();
        for (uint64_t index = 0; index < count; ++index) prefixes.push_back(reader.getString());
    }
    workload.completionRepeats = reader.get<int>();
    workload.completionCount = reader.get<uint64_t>();
    return readInChild(name, workload, folder);
}

LatencySummary LatencySummary::ofSamples(std::vector<double> micros) {
    if (micros.empty()) return {};
    std::sort(micros.begin(), micros.end());
    return LatencySummary{micros[micros.size() / 2],
                          micros[std::min(micros.size() - 1, micros.size() * 99 / 100)]};
}

EngineFigures measureEngine(const std::string& engine, const BenchDataSet& dataSet,
                            const BenchWorkload& workload, const std::filesystem::path& folder) {
    EngineFigures figures;
    figures.engine = engine;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    try {
        const std::string indexed =
            runInChildProcess([&] { return indexInChild(engine, dataSet, folder); });
        ByteReader indexing(indexed);
        figures.indexSeconds = indexing.get<double>();
        figures.indexPeakBytes = indexing.get<uint64_t>();
        figures.bytesOnDisk = ZELFileManager::byteCountOnDiskAtURL(folder.string());
        if (engine == "zel") figures.diskBreakdown = ZELToolDiskUsageTable(folder.string());
        readReading(runInFreshProcess(readingChildArgument,
                                      readingRequest(engine, workload, folder)),
                    figures);
    } catch (const std::exception& error) {
        figures.error = error.what();
    }
    std::filesystem::remove_all(folder);
    return figures;
}
