// The strict codec against bare Boost.JSON on the same bytes: decoding a trashItems request
// of 10000 paths and encoding an items response of 10000 results.
#include <benchmark/benchmark.h>

#include <boost/json.hpp>

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
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * requestBytes().size()));
}
BENCHMARK(DecodeRequestStrict)->Unit(benchmark::kMillisecond);

void DecodeRequestBareParse(benchmark::State& state) {
    for (auto _ : state) {
        auto v = boost::json::parse(requestBytes());
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * requestBytes().size()));
}
BENCHMARK(DecodeRequestBareParse)->Unit(benchmark::kMillisecond);

void EncodeResponseStrict(benchmark::State& state) {
    const auto response = bigResponse();
    for (auto _ : state) {
        auto bytes = kb::HelperCodec::encode(response);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * responseBytes().size()));
}
BENCHMARK(EncodeResponseStrict)->Unit(benchmark::kMillisecond);

// The floor: serializing an already built value of the same document.
void EncodeResponseBareSerialize(benchmark::State& state) {
    const auto value = boost::json::parse(responseBytes());
    for (auto _ : state) {
        auto bytes = boost::json::serialize(value);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * responseBytes().size()));
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

}  // namespace

BENCHMARK_MAIN();
