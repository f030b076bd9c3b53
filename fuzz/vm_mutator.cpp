// Whole-instruction edits of a VM input. Instructions are written with plain
// operands: arg is an absolute instruction index (or a variable, a built-in)
// and num the value pushed, so a generated run works wherever it lands.
#include "fuzz/vm_mutator.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "compiler/bytecode.h"
#include "fuzz/fuzz_entries.h"
#include "vm/vm.h"

namespace prendax {

namespace {

using Encoded = std::array<uint8_t, VM_INSTRUCTION_BYTES>;

constexpr int MAX_NEST = MAX_REPEAT + 4;     // a little past the limit, so its error is reached too
constexpr int MAX_CHAIN = 512;               // jumps in one chain
constexpr int MAX_PUSHES = MAX_STACK + 16;   // a little past a full stack
constexpr int MAX_RUN = 256;                 // instructions of one mixed run
constexpr std::size_t VM_HEADER_TICKS = 6;   // the header's ticks byte (after count, seed and level)
constexpr std::size_t VM_HEADER_BUDGET = 7;  // the header's budget byte

// A small generator of its own, so a mutation depends on its seed alone.
struct Random {
    uint32_t state;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : next() % n; }
};

Encoded encode(uint8_t op, int32_t arg, double num, uint16_t line) {
    Encoded e{};
    e[0] = op;
    auto a = static_cast<uint32_t>(arg);
    for (int i = 0; i < 4; i++) e[1 + i] = static_cast<uint8_t>(a >> (8 * i));
    e[5] = static_cast<uint8_t>(line);
    e[6] = static_cast<uint8_t>(line >> 8);
    std::memcpy(&e[7], &num, sizeof num);
    return e;
}

struct Program {
    std::vector<Encoded> code;
    Random random;
    std::size_t capacity;  // instructions that fit
    uint16_t line() { return static_cast<uint16_t>(1 + random.below(60)); }
};

// PUSH n; REPEAT_START past its END; ... nested depth times around a small
// body, then the ENDs.
std::vector<Encoded> repeat_nest(Program& p, std::size_t at) {
    int depth = 1 + static_cast<int>(p.random.below(MAX_NEST));
    int body = 1 + static_cast<int>(p.random.below(4));
    std::vector<Encoded> out;
    std::size_t end = at + static_cast<std::size_t>(depth) * 3 + static_cast<std::size_t>(body);
    for (int d = 0; d < depth; d++) {
        out.push_back(encode(OP_PUSH, 0, 1 + p.random.below(3), p.line()));
        // The skip target: just past this level's REPEAT_END.
        out.push_back(encode(OP_REPEAT_START, static_cast<int32_t>(end - static_cast<std::size_t>(d)), 0, p.line()));
    }
    for (int b = 0; b < body; b++) {
        static constexpr uint8_t BODY[] = {OP_SHOOT, OP_MOVE_LEFT, OP_MOVE_RIGHT, OP_SHIELD, OP_HALT};
        out.push_back(encode(BODY[p.random.below(sizeof BODY)], 0, 0, p.line()));
    }
    for (int d = 0; d < depth; d++) out.push_back(encode(OP_REPEAT_END, 0, 0, p.line()));
    return out;
}

// JMPs that visit one another in a shuffled order, the last jumping past the chain.
std::vector<Encoded> jump_chain(Program& p, std::size_t at) {
    std::size_t n = 2 + p.random.below(MAX_CHAIN);
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; i++) order[i] = i;
    for (std::size_t i = n - 1; i > 1; i--) std::swap(order[i], order[1 + p.random.below(static_cast<uint32_t>(i))]);
    std::vector<Encoded> out(n);
    for (std::size_t k = 0; k < n; k++) {
        std::size_t target = k + 1 < n ? at + order[k + 1] : at + n;
        uint8_t op = p.random.below(8) == 0 ? OP_JNZ : OP_JMP;
        out[order[k]] = encode(op, static_cast<int32_t>(target), 0, p.line());
    }
    return out;
}

// Pushes up to a little past a full stack, then folds some of them.
std::vector<Encoded> stack_fill(Program& p) {
    int pushes = 1 + static_cast<int>(p.random.below(MAX_PUSHES));
    std::vector<Encoded> out;
    for (int i = 0; i < pushes; i++)
        out.push_back(encode(OP_PUSH, 0, static_cast<double>(p.random.below(9)), p.line()));
    static constexpr uint8_t FOLD[] = {OP_ADD, OP_SUB, OP_MUL, OP_DIV, OP_MOD, OP_LT, OP_EQ, OP_AND, OP_OR};
    int folds = static_cast<int>(p.random.below(static_cast<uint32_t>(pushes)));
    for (int i = 0; i < folds; i++) out.push_back(encode(FOLD[p.random.below(sizeof FOLD)], 0, 0, p.line()));
    return out;
}

