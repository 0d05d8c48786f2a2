// ao_watch: watches, through a handle of its own, the analog-output command another process runs
// on a Comedi device: that it runs the whole time, and that what the writer has queued in the AO
// buffer is a table's codes in order, output sample n being the code of table index n mod T.
//
//   ao_watch -c CODES [-d DEVICE] [-t SECONDS] [-w SECONDS] [-l MAXLAPS] [-b SLOTS] [-u]
//
// CODES has one code per line, line k the code of table index k; T is its number of lines.
// DEVICE is /dev/comedi0. The watch starts when the first AO subdevice shows SDF_RUNNING (at
// most -w SECONDS, default 10, after the start) and lasts until SIGTERM or SIGINT, or -t SECONDS.
// Every 10 ms it checks that the command still runs; a second in and every second after, and
// once more at the end, it checks a snapshot of the buffer. -l bounds the laps of the buffer the
// writer may have gone round (default 64), -b the torn band a snapshot may show (default 4096
// slots). -u waits for the command to end instead (an underrun test): it reports when and exits.
//
// One line on standard output sums the watch up. Status 0 when the command ran the whole watch
// (with -u: ended in it) and every snapshot was in table order, 1 otherwise, 2 when the options,
// the codes or the device cannot be used (the reason on standard error).
#include "vm_tool.h"

#include <comedilib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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
    double seconds = 0; // 0: until a signal
    double wait_seconds = 10;
    long max_laps = 64;
    // The copy of a snapshot takes about 1 ms for the 2 MiB ring in the VM (6 ms at worst). The
    // writer moves meanwhile only if it preempts the copy (the VM has one CPU), and then it tops
    // up what the AO took since its last turn: a time slice and a timer tick, 10 to 20 ms, so
    // 1000 to 2000 slots at 100 kHz. 4096 allows twice that; a faster rate needs a wider band.
    long torn_slots = 4096;
    bool until_end = false;
};

// The writer's ring: sample n sits at slot n mod S, the command having started it at slot 0.
struct Ring {
    const unsigned char *map = nullptr;
    std::size_t bytes = 0;
    std::size_t sample_bytes = 2;
    std::size_t slots = 0;
};

// Where a snapshot says the writer stands: it has written lap * S + seam samples.
struct Fit {
    bool ok = false;
    std::size_t lap = 0;
    std::size_t seam = 0;
    std::size_t torn = 0;       // slots just before the seam that may hold either lap
    std::size_t explained = 0;  // slots in order, to tell the closest lap when none fits
    std::size_t bad_slot = 0;   // when !ok, the first slot out of order...
    bool band_too_wide = false; // ...or the torn band's start, when only its width is wrong
};

struct Snapshot {
    std::vector<unsigned> slots;
    double at = 0; // seconds into the watch
    double copy_seconds = 0;
};

void sleep_until(double t) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t);
    ts.tv_nsec = static_cast<long>((t - static_cast<double>(ts.tv_sec)) * 1e9);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

bool parse(int argc, char **argv, Options &options) {
    int option;
    while ((option = getopt(argc, argv, "c:d:t:w:l:b:u")) != -1) {
        switch (option) {
        case 'c':
            options.codes_file = optarg;
            break;
        case 'd':
            options.device = optarg;
            break;
        case 't':
            options.seconds = std::strtod(optarg, nullptr);
            break;
        case 'w':
            options.wait_seconds = std::strtod(optarg, nullptr);
            break;
        case 'l':
            options.max_laps = std::strtol(optarg, nullptr, 10);
            break;
        case 'b':
            options.torn_slots = std::strtol(optarg, nullptr, 10);
            break;
        case 'u':
            options.until_end = true;
            break;
        default:
            return false;
        }
    }
    return optind == argc && !options.codes_file.empty() && options.seconds >= 0 &&
           options.wait_seconds >= 0 && options.max_laps >= 0 && options.torn_slots >= 0;
}

// ---- the check of one snapshot ----------------------------------------------------------

// The code slot p holds in lap `lap` of the writer: that of sample lap * S + p.
struct Lap {
    const std::vector<unsigned> &codes;
    std::size_t shift; // (lap * S) mod T
    Lap(const std::vector<unsigned> &table, std::size_t lap, std::size_t slots)
        : codes(table), shift(lap * (slots % table.size()) % table.size()) {}
    unsigned at(std::size_t slot) const { return codes[(slot + shift) % codes.size()]; }
};

