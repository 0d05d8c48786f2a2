// The column reader on arbitrary input, against a plain model of the table rules that works on
// the whole text at once: input ends at the first Ctrl-Z, lines end at LF (one CR before it
// goes too), a NUL ends a line's text, skipped lines may be of any length, others of at most
// 255 characters, and columns are runs of anything but blanks and tabs. The model's numbers
// come from the tool's own conversion (fuzzed on its own), so a difference is in the reading.
//
// Input: a byte for the lines to skip, a byte for the column, a byte of read options, a byte of
// padding length, then the text. The text goes onto standard input through a memory file; reads
// of it may be cut short (as a pipe's are), and the text may come after a skipped header line
// that ends close to 1 MiB, a whole number of the reader's blocks, so that lines straddle
// blocks and reads.
#include "aoplay.h"
#include "fuzz_support.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

extern "C" ssize_t __real_read(int fd, void *into, std::size_t count);

namespace {

constexpr std::size_t block = std::size_t{1} << 20; // a whole number of the reader's blocks
std::size_t read_cap = 0;                           // 0: reads are not cut short
off_t cap_from = 0; // where in the input short reads begin (the header is read whole)

int settings_skip(std::uint8_t byte) {
    if (byte < 0xf0) return byte % 8;
    const int far[] = {-1, -2147483647 - 1, 1 << 20, 2147483647};
    return far[byte % 4];
}

int settings_column(std::uint8_t byte) {
    if (byte < 0xc0) return 1 + byte % 16;
    return 1 + ((byte - 0xc0) << 25); // up to 2^31 - 2^25 + 1
}

std::size_t settings_cap(std::uint8_t byte) {
    const std::size_t caps[] = {0, 1, 2, 3, 7, 64, 255, 256, 257, 4096, 65536, 0, 0, 0, 0, 0};
    return caps[byte & 15];
}

struct Expected {
    const char *message = nullptr; // nullptr: no failure
    std::vector<float> values;
};

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

Expected model(std::string text, int skip, int column) {
    Expected out;
    std::size_t z = text.find('\x1a');
    if (z != std::string::npos) text.resize(z);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t lf = text.find('\n', at);
        bool has_lf = lf != std::string::npos;
        std::string line = text.substr(at, has_lf ? lf - at : std::string::npos);
        at = has_lf ? lf + 1 : text.size();
        if (skip > 0) {
            --skip;
            continue;
        }
        if (has_lf && !line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 255) {
            out.message = "Input line too long !\n";
            return out;
        }
        line.resize(std::strlen(line.c_str())); // a NUL ends the line's text
        std::size_t p = 0;
        std::size_t begin = std::string::npos;
        for (int n = 1;; ++n) {
            while (p < line.size() && is_blank(line[p]))
                ++p;
            if (p == line.size()) break;
            if (n == column) {
                begin = p;
                break;
            }
            while (p < line.size() && !is_blank(line[p]))
                ++p;
        }
        if (begin == std::string::npos) {
            out.message = "Data read failure !\n";
            return out;
        }
        std::size_t end = begin;
        while (end < line.size() && !is_blank(line[end]))
            ++end;
        std::string column_text = line.substr(begin, end - begin);
        out.values.push_back(narrow_to_float(text_to_real(column_text.c_str())));
    }
    return out;
}

int input_fd = -1;

void put(const char *bytes, std::size_t size, std::size_t at) {
    for (std::size_t done = 0; done < size;) {
        ssize_t n = pwrite(input_fd, bytes + done, size - done, static_cast<off_t>(at + done));
        if (n <= 0) fuzz::fault("pwrite");
        done += static_cast<std::size_t>(n);
    }
}

// Standard input: a header line of pad bytes (none when pad is 0), its LF included, then text.
void feed(const std::string &text, std::size_t pad) {
    static const std::string letters(block, 'h');
    if (input_fd < 0) {
        input_fd = memfd_create("aoplay-fuzz-stdin", 0);
        if (input_fd < 0) fuzz::fault("no memory file");
    }
    if (ftruncate(input_fd, 0) != 0) fuzz::fault("ftruncate");
    if (pad > 0) {
        put(letters.data(), pad - 1, 0);
        put("\n", 1, pad - 1);
    }
    put(text.data(), text.size(), pad);
    if (lseek(input_fd, 0, SEEK_SET) != 0 || dup2(input_fd, 0) != 0) fuzz::fault("stdin");
}

} // namespace

// Reads of standard input, cut to read_cap bytes from cap_from on when read_cap is set.
extern "C" ssize_t __wrap_read(int fd, void *into, std::size_t count) {
    if (fd == 0 && read_cap != 0) {
        off_t at = lseek(0, 0, SEEK_CUR);
        std::size_t cap = read_cap;
        if (at >= 0 && at < cap_from) cap = static_cast<std::size_t>(cap_from - at);
        if (count > cap) count = cap;
    }
    return __real_read(fd, into, count);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 4) return 0;
    int skip = settings_skip(data[0]);
    const int column = settings_column(data[1]);
    const std::uint8_t options = data[2];
    std::string text(reinterpret_cast<const char *>(data) + 4, size - 4);
    std::size_t pad = 0;
    Expected expected;
    if (options & 0x80) {
        // The text starts 1 to 512 bytes before the end of the first block, after a header
        // line that takes one more skip.
        pad = block - (1 + data[3] + (options & 0x40 ? 256u : 0u));
        if (skip < 2147483647) skip = skip > 0 ? skip + 1 : 1;
        expected = model(text, skip - 1, column);
    } else {
        expected = model(text, skip, column);
    }

    feed(text, pad);
    skip_lines = skip;
    data_column = column;
    read_cap = settings_cap(options);
    cap_from = pad > 512 ? static_cast<off_t>(pad - 512) : 0;
    fuzz::Ending ending = fuzz::run_phase(read_waveform);
    read_cap = 0;

    if (ending.exited) {
        if (ending.status != 1) fuzz::fault("the reader exited with a status other than 1");
        if (expected.message == nullptr) fuzz::fault("the reader failed on a good table");
        if (ending.err != expected.message) fuzz::fault("the reader failed with another message");
    } else {
        if (!ending.err.empty()) fuzz::fault("the reader wrote to standard error and went on");
        if (expected.message != nullptr) fuzz::fault("the reader took a bad table");
        if (values == nullptr) fuzz::fault("no value table");
        if (static_cast<std::size_t>(value_count) != expected.values.size())
            fuzz::fault("the reader kept another number of values");
        if (value_count > 0 && std::memcmp(values, expected.values.data(),
                                           expected.values.size() * sizeof(float)) != 0)
            fuzz::fault("the reader kept other values");
    }
    std::free(values);
    values = nullptr;
    value_count = 0;
    return 0;
}
