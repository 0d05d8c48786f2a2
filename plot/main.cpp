// aoplay-plot: draws a board trace of an aoplay run with gnuplot: the output voltage over time
// as the board drove it, the samples the run missed, and the scans' summaries as the title.
#include "failure.h"
#include "gnuplot.h"
#include "missed.h"
#include "output.h"
#include "reduce.h"
#include "script.h"
#include "trace.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <sys/stat.h>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

const char usage[] =
    "usage: aoplay-plot [--script FILE] TRACE.csv [OUT.png|OUT.svg]\n"
    "Draws the output voltage of a board trace over time, marks the samples the run missed,\n"
    "and titles the picture with the scans' summaries. The picture goes to OUT, PNG or SVG by\n"
    "its name, or beside the trace with .png in place of .csv.\n"
    "  --script FILE  also write the gnuplot input to FILE (gnuplot FILE > picture)\n"
    "  --help         show this text\n"
    "  --version      show the version\n";

struct Request {
    std::string trace;
    std::string picture;
    std::string script; // empty: none kept
};

bool ends_with(const std::string &text, const std::string &end) {
    if (text.size() < end.size()) return false;
    return std::equal(end.rbegin(), end.rend(), text.rbegin(), [](char a, char b) {
        return a == std::tolower(static_cast<unsigned char>(b));
    });
}

std::string default_picture(const std::string &trace) {
    const std::string base = ends_with(trace, ".csv") ? trace.substr(0, trace.size() - 4) : trace;
    return base + ".png";
}

ImageFormat format_of(const std::string &picture) {
    if (ends_with(picture, ".png")) return ImageFormat::png;
    if (ends_with(picture, ".svg")) return ImageFormat::svg;
    throw Failure(picture + ": the picture's name must end in .png or .svg");
}

// Ends the program for --help and --version, and on a wrong command line.
Request parse_arguments(int argc, char **argv) {
    Request request;
    std::vector<std::string> names;
    bool options_end = false;
    for (int at = 1; at < argc; ++at) {
        const std::string arg = argv[at];
        if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
            names.push_back(arg);
        } else if (arg == "--") {
            options_end = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::printf("aoplay-plot %s\n", version_stamp);
            std::exit(0);
        } else if (arg == "--script" && at + 1 < argc) {
            request.script = argv[++at];
        } else {
            throw Failure("unknown option or missing value: " + arg + "\n" + usage);
        }
    }
    if (names.empty() || names.size() > 2) throw Failure(std::string("wrong arguments\n") + usage);
    request.trace = names[0];
    request.picture = names.size() == 2 ? names[1] : default_picture(names[0]);
    return request;
}

bool same_file(const std::string &a, const std::string &b) {
    struct stat one {
    }, other{};
    return stat(a.c_str(), &one) == 0 && stat(b.c_str(), &other) == 0 &&
           one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// The rows and the summaries should tell the same story; when they do not, the picture shows
// what the rows say, and the user hears of it.
void check_missed(const Request &request, const Trace &trace, const Missed &missed) {
    for (std::size_t scan = 0; scan < trace.summaries.size(); ++scan)
        if (missed.per_scan[scan] != trace.summaries[scan].missed)
            warn(request.trace + ": scan " + std::to_string(scan + 1) + ": the rows show " +
                 std::to_string(missed.per_scan[scan]) + " missed samples, its summary " +
                 std::to_string(trace.summaries[scan].missed));
}

PlotData plot_data(const Request &request, const Trace &trace, const Missed &missed,
                   const Picture &picture) {
    PlotData data;
    data.title = title_lines(request.trace, trace);
    // One column per pixel of the whole width: more than the plot area has.
    data.axis = time_axis(trace, missed, static_cast<std::size_t>(picture.width));
    data.steps = reduce_steps(trace.rows, data.axis);
    data.missed = missed_columns(missed.spans, data.axis);
    auto [lowest, highest] =
        std::minmax_element(trace.rows.begin(), trace.rows.end(),
                            [](const TraceRow &a, const TraceRow &b) { return a.volts < b.volts; });
    data.lowest_volts = lowest->volts;
    data.highest_volts = highest->volts;
    return data;
}

void plot(const Request &request) {
    Picture picture;
    picture.format = format_of(request.picture);
    if (same_file(request.trace, request.picture))
        throw Failure(request.picture + ": this is the trace itself");
    const Trace trace = read_trace(request.trace);
    const Missed missed = find_missed(trace);
    check_missed(request, trace, missed);
    const std::string script = gnuplot_script(picture, plot_data(request, trace, missed, picture));
    if (!request.script.empty()) write_whole_file(request.script, script);
    const std::string gnuplot = find_gnuplot();
    OutputFile out(request.picture);
    run_gnuplot(gnuplot, script, out.fd());
    out.commit();
}

} // namespace

int main(int argc, char **argv) {
    // A gnuplot that stops reading is a failure its exit status reports, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        plot(parse_arguments(argc, argv));
    } catch (const Failure &failure) {
        std::fprintf(stderr, "aoplay-plot: %s\n", failure.what());
        return 1;
    } catch (const std::bad_alloc &) {
        std::fputs("aoplay-plot: out of memory\n", stderr);
        return 1;
    }
    return 0;
}