// Slots below the seam hold lap L's codes, those from it on lap L - 1's (in lap 0: whatever the
// buffer held before, not checked). The writer may move while the snapshot is copied: one band
// just before the seam may then mix the two laps, and is allowed up to `torn` slots.
Fit fit_lap(const std::vector<unsigned> &snapshot, const std::vector<unsigned> &codes,
            std::size_t lap, std::size_t torn) {
    const std::size_t slots = snapshot.size();
    Fit fit;
    fit.lap = lap;
    Lap now(codes, lap, slots);
    std::size_t new_end = 0; // slots [0, new_end) hold this lap's codes
    while (new_end < slots && snapshot[new_end] == now.at(new_end))
        ++new_end;
    if (lap == 0) {
        fit.ok = new_end > 0;
        fit.seam = fit.explained = new_end;
        return fit;
    }
    Lap before(codes, lap - 1, slots);
    std::size_t old_begin = slots; // slots [old_begin, S) hold the lap before's codes
    while (old_begin > 0 && snapshot[old_begin - 1] == before.at(old_begin - 1))
        --old_begin;
    if (new_end >= old_begin) {
        fit.ok = true;
        fit.seam = new_end;
        fit.explained = slots;
        return fit;
    }
    fit.explained = new_end + (slots - old_begin);
    for (std::size_t p = new_end; p < old_begin; ++p) {
        if (snapshot[p] != now.at(p) && snapshot[p] != before.at(p)) {
            fit.bad_slot = p;
            return fit;
        }
    }
    fit.seam = old_begin;
    fit.torn = old_begin - new_end;
    fit.ok = fit.torn <= torn;
    fit.band_too_wide = !fit.ok;
    fit.bad_slot = new_end;
    return fit;
}

// The lowest lap that fits; when none does, the one that explains the most slots.
Fit fit_snapshot(const std::vector<unsigned> &snapshot, const std::vector<unsigned> &codes,
                 const Options &options) {
    Fit closest;
    for (std::size_t lap = 0; lap <= static_cast<std::size_t>(options.max_laps); ++lap) {
        Fit fit = fit_lap(snapshot, codes, lap, static_cast<std::size_t>(options.torn_slots));
        if (fit.ok) return fit;
        if (lap == 0 || fit.explained > closest.explained) closest = fit;
    }
    return closest;
}

std::string describe_mismatch(const Snapshot &snapshot, const std::vector<unsigned> &codes,
                              const Fit &fit, int number, const Options &options) {
    char text[320];
    const std::size_t slots = snapshot.slots.size();
    int n = std::snprintf(text, sizeof text,
                          "snapshot %d at %.2f s out of table order (no lap up to %ld fits); "
                          "lap %zu comes closest",
                          number, snapshot.at, options.max_laps, fit.lap);
    std::size_t rest = sizeof text - static_cast<std::size_t>(n);
    const unsigned found = snapshot.slots[fit.bad_slot];
    Lap now(codes, fit.lap, slots);
    if (fit.band_too_wide)
        std::snprintf(text + n, rest, ", with a torn band of %zu slots (%zu to %zu), more than %ld",
                      fit.torn, fit.bad_slot, fit.seam - 1, options.torn_slots);
    else if (fit.lap == 0)
        std::snprintf(text + n, rest, ": slot %zu holds %u, expected %u", fit.bad_slot, found,
                      now.at(fit.bad_slot));
    else
        std::snprintf(text + n, rest, ": slot %zu holds %u, expected %u or %u (lap %zu)",
                      fit.bad_slot, found, now.at(fit.bad_slot),
                      Lap(codes, fit.lap - 1, slots).at(fit.bad_slot), fit.lap - 1);
    return text;
}

// ---- the device -------------------------------------------------------------------------

// Copies the ring first, all at once, so that the writer moves as little as it can meanwhile.
Snapshot take_snapshot(const Ring &ring, std::vector<unsigned char> &copy, double started) {
    double before = now_s();
    std::memcpy(copy.data(), ring.map, ring.bytes);
    Snapshot snapshot;
    snapshot.at = now_s() - started;
    snapshot.copy_seconds = snapshot.at + started - before;
    snapshot.slots.resize(ring.slots);
    for (std::size_t p = 0; p < ring.slots; ++p) {
        if (ring.sample_bytes == 2) {
            sampl_t sample;
            std::memcpy(&sample, copy.data() + p * 2, 2);
            snapshot.slots[p] = sample;
        } else {
            lsampl_t sample;
            std::memcpy(&sample, copy.data() + p * 4, 4);
            snapshot.slots[p] = sample;
        }
    }
    return snapshot;
}

