// comedi_probe: asks a Comedi device, through comedilib, the questions a board layer built on it
// depends on, and prints the answers as plain "key: value" lines. Each mode is one question:
//
//   comedi_probe info [DEVICE]                  subdevices, ranges, flags, buffers
//   comedi_probe cmdtest RATE...                what command test makes of an AI rate in Hz
//   comedi_probe stream RATE SECONDS [COUNT]    how samples arrive (bursts, offsets, mmap, end)
//   comedi_probe overrun RATE FIRST             how an overrun shows; FIRST is the call asked first
//   comedi_probe drain RATE mark|read [COUNT] after an overrun (or a COUNT's end), empty the buffer
//   comedi_probe cancel                         comedi_cancel on a running command, then again
//   comedi_probe hold RATE CODE [exit]          write AO code, start a command, then sleep (or
//   exit) comedi_probe state                          another process's view: busy, AO value, new
//   command comedi_probe open PATH                      what opening PATH gives
//
// DEVICE is /dev/comedi0 unless COMEDI_DEVICE names another.
#include "vm_tool.h"

#include <comedilib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

using namespace vmtool;

namespace {

const char *device_path() {
    const char *path = std::getenv("COMEDI_DEVICE");
    return path && *path ? path : "/dev/comedi0";
}

const char *errno_name(int error) {
    const char *name = strerrorname_np(error);
    return name ? name : "?";
}

// The result of a call, with errno and comedilib's own error as they stand right after it.
void print_result(const char *what, long result, int saved_errno) {
    int comedi_error = comedi_errno();
    std::printf("%s: result %ld errno %d (%s, \"%s\") comedi_errno %d \"%s\"\n", what, result,
                saved_errno, errno_name(saved_errno), std::strerror(saved_errno), comedi_error,
                comedi_strerror(comedi_error));
}

#define CALL(what, expression)                                                                     \
    [&] {                                                                                          \
        errno = 0;                                                                                 \
        long result_ = static_cast<long>(expression);                                              \
        int errno_ = errno;                                                                        \
        print_result(what, result_, errno_);                                                       \
        return result_;                                                                            \
    }()

std::string flag_names(int flags) {
    static const std::pair<int, const char *> names[] = {
        {SDF_BUSY, "BUSY"},           {SDF_BUSY_OWNER, "BUSY_OWNER"},
        {SDF_LOCKED, "LOCKED"},       {SDF_LOCK_OWNER, "LOCK_OWNER"},
        {SDF_MAXDATA, "MAXDATA"},     {SDF_FLAGS, "FLAGS"},
        {SDF_RANGETYPE, "RANGETYPE"}, {SDF_CMD, "CMD"},
        {SDF_CMD_WRITE, "CMD_WRITE"}, {SDF_CMD_READ, "CMD_READ"},
        {SDF_READABLE, "READABLE"},   {SDF_WRITABLE, "WRITABLE"},
        {SDF_INTERNAL, "INTERNAL"},   {SDF_GROUND, "GROUND"},
        {SDF_COMMON, "COMMON"},       {SDF_DIFF, "DIFF"},
        {SDF_OTHER, "OTHER"},         {SDF_DITHER, "DITHER"},
        {SDF_DEGLITCH, "DEGLITCH"},   {SDF_MMAP, "MMAP"},
        {SDF_RUNNING, "RUNNING"},     {SDF_LSAMPL, "LSAMPL"},
        {SDF_PACKED, "PACKED"}};
    if (flags < 0) return "(error)";
    std::string text;
    for (auto [bit, name] : names)
        if (flags & bit) text += std::string(text.empty() ? "" : "|") + name;
    return text;
}

void print_flags(comedi_t *dev, unsigned subdevice, const char *when) {
    errno = 0;
    int flags = comedi_get_subdevice_flags(dev, subdevice);
    std::printf("flags %s: 0x%08x %s\n", when, static_cast<unsigned>(flags),
                flag_names(flags).c_str());
}

comedi_t *open_or_die() {
    comedi_t *dev = comedi_open(device_path());
    if (!dev) {
        comedi_perror(device_path());
        std::exit(1);
    }
    return dev;
}

unsigned ai_subdevice(comedi_t *dev) {
    int subdevice = comedi_find_subdevice_by_type(dev, COMEDI_SUBD_AI, 0);
    if (subdevice < 0) {
        std::fprintf(stderr, "no analog-input subdevice\n");
        std::exit(1);
    }
    return static_cast<unsigned>(subdevice);
}

unsigned ao_subdevice(comedi_t *dev) {
    int subdevice = comedi_find_subdevice_by_type(dev, COMEDI_SUBD_AO, 0);
    if (subdevice < 0) {
        std::fprintf(stderr, "no analog-output subdevice\n");
        std::exit(1);
    }
    return static_cast<unsigned>(subdevice);
}

const char *type_name(int type) {
    switch (type) {
    case COMEDI_SUBD_UNUSED:
        return "unused";
    case COMEDI_SUBD_AI:
        return "AI";
    case COMEDI_SUBD_AO:
        return "AO";
    case COMEDI_SUBD_DI:
        return "DI";
    case COMEDI_SUBD_DO:
        return "DO";
    case COMEDI_SUBD_DIO:
        return "DIO";
    case COMEDI_SUBD_COUNTER:
        return "counter";
    case COMEDI_SUBD_TIMER:
        return "timer";
    default:
        return "other";
    }
}

std::string trig_name(unsigned src) {
    static const std::pair<unsigned, const char *> names[] = {
        {TRIG_NONE, "NONE"}, {TRIG_NOW, "NOW"},     {TRIG_FOLLOW, "FOLLOW"},
        {TRIG_TIME, "TIME"}, {TRIG_TIMER, "TIMER"}, {TRIG_COUNT, "COUNT"},
        {TRIG_EXT, "EXT"},   {TRIG_INT, "INT"},     {TRIG_OTHER, "OTHER"}};
    std::string text;
    for (auto [bit, name] : names)
        if (src & bit) text += std::string(text.empty() ? "" : "|") + name;
    return text.empty() ? "0" : text;
}

void print_cmd(const char *label, const comedi_cmd &cmd) {
    std::printf("%s: subdev %u flags 0x%x start %s/%u scan_begin %s/%u convert %s/%u "
                "scan_end %s/%u stop %s/%u chanlist_len %u\n",
                label, cmd.subdev, cmd.flags, trig_name(cmd.start_src).c_str(), cmd.start_arg,
                trig_name(cmd.scan_begin_src).c_str(), cmd.scan_begin_arg,
                trig_name(cmd.convert_src).c_str(), cmd.convert_arg,
                trig_name(cmd.scan_end_src).c_str(), cmd.scan_end_arg,
                trig_name(cmd.stop_src).c_str(), cmd.stop_arg, cmd.chanlist_len);
}

// ---- info ----------------------------------------------------------------------------------

void print_ranges(comedi_t *dev, unsigned subdevice) {
    int ranges = comedi_get_n_ranges(dev, subdevice, 0);
    std::printf("  ranges of channel 0: %d (chan specific: %d)\n", ranges,
                comedi_range_is_chan_specific(dev, subdevice));
    for (int r = 0; r < ranges; ++r) {
        comedi_range *range = comedi_get_range(dev, subdevice, 0, static_cast<unsigned>(r));
        std::printf("    range %d: min %.17g max %.17g unit %u (%s)\n", r, range->min, range->max,
                    range->unit,
                    range->unit == UNIT_volt ? "V"
                    : range->unit == UNIT_mA ? "mA"
                                             : "none");
    }
}

// What comedilib's own conversion makes of a few voltages in each range.
void print_codes(comedi_t *dev, unsigned subdevice) {
    lsampl_t maxdata = comedi_get_maxdata(dev, subdevice, 0);
    for (int r = 0; r < comedi_get_n_ranges(dev, subdevice, 0); ++r) {
        comedi_range *range = comedi_get_range(dev, subdevice, 0, static_cast<unsigned>(r));
        std::printf("    range %d comedi_from_phys:", r);
        for (double volts : {-10.0, -5.0, 0.0, 2.5, 5.0, 10.0})
            std::printf(" %g V=%u", volts, comedi_from_phys(volts, range, maxdata));
        std::printf("; comedi_to_phys(32767)=%.9g (32768)=%.9g\n",
                    comedi_to_phys(32767, range, maxdata), comedi_to_phys(32768, range, maxdata));
    }
}

int info(const char *path) {
    comedi_t *dev = comedi_open(path);
    if (!dev) {
        comedi_perror(path);
        return 1;
    }
    int version = comedi_get_version_code(dev);
    std::printf("device %s: driver %s board %s comedi version %d.%d.%d\n", path,
                comedi_get_driver_name(dev), comedi_get_board_name(dev), version >> 16,
                (version >> 8) & 0xff, version & 0xff);
    int count = comedi_get_n_subdevices(dev);
    std::printf("subdevices: %d; read subdevice %d; write subdevice %d\n", count,
                comedi_get_read_subdevice(dev), comedi_get_write_subdevice(dev));
    std::printf("sizeof sampl_t %zu lsampl_t %zu\n", sizeof(sampl_t), sizeof(lsampl_t));
    for (unsigned s = 0; s < static_cast<unsigned>(count); ++s) {
        int flags = comedi_get_subdevice_flags(dev, s);
        std::printf("subdevice %u: type %s channels %d maxdata %u (chan specific %d)\n", s,
                    type_name(comedi_get_subdevice_type(dev, s)), comedi_get_n_channels(dev, s),
                    comedi_get_maxdata(dev, s, 0), comedi_maxdata_is_chan_specific(dev, s));
        std::printf("  flags 0x%08x %s\n", static_cast<unsigned>(flags), flag_names(flags).c_str());
        errno = 0;
        int size = comedi_get_buffer_size(dev, s);
        int max_size = comedi_get_max_buffer_size(dev, s);
        std::printf("  buffer size %d max %d%s\n", size, max_size,
                    size < 0 ? " (no buffer: not a streaming subdevice)" : "");
        print_ranges(dev, s);
        if (comedi_get_subdevice_type(dev, s) == COMEDI_SUBD_AO) print_codes(dev, s);
        comedi_cmd mask{};
        if (comedi_get_cmd_src_mask(dev, s, &mask) == 0) print_cmd("  source mask", mask);
    }
    comedi_close(dev);
    return 0;
}

// ---- commands ------------------------------------------------------------------------------

unsigned period_ns(double rate) {
    double period = 1e9 / rate;
    return period >= 4294967295.0 ? 4294967295u : static_cast<unsigned>(period + 0.5);
}

// A one-channel timed command on AI channel 0, range 0, as the driver will take it.
comedi_cmd timed_command(comedi_t *dev, unsigned subdevice, unsigned period, unsigned *chanlist,
                         bool verbose) {
    comedi_cmd cmd{};
    int generic = comedi_get_cmd_generic_timed(dev, subdevice, &cmd, 1, period);
    if (verbose) {
        std::printf("get_cmd_generic_timed(period %u ns): %d\n", period, generic);
        print_cmd("  generic", cmd);
    }
    chanlist[0] = CR_PACK(0, 0, AREF_GROUND);
    cmd.chanlist = chanlist;
    cmd.chanlist_len = 1;
    cmd.scan_end_arg = 1;
    cmd.stop_src = TRIG_NONE;
    cmd.stop_arg = 0;
    for (int pass = 1; pass <= 3; ++pass) {
        comedi_cmd before = cmd;
        int test = comedi_command_test(dev, &cmd);
        if (verbose) {
            std::printf("  command_test pass %d: %d (errno %s)\n", pass, test,
                        test < 0 ? errno_name(errno) : "-");
            if (std::memcmp(&before, &cmd, sizeof cmd) != 0) print_cmd("  changed to", cmd);
        }
        if (test <= 0) break;
    }
    return cmd;
}

int cmdtest(int argc, char **argv) {
    comedi_t *dev = open_or_die();
    unsigned ai = ai_subdevice(dev);
    unsigned chanlist[1];
    for (int i = 0; i < argc; ++i) {
        double rate = std::strtod(argv[i], nullptr);
        std::printf("rate %s Hz:\n", argv[i]);
        comedi_cmd cmd = timed_command(dev, ai, period_ns(rate), chanlist, true);
        unsigned settled = cmd.scan_begin_src == TRIG_TIMER ? cmd.scan_begin_arg : cmd.convert_arg;
        std::printf("  settled: period %u ns = %.9g Hz\n", settled, 1e9 / settled);
        // The same rate as a scan timer with the conversion at once, the other form the
        // source mask allows.
        cmd.scan_begin_src = TRIG_TIMER;
        cmd.scan_begin_arg = period_ns(rate);
        cmd.convert_src = TRIG_NOW;
        cmd.convert_arg = 0;
        print_cmd("  as scan timer", cmd);
        for (int pass = 1; pass <= 3; ++pass) {
            comedi_cmd before = cmd;
            int test = comedi_command_test(dev, &cmd);
            std::printf("  command_test pass %d: %d\n", pass, test);
            if (std::memcmp(&before, &cmd, sizeof cmd) != 0) print_cmd("  changed to", cmd);
            if (test <= 0) break;
        }
    }
    // Periods given directly, for the ones no rounding of a rate reaches.
    for (unsigned period : {0u, 1u, 999u, 1000u, 4294967295u}) {
        std::printf("period %u ns:\n", period);
        timed_command(dev, ai, period, chanlist, true);
    }
    comedi_close(dev);
    return 0;
}

bool start_command(comedi_t *dev, unsigned subdevice, double rate, unsigned count,
                   unsigned *chanlist) {
    comedi_cmd cmd = timed_command(dev, subdevice, period_ns(rate), chanlist, false);
    if (count) {
        cmd.stop_src = TRIG_COUNT;
        cmd.stop_arg = count;
    }
    print_cmd("command", cmd);
    return CALL("comedi_command", comedi_command(dev, &cmd)) == 0;
}

// ---- stream --------------------------------------------------------------------------------

struct Burst {
    double at;
    int bytes;
};

void print_bursts(const std::vector<Burst> &bursts, double started) {
    if (bursts.empty()) return;
    std::map<int, int> sizes;
    std::vector<double> gaps;
    for (std::size_t i = 0; i < bursts.size(); ++i) {
        ++sizes[bursts[i].bytes];
        if (i) gaps.push_back(bursts[i].at - bursts[i - 1].at);
    }
    std::printf("bursts: %zu; first after %.6f s\n", bursts.size(), bursts[0].at - started);
    for (auto [bytes, times] : sizes)
        std::printf("  burst of %d bytes: %d times\n", bytes, times);
    if (gaps.empty()) return;
    std::sort(gaps.begin(), gaps.end());
    std::printf("  gap between bursts: min %.6f median %.6f max %.6f s\n", gaps.front(),
                gaps[gaps.size() / 2], gaps.back());
}

// Maps the read buffer and checks that the bytes at the read offset are what read() returns.
void check_mmap(comedi_t *dev, unsigned subdevice) {
    int size = comedi_get_buffer_size(dev, subdevice);
    int fd = comedi_fileno(dev);
    void *map = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        std::printf("mmap of %d bytes: failed errno %s\n", size, errno_name(errno));
        return;
    }
    int available = comedi_get_buffer_contents(dev, subdevice);
    int offset = comedi_get_buffer_offset(dev, subdevice);
    int bytes = std::min(available, 64);
    std::vector<unsigned char> mapped(static_cast<std::size_t>(bytes));
    for (int i = 0; i < bytes; ++i)
        mapped[static_cast<std::size_t>(i)] =
            static_cast<const unsigned char *>(map)[(offset + i) % size];
    std::vector<unsigned char> got(static_cast<std::size_t>(bytes));
    ssize_t n = read(fd, got.data(), got.size());
    std::printf("mmap of %d bytes: ok; at read offset %d, %d bytes: read() gave %zd, %s\n", size,
                offset, bytes, n,
                n == bytes && mapped == got ? "the same bytes" : "DIFFERENT bytes");
    std::printf("  after read(): offset %d contents %d\n", comedi_get_buffer_offset(dev, subdevice),
                comedi_get_buffer_contents(dev, subdevice));
    if (bytes >= 8) {
        const auto *samples = reinterpret_cast<const sampl_t *>(mapped.data());
        std::printf("  first samples: %u %u %u %u\n", samples[0], samples[1], samples[2],
                    samples[3]);
    }
    munmap(map, static_cast<std::size_t>(size));
}

