#include "tool_process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::vector<std::string> command_words() {
    const char *command = std::getenv("AOPLAY_COMMAND");
    std::istringstream words(command != nullptr ? command : "aoplay");
    std::vector<std::string> out;
    for (std::string w; words >> w;)
        out.push_back(w);
    return out;
}

// Puts an open descriptor at target, leaving no other copy of it open.
void move_fd(int fd, int target) {
    if (fd < 0 || fd == target) return;
    dup2(fd, target);
    close(fd);
}

// Under wine (AOPLAY_WINE set) about one short traced run in a hundred ends with a message of
// wine's own on standard error, "wine client error:...", often cut short: wine racing the
// board's trace thread as the process ends. Status, output and trace are whole; it is dropped.
std::string without_wine_messages(std::string text) {
    if (std::getenv("AOPLAY_WINE") == nullptr) return text;
    for (std::size_t at; (at = text.find("wine client error:")) != std::string::npos;) {
        const std::size_t end = text.find('\n', at);
        text.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    }
    return text;
}

} // namespace

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string scratch_path(const std::string &name) {
    static int serial = 0;
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/aoplay-test-" + std::to_string(getpid()) +
           "-" + std::to_string(++serial) + "-" + name;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string shell(const std::string &command) {
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

std::string normalized(std::string text) {
    if (std::getenv("AOPLAY_CRLF") == nullptr) return text;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

int raw_code(double volts) {
    double raw = std::round((volts + 10.0) * 3276.8);
    return raw < 0 ? 0 : (raw > 65535 ? 65535 : static_cast<int>(raw));
}

ToolCall tool_call(std::vector<std::string> args, std::string input) {
    ToolCall call;
    call.args = std::move(args);
    call.input = std::move(input);
    return call;
}

ToolRun run_tool(const ToolCall &call) {
    std::string in_path = scratch_path("stdin");
    std::string out_path = call.stdout_path.empty() ? scratch_path("stdout") : call.stdout_path;
    std::string err_path = scratch_path("stderr");
    write_file(in_path, call.input);
    const std::string &stdin_file = call.stdin_path.empty() ? in_path : call.stdin_path;
    int feed[2] = {-1, -1};
    if (call.stdin_kind == Stdin::pipe && pipe(feed) != 0) return {};
    int drain[2] = {-1, -1};
    if (call.stdout_pipe && pipe(drain) != 0) return {};
    // A reader gone from the start is gone before the tool exists, whatever the scheduler does.
    if (call.stdout_pipe && call.reader_bytes == 0) {
        close(drain[0]);
        drain[0] = -1;
    }

    std::vector<std::string> words = call.command.empty() ? command_words() : call.command;
    words.insert(words.end(), call.args.begin(), call.args.end());
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto &[name, value] : call.env)
            setenv(name.c_str(), value.c_str(), 1);
        // Standard output and error first, so that a closed standard input stays closed rather
        // than being taken by one of their files.
        if (call.stdout_pipe) {
            if (drain[0] >= 0) close(drain[0]);
            move_fd(drain[1], 1);
        } else {
            move_fd(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        }
        move_fd(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        switch (call.stdin_kind) {
        case Stdin::file:
            move_fd(open(stdin_file.c_str(), O_RDONLY), 0);
            break;
        case Stdin::pipe:
            move_fd(feed[0], 0);
            close(feed[1]);
            break;
        case Stdin::closed:
            close(0);
            break;
        case Stdin::null:
            move_fd(open("/dev/null", O_RDONLY), 0);
            break;
        }
        if (call.address_space_limit > 0) {
            struct rlimit limit {};
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(call.address_space_limit);
            setrlimit(RLIMIT_AS, &limit);
        }
        // A run that is to be signalled needs the signals' default actions, whatever the test
        // runner inherited (nohup, for one, ignores SIGHUP).
        if (call.term_after_ms >= 0)
            for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
                signal(signal_number, SIG_DFL);
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (call.stdin_kind == Stdin::pipe) {
        close(feed[0]);
        signal(SIGPIPE, SIG_IGN);
        for (std::size_t done = 0; done < call.input.size();) {
            ssize_t n = write(feed[1], call.input.data() + done, call.input.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(feed[1]);
    }

    ToolRun run;
    if (call.stdout_pipe) {
        close(drain[1]);
        if (drain[0] >= 0) fcntl(drain[0], F_SETFL, O_NONBLOCK);
    }
    // Reads what the tool wrote to the pipe; the reader goes once it has had enough.
    auto read_pipe = [&](long long ms) {
        if (drain[0] < 0) return;
        char buffer[4096];
        while (run.out.size() < call.reader_bytes) {
            std::size_t room = std::min(sizeof buffer, call.reader_bytes - run.out.size());
            ssize_t got = read(drain[0], buffer, room);
            if (got <= 0) break;
            run.out.append(buffer, static_cast<std::size_t>(got));
        }
        if (run.out.size() >= call.reader_bytes || (call.reader_ms >= 0 && ms >= call.reader_ms)) {
            close(drain[0]);
            drain[0] = -1;
        }
    };
    auto start = std::chrono::steady_clock::now();
    bool termed = false;
    for (int wstatus = 0;;) {
        pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) {
            run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
            if (WIFSIGNALED(wstatus)) {
                run.end_signal = WTERMSIG(wstatus);
                run.core_dumped = WCOREDUMP(wstatus);
            }
            break;
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        if (!termed && call.term_after_ms >= 0 && ms >= call.term_after_ms) {
            kill(pid, call.term_signal);
            termed = true;
        }
        read_pipe(ms);
        if (ms > call.timeout_ms) kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (call.stdout_pipe) {
        read_pipe(0);
        if (drain[0] >= 0) close(drain[0]);
        run.out = normalized(run.out);
    }
    // Only a file gives back what was written to it: reading /dev/full, say, never ends.
    struct stat out_stat {};
    if (!call.stdout_pipe && stat(out_path.c_str(), &out_stat) == 0 && S_ISREG(out_stat.st_mode))
        run.out = normalized(read_file(out_path));
    run.err = without_wine_messages(normalized(read_file(err_path)));
    std::remove(in_path.c_str());
    std::remove(err_path.c_str());
    if (call.stdout_path.empty()) std::remove(out_path.c_str());
    return run;
}

Trace read_trace(const std::string &path) {
    Trace trace;
    std::ifstream in(path);
    if (!in) return trace;
    trace.found = true;
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("#", 0) == 0) {
            trace.summaries.push_back(line);
            trace.summary_after.push_back(trace.rows.size());
            continue;
        }
        TraceRow row;
        if (std::sscanf(line.c_str(), "%lf,%ld,%ld,%d,%lf", &row.seconds, &row.count, &row.index,
                        &row.raw, &row.volts) == 5)
            trace.rows.push_back(row);
    }
    return trace;
}
