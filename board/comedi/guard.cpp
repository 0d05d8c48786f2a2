// The guard is a forked child that shares our open file of the device and waits on a pipe
// whose only writer we are. The pipe ends when we do, however we end; a byte on it first means
// we left the device at 0 V ourselves. Between fork and _exit the child keeps to
// async-signal-safe calls, since we may have other threads.
#include "guard.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardcomedi {
namespace {

int watch_write = -1;

// Everything but the two descriptors the guard keeps; its standard streams go to /dev/null so
// that nobody reading our output waits on the guard.
void close_all_but(int a, int b) {
    const int low = a < b ? a : b;
    const int high = a < b ? b : a;
    if (close_range(0, static_cast<unsigned>(low) - 1, 0) != 0) {
        for (int fd = 0; fd < 65536; ++fd)
            if (fd != a && fd != b) close(fd);
    } else {
        close_range(static_cast<unsigned>(low) + 1, static_cast<unsigned>(high) - 1, 0);
        close_range(static_cast<unsigned>(high) + 1, ~0U, 0);
    }
    const int null = open("/dev/null", O_RDWR);
    if (null == 0) {
        dup2(0, 1);
        dup2(0, 2);
    }
}

[[noreturn]] void watch(int device_fd, int watch_fd, const GuardOrders &orders) {
    // The signals that end the tool must not end its guard before its work is done.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU,
                              SIGUSR1, SIGUSR2, SIGALRM, SIGIO})
        sigaction(signal_number, &ignore, nullptr);
    // Well above the standard streams, which may be closed and so reused by anything.
    const int device = fcntl(device_fd, F_DUPFD, 10);
    const int watched = fcntl(watch_fd, F_DUPFD, 10);
    close_all_but(device, watched);

    char byte = 0;
    ssize_t got;
    do
        got = read(watched, &byte, 1);
    while (got < 0 && errno == EINTR);
    if (got == 1) _exit(0);

    // Both commands end first: a running output command takes no single write.
    ioctl(device, COMEDI_CANCEL, orders.input_subdevice);
    ioctl(device, COMEDI_CANCEL, orders.output_subdevice);
    lsampl_t code = orders.zero_code;
    comedi_insn insn{};
    insn.insn = INSN_WRITE;
    insn.n = 1;
    insn.data = &code;
    insn.subdev = orders.output_subdevice;
    insn.chanspec = orders.output_chanspec;
    ioctl(device, COMEDI_INSN, &insn);
    _exit(0);
}

} // namespace

bool guard_start(int device_fd, const GuardOrders &orders, std::string &why) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        why = std::string("cannot start the output's guard: pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        why = std::string("cannot start the output's guard: fork: ") + std::strerror(errno);
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    if (child == 0) watch(device_fd, ends[0], orders);
    close(ends[0]);
    watch_write = ends[1];
    return true;
}

void guard_dismiss() {
    if (watch_write < 0) return;
    const char done = 'z';
    ssize_t wrote;
    do
        wrote = write(watch_write, &done, 1);
    while (wrote < 0 && errno == EINTR);
    close(watch_write);
    watch_write = -1;
}

} // namespace boardcomedi
