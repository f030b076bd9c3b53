// libFuzzer target: arbitrary bytes as a seed, a level, a tick count and a source; a program
// that compiles plays a short match and its frame document is written.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (const char* problem = prendax::fuzz_match_input(data, size)) {
        std::fprintf(stderr, "property failed: %s\n", problem);
        std::abort();
    }
    return 0;
}
