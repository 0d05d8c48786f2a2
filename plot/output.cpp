// The temporary file and its removal on every way out: failure, exception, and the signals
// that end a run at the terminal.
#include "output.h"

#include "failure.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

// The temporary file's name for the signal handler, which may only make plain system calls.
char pending_path[4096];
volatile std::sig_atomic_t pending = 0;

extern "C" void remove_and_end(int signal_number) {
    if (pending) unlink(pending_path);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void remove_on_signals() {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        sigaction(signal_number, nullptr, &action);
        if (action.sa_handler == SIG_IGN) continue; // as under nohup: leave it so
        action.sa_handler = remove_and_end;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(signal_number, &action, nullptr);
    }
}

std::string folder_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkstemp makes the file for its owner only; a picture gets the usual permissions.
void set_usual_mode(int fd) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

} // namespace

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
    temporary_ = folder_of(target_) + "/." + name_of(target_) + ".XXXXXX";
    if (temporary_.size() >= sizeof pending_path)
        throw Failure(target_ + ": cannot create: the name is too long");
    remove_on_signals();
    fd_ = mkstemp(temporary_.data());
    if (fd_ < 0)
        throw Failure(target_ + ": cannot create a file in " + folder_of(target_) + ": " +
                      std::strerror(errno));
    std::memcpy(pending_path, temporary_.c_str(), temporary_.size() + 1);
    pending = 1;
    set_usual_mode(fd_);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(temporary_.c_str());
    pending = 0;
}

void OutputFile::commit() {
    struct stat info {};
    if (fstat(fd_, &info) != 0 || info.st_size == 0)
        throw Failure(target_ + ": nothing was written");
    const int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) throw Failure(target_ + ": cannot write: " + std::strerror(errno));
    if (rename(temporary_.c_str(), target_.c_str()) != 0)
        throw Failure(target_ + ": cannot put the picture in place: " + std::strerror(errno));
    committed_ = true;
    pending = 0;
}

void write_whole_file(const std::string &path, const std::string &text) {
    OutputFile file(path);
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(file.fd(), text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) throw Failure(path + ": cannot write: " + std::strerror(errno));
        done += static_cast<std::size_t>(wrote);
    }
    file.commit();
}
