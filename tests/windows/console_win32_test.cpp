// The Windows console layer on a real console: under wine, the console of a pseudo-terminal
// (scripts/test-windows). Keys are injected into the console's input with WriteConsoleInputA,
// the screen is a console buffer of the test's own made standard output, and the tool itself
// runs on such a buffer to be ended by a key, Ctrl-C or Ctrl-Break.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

// Generous: the machine is shared and noisy. Waits end as soon as their condition holds.
constexpr ULONGLONG patience_ms = 60000;

template <class Condition> bool eventually(Condition condition) {
    const ULONGLONG give_up = GetTickCount64() + patience_ms;
    while (!condition()) {
        if (GetTickCount64() > give_up) return false;
        Sleep(10);
    }
    return true;
}

HANDLE console_input() {
    static HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return input;
}

DWORD pending_events() {
    DWORD count = 0;
    GetNumberOfConsoleInputEvents(console_input(), &count);
    return count;
}

void inject(const std::vector<INPUT_RECORD> &events) {
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(console_input(), events.data(),
                                   static_cast<DWORD>(events.size()), &written));
    ASSERT_EQ(written, events.size());
}

INPUT_RECORD key(bool down, WORD code, char ch, DWORD state = 0) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = code;
    r.Event.KeyEvent.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyA(code, 0));
    r.Event.KeyEvent.uChar.AsciiChar = ch;
    r.Event.KeyEvent.dwControlKeyState = state;
    return r;
}
INPUT_RECORD press(WORD code, char ch = 0, DWORD state = 0) {
    return key(true, code, ch, state);
}
INPUT_RECORD release(WORD code, char ch = 0, DWORD state = 0) {
    return key(false, code, ch, state);
}

INPUT_RECORD mouse_moved() {
    INPUT_RECORD r{};
    r.EventType = MOUSE_EVENT;
    r.Event.MouseEvent.dwMousePosition = {10, 5};
    r.Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
    return r;
}
INPUT_RECORD mouse_clicked() {
    INPUT_RECORD r = mouse_moved();
    r.Event.MouseEvent.dwButtonState = FROM_LEFT_1ST_BUTTON_PRESSED;
    r.Event.MouseEvent.dwEventFlags = 0;
    return r;
}
INPUT_RECORD window_resized() {
    INPUT_RECORD r{};
    r.EventType = WINDOW_BUFFER_SIZE_EVENT;
    r.Event.WindowBufferSizeEvent.dwSize = {100, 40};
    return r;
}
INPUT_RECORD focus_gained() {
    INPUT_RECORD r{};
    r.EventType = FOCUS_EVENT;
    r.Event.FocusEvent.bSetFocus = TRUE;
    return r;
}
INPUT_RECORD menu_used() {
    INPUT_RECORD r{};
    r.EventType = MENU_EVENT;
    r.Event.MenuEvent.dwCommandId = 0x100;
    return r;
}

