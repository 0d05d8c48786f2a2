// The number text against the C library in the C locale, where the two are meant to agree:
// text_to_real against strtod (leaving out the forms only one of them takes: d and D exponents,
// hexadecimal, infinity and NaN), text_to_int against strtoull on the digits (wrapping modulo
// 2^32), narrow_to_float against rounding worked out on the double's bits, and text_to_float
// against the narrowed text_to_real. The bounded conversions run over heap blocks that end
// exactly at their limit (text_to_float's: one byte after it), so that reading past the limit
// is an AddressSanitizer report.
#include "aoplay.h"
#include "fuzz_support.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
bool same_bits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const char *after_space_and_sign(const char *p) {
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '+' || *p == '-') ++p;
    return p;
}

// Text where strtod and the tool are meant to read alike.
bool comparable(const char *text) {
    if (std::strpbrk(text, "dD") != nullptr) return false;
    const char *p = after_space_and_sign(text);
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(p[0])));
    if (c == 'i' || c == 'n') return false;
    return !(p[0] == '0' && (p[1] == 'x' || p[1] == 'X'));
}

// The value of the text's leading integer modulo 2^32, read in pieces of up to 18 digits.
std::int32_t reference_int(const char *text) {
    const char *p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    std::uint64_t value = 0; // modulo 2^64, of which 2^32 is a factor
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        char piece[19] = {};
        std::uint64_t scale = 1;
        for (int i = 0; i < 18 && std::isdigit(static_cast<unsigned char>(*p)); ++i, ++p) {
            piece[i] = *p;
            scale *= 10;
        }
        value = value * scale + std::strtoull(piece, nullptr, 10);
    }
    auto low = static_cast<std::uint32_t>(value);
    if (negative) low = 0u - low;
    return static_cast<std::int32_t>(low);
}

// The float nearest to a double, ties to even, worked out on the double's bits. Not by
// strtof: glibc 2.36's strtof misrounds some float subnormals, 0x1.060003p-127 for one, which
// it reads as 0x1.06p-127 from hexadecimal and from exact decimal text alike.
float reference_float(double value) {
    if (value == 0 || std::isinf(value)) return static_cast<float>(value); // exact, signed
    int exponent = 0;
    double fraction = std::frexp(std::fabs(value), &exponent);            // in [0.5, 1)
    auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53)); // value = m 2^(e-53)
    int low = exponent - 53;
    // The float's last bit: 24 bits below the top for normal floats, 2^-149 below them.
    int unit = exponent - 24 < -149 ? -149 : exponent - 24;
    int shift = unit - low; // at least 29: a double has more bits than a float
    std::uint64_t kept = 0;
    if (shift < 64) {
        kept = mantissa >> shift;
        std::uint64_t rest = mantissa & ((std::uint64_t{1} << shift) - 1);
        std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (kept & 1) != 0)) ++kept;
    }
    double rounded = std::ldexp(static_cast<double>(kept), unit);
    float magnitude = rounded >= 0x1p128 ? std::numeric_limits<float>::infinity()
                                         : static_cast<float>(rounded); // exact: it fits
    return std::signbit(value) ? -magnitude : magnitude;
}

void check_narrowing(double value) {
    float narrowed = narrow_to_float(value);
    if (std::isnan(value)) {
        if (!std::isnan(narrowed)) fuzz::fault("narrow_to_float lost a NaN");
        return;
    }
    if (!same_bits(narrowed, reference_float(value))) fuzz::fault("narrow_to_float misrounds");
}

// text_to_real over text[0, length) with no NUL after it, against strtod on a terminated copy.
void check_bounded(const char *data, std::size_t length) {
    std::unique_ptr<char[]> block(new char[length == 0 ? 1 : length]);
    std::memcpy(block.get(), data, length);
    const char *text = block.get();
    const char *end = nullptr;
    double value = text_to_real(text, text + length, &end);
    if (end < text || end > text + length) fuzz::fault("end outside the bounded text");
    if (std::isnan(value)) fuzz::fault("a NaN from text");
    check_narrowing(value);

    std::string copy(data, length);
    if (!comparable(copy.c_str())) return;
    char *c_end = nullptr;
    double expected = std::strtod(copy.c_str(), &c_end);
    if (!same_bits(value, expected)) fuzz::fault("bounded text_to_real differs from strtod");
    if (end - text != c_end - copy.c_str()) fuzz::fault("bounded end differs from strtod's");
}

void check_terminated(const std::string &copy) {
    const char *text = copy.c_str();
    const char *end = nullptr;
    double value = text_to_real(text, &end);
    std::size_t length = std::strlen(text);
    if (end < text || end > text + length) fuzz::fault("end outside the text");
    if (std::isnan(value)) fuzz::fault("a NaN from text");
    if (!same_bits(text_to_real(text), value)) fuzz::fault("the end pointer changes the value");
    check_narrowing(value);
    if (text_to_int(text) != reference_int(text)) fuzz::fault("text_to_int differs");

    if (!comparable(text)) return;
    char *c_end = nullptr;
    double expected = std::strtod(text, &c_end);
    if (!same_bits(value, expected)) fuzz::fault("text_to_real differs from strtod");
    if (end != c_end) fuzz::fault("end differs from strtod's");
}

// text_to_float over text[0, length) followed by a byte that ends a table column (blank, tab,
// LF, CR or NUL) and nothing more, against the bounded text_to_real narrowed.
void check_column(const char *data, std::size_t length, char ending) {
    std::unique_ptr<char[]> block(new char[length + 1]);
    std::memcpy(block.get(), data, length);
    block[length] = ending;
    const char *text = block.get();
    float value = text_to_float(text, text + length);
    if (!same_bits(value, narrow_to_float(text_to_real(text, text + length, nullptr))))
        fuzz::fault("text_to_float differs from the narrowed text_to_real");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    check_terminated(std::string(text, size)); // read up to its first NUL
    check_bounded(text, size);
    if (size > 0) check_bounded(text, data[0] % size); // a limit inside the text
    const char endings[] = {' ', '\t', '\n', '\r', '\0'};
    check_column(text, size, endings[size % sizeof endings]);
    if (size >= 8) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        check_narrowing(raw);
        // Near the top of the float range, where the rounding to infinity is decided.
        double near_top = 0x1.fffffep127 + std::ldexp(static_cast<double>(data[1]) - 128, 96);
        check_narrowing(data[2] & 1 ? -near_top : near_top);
    }
    return 0;
}
