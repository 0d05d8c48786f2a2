// The clocked output: an output command on channel 0 at the input scan's period, started right
// after the input's command by an internal trigger, playing the table from the output's own
// buffer. Each status call tops the buffer up without waiting; if it ever runs dry, the kernel
// ends the command and the first buffer request after that says so (EPIPE).
#include "device.h"

#include "core/clock.h"
#include "core/errors.h"

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/mman.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardcomedi {
namespace {

void set_period(comedi_cmd &command, unsigned period) {
    if (command.scan_begin_src == TRIG_TIMER)
        command.scan_begin_arg = period;
    else
        command.convert_arg = period;
}

} // namespace

// AOPLAY_OUTPUT against what the output can do; a clocked output gets its buffer mapped.
int ComediBoard::choose_output() {
    const auto wanted = output_wanted;
    if (wanted == board::OutputMode::clocked && !output_commands)
        return refuse("AOPLAY_OUTPUT=clocked, but analog output subdevice " +
                      std::to_string(output.subdevice) + " of " + path +
                      " cannot run commands (it takes single writes only: use "
                      "AOPLAY_OUTPUT=polled or leave it unset)");
    clocked_output = wanted != board::OutputMode::polled && output_commands;
    return clocked_output ? map_output() : 0;
}

// The output's buffer, mapped writable: a writable map is of the file's write subdevice.
int ComediBoard::map_output() {
    const std::string where = path + " analog output subdevice " + std::to_string(output.subdevice);
    if (comedi_get_write_subdevice(device) != static_cast<int>(output.subdevice) &&
        comedi_set_write_subdevice(device, output.subdevice) < 0)
        return refuse("cannot write to " + where + ": " + last_error());
    const int size = comedi_get_buffer_size(device, output.subdevice);
    if (size <= 0) return refuse(where + " has no buffer: " + last_error());
    void *mapped =
        mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED)
        return refuse("cannot map the buffer of " + where + ": " + std::strerror(errno));
    out.data = static_cast<unsigned char *>(mapped);
    out.size = static_cast<std::size_t>(size);
    return 0;
}

// The output command, and one period both commands take: the input's as the driver settled
// it, moved to the output's steps where they differ, until both drivers agree.
int ComediBoard::settle_period(comedi_cmd &input_command, comedi_cmd &output_command,
                               unsigned *chanspec, std::string &why) {
    if (comedi_get_cmd_generic_timed(device, output.subdevice, &output_command, 1,
                                     period_of(input_command)) < 0) {
        why = "no timed command: " + last_error();
        return board::scan_refused;
    }
    output_command.chanlist = chanspec;
    output_command.chanlist_len = 1;
    output_command.start_src = TRIG_INT;
    output_command.start_arg = 0;
    output_command.scan_end_arg = 1;
    output_command.stop_src = TRIG_NONE;
    output_command.stop_arg = 0;
    for (int round = 0; round < 4; ++round) {
        const int tested = settle(device, output_command);
        if (tested != 0) {
            why = tested == 1 || tested == 2
                      ? "it cannot start a command by an internal trigger on its own timer"
                      : "it cannot keep the input's timing";
            return board::scan_refused;
        }
        const unsigned input_period = period_of(input_command);
        const unsigned output_period = period_of(output_command);
        if (output_period == input_period) return 0;
        set_period(input_command, output_period);
        if (settle(device, input_command) != 0) break;
    }
    why = "the input and the output cannot run at one period (input " +
          std::to_string(period_of(input_command)) + " ns, output " +
          std::to_string(period_of(output_command)) + " ns)";
    return board::scan_refused;
}

