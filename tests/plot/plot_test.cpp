// aoplay-plot as a process: the pictures it writes, the data it plots (kept with --script),
// how it refuses bad traces, and the traces of real runs of the tool.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char header[] = "seconds,count,index,raw,volts\n";

std::string row(double seconds, long count, long index, double volts) {
    char text[96];
    std::snprintf(text, sizeof text, "%.9f,%ld,%ld,%d,%.6f\n", seconds, count, index,
                  raw_code(volts), volts);
    return text;
}

// One scan: samples 3 and 4 skipped between outputs, 7 and 8 after the last output.
const std::string one_scan = std::string(header) + row(0, 0, -1, 0) + row(0.001, 1, 0, 1) +
                             row(0.002, 2, 1, 2) + row(0.005, 5, 4, -1.5) + row(0.006, 6, 5, 0.5) +
                             "# samples=8 outputs=4 missed=4 polls=9\n" + row(0.0085, 8, -1, 0);

struct XY {
    double x = 0;
    double y = 0;
};

// The inline data blocks of a gnuplot script ($steps, $missed), by name.
std::map<std::string, std::vector<XY>> data_blocks(const std::string &script) {
    std::map<std::string, std::vector<XY>> blocks;
    std::istringstream lines(script);
    std::string line;
    std::vector<XY> *block = nullptr;
    while (std::getline(lines, line)) {
        if (block == nullptr && line.size() > 8 && line[0] == '$' &&
            line.find(" << EOD") != std::string::npos) {
            block = &blocks[line.substr(1, line.find(' ') - 1)];
        } else if (block != nullptr && line == "EOD") {
            block = nullptr;
        } else if (block != nullptr) {
            XY point;
            std::istringstream(line) >> point.x >> point.y;
            block->push_back(point);
        }
    }
    return blocks;
}

double total(const std::vector<XY> &points) {
    double sum = 0;
    for (const XY &point : points)
        sum += point.y;
    return sum;
}

struct PngSize {
    bool valid = false;
    unsigned width = 0;
    unsigned height = 0;
};

// The PNG signature and the IHDR chunk that must come first.
PngSize png_size(const std::string &image) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    PngSize size;
    if (image.size() < 24 || image.compare(0, 8, signature, 8) != 0 ||
        image.compare(12, 4, "IHDR") != 0)
        return size;
    auto big_endian = [&](std::size_t at) {
        unsigned value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(image[at + i]);
        return value;
    };
    size = {true, big_endian(16), big_endian(20)};
    return size;
}

class Plot : public testing::Test {
  protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    std::string trace_file(const std::string &text, const std::string &name = "trace.csv") {
        write_file(path(name), text);
        return path(name);
    }

    ToolRun plot(std::vector<std::string> args,
                 std::vector<std::pair<std::string, std::string>> env = {}) {
        ToolCall call = tool_call(std::move(args), "");
        call.stdin_kind = Stdin::null;
        const char *command = std::getenv("AOPLAY_PLOT_COMMAND");
        call.command = {command != nullptr ? command : PLOT_COMMAND};
        call.env = std::move(env);
        return run_tool(call);
    }

    // Plots with the gnuplot input kept, which is returned.
    std::string plot_script(const std::string &trace, const std::string &picture,
                            ToolRun *run_out = nullptr) {
        ToolRun run = plot({"--script", path("plot.gp"), trace, picture});
        EXPECT_EQ(run.status, 0) << run.err;
        if (run_out != nullptr) *run_out = run;
        return read_file(path("plot.gp"));
    }