// With VM_WRITE the kernel maps the write subdevice's buffer, not the read one's: that is all
// PROT_WRITE is for; nothing is written through the map.
bool map_ring(comedi_t *dev, unsigned subdevice, const Options &options, Ring &ring) {
    int bytes = comedi_get_buffer_size(dev, subdevice);
    if (bytes <= 0) {
        std::fprintf(stderr, "ao_watch: cannot get the AO buffer's size on %s: %s\n",
                     options.device.c_str(), comedi_strerror(comedi_errno()));
        return false;
    }
    ring.bytes = static_cast<std::size_t>(bytes);
    ring.sample_bytes = comedi_get_subdevice_flags(dev, subdevice) & SDF_LSAMPL ? 4 : 2;
    ring.slots = ring.bytes / ring.sample_bytes;
    void *map =
        mmap(nullptr, ring.bytes, PROT_READ | PROT_WRITE, MAP_SHARED, comedi_fileno(dev), 0);
    if (map == MAP_FAILED) {
        std::fprintf(stderr, "ao_watch: cannot map the AO buffer of %s: %s\n",
                     options.device.c_str(), std::strerror(errno));
        return false;
    }
    ring.map = static_cast<const unsigned char *>(map);
    // A band as wide as much of the ring would let a wrong lap pass for a torn snapshot.
    if (static_cast<std::size_t>(options.torn_slots) * 4 > ring.slots) {
        std::fprintf(stderr, "ao_watch: a torn band of %ld slots (-b) is too wide for %zu slots\n",
                     options.torn_slots, ring.slots);
        return false;
    }
    return true;
}

// The first AO subdevice, which must be the device's write subdevice for the map to show it.
int find_ao(comedi_t *dev, const Options &options) {
    int subdevice = comedi_find_subdevice_by_type(dev, COMEDI_SUBD_AO, 0);
    if (subdevice < 0) {
        std::fprintf(stderr, "ao_watch: %s has no analog-output subdevice\n",
                     options.device.c_str());
        return -1;
    }
    int write_subdevice = comedi_get_write_subdevice(dev);
    if (write_subdevice != subdevice) {
        std::fprintf(stderr, "ao_watch: %s's write subdevice is %d, not the AO subdevice %d\n",
                     options.device.c_str(), write_subdevice, subdevice);
        return -1;
    }
    return subdevice;
}

// SDF_RUNNING, or -1 when the flags cannot be read (the reason said).
int running(comedi_t *dev, unsigned subdevice, const Options &options) {
    int flags = comedi_get_subdevice_flags(dev, subdevice);
    if (flags < 0) {
        std::fprintf(stderr, "ao_watch: cannot read the AO flags of %s: %s\n",
                     options.device.c_str(), comedi_strerror(comedi_errno()));
        return -1;
    }
    return (flags & SDF_RUNNING) != 0;
}

// ---- the watch --------------------------------------------------------------------------

struct Watch {
    double started = 0;
    double ended_at = -1; // seconds into the watch when SDF_RUNNING was first seen gone
    double length = 0;
    int snapshots = 0;
    Fit last;
    std::size_t widest_torn = 0;
    double longest_copy = 0;
    std::string fault; // the first snapshot out of order, or gone back
};

// Checks a snapshot against the table, and that the writer has not gone back since the last.
void check(Watch &watch, const Snapshot &snapshot, const std::vector<unsigned> &codes,
           const Options &options) {
    ++watch.snapshots;
    if (snapshot.copy_seconds > watch.longest_copy) watch.longest_copy = snapshot.copy_seconds;
    Fit fit = fit_snapshot(snapshot.slots, codes, options);
    if (!fit.ok) {
        watch.fault = describe_mismatch(snapshot, codes, fit, watch.snapshots, options);
        return;
    }
    const std::size_t slots = snapshot.slots.size();
    if (watch.snapshots > 1 &&
        fit.lap * slots + fit.seam + static_cast<std::size_t>(options.torn_slots) <
            watch.last.lap * slots + watch.last.seam) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "snapshot %d at %.2f s went back to lap %zu, seam at slot %zu, from lap "
                      "%zu, seam at slot %zu",
                      watch.snapshots, snapshot.at, fit.lap, fit.seam, watch.last.lap,
                      watch.last.seam);
        watch.fault = text;
        return;
    }
    watch.last = fit;
    if (fit.torn > watch.widest_torn) watch.widest_torn = fit.torn;
}

