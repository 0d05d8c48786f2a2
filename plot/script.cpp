// Writing the gnuplot input. The picture has two panels on one time axis: the output voltage as
// steps (each write holds until the next), and below it a strip with a red mark in every column
// where samples were missed, as tall as the number missed (log scale).
#include "script.h"

#include <algorithm>
#include <charconv>
#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

constexpr std::size_t summaries_shown = 4;

// Margins in pixels, the same for both panels so that their time axes line up.
constexpr double left_px = 90;
constexpr double right_px = 30;
constexpr double title_line_px = 17;
constexpr double strip_px = 110;
constexpr double bottom_px = 55;
constexpr double gap_px = 12;

// A gnuplot string that is taken as it stands: in single quotes nothing is expanded (a trace
// named `...` must not run a command), and a quote is written twice.
std::string quoted(const std::string &text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "''";
        else
            out += (static_cast<unsigned char>(c) < ' ' || c == '\x7f') ? '?' : c;
    }
    return out + "'";
}

// Lines joined into one gnuplot string expression.
std::string quoted_lines(const std::vector<std::string> &lines) {
    std::string out;
    for (const std::string &line : lines)
        out += (out.empty() ? "" : " . \"\\n\" . ") + quoted(line);
    return out.empty() ? "''" : out;
}

// The shortest text that reads back as the same double.
void append_number(std::string &out, double value) {
    char text[32];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    out.append(text, error == std::errc() ? end : text);
}

void append_block(std::string &out, const char *name, const std::vector<Point> &points) {
    out += std::string("$") + name + " << EOD\n";
    for (const Point &point : points) {
        append_number(out, point.seconds);
        out += ' ';
        append_number(out, point.volts);
        out += '\n';
    }
    out += "EOD\n";
}

std::string terminal(const Picture &picture) {
    const std::string size = std::to_string(picture.width) + "," + std::to_string(picture.height);
    const char *name = picture.format == ImageFormat::png ? "pngcairo" : "svg";
    return std::string("set terminal ") + name + " size " + size +
           " noenhanced font 'sans,11' background 'white'\n";
}

std::string at_screen_x(double px, double width) {
    std::string out = "at screen ";
    append_number(out, px / width);
    return out;
}

// The data stays in seconds; the axis counts in the unit that gives it readable numbers.
std::string time_unit(double span) {
    if (span >= 1) return "time_unit = 's'\ntime_scale = 1\n";
    if (span >= 1e-3) return "time_unit = 'ms'\ntime_scale = 1e3\n";
    return "time_unit = 'µs'\ntime_scale = 1e6\n";
}

std::string voltage_panel(const PlotData &data, double top, double bottom) {
    // Room above and below, so that a level at the limits is not hidden by the frame.
    const double span = data.highest_volts - data.lowest_volts;
    const double pad = span > 0 ? span * 0.06 : 1.0;
    std::string out = "set tmargin at screen ";
    append_number(out, top);
    out += "\nset bmargin at screen ";
    append_number(out, bottom);
    out += "\nset yrange [";
    append_number(out, data.lowest_volts - pad);
    out += ":";
    append_number(out, data.highest_volts + pad);
    out += "]\nset format x ''\nset ylabel 'output (V)'\n"
           "plot $steps using ($1 * time_scale):2 with steps linewidth 1.5 "
           "linecolor rgb '#1f5fa8' notitle\n";
    return out;
}

std::string missed_panel(const PlotData &data, double top, double bottom) {
    std::string out = "set tmargin at screen ";
    append_number(out, top);
    out += "\nset bmargin at screen ";
    append_number(out, bottom);
    out += "\nset format x '%g'\nset xlabel 'time (' . time_unit . ')'\n"
           "set ylabel 'missed' . \"\\n\" . 'samples' offset -1, 0\n";
    if (data.missed.empty()) {
        out += "set yrange [0:1]\nunset ytics\n"
               "set label 'no samples missed' at graph 0.5, graph 0.5 center\n"
               "plot -1 notitle\n";
        return out;
    }
    std::int64_t most = 1;
    for (const MissedColumn &column : data.missed)
        most = std::max(most, column.samples);
    out += "set logscale y\nset format y '%.0s%c'\nset yrange [0.5:";
    append_number(out, static_cast<double>(most) * 2.5);
    out += "]\nset ytics nomirror\n$missed << EOD\n";
    for (const MissedColumn &column : data.missed) {
        append_number(out, column.seconds);
        out += ' ' + std::to_string(column.samples) + '\n';
    }
    out += "EOD\n"
           "plot $missed using ($1 * time_scale):2 with impulses linewidth 1.5 "
           "linecolor rgb '#d62728' notitle\n";
    return out;
}

} // namespace

std::vector<std::string> title_lines(const std::string &trace_name, const Trace &trace) {
    std::vector<std::string> lines = {trace_name};
    const auto &summaries = trace.summaries;
    if (summaries.empty()) {
        lines.push_back("no scan summary in the trace");
        return lines;
    }
    if (summaries.size() == 1) {
        lines.push_back(summaries.front().text);
        return lines;
    }
    const std::size_t shown =
        summaries.size() <= summaries_shown ? summaries.size() : summaries_shown - 1;
    for (std::size_t scan = 0; scan < shown; ++scan)
        lines.push_back("scan " + std::to_string(scan + 1) + ": " + summaries[scan].text);
    if (shown == summaries.size()) return lines;
    ScanSummary all;
    for (const ScanSummary &summary : summaries) {
        all.samples = add_counts(all.samples, summary.samples);
        all.outputs = add_counts(all.outputs, summary.outputs);
        all.missed = add_counts(all.missed, summary.missed);
        all.polls = add_counts(all.polls, summary.polls);
    }
    lines.push_back(
        "... and " + std::to_string(summaries.size() - shown) + " more; all " +
        std::to_string(summaries.size()) + " scans: samples=" + std::to_string(all.samples) +
        " outputs=" + std::to_string(all.outputs) + " missed=" + std::to_string(all.missed) +
        " polls=" + std::to_string(all.polls));
    return lines;
}

std::string gnuplot_script(const Picture &picture, const PlotData &data) {
    const auto width = static_cast<double>(picture.width);
    const auto height = static_cast<double>(picture.height);
    const double title_px = title_line_px * static_cast<double>(data.title.size() + 1) + 10;
    const double strip_top = (bottom_px + strip_px) / height;

    std::string out = "# aoplay-plot: the picture goes to standard output\n";
    out += terminal(picture);
    out += "set encoding utf8\n";
    append_block(out, "steps", data.steps);
    out += "set multiplot title " + quoted_lines(data.title) + "\n";
    out += "set lmargin " + at_screen_x(left_px, width) + "\n";
    out += "set rmargin " + at_screen_x(width - right_px, width) + "\n";
    out += time_unit(data.axis.end - data.axis.start);
    out += "set xrange [";
    append_number(out, data.axis.start);
    out += " * time_scale:";
    append_number(out, data.axis.end);
    out += " * time_scale]\nset grid xtics ytics back linetype 1 linewidth 0.8 linecolor rgb "
           "'#dcdcdc'\nset "
           "mxtics\n";
    out += voltage_panel(data, 1 - title_px / height, strip_top + gap_px / height);
    out += missed_panel(data, strip_top, bottom_px / height);
    out += "unset multiplot\n";
    return out;
}
