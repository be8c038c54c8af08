// The strict codec against bare Boost.JSON on the same bytes: decoding a trashItems request
// of 10000 paths and encoding an items response of 10000 results.
#include <benchmark/benchmark.h>

#include <boost/json.hpp>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "HelperProtocol/HelperCodec.h"

namespace {

constexpr int count = 10000;

kb::HelperRequest bigRequest() {
    kb::HelperRequest::TrashItems trash;
    for (int i = 0; i < count; ++i) {
        trash.paths.push_back("/home/alice/.cache/app-" + std::to_string(i % 97) +
                              "/thumbnails/large/file-" + std::to_string(i) + ".png");
    }
    trash.uid = 1000;
    return {trash};
}

kb::HelperResponse bigResponse() {
    std::vector<kb::ItemResult> results;
    for (int i = 0; i < count; ++i) {
        const std::string path = "/home/alice/Downloads/report-" + std::to_string(i) + ".pdf";
        if (i % 10 == 0) {
            results.push_back({path, kb::ItemOutcome::failed(13, "Permission denied"), {}});
        } else {
            results.push_back(
                {path, kb::ItemOutcome::ok(),
                 "/home/alice/.local/share/Trash/files/report-" + std::to_string(i) + ".pdf"});
        }
    }
    return kb::HelperResponse::items(std::move(results));
}

const std::string& requestBytes() {
    static const std::string bytes = *kb::HelperCodec::encode(bigRequest());
    return bytes;
}

const std::string& responseBytes() {
    static const std::string bytes = *kb::HelperCodec::encode(bigResponse());
    return bytes;
}

void DecodeRequestStrict(benchmark::State& state) {
    for (auto _ : state) {
        auto r = kb::HelperCodec::decode<kb::HelperRequest>(requestBytes());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(static_cast<size_t>(state.iterations()) * requestBytes().size()));
}
BENCHMARK(DecodeRequestStrict)->Unit(benchmark::kMillisecond);

void DecodeRequestBareParse(benchmark::State& state) {
    for (auto _ : state) {
        auto v = boost::json::parse(requestBytes());
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(static_cast<size_t>(state.iterations()) * requestBytes().size()));
}
BENCHMARK(DecodeRequestBareParse)->Unit(benchmark::kMillisecond);

void EncodeResponseStrict(benchmark::State& state) {
    const auto response = bigResponse();
    for (auto _ : state) {
        auto bytes = kb::HelperCodec::encode(response);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(static_cast<size_t>(state.iterations()) * responseBytes().size()));
}
BENCHMARK(EncodeResponseStrict)->Unit(benchmark::kMillisecond);

// The floor: serializing an already built value of the same document.
void EncodeResponseBareSerialize(benchmark::State& state) {
    const auto value = boost::json::parse(responseBytes());
    for (auto _ : state) {
        auto bytes = boost::json::serialize(value);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(
        static_cast<int64_t>(static_cast<size_t>(state.iterations()) * responseBytes().size()));
}
BENCHMARK(EncodeResponseBareSerialize)->Unit(benchmark::kMillisecond);

void EncodeResponseBuildOnly(benchmark::State& state) {
    const auto response = bigResponse();
    for (auto _ : state) {
        auto v = kb::json::toValue(response);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(EncodeResponseBuildOnly)->Unit(benchmark::kMillisecond);

void EncodeResponseSerializeOnly(benchmark::State& state) {
    const auto value = kb::json::toValue(bigResponse());
    for (auto _ : state) {
        auto bytes = kb::json::serialize(value, kb::json::JsonStyle::wire);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(EncodeResponseSerializeOnly)->Unit(benchmark::kMillisecond);

// Keeps every benchmark's CPU time per iteration, to print the ratios at the end: the
// median of the repetitions when --benchmark_repetitions asks for several, else the run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                cpu_[name] = run.GetAdjustedCPUTime();
                medians_.insert(name);
            } else if (run.run_type == Run::RT_Iteration && medians_.count(name) == 0) {
                cpu_[name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const {
        const auto ratio = [this](std::initializer_list<const char*> ours,
                                  std::initializer_list<const char*> peer) {
            double o = 0;
            double p = 0;
            for (const char* name : ours) {
                o += cpu_.count(name) != 0 ? cpu_.at(name) : 0;
            }
            for (const char* name : peer) {
                p += cpu_.count(name) != 0 ? cpu_.at(name) : 0;
            }
            return p > 0 && o > 0 ? o / p : 0.0;
        };
        std::printf(
            "ratio decode %.2f  encode %.2f  decode + encode %.2f (goal 1.2) of bare Boost.JSON\n",
            ratio({"DecodeRequestStrict"}, {"DecodeRequestBareParse"}),
            ratio({"EncodeResponseStrict"}, {"EncodeResponseBareSerialize"}),
            ratio({"DecodeRequestStrict", "EncodeResponseStrict"},
                  {"DecodeRequestBareParse", "EncodeResponseBareSerialize"}));
    }

  private:
    std::map<std::string, double> cpu_;
    std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
