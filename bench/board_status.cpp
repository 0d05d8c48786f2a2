// cbGetStatus against the real clock while a continuous scan runs, with the output polled and
// with it clocked, next to a bare clock read as the floor; and cbAOut writing trace rows. The
// trace goes to /dev/null, so the disk is not measured.
#include "board.h"
#include "core/state.h"
#include "table.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <time.h>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

void BM_ClockGettime(benchmark::State &state) {
    timespec now{};
    for (auto _ : state) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        benchmark::DoNotOptimize(now);
    }
}
BENCHMARK(BM_ClockGettime);

// A board that has not been used yet: it reads its controls (AOPLAY_OUTPUT, the trace) at its
// first call after the reset.
void fresh_board(const char *output, bool traced) {
    board::reset_board();
    setenv("AOPLAY_OUTPUT", output, 1);
    if (traced)
        setenv("BOARDSIM_TRACE", "/dev/null", 1);
    else
        unsetenv("BOARDSIM_TRACE");
}

// The tool's own scan: 10000 samples, continuous, at the rate given, with the output as
// `output` says; a clocked output's status calls write its trace rows when `traced`.
void BM_GetStatus(benchmark::State &state, const char *output, bool traced) {
    fresh_board(output, traced);
    std::vector<float> table(10000, 1.0f);
    int clocked = 0;
    aoSetOutputTable(0, table.data(), static_cast<std::int32_t>(table.size()), &clocked);
    std::vector<std::uint16_t> buffer(10000);
    auto rate = static_cast<std::int32_t>(state.range(0));
    cbAInScan(0, 0, 0, 10000, &rate, 1, buffer.data(), 0x2B);
    std::int16_t status = 0;
    std::int32_t count = 0, index = 0;
    for (auto _ : state) {
        cbGetStatus(0, &status, &count, &index);
        benchmark::DoNotOptimize(index);
    }
    cbStopBackground(0);
    state.counters["samples"] = count;
    state.counters["clocked"] = clocked;
}
BENCHMARK_CAPTURE(BM_GetStatus, polled, "polled", true)->Arg(10000)->Arg(1000000);
BENCHMARK_CAPTURE(BM_GetStatus, clocked, "clocked", false)->Arg(1000000);
BENCHMARK_CAPTURE(BM_GetStatus, clocked_traced, "clocked", true)->Arg(1000000);

void BM_AOutTraced(benchmark::State &state) {
    fresh_board("polled", true);
    std::uint16_t code = 0;
    for (auto _ : state)
        cbAOut(0, 0, 0, code++);
}
BENCHMARK(BM_AOutTraced);

} // namespace

int main(int argc, char **argv) {
    // The board reads its controls once, at its first call: set them before any.
    setenv("BOARDSIM_CLOCK", "real", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