    // A run of the tool on the simulated board, its trace in the scratch folder.
    std::string tool_trace(std::vector<std::string> args, const std::string &table,
                           std::vector<std::pair<std::string, std::string>> env) {
        ToolCall call = tool_call(std::move(args), table);
        env.push_back({"BOARDSIM_TRACE", path("run.csv")});
        call.env = std::move(env);
        ToolRun run = run_tool(call);
        EXPECT_EQ(run.status, 0) << run.err;
        return path("run.csv");
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_ = scratch_path("plot");
};

TEST_F(Plot, PictureBesideTheTraceIsAPngOfTheExpectedSize) {
    const std::string trace = trace_file(one_scan, "run 1.CSV");
    ToolRun run = plot({trace});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const PngSize size = png_size(read_file(path("run 1.png")));
    EXPECT_TRUE(size.valid);
    EXPECT_EQ(size.width, 1280u);
    EXPECT_EQ(size.height, 720u);
    EXPECT_EQ(files(), (std::vector<std::string>{"run 1.CSV", "run 1.png"}));
}

TEST_F(Plot, SvgPictureHoldsTheTitleAndTheSize) {
    // A name gnuplot would expand in double quotes: it must come out as it stands.
    const std::string name = "it's `echo expanded` @x.csv";
    const std::string trace = trace_file(one_scan, name);
    ToolRun run = plot({trace, path("run.svg")});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string svg = read_file(path("run.svg"));
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("width=\"1280\" height=\"720\""), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_NE(svg.find("samples=8 outputs=4 missed=4 polls=9"), std::string::npos);
    EXPECT_NE(svg.find("`echo expanded` @x.csv"), std::string::npos) << "the trace's name";
}

TEST_F(Plot, ShortTraceIsPlottedRowByRowWithItsMissedSamples) {
    const std::string script = plot_script(trace_file(one_scan), path("run.png"));
    auto blocks = data_blocks(script);
    const std::vector<XY> rows = {{0, 0},        {0.001, 1},   {0.002, 2},
                                  {0.005, -1.5}, {0.006, 0.5}, {0.0085, 0}};
    ASSERT_EQ(blocks["steps"].size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_DOUBLE_EQ(blocks["steps"][i].x, rows[i].x) << "row " << i;
        EXPECT_DOUBLE_EQ(blocks["steps"][i].y, rows[i].y) << "row " << i;
    }
    // Samples 3 and 4 between the outputs at 2 and 5 ms; 7 and 8 after the last output, before
    // the write that followed the stop.
    const std::vector<XY> &missed = blocks["missed"];
    EXPECT_EQ(total(missed), 4);
    double between = 0, after = 0;
    for (const XY &column : missed) {
        if (column.x > 0.002 && column.x < 0.005) between += column.y;
        if (column.x > 0.006 && column.x < 0.0085) after += column.y;
    }
    EXPECT_EQ(between, 2);
    EXPECT_EQ(after, 2);
    EXPECT_NE(script.find("set multiplot title '" + path("trace.csv") +
                          "' . \"\\n\" . "
                          "'samples=8 outputs=4 missed=4 polls=9'"),
              std::string::npos);
}

TEST_F(Plot, ReductionKeepsAOneRowSpikeAndDropoutOfALongTrace) {
    constexpr long rows = 300000;
    constexpr long spike = 123457;
    constexpr long dropout = 234567;
    std::string text = header;
    text.reserve(static_cast<std::size_t>(rows) * 48);
    for (long count = 1; count <= rows; ++count) {
        double volts = std::round(4000.0 * std::sin(static_cast<double>(count) * 1e-4)) / 1000.0;
        if (count == spike) volts = 9.5;
        if (count == dropout) volts = -7.25;
        text += row(static_cast<double>(count) * 1e-5, count, (count - 1) % 10000, volts);
    }
    text += "# samples=300000 outputs=300000 missed=0 polls=300001\n";
    const std::string script = plot_script(trace_file(text), path("run.png"));
    const std::vector<XY> steps = data_blocks(script)["steps"];

    EXPECT_LE(steps.size(), 4u * 1280u) << "reduced to the picture's columns";
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end(),
                               [](const XY &a, const XY &b) { return a.x < b.x; }));
    auto has = [&](double seconds, double volts) {
        return std::any_of(steps.begin(), steps.end(), [&](const XY &p) {
            return std::abs(p.x - seconds) < 1e-12 && p.y == volts;
        });
    };
    EXPECT_TRUE(has(spike * 1e-5, 9.5)) << "the spike";
    EXPECT_TRUE(has(dropout * 1e-5, -7.25)) << "the dropout";
    EXPECT_TRUE(has(1e-5, 0.0)) << "the first row";
    EXPECT_DOUBLE_EQ(steps.back().x, rows * 1e-5) << "the last row";
    EXPECT_TRUE(png_size(read_file(path("run.png"))).valid);
}

