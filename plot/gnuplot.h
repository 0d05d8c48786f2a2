// Running gnuplot, which draws the picture.
#ifndef AOPLAY_PLOT_GNUPLOT_H
#define AOPLAY_PLOT_GNUPLOT_H

#include <string>

// gnuplot's path from PATH; a Failure naming the Debian package when it is not there.
std::string find_gnuplot();

// Feeds the script to gnuplot, its picture going to out_fd. A Failure when gnuplot cannot be
// started or does not end well (its own messages are on standard error by then).
void run_gnuplot(const std::string &program, const std::string &script, int out_fd);

#endif
