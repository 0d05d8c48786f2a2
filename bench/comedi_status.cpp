// What the Comedi board's status call costs while its scan runs, against what asking the
// device's buffer costs at the least: the bare comedi_get_buffer_contents call, and that call
// with marking what it found as read, next to a bare clock read. All in one process, so in one
// VM run (bench/comedi-poll). The device is /dev/comedi0 unless COMEDI_DEVICE names another.
#include "board.h"

#include <comedilib.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <time.h>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

struct Device {
    comedi_t *handle = nullptr;
    unsigned ai = 0;
    std::string error;
};

Device &device() {
    static Device dev = [] {
        Device opened;
        const char *path = std::getenv("COMEDI_DEVICE");
        path = path && *path ? path : "/dev/comedi0";
        opened.handle = comedi_open(path);
        if (!opened.handle) {
            opened.error =
                std::string("cannot open ") + path + ": " + comedi_strerror(comedi_errno());
            return opened;
        }
        int ai = comedi_find_subdevice_by_type(opened.handle, COMEDI_SUBD_AI, 0);
        if (ai < 0) opened.error = std::string(path) + " has no analog-input subdevice";
        opened.ai = static_cast<unsigned>(ai < 0 ? 0 : ai);
        return opened;
    }();
    return dev;
}

// A continuous one-channel command at the rate given, as comedilib builds a timed one.
bool start(benchmark::State &state, Device &dev, unsigned *chanlist) {
    if (!dev.error.empty()) {
        state.SkipWithError(dev.error.c_str());
        return false;
    }
    auto period = static_cast<unsigned>(1000000000 / state.range(0));
    comedi_cmd cmd{};
    chanlist[0] = CR_PACK(0, 0, AREF_GROUND);
    if (comedi_get_cmd_generic_timed(dev.handle, dev.ai, &cmd, 1, period) < 0 ||
        (cmd.chanlist = chanlist, cmd.stop_src = TRIG_NONE, cmd.stop_arg = 0,
         comedi_command_test(dev.handle, &cmd) != 0) ||
        comedi_command(dev.handle, &cmd) < 0) {
        state.SkipWithError(comedi_strerror(comedi_errno()));
        return false;
    }
    return true;
}

void BM_ClockGettime(benchmark::State &state) {
    timespec now{};
    for (auto _ : state) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        benchmark::DoNotOptimize(now);
    }
}
BENCHMARK(BM_ClockGettime);

// The buffer fills while this runs: at 10 kHz the 2 MiB buffer lasts 100 s.
void BM_GetBufferContents(benchmark::State &state) {
    Device &dev = device();
    unsigned chanlist[1];
    if (!start(state, dev, chanlist)) return;
    int contents = 0;
    for (auto _ : state) {
        contents = comedi_get_buffer_contents(dev.handle, dev.ai);
        benchmark::DoNotOptimize(contents);
    }
    comedi_cancel(dev.handle, dev.ai);
    if (contents < 0) state.SkipWithError(comedi_strerror(comedi_errno()));
}
BENCHMARK(BM_GetBufferContents)->Arg(10000);

// What a status poll needs of the device at least: the count, then marking it read.
void BM_GetBufferContentsAndMark(benchmark::State &state) {
    Device &dev = device();
    unsigned chanlist[1];
    if (!start(state, dev, chanlist)) return;
    std::int64_t samples = 0;
    for (auto _ : state) {
        int contents = comedi_get_buffer_contents(dev.handle, dev.ai);
        if (contents > 0)
            comedi_mark_buffer_read(dev.handle, dev.ai, static_cast<unsigned>(contents));
        samples += contents / static_cast<int>(sizeof(sampl_t));
    }
    comedi_cancel(dev.handle, dev.ai);
    state.counters["samples"] = static_cast<double>(samples);
}
BENCHMARK(BM_GetBufferContentsAndMark)->Arg(10000);

// The board's status call in the tool's own scan: 10000 samples, continuous, at the rate given.
void BM_BoardGetStatus(benchmark::State &state) {
    std::vector<std::uint16_t> buffer(10000);
    auto rate = static_cast<std::int32_t>(state.range(0));
    if (cbAInScan(0, 0, 0, 10000, &rate, 1, buffer.data(), 0x2B) != 0) {
        state.SkipWithError("cbAInScan failed");
        return;
    }
    std::int16_t status = 0;
    std::int32_t count = 0, index = 0;
    for (auto _ : state) {
        cbGetStatus(0, &status, &count, &index);
        benchmark::DoNotOptimize(index);
    }
    cbStopBackground(0);
    state.counters["samples"] = count;
}
BENCHMARK(BM_BoardGetStatus)->Arg(10000);

} // namespace

int main(int argc, char **argv) {
    // The board reads its controls once, at its first call: set them before any.
    const char *path = std::getenv("COMEDI_DEVICE");
    setenv("AOPLAY_BOARD",
           (std::string("comedi:") + (path && *path ? path : "/dev/comedi0")).c_str(), 1);
    cbErrHandling(3, 2);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