std::vector<INPUT_RECORD> repeated(INPUT_RECORD r, int n) {
    return std::vector<INPUT_RECORD>(static_cast<std::size_t>(n), r);
}
std::vector<INPUT_RECORD> joined(std::vector<INPUT_RECORD> a, const std::vector<INPUT_RECORD> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Names parametrized cases after their table entry's name.
struct ByName {
    template <class Case> std::string operator()(const testing::TestParamInfo<Case> &c) const {
        return c.param.name;
    }
};

struct EventCase {
    const char *name;
    std::vector<INPUT_RECORD> events;
    bool is_key_press;
};

void PrintTo(const EventCase &c, std::ostream *os) {
    *os << c.name;
}

class KeyPending : public testing::TestWithParam<EventCase> {
  protected:
    void SetUp() override {
        ASSERT_NE(console_input(), INVALID_HANDLE_VALUE)
            << "no console: run these tests on a console (under wine: in a pseudo-terminal)";
        ASSERT_TRUE(FlushConsoleInputBuffer(console_input()));
    }
    void TearDown() override { FlushConsoleInputBuffer(console_input()); }
};

TEST_P(KeyPending, SeesAKeyPressAmongTheEventsAndLeavesThemAll) {
    const EventCase &c = GetParam();
    inject(c.events);
    ASSERT_EQ(pending_events(), c.events.size());
    EXPECT_EQ(key_pending(), c.is_key_press ? 1 : 0);
    EXPECT_EQ(key_pending(), c.is_key_press ? 1 : 0) << "the answer holds on the next call";
    EXPECT_EQ(pending_events(), c.events.size()) << "no event is removed";
}

constexpr DWORD right_ctrl = ENHANCED_KEY | RIGHT_CTRL_PRESSED;
constexpr DWORD right_alt = ENHANCED_KEY | RIGHT_ALT_PRESSED;

const EventCase event_cases[] = {
    {"letter", {press('Q', 'q')}, true},
    {"letter_pressed_and_released", {press('Q', 'q'), release('Q', 'q')}, true},
    {"ctrl_letter",
     {press(VK_CONTROL, 0, LEFT_CTRL_PRESSED), press('A', 1, LEFT_CTRL_PRESSED)},
     true},
    {"enter", {press(VK_RETURN, '\r')}, true},
    {"escape", {press(VK_ESCAPE, 27)}, true},
    {"left_arrow", {press(VK_LEFT, 0, ENHANCED_KEY)}, true},
    {"down_arrow", {press(VK_DOWN, 0, ENHANCED_KEY)}, true},
    {"f5", {press(VK_F5)}, true},
    {"delete", {press(VK_DELETE, 0, ENHANCED_KEY)}, true},
    {"letter_released_only", {release('Q', 'q')}, false},
    {"arrow_and_f5_released_only", {release(VK_LEFT, 0, ENHANCED_KEY), release(VK_F5)}, false},
    {"shift", {press(VK_SHIFT, 0, SHIFT_PRESSED)}, false},
    {"ctrl", {press(VK_CONTROL, 0, LEFT_CTRL_PRESSED)}, false},
    {"alt", {press(VK_MENU, 0, LEFT_ALT_PRESSED)}, false},
    {"right_ctrl", {press(VK_CONTROL, 0, right_ctrl)}, false},
    {"right_alt", {press(VK_MENU, 0, right_alt)}, false},
    {"caps_lock", {press(VK_CAPITAL, 0, CAPSLOCK_ON)}, false},
    {"num_lock", {press(VK_NUMLOCK, 0, ENHANCED_KEY | NUMLOCK_ON)}, false},
    {"scroll_lock", {press(VK_SCROLL, 0, SCROLLLOCK_ON)}, false},
    {"held_shift_repeating", repeated(press(VK_SHIFT, 0, SHIFT_PRESSED), 40), false},
    {"mouse_moved", {mouse_moved()}, false},
    {"mouse_clicked", {mouse_clicked()}, false},
    {"window_resized", {window_resized()}, false},
    {"focus", {focus_gained()}, false},
    {"menu", {menu_used()}, false},
    {"letter_after_other_events",
     {mouse_moved(), focus_gained(), menu_used(), window_resized(),
      press(VK_SHIFT, 0, SHIFT_PRESSED), press('Q', 'Q', SHIFT_PRESSED)},
     true},
    {"letter_after_300_mouse_moves", joined(repeated(mouse_moved(), 300), {press('X', 'x')}), true},
    {"f5_after_300_key_releases", joined(repeated(release('Q', 'q'), 300), {press(VK_F5)}), true},
};

INSTANTIATE_TEST_SUITE_P(Events, KeyPending, testing::ValuesIn(event_cases), ByName());

TEST(KeyPendingEmpty, NoEventsIsNoKey) {
    ASSERT_NE(console_input(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(FlushConsoleInputBuffer(console_input()));
    EXPECT_EQ(key_pending(), 0);
    inject({press('Q', 'q')});
    EXPECT_EQ(key_pending(), 1) << "a key arriving after a no-key answer is seen";
    ASSERT_TRUE(FlushConsoleInputBuffer(console_input()));
    EXPECT_EQ(key_pending(), 0) << "and forgotten once the console no longer holds it";
}

// A console buffer of the test's own, 80 x 50 as the classic console, made standard output.
struct OwnScreen {
    explicit OwnScreen(bool inheritable = false) {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inheritable ? TRUE : FALSE};
        handle = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                                           CONSOLE_TEXTMODE_BUFFER, nullptr);
        if (handle != INVALID_HANDLE_VALUE) resize(height);
    }
    ~OwnScreen() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    OwnScreen(const OwnScreen &) = delete;
    OwnScreen &operator=(const OwnScreen &) = delete;

    // A buffer is never smaller than its window: the window is made 80 x 25 first.
    bool resize(SHORT rows) {
        const SMALL_RECT window{0, 0, width - 1, 24};
        return SetConsoleWindowInfo(handle, TRUE, &window) &&
               SetConsoleScreenBufferSize(handle, {width, rows});
    }
    COORD size() const {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        GetConsoleScreenBufferInfo(handle, &info);
        return info.dwSize;
    }
    COORD cursor() const {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        GetConsoleScreenBufferInfo(handle, &info);
        return info.dwCursorPosition;
    }
    std::string cells(DWORD first, DWORD count) const {
        std::string text(count, '\0');
        DWORD got = 0;
        COORD from{static_cast<SHORT>(first % width), static_cast<SHORT>(first / width)};
        ReadConsoleOutputCharacterA(handle, text.data(), count, from, &got);
        text.resize(got);
        return text;
    }
    // A row without its trailing blanks.
    std::string row(int n) const {
        std::string text = cells(static_cast<DWORD>(n) * width, width);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }

    static constexpr SHORT width = 80;
    static constexpr SHORT height = 50;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

// Standard output redirected to `to` for the length of a test.
class StandardOutput : public testing::Test {
  protected:
    void redirect(HANDLE to) {
        saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
        ASSERT_TRUE(SetStdHandle(STD_OUTPUT_HANDLE, to));
        redirected_ = true;
    }
    void TearDown() override {
        if (redirected_) SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    }

  private:
    HANDLE saved_ = INVALID_HANDLE_VALUE;
    bool redirected_ = false;
};

using Screen = StandardOutput;

TEST_F(Screen, ClearBlanksTheFirst4000CellsAndHomesTheCursor) {
    OwnScreen screen;
    ASSERT_NE(screen.handle, INVALID_HANDLE_VALUE);
    ASSERT_EQ(screen.size().X * screen.size().Y, 4000);
    // Room past the 4000 cells, to see that they are all the clear touches.
    ASSERT_TRUE(screen.resize(60));
    DWORD filled = 0;
    ASSERT_TRUE(FillConsoleOutputCharacterA(screen.handle, 'x', 4800, {0, 0}, &filled));
    ASSERT_TRUE(SetConsoleCursorPosition(screen.handle, {37, 41}));
    redirect(screen.handle);

    clear_screen();

    EXPECT_EQ(screen.cells(0, 4000), std::string(4000, ' '));
    EXPECT_EQ(screen.cells(4000, 800), std::string(800, 'x'));
    EXPECT_EQ(screen.cursor().X, 0);
    EXPECT_EQ(screen.cursor().Y, 0);
}

TEST_F(Screen, TheCursorGoesWhereSetAndIsReadWhereTheConsoleHasIt) {
    OwnScreen screen;
    ASSERT_NE(screen.handle, INVALID_HANDLE_VALUE);
    redirect(screen.handle);
    const COORD places[] = {{0, 0}, {1, 22}, {79, 0}, {0, 49}, {79, 49}, {12, 5}};
    for (COORD place : places) {
        set_cursor(place.X, place.Y);
        EXPECT_EQ(screen.cursor().X, place.X) << place.X << "," << place.Y;
        EXPECT_EQ(screen.cursor().Y, place.Y) << place.X << "," << place.Y;

        // Moved behind the layer's back: it reads the console, it keeps no copy.
        const COORD elsewhere{static_cast<SHORT>(79 - place.X), static_cast<SHORT>(49 - place.Y)};
        ASSERT_TRUE(SetConsoleCursorPosition(screen.handle, elsewhere));
        int col = -2;
        int row = -2;
        get_cursor(&col, &row);
        EXPECT_EQ(col, elsewhere.X);
        EXPECT_EQ(row, elsewhere.Y);
    }
    // Text written after a move starts there.
    set_cursor(3, 7);
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleA(screen.handle, "here", 4, &written, nullptr));
    EXPECT_EQ(screen.row(7), "   here");
}

TEST_F(StandardOutput, OnAFileTheCursorReadsMinusOneAndTheScreenCallsWriteNothing) {
    char dir[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
    const std::string path =
        std::string(dir) + "aoplay-console-" + std::to_string(GetCurrentProcessId()) + ".txt";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    redirect(file);

    int col = 0;
    int row = 0;
    get_cursor(&col, &row);
    EXPECT_EQ(col, -1);
    EXPECT_EQ(row, -1);
    clear_screen();
    set_cursor(1, 22);
    get_cursor(&col, &row);
    EXPECT_EQ(col, -1);
    EXPECT_EQ(row, -1);
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 0) << "nothing meant for a console lands in the file";
    CloseHandle(file);
}

// The tool (beside this program, as the build puts it) run on a console buffer of the test's
// own, with the simulated board's trace, ended from outside. Closing the console is the one
// ending left out: no program can send that event (and wine sends none when its terminal goes).
struct Ending {
    const char *name;
    enum { key_q, ctrl_c, ctrl_break } how;
    DWORD exit_code;
};

void PrintTo(const Ending &e, std::ostream *os) {
    *os << e.name;
}

std::string folder_of_this_program() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/") + 1);
}

