// libioctl_log.so: logs how a program drives a Comedi device, for tests that check the requests
// themselves (which command, which flags, whether it polls and when it stops). Preloaded, it
// wraps ioctl(2), which comedilib calls through the C library, and appends a line per request of
// interest to the file $IOCTL_LOG names:
//
//   LD_PRELOAD=/path/libioctl_log.so IOCTL_LOG=FILE PROGRAM...
//
//   SECONDS pid PID COMEDI_CMD subdev S flags 0xF start SRC/ARG scan_begin SRC/ARG
//       convert SRC/ARG scan_end SRC/ARG stop SRC/ARG chanlist C,... -> RESULT [ERRNO]
//   SECONDS pid PID COMEDI_POLL subdev S -> RESULT [ERRNO]
//   SECONDS pid PID COMEDI_CANCEL subdev S -> RESULT [ERRNO]
//   SECONDS pid PID INSN_INTTRIG subdev S trig_num N -> RESULT [ERRNO]
//   SECONDS pid PID COMEDI_BUFINFO subdev S: N calls, F failed       (when the program exits)
//
// SECONDS are CLOCK_MONOTONIC's, the clock every process on the machine shares. Each line is one
// write(2) to a file opened with O_APPEND, so that several processes can share the file; the
// calls are counted only when the program ends through exit(), not when a signal kills it.
// Without IOCTL_LOG nothing is written. The wrapped call keeps the real one's result and errno.
//
// With IOCTL_HIDE_OUTPUT_COMMANDS=1 the device's analog outputs look as if they took single
// writes only: their SDF_CMD and SDF_CMD_WRITE flags are cleared from what COMEDI_SUBDINFO
// answers, so a test can see how a program meets such a device on a driver whose output does
// run commands.
#include <sys/ioctl.h>

#include <comedi.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

IoctlFunction real_ioctl = nullptr;
int log_fd = -1;
bool hide_output_commands = false;
std::atomic<unsigned> subdevice_count{0}; // from the last COMEDI_DEVINFO answer

constexpr unsigned counted_subdevices = 32;
std::atomic<unsigned long> bufinfo_calls[counted_subdevices];
std::atomic<unsigned long> bufinfo_failures[counted_subdevices];

// One log line, built without stdio or the heap, so that a signal handler's ioctl can log too.
class Line {
  public:
    Line &operator<<(const char *text) {
        while (*text && size_ < sizeof text_ - 1)
            text_[size_++] = *text++;
        return *this;
    }
    Line &operator<<(unsigned long number) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number);
        while (n > 0 && size_ < sizeof text_ - 1)
            text_[size_++] = digits[--n];
        return *this;
    }
    Line &operator<<(long number) {
        if (number < 0) *this << "-";
        return *this << (number < 0 ? 0ul - static_cast<unsigned long>(number)
                                    : static_cast<unsigned long>(number));
    }
    Line &operator<<(unsigned number) { return *this << static_cast<unsigned long>(number); }
    Line &operator<<(int number) { return *this << static_cast<long>(number); }
    Line &hex(unsigned number) {
        *this << "0x";
        char digits[8];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[number % 16];
            number /= 16;
        } while (number);
        while (n > 0 && size_ < sizeof text_ - 1)
            text_[size_++] = digits[--n];
        return *this;
    }
    // Microseconds are enough to order the lines and to see the gaps between them.
    Line &stamp() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        unsigned long micros = static_cast<unsigned long>(now.tv_nsec) / 1000;
        *this << static_cast<unsigned long>(now.tv_sec) << ".";
        for (unsigned long place = 100000; place > micros && place > 1; place /= 10)
            *this << "0";
        return *this << micros << " pid " << static_cast<long>(getpid()) << " ";
    }
    Line &result(int value, int error) {
        *this << " -> " << value;
        if (value < 0) {
            const char *name = strerrorname_np(error);
            *this << " " << (name ? name : "?");
        }
        return *this;
    }
    void write_out() {
        text_[size_++] = '\n';
        if (log_fd >= 0) {
            ssize_t written = ::write(log_fd, text_, size_);
            (void)written; // a log that cannot be written must not change the program
        }
    }

  private:
    char text_[512];
    std::size_t size_ = 0;
};

const char *source_name(unsigned source) {
    switch (source) {
    case TRIG_NONE:
        return "NONE";
    case TRIG_NOW:
        return "NOW";
    case TRIG_FOLLOW:
        return "FOLLOW";
    case TRIG_TIME:
        return "TIME";
    case TRIG_TIMER:
        return "TIMER";
    case TRIG_COUNT:
        return "COUNT";
    case TRIG_EXT:
        return "EXT";
    case TRIG_INT:
        return "INT";
    case TRIG_OTHER:
        return "OTHER";
    default:
        return "MIXED";
    }
}

