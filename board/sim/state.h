// The simulated board's state and the steps shared by several calls. One board, one thread:
// the calls are not meant to be made from several threads at once.
#ifndef BOARDSIM_STATE_H
#define BOARDSIM_STATE_H

#include "config.h"
#include "convert.h"
#include "scan.h"

#include <cstdint>

namespace boardsim {

struct BoardState {
    Settings settings;
    Scan scan{};
    bool loopback = false;                 // the scan reads output channel 0
    std::uint16_t output = zero_volt_code; // what output channel 0 is driven with
    std::uint16_t input = zero_volt_code;  // what input channel 0 reads through the loopback
};

extern BoardState state;
extern bool started;

// Reads the environment and opens the trace, at the first call of any kind.
void start();
inline void start_once() {
    if (!started) start();
}

void set_output(std::uint16_t code);
// Takes the samples due by `now` (call only when now >= state.scan.due).
void poll_scan(std::int64_t now);
// Brings the scan up to now and stops it.
void stop_scan();

} // namespace boardsim

#endif
