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

// The extent of a real number's text, found before converting it, with its digits gathered
// on the way for the common short number.
struct RealText {
    const char *begin = nullptr;    // the sign or first digit
    const char *end = nullptr;      // one past the last character taken
    const char *exponent = nullptr; // the exponent letter, or nullptr
    bool negative = false;
    bool plus_sign = false;
    bool nonzero = false;
    std::int64_t magnitude = 0; // decimal exponent of the leading non-zero digit, saturated
    std::uint64_t mantissa = 0; // the significant digits, while there are at most 19
    int significant = 0;        // significant digits seen, counted up to 20
    std::int64_t scale = 0;     // the value is mantissa x 10^scale, saturated
};

constexpr std::int64_t saturation = std::int64_t{1} << 40;

std::int64_t saturate(std::int64_t value) {
    return value > saturation ? saturation : (value < -saturation ? -saturation : value);
}

// Gathers a run of digits into the mantissa while it has room for them; digits past the 19th
// significant one only count.
const char *take_digits(const char *p, const char *limit, RealText &t) {
    const char *first = p;
    std::size_t room = static_cast<std::size_t>(19 - t.significant);
    const char *stop = static_cast<std::size_t>(limit - p) < room ? limit : p + room;
    std::uint64_t mantissa = t.mantissa;
    for (; p < stop; ++p) {
        unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) break;
        mantissa = mantissa * 10 + digit;
    }
    t.mantissa = mantissa;
    if (p == stop)
        while (p < limit && is_digit(*p))
            ++p;
    std::int64_t taken = t.significant + (p - first);
    t.significant = static_cast<int>(taken > 20 ? 20 : taken);
    return p;
}

const char *skip_zeros(const char *p, const char *limit) {
    while (p < limit && *p == '0')
        ++p;
    return p;
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
    const char *digits = p;
    const char *leading = p = skip_zeros(p, limit);
    p = take_digits(p, limit, t);
    std::int64_t point_shift = saturate(p - leading); // digits before the point, less leading zeros
    bool any_digit = p != digits;
    std::int64_t fraction = 0; // digits after the point
    if (p < limit && *p == '.') {
        const char *first = ++p;
        if (t.significant == 0) {
            p = skip_zeros(p, limit);
            point_shift = saturate(first - p);
        }
        p = take_digits(p, limit, t);
        fraction = saturate(p - first);
        any_digit = any_digit || p != first;
    }
    if (!any_digit) return false;
    t.nonzero = t.significant > 0;
    t.end = p;
    std::int64_t exp = 0;
    if (p < limit && (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D')) {
        const char *q = p + 1;
        bool exp_negative = false;
        if (q < limit && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
        if (q < limit && is_digit(*q)) {
            for (; q < limit && is_digit(*q); ++q)
                if (exp < saturation) exp = exp * 10 + (*q - '0');
            if (exp_negative) exp = -exp;
            t.exponent = p;
            t.end = q;
        }
    }
    t.magnitude = saturate(point_shift + exp);
    t.scale = saturate(exp - fraction);
    return true;
}

// Powers of ten that a double holds exactly.
constexpr double exact_powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A mantissa and a power of ten that are both exact doubles give the correctly rounded value
// in one multiplication or division. Needs arithmetic in double precision, not x87's extended.
bool convert_exactly(const RealText &t, double &value) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
    if (t.significant > 19 || t.mantissa > (std::uint64_t{1} << 53) || t.scale < -22 ||
        t.scale > 22)
        return false;
    double m = static_cast<double>(t.mantissa);
    value = t.scale >= 0 ? m * exact_powers[t.scale] : m / exact_powers[-t.scale];
    if (t.negative) value = -value;
    return true;
#else
    (void)t;
    (void)value;
    return false;
#endif
}

double convert_real(const RealText &t) {
    double value = 0;
    if (convert_exactly(t, value)) return value;
    const char *first = t.plus_sign ? t.begin + 1 : t.begin;
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

// Where the text is known to end in a byte that is no digit, the limit need not be checked.
template <bool bounded>
const char *take_plain_digits(const char *p, const char *limit, std::uint64_t &mantissa) {
    std::uint64_t m = mantissa;
    for (; !bounded || p < limit; ++p) {
        unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) break;
        m = m * 10 + digit; // wraps past 19 digits; such text goes the long way
    }
    mantissa = m;
    return p;
}

// After a short decimal's digits, only an exponent letter can make its text more.
bool is_exponent_letter(char c) {
    return (c | 0x20) == 'e' || (c | 0x20) == 'd';
}

// The common table entry, a short plain decimal such as -4.123456, read in one pass. Returns
// false for anything else: an exponent, more than 19 digits, no digit at all. Unbounded, the
// text must end in a byte that ends the number: then the limit need not be checked.
template <bool bounded>
bool read_short_decimal(const char *p, const char *limit, double &value, const char *&end) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
    auto more = [&] { return !bounded || p < limit; };
    bool negative = false;
    if (more() && (*p == '-' || *p == '+')) negative = *p++ == '-';
    std::uint64_t mantissa = 0;
    const char *digits = p;
    p = take_plain_digits<bounded>(p, limit, mantissa);
    std::size_t count = static_cast<std::size_t>(p - digits);
    std::size_t fraction = 0;
    if (more() && *p == '.') {
        const char *first = ++p;
        p = take_plain_digits<bounded>(p, limit, mantissa);
        fraction = static_cast<std::size_t>(p - first);
        count += fraction;
    }
    // At most 19 digits, at most 2^53: the mantissa and the power of ten are exact doubles, and
    // the quotient is correctly rounded.
    if (count - 1 >= 19 || mantissa > (std::uint64_t{1} << 53)) return false;
    if (more() && is_exponent_letter(*p)) return false;
    double magnitude = static_cast<double>(mantissa) / exact_powers[fraction];
    value = negative ? -magnitude : magnitude;
    end = p;
    return true;
#else
    (void)p, (void)limit, (void)value, (void)end;
    return false;
#endif
}

// Every other number: its extent scanned first, then converted. Kept out of line so that the
// short decimal's path stays small.
[[gnu::noinline]] double read_long_way(const char *text, const char *p, const char *limit,
                                       const char **end) {
    RealText t;
    if (!scan_real(p, limit, t)) {
        if (end != nullptr) *end = text;
        return 0.0;
    }
    if (end != nullptr) *end = t.end;
    return convert_real(t);
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
    double value = 0;
    const char *value_end = nullptr;
    if (read_short_decimal<true>(p, limit, value, value_end)) {
        if (end != nullptr) *end = value_end;
        return value;
    }
    return read_long_way(text, p, limit, end);
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

float text_to_float(const char *text, const char *limit) {
    // The common column, a short plain decimal with no white space before it, read without
    // checking the limit; its value is well inside the float range.
    double value = 0;
    const char *end = nullptr;
    if (read_short_decimal<false>(text, limit, value, end)) return static_cast<float>(value);
    return narrow_to_float(text_to_real(text, limit, nullptr));
}
