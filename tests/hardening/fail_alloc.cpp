// Test-only malloc shim, loaded with LD_PRELOAD: while AOPLAY_FAIL_MALLOC_SIZE names a size,
// every malloc of exactly that many bytes returns null; all other calls go to the C library.
#include <cstddef>
#include <stdlib.h>

extern "C" void *__libc_malloc(std::size_t size);

namespace {

// The size to refuse, read once; 0 when none. getenv allocates nothing, so it is safe here.
std::size_t refused_size() {
    static std::size_t size = [] {
        const char *text = getenv("AOPLAY_FAIL_MALLOC_SIZE");
        std::size_t value = 0;
        for (; text != nullptr && *text >= '0' && *text <= '9'; ++text)
            value = value * 10 + static_cast<std::size_t>(*text - '0');
        return value;
    }();
    return size;
}

} // namespace

extern "C" void *malloc(std::size_t size) noexcept {
    if (size != 0 && size == refused_size()) return nullptr;
    return __libc_malloc(size);
}
