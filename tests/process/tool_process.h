// Runs the built tool as a separate process, as users meet it: arguments, a file or nothing on
// standard input, standard output and error captured, the exit status, the simulated board's
// trace. The command comes from AOPLAY_COMMAND (for example "wine build-win/aoplay.exe"), so the
// same tests run against every build of the tool.
#ifndef AOPLAY_TOOL_PROCESS_H
#define AOPLAY_TOOL_PROCESS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ToolRun {
    int status = -1; // exit status, or 128 + signal when a signal ended it
    std::string out;
    std::string err;
    int end_signal = 0;       // the signal that ended it, 0 when it exited
    bool core_dumped = false; // it ended by a signal and left (or tried to leave) a core
};

enum class Stdin { file, pipe, closed, null };

struct ToolCall {
    std::vector<std::string> args;
    std::string input;
    Stdin stdin_kind = Stdin::file;
    std::string stdin_path; // Stdin::file: this file as it stands instead of one with input
    std::vector<std::pair<std::string, std::string>> env; // added to the environment
    std::string stdout_path; // empty: captured; else the tool writes there (read back if a file)
    int term_after_ms = -1;  // send SIGTERM this long after the start (-1: never)
    int term_signal = 15;
    int timeout_ms = 60000;
    long long address_space_limit = 0; // RLIMIT_AS of the tool in bytes (0: as inherited)
    std::vector<std::string> command;  // the program and its first words (empty: AOPLAY_COMMAND)
    // Standard output to a pipe the test reads and then closes, the reader going away, once it
    // has read reader_bytes bytes (0: before the tool starts) or reader_ms have passed (-1: no
    // limit). What it read is the run's out.
    bool stdout_pipe = false;
    std::size_t reader_bytes = SIZE_MAX;
    int reader_ms = -1;
};

ToolRun run_tool(const ToolCall &call);
ToolCall tool_call(std::vector<std::string> args, std::string input);

// A row of the board trace, or the summary line after a scan.
struct TraceRow {
    double seconds = 0;
    long count = 0;
    long index = 0;
    int raw = 0;
    double volts = 0;
};
struct Trace {
    std::vector<TraceRow> rows;
    std::vector<std::string> summaries;     // "# samples=... outputs=... missed=... polls=..."
    std::vector<std::size_t> summary_after; // number of rows before each summary
    bool found = false;
};
Trace read_trace(const std::string &path);

// A fresh path in the test's scratch folder.
std::string scratch_path(const std::string &name);
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);
// Standard output of a shell command.
std::string shell(const std::string &command);
// Standard output of the Windows build comes in text mode: CR LF read back as LF there.
std::string normalized(std::string text);
// The board's raw code for a voltage on output range 0.
int raw_code(double volts);

#endif
