// Command-line options: /SL:n, /XC:n, /TS:ft and /HE, cut from the joined argument text.
#include "aoplay.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

int skip_lines = 0;
int data_column = 1;
float rate = 1.0f;

void print_usage() {
    std::fputs("Valid options are:\n", stderr);
    std::fputs("      /SL:n\n", stderr);
    std::fputs("      /XC:n\n", stderr);
    std::fputs("      /TS:ft\n", stderr);
    std::fputs("      /HE\n", stderr);
    std::exit(0);
}

// Every test runs on every token, in this order; a test that matches moves p past its keyword
// and colon, so the later tests look at the value text.
static void apply_option(char *p) {
    if (match_keyword(p, "SL:", 3, ' ') == 0) {
        p += 3;
        skip_lines = text_to_int(p);
    }
    if (match_keyword(p, "TS", 2, ' ') == 0 && p[2] == ':') {
        p += 3;
        double value = text_to_real(p);
        rate = value > 0 ? narrow_to_float(value) : 1.0f;
    }
    if (match_keyword(p, "XC", 2, ' ') == 0 && p[2] == ':') {
        p += 3;
        data_column = text_to_int(p);
        if (data_column <= 0) data_column = 1;
    }
    if (match_keyword(p, "HE", 2, ' ') == 0) print_usage();
}

void parse_options() {
    for (char *token = std::strtok(arg_text, "/"); token != nullptr;
         token = std::strtok(nullptr, "/"))
        apply_option(token);
}
