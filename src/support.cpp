// Fatal exit, allocation that never comes back empty, and the case-folding keyword test.
#include "aoplay.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

constexpr std::size_t element_size = 4; // one single-precision value

void fatal_error(const char *message) {
    std::fputs(message, stderr);
    std::exit(1);
}

void *calloc_or_exit(std::size_t count) {
    void *block = std::calloc(count, element_size);
    if (block == nullptr) fatal_error("Not enough memory !\n");
    return block;
}

void *realloc_or_exit(void *block, std::size_t count) {
    if (count > SIZE_MAX / element_size) fatal_error("Not enough memory !\n");
    void *moved = std::realloc(block, count * element_size);
    if (moved == nullptr) fatal_error("Not enough memory !\n");
    return moved;
}

int match_keyword(char *token, const char *keyword, int n, char stop) {
    for (int i = 0; i < n && token[i] != '\0' && token[i] != stop; ++i)
        if (token[i] >= 'a' && token[i] <= 'z') token[i] = static_cast<char>(token[i] - 'a' + 'A');
    return std::strncmp(token, keyword, static_cast<std::size_t>(n < 0 ? 0 : n));
}
