// gnuplot as a child process: the script through a pipe on its standard input, the picture on
// its standard output. No file name or user setting reaches gnuplot's command line.
#include "gnuplot.h"

#include "failure.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

bool is_program(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

void write_all(int fd, const std::string &text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return; // gnuplot stopped reading: its status tells why
        done += static_cast<std::size_t>(wrote);
    }
}

int wait_for(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            throw Failure(std::string("waiting for gnuplot: ") + std::strerror(errno));
    return status;
}

} // namespace

std::string find_gnuplot() {
    const char *path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0;;) {
        const std::size_t colon = dirs.find(':', start);
        const std::string dir = dirs.substr(start, colon - start);
        const std::string program = (dir.empty() ? "." : dir) + "/gnuplot";
        if (is_program(program)) return program;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    throw Failure("gnuplot is needed to draw the picture and is not on PATH: install the Debian "
                  "package gnuplot-nox (apt-get install gnuplot-nox)");
}

void run_gnuplot(const std::string &program, const std::string &script, int out_fd) {
    int feed[2];
    if (pipe(feed) != 0) throw Failure(std::string("cannot make a pipe: ") + std::strerror(errno));
    const pid_t child = fork();
    if (child < 0) throw Failure(std::string("cannot start gnuplot: ") + std::strerror(errno));
    if (child == 0) {
        dup2(feed[0], 0);
        dup2(out_fd, 1);
        close(feed[0]);
        close(feed[1]);
        close(out_fd);
        // -d: no ~/.gnuplot, so that every user gets the same picture.
        execl(program.c_str(), "gnuplot", "-d", static_cast<char *>(nullptr));
        const std::string message =
            "aoplay-plot: cannot run " + program + ": " + std::strerror(errno) + "\n";
        [[maybe_unused]] ssize_t ignored = write(2, message.data(), message.size());
        _exit(127);
    }
    close(feed[0]);
    write_all(feed[1], script);
    close(feed[1]);
    const int status = wait_for(child);
    if (WIFSIGNALED(status))
        throw Failure("gnuplot was ended by signal " + std::to_string(WTERMSIG(status)) +
                      ": no picture written");
    if (WEXITSTATUS(status) != 0)
        throw Failure("gnuplot failed (status " + std::to_string(WEXITSTATUS(status)) +
                      "): no picture written");
}
