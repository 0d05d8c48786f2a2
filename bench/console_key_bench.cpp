// How much the "no key" answer of key_pending costs in the playback's tight poll loop, next to
// the system call it avoids: FIONREAD on the terminal. Needs a controlling terminal.
#include "console.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

double fionread_ns = 0; // the baseline's time per call, for the ratio

double ns_per_call(std::chrono::steady_clock::duration elapsed, benchmark::IterationCount calls) {
    return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(calls);
}

void BM_FionreadBaseline(benchmark::State &state) {
    int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        state.SkipWithError("no controlling terminal");
        return;
    }
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        int count = 0;
        ioctl(fd, FIONREAD, &count);
        benchmark::DoNotOptimize(count);
    }
    fionread_ns = ns_per_call(std::chrono::steady_clock::now() - start, state.iterations());
    close(fd);
}
BENCHMARK(BM_FionreadBaseline);

void BM_KeyPendingNoKey(benchmark::State &state) {
    int fd = open("/dev/tty", O_RDONLY | O_NOCTTY);
    if (fd < 0) {
        state.SkipWithError("no controlling terminal");
        return;
    }
    close(fd);
    if (key_pending() != 0) {
        state.SkipWithError("a key is waiting");
        return;
    }
    int keys = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        keys |= key_pending();
        benchmark::DoNotOptimize(keys);
    }
    double ns = ns_per_call(std::chrono::steady_clock::now() - start, state.iterations());
    if (fionread_ns > 0) state.counters["x_fionread"] = ns / fionread_ns;
    if (keys != 0) state.SkipWithError("a key arrived during the run");
}
BENCHMARK(BM_KeyPendingNoKey);

} // namespace

BENCHMARK_MAIN();
