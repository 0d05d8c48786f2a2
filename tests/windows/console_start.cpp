// Starts a console program as cmd.exe does for `program arguments < file`: on this process's
// console, standard input from the file, and ends with the program's exit status. Ctrl-C and
// Ctrl-Break reach the program too; this process lets them pass, as cmd.exe does.
//   console_start.exe file program.exe [argument...]
// Under wine it stands in for cmd.exe, whose status after a Ctrl-C is 0 whatever the program's.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

BOOL WINAPI let_pass(DWORD) {
    return TRUE;
}

// A command line word as the C runtime splits them again (no quotes inside, here).
std::string word(const char *text) {
    std::string w(text);
    return w.find_first_of(" \t") == std::string::npos ? w : "\"" + w + "\"";
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fputs("usage: console_start file program.exe [argument...]\n", stderr);
        return 2;
    }
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE input =
        CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, &inherited, OPEN_EXISTING, 0, nullptr);
    HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE || screen == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "console_start: no %s (error %lu)\n",
                     input == INVALID_HANDLE_VALUE ? argv[1] : "console", GetLastError());
        return 2;
    }
    std::string command = word(argv[2]);
    for (int i = 3; i < argc; ++i)
        command += " " + word(argv[i]);

    SetConsoleCtrlHandler(let_pass, TRUE);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = screen;
    startup.hStdError = screen;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "console_start: cannot start %s (error %lu)\n", argv[2],
                     GetLastError());
        return 127;
    }
    CloseHandle(input);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
