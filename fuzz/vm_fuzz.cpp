// libFuzzer target: the VM on arbitrary instruction arrays (opcodes, arguments and numbers
// from the input, up to 2048 of them) with the world as its host.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (const char* problem = prendax::fuzz_vm_input(data, size)) {
        std::fprintf(stderr, "property failed: %s\n", problem);
        std::abort();
    }
    return 0;
}
