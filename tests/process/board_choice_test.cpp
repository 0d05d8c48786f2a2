// Choosing the board through the built tool: AOPLAY_BOARD names the simulated board or a Comedi
// device, AOPLAY_TRACE asks for the trace on either, and a choice that cannot be had ends the
// run with status 1 and the output never driven.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

const std::string table = "volts\n1.0\n2.0\n3.0\n";
const std::string forms = "use sim (the simulated board; also when unset or empty), comedi (the "
                          "Comedi device /dev/comedi0) or comedi:PATH (the Comedi device file "
                          "PATH)\n";

bool under_wine() {
    return std::getenv("AOPLAY_WINE") != nullptr;
}

ToolRun play(std::vector<std::pair<std::string, std::string>> env) {
    ToolCall call = tool_call({"/SL:1", "/TS:1000"}, table);
    call.env = std::move(env);
    call.env.push_back({"BOARDSIM_CLOCK", "step"});
    call.env.push_back({"BOARDSIM_STOP_AFTER", "3"});
    return run_tool(call);
}

// The played rows of a run of the table: 0 V, the three values, 0 V.
void expect_played(const Trace &t) {
    ASSERT_TRUE(t.found);
    ASSERT_EQ(t.rows.size(), 5u);
    EXPECT_EQ(t.rows[1].raw, raw_code(1.0));
    EXPECT_EQ(t.rows[3].raw, raw_code(3.0));
    EXPECT_EQ(t.summaries, std::vector<std::string>{"# samples=3 outputs=3 missed=0 polls=4"});
}

TEST(BoardChoice, TheSimulatedBoardByEveryNameWithEitherTraceControl) {
    const std::string aoplay_trace = scratch_path("aoplay-trace.csv");
    const std::string sim_trace = scratch_path("sim-trace.csv");
    const struct {
        const char *board;
        bool aoplay_control, sim_control;
    } cases[] = {
        {nullptr, true, false}, {"", true, false}, {"sim", false, true}, {"sim", true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.board == nullptr ? "unset" : c.board);
        std::remove(aoplay_trace.c_str());
        std::remove(sim_trace.c_str());
        std::vector<std::pair<std::string, std::string>> env;
        if (c.board != nullptr) env.push_back({"AOPLAY_BOARD", c.board});
        if (c.aoplay_control) env.push_back({"AOPLAY_TRACE", aoplay_trace});
        if (c.sim_control) env.push_back({"BOARDSIM_TRACE", sim_trace});
        ToolRun run = play(env);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        // AOPLAY_TRACE wins where both are set.
        expect_played(read_trace(c.aoplay_control ? aoplay_trace : sim_trace));
        if (c.aoplay_control && c.sim_control) {
            EXPECT_FALSE(read_trace(sim_trace).found);
        }
    }
}

TEST(BoardChoice, AValueNamingNoBoardEndsTheRunBeforeAnythingIsDriven) {
    const std::string trace = scratch_path("trace.csv");
    for (const char *value : {"simulated", "SIM", "comedi:", "comedi0", "/dev/comedi0", " sim"}) {
        SCOPED_TRACE(value);
        ToolRun run = play({{"AOPLAY_BOARD", value}, {"AOPLAY_TRACE", trace}});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err,
                  "board: AOPLAY_BOARD=\"" + std::string(value) + "\" names no board; " + forms);
        EXPECT_FALSE(read_trace(trace).found) << "the board was used";
    }
}

// Devices that cannot be had here as they can anywhere: never the simulator in their place.
TEST(BoardChoice, AComediDeviceThatCannotBeUsedEndsTheRunWithItsReason) {
    const std::string trace = scratch_path("trace.csv");
    if (under_wine()) {
        ToolRun run = play({{"AOPLAY_BOARD", "comedi"}, {"AOPLAY_TRACE", trace}});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "board: AOPLAY_BOARD=\"comedi\" asks for the Comedi board, which this "
                           "build of aoplay does not have (it was built without comedilib); " +
                               forms);
        return;
    }
    const std::string absent = scratch_path("no-such-dir") + "/comedi0";
    const struct {
        std::string board, reason;
    } cases[] = {
        {"comedi:" + absent,
         "cannot open " + absent +
             ": No such file or directory: check that the board's Comedi driver module is "
             "loaded (lsmod) and, for a board that does not configure itself, that "
             "comedi_config has attached it"},
        {"comedi:/dev/null", "cannot open /dev/null: not a Comedi device (Inappropriate ioctl "
                             "for device)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.board);
        ToolRun run = play({{"AOPLAY_BOARD", c.board}, {"AOPLAY_TRACE", trace}});
        EXPECT_EQ(run.status, 1);
        // Each board call tries the device again: its fault is told once, then the stop.
        EXPECT_EQ(run.err, "comedi: cbFromEngUnits: error 13 (fatal): the board's device cannot "
                           "be used: " +
                               c.reason + "\ncomedi: stopping the program after error 13\n");
        const Trace t = read_trace(trace);
        EXPECT_TRUE(t.found);
        EXPECT_TRUE(t.rows.empty()) << "something was driven";
        EXPECT_TRUE(t.summaries.empty()) << "a scan ran";
    }
}

} // namespace
