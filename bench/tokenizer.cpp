// Word tokenization throughput on real text: the bodies of this machine's Debian changelog
// entries, each entry one value, as a host would index them. ZELWordTokenizer with every token
// normalized is measured against ICU's plain word break iterator over the same texts.
//
// Text source: the file named by ZEL_BENCH_TOKENIZER_TEXT (entries separated by empty lines),
// else the bodies of this machine's changelog entries (ZELBenchCorpora.h). Without either the
// benchmarks are skipped.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "ZELBenchCorpora.h"
#include "zel/tokenizer/TarvoICUTokenizer.h"
#include "zel/tokenizer/ZELStringComparison.h"
#include "zel/tokenizer/ZELWordTokenizer.h"

namespace {

struct Corpus {
    std::vector<ZELString> entries;
    size_t utf8Bytes = 0;
};

void addEntry(Corpus& corpus, const std::string& body) {
    if (body.empty()) return;
    corpus.utf8Bytes += body.size();
    corpus.entries.push_back(ZELStringFromUTF8(body));
}

// A plain text file: entries between empty lines.
Corpus readPlainEntries(std::istream& input) {
    Corpus corpus;
    std::string line;
    std::string body;
    while (std::getline(input, line)) {
        if (line.empty()) {
            addEntry(corpus, body);
            body.clear();
        } else {
            body.append(line).push_back('\n');
        }
    }
    addEntry(corpus, body);
    return corpus;
}

const Corpus& corpus() {
    static const Corpus loaded = [] {
        if (const char* path = std::getenv("ZEL_BENCH_TOKENIZER_TEXT")) {
            std::ifstream file(path);
            return readPlainEntries(file);
        }
        Corpus bodies;
        for (const ZELValue::Dictionary& entry : ZELBench_ChangelogEntries()) {
            const auto body = entry.find(u"body");
            if (body != entry.end()) addEntry(bodies, body->second.utf8Value());
        }
        return bodies;
    }();
    return loaded;
}

void BM_ZELWordTokenizerWithNormalization(benchmark::State& state) {
    const Corpus& texts = corpus();
    if (texts.entries.empty()) {
        state.SkipWithError("no text found (set ZEL_BENCH_TOKENIZER_TEXT)");
        return;
    }
    const auto tokenizer = ZELTokenizer::tokenizer<ZELWordTokenizer>();
    size_t tokens = 0;
    for (auto _ : state) {
        for (const ZELString& entry : texts.entries) {
            const std::optional<ZELTokenSet> found = tokenizer->tokensForValue(ZELValue(entry));
            for (const ZELString& token : *found) {
                benchmark::DoNotOptimize(ZELNormalizedCaseInsensitiveComparisonString(token));
            }
            tokens += found->size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * texts.utf8Bytes));
    state.counters["entries"] = static_cast<double>(texts.entries.size());
    state.counters["distinct_tokens_per_entry"] =
        static_cast<double>(tokens) / static_cast<double>(state.iterations() * texts.entries.size());
}

void BM_ICUWordBreakIteratorReference(benchmark::State& state) {
    const Corpus& texts = corpus();
    if (texts.entries.empty()) {
        state.SkipWithError("no text found (set ZEL_BENCH_TOKENIZER_TEXT)");
        return;
    }
    size_t segments = 0;
    for (auto _ : state) {
        for (const ZELString& entry : texts.entries) {
            TarvoICUTokenizer_VisitWordsInString("root", entry, 0, entry.size(), [&](size_t, size_t) {
                ++segments;
                return true;
            });
        }
    }
    benchmark::DoNotOptimize(segments);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * texts.utf8Bytes));
}

BENCHMARK(BM_ZELWordTokenizerWithNormalization)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ICUWordBreakIteratorReference)->Unit(benchmark::kMillisecond);

// Prints the throughput of the word tokenizer as a share of the plain iterator's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto found = run.counters.find("bytes_per_second");
            if (found != run.counters.end()) bytesPerSecond_[run.benchmark_name()] = found->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto tokenizer = bytesPerSecond_.find("BM_ZELWordTokenizerWithNormalization");
        const auto reference = bytesPerSecond_.find("BM_ICUWordBreakIteratorReference");
        if (tokenizer == bytesPerSecond_.end() || reference == bytesPerSecond_.end() || reference->second <= 0) return;
        std::printf("word tokenizer: %.1f MB/s, ICU word break iterator: %.1f MB/s, ratio %.2f\n",
                    tokenizer->second / 1e6, reference->second / 1e6, tokenizer->second / reference->second);
    }

private:
    std::map<std::string, double> bytesPerSecond_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
