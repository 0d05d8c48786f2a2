// What the Comedi board's status call costs while its scan runs, with the output polled and
// with it clocked, against what asking the device's buffer costs at the least: the bare
// comedi_get_buffer_contents call, and that call with marking what it found as read, next to
// the bare COMEDI_POLL request and a bare clock read. All in one process, so in one VM run
// (bench/comedi-poll). The device is /dev/comedi0 unless COMEDI_DEVICE names another.
#include "board.h"
#include "core/state.h"
#include "table.h"

#include <comedilib.h>

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
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

// What a status call adds where it asks the driver to move its samples into the buffer: the
// request alone, on the running input. comedi_test has no such request (EINVAL each time), so
// this is what asking at every call would cost on a driver without one.
void BM_PollRequest(benchmark::State &state) {
    Device &dev = device();
    unsigned chanlist[1];
    if (!start(state, dev, chanlist)) return;
    const int fd = comedi_fileno(dev.handle);
    std::int64_t calls = 0, refused = 0;
    for (auto _ : state) {
        if (ioctl(fd, COMEDI_POLL, dev.ai) < 0 && errno == EINVAL) ++refused;
        ++calls;
    }
    comedi_cancel(dev.handle, dev.ai);
    state.counters["einval_share"] =
        calls > 0 ? static_cast<double>(refused) / static_cast<double>(calls) : 0.0;
}
BENCHMARK(BM_PollRequest)->Arg(10000);

// The board as the tool meets it, its output played as `mode` says: the board reads
// AOPLAY_OUTPUT once, at its first call after a reset. False, with the case skipped, if the
// table does not play as asked or the scan does not start.
bool start_board(benchmark::State &state, const char *mode, std::vector<std::uint16_t> &buffer) {
    board::reset_board();
    setenv("AOPLAY_OUTPUT", mode, 1);
    std::vector<float> volts(buffer.size());
    for (std::size_t i = 0; i < volts.size(); ++i)
        volts[i] = static_cast<float>(5.0 * std::sin(static_cast<double>(i) / 1591.55));
    int clocked = 0;
    if (aoSetOutputTable(0, volts.data(), static_cast<std::int32_t>(volts.size()), &clocked) != 0 ||
        clocked != (std::strcmp(mode, "clocked") == 0 ? 1 : 0)) {
        state.SkipWithError("the table does not play as AOPLAY_OUTPUT asks");
        return false;
    }
    auto rate = static_cast<std::int32_t>(state.range(0));
    if (cbAInScan(0, 0, 0, static_cast<std::int32_t>(buffer.size()), &rate, 1, buffer.data(),
                  0x2B) != 0) {
        state.SkipWithError("cbAInScan failed");
        return false;
    }
    return true;
}

// Ends as the tool does, with the output at 0 V, so that the board lets its guard go.
void stop_board() {
    cbStopBackground(0);
    std::uint16_t zero = 0;
    cbFromEngUnits(0, 0, 0.0f, &zero);
    cbAOut(0, 0, 0, zero);
    board::reset_board();
}

// The board's status call in the tool's own scan: 10000 samples, continuous, at the rate given.
void BM_BoardGetStatus(benchmark::State &state, const char *mode) {
    std::vector<std::uint16_t> buffer(10000);
    if (!start_board(state, mode, buffer)) return;
    std::int16_t status = 0;
    std::int32_t count = 0, index = 0;
    for (auto _ : state) {
        cbGetStatus(0, &status, &count, &index);
        benchmark::DoNotOptimize(index);
    }
    state.counters["samples"] = count;
    state.counters["played"] = static_cast<double>(board::scan().played);
    stop_board();
}
BENCHMARK_CAPTURE(BM_BoardGetStatus, polled, "polled")->Arg(10000)->Arg(1000000);
BENCHMARK_CAPTURE(BM_BoardGetStatus, clocked, "clocked")->Arg(10000)->Arg(1000000);

} // namespace

int main(int argc, char **argv) {
    // The board reads its controls once, at its first call: set them before any.
    const char *path = std::getenv("COMEDI_DEVICE");
    setenv("AOPLAY_BOARD",
           (std::string("comedi:") + (path && *path ? path : "/dev/comedi0")).c_str(), 1);
    cbErrHandling(3, 2);
    // Each case's board starts a guard process, which ends when the case lets it go: reaped
    // so, not left as zombies.
    std::signal(SIGCHLD, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