void watch_running(comedi_t *dev, unsigned subdevice, const Ring &ring,
                   const std::vector<unsigned> &codes, const Options &options, Watch &watch) {
    std::vector<unsigned char> copy(ring.bytes);
    double tick = watch.started;
    double next_snapshot = watch.started + 1;
    double deadline = options.seconds > 0 ? watch.started + options.seconds : 0;
    while (!stop_requested) {
        int on = running(dev, subdevice, options);
        if (on < 0) std::exit(2);
        double now = now_s();
        if (!on && watch.ended_at < 0) {
            watch.ended_at = now - watch.started;
            if (options.until_end) break;
        }
        if (deadline > 0 && now >= deadline) break;
        if (now >= next_snapshot && watch.fault.empty()) {
            check(watch, take_snapshot(ring, copy, watch.started), codes, options);
            next_snapshot += 1;
        }
        // After a long check the next look is 10 ms on, not a burst of the looks it missed.
        double after = now_s();
        tick = tick + 0.01 < after ? after + 0.01 : tick + 0.01;
        sleep_until(tick);
    }
    watch.length = now_s() - watch.started;
    if (watch.fault.empty()) check(watch, take_snapshot(ring, copy, watch.started), codes, options);
}

std::string summary(const Watch &watch, const Options &options) {
    char text[400];
    int n;
    if (options.until_end && watch.ended_at >= 0)
        n = std::snprintf(text, sizeof text, "the AO command ended at %.2f s", watch.ended_at);
    else if (options.until_end)
        n = std::snprintf(text, sizeof text, "the AO command still ran after %.2f s", watch.length);
    else if (watch.ended_at >= 0)
        n = std::snprintf(text, sizeof text, "not running from %.2f s on (watched %.2f s)",
                          watch.ended_at, watch.length);
    else
        n = std::snprintf(text, sizeof text, "running %.2f s throughout", watch.length);
    std::size_t rest = sizeof text - static_cast<std::size_t>(n);
    if (!watch.fault.empty())
        std::snprintf(text + n, rest, "; %s", watch.fault.c_str());
    else
        std::snprintf(text + n, rest,
                      "; %d snapshots, table order in all; lap %zu, seam at slot %zu; "
                      "torn band at most %zu slots",
                      watch.snapshots, watch.last.lap, watch.last.seam, watch.widest_torn);
    return text;
}

bool passed(const Watch &watch, const Options &options) {
    bool ran_as_asked = options.until_end ? watch.ended_at >= 0 : watch.ended_at < 0;
    return ran_as_asked && watch.fault.empty();
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: ao_watch -c CODES [-d DEVICE] [-t SECONDS] [-w SECONDS] "
                             "[-l MAXLAPS] [-b SLOTS] [-u]\n");
        return 2;
    }
    catch_stop_signals();

    comedi_t *dev = comedi_open(options.device.c_str());
    if (!dev) {
        std::fprintf(stderr, "ao_watch: cannot open %s: %s\n", options.device.c_str(),
                     comedi_strerror(comedi_errno()));
        return 2;
    }
    int found = find_ao(dev, options);
    if (found < 0) return 2;
    unsigned ao = static_cast<unsigned>(found);
    std::vector<unsigned> codes =
        read_codes("ao_watch", options.codes_file, comedi_get_maxdata(dev, ao, 0));
    if (codes.empty()) return 2;

    // The map waits for the command: while it is mapped the buffer cannot be resized, which the
    // writer may want to do before it starts.
    double give_up = now_s() + options.wait_seconds;
    int on;
    while ((on = running(dev, ao, options)) == 0 && !stop_requested && now_s() < give_up)
        sleep_until(now_s() + 0.01);
    if (on < 0) return 2;
    if (!on) {
        std::printf("ao_watch: the AO subdevice %u of %s did not run within %.1f s\n", ao,
                    options.device.c_str(), options.wait_seconds);
        return 1;
    }
    Watch watch;
    watch.started = now_s();
    Ring ring;
    if (!map_ring(dev, ao, options, ring)) return 2;
    std::fprintf(stderr, "ao_watch: watching AO subdevice %u of %s, a ring of %zu slots\n", ao,
                 options.device.c_str(), ring.slots);
    watch_running(dev, ao, ring, codes, options, watch);
    std::printf("ao_watch: %s\n", summary(watch, options).c_str());
    std::fprintf(stderr, "ao_watch: a snapshot's copy took %.2f ms at most\n",
                 watch.longest_copy * 1e3);
    munmap(const_cast<unsigned char *>(ring.map), ring.bytes);
    comedi_close(dev);
    return passed(watch, options) ? 0 : 1;
}
