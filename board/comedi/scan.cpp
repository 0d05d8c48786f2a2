// The scan on a Comedi device: a timed one-channel streaming command on the analog input, its
// samples taken from the device's buffer without ever waiting.
#include "device.h"

#include "core/errors.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/ioctl.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardcomedi {
namespace {

constexpr double ns_per_second = 1e9;

// Up to this rate the input command asks the driver to hand over each sample as it comes
// (CMDF_WAKE_EOS) rather than in blocks of a FIFO or DMA transfer: on drivers that take it as
// "interrupt per sample" it costs the host one interrupt per sample, a few microseconds each,
// so a few percent of a core here and a large share at 100 kHz and more. Past it the driver's
// blocks are drained at each status call where the driver lets us ask (comedi_poll).
constexpr std::int32_t wake_each_sample_up_to = 20000;

unsigned period_for(std::int32_t rate) {
    const double period = std::round(ns_per_second / rate);
    return period < 1.0 ? 1u : static_cast<unsigned>(period);
}

// The rate the command runs at, samples per second, as a whole number.
std::int32_t rate_of(const comedi_cmd &command) {
    const unsigned period = period_of(command);
    if (period == 0) return 0;
    const double rate = std::round(ns_per_second / period);
    return rate < 1.0 ? 1 : rate > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(rate);
}

// What comedi_command_test's answer says about the command.
const char *test_failure(int stage) {
    switch (stage) {
    case 1:
        return "it cannot start, pace or stop a scan this way";
    case 2:
        return "it cannot combine these triggers";
    case 3:
        return "an argument is out of its range";
    case 4:
        return "it cannot keep this timing";
    case 5:
        return "it cannot scan this channel list";
    default:
        return nullptr;
    }
}

} // namespace

unsigned period_of(const comedi_cmd &command) {
    if (command.scan_begin_src == TRIG_TIMER) return command.scan_begin_arg;
    if (command.convert_src == TRIG_TIMER) return command.convert_arg * command.chanlist_len;
    return 0;
}

// The driver fits the arguments to what it can do (its timer's steps, its fastest rate): test
// again until it takes them as they are.
int settle(comedi_t *device, comedi_cmd &command) {
    int tested = 0;
    for (int round = 0; round < 5; ++round) {
        tested = comedi_command_test(device, &command);
        if (tested != 3 && tested != 4) break;
    }
    return tested;
}

int ComediBoard::start_scan(const board::ScanRequest &request, std::int32_t &rate) {
    const std::string where =
        path + " analog input subdevice " + std::to_string(input.subdevice) + ": ";
    comedi_cmd command{};
    if (comedi_get_cmd_generic_timed(device, input.subdevice, &command, 1, period_for(rate)) < 0) {
        fault = where + "no timed command: " + last_error();
        return board::scan_refused;
    }
    unsigned chanspec = CR_PACK(0, input.range, input.aref);
    command.chanlist = &chanspec;
    command.chanlist_len = 1;
    command.scan_end_arg = 1;
    command.stop_src = request.continuous ? TRIG_NONE : TRIG_COUNT;
    command.stop_arg = request.continuous ? 0 : static_cast<unsigned>(request.length);
    if (rate <= wake_each_sample_up_to) command.flags |= CMDF_WAKE_EOS;
    const int tested = settle(device, command);
    if (tested != 0) {
        const char *why = test_failure(tested);
        fault = where + (why != nullptr ? why : last_error());
        return board::scan_refused;
    }
    if (request.table != nullptr) {
        if (const int queued = queue_output(command, request); queued != 0) return queued;
    }
    if (comedi_command(device, &command) < 0) {
        fault = where + last_error();
        end_output();
        return board::scan_refused;
    }
    if (request.table != nullptr && trigger_output() != 0) {
        fault = path + " analog output subdevice " + std::to_string(output.subdevice) +
                ": the output command did not start: " + last_error();
        comedi_cancel(device, input.subdevice);
        end_output();
        return board::scan_refused;
    }
    rate = rate_of(command);
    driver_polls = true;
    stream.limit = request.continuous ? INT64_MAX : request.length;
    backlog = 0;
    board::progress_start(progress, request.buffer, request.length);
    return 0;
}

