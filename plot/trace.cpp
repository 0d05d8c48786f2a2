// Reading the board's trace. The file is read in large blocks and each field parsed in place:
// a trace at 1 MS/s holds a million rows a second of the run, and the picture should come in
// a few seconds.
#include "trace.h"

#include "failure.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <sys/stat.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

constexpr std::string_view header = "seconds,count,index,raw,volts";
constexpr std::string_view summary_form =
    "# samples=S outputs=O missed=M polls=P[ output=clocked][ (scan still running at exit)]";
constexpr std::string_view clocked_output = " output=clocked";
constexpr std::string_view still_running = " (scan still running at exit)";
constexpr std::size_t longest_line = 4096;
constexpr std::size_t block_size = std::size_t{1} << 20;
// Counts beyond a double's whole numbers are no board's (285 years at 1 MS/s): refusing them
// keeps the arithmetic on the time axis exact.
constexpr std::int64_t largest_count = std::int64_t{1} << 53;
// Likewise times: 30,000 years, and still a second apart from their neighbours.
constexpr double latest_seconds = 1e12;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

// A small file is read in one block of its own size.
std::size_t block_for(std::FILE *file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return block_size;
    return std::min(block_size, static_cast<std::size_t>(info.st_size) + 1);
}

// Lines of a file, each without its line end (LF or CR LF).
class LineReader {
  public:
    explicit LineReader(const std::string &path) : path_(path) {
        file_.reset(std::fopen(path.c_str(), "rb"));
        if (!file_) throw Failure(path + ": cannot open: " + std::strerror(errno));
        block_ = block_for(file_.get());
        buffer_.reset(new char[block_ + longest_line]); // not cleared: it is read into
    }

    // The next line, or false at the end of the file. `ended` is false for a last line that
    // has no line end.
    bool next(std::string_view &line, bool &ended) {
        for (;;) {
            const char *start = buffer_.get() + begin_;
            if (const void *found = std::memchr(start, '\n', end_ - begin_)) {
                const auto length =
                    static_cast<std::size_t>(static_cast<const char *>(found) - start);
                if (length > longest_line) too_long();
                take(line, length, length + 1);
                ended = true;
                return true;
            }
            if (end_ - begin_ > longest_line) too_long();
            if (at_end_) break;
            fill();
        }
        if (begin_ == end_) return false;
        take(line, end_ - begin_, end_ - begin_);
        ended = false;
        return true;
    }

    std::size_t number() const { return number_; }
    // Ends the run with a message about the line just read.
    [[noreturn]] void fail(const std::string &message) const {
        throw Failure(where(number_) + message);
    }
    std::string where(std::size_t line_number) const {
        return path_ + ":" + std::to_string(line_number) + ": ";
    }

  private:
    [[noreturn]] void too_long() const {
        throw Failure(where(number_ + 1) + "a line longer than " + std::to_string(longest_line) +
                      " characters");
    }

    void take(std::string_view &line, std::size_t length, std::size_t used) {
        const char *start = buffer_.get() + begin_;
        if (length > 0 && start[length - 1] == '\r') --length;
        line = std::string_view(start, length);
        begin_ += used;
        ++number_;
    }

    // Keeps the unfinished line at the front of the buffer and reads more behind it.
    void fill() {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        const std::size_t got = std::fread(buffer_.get() + end_, 1, block_, file_.get());
        if (got < block_) {
            if (std::ferror(file_.get()))
                throw Failure(path_ + ": cannot read: " + std::strerror(errno));
            at_end_ = true;
        }
        end_ += got;
    }

    std::string path_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::size_t block_ = block_size;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t number_ = 0;
    bool at_end_ = false;
};

// A field as it may be shown in a message: printable, and not too long.
std::string shown(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 40))
        out += (c >= ' ' && c <= '~') ? c : '?';
    if (text.size() > 40) out += "...";
    return "'" + out + "'";
}