std::string file_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Ctrl-C and Ctrl-Break go to every process on the console, this one too: it lets them pass.
BOOL WINAPI ignore_event(DWORD) {
    return TRUE;
}

class ToolRun : public testing::TestWithParam<Ending> {
  protected:
    void SetUp() override {
        ASSERT_NE(console_input(), INVALID_HANDLE_VALUE) << "no console";
        ASSERT_TRUE(FlushConsoleInputBuffer(console_input()));
        ASSERT_TRUE(SetConsoleCtrlHandler(ignore_event, TRUE));
        char dir[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
        static int serial = 0;
        const std::string stem = std::string(dir) + "aoplay-run-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(++serial);
        table_path_ = stem + "-table.txt";
        trace_path_ = stem + "-trace.csv";
        std::ofstream table(table_path_, std::ios::binary);
        table << "t v\n";
        for (int i = 0; i < 300; ++i)
            table << i << " " << (i % 10) * 0.5 << "\n";
    }
    void TearDown() override {
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        SetConsoleCtrlHandler(ignore_event, FALSE);
        FlushConsoleInputBuffer(console_input());
        DeleteFileA(table_path_.c_str());
        DeleteFileA(trace_path_.c_str());
    }

    void start(const OwnScreen &screen) {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        HANDLE table = CreateFileA(table_path_.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherited,
                                   OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(table, INVALID_HANDLE_VALUE);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = table;
        startup.hStdOutput = screen.handle;
        startup.hStdError = screen.handle;
        const std::string exe = folder_of_this_program() + "aoplay.exe";
        std::string command = "\"" + exe + "\" /SL:1 /XC:2 /TS:100";
        SetEnvironmentVariableA("BOARDSIM_TRACE", trace_path_.c_str());
        BOOL started = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process_);
        SetEnvironmentVariableA("BOARDSIM_TRACE", nullptr);
        CloseHandle(table);
        ASSERT_TRUE(started) << exe << ": error " << GetLastError();
    }
    DWORD wait_for_exit() {
        DWORD code = 259;
        if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(patience_ms)) ==
            WAIT_OBJECT_0)
            GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    std::string table_path_;
    std::string trace_path_;
    PROCESS_INFORMATION process_{};
};

