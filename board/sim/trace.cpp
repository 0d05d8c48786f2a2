// The trace file. stdio buffering is off: rows gather in our own buffer, so a row costs a few
// stores and the file only sees large writes.
#include "trace.h"

#include "format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {
namespace {

constexpr std::size_t buffer_size = std::size_t{1} << 20;
constexpr std::size_t longest_line = 160; // a row is under 80 bytes, a summary under 160

std::FILE *file = nullptr;
char buffer[buffer_size];
std::size_t used = 0;

void drop(const char *why) {
    std::fprintf(stderr, "boardsim: trace file: %s (%s); the trace stops here\n", why,
                 std::strerror(errno));
    std::fclose(file);
    file = nullptr;
}

void write_out() {
    if (file == nullptr) {
        used = 0;
        return;
    }
    if (used != 0 && std::fwrite(buffer, 1, used, file) != used) drop("write failed");
    used = 0;
}

// Room for one more line.
char *line_start() {
    if (buffer_size - used < longest_line) write_out();
    return buffer + used;
}

void line_end(const char *end) {
    used = static_cast<std::size_t>(end - buffer);
}

void put_text(const char *text) {
    char *out = line_start();
    const std::size_t size = std::strlen(text);
    std::memcpy(out, text, size);
    line_end(out + size);
}

} // namespace

void trace_open(const char *path) {
    file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "boardsim: cannot write the trace to %s (%s); no trace\n", path,
                     std::strerror(errno));
        return;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    used = 0;
    put_text("seconds,count,index,raw,volts\n");
}

bool trace_on() {
    return file != nullptr;
}

void trace_row(std::int64_t ns, std::int64_t count, std::int64_t index, std::uint16_t code) {
    char *out = line_start();
    out = put_seconds(out, ns);
    *out++ = ',';
    out = put_signed(out, count);
    *out++ = ',';
    out = put_signed(out, index);
    *out++ = ',';
    out = put_unsigned(out, code);
    *out++ = ',';
    out = put_volts(out, code);
    *out++ = '\n';
    line_end(out);
}

void trace_summary(std::int64_t samples, std::int64_t outputs, std::int64_t missed,
                   std::int64_t polls, bool at_exit) {
    if (file == nullptr) return;
    char line[longest_line];
    std::snprintf(line, sizeof line, "# samples=%lld outputs=%lld missed=%lld polls=%lld%s\n",
                  static_cast<long long>(samples), static_cast<long long>(outputs),
                  static_cast<long long>(missed), static_cast<long long>(polls),
                  at_exit ? " (scan still running at exit)" : "");
    put_text(line);
}

void trace_close() {
    if (file == nullptr) return;
    write_out();
    if (file != nullptr && std::fclose(file) != 0)
        std::fprintf(stderr, "boardsim: trace file: close failed (%s)\n", std::strerror(errno));
    file = nullptr;
    used = 0;
}

} // namespace boardsim
