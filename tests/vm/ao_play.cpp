// ao_play: plays a table's codes in order out of analog-output channel 0 of a Comedi device with
// an AO command, the way a clocked output does, so that ao_watch can be tried on a known writer.
// Output sample n is the code of table index n mod T, written into the mapped AO buffer (slot
// n mod S) and marked written, kept topped up every 2 ms.
//
//   ao_play -c CODES -r RATE [-d DEVICE] [-t SECONDS] [-q SAMPLES] [-x SAMPLE] [-f SECONDS]
//
// CODES has one code per line, as ao_watch reads it; RATE is in samples per second; DEVICE is
// /dev/comedi0. It plays until SIGTERM or SIGINT, or for -t SECONDS, then cancels the command.
// -q keeps at most SAMPLES queued (default: the whole buffer). -x plays a code that is not in
// the table as sample SAMPLE. -f stops feeding after SECONDS and waits for the command to end
// (an underrun). Standard error says when it starts and how it ends. Status 0 when it ended as
// asked, 1 when the device failed or the command ended by itself when it was not to, 2 on usage.
#include "vm_tool.h"

#include <comedilib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

using namespace vmtool;

namespace {

struct Options {
    std::string device = "/dev/comedi0";
    std::string codes_file;
    double rate = 0;
    double seconds = 0;      // 0: until a signal
    long queue = 0;          // 0: the whole buffer
    long wrong_sample = -1;  // -1: none
    double feed_seconds = 0; // 0: feed throughout
};

bool parse(int argc, char **argv, Options &options) {
    int option;
    while ((option = getopt(argc, argv, "c:r:d:t:q:x:f:")) != -1) {
        switch (option) {
        case 'c':
            options.codes_file = optarg;
            break;
        case 'r':
            options.rate = std::strtod(optarg, nullptr);
            break;
        case 'd':
            options.device = optarg;
            break;
        case 't':
            options.seconds = std::strtod(optarg, nullptr);
            break;
        case 'q':
            options.queue = std::strtol(optarg, nullptr, 10);
            break;
        case 'x':
            options.wrong_sample = std::strtol(optarg, nullptr, 10);
            break;
        case 'f':
            options.feed_seconds = std::strtod(optarg, nullptr);
            break;
        default:
            return false;
        }
    }
    return optind == argc && !options.codes_file.empty() && options.rate > 0 &&
           options.seconds >= 0 && options.queue >= 0 && options.feed_seconds >= 0;
}

// The lowest code above 0 that the table does not hold, so that neither the table nor a
// cleared buffer can pass it off.
sampl_t code_not_in(const std::vector<sampl_t> &codes) {
    std::set<sampl_t> known(codes.begin(), codes.end());
    sampl_t code = 1;
    while (known.count(code))
        ++code;
    return code;
}

struct Player {
    comedi_t *dev = nullptr;
    unsigned subdevice = 0;
    sampl_t *ring = nullptr;
    std::size_t slots = 0;
    std::size_t queue = 0; // samples kept queued at most
    std::vector<sampl_t> codes;
    std::uint64_t written = 0; // samples
    long wrong_sample = -1;
    sampl_t wrong_code = 0;
};

bool fail(const char *what) {
    std::fprintf(stderr, "ao_play: %s: %s\n", what, comedi_strerror(comedi_errno()));
    return false;
}

// Writes the next samples into the free part of the queue and marks them written.
bool top_up(Player &player) {
    int queued_bytes = comedi_get_buffer_contents(player.dev, player.subdevice);
    if (queued_bytes < 0) return fail("comedi_get_buffer_contents");
    std::size_t queued = static_cast<std::size_t>(queued_bytes) / sizeof(sampl_t);
    std::size_t room = player.queue > queued ? player.queue - queued : 0;
    for (std::size_t i = 0; i < room; ++i, ++player.written) {
        std::uint64_t n = player.written;
        player.ring[n % player.slots] = static_cast<long>(n) == player.wrong_sample
                                            ? player.wrong_code
                                            : player.codes[n % player.codes.size()];
    }
    if (room && comedi_mark_buffer_written(player.dev, player.subdevice,
                                           static_cast<unsigned>(room * sizeof(sampl_t))) < 0)
        return fail("comedi_mark_buffer_written");
    return true;
}

bool start(Player &player, const Options &options) {
    static unsigned chanlist[1];
    chanlist[0] = CR_PACK(0, 0, AREF_GROUND);
    comedi_cmd cmd{};
    cmd.subdev = player.subdevice;
    cmd.start_src = TRIG_INT;
    cmd.scan_begin_src = TRIG_TIMER;
    cmd.scan_begin_arg = static_cast<unsigned>(1e9 / options.rate + 0.5);
    cmd.convert_src = TRIG_NOW;
    cmd.scan_end_src = TRIG_COUNT;
    cmd.scan_end_arg = 1;
    cmd.stop_src = TRIG_NONE;
    cmd.chanlist = chanlist;
    cmd.chanlist_len = 1;
    for (int pass = 0; pass < 3 && comedi_command_test(player.dev, &cmd) > 0; ++pass) {
    }
    if (comedi_command(player.dev, &cmd) < 0) return fail("comedi_command");
    int bytes = comedi_get_buffer_size(player.dev, player.subdevice);
    if (bytes <= 0) return fail("comedi_get_buffer_size");
    void *map = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ | PROT_WRITE, MAP_SHARED,
                     comedi_fileno(player.dev), 0);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "ao_play: mmap: %s\n", std::strerror(errno));
        return false;
    }
    player.ring = static_cast<sampl_t *>(map);
    player.slots = static_cast<std::size_t>(bytes) / sizeof(sampl_t);
    player.queue = options.queue > 0
                       ? std::min(player.slots, static_cast<std::size_t>(options.queue))
                       : player.slots;
    if (!top_up(player)) return false;
    if (comedi_internal_trigger(player.dev, player.subdevice, 0) < 0)
        return fail("comedi_internal_trigger");
    std::fprintf(stderr,
                 "ao_play: playing %zu codes at %.9g Hz (period %u ns) on AO subdevice %u, "
                 "a ring of %zu slots, %zu queued at most\n",
                 player.codes.size(), options.rate, cmd.scan_begin_arg, player.subdevice,
                 player.slots, player.queue);
    return true;
}

