// The operation journal over 100 000 entries: appending them one by one, reading them all
// back, and listing the restorable ones; against a bare line split plus Boost.JSON parse of
// the same file (the floor for any reader that validates every line).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <boost/json.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "CleanerCore/persistence/OperationJournal.h"

namespace {

constexpr int entryCount = 100000;

kb::JournalEntry sampleEntry(int i, const kb::Uuid& plan) {
    const std::string path = "/Users/alice/Library/Caches/com.example.app-" +
                             std::to_string(i % 97) + "/blobs/item-" + std::to_string(i);
    const bool restore = i % 10 == 9;
    return kb::JournalEntry{
        kb::Uuid::random(),
        plan,
        kb::DeletionPlan::Origin::clean({"user.caches", "xcode.derivedData"}),
        restore ? kb::JournalEntry::Action::restored : kb::JournalEntry::Action::trashed,
        kb::JournalEntry::Actor::user,
        restore ? "/Users/alice/Library/Caches/com.example.app-" + std::to_string((i - 1) % 97) +
                      "/blobs/item-" + std::to_string(i - 1)
                : path,
        restore ? std::nullopt
                : std::optional<std::string>("/Users/alice/.Trash/item-" + std::to_string(i)),
        static_cast<std::uint64_t>(i) * 4096,
        kb::StatIdentity{66306, static_cast<std::uint64_t>(1000000 + i), 1796545868, 501, 0100644,
                         0},
        kb::Date(std::chrono::seconds(1796545868 + i)),
        std::nullopt};
}

class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/kbbench.XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

kb::FileURL urlOf(const std::string& path) {
    return *kb::FileURL::fromPath(path);
}

// One journal of entryCount lines, written once for the reading benchmarks.
const std::string& sharedJournal() {
    static ScratchDir dir;
    static const std::string path = [] {
        const std::string file = dir.file("journal.jsonl");
        std::ofstream out(file, std::ios::binary);
        const auto plan = kb::Uuid::random();
        for (int i = 0; i < entryCount; ++i) {
            out << *kb::json::encode(sampleEntry(i, plan), kb::json::JsonStyle::domain) << '\n';
        }
        return file;
    }();
    return path;
}

void BM_Append(benchmark::State& state) {
    const auto plan = kb::Uuid::random();
    std::vector<kb::JournalEntry> entries;
    for (int i = 0; i < entryCount; ++i) {
        entries.push_back(sampleEntry(i, plan));
    }
    for (auto _ : state) {
        state.PauseTiming();
        ScratchDir dir;
        kb::OperationJournal journal(urlOf(dir.file("journal.jsonl")));
        state.ResumeTiming();
        for (const auto& entry : entries) {
            if (!journal.append(entry).ok()) {
                state.SkipWithError("append failed");
                return;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * entryCount);
}
BENCHMARK(BM_Append)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadAll(benchmark::State& state) {
    kb::OperationJournal journal(urlOf(sharedJournal()));
    for (auto _ : state) {
        auto entries = journal.readAll();
        if (entries.size() != entryCount) {
            state.SkipWithError("wrong entry count");
            return;
        }
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * entryCount);
}
BENCHMARK(BM_ReadAll)->Unit(benchmark::kMillisecond);

// The peer: read the file, split it at line feeds, parse every line with Boost.JSON.
void BM_BareSplitAndParse(benchmark::State& state) {
    const std::string path = sharedJournal();
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        const std::string contents((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        size_t parsed = 0;
        std::string_view rest(contents);
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            if (line.empty()) {
                continue;
            }
            boost::system::error_code ec;
            auto value = boost::json::parse(line, ec);
            benchmark::DoNotOptimize(value);
            parsed += ec ? 0U : 1U;
        }
        if (parsed != entryCount) {
            state.SkipWithError("wrong line count");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * entryCount);
}
BENCHMARK(BM_BareSplitAndParse)->Unit(benchmark::kMillisecond);

void BM_RestorableEntries(benchmark::State& state) {
    kb::OperationJournal journal(urlOf(sharedJournal()));
    for (auto _ : state) {
        auto entries = journal.restorableEntries();
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * entryCount);
}
BENCHMARK(BM_RestorableEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
