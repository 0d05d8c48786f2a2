// Number text: integer and real conversions that read alike on every platform. The C library's
// atoi and atof differ between platforms (hexadecimal, "inf", "nan", locale), so the tool reads
// numbers itself, with std::from_chars doing the correctly rounded conversion.
#include "aoplay.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

const char *skip_space(const char *p, const char *limit) {
    while (p < limit && is_space(*p))
        ++p;
    return p;
}

// The extent of a real number's text, found before converting it.
struct RealText {
    const char *begin = nullptr;    // the sign or first digit
    const char *end = nullptr;      // one past the last character taken
    const char *exponent = nullptr; // the exponent letter, or nullptr
    bool negative = false;
    bool plus_sign = false;
    std::int64_t magnitude = 0; // decimal exponent of the leading non-zero digit, saturated
    bool nonzero = false;
};

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
    constexpr std::int64_t cap = std::int64_t{1} << 40;
    std::int64_t sum = a + b; // both stay far below the int64 range
    return sum > cap ? cap : (sum < -cap ? -cap : sum);
}

// Scans an optional sign, digits with an optional '.' and fraction, and an optional exponent
// (e, E, d or D, its own optional sign, at least one digit). Returns false when no digit leads.
bool scan_real(const char *p, const char *limit, RealText &t) {
    t.begin = p;
    if (p < limit && (*p == '+' || *p == '-')) {
        t.negative = *p == '-';
        t.plus_sign = *p == '+';
        ++p;
    }
    std::int64_t point_shift = 0; // digits before the point, less leading zeros
    bool any_digit = false;
    for (; p < limit && is_digit(*p); ++p) {
        any_digit = true;
        if (*p != '0') t.nonzero = true;
        if (t.nonzero && point_shift < (std::int64_t{1} << 40)) ++point_shift;
    }
    if (p < limit && *p == '.') {
        ++p;
        for (; p < limit && is_digit(*p); ++p) {
            any_digit = true;
            if (!t.nonzero) {
                if (*p != '0')
                    t.nonzero = true;
                else if (point_shift > -(std::int64_t{1} << 40))
                    --point_shift;
            }
        }
    }
    if (!any_digit) return false;
    t.end = p;
    if (p < limit && (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D')) {
        const char *q = p + 1;
        bool exp_negative = false;
        if (q < limit && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
        if (q < limit && is_digit(*q)) {
            std::int64_t exp = 0;
            for (; q < limit && is_digit(*q); ++q)
                if (exp < (std::int64_t{1} << 40)) exp = exp * 10 + (*q - '0');
            t.exponent = p;
            t.end = q;
            point_shift = saturating_add(point_shift, exp_negative ? -exp : exp);
        }
    }
    t.magnitude = point_shift;
    return true;
}

double convert_real(const RealText &t) {
    const char *first = t.plus_sign ? t.begin + 1 : t.begin;
    double value = 0;
    std::from_chars_result result{};
    if (t.exponent != nullptr && (*t.exponent == 'd' || *t.exponent == 'D')) {
        // from_chars knows only e and E as exponent letters.
        std::string copy(first, t.end);
        copy[static_cast<std::size_t>(t.exponent - first)] = 'e';
        result = std::from_chars(copy.data(), copy.data() + copy.size(), value);
    } else {
        result = std::from_chars(first, t.end, value);
    }
    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: infinity or zero, as the C conversion gives.
        bool overflow = t.nonzero && t.magnitude > 0;
        value = overflow ? std::numeric_limits<double>::infinity() : 0.0;
        if (t.negative) value = -value;
    }
    return value;
}

} // namespace

int text_to_int(const char *text) {
    const char *p = text;
    while (is_space(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::uint32_t value = 0; // wraps modulo 2^32, as the 32-bit conversion does
    for (; is_digit(*p); ++p)
        value = value * 10u + static_cast<std::uint32_t>(*p - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

double text_to_real(const char *text, const char *limit, const char **end) {
    const char *p = skip_space(text, limit);
    RealText t;
    if (!scan_real(p, limit, t)) {
        if (end != nullptr) *end = text;
        return 0.0;
    }
    if (end != nullptr) *end = t.end;
    return convert_real(t);
}

double text_to_real(const char *text, const char **end) {
    return text_to_real(text, text + std::strlen(text), end);
}

float narrow_to_float(double value) {
    // Doubles from FLT_MAX up to half a float step above it still round to FLT_MAX; from there
    // on the nearest float is infinity. Said explicitly: the cast itself is only defined in range.
    constexpr double round_up_limit = static_cast<double>(FLT_MAX) + 0x1p103;
    double magnitude = std::fabs(value);
    if (magnitude > static_cast<double>(FLT_MAX)) {
        float edge = magnitude >= round_up_limit ? std::numeric_limits<float>::infinity() : FLT_MAX;
        return std::signbit(value) ? -edge : edge;
    }
    return static_cast<float>(value);
}