// The newest `fresh` of the `taken` samples that start at `read_at` in the device's buffer go
// to their places in the caller's buffer, at most one buffer's worth.
void ComediBoard::store_newest(std::size_t read_at, std::int64_t taken, std::int64_t fresh) {
    const std::int64_t n = fresh < progress.length ? fresh : progress.length;
    std::size_t from =
        (read_at + static_cast<std::size_t>(taken - n) * stream.sample_bytes) % stream.size;
    std::int64_t slot = board::progress_slot_of_newest(progress, n);
    auto *into = static_cast<unsigned char *>(progress.buffer);
    for (std::int64_t i = 0; i < n; ++i) {
        std::uint32_t sample = 0;
        if (stream.sample_bytes == sizeof(sampl_t)) {
            sampl_t small;
            std::memcpy(&small, stream.data + from, sizeof small);
            sample = small;
        } else {
            std::memcpy(&sample, stream.data + from, sizeof sample);
        }
        const auto code = static_cast<std::uint16_t>(sample >> stream.shift);
        std::memcpy(into + static_cast<std::size_t>(slot) * sizeof code, &code, sizeof code);
        from += stream.sample_bytes;
        if (from == stream.size) from = 0;
        if (++slot == progress.length) slot = 0;
    }
}

void ComediBoard::ask_driver_for_samples() {
    if (!driver_polls) return;
    // EINVAL: this driver has no such request; it will not have one later in the command.
    if (ioctl(fd, COMEDI_POLL, input.subdevice) < 0 && errno == EINVAL) driver_polls = false;
}

int ComediBoard::take_samples(bool store) {
    ask_driver_for_samples();
    comedi_bufinfo info{};
    info.subdevice = input.subdevice;
    if (ioctl(fd, COMEDI_BUFINFO, &info) < 0) {
        const int error = errno;
        progress.running = false;
        // The driver ended the command in error (EPIPE): an overrun, when we had fallen that
        // far behind; it does not say which.
        if (error == EPIPE && backlog * 2 >= stream.size) {
            fault = path + ": " + std::to_string(backlog) + " bytes of its " +
                    std::to_string(stream.size) + "-byte buffer were waiting to be taken";
            return board::scan_overrun;
        }
        // Not ours any more: ended with all its samples taken.
        if (error == EINVAL && progress.acquired >= stream.limit) return 0;
        fault = path + ": " +
                (error == EPIPE    ? "the driver ended the command with an error"
                 : error == EINVAL ? "the command ended early"
                                   : std::strerror(error));
        return board::scan_failed;
    }
    const std::size_t held = info.buf_write_count - info.buf_read_count;
    const std::int64_t taken = static_cast<std::int64_t>(held / stream.sample_bytes);
    if (taken == 0) return 0;
    backlog = held;
    const std::int64_t fresh = board::progress_take(progress, progress.acquired + taken);
    if (store && progress.buffer != nullptr) store_newest(info.buf_read_ptr, taken, fresh);
    info.bytes_read = static_cast<unsigned>(taken) * static_cast<unsigned>(stream.sample_bytes);
    ioctl(fd, COMEDI_BUFINFO, &info);
    if (progress.acquired >= stream.limit) progress.running = false;
    return 0;
}

// The output is fed first and its underrun wins: after a long stall the input's buffer may
// have overrun too, but what went wrong is that the output ran dry.
int ComediBoard::poll() {
    const int fed = out.running ? feed_output() : 0;
    const int taken = take_samples(true);
    if (fed != 0) {
        progress.running = false;
        comedi_cancel(device, input.subdevice);
        return fed;
    }
    if (!progress.running) end_output();
    return taken;
}

// The output stops first, so that it plays nothing once the scan has stopped.
void ComediBoard::stop() {
    end_output();
    take_samples(true);
    comedi_cancel(device, input.subdevice);
}

void ComediBoard::stop_at_exit() {
    end_output();
    take_samples(false);
    comedi_cancel(device, input.subdevice);
}

} // namespace boardcomedi
