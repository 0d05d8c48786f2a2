// ao_readback: samples analog-output channel 0 of a Comedi device through a handle of its own, so
// that a test can see what another process drives there. Writes one "seconds,code" line per
// sample (seconds of CLOCK_MONOTONIC, the clock every process on the machine shares) until
// SIGTERM or SIGINT, or for a given time.
//
//   ao_readback [-d DEVICE] [-i MICROSECONDS] [-t SECONDS] [-o FILE] [-w CODE]
//
// DEVICE is /dev/comedi0, the interval 1000 us, the time unlimited, the output standard output.
// -w writes CODE to the channel first, so that a test knows the level before a run.
// "ao_readback: sampling ..." on standard error says it has opened the device and started.
// Status 0 after a clean end; 1 when the device cannot be opened or read, with the reason.
#include "vm_tool.h"

#include <comedilib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <time.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

using namespace vmtool;

namespace {

struct Options {
    std::string device = "/dev/comedi0";
    long interval_us = 1000;
    double seconds = 0; // 0: until a signal
    std::string output;
    long write_code = -1; // -1: write nothing
};

bool parse(int argc, char **argv, Options &options) {
    int option;
    while ((option = getopt(argc, argv, "d:i:t:o:w:")) != -1) {
        switch (option) {
        case 'd':
            options.device = optarg;
            break;
        case 'i':
            options.interval_us = std::strtol(optarg, nullptr, 10);
            break;
        case 't':
            options.seconds = std::strtod(optarg, nullptr);
            break;
        case 'o':
            options.output = optarg;
            break;
        case 'w':
            options.write_code = std::strtol(optarg, nullptr, 10);
            break;
        default:
            return false;
        }
    }
    return optind == argc && options.interval_us > 0 && options.seconds >= 0;
}

double seconds_of(const timespec &ts) {
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void advance(timespec &ts, long interval_us) {
    ts.tv_nsec += interval_us * 1000;
    ts.tv_sec += ts.tv_nsec / 1000000000;
    ts.tv_nsec %= 1000000000;
}

// Reads AO channel 0 at every tick of an absolute schedule, so that slow writes do not add up.
int sample(comedi_t *dev, unsigned subdevice, const Options &options, FILE *out) {
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    double end = options.seconds > 0 ? seconds_of(next) + options.seconds : 0;
    while (!stop_requested) {
        lsampl_t code = 0;
        if (comedi_data_read(dev, subdevice, 0, 0, AREF_GROUND, &code) < 0) {
            std::fprintf(stderr, "ao_readback: cannot read %s AO channel 0: %s\n",
                         options.device.c_str(), comedi_strerror(comedi_errno()));
            return 1;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::fprintf(out, "%.6f,%u\n", seconds_of(now), code);
        if (end > 0 && seconds_of(now) >= end) break;
        advance(next, options.interval_us);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR &&
               !stop_requested) {
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: ao_readback [-d DEVICE] [-i MICROSECONDS] [-t SECONDS] "
                             "[-o FILE] [-w CODE]\n");
        return 2;
    }
    catch_stop_signals();

    comedi_t *dev = comedi_open(options.device.c_str());
    if (!dev) {
        std::fprintf(stderr, "ao_readback: cannot open %s: %s\n", options.device.c_str(),
                     comedi_strerror(comedi_errno()));
        return 1;
    }
    int subdevice = comedi_find_subdevice_by_type(dev, COMEDI_SUBD_AO, 0);
    if (subdevice < 0) {
        std::fprintf(stderr, "ao_readback: %s has no analog-output subdevice\n",
                     options.device.c_str());
        return 1;
    }
    if (options.write_code >= 0 &&
        comedi_data_write(dev, static_cast<unsigned>(subdevice), 0, 0, AREF_GROUND,
                          static_cast<lsampl_t>(options.write_code)) < 0) {
        std::fprintf(stderr, "ao_readback: cannot write %s AO channel 0: %s\n",
                     options.device.c_str(), comedi_strerror(comedi_errno()));
        return 1;
    }
    FILE *out = options.output.empty() ? stdout : std::fopen(options.output.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "ao_readback: cannot write %s: %s\n", options.output.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "ao_readback: sampling %s subdevice %d channel 0 every %ld us\n",
                 options.device.c_str(), subdevice, options.interval_us);
    int status = sample(dev, static_cast<unsigned>(subdevice), options, out);
    if (std::fflush(out) != 0 || (out != stdout && std::fclose(out) != 0)) {
        std::fprintf(stderr, "ao_readback: cannot write %s: %s\n",
                     options.output.empty() ? "standard output" : options.output.c_str(),
                     std::strerror(errno));
        status = 1;
    }
    comedi_close(dev);
    return status;
}
