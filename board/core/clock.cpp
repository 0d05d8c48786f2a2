// The monotonic clock and the simulated step clock behind one "now".
#include "clock.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <time.h>
#endif

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {
namespace {

constexpr std::int64_t ns_per_second = 1000000000;

bool step = false;
std::int64_t per_second = ns_per_second;
std::int64_t origin = 0;    // when the board was first used
std::int64_t simulated = 0; // the step clock's time, from 0 at the first use

std::int64_t system_per_second() {
#if defined(_WIN32)
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
#else
    return ns_per_second;
#endif
}

} // namespace

std::int64_t monotonic_ticks() {
#if defined(_WIN32)
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * ns_per_second + now.tv_nsec;
#endif
}

void clock_start(bool step_clock) {
    step = step_clock;
    simulated = 0;
    // The step clock counts nanoseconds so its times print the same on every system.
    per_second = step ? ns_per_second : system_per_second();
    origin = step ? 0 : monotonic_ticks();
}

bool clock_is_step() {
    return step;
}

std::int64_t clock_per_second() {
    return per_second;
}

std::int64_t clock_now() {
    return step ? simulated : monotonic_ticks();
}

void clock_jump(std::int64_t ticks) {
    simulated = ticks;
}

std::int64_t clock_since_start_ns(std::int64_t ticks) {
    const std::int64_t elapsed = ticks - origin;
    if (per_second == ns_per_second) return elapsed;
    // Split so the product cannot overflow; only Windows gets here.
    const std::int64_t seconds = elapsed / per_second;
    const std::int64_t rest = elapsed % per_second;
    return seconds * ns_per_second + rest * ns_per_second / per_second;
}

} // namespace board
