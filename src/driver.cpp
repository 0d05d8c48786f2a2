// The joined argument text the option parser works on.
#include "aoplay.h"

#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

char arg_text[text_capacity];

// The arguments after the program name, glued together with nothing between them: the option
// parser sees one text in which only '/' separates options.
void join_arguments(int argc, char **argv) {
    std::size_t length = 0;
    arg_text[0] = '\0';
    for (int i = 1; i < argc; ++i) {
        std::size_t part = std::strlen(argv[i]);
        if (part > sizeof arg_text - 1 - length) fatal_error("Command line too long !\n");
        std::memcpy(arg_text + length, argv[i], part);
        length += part;
    }
    arg_text[length] = '\0';
}
