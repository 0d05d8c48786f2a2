// aoplay: plays one column of a text table out of analog output channel 0 of board 0, paced by
// the board's own continuous input scan. Run settings, the value table and the support routines.
#ifndef AOPLAY_H
#define AOPLAY_H

#include <cstddef>

// Run settings, written by the option parser; the reader counts skip_lines down.
extern int skip_lines;  // leading input lines still to skip
extern int data_column; // 1-based column to play, never below 1
extern float rate;      // samples per second; a tiny value parsed above 0 may narrow to 0

// The value table: one single-precision value per accepted input line, in input order.
extern float *values;
extern int value_count;

// The joined arguments: 255 characters plus the terminating NUL.
constexpr int text_capacity = 256;
extern char arg_text[text_capacity];

// The phases of a run, in the order main calls them.
void join_arguments(int argc, char **argv);
void parse_options();
void read_waveform();
void run_playback();
[[noreturn]] void print_usage();

// Support routines.
[[noreturn]] void fatal_error(const char *message);
void *calloc_or_exit(std::size_t count);
void *realloc_or_exit(void *block, std::size_t count);
int match_keyword(char *token, const char *keyword, int n, char stop);

// Number text: the tool's own conversions, the same on every platform. Leading white space is
// skipped, conversion stops at the first character that does not fit, and text without a
// leading number reads as 0. An integer wraps modulo 2^32; a real takes e, E, d or D for its
// exponent and no hexadecimal, infinity or NaN forms.
int text_to_int(const char *text);
double text_to_real(const char *text, const char **end = nullptr);
// The same over the text from text up to limit (exclusive), for text without a NUL after it.
double text_to_real(const char *text, const char *limit, const char **end);
// A double narrowed to single precision, correctly rounded, infinity past the float range.
float narrow_to_float(double value);
// A table column's number: the bounded text_to_real narrowed to single precision. The byte at
// limit must be readable and end the number (a delimiter, a line end or a NUL): the common
// short decimal is read up to it without checking.
float text_to_float(const char *text, const char *limit);

#endif
