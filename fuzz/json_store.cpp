// Arbitrary bytes as a store's file (a deletion plan, the richest record kept in one): the
// load either fails as undecodable and leaves the file as it was, or gives a value that saves
// and loads back, through a fresh store, to the same value.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <variant>

#include "CleanerCore/model/DeletionPlan.h"
#include "CleanerCore/persistence/JSONStore.h"
#include "fuzz/FileFuzzing.h"

namespace {

using kb::fuzzing::check;
using kb::fuzzing::urlOf;

const std::filesystem::path& scratch() {
    return kb::fuzzing::scratch("fuzz_store");
}

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto input = scratch() / "plan.json";
    const auto copy = scratch() / "copy.json";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        check(static_cast<bool>(out));
    }

    kb::JSONStore<kb::DeletionPlan> store(urlOf(input), kb::DeletionPlan{});
    const auto loaded = store.load();
    if (!loaded) {
        check(std::holds_alternative<kb::PersistenceError::Decoding>(loaded.error().kind));
        check(contentsOf(input) == bytes);
        return 0;
    }
    kb::JSONStore<kb::DeletionPlan> saved(urlOf(copy), kb::DeletionPlan{});
    check(saved.save(*loaded).ok());
    const auto reloaded = kb::JSONStore<kb::DeletionPlan>(urlOf(copy), kb::DeletionPlan{}).load();
    check(reloaded.ok() && *reloaded == *loaded);
    return 0;
}