int stream(double rate, double seconds, unsigned count) {
    comedi_t *dev = open_or_die();
    unsigned ai = ai_subdevice(dev);
    unsigned chanlist[1];
    print_flags(dev, ai, "before");
    double started = now_s();
    if (!start_command(dev, ai, rate, count, chanlist)) return 1;
    print_flags(dev, ai, "after command");
    std::vector<Burst> bursts;
    int seen = 0;
    long total = 0;
    long calls = 0;
    int last_offset = comedi_get_buffer_offset(dev, ai);
    bool mmap_checked = false;
    while (now_s() - started < seconds) {
        int contents = comedi_get_buffer_contents(dev, ai);
        ++calls;
        if (contents < 0) {
            print_result("comedi_get_buffer_contents", contents, errno);
            break;
        }
        if (contents > seen) bursts.push_back({now_s(), contents - seen});
        seen = contents;
        if (!mmap_checked && contents >= 64) {
            check_mmap(dev, ai);
            mmap_checked = true;
            seen = comedi_get_buffer_contents(dev, ai);
            continue;
        }
        if (contents > 0 && (contents > 4096 || bursts.size() % 2 == 0)) {
            int marked = comedi_mark_buffer_read(dev, ai, static_cast<unsigned>(contents));
            int offset = comedi_get_buffer_offset(dev, ai);
            if (bursts.size() < 6)
                std::printf("at %.6f s: contents %d marked %d offset %d -> %d\n", now_s() - started,
                            contents, marked, last_offset, offset);
            total += marked;
            last_offset = offset;
            seen = comedi_get_buffer_contents(dev, ai);
        }
        int flags = comedi_get_subdevice_flags(dev, ai);
        if (count && !(flags & SDF_RUNNING) && seen == 0) {
            std::printf("command ended at %.6f s\n", now_s() - started);
            break;
        }
        sleep_s(0.0001);
    }
    std::printf("bytes taken: %ld (samples of %zu bytes: %ld); buffer polls: %ld\n", total,
                sizeof(sampl_t), total / static_cast<long>(sizeof(sampl_t)), calls);
    print_bursts(bursts, started);
    print_flags(dev, ai, "at the end");
    CALL("comedi_get_buffer_contents", comedi_get_buffer_contents(dev, ai));
    CALL("comedi_poll", comedi_poll(dev, ai));
    fcntl(comedi_fileno(dev), F_SETFL, O_NONBLOCK);
    char byte;
    CALL("read() of 1 byte, non-blocking", read(comedi_fileno(dev), &byte, 1));
    print_flags(dev, ai, "after read");
    CALL("comedi_cancel", comedi_cancel(dev, ai));
    print_flags(dev, ai, "after cancel");
    comedi_close(dev);
    return 0;
}

