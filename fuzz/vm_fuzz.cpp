// libFuzzer target: the VM on arbitrary instruction arrays (opcodes, arguments and numbers
// from the input, up to 2048 of them) with the world as its host. A structure-aware
// mutator grows inputs by whole instructions, so long programs are reached.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"
#include "fuzz/vm_mutator.h"

extern "C" std::size_t LLVMFuzzerMutate(uint8_t* data, std::size_t size, std::size_t maxSize);

// Half the mutations are libFuzzer's own byte edits, half edit whole instructions.
extern "C" std::size_t LLVMFuzzerCustomMutator(uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    if (seed % 2 == 0) return LLVMFuzzerMutate(data, size, maxSize);
    return prendax::vm_mutate(data, size, maxSize, seed / 2);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (const char* problem = prendax::fuzz_vm_input(data, size)) {
        std::fprintf(stderr, "property failed: %s\n", problem);
        std::abort();
    }
    return 0;
}
