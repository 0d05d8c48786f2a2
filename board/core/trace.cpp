// The trace file. stdio buffering is off: rows gather in our own blocks, so a row costs a few
// stores, and a thread of the board's own writes full blocks out, so that the caller's poll
// loop never waits on the disk (a 1 MiB write takes long enough to miss samples at 1 MHz).
// Not in the Windows DLL: by the time a DLL's exit work runs, Windows has ended the process's
// other threads wherever they were, so the blocks are written in the caller's thread there.
#include "trace.h"

#include "format.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {
namespace {

constexpr std::size_t buffer_size = std::size_t{1} << 20;
constexpr std::size_t block_count = 4;
constexpr std::size_t longest_line = 160; // a row is under 80 bytes, a summary under 160
#if defined(_WIN32)
constexpr bool writer_thread = false;
#else
constexpr bool writer_thread = true;
#endif

struct Block {
    char data[buffer_size];
    std::size_t used;
};

std::FILE *file = nullptr;
const char *name = "board"; // of the board, in messages
Block blocks[block_count];
// Under the lock: blocks head .. head + queued - 1 (mod block_count) wait for the writer. The
// block after them, `current`, is the one being filled; only the filling side touches it.
std::size_t head = 0;
std::size_t queued = 0;
std::size_t current = 0;
bool closing = false;
std::atomic<bool> failed{false};
std::mutex lock;
std::condition_variable changed;
std::thread writer;

Block &filling() {
    return blocks[current];
}

void write_block(const Block &block) {
    if (!failed && block.used != 0 && std::fwrite(block.data, 1, block.used, file) != block.used) {
        std::fprintf(stderr, "%s: trace file: write failed (%s); the trace stops here\n", name,
                     std::strerror(errno));
        failed = true;
    }
}

void write_blocks() {
    std::unique_lock<std::mutex> held(lock);
    for (;;) {
        changed.wait(held, [] { return queued > 0 || closing; });
        if (queued == 0) return;
        Block &block = blocks[head];
        held.unlock();
        write_block(block);
        held.lock();
        head = (head + 1) % block_count;
        --queued;
        changed.notify_all();
    }
}

// Sends the block being filled on its way: to the writer thread, waiting only when every block
// is full, or straight to the file where there is no writer thread.
void write_out() {
    if (!writer_thread) {
        write_block(filling());
        filling().used = 0;
        return;
    }
    std::unique_lock<std::mutex> held(lock);
    changed.wait(held, [] { return queued < block_count - 1; });
    ++queued;
    current = (current + 1) % block_count;
    filling().used = 0;
    changed.notify_all();
}

// Room for one more line.
char *line_start() {
    Block &block = filling();
    if (buffer_size - block.used >= longest_line) return block.data + block.used;
    write_out();
    return filling().data;
}

void line_end(const char *end) {
    Block &block = filling();
    block.used = static_cast<std::size_t>(end - block.data);
}

void put_text(const char *text) {
    char *out = line_start();
    const std::size_t size = std::strlen(text);
    std::memcpy(out, text, size);
    line_end(out + size);
}

} // namespace

void trace_open(const char *path, const char *board_name) {
    name = board_name;
    file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot write the trace to %s (%s); no trace\n", name, path,
                     std::strerror(errno));
        return;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    head = queued = current = 0;
    closing = false;
    failed = false;
    filling().used = 0;
    if (writer_thread) writer = std::thread(write_blocks);
    put_text("seconds,count,index,raw,volts\n");
}

bool trace_on() {
    return file != nullptr && !failed;
}

void trace_row(std::int64_t ns, std::int64_t count, std::int64_t index, std::uint16_t code,
               std::int64_t microvolts) {
    char *out = line_start();
    out = put_seconds(out, ns);
    *out++ = ',';
    out = put_signed(out, count);
    *out++ = ',';
    out = put_signed(out, index);
    *out++ = ',';
    out = put_unsigned(out, code);
    *out++ = ',';
    out = put_microvolts(out, microvolts);
    *out++ = '\n';
    line_end(out);
}

void trace_summary(std::int64_t samples, std::int64_t outputs, std::int64_t missed,
                   std::int64_t polls, bool clocked, bool at_exit) {
    if (file == nullptr) return;
    char line[longest_line];
    std::snprintf(line, sizeof line, "# samples=%lld outputs=%lld missed=%lld polls=%lld%s%s\n",
                  static_cast<long long>(samples), static_cast<long long>(outputs),
                  static_cast<long long>(missed), static_cast<long long>(polls),
                  clocked ? " output=clocked" : "", at_exit ? " (scan still running at exit)" : "");
    put_text(line);
}

void trace_close() {
    if (file == nullptr) return;
    write_out();
    if (writer_thread) {
        {
            std::lock_guard<std::mutex> held(lock);
            closing = true;
        }
        changed.notify_all();
        writer.join();
    }
    if (std::fclose(file) != 0 && !failed)
        std::fprintf(stderr, "%s: trace file: close failed (%s)\n", name, std::strerror(errno));
    file = nullptr;
}

} // namespace board