// ---- overrun -------------------------------------------------------------------------------

void ask(comedi_t *dev, unsigned ai, const std::string &call) {
    char byte;
    if (call == "contents")
        CALL("comedi_get_buffer_contents", comedi_get_buffer_contents(dev, ai));
    else if (call == "poll")
        CALL("comedi_poll", comedi_poll(dev, ai));
    else if (call == "mark0")
        CALL("comedi_mark_buffer_read(0)", comedi_mark_buffer_read(dev, ai, 0));
    else if (call == "mark")
        CALL("comedi_mark_buffer_read(4096)", comedi_mark_buffer_read(dev, ai, 4096));
    else if (call == "offset")
        CALL("comedi_get_buffer_offset", comedi_get_buffer_offset(dev, ai));
    else if (call == "read")
        CALL("read() of 1 byte, non-blocking", read(comedi_fileno(dev), &byte, 1));
    else if (call == "cancel")
        CALL("comedi_cancel", comedi_cancel(dev, ai));
    print_flags(dev, ai, ("after " + call).c_str());
}

int overrun(double rate, const std::string &first) {
    comedi_t *dev = open_or_die();
    unsigned ai = ai_subdevice(dev);
    unsigned chanlist[1];
    fcntl(comedi_fileno(dev), F_SETFL, O_NONBLOCK);
    std::printf("buffer size %d\n", comedi_get_buffer_size(dev, ai));
    double started = now_s();
    if (!start_command(dev, ai, rate, 0, chanlist)) return 1;
    // Only the flags are watched: asking for the subdevice's flags changes nothing.
    int flags = 0;
    while ((flags = comedi_get_subdevice_flags(dev, ai)) & SDF_RUNNING) {
        if (now_s() - started > 60) {
            std::printf("no overrun within 60 s\n");
            return 1;
        }
        sleep_s(0.001);
    }
    std::printf("RUNNING cleared after %.3f s (polled every 1 ms)\n", now_s() - started);
    print_flags(dev, ai, "when it stopped");
    std::vector<std::string> calls = {first};
    for (const char *call : {"contents", "offset", "poll", "mark0", "mark", "read", "contents",
                             "read", "cancel", "cancel", "contents"})
        calls.emplace_back(call);
    for (const auto &call : calls)
        ask(dev, ai, call);
    std::printf("a new command on the same handle:\n");
    if (start_command(dev, ai, 1000, 0, chanlist)) {
        sleep_s(0.1);
        CALL("comedi_get_buffer_contents", comedi_get_buffer_contents(dev, ai));
        CALL("comedi_cancel", comedi_cancel(dev, ai));
    }
    comedi_close(dev);
    return 0;
}