template <typename Number> bool parse_whole(std::string_view text, Number &value) {
    const char *end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

bool parse_real(std::string_view text, double &value) {
    return parse_whole(text, value) && std::isfinite(value);
}

struct Fields {
    std::string_view text[5];
    std::size_t found = 0;
};

Fields split_row(std::string_view line) {
    Fields fields;
    for (std::size_t start = 0;; ++fields.found) {
        const std::size_t comma = line.find(',', start);
        if (fields.found < 5) fields.text[fields.found] = line.substr(start, comma - start);
        if (comma == std::string_view::npos) {
            ++fields.found;
            return fields;
        }
        start = comma + 1;
    }
}

TraceRow parse_row(std::string_view line, const LineReader &lines) {
    if (line.empty()) lines.fail("empty line");
    const Fields fields = split_row(line);
    if (fields.found != 5)
        lines.fail("expected 5 fields (" + std::string(header) + "), found " +
                   std::to_string(fields.found));
    TraceRow row;
    std::int64_t raw = 0;
    auto bad = [&](const char *name, std::string_view text, const char *expected) {
        lines.fail(std::string(name) + " " + shown(text) + " is not " + expected);
    };
    if (!parse_real(fields.text[0], row.seconds) || row.seconds < 0 || row.seconds > latest_seconds)
        bad("seconds", fields.text[0], "a time from 0 to 1e12");
    if (!parse_whole(fields.text[1], row.count) || row.count < 0 || row.count > largest_count)
        bad("count", fields.text[1], "a sample count");
    if (!parse_whole(fields.text[2], row.index) || row.index < -1)
        bad("index", fields.text[2], "a buffer index from -1 on");
    if (!parse_whole(fields.text[3], raw) || raw < 0)
        bad("raw", fields.text[3], "a code from 0 on");
    if (!parse_real(fields.text[4], row.volts)) bad("volts", fields.text[4], "a voltage");
    return row;
}

// Takes "name=N" off the front of text.
bool take_number(std::string_view &text, std::string_view name, std::int64_t &value) {
    if (text.substr(0, name.size()) != name) return false;
    text.remove_prefix(name.size());
    auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value < 0 || value > largest_count) return false;
    text.remove_prefix(static_cast<std::size_t>(stop - text.data()));
    return true;
}

// Takes `word` off the front of the text if it is there.
bool take_word(std::string_view &text, std::string_view word) {
    if (!text.starts_with(word)) return false;
    text.remove_prefix(word.size());
    return true;
}

ScanSummary parse_summary(std::string_view line, const LineReader &lines) {
    ScanSummary summary;
    std::string_view rest = line;
    const bool counts = take_number(rest, "# samples=", summary.samples) &&
                        take_number(rest, " outputs=", summary.outputs) &&
                        take_number(rest, " missed=", summary.missed) &&
                        take_number(rest, " polls=", summary.polls);
    summary.clocked = take_word(rest, clocked_output);
    summary.still_running = take_word(rest, still_running);
    if (!counts || !rest.empty())
        lines.fail("not a scan summary: expected '" + std::string(summary_form) + "', found " +
                   shown(line));
    summary.text = std::string(line.substr(2));
    return summary;
}

// The board's clock only runs forward, and within a scan so does the count: a trace that says
// otherwise was put together or edited wrongly, and its picture would mislead.
void check_order(const TraceRow &row, const Trace &trace, std::int64_t scan_count,
                 const LineReader &lines) {
    if (!trace.rows.empty() && row.seconds < trace.rows.back().seconds)
        lines.fail("seconds go back from the row above");
    if (row.index >= 0 && row.count < scan_count)
        lines.fail("count goes back from " + std::to_string(scan_count) + " within a scan");
}

} // namespace

Trace read_trace(const std::string &path) {
    LineReader lines(path);
    std::string_view line;
    bool ended = true;
    if (!lines.next(line, ended)) throw Failure(lines.where(1) + "empty file: no trace header");
    if (line != header)
        throw Failure(lines.where(1) + "not a board trace: the first line must be '" +
                      std::string(header) + "'");

    Trace trace;
    std::int64_t scan_count = 0; // the highest count seen in the scan now running
    while (lines.next(line, ended)) {
        if (!ended) {
            // The board writes whole lines: a run that was killed can leave the last one cut.
            warn(lines.where(lines.number()) +
                 "the last line has no line end, as if cut short: left out");
            break;
        }
        if (!line.empty() && line.front() == '#') {
            trace.summaries.push_back(parse_summary(line, lines));
            trace.summaries.back().rows_before = trace.rows.size();
            scan_count = 0;
            continue;
        }
        const TraceRow row = parse_row(line, lines);
        check_order(row, trace, scan_count, lines);
        if (row.index >= 0) scan_count = row.count;
        trace.rows.push_back(row);
    }
    if (trace.rows.empty())
        throw Failure(lines.where(lines.number() + 1) + "no output rows: the trace ends after " +
                      (lines.number() == 1 ? "its header" : "its summaries"));
    return trace;
}
