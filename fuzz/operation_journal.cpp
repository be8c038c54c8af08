// Arbitrary bytes as a journal file: reading never crashes and keeps at most one entry per
// line; every entry read appends to a fresh journal and reads back the same, in order.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "CleanerCore/persistence/OperationJournal.h"
#include "fuzz/FileFuzzing.h"

namespace {

using kb::fuzzing::check;
using kb::fuzzing::urlOf;

const std::filesystem::path& scratch() {
    return kb::fuzzing::scratch("fuzz_journal");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto input = scratch() / "input.jsonl";
    const auto copy = scratch() / "copy.jsonl";
    std::filesystem::remove(copy);
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        check(static_cast<bool>(out));
    }

    kb::OperationJournal journal(urlOf(input));
    const auto entries = journal.readAll();
    const auto lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    check(entries.size() <= lines);

    kb::OperationJournal again(urlOf(copy));
    for (const auto& entry : entries) {
        check(again.append(entry).ok());
    }
    check(again.readAll() == entries);
    return 0;
}