// After an overrun, takes what the buffer holds by marking it read or by read(), to the end.
// With a COUNT the command ends by itself instead, for comparison.
int drain(double rate, const std::string &how, unsigned count) {
    comedi_t *dev = open_or_die();
    unsigned ai = ai_subdevice(dev);
    unsigned chanlist[1];
    fcntl(comedi_fileno(dev), F_SETFL, O_NONBLOCK);
    if (!start_command(dev, ai, rate, count, chanlist)) return 1;
    while (comedi_get_subdevice_flags(dev, ai) & SDF_RUNNING)
        sleep_s(0.001);
    print_flags(dev, ai, "when it stopped");
    std::vector<char> chunk(1 << 20);
    for (int i = 0; i < 5; ++i) {
        if (how == "read")
            CALL("read() of 1 MiB, non-blocking",
                 read(comedi_fileno(dev), chunk.data(), chunk.size()));
        else
            CALL("comedi_mark_buffer_read(1 MiB)", comedi_mark_buffer_read(dev, ai, 1 << 20));
        CALL("comedi_get_buffer_contents", comedi_get_buffer_contents(dev, ai));
        print_flags(dev, ai, "now");
    }
    CALL("comedi_cancel", comedi_cancel(dev, ai));
    comedi_close(dev);
    return 0;
}

