// Reads standard input as the tool does (skip count and column from the arguments) and prints
// the number of values, the time the reader took and the peak resident memory.
#include "aoplay.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

int main(int argc, char **argv) {
    skip_lines = argc > 1 ? std::atoi(argv[1]) : 0;
    data_column = argc > 2 ? std::atoi(argv[2]) : 1;
    auto start = std::chrono::steady_clock::now();
    read_waveform();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    double sum = 0;
    for (int i = 0; i < value_count; ++i)
        sum += values[i];
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("values=%d sum=%.3f peak_kib=%ld table_kib=%ld seconds=%.6f\n", value_count, sum,
                usage.ru_maxrss, static_cast<long>(value_count) * 4 / 1024, took.count());
    std::free(values);
}
