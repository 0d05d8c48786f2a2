// The column reader: standard input read in binary blocks, split into lines and columns by the
// tool itself, so that it reads alike on every platform and fast.
#include "aoplay.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <cerrno>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

float *values = nullptr;
int value_count = 0;

namespace {

// Small enough for the processor's second-level cache, where the column walk finds the bytes
// that read() has just copied; large enough that the calls cost nothing next to the copying.
constexpr std::size_t block_size = std::size_t{128} << 10;
constexpr std::size_t max_line_length = 255;
constexpr char ctrl_z = 26; // ends a file's text, as on DOS

// ---- The value table ----

// Room for the value table: all that a large regular file can need from the start, else grown
// in steps of half its size so that reading stays linear in time wherever realloc copies;
// trimmed to value_count + 1 entries at the end.
std::size_t table_room = 0;

// From this size on, a table's memory is worth taking in large pieces.
constexpr std::size_t large_table = std::size_t{4} << 20;

// A large table is asked for in huge pages where the system has them: taking its memory a
// 4 KiB page at a time costs more than reading the table's text, above all in a virtual
// machine. The advice covers the block's whole pages, so that its mapping stays one piece that
// realloc can still grow and move.
void advise_huge_pages([[maybe_unused]] float *table, [[maybe_unused]] std::size_t room) {
#if defined(MADV_HUGEPAGE)
    long page_size = sysconf(_SC_PAGESIZE);
    if (room * sizeof(float) < large_table || page_size <= 0) return;
    auto page = static_cast<std::uintptr_t>(page_size);
    auto first = reinterpret_cast<std::uintptr_t>(table) & ~(page - 1);
    std::uintptr_t last =
        (reinterpret_cast<std::uintptr_t>(table) + room * sizeof(float) + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#endif
}

#if !defined(_WIN32)
// A table that starts on a huge page boundary, so that all of it can be had in huge pages:
// else its first up to 2 MiB come in small pages, a fault each. Still a block of the C
// library's, for realloc and free.
float *allocate_on_huge_pages(std::size_t room) {
    constexpr std::size_t huge_page = std::size_t{2} << 20;
    if (room > (SIZE_MAX - huge_page) / sizeof(float)) return nullptr;
    std::size_t bytes = (room * sizeof(float) + huge_page - 1) / huge_page * huge_page;
    auto *table = static_cast<float *>(std::aligned_alloc(huge_page, bytes));
    if (table != nullptr) advise_huge_pages(table, room);
    return table;
}
#endif

// A regular file bounds its number of values: each takes a line of at least two bytes, a
// character and its LF (the last line may lack the LF). A large file's table gets that room at
// once; it is address space only until values are written, and it spares the reader the moves
// and page faults of growing. Where that room cannot be had, the table grows as it goes.
void reserve_table_for_file([[maybe_unused]] int fd) {
#if !defined(_WIN32)
    struct stat file;
    if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return;
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0 || at >= file.st_size) return;
    std::uint64_t most_values = static_cast<std::uint64_t>(file.st_size - at) / 2 + 1;
    if (most_values >= INT32_MAX || most_values + 1 > SIZE_MAX / sizeof(float)) return;
    std::size_t room = static_cast<std::size_t>(most_values) + 1;
    if (room * sizeof(float) < large_table || room <= table_room) return;
    float *table = allocate_on_huge_pages(room);
    if (table == nullptr) return;
    std::memcpy(table, values, static_cast<std::size_t>(value_count + 1) * sizeof(float));
    std::free(values);
    values = table;
    table_room = room;
#endif
}

void grow_table() {
    if (value_count == INT32_MAX) fatal_error("Not enough memory !\n");
    std::size_t room = table_room + table_room / 2 + 16;
    values = static_cast<float *>(realloc_or_exit(values, room));
    table_room = room;
    advise_huge_pages(values, room);
}

void store_value(float value) {
    values[value_count] = value;
    ++value_count;
    if (static_cast<std::size_t>(value_count) + 1 > table_room) grow_table();
}

// ---- Lines and columns ----

// What each byte is to the column walk: part of a column, a delimiter, or a byte that may end
// the line's text: a NUL always does, a LF or CR only at the line's end.
enum : unsigned char { in_column, delimiter, stop };

constexpr struct ByteKinds {
    unsigned char kind[256] = {};
    constexpr ByteKinds() {
        kind[static_cast<unsigned char>(' ')] = delimiter;
        kind[static_cast<unsigned char>('\t')] = delimiter;
        kind[0] = stop;
        kind[static_cast<unsigned char>('\n')] = stop;
        kind[static_cast<unsigned char>('\r')] = stop;
    }
} byte_kinds;

unsigned char kind_of(const char *p) {
    return byte_kinds.kind[static_cast<unsigned char>(*p)];
}

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The line's text ends at its end (a LF, or the CR of a CR LF, lies there) or at a NUL; a CR
// inside the line is part of a column.
bool text_ends_at(const char *p, const char *end) {
    return p == end || *p == '\0';
}

const char *skip_delimiters(const char *p) {
    while (kind_of(p) == delimiter)
        ++p;
    return p;
}

const char *column_end(const char *p, const char *end) {
    for (;;) {
        while (kind_of(p) == in_column)
            ++p;
        if (*p != '\r' || p == end) return p;
        ++p;
    }
}

// The column to play in the common data line, whose columns up to that one are separated by
// delimiters alone and which starts with no white space; nullptr for any other line.
const char *plain_column(const char *p) {
    p = skip_delimiters(p);
    for (int column = 1; column < data_column; ++column) {
        if (kind_of(p) != in_column) return nullptr;
        while (kind_of(p) == in_column)
            ++p;
        if (kind_of(p) != delimiter) return nullptr;
        p = skip_delimiters(p);
    }
    return kind_of(p) == in_column && !is_space(*p) ? p : nullptr;
}

// One data line, [line, end), where the byte at end is a LF, a CR or a NUL: the value of
// column data_column.
void take_column(const char *line, const char *end) {
    if (const char *column = plain_column(line)) {
        store_value(text_to_float(column, end));
        return;
    }
    const char *p = skip_delimiters(line);
    for (int column = 1;; ++column) {
        if (text_ends_at(p, end)) fatal_error("Data read failure !\n");
        if (column == data_column) break;
        p = skip_delimiters(column_end(p, end));
    }
    // The number stops by itself at the delimiter or line end after it, unless the column
    // starts with white space that the conversion would skip, over the delimiter too: then
    // bound it.
    const char *limit = is_space(*p) ? column_end(p, end) : end;
    store_value(text_to_float(p, limit));
}

// The reader's place in the input between calls: a skipped line too long to hold is being
// passed over.
bool skipping_long_line = false;

// Lines are found a word at a time: the line feeds among eight bytes all at once, with no
// step waiting on where the last line ended.
constexpr std::size_t word_size = 8;

std::uint64_t load_word(const char *p) {
    std::uint64_t word;
    std::memcpy(&word, p, word_size);
    if constexpr (std::endian::native == std::endian::big) {
        std::uint64_t swapped = 0;
        for (std::size_t i = 0; i < word_size; ++i, word >>= 8)
            swapped = swapped << 8 | (word & 0xff);
        word = swapped;
    }
    return word; // the byte at p lowest
}

// The high bit of each byte of the word that is a LF, and of no other.
std::uint64_t line_feeds_in(std::uint64_t word) {
    constexpr std::uint64_t low_bits = 0x7f7f7f7f7f7f7f7f;
    std::uint64_t x = word ^ 0x0a0a0a0a0a0a0a0a;           // a LF's byte is now zero
    return ~(((x & low_bits) + low_bits) | x) & ~low_bits; // exact: no carry leaves a byte
}

// Takes the data lines of [line, end), the bytes after end being no LF, and returns where the
// unfinished last one starts.
const char *take_data_lines(const char *line, const char *end) {
    for (const char *word = line; word < end; word += word_size) {
        for (std::uint64_t lfs = line_feeds_in(load_word(word)); lfs != 0; lfs &= lfs - 1) {
            const char *lf = word + std::countr_zero(lfs) / 8;
            const char *text_end = lf > line && lf[-1] == '\r' ? lf - 1 : lf;
            if (static_cast<std::size_t>(text_end - line) > max_line_length)
                fatal_error("Input line too long !\n");
            take_column(line, text_end);
            line = lf + 1;
        }
    }
    return line;
}

// Takes the whole lines of [begin, end) and returns where the unfinished last one starts. The
// buffer holds a word of bytes after end, free to be cleared.
const char *take_lines(const char *begin, char *end) {
    std::memset(end, 0, word_size);
    const char *line = begin;
    if (skipping_long_line) {
        const void *lf = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        if (lf == nullptr) return end;
        skipping_long_line = false;
        line = static_cast<const char *>(lf) + 1;
    }
    for (; skip_lines > 0; --skip_lines) {
        const void *lf = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        if (lf == nullptr) return line;
        line = static_cast<const char *>(lf) + 1;
    }
    return take_data_lines(line, end);
}

// The unfinished line at the end of what has been read, [line, end): how much of it to keep
// for the next read. A line longer than any data line may be (a CR may still go) is kept only
// as far as knowing it is being skipped.
std::size_t unfinished_line_to_keep(const char *line, const char *end) {
    std::size_t length = static_cast<std::size_t>(end - line);
    if (skipping_long_line) return 0;
    if (length <= max_line_length + 1) return length;
    if (skip_lines <= 0) fatal_error("Input line too long !\n");
    --skip_lines;
    skipping_long_line = true;
    return 0;
}

// A last line without a line feed still counts; its carriage return stays in the line. It is
// in the reader's buffer, with room for a NUL after it.
void take_last_line(char *line, std::size_t length) {
    if (skip_lines > 0) {
        --skip_lines;
        return;
    }
    if (length > max_line_length) fatal_error("Input line too long !\n");
    line[length] = '\0';
    take_column(line, line + length);
}

// ---- Standard input ----

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
    skipping_long_line = false;

    Input in = open_input();
    reserve_table_for_file(0);
    // Room for a word after the text, and so for the NUL after a last line without LF.
    static char buffer[block_size + word_size];

    // buffer[0, held) is the start of a line whose end has not been read yet.
    std::size_t held = 0;
    for (;;) {
        std::size_t got = read_block(in, buffer + held, block_size - held);
        if (got == 0) break;
        char *end = buffer + held + got;
        char *rest = buffer + (take_lines(buffer, end) - buffer);
        held = unfinished_line_to_keep(rest, end);
        std::memmove(buffer, rest, held);
    }
    if (held > 0) take_last_line(buffer, held);

    values =
        static_cast<float *>(realloc_or_exit(values, static_cast<std::size_t>(value_count) + 1));
    table_room = static_cast<std::size_t>(value_count) + 1;
}