// ---- cancel --------------------------------------------------------------------------------

int cancel() {
    comedi_t *dev = open_or_die();
    unsigned ai = ai_subdevice(dev);
    unsigned chanlist[1];
    fcntl(comedi_fileno(dev), F_SETFL, O_NONBLOCK);
    if (!start_command(dev, ai, 10000, 0, chanlist)) return 1;
    sleep_s(0.05);
    print_flags(dev, ai, "running");
    CALL("comedi_get_buffer_contents", comedi_get_buffer_contents(dev, ai));
    CALL("comedi_cancel", comedi_cancel(dev, ai));
    print_flags(dev, ai, "after the first cancel");
    CALL("comedi_get_buffer_contents", comedi_get_buffer_contents(dev, ai));
    CALL("comedi_poll", comedi_poll(dev, ai));
    char byte;
    CALL("read() of 1 byte, non-blocking", read(comedi_fileno(dev), &byte, 1));
    CALL("comedi_cancel again", comedi_cancel(dev, ai));
    print_flags(dev, ai, "after the second cancel");
    std::printf("a cancel with no command ever started on a new handle:\n");
    comedi_t *other = open_or_die();
    CALL("comedi_cancel (idle, other handle)", comedi_cancel(other, ai));
    std::printf("a command while another handle runs one:\n");
    if (start_command(dev, ai, 1000, 0, chanlist)) {
        start_command(other, ai, 1000, 0, chanlist);
        CALL("comedi_cancel from the other handle", comedi_cancel(other, ai));
        print_flags(dev, ai, "owner's view");
        CALL("comedi_cancel", comedi_cancel(dev, ai));
    }
    comedi_close(other);
    comedi_close(dev);
    return 0;
}

