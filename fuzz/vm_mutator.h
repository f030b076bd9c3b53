// A structure-aware mutator for the VM target's inputs. Byte-level mutation
// rarely grows an input by whole instructions, so long programs were reached
// only from the seed inputs; this one edits whole instructions and writes
// runs of mostly valid code: deep REPEAT nests, long jump chains, full stacks,
// copies of stretches of the program, and runs of instructions whose operands
// line up.
#pragma once

#include <cstddef>
#include <cstdint>

namespace prendax {

// Mutates the VM input data[0..size) in place into at most maxSize bytes (the
// buffer holds maxSize); returns the new size. The header is kept (or made);
// the rest stays whole instructions. The same seed gives the same mutation.
std::size_t vm_mutate(uint8_t* data, std::size_t size, std::size_t maxSize, uint32_t seed);

}  // namespace prendax
