// Code conversions, written so that no float outside a code's range is ever cast to an int.
#include "convert.h"

#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {
namespace {

constexpr double full_scale = 65536.0;
constexpr double top_code = 65535.0;

double half_span(int range) {
    return range == output_range ? 10.0 : 5.0;
}

} // namespace

std::uint16_t volts_to_code(int range, double volts) {
    const double half = half_span(range);
    const double code = (volts + half) * (full_scale / (2.0 * half));
    if (std::isnan(code)) return zero_volt_code;
    if (code <= 0.0) return 0;
    if (code >= top_code) return 65535;
    return static_cast<std::uint16_t>(code + 0.5);
}

// volts = (code - 32768) * 10 / 32768, so microvolts = (code - 32768) * 78125 / 256: exact
// integers.
std::int64_t code_microvolts(std::uint16_t code) {
    const std::int32_t steps = std::int32_t{code} - 32768;
    const std::int64_t size = steps < 0 ? -steps : steps;
    const std::int64_t micro = (size * 78125 + 128) >> 8;
    return steps < 0 ? -micro : micro;
}

// In volts: input = round((raw / 3276.8 - 10 + 5) * 6553.6) = 2 * raw - 32768, exactly, so the
// loopback needs no floating point at all.
std::uint16_t loopback_code(std::uint16_t output) {
    const std::int32_t code = 2 * std::int32_t{output} - 32768;
    if (code < 0) return 0;
    if (code > 65535) return 65535;
    return static_cast<std::uint16_t>(code);
}

} // namespace boardsim