// ---- hold / state --------------------------------------------------------------------------

int hold(double rate, lsampl_t code, bool exit_at_once) {
    comedi_t *dev = open_or_die();
    unsigned ai = ai_subdevice(dev);
    unsigned ao = ao_subdevice(dev);
    unsigned chanlist[1];
    CALL("comedi_data_write AO 0", comedi_data_write(dev, ao, 0, 0, AREF_GROUND, code));
    if (!start_command(dev, ai, rate, 0, chanlist)) return 1;
    print_flags(dev, ai, "holding");
    std::fflush(stdout);
    if (exit_at_once) return 0; // no cancel, no close
    for (;;)
        pause();
}

int state() {
    comedi_t *dev = comedi_open(device_path());
    if (!dev) {
        print_result("comedi_open", 0, errno);
        return 1;
    }
    std::printf("comedi_open: ok\n");
    unsigned ai = ai_subdevice(dev);
    unsigned ao = ao_subdevice(dev);
    print_flags(dev, ai, "of AI");
    lsampl_t value = 0;
    CALL("comedi_data_read AO 0", comedi_data_read(dev, ao, 0, 0, AREF_GROUND, &value));
    std::printf("AO 0 reads back %u\n", value);
    unsigned chanlist[1];
    if (start_command(dev, ai, 1000, 0, chanlist)) CALL("comedi_cancel", comedi_cancel(dev, ai));
    comedi_close(dev);
    return 0;
}