TEST_F(Plot, SeveralScansEachWithItsSummaryAndMissedSamples) {
    const std::string text =
        std::string(header) + row(0, 0, -1, 0) + row(0.001, 1, 0, 1) + row(0.003, 3, 2, 1) +
        "# samples=3 outputs=2 missed=1 polls=4\n" + row(0.004, 3, -1, 0) +
        // a scan with no output at all
        "# samples=5 outputs=0 missed=5 polls=6\n" + row(0.010, 5, -1, 0) +
        // its first two samples missed, and the process ended with it running
        row(0.013, 3, 2, 2) + row(0.014, 4, 3, 2) +
        "# samples=6 outputs=2 missed=4 polls=5 (scan still running at exit)\n";
    ToolRun run;
    const std::string script = plot_script(trace_file(text), path("run.png"), &run);
    EXPECT_EQ(run.err, "") << "the rows agree with the summaries";
    EXPECT_TRUE(png_size(read_file(path("run.png"))).valid);
    EXPECT_NE(script.find("'scan 1: samples=3 outputs=2 missed=1 polls=4' . \"\\n\" . "
                          "'scan 2: samples=5 outputs=0 missed=5 polls=6' . \"\\n\" . "
                          "'scan 3: samples=6 outputs=2 missed=4 polls=5 (scan still running at "
                          "exit)'"),
              std::string::npos);

    struct Expected {
        double from, to, samples;
    };
    // The last two at the scan's pace after its last output: 15 and 16 ms.
    const Expected spans[] = {
        {0.001, 0.003, 1}, {0.004, 0.010, 5}, {0.010, 0.013, 2}, {0.0145, 0.0165, 2}};
    const std::vector<XY> missed = data_blocks(script)["missed"];
    EXPECT_EQ(total(missed), 10);
    for (const Expected &span : spans) {
        double found = 0;
        for (const XY &column : missed)
            if (column.x > span.from && column.x < span.to) found += column.y;
        EXPECT_EQ(found, span.samples) << "between " << span.from << " and " << span.to;
    }
}

// A clocked output's trace: a row per sample, and only what its summary counts was missed, even
// where the input scan took a sample or two after the output's last row.
TEST_F(Plot, ClockedOutputTracesAreDrawnWithTheirOwnMissedCount) {
    if (std::getenv("AOPLAY_WINE") != nullptr) GTEST_SKIP() << "no clocked output on Windows";
    const std::string trace = tool_trace(
        {"/SL:1", "/TS:1000"}, "v\n1\n-2\n3\n",
        {{"AOPLAY_OUTPUT", "clocked"}, {"BOARDSIM_CLOCK", "step"}, {"BOARDSIM_STOP_AFTER", "200"}});
    ToolRun run;
    std::string script = plot_script(trace, path("run.png"), &run);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(total(data_blocks(script)["missed"]), 0);
    EXPECT_NE(script.find("samples=200 outputs=200 missed=0 polls=201 output=clocked"),
              std::string::npos);

    const std::string text =
        std::string(header) + row(0, 0, -1, 0) + row(0.001, 1, 0, 1) + row(0.002, 2, 1, 2) +
        row(0.003, 3, 2, 3) + "# samples=4 outputs=3 missed=0 polls=5 output=clocked\n" +
        row(0.0041, 4, -1, 0) + row(0.005, 1, 0, 1) + row(0.006, 2, 1, 2) +
        "# samples=5 outputs=2 missed=3 polls=3 output=clocked\n" + row(0.0101, 5, -1, 0);
    script = plot_script(trace_file(text), path("short.png"), &run);
    EXPECT_EQ(run.err, "") << "the rows agree with the summaries";
    EXPECT_EQ(total(data_blocks(script)["missed"]), 3) << "only the second scan ran short";
}

