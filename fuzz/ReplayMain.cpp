// Runs every file of the given folders through a harness once, so that the saved corpora
// replay as ordinary tests under any compiler and sanitizer, without libFuzzer.
#include "FuzzTarget.h"

#include "support/TempTree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

// Sorted, so a failing replay names the same input every time.
std::vector<std::filesystem::path> inputsIn(const std::filesystem::path& folder, std::error_code& error) {
    std::vector<std::filesystem::path> inputs;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file()) {
            inputs.push_back(it->path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const auto inputs = inputsIn(argv[i], error);
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        for (const auto& input : inputs) {
            const auto bytes = fernhollow::test::readFile(input);
            if (!bytes) {
                std::fprintf(stderr, "cannot read %s\n", input.c_str());
                return 1;
            }
            // A buffer of exactly the input's size, as libFuzzer passes it, so that the
            // sanitizers see a read past its end.
            const auto data = std::make_unique_for_overwrite<std::uint8_t[]>(bytes->size());
            std::memcpy(data.get(), bytes->data(), bytes->size());
            std::fprintf(stderr, "replaying %s\n", input.c_str());
            LLVMFuzzerTestOneInput(data.get(), bytes->size());
            ++replayed;
        }
    }
    // An empty or misplaced corpus must not pass as a clean replay.
    if (replayed == 0) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
