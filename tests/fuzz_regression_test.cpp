// The fuzzed entries on kept inputs: every input a fuzzer once failed on
// (fuzz/regressions/<target>/), and every golden and reproducibility program
// as the seed corpus builds it. No property may fail, and in the sanitizer
// build no access may leave its bounds. Also checks that the JSON check the
// properties rely on rejects what it must.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "compiler/pipeline.h"
#include "fuzz/fuzz_entries.h"
#include "fuzz/json_check.h"
#include "fuzz/vm_mutator.h"
#include "vm/vm.h"

using namespace prendax;
namespace fs = std::filesystem;

namespace {

using Entry = const char* (*)(const uint8_t*, std::size_t);

struct EntryRow {
    const char* folder;
    Entry entry;
};

constexpr EntryRow ENTRIES[] = {
    {"compile", fuzz_compile_input},
    {"match", fuzz_match_input},
    {"vm", fuzz_vm_input},
};

fs::path source_dir() { return fs::path(PRENDAX_SOURCE_DIR); }

std::vector<uint8_t> read_bytes(const fs::path& path) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

// The regular files of a folder in name order (none when it does not exist).
std::vector<fs::path> files_in(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<fs::path> programs() {
    std::vector<fs::path> found;
    for (const fs::path& dir : {source_dir() / "tests" / "golden", source_dir() / "tests" / "repro"}) {
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
            if (entry.is_regular_file() && entry.path().extension() == ".zkv") found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

CompilerContext context;
CompileResult result;

}  // namespace

TEST(FuzzRegression, KeptFindingsHoldEveryProperty) {
    int kept = 0;
    for (const EntryRow& row : ENTRIES) {
        for (const fs::path& file : files_in(source_dir() / "fuzz" / "regressions" / row.folder)) {
            const std::vector<uint8_t> bytes = read_bytes(file);
            const char* problem = row.entry(bytes.data(), bytes.size());
            EXPECT_EQ(problem, nullptr) << file << ": " << (problem != nullptr ? problem : "");
            kept++;
        }
    }
    // Each target keeps at least its hand-made edge inputs, so an empty folder means a lost one.
    EXPECT_GE(kept, static_cast<int>(std::size(ENTRIES))) << "fuzz/regressions/ lost its kept inputs";
}

// Each program as the three seed corpora hold it: the raw text, the text
// behind a few match headers, and its compiled instructions for the VM.
TEST(FuzzRegression, SeedProgramsHoldEveryProperty) {
    struct MatchHeader {
        uint32_t seed;
        int8_t level;
        uint16_t ticksField;
    };
    const MatchHeader headers[] = {{12345, 1, 310}, {0, -3, 5}, {4294967295u, 9, 410}};
    std::vector<uint8_t> bytes(FUZZ_SOURCE_LIMIT + VM_HEADER_BYTES + MAX_CODE * VM_INSTRUCTION_BYTES);
    const std::vector<fs::path> found = programs();
    ASSERT_GE(found.size(), 10u) << "the golden and reproducibility programs are missing";
    int compiled = 0;
    for (const fs::path& program : found) {
        std::vector<uint8_t> text = read_bytes(program);
        const char* problem = fuzz_compile_input(text.data(), text.size());
        EXPECT_EQ(problem, nullptr) << program << ": " << (problem != nullptr ? problem : "");
        text.push_back(0);
        const char* source = reinterpret_cast<const char*>(text.data());
        for (const MatchHeader& h : headers) {
            const std::size_t n = encode_match_input(h.seed, h.level, h.ticksField, source, bytes.data(), bytes.size());
            problem = fuzz_match_input(bytes.data(), n);
            EXPECT_EQ(problem, nullptr) << program << " seed " << h.seed << ": " << (problem != nullptr ? problem : "");
        }
        if (compile_source(source, &result, &context) == 0) continue;
        compiled++;
        const std::size_t n = encode_vm_input(result, 7, 2, 255, bytes.data(), bytes.size());
        problem = fuzz_vm_input(bytes.data(), n);
        EXPECT_EQ(problem, nullptr) << program << " as VM input: " << (problem != nullptr ? problem : "");
    }
    EXPECT_GE(compiled, 5) << "too few of the programs compile to exercise the match and the VM";
}

// The VM entry reads any length: short headers, partial instructions, and the
// full 2048 instructions with unknown opcodes and non-finite numbers.
TEST(FuzzRegression, VmInputsOfEveryShapeHoldEveryProperty) {
    std::vector<uint8_t> bytes(VM_HEADER_BYTES + (MAX_CODE + 3) * VM_INSTRUCTION_BYTES);
    for (std::size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, VM_HEADER_BYTES, VM_HEADER_BYTES + 14,
                             VM_HEADER_BYTES + 15 * 7, bytes.size()}) {
        const char* problem = fuzz_vm_input(bytes.data(), size);
        EXPECT_EQ(problem, nullptr) << "size " << size << ": " << (problem != nullptr ? problem : "");
    }
}

// Hand-made programs that drive the machine to its limits within a few ticks:
// REPEAT frames pushed in a loop past the nesting limit, a stack pushed past
// 256 values, a halted program restarting, waits of every size, calls of every
// index, and jumps to every kind of address.
TEST(FuzzRegression, VmProgramsAtTheLimitsHoldEveryProperty) {
    struct Op {
        uint8_t op;
        int32_t arg;
        double num;
    };
    struct Program {
        const char* what;
        std::vector<Op> code;
    };
    const double NaN = std::nan("");
    const Program programs[] = {
        {"repeat frames in a loop", {{OP_PUSH, 0, 5}, {OP_REPEAT_START, 3, 0}, {OP_JMP, 0, 0}, {OP_HALT, 0, 0}}},
        {"pushes in a loop", {{OP_PUSH, 0, 1}, {OP_JMP, 0, 0}}},
        {"loads in a loop", {{OP_LOAD, 5, 0}, {OP_JMP, 0, 0}}},
        {"calls in a loop", {{OP_CALL, 2, 0}, {OP_JMP, 0, 0}}},
        {"halt and restart", {{OP_SHOOT, 0, 0}, {OP_MOVE_LEFT, 0, 0}, {OP_HALT, 0, 0}}},
        {"waits",
         {{OP_PUSH, 0, 1e9},
          {OP_WAIT, 0, 0},
          {OP_PUSH, 0, NaN},
          {OP_WAIT, 0, 0},
          {OP_PUSH, 0, 2.9},
          {OP_WAIT, 0, 0},
          {OP_PUSH, 0, -1e300},
          {OP_WAIT, 0, 0},
          {OP_JMP, 0, 0}}},
        {"random of extremes",
         {{OP_PUSH, 0, 2147483647.0},
          {OP_CALL, 3, 0},
          {OP_PUSH, 0, 1e300},
          {OP_CALL, 3, 0},
          {OP_PUSH, 0, NaN},
          {OP_CALL, 3, 0},
          {OP_SHIELD, 0, 0},
          {OP_JMP, 0, 0}}},
        {"repeat of extremes",
         {{OP_PUSH, 0, 1e12},
          {OP_REPEAT_START, 4, 0},
          {OP_SHOOT, 0, 0},
          {OP_REPEAT_END, 0, 0},
          {OP_PUSH, 0, NaN},
          {OP_REPEAT_START, 7, 0},
          {OP_REPEAT_END, 0, 0},
          {OP_JMP, 0, 0}}},
        {"jump past the end", {{OP_JMP, 2, 0}, {OP_HALT, 0, 0}}},
        {"jump before the start", {{OP_PUSH, 0, 0}, {OP_JZ, INT32_MIN, 0}}},
        {"call of a bad index", {{OP_CALL, INT32_MAX, 0}}},
        {"store past the table", {{OP_PUSH, 0, 1}, {OP_STORE, 64, 0}}},
        {"unknown opcode", {{255, 0, 0}}},
        {"repeat end alone", {{OP_REPEAT_END, 0, 0}}},
        {"division by minus zero", {{OP_PUSH, 0, 1}, {OP_PUSH, 0, -0.0}, {OP_DIV, 0, 0}}},
        {"empty program", {}},
    };
    std::vector<uint8_t> bytes;
    for (const Program& p : programs) {
        CompileResult& code = result;
        std::memset(&code, 0, sizeof code);
        code.varCount = RESERVED_VARS;
        code.codeCount = static_cast<int32_t>(p.code.size());
        for (std::size_t i = 0; i < p.code.size(); i++) {
            code.code[i] = Instruction{p.code[i].op, p.code[i].arg, 1, p.code[i].num};
        }
        bytes.assign(VM_HEADER_BYTES + MAX_CODE * VM_INSTRUCTION_BYTES, 0);
        for (uint8_t ticks : {uint8_t{1}, uint8_t{40}, uint8_t{255}}) {
            const std::size_t n = encode_vm_input(code, 99, 2, ticks, bytes.data(), bytes.size());
            const char* problem = fuzz_vm_input(bytes.data(), n);
            EXPECT_EQ(problem, nullptr) << p.what << ", " << int{ticks} << " ticks: " << (problem ? problem : "");
        }
    }
}

// The VM target's mutator: from an empty input, a few hundred mutations give
// inputs of whole instructions that reach long programs (the fuzzer's byte
// edits alone stalled near 90 instructions), deep REPEAT nests and full
// stacks, and every property holds on each of them.
TEST(FuzzRegression, VmMutatorReachesLongProgramsThatHoldEveryProperty) {
    const std::size_t maxSize = VM_HEADER_BYTES + MAX_CODE * VM_INSTRUCTION_BYTES;
    std::vector<uint8_t> bytes(maxSize, 0);
    std::size_t size = 0;
    std::size_t longest = 0;
    int nests = 0;
    for (uint32_t seed = 1; seed <= 400; seed++) {
        size = vm_mutate(bytes.data(), size, maxSize, seed * 2654435761u);
        ASSERT_GE(size, VM_HEADER_BYTES);
        ASSERT_LE(size, maxSize);
        ASSERT_EQ((size - VM_HEADER_BYTES) % VM_INSTRUCTION_BYTES, 0u) << "seed " << seed;
        longest = std::max(longest, (size - VM_HEADER_BYTES) / VM_INSTRUCTION_BYTES);
        int open = 0;
        for (std::size_t at = VM_HEADER_BYTES; at < size; at += VM_INSTRUCTION_BYTES) {
            // A nest is PUSH, REPEAT_START pairs in a row.
            if (bytes[at] == OP_REPEAT_START) {
                open++;
            } else if (bytes[at] != OP_PUSH) {
                open = 0;
            }
            if (open > MAX_REPEAT) nests++;
        }
        const char* problem = fuzz_vm_input(bytes.data(), size);
        ASSERT_EQ(problem, nullptr) << "seed " << seed << ": " << problem;
    }
    EXPECT_GE(longest, std::size_t{1500}) << "the mutator stopped growing programs";
    EXPECT_GT(nests, 0) << "no REPEAT nest went past the limit";
}

// The document check must fail on what the writers must never produce.
TEST(FuzzRegression, JsonCheckAcceptsDocumentsAndRejectsFaults) {
    struct Row {
        const char* text;
        bool valid;
    };
    const Row rows[] = {
        {"{\"ok\":1,\"a\":[],\"b\":{},\"c\":null,\"d\":true,\"e\":false}", true},
        {"{\"n\":[-1.5e+06,0,0.333333,1e-05,-0]}", true},
        {"{\"s\":\"l\xc3\xadnea \\\"q\\\" \\\\ \\n \\u001b \xef\xbf\xbd \xf4\x8f\xbf\xbf\"}", true},
        {"{\"s\":\"\x80\"}", false},
        {"{\"s\":\"posici\xc3n\"}", false},
        {"{\"s\":\"\xc0\xaf\"}", false},
        {"{\"s\":\"\xed\xa0\x80\"}", false},
        {"{\"s\":\"\xf4\x90\x80\x80\"}", false},
        {"{\"s\":\"\xe2\x82\"}", false},
        {"{\"x\":nan}", false},
        {"{\"x\":inf}", false},
        {"{\"x\":-inf}", false},
        {"{\"x\":01}", false},
        {"{\"x\":1.}", false},
        {"{\"x\":.5}", false},
        {"{\"x\":1e}", false},
        {"{\"s\":\"tab\there\"}", false},
        {"{\"s\":\"\\q\"}", false},
        {"{\"s\":\"\\u12g4\"}", false},
        {"{\"s\":\"open", false},
        {"{\"a\":[1,2,]}", false},
        {"{\"a\":1,}", false},
        {"{\"a\" :1}", false},
        {"{\"a\":1}}", false},
        {"{\"a\":[1,2}", false},
        {"{1:2}", false},
        {"", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(fuzzcheck::json_is_valid(row.text, std::strlen(row.text)), row.valid) << row.text;
    }
    std::string deep(fuzzcheck::JSON_MAX_NESTING + 2, '[');
    deep += std::string(fuzzcheck::JSON_MAX_NESTING + 2, ']');
    EXPECT_FALSE(fuzzcheck::json_is_valid(deep.c_str(), deep.size()));
}
