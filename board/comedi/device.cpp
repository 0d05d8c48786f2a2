// Opening the device, finding what the board's calls use on it, converting volts to its codes
// and writing the output.
#include "device.h"

#include "core/clock.h"
#include "core/errors.h"
#include "guard.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardcomedi {
namespace {

constexpr lsampl_t largest_code = 65535; // the board's calls carry 16-bit codes

// The system's reason, in words a user can act on.
std::string open_failure(int error) {
    const char *reason = std::strerror(error);
    if (error == ENOTTY || error == EINVAL)
        return std::string("not a Comedi device (") + reason + ")";
    if (error == ENODEV) return std::string("no board is attached to it (") + reason + ")";
    if (error == ENOENT)
        return std::string(reason) + ": check that the board's Comedi driver module is loaded " +
               "(lsmod) and, for a board that does not configure itself, that comedi_config " +
               "has attached it";
    return reason;
}

bool is_range(const comedi_range &range, double min, double max) {
    return range.unit == UNIT_volt && std::fabs(range.min - min) < 1e-9 &&
           std::fabs(range.max - max) < 1e-9;
}

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string unit_text(unsigned unit) {
    return unit == UNIT_volt ? " V" : unit == UNIT_mA ? " mA" : "";
}

// "0 to 5 V, -5 to 5 V", for messages.
std::string ranges_text(comedi_t *device, unsigned subdevice) {
    std::string text;
    const int count = comedi_get_n_ranges(device, subdevice, 0);
    for (int i = 0; i < count; ++i) {
        const comedi_range *range =
            comedi_get_range(device, subdevice, 0, static_cast<unsigned>(i));
        if (range == nullptr) continue;
        if (!text.empty()) text += ", ";
        text += number_text(range->min) + " to " + number_text(range->max) + unit_text(range->unit);
    }
    return text.empty() ? "none" : text;
}

// The analog reference the subdevice offers first: ground, common, differential, other.
unsigned reference_of(comedi_t *device, unsigned subdevice) {
    const int flags = comedi_get_subdevice_flags(device, subdevice);
    if (flags < 0 || (flags & SDF_GROUND) != 0) return AREF_GROUND;
    if ((flags & SDF_COMMON) != 0) return AREF_COMMON;
    if ((flags & SDF_DIFF) != 0) return AREF_DIFF;
    return AREF_OTHER;
}

void take_range(Channel &channel, const comedi_range &range, unsigned index) {
    channel.range = index;
    channel.min = range.min;
    channel.max = range.max;
}

// The nearest code, halves up, clamped to 0..top; NaN gives the code for 0 V.
std::uint16_t code_for(const Channel &channel, lsampl_t top, double volts) {
    if (std::isnan(volts)) volts = 0.0;
    const double code = (volts - channel.min) / (channel.max - channel.min) * top;
    if (!(code > 0.0)) return 0;
    if (code >= top) return static_cast<std::uint16_t>(top);
    return static_cast<std::uint16_t>(code + 0.5);
}

ComediBoard the_board; // one device, as the calls know one board

} // namespace

std::string last_error() {
    return comedi_strerror(comedi_errno());
}

void ComediBoard::start() {
    release();
    const std::string keep = path;
    *this = ComediBoard{};
    path = keep;
    board::clock_start(false);
}

int ComediBoard::refuse(const std::string &why) {
    fault = why;
    close_device();
    return board::device_unusable;
}

void ComediBoard::close_device() {
    if (stream.data != nullptr) munmap(const_cast<unsigned char *>(stream.data), stream.size);
    stream = Stream{};
    if (out.data != nullptr) munmap(out.data, out.size);
    out = OutputStream{};
    if (device != nullptr) comedi_close(device);
    device = nullptr;
    fd = -1;
}

int ComediBoard::open() {
    if (device != nullptr) return 0;
    device = comedi_open(path.c_str());
    if (device == nullptr) return refuse("cannot open " + path + ": " + open_failure(errno));
    fd = comedi_fileno(device);
    if (const int found = find_output(); found != 0) return found;
    if (const int found = find_input(); found != 0) return found;
    if (const int mapped = map_stream(); mapped != 0) return mapped;
    if (const int chosen = choose_output(); chosen != 0) return chosen;
    zero_code = code_for(output, output.maxdata, 0.0);
    const GuardOrders orders{output.subdevice, CR_PACK(0, output.range, output.aref), zero_code,
                             input.subdevice};
    if (std::string why; !guard_start(fd, orders, why)) return refuse(why);
    return 0;
}

