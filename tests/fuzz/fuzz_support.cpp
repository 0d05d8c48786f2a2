#include "fuzz_support.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

extern "C" {
[[noreturn]] void __real_exit(int status);
int __real_fputs(const char *text, std::FILE *stream);
std::size_t __real_fwrite(const void *data, std::size_t size, std::size_t count, std::FILE *stream);
}

namespace {

std::jmp_buf *way_back = nullptr; // set while a phase runs
int exit_status = 0;
std::string *captured = nullptr; // standard error of the running phase

} // namespace

extern "C" {

[[noreturn]] void __wrap_exit(int status) {
    if (way_back == nullptr) __real_exit(status);
    exit_status = status;
    std::longjmp(*way_back, 1);
}

int __wrap_fputs(const char *text, std::FILE *stream) {
    if (captured == nullptr || stream != stderr) return __real_fputs(text, stream);
    captured->append(text);
    return 1;
}

std::size_t __wrap_fwrite(const void *data, std::size_t size, std::size_t count,
                          std::FILE *stream) {
    if (captured == nullptr || stream != stderr) return __real_fwrite(data, size, count, stream);
    captured->append(static_cast<const char *>(data), size * count);
    return count;
}
}

namespace fuzz {

Ending run_phase(void (*phase)()) {
    static Ending ending; // static: it must survive the longjmp unchanged
    ending = Ending{};
    std::jmp_buf here;
    captured = &ending.err;
    if (setjmp(here) == 0) {
        way_back = &here;
        phase();
    } else {
        ending.exited = true;
        ending.status = exit_status;
    }
    way_back = nullptr;
    captured = nullptr;
    return ending;
}

void fault(const char *what) {
    std::fprintf(stderr, "fuzz fault: %s\n", what);
    std::abort();
}

} // namespace fuzz