TEST_P(ToolRun, EndsWithTheScreenClosedAndTheOutputAtZero) {
    const Ending &ending = GetParam();
    // Wine 8 refuses to send Ctrl-Break (ERROR_INVALID_HANDLE). Asked before the tool starts,
    // the event reaches only this process, which lets it pass.
    if (ending.how == Ending::ctrl_break && !GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
        GTEST_SKIP() << "this console sends no Ctrl-Break: error " << GetLastError();
    OwnScreen screen(true);
    ASSERT_NE(screen.handle, INVALID_HANDLE_VALUE);
    start(screen);
    ASSERT_TRUE(eventually([&] { return screen.row(5).rfind("Output Number:", 0) == 0; }))
        << "no status line; row 5: " << screen.row(5);
    EXPECT_EQ(screen.row(0), "");
    EXPECT_EQ(screen.row(1), "Outputting data...");
    EXPECT_EQ(screen.row(3), "Press any key to quit.");

    switch (ending.how) {
    case Ending::key_q:
        inject({press('Q', 'q'), release('Q', 'q')});
        break;
    case Ending::ctrl_c:
        ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        break;
    case Ending::ctrl_break:
        ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0));
        break;
    }
    EXPECT_EQ(wait_for_exit(), ending.exit_code);

    EXPECT_EQ(screen.row(6), "");
    EXPECT_EQ(screen.row(7), "Data collection terminated.");
    EXPECT_EQ(screen.cursor().X, 0);
    EXPECT_EQ(screen.cursor().Y, 23) << "the last line end is written from column 1 of row 22";
    if (ending.how == Ending::key_q) {
        EXPECT_EQ(pending_events(), 2u) << "the key that ended the run is left on the console";
    }

    const std::vector<std::string> trace = lines_of(file_text(trace_path_));
    ASSERT_GE(trace.size(), 4u) << file_text(trace_path_);
    EXPECT_EQ(trace.front(), "seconds,count,index,raw,volts");
    EXPECT_EQ(trace[1].substr(trace[1].find(",-1,")), ",-1,32768,0.000000")
        << "0 V before the scan";
    const std::string &last = trace.back();
    ASSERT_NE(last.find(",-1,"), std::string::npos) << last;
    EXPECT_EQ(last.substr(last.find(",-1,")), ",-1,32768,0.000000") << "0 V after the scan";
    EXPECT_EQ(trace[trace.size() - 2].rfind("# samples=", 0), 0u)
        << "the scan stopped before the last write: " << trace[trace.size() - 2];
    EXPECT_EQ(trace[trace.size() - 2].find("still running"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Endings, ToolRun,
                         testing::Values(Ending{"key", Ending::key_q, 0},
                                         Ending{"ctrl_c", Ending::ctrl_c, 128 + 2},
                                         Ending{"ctrl_break", Ending::ctrl_break, 128 + 21}),
                         ByName());

} // namespace