// Any opcodes, with operands that name instructions and variables that exist.
std::vector<Encoded> mixed_run(Program& p) {
    std::size_t n = 1 + p.random.below(MAX_RUN);
    std::size_t total = p.code.size() + n;
    std::vector<Encoded> out;
    for (std::size_t i = 0; i < n; i++) {
        auto op = static_cast<uint8_t>(p.random.below(OPCODE_COUNT));
        int32_t arg = static_cast<int32_t>(p.random.below(static_cast<uint32_t>(total + 1)));
        if (op == OP_LOAD || op == OP_STORE) arg = static_cast<int32_t>(p.random.below(MAX_VARS));
        if (op == OP_CALL) arg = static_cast<int32_t>(p.random.below(8));
        out.push_back(encode(op, arg, static_cast<double>(static_cast<int32_t>(p.random.below(21)) - 5), p.line()));
    }
    return out;
}

// A copy of a stretch of the program itself.
std::vector<Encoded> copy_stretch(Program& p) {
    if (p.code.empty()) return {};
    std::size_t from = p.random.below(static_cast<uint32_t>(p.code.size()));
    std::size_t n = 1 + p.random.below(static_cast<uint32_t>(p.code.size() - from));
    return std::vector<Encoded>(p.code.begin() + static_cast<std::ptrdiff_t>(from),
                                p.code.begin() + static_cast<std::ptrdiff_t>(from + n));
}

void insert(Program& p, std::size_t at, std::vector<Encoded> run) {
    std::size_t room = p.capacity > p.code.size() ? p.capacity - p.code.size() : 0;
    if (run.size() > room) run.resize(room);
    p.code.insert(p.code.begin() + static_cast<std::ptrdiff_t>(at), run.begin(), run.end());
}

// Removes up to n instructions from at on.
void drop(Program& p, std::size_t at, std::size_t n) {
    n = std::min(n, p.code.size() - at);
    p.code.erase(p.code.begin() + static_cast<std::ptrdiff_t>(at),
                 p.code.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// One edit of the code at instruction `at`, or of the header's ticks and budget.
void mutate_code(Program& p, std::size_t at, uint8_t (&header)[VM_HEADER_BYTES]) {
    switch (p.random.below(7)) {
        case 0: insert(p, at, repeat_nest(p, at)); break;
        case 1: insert(p, at, jump_chain(p, at)); break;
        case 2: insert(p, at, stack_fill(p)); break;
        case 3: insert(p, at, mixed_run(p)); break;
        case 4: insert(p, at, copy_stretch(p)); break;
        case 5: drop(p, at, 1 + p.random.below(64)); break;  // inputs also shrink
        default:  // more ticks, so long code gets the time to run, and another budget
            header[VM_HEADER_TICKS] = static_cast<uint8_t>(60 + p.random.below(196));
            header[VM_HEADER_BUDGET] = static_cast<uint8_t>(p.random.next());
            break;
    }
}

}  // namespace

std::size_t vm_mutate(uint8_t* data, std::size_t size, std::size_t maxSize, uint32_t seed) {
    if (maxSize < VM_HEADER_BYTES) return size;
    uint8_t header[VM_HEADER_BYTES] = {};
    std::memcpy(header, data, std::min(size, VM_HEADER_BYTES));
    Program p{{}, Random{seed | 1u}, 0};
    p.capacity = std::min<std::size_t>((maxSize - VM_HEADER_BYTES) / VM_INSTRUCTION_BYTES, MAX_CODE);
    std::size_t count = size > VM_HEADER_BYTES ? (size - VM_HEADER_BYTES) / VM_INSTRUCTION_BYTES : 0;
    count = std::min(count, p.capacity);
    for (std::size_t i = 0; i < count; i++) {
        Encoded e;
        std::memcpy(e.data(), data + VM_HEADER_BYTES + i * VM_INSTRUCTION_BYTES, VM_INSTRUCTION_BYTES);
        p.code.push_back(e);
    }

    std::size_t at = p.random.below(static_cast<uint32_t>(p.code.size() + 1));
    // Near the instruction limit, half the mutations make room, so inserting goes on.
    if (p.code.size() * 4 > p.capacity * 3 && p.random.below(2) == 0) {
        drop(p, at, 1 + p.random.below(static_cast<uint32_t>(p.code.size() / 2)));
    } else {
        mutate_code(p, at, header);
    }

    std::memcpy(data, header, VM_HEADER_BYTES);
    for (std::size_t i = 0; i < p.code.size(); i++) {
        std::memcpy(data + VM_HEADER_BYTES + i * VM_INSTRUCTION_BYTES, p.code[i].data(), VM_INSTRUCTION_BYTES);
    }
    return VM_HEADER_BYTES + p.code.size() * VM_INSTRUCTION_BYTES;
}

}  // namespace prendax
