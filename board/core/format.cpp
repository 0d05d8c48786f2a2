// Decimal digits two at a time from a table: half the divisions of the plain loop.
#include "format.h"

#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {
namespace {

struct Pairs {
    char text[200];
    constexpr Pairs() : text{} {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr Pairs pairs;

// Exactly `width` digits, zero-padded; width is even.
char *put_padded(char *out, std::uint64_t value, int width) {
    for (int at = width - 2; at >= 0; at -= 2) {
        std::memcpy(out + at, pairs.text + 2 * (value % 100), 2);
        value /= 100;
    }
    return out + width;
}

} // namespace

char *put_unsigned(char *out, std::uint64_t value) {
    char digits[20];
    char *const end = digits + sizeof digits;
    char *first = end;
    while (value >= 100) {
        first -= 2;
        std::memcpy(first, pairs.text + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        first -= 2;
        std::memcpy(first, pairs.text + 2 * value, 2);
    } else {
        *--first = static_cast<char>('0' + value);
    }
    const auto size = static_cast<std::size_t>(end - first);
    std::memcpy(out, first, size);
    return out + size;
}

char *put_signed(char *out, std::int64_t value) {
    if (value >= 0) return put_unsigned(out, static_cast<std::uint64_t>(value));
    *out++ = '-';
    return put_unsigned(out, 0 - static_cast<std::uint64_t>(value));
}

char *put_seconds(char *out, std::int64_t ns) {
    auto whole = static_cast<std::uint64_t>(ns);
    if (ns < 0) { // only if the clock ran backwards; keep the column readable anyway
        *out++ = '-';
        whole = 0 - whole;
    }
    out = put_unsigned(out, whole / 1000000000);
    *out++ = '.';
    // Nine decimals: the first alone, then eight in pairs.
    const std::uint64_t part = whole % 1000000000;
    *out++ = static_cast<char>('0' + part / 100000000);
    return put_padded(out, part % 100000000, 8);
}

char *put_microvolts(char *out, std::int64_t micro) {
    auto size = static_cast<std::uint64_t>(micro);
    if (micro < 0) {
        *out++ = '-';
        size = 0 - size;
    }
    out = put_unsigned(out, size / 1000000);
    *out++ = '.';
    return put_padded(out, size % 1000000, 6);
}

} // namespace board