// Channel 0 of the first analog output, on its -10 to +10 V range: the range code the tool
// writes in means exactly that, so another range would play the user's volts wrongly.
int ComediBoard::find_output() {
    const int subdevice = comedi_find_subdevice_by_type(device, COMEDI_SUBD_AO, 0);
    if (subdevice < 0) return refuse(path + " has no analog output");
    output.subdevice = static_cast<unsigned>(subdevice);
    output.maxdata = comedi_get_maxdata(device, output.subdevice, 0);
    const int flags = comedi_get_subdevice_flags(device, output.subdevice);
    output_commands = flags >= 0 && (flags & SDF_CMD_WRITE) != 0;
    out.sample_bytes = flags >= 0 && (flags & SDF_LSAMPL) != 0 ? sizeof(lsampl_t) : sizeof(sampl_t);
    if (output.maxdata > largest_code)
        return refuse(path + ": analog output channel 0 takes codes up to " +
                      std::to_string(output.maxdata) + ", more than the 16 bits this board writes");
    const int count = comedi_get_n_ranges(device, output.subdevice, 0);
    for (int i = 0; i < count; ++i) {
        const comedi_range *range =
            comedi_get_range(device, output.subdevice, 0, static_cast<unsigned>(i));
        if (range != nullptr && is_range(*range, -10.0, 10.0)) {
            take_range(output, *range, static_cast<unsigned>(i));
            output.aref = reference_of(device, output.subdevice);
            return 0;
        }
    }
    return refuse(path + ": analog output channel 0 has no -10 to +10 V range (it has " +
                  ranges_text(device, output.subdevice) + ")");
}

// Channel 0 of the first analog input that can stream, on -5 to +5 V or else its widest
// bipolar range: its samples only pace the run.
int ComediBoard::find_input() {
    int subdevice = comedi_find_subdevice_by_type(device, COMEDI_SUBD_AI, 0);
    int flags = 0;
    while (subdevice >= 0) {
        flags = comedi_get_subdevice_flags(device, static_cast<unsigned>(subdevice));
        if (flags >= 0 && (flags & SDF_CMD_READ) != 0) break;
        subdevice = comedi_find_subdevice_by_type(device, COMEDI_SUBD_AI,
                                                  static_cast<unsigned>(subdevice) + 1);
    }
    if (subdevice < 0) return refuse(path + " has no analog input that can stream (run commands)");
    input.subdevice = static_cast<unsigned>(subdevice);
    input.maxdata = comedi_get_maxdata(device, input.subdevice, 0);
    input.aref = reference_of(device, input.subdevice);
    stream.sample_bytes = (flags & SDF_LSAMPL) != 0 ? sizeof(lsampl_t) : sizeof(sampl_t);
    for (lsampl_t top = input.maxdata; top > largest_code; top >>= 1)
        ++stream.shift;

    const int count = comedi_get_n_ranges(device, input.subdevice, 0);
    double widest = 0.0;
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const comedi_range *range =
            comedi_get_range(device, input.subdevice, 0, static_cast<unsigned>(i));
        if (range == nullptr || range->unit != UNIT_volt || !(range->min < 0 && range->max > 0))
            continue;
        if (is_range(*range, -5.0, 5.0)) {
            take_range(input, *range, static_cast<unsigned>(i));
            return 0;
        }
        if (range->max - range->min > widest) {
            widest = range->max - range->min;
            take_range(input, *range, static_cast<unsigned>(i));
            found = true;
        }
    }
    if (found) return 0;
    return refuse(path + ": analog input channel 0 has no bipolar voltage range (it has " +
                  ranges_text(device, input.subdevice) + ")");
}

// The input's buffer, mapped read-only: the samples are taken where the device put them.
int ComediBoard::map_stream() {
    if (comedi_get_read_subdevice(device) != static_cast<int>(input.subdevice) &&
        comedi_set_read_subdevice(device, input.subdevice) < 0)
        return refuse(path + ": cannot read from analog input subdevice " +
                      std::to_string(input.subdevice) + ": " + last_error());
    const int size = comedi_get_buffer_size(device, input.subdevice);
    if (size <= 0) return refuse(path + ": the analog input has no buffer: " + last_error());
    void *mapped = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED)
        return refuse(path + ": cannot map the analog input's buffer: " + std::strerror(errno));
    stream.data = static_cast<const unsigned char *>(mapped);
    stream.size = static_cast<std::size_t>(size);
    return 0;
}

std::uint16_t ComediBoard::volts_to_code(int range, double volts) const {
    if (range == 0) return code_for(output, output.maxdata, volts);
    return code_for(input, input.maxdata >> stream.shift, volts);
}

std::int64_t ComediBoard::output_microvolts(std::uint16_t code) const {
    const double volts = output.min + code * (output.max - output.min) / output.maxdata;
    return std::llround(volts * 1e6);
}

int ComediBoard::write_output(std::uint16_t code) {
    if (code > output.maxdata) {
        fault = "code " + std::to_string(code) + " is past " + std::to_string(output.maxdata) +
                ", the largest analog output channel 0 of " + path + " takes";
        return board::bad_code;
    }
    // The device takes no single writes while its output command runs: a write ends it.
    if (out.running) end_output();
    if (comedi_data_write(device, output.subdevice, 0, output.range, output.aref, code) < 0) {
        fault = "writing analog output channel 0 of " + path + " failed: " + last_error();
        return board::device_unusable;
    }
    output_at_zero = code == zero_code;
    return 0;
}

void ComediBoard::release() {
    if (device == nullptr) return;
    // What the guard would do, done: it can go.
    if (output_at_zero && !progress.running) guard_dismiss();
    close_device();
}

} // namespace boardcomedi

board::Device &board::comedi_board(const char *path) {
    boardcomedi::the_board.path = path;
    return boardcomedi::the_board;
}