bool running(const Player &player) {
    int flags = comedi_get_subdevice_flags(player.dev, player.subdevice);
    return flags >= 0 && (flags & SDF_RUNNING);
}

// Plays until told to stop, or, after feeding stops, until the command ends by itself.
int play(Player &player, const Options &options) {
    double started = now_s();
    double end = options.seconds > 0 ? started + options.seconds : 0;
    double feed_end = options.feed_seconds > 0 ? started + options.feed_seconds : 0;
    bool feeding = true;
    while (!stop_requested && (end == 0 || now_s() < end)) {
        if (!running(player)) {
            std::fprintf(stderr, "ao_play: the AO command ended at %.3f s, %s\n", now_s() - started,
                         feeding ? "while it was fed" : "after feeding stopped");
            return feeding ? 1 : 0;
        }
        if (feeding && feed_end > 0 && now_s() >= feed_end) {
            feeding = false;
            std::fprintf(stderr, "ao_play: stopped feeding at %.3f s, %llu samples written\n",
                         now_s() - started, static_cast<unsigned long long>(player.written));
        }
        if (feeding && !top_up(player)) return 1;
        sleep_s(0.002);
    }
    comedi_cancel(player.dev, player.subdevice);
    std::fprintf(stderr, "ao_play: stopped at %.3f s, %llu samples written\n", now_s() - started,
                 static_cast<unsigned long long>(player.written));
    return feeding || options.feed_seconds == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: ao_play -c CODES -r RATE [-d DEVICE] [-t SECONDS] "
                             "[-q SAMPLES] [-x SAMPLE] [-f SECONDS]\n");
        return 2;
    }
    catch_stop_signals();

    Player player;
    const std::vector<unsigned> codes = read_codes("ao_play", options.codes_file, 65535);
    player.codes.assign(codes.begin(), codes.end());
    if (player.codes.empty()) return 2;
    player.wrong_sample = options.wrong_sample;
    player.wrong_code = code_not_in(player.codes);
    if (player.wrong_sample >= 0)
        std::fprintf(
            stderr, "ao_play: sample %ld gets code %u, not the table's %u\n", player.wrong_sample,
            player.wrong_code,
            player.codes[static_cast<std::size_t>(player.wrong_sample) % player.codes.size()]);
    player.dev = comedi_open(options.device.c_str());
    if (!player.dev) return fail(options.device.c_str()), 1;
    int subdevice = comedi_find_subdevice_by_type(player.dev, COMEDI_SUBD_AO, 0);
    if (subdevice < 0) return fail("no AO subdevice"), 1;
    player.subdevice = static_cast<unsigned>(subdevice);
    // The map shows the write subdevice's buffer.
    if (comedi_get_write_subdevice(player.dev) != subdevice &&
        comedi_set_write_subdevice(player.dev, player.subdevice) < 0)
        return fail("comedi_set_write_subdevice"), 1;
    if (!start(player, options)) return 1;
    int status = play(player, options);
    comedi_close(player.dev);
    return status;
}