// Codes for the next `bytes` of the buffer, from the sample after the last written.
void ComediBoard::fill_output(std::size_t bytes) {
    const std::int64_t n = static_cast<std::int64_t>(bytes / out.sample_bytes);
    std::size_t at = static_cast<std::size_t>(out.written) * out.sample_bytes % out.size;
    std::int64_t sample = out.written;
    constexpr std::int64_t chunk = 4096;
    std::uint16_t codes[chunk];
    for (std::int64_t done = 0; done < n;) {
        const std::int64_t count = n - done < chunk ? n - done : chunk;
        table->fill(codes, sample, count, out.length);
        for (std::int64_t i = 0; i < count; ++i) {
            if (out.sample_bytes == sizeof(sampl_t)) {
                const sampl_t code = codes[i];
                std::memcpy(out.data + at, &code, sizeof code);
            } else {
                const lsampl_t code = codes[i];
                std::memcpy(out.data + at, &code, sizeof code);
            }
            at += out.sample_bytes;
            if (at == out.size) at = 0;
        }
        sample += count;
        done += count;
    }
}

// Writes what there is room for, hands it to the device and learns what it played: one
// request. The room is reckoned from the last request's count of what was played, which can
// only have grown since.
int ComediBoard::feed_output() {
    const std::size_t queued_bytes =
        static_cast<std::size_t>(out.written - out.played) * out.sample_bytes;
    const std::size_t room = out.size - queued_bytes;
    fill_output(room);
    comedi_bufinfo info{};
    info.subdevice = output.subdevice;
    info.bytes_written = static_cast<unsigned>(room);
    if (ioctl(fd, COMEDI_BUFINFO, &info) < 0) {
        const int error = errno;
        out.running = false;
        fault = path + " analog output subdevice " + std::to_string(output.subdevice) + ": " +
                (error == EPIPE ? "the driver ended the output command when it ran out of "
                                  "samples, after " +
                                      std::to_string(out.played) + " played"
                 : error == EINVAL ? "the output command ended"
                                   : std::strerror(error));
        progress.ran_short = true;
        return board::output_underrun;
    }
    out.written += static_cast<std::int64_t>(info.bytes_written / out.sample_bytes);
    out.played +=
        static_cast<std::int64_t>((info.buf_read_count - out.kernel_read) / out.sample_bytes);
    out.kernel_read = info.buf_read_count;
    progress.played = out.played;
    return 0;
}

int ComediBoard::queue_output(comedi_cmd &input_command, const board::ScanRequest &request) {
    const std::string where =
        path + " analog output subdevice " + std::to_string(output.subdevice) + ": ";
    comedi_cmd output_command{};
    unsigned chanspec = CR_PACK(0, output.range, output.aref);
    std::string why;
    if (settle_period(input_command, output_command, &chanspec, why) != 0) {
        fault = where + why + " (AOPLAY_OUTPUT=polled plays without an output command)";
        return board::scan_refused;
    }
    if (comedi_command(device, &output_command) < 0) {
        fault = where + last_error();
        return board::scan_refused;
    }
    table = request.table;
    out.written = out.played = 0;
    out.kernel_read = 0;
    out.running = true;
    out.period_ns = period_of(output_command);
    out.length = request.length;
    if (feed_output() != 0) {
        end_output();
        return board::scan_refused;
    }
    return 0;
}

int ComediBoard::trigger_output() {
    out.started = board::clock_now();
    if (comedi_internal_trigger(device, output.subdevice, 0) < 0) return -1;
    output_at_zero = false;
    return 0;
}

std::int64_t ComediBoard::output_sample_ticks(std::int64_t n) const {
    return out.started + (n + 1) * out.period_ns;
}

// Learns what was played last, then ends the command; the output keeps the last code played.
void ComediBoard::end_output() {
    if (!out.running) return;
    comedi_bufinfo info{};
    info.subdevice = output.subdevice;
    if (ioctl(fd, COMEDI_BUFINFO, &info) == 0) {
        out.played +=
            static_cast<std::int64_t>((info.buf_read_count - out.kernel_read) / out.sample_bytes);
        out.kernel_read = info.buf_read_count;
        progress.played = out.played;
    }
    comedi_cancel(device, output.subdevice);
    out.running = false;
}

} // namespace boardcomedi