void log_command(const comedi_cmd &cmd, int result, int error) {
    Line line;
    line.stamp() << "COMEDI_CMD subdev " << cmd.subdev << " flags ";
    line.hex(cmd.flags) << " start " << source_name(cmd.start_src) << "/" << cmd.start_arg
                        << " scan_begin " << source_name(cmd.scan_begin_src) << "/"
                        << cmd.scan_begin_arg << " convert " << source_name(cmd.convert_src) << "/"
                        << cmd.convert_arg << " scan_end " << source_name(cmd.scan_end_src) << "/"
                        << cmd.scan_end_arg << " stop " << source_name(cmd.stop_src) << "/"
                        << cmd.stop_arg << " chanlist ";
    for (unsigned i = 0; i < cmd.chanlist_len && i < 16 && cmd.chanlist; ++i)
        line << (i ? "," : "") << CR_CHAN(cmd.chanlist[i]);
    line.result(result, error).write_out();
}

void log_subdevice_request(const char *name, unsigned long subdevice, int result, int error) {
    Line line;
    line.stamp() << name << " subdev " << subdevice;
    line.result(result, error).write_out();
}

void log_internal_triggers(const comedi_insn *insns, unsigned count, int result, int error) {
    for (unsigned i = 0; i < count; ++i) {
        if (insns[i].insn != INSN_INTTRIG) continue;
        Line line;
        line.stamp() << "INSN_INTTRIG subdev " << insns[i].subdev << " trig_num "
                     << (insns[i].n > 0 && insns[i].data ? insns[i].data[0] : 0u);
        line.result(result, error).write_out();
    }
}

void count_bufinfo(const comedi_bufinfo *info, int result) {
    if (!info || info->subdevice >= counted_subdevices) return;
    bufinfo_calls[info->subdevice].fetch_add(1, std::memory_order_relaxed);
    if (result < 0) bufinfo_failures[info->subdevice].fetch_add(1, std::memory_order_relaxed);
}

void log_request(unsigned long request, unsigned long argument, const comedi_cmd &command,
                 int result, int error) {
    void *pointer = reinterpret_cast<void *>(argument);
    // The kernel takes the request as 32 bits: a caller may have widened it with its sign.
    switch (static_cast<unsigned>(request)) {
    case COMEDI_CMD:
        if (pointer) log_command(command, result, error);
        break;
    case COMEDI_POLL:
        log_subdevice_request("COMEDI_POLL", argument, result, error);
        break;
    case COMEDI_CANCEL:
        log_subdevice_request("COMEDI_CANCEL", argument, result, error);
        break;
    case COMEDI_INSN:
        if (pointer) log_internal_triggers(static_cast<comedi_insn *>(pointer), 1, result, error);
        break;
    case COMEDI_INSNLIST:
        if (pointer) {
            auto *list = static_cast<comedi_insnlist *>(pointer);
            log_internal_triggers(list->insns, list->n_insns, result, error);
        }
        break;
    case COMEDI_BUFINFO:
        count_bufinfo(static_cast<comedi_bufinfo *>(pointer), result);
        break;
    default:
        break;
    }
}

// COMEDI_SUBDINFO fills one entry per subdevice, as many as COMEDI_DEVINFO said there are.
void edit_answer(unsigned long request, unsigned long argument, int result) {
    if (result < 0 || argument == 0) return;
    switch (static_cast<unsigned>(request)) {
    case COMEDI_DEVINFO:
        subdevice_count.store(
            static_cast<unsigned>(reinterpret_cast<comedi_devinfo *>(argument)->n_subdevs));
        break;
    case COMEDI_SUBDINFO:
        if (!hide_output_commands) break;
        for (unsigned s = 0; s < subdevice_count.load(); ++s) {
            auto &info = reinterpret_cast<comedi_subdinfo *>(argument)[s];
            if (info.type == COMEDI_SUBD_AO)
                info.subd_flags &= ~static_cast<unsigned>(SDF_CMD | SDF_CMD_WRITE);
        }
        break;
    default:
        break;
    }
}

// A child made by fork counts its own calls, not its parent's again.
void forget_counts() {
    for (unsigned s = 0; s < counted_subdevices; ++s) {
        bufinfo_calls[s].store(0);
        bufinfo_failures[s].store(0);
    }
}

__attribute__((constructor)) void open_log() {
    real_ioctl = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    const char *path = getenv("IOCTL_LOG");
    if (path && *path)
        log_fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    pthread_atfork(nullptr, nullptr, forget_counts);
    const char *hide = getenv("IOCTL_HIDE_OUTPUT_COMMANDS");
    hide_output_commands = hide && std::strcmp(hide, "1") == 0;
}

__attribute__((destructor)) void write_counts() {
    int saved = errno;
    for (unsigned s = 0; s < counted_subdevices; ++s) {
        unsigned long calls = bufinfo_calls[s].load();
        if (calls == 0) continue;
        Line line;
        line.stamp() << "COMEDI_BUFINFO subdev " << s << ": " << calls << " calls, "
                     << bufinfo_failures[s].load() << " failed";
        line.write_out();
    }
    errno = saved;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    unsigned long argument = va_arg(arguments, unsigned long);
    va_end(arguments);
    if (!real_ioctl) real_ioctl = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    // The command as asked for: the driver's test may change it when the command fails.
    comedi_cmd command{};
    if (log_fd >= 0 && static_cast<unsigned>(request) == COMEDI_CMD && argument)
        command = *reinterpret_cast<const comedi_cmd *>(argument);
    int result = real_ioctl(fd, request, argument);
    int error = errno;
    edit_answer(request, argument, result);
    if (log_fd >= 0) log_request(request, argument, command, result, error);
    errno = error;
    return result;
}
