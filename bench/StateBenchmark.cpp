// Saving and loading the state cache of a heavy user: 1,000,000 records.
#include "core/common/AtomicFile.h"
#include "core/ledger/StateFile.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include <stdlib.h>

namespace {

using namespace fernhollow;

constexpr int recordCount = 1'000'000;

PersistedState heavyUserState() {
    PersistedState state;
    state.records.reserve(recordCount);
    std::mt19937_64 random(42);
    const char* models[] = {"claude-sonnet-4-5-20250929", "claude-opus-4-1-20250805",
                            "claude-haiku-4-5-20251001"};
    for (int i = 0; i < recordCount; ++i) {
        const int session = i / 500;
        state.records.push_back(UsageRecord{
            Uuid::random(), "msg_01" + std::to_string(random()), 1.76e9 + i * 5.0, models[i % 3],
            static_cast<std::int64_t>(random() % 5000), static_cast<std::int64_t>(random() % 3000),
            static_cast<std::int64_t>(random() % 20000), 0, static_cast<std::int64_t>(random() % 200000),
            "-home-user-src-project" + std::to_string(session % 40),
            "0a1b2c3d-1111-4111-8111-" + std::to_string(100000000000 + session)});
        state.fileMtimes["/home/user/.claude/projects/-home-user-src-project" + std::to_string(session % 40) +
                         "/" + state.records.back().sessionId.str() + ".jsonl"] = 1.76e9 + i;
    }
    return state;
}

std::filesystem::path scratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fernhollow-bench-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

const PersistedState& sharedState() {
    static const PersistedState state = heavyUserState();
    return state;
}

void BM_SaveState(benchmark::State& state) {
    const auto folder = scratchFolder();
    const auto path = folder / "state.json";
    std::size_t bytes = 0;
    for (auto _ : state) {
        // A different snapshot each time: an identical one would be skipped.
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
        const auto pieces = encodeStatePieces(sharedState());
        bytes = 0;
        for (const auto& piece : pieces) {
            bytes += piece.size();
        }
        benchmark::DoNotOptimize(replaceFileAtomically(path, pieces));
    }
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SaveState)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The part of a save that is ours; the rest is the disk taking 375 MB and flushing it.
void BM_EncodeState(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeStatePieces(sharedState()));
    }
}
BENCHMARK(BM_EncodeState)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_SaveUnchangedState(benchmark::State& state) {
    const auto folder = scratchFolder();
    const auto path = folder / "state.json";
    replaceFileAtomically(path, encodeState(sharedState()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(replaceFileAtomically(path, encodeStatePieces(sharedState())));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_SaveUnchangedState)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LoadState(benchmark::State& state) {
    const auto folder = scratchFolder();
    const auto path = folder / "state.json";
    replaceFileAtomically(path, encodeState(sharedState()));
    for (auto _ : state) {
        const auto loaded = loadStateFile(path);
        if (!loaded || loaded->records.size() != recordCount) {
            state.SkipWithError("the saved state did not load whole");
        }
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LoadState)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
