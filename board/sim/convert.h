// Volts and 16-bit offset-binary codes on the board's two ranges.
#ifndef BOARDSIM_CONVERT_H
#define BOARDSIM_CONVERT_H

#include <cstdint>

namespace boardsim {

constexpr int output_range = 0; // +/-10 V, analog output channel 0
constexpr int input_range = 1;  // +/-5 V, analog input channel 0
constexpr std::uint16_t zero_volt_code = 32768;

// Nearest code, halves up, clamped to 0..65535; NaN gives the 0 V code.
std::uint16_t volts_to_code(int range, double volts);

// What an output code gives, code / 3276.8 - 10 V, in microvolts rounded half away from zero.
std::int64_t code_microvolts(std::uint16_t code);

// What input channel 0 (+/-5 V) reads when wired to output channel 0 driven with `output`.
std::uint16_t loopback_code(std::uint16_t output);

} // namespace boardsim

#endif