// ---- open ----------------------------------------------------------------------------------

int open_path(const char *path) {
    errno = 0;
    comedi_t *dev = comedi_open(path);
    int saved = errno;
    print_result(dev ? "comedi_open (a handle)" : "comedi_open (null)", dev ? 1 : 0, saved);
    std::fflush(stdout);
    errno = saved;
    std::fprintf(stderr, "comedi_perror prints: ");
    comedi_perror(path);
    if (dev) comedi_close(dev);
    return dev ? 0 : 1;
}

int usage() {
    std::fprintf(stderr, "usage: comedi_probe info|cmdtest|stream|overrun|cancel|hold|state|open "
                         "... (see the top of comedi_probe.cpp)\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) return usage();
    std::string mode = argv[1];
    if (mode == "info") return info(argc > 2 ? argv[2] : device_path());
    if (mode == "cmdtest") return cmdtest(argc - 2, argv + 2);
    if (mode == "stream" && argc >= 4)
        return stream(std::strtod(argv[2], nullptr), std::strtod(argv[3], nullptr),
                      argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 0);
    if (mode == "overrun" && argc >= 4) return overrun(std::strtod(argv[2], nullptr), argv[3]);
    if (mode == "drain" && argc >= 4)
        return drain(std::strtod(argv[2], nullptr), argv[3],
                     argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 0);
    if (mode == "cancel") return cancel();
    if (mode == "hold" && argc >= 4)
        return hold(std::strtod(argv[2], nullptr),
                    static_cast<lsampl_t>(std::strtoul(argv[3], nullptr, 10)),
                    argc > 4 && std::string(argv[4]) == "exit");
    if (mode == "state") return state();
    if (mode == "open" && argc >= 3) return open_path(argv[2]);
    return usage();
}
