// libFuzzer target: arbitrary bytes through compile_source, then the compile result document.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (const char* problem = prendax::fuzz_compile_input(data, size)) {
        std::fprintf(stderr, "property failed: %s\n", problem);
        std::abort();
    }
    return 0;
}
