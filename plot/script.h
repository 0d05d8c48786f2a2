// The gnuplot input that draws the picture: the reduced steps and missed samples as inline
// data, the picture written to standard output. Kept with --script, it redraws the same picture
// (gnuplot SCRIPT > picture) or a restyled one.
#ifndef AOPLAY_PLOT_SCRIPT_H
#define AOPLAY_PLOT_SCRIPT_H

#include "reduce.h"
#include "trace.h"

#include <string>
#include <vector>

enum class ImageFormat { png, svg };

struct Picture {
    ImageFormat format = ImageFormat::png;
    int width = 1280;
    int height = 720;
};

struct PlotData {
    std::vector<std::string> title; // one entry per line
    TimeAxis axis;
    double lowest_volts = 0;
    double highest_volts = 0;
    std::vector<Point> steps;
    std::vector<MissedColumn> missed;
};

// The trace's name, then its scans' summaries (the first few and the totals when there are many).
std::vector<std::string> title_lines(const std::string &trace_name, const Trace &trace);

std::string gnuplot_script(const Picture &picture, const PlotData &data);

#endif
