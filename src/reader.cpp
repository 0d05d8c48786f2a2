// The column reader: standard input read in large binary blocks, split into lines and columns
// by the tool itself, so that it reads alike on every platform and fast.
#include "aoplay.h"

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

float *values = nullptr;
int value_count = 0;

namespace {

constexpr std::size_t block_size = std::size_t{1} << 20;
constexpr std::size_t max_line_length = 255;
constexpr char ctrl_z = 26; // ends a file's text, as on DOS

// Room for the value table, grown in steps of half its size so that reading stays linear in
// time wherever realloc copies; trimmed to value_count + 1 entries at the end.
std::size_t table_room = 0;

void store_value(float value) {
    values[value_count] = value;
    ++value_count;
    std::size_t needed = static_cast<std::size_t>(value_count) + 1;
    if (needed > table_room) {
        if (value_count == INT32_MAX) fatal_error("Not enough memory !\n");
        std::size_t room = table_room + table_room / 2 + 16;
        values = static_cast<float *>(realloc_or_exit(values, room));
        table_room = room;
    }
}

// What each byte is to the column walk: part of a column, a delimiter, or the end of the text.
enum : unsigned char { in_column, delimiter, text_end };

constexpr struct ByteKinds {
    unsigned char kind[256] = {};
    constexpr ByteKinds() {
        kind[static_cast<unsigned char>(' ')] = delimiter;
        kind[static_cast<unsigned char>('\t')] = delimiter;
        kind[0] = text_end;
    }
} byte_kinds;

unsigned char kind_of(const char *p) {
    return byte_kinds.kind[static_cast<unsigned char>(*p)];
}

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// One data line, a C string in the input block ending at end: the value of column data_column.
void take_column(const char *line, const char *end) {
    const char *p = line;
    for (int column = 1;; ++column) {
        while (kind_of(p) == delimiter)
            ++p;
        if (kind_of(p) == text_end) fatal_error("Data read failure !\n");
        if (column == data_column) break;
        while (kind_of(p) == in_column)
            ++p;
    }
    // The number stops by itself at the delimiter after it, unless the column starts with
    // white space that the conversion would skip, over the delimiter too: then bound it.
    const char *limit = end;
    if (is_space(*p)) {
        limit = p;
        while (kind_of(limit) == in_column)
            ++limit;
    }
    store_value(narrow_to_float(text_to_real(p, limit, nullptr)));
}

// A line of the input block, ended in place by a NUL over its line end: it is converted
// where it lies, and a NUL inside it ends its text as it would end a C string.
void take_line(char *text, std::size_t length) {
    if (skip_lines > 0) {
        --skip_lines;
        return;
    }
    if (length > max_line_length) fatal_error("Input line too long !\n");
    text[length] = '\0';
    take_column(text, text + length);
}

// Standard input in binary: block reads, end of input on end of file or on a read error.
struct Input {
    bool ends_at_ctrl_z = false;
    bool at_end = false;
};

std::size_t read_block(Input &in, char *into, std::size_t room) {
    if (in.at_end) return 0;
#if defined(_WIN32)
    int got = _read(0, into, static_cast<unsigned>(room));
#else
    ssize_t got;
    do
        got = read(0, into, room);
    while (got < 0 && errno == EINTR);
#endif
    if (got <= 0) {
        in.at_end = true;
        return 0;
    }
    std::size_t length = static_cast<std::size_t>(got);
    if (in.ends_at_ctrl_z) {
        if (const void *z = std::memchr(into, ctrl_z, length)) {
            length = static_cast<std::size_t>(static_cast<const char *>(z) - into);
            in.at_end = true;
        }
    }
    return length;
}

// Standard input as bytes: the text-mode rules are the reader's own, the same everywhere. As
// in a C text stream, Ctrl-Z ends a file or a pipe but not what is typed at a terminal.
Input open_input() {
    Input in;
#if defined(_WIN32)
    _setmode(0, _O_BINARY);
    in.ends_at_ctrl_z = _isatty(0) == 0;
#else
    in.ends_at_ctrl_z = isatty(0) == 0;
#endif
    return in;
}

} // namespace

void read_waveform() {
    values = static_cast<float *>(calloc_or_exit(1));
    value_count = 0;
    table_room = 1;

    Input in = open_input();
    static char buffer[block_size + 1]; // room for the NUL after a last line without LF

    // buffer[0, held) is the start of a line whose end has not been read yet.
    std::size_t held = 0;
    bool skipping_long_line = false; // a skipped line too long to hold is being passed over
    for (;;) {
        std::size_t got = read_block(in, buffer + held, block_size - held);
        if (got == 0) break;
        char *line = buffer;
        char *end = buffer + held + got;
        char *search = buffer + held;
        while (char *lf = static_cast<char *>(
                   std::memchr(search, '\n', static_cast<std::size_t>(end - search)))) {
            std::size_t length = static_cast<std::size_t>(lf - line);
            if (length > 0 && lf[-1] == '\r') --length;
            if (skipping_long_line)
                skipping_long_line = false;
            else
                take_line(line, length);
            line = search = lf + 1;
        }
        held = static_cast<std::size_t>(end - line);
        if (held > max_line_length + 1 && !skipping_long_line) {
            // Longer than any data line may be (a CR may still go): only a skipped line goes on.
            if (skip_lines <= 0) fatal_error("Input line too long !\n");
            --skip_lines;
            skipping_long_line = true;
        }
        if (skipping_long_line)
            held = 0;
        else
            std::memmove(buffer, line, held);
    }
    // A last line without a line feed still counts; its carriage return stays in the line.
    if (held > 0 && !skipping_long_line) take_line(buffer, held);

    values =
        static_cast<float *>(realloc_or_exit(values, static_cast<std::size_t>(value_count) + 1));
    table_room = static_cast<std::size_t>(value_count) + 1;
}
