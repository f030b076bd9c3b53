// The code generator keeps the stack balanced: walking the code of many
// programs with each opcode's stack effect, the depth never goes below what an
// instruction takes, every path into an address arrives with the same depth,
// and the stack is empty again wherever a statement ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/pipeline.h"
#include "vm/runtime_contract.h"

using namespace prendax;
namespace fs = std::filesystem;

namespace {

// Opcodes that make a whole statement, or end one by taking its last value.
bool ends_statement(int32_t op) {
    switch (op) {
        case OP_STORE:
        case OP_JZ:
        case OP_JNZ:
        case OP_JMP:
        case OP_WAIT:
        case OP_REPEAT_START:
        case OP_REPEAT_END:
        case OP_MOVE_UP:
        case OP_MOVE_DOWN:
        case OP_MOVE_LEFT:
        case OP_MOVE_RIGHT:
        case OP_SHOOT:
        case OP_SHIELD:
        case OP_HALT: return true;
        default: return false;
    }
}

// The first fault of the code's stack discipline, or "" when there is none.
std::string stack_fault(const CompileResult& r) {
    std::vector<int> depth(static_cast<size_t>(r.codeCount), -1);
    std::vector<int32_t> work = {0};
    depth[0] = 0;
    auto reach = [&](int32_t pc, int d, int32_t from) -> std::string {
        if (pc < 0 || pc >= r.codeCount) return "salto fuera del código desde " + std::to_string(from);
        int& seen = depth[static_cast<size_t>(pc)];
        if (seen == -1) {
            seen = d;
            work.push_back(pc);
        } else if (seen != d) {
            return "profundidad " + std::to_string(seen) + " y " + std::to_string(d) + " en " + std::to_string(pc);
        }
        return "";
    };
    while (!work.empty()) {
        const int32_t pc = work.back();
        work.pop_back();
        const Instruction& ins = r.code[pc];
        if (ins.op >= OPCODE_COUNT) return "opcode desconocido en " + std::to_string(pc);
        const OpcodeRow& row = OPCODE_TABLE[ins.op];
        const int pops = row.pops == STACK_ARITY ? BUILTIN_TABLE[ins.arg].arity : row.pops;
        const int before = depth[static_cast<size_t>(pc)];
        if (before < pops) return std::string(row.name) + " sin operandos en " + std::to_string(pc);
        const int after = before - pops + row.pushes;
        if (ends_statement(ins.op) && after != 0) {
            return "pila con " + std::to_string(after) + " valores tras " + row.name + " en " + std::to_string(pc);
        }
        std::string fault;
        if (ins.op == OP_JMP) {
            fault = reach(ins.arg, after, pc);
        } else if (ins.op != OP_HALT) {
            fault = reach(pc + 1, after, pc);
            if (fault.empty() && row.operand == OPERAND_ADDRESS) fault = reach(ins.arg, after, pc);
        }
        if (!fault.empty()) return fault;
    }
    return "";
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Random programs over every statement and operator, nested three deep.
class ProgramMaker {
public:
    explicit ProgramMaker(unsigned seed) : random_(seed) {}

    std::string program() { return "START\nSET a 1\nSET b 2\n" + statements(0) + "END\n"; }

private:
    int pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

    std::string expression(int depth) {
        static const char* const LEAVES[] = {"a", "b", "health", "ticks", "3", "0.5", "enemy_ahead()", "random(4)"};
        static const char* const OPERATORS[] = {"+", "-", "*", "/", "%", "<", ">", "<=", ">=", "==", "!=", "AND", "OR"};
        if (depth > 2 || pick(3) == 0) return LEAVES[pick(8)];
        if (pick(6) == 0) return std::string(pick(2) == 0 ? "NOT " : "-") + expression(depth + 1);
        if (pick(8) == 0) return "random(" + expression(depth + 1) + ")";
        return "(" + expression(depth + 1) + " " + OPERATORS[pick(13)] + " " + expression(depth + 1) + ")";
    }

    std::string statements(int depth) {
        std::string out;
        for (int n = 1 + pick(4); n > 0; n--) {
            switch (depth < 3 ? pick(9) : pick(5)) {
                case 0: out += "SET " + std::string(pick(2) == 0 ? "a" : "b") + " " + expression(0) + "\n"; break;
                case 1: out += std::string(pick(2) == 0 ? "MOVE LEFT" : "MOVE UP") + "\n"; break;
                case 2: out += pick(2) == 0 ? "SHOOT\n" : "SHIELD\n"; break;
                case 3: out += "WAIT " + expression(0) + "\n"; break;
                case 4: out += "SET c " + expression(1) + "\n"; break;
                case 5: out += "REPEAT " + expression(0) + " {\n" + statements(depth + 1) + "}\n"; break;
                case 6: out += "WHILE " + expression(0) + " {\n" + statements(depth + 1) + "}\n"; break;
                case 7: out += "IF " + expression(0) + " {\n" + statements(depth + 1) + "}\n"; break;
                default:
                    out += "IF " + expression(0) + " {\n" + statements(depth + 1) + "} ELSE {\n" +
                           statements(depth + 1) + "}\n";
            }
        }
        return out;
    }

    std::mt19937 random_;
};

struct Compiled {
    std::unique_ptr<CompilerContext> context = std::make_unique<CompilerContext>();
    std::unique_ptr<CompileResult> result = std::make_unique<CompileResult>();
};

}  // namespace

TEST(StackBalance, TheCheckFindsUnbalancedCode) {
    Compiled c;
    ASSERT_EQ(compile_source("START\nSET a 1 + 2\nEND\n", c.result.get(), c.context.get()), 1);
    EXPECT_EQ(stack_fault(*c.result), "");
    // Dropping the STORE leaves a value on the stack at the closing HALT.
    c.result->code[2] = c.result->code[3];
    c.result->codeCount = 3;
    EXPECT_NE(stack_fault(*c.result), "");
    // An ADD with a single operand goes below the bottom.
    c.result->code[0].op = OP_ADD;
    EXPECT_NE(stack_fault(*c.result).find("sin operandos"), std::string::npos);
}

TEST(StackBalance, ProgramsOfTheProjectAndGeneratedOnes) {
    const fs::path root(PRENDAX_SOURCE_DIR);
    std::vector<std::pair<std::string, std::string>> sources;
    for (const char* folder : {"examples", "tests/arena/robots", "tests/replay/robots", "tests/golden"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            if (entry.path().extension() == ".zkv")
                sources.emplace_back(entry.path().string(), read_text(entry.path()));
        }
    }
    ProgramMaker maker(20261208);
    for (int i = 0; i < 600; i++) sources.emplace_back("generado " + std::to_string(i), maker.program());

    Compiled c;
    int compiled = 0;
    for (const auto& [name, text] : sources) {
        if (compile_source(text.c_str(), c.result.get(), c.context.get()) == 0) continue;
        compiled++;
        EXPECT_EQ(stack_fault(*c.result), "") << name;
    }
    // Nearly every generated program compiles; the walk covered real code.
    EXPECT_GT(compiled, 550);
}