TEST_F(Plot, ManyScansShowTheFirstFewAndTheTotals) {
    std::string text = header;
    for (int scan = 0; scan < 6; ++scan) {
        text += row(scan * 0.01, scan == 0 ? 0 : 2, -1, 0) + row(scan * 0.01 + 0.001, 1, 0, 1) +
                row(scan * 0.01 + 0.002, 2, 1, 2) + "# samples=2 outputs=2 missed=0 polls=3\n";
    }
    text += row(0.06, 2, -1, 0);
    const std::string script = plot_script(trace_file(text), path("run.svg"));
    EXPECT_NE(script.find("'scan 3: samples=2 outputs=2 missed=0 polls=3' . \"\\n\" . "
                          "'... and 3 more; all 6 scans: samples=12 outputs=12 missed=0 polls=18'"),
              std::string::npos)
        << script.substr(0, 2000);
    EXPECT_EQ(script.find("scan 4:"), std::string::npos);
}

TEST_F(Plot, SummaryThatDisagreesWithTheRowsIsAWarning) {
    std::string text = one_scan;
    text.replace(text.find("missed=4"), 8, "missed=3");
    ToolRun run;
    plot_script(trace_file(text), path("run.png"), &run);
    EXPECT_NE(run.err.find("warning: " + path("trace.csv") +
                           ": scan 1: the rows show 4 missed samples, its summary 3"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(png_size(read_file(path("run.png"))).valid);
}

TEST_F(Plot, LastLineCutShortIsLeftOutWithAWarning) {
    std::string text = one_scan;
    text.resize(text.size() - 5);
    ToolRun run;
    const std::string script = plot_script(trace_file(text), path("run.png"), &run);
    EXPECT_NE(run.err.find(path("trace.csv") + ":8: the last line has no line end"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(data_blocks(script)["steps"].size(), 5u);
}

struct BadTrace {
    const char *name;
    std::string text;
    int line;
    const char *reason;
};

std::string long_line() {
    return std::string(header) + std::string(5000, '1') + "\n";
}

const BadTrace bad_traces[] = {
    {"Empty", "", 1, "empty file: no trace header"},
    {"HeaderOnly", header, 2, "no output rows"},
    {"SummariesOnly", std::string(header) + "# samples=0 outputs=0 missed=0 polls=1\n", 3,
     "no output rows"},
    {"NotATrace", "time_s volts\n0.000 0.000000\n", 1, "not a board trace"},
    {"Binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), 1, "not a board trace"},
    {"FewFields", std::string(header) + row(0, 0, -1, 0) + "0.001,1,0,32768\n", 3,
     "expected 5 fields (seconds,count,index,raw,volts), found 4"},
    {"ManyFields", std::string(header) + "0.001,1,0,32768,0.0,7\n", 2, "found 6"},
    {"TextForVolts", std::string(header) + "0.001,1,0,32768,abc\n", 2,
     "volts 'abc' is not a voltage"},
    {"NanVolts", std::string(header) + "0.001,1,0,32768,nan\n", 2, "volts 'nan'"},
    {"NegativeCount", std::string(header) + "0.001,-1,0,32768,0.0\n", 2, "count '-1'"},
    {"HugeCount", std::string(header) + "0.001,9007199254740993,0,32768,0.0\n", 2,
     "count '9007199254740993' is not a sample count"},
    {"IndexBelowMinusOne", std::string(header) + "0.001,1,-2,32768,0.0\n", 2, "index '-2'"},
    {"EmptySeconds", std::string(header) + ",1,0,32768,0.0\n", 2, "seconds ''"},
    {"FarFutureSeconds", std::string(header) + "1e13,0,-1,32768,0.0\n", 2,
     "seconds '1e13' is not a time from 0 to 1e12"},
    {"BlankLine", std::string(header) + row(0, 0, -1, 0) + "\n" + row(0.1, 0, -1, 0), 3,
     "empty line"},
    {"TimeGoesBack", std::string(header) + row(0.002, 0, -1, 0) + row(0.001, 0, -1, 0), 3,
     "seconds go back"},
    {"CountGoesBack", std::string(header) + row(0.001, 5, 4, 0) + row(0.002, 4, 3, 0), 3,
     "count goes back from 5 within a scan"},
    {"BadSummary", std::string(header) + row(0, 0, -1, 0) + "# samples=3 missed=1\n", 3,
     "not a scan summary"},
    {"LongLine", long_line(), 2, "a line longer than 4096 characters"},
};

void PrintTo(const BadTrace &bad, std::ostream *out) {
    *out << bad.name;
}

class PlotBadTrace : public Plot, public testing::WithParamInterface<BadTrace> {};

TEST_P(PlotBadTrace, NamesTheFileAndLineAndLeavesNoPicture) {
    const BadTrace &bad = GetParam();
    const std::string trace = trace_file(bad.text);
    ToolRun run = plot({trace, path("run.png")});
    EXPECT_EQ(run.status, 1);
    const std::string where = "aoplay-plot: " + trace + ":" + std::to_string(bad.line) + ": ";
    EXPECT_EQ(run.err.rfind(where, 0), 0u) << run.err;
    EXPECT_NE(run.err.find(bad.reason), std::string::npos) << run.err;
    EXPECT_EQ(files(), std::vector<std::string>{"trace.csv"});
}

INSTANTIATE_TEST_SUITE_P(Table, PlotBadTrace, testing::ValuesIn(bad_traces),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(Plot, MissingTraceOrFolderIsNamed) {
    ToolRun run = plot({path("none.csv")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "aoplay-plot: " + path("none.csv") + ": cannot open: No such file or directory\n");
    run = plot({dir_, path("run.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "aoplay-plot: " + dir_ + ": cannot read: Is a directory\n");
    EXPECT_TRUE(files().empty());
}

TEST_F(Plot, FailedRunLeavesAnEarlierPictureAsItWas) {
    write_file(path("run.png"), "the picture of an earlier run");
    ToolRun run = plot({trace_file("seconds,count\n"), path("run.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(path("run.png")), "the picture of an earlier run");
    EXPECT_EQ(files(), (std::vector<std::string>{"run.png", "trace.csv"}));
    run = plot({path("trace.csv"), path("run.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(path("run.png")), "the picture of an earlier run");
    write_file(path("trace.csv"), one_scan);
    run = plot({path("trace.csv"), path("run.png")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(png_size(read_file(path("run.png"))).valid);
}

TEST_F(Plot, MissingGnuplotNamesThePackage) {
    ToolRun run = plot({trace_file(one_scan), path("run.png")}, {{"PATH", dir_ + "/no-such-dir"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("gnuplot"), std::string::npos);
    EXPECT_NE(run.err.find("gnuplot-nox"), std::string::npos) << run.err;
    EXPECT_EQ(files(), std::vector<std::string>{"trace.csv"});
}

std::string path_now() {
    const char *path = std::getenv("PATH");
    return path != nullptr ? path : "/usr/bin:/bin";
}

// A gnuplot of the test's own in a folder of its own, for what the real one will not do on cue.
std::string fake_gnuplot(const std::string &folder, const std::string &body) {
    fs::create_directories(folder);
    write_file(folder + "/gnuplot", "#!/bin/sh\n" + body + "\n");
    fs::permissions(folder + "/gnuplot", fs::perms::owner_all);
    return folder;
}

TEST_F(Plot, FailingGnuplotLeavesNoPicture) {
    const std::string bin =
        fake_gnuplot(dir_ + "/bin", "cat >/dev/null; echo 'no font' >&2; exit 3");
    ToolRun run = plot({trace_file(one_scan), path("run.png")}, {{"PATH", bin + ":" + path_now()}});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "no font\naoplay-plot: gnuplot failed (status 3): no picture written\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"bin", "trace.csv"}));
}

TEST_F(Plot, InterruptedRunLeavesNoPicture) {
    // gnuplot reads nothing, so aoplay-plot waits to hand it the script until the signal comes.
    const std::string bin = fake_gnuplot(dir_ + "/bin", "exec sleep 5");
    ToolCall call = tool_call({trace_file(one_scan), path("run.png")}, "");
    call.command = {std::getenv("AOPLAY_PLOT_COMMAND") != nullptr
                        ? std::getenv("AOPLAY_PLOT_COMMAND")
                        : PLOT_COMMAND};
    call.env = {{"PATH", bin + ":" + path_now()}};
    call.term_after_ms = 500;
    ToolRun run = run_tool(call);
    EXPECT_EQ(run.end_signal, 15);
    EXPECT_EQ(files(), (std::vector<std::string>{"bin", "trace.csv"}));
}

TEST_F(Plot, WrongCommandLinesAreRefused) {
    const std::string trace = trace_file(one_scan);
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {{}, "usage: aoplay-plot"},
        {{trace, path("run.jpg")}, "run.jpg: the picture's name must end in .png or .svg"},
        {{trace, path("a.png"), path("b.png")}, "usage: aoplay-plot"},
        {{"--script"}, "missing value: --script"},
        {{"--bogus", trace}, "unknown option"},
        {{trace, path("no-such-dir/run.png")}, "run.png: cannot create a file in"},
    };
    for (const Case &bad : cases) {
        ToolRun run = plot(bad.args);
        EXPECT_EQ(run.status, 1) << bad.message;
        EXPECT_NE(run.err.find(bad.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(files(), std::vector<std::string>{"trace.csv"});
    ToolRun help = plot({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: aoplay-plot", 0), 0u);
}

// The bundled example on the step clock, as the README shows it.
TEST_F(Plot, ExampleRunOfTheTool) {
    const std::string trace =
        tool_trace({"/SL:1", "/XC:2", "/TS:1000"}, read_file(EXAMPLE_TABLE),
                   {{"BOARDSIM_CLOCK", "step"}, {"BOARDSIM_STOP_AFTER", "12000"}});
    ToolRun run;
    const std::string script = plot_script(trace, path("example.png"), &run);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(script.find("'samples=12000 outputs=12000 missed=0 polls=12001'"), std::string::npos);
    EXPECT_NE(script.find("no samples missed"), std::string::npos);
    const auto steps = data_blocks(script)["steps"];
    EXPECT_LE(steps.size(), 4u * 1280u);
    EXPECT_DOUBLE_EQ(
        std::max_element(steps.begin(), steps.end(), [](auto a, auto b) { return a.y < b.y; })->y,
        5.0)
        << "the sine's top";
    const PngSize size = png_size(read_file(path("example.png")));
    EXPECT_TRUE(size.valid);
    EXPECT_EQ(size.width, 1280u);
}

// On the real clock at a high rate the tool misses samples, however many: the marks must add
// up to what the board counted.
TEST_F(Plot, MissedMarksAddUpToTheBoardsCount) {
    std::string table;
    for (int i = 0; i < 10000; ++i)
        table += std::to_string(std::sin(i * 0.01) * 5) + "\n";
    const std::string trace =
        tool_trace({"/TS:1000000"}, table, {{"BOARDSIM_STOP_AFTER", "300000"}});
    ToolRun run;
    const std::string script = plot_script(trace, path("run.png"), &run);
    EXPECT_EQ(run.err, "") << "the rows agree with the summary";
    const Trace board = read_trace(trace);
    ASSERT_EQ(board.summaries.size(), 1u);
    long missed = 0;
    std::sscanf(board.summaries[0].c_str(), "# samples=%*d outputs=%*d missed=%ld", &missed);
    EXPECT_EQ(total(data_blocks(script)["missed"]), static_cast<double>(missed));
}

} // namespace
