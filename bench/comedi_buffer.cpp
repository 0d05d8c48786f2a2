// What asking a Comedi device's buffer costs while a one-channel AI command runs: the bare
// comedi_get_buffer_contents call, and that call with marking what it found as read, next to a
// bare clock read as the floor. The baseline for a board's status poll: run both in one VM run
// (tests/vm/run) and compare. The device is /dev/comedi0 unless COMEDI_DEVICE names another.
#include <comedilib.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <time.h>

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

} // namespace

BENCHMARK_MAIN();
