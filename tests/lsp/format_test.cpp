// The formatter: one canonical layout that compiles to the same instructions,
// on every example robot, every golden program and on generated programs with
// odd spacing and comments everywhere a comment may stand.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lsp/format.h"

using namespace prendax;
using namespace prendax::lsp;

namespace {

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Compiles reuse these records: a fresh one costs more than the compile.
Analysis first;
Analysis second;
Analysis scratch;

std::string format_text(const std::string& source) {
    analyse(first, source);
    std::string out;
    std::string why;
    EXPECT_EQ(format_document(first, scratch, out, why), 1) << why << "\n" << source;
    return out;
}

// Same code (opcodes, operands and constants; lines move), same variables.
void expect_same_program(const std::string& original, const std::string& formatted) {
    Analysis& x = first;
    Analysis& y = second;
    analyse(x, original);
    analyse(y, formatted);
    ASSERT_EQ(x.result->ok, y.result->ok) << formatted;
    ASSERT_EQ(x.result->phase, y.result->phase) << formatted;
    ASSERT_EQ(x.result->codeCount, y.result->codeCount) << formatted;
    for (int32_t i = 0; i < x.result->codeCount; i++) {
        const Instruction& p = x.result->code[i];
        const Instruction& q = y.result->code[i];
        ASSERT_EQ(p.op, q.op) << "instrucción " << i << "\n" << formatted;
        ASSERT_EQ(p.arg, q.arg) << "instrucción " << i;
        ASSERT_EQ(std::memcmp(&p.num, &q.num, sizeof p.num), 0) << "instrucción " << i;
    }
    ASSERT_EQ(x.result->varCount, y.result->varCount);
    for (int32_t i = 0; i < x.result->varCount; i++) EXPECT_STREQ(x.result->varNames[i], y.result->varNames[i]);
    ASSERT_EQ(x.result->errorCount, y.result->errorCount);
    for (int32_t i = 0; i < x.result->errorCount; i++) {
        EXPECT_STREQ(x.result->errors[i].message, y.result->errors[i].message);
    }
}

void check_round_trip(const std::string& source) {
    const std::string once = format_text(source);
    expect_same_program(source, once);
    EXPECT_EQ(format_text(once), once) << "el formato no es estable:\n" << once;
}

// A random program: statements, nested blocks, expressions of every operator,
// with spacing from none to several lines and comments between any tokens.
struct Generator {
    std::mt19937 rng;
    int depth = 0;
    std::vector<std::string> defined{"a"};

    int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
    std::string gap() {
        switch (pick(8)) {
            case 0: return "\n\n  ";
            case 1: return "\t";
            case 2: return " // nota " + std::to_string(pick(100)) + " ñandú\n";
            case 3: return "\n// línea entera\n";
            case 4: return "   ";
            case 5: return "\r\n";
            default: return " ";
        }
    }
    std::string operand() {
        switch (pick(7)) {
            case 0: return std::to_string(pick(50));
            case 1: return defined[static_cast<std::size_t>(pick(static_cast<int>(defined.size())))];
            case 2: return "random(" + gap() + expr(2) + ")";
            case 3: return "enemy_ahead(" + gap() + ")";
            case 4: return pick(2) ? "TRUE" : "false";
            case 5: return "health";
            default: return "." + std::to_string(pick(9) + 1);
        }
    }
    std::string expr(int budget) {
        if (budget <= 0 || pick(3) == 0) return operand();
        static const char* ops[] = {"+", "-", "*", "/", "%", "<", ">", "<=", ">=", "==", "!=", "&&", "||", "and", "OR"};
        switch (pick(5)) {
            case 0: return "-" + gap() + expr(budget - 1);
            case 1: return (pick(2) ? "!" : "NOT ") + expr(budget - 1);
            case 2: return "(" + gap() + expr(budget - 1) + gap() + ")";
            default: {
                std::string right = expr(budget - 1);
                const char* op = ops[pick(15)];
                // A literal 0 divisor is refused; keep the generated programs compiling.
                if ((op[0] == '/' || op[0] == '%') && right == "0") right = "1";
                return expr(budget - 1) + gap() + op + gap() + right;
            }
        }
    }
    std::string block(int count) {
        depth++;
        std::string s = "{" + gap();
        for (int i = 0; i < count; i++) s += statement() + gap();
        depth--;
        return s + "}";
    }
    std::string statement() {
        const int kind = depth < 3 ? pick(11) : pick(7);
        switch (kind) {
            case 0: return "START";
            case 1: return "end";
            case 2: {
                const std::string name = "v" + std::to_string(pick(6));
                const std::string s = "SET" + gap() + name + gap() + expr(3);
                defined.push_back(name);
                return s;
            }
            case 3: {
                static const char* dirs[] = {"UP", "down", "LEFT", "Right"};
                return "MOVE" + gap() + dirs[pick(4)];
            }
            case 4: return "SHOOT";
            case 5: return "shield";
            case 6: return "WAIT" + gap() + expr(2);
            case 7: return "REPEAT " + expr(2) + gap() + block(pick(3));
            case 8: return "WHILE " + expr(3) + gap() + block(pick(4));
            case 9: return "IF " + expr(3) + gap() + block(pick(3));
            default: return "IF " + expr(2) + gap() + block(pick(3)) + gap() + "ELSE" + gap() + block(pick(3));
        }
    }
    std::string program() {
        std::string s = "SET a 1" + gap();
        const int n = 1 + pick(12);
        for (int i = 0; i < n; i++) s += statement() + gap();
        return s;
    }
};

}  // namespace

TEST(Format, ExamplesAndGoldenProgramsKeepTheirInstructions) {
    int seen = 0;
    for (const char* folder : {"examples", "tests/golden", "tests/arena/robots", "tests/replay/robots"}) {
        const std::filesystem::path root = std::filesystem::path(PRENDAX_SOURCE_DIR) / folder;
        if (!std::filesystem::exists(root)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.path().extension() != ".zkv") continue;
            const std::string source = read_file(entry.path());
            if (source.find('\0') != std::string::npos) continue;  // refused, see below
            Analysis& a = first;
            analyse(a, source);
            if (a.result->phase == PHASE_LEXICO || a.result->phase == PHASE_SINTACTICO) continue;
            SCOPED_TRACE(entry.path().string());
            check_round_trip(source);
            seen++;
        }
    }
    EXPECT_GE(seen, 7);  // at least the seven example robots
}

TEST(Format, GeneratedProgramsKeepTheirInstructions) {
    for (unsigned seed = 1; seed <= 400; seed++) {
        Generator g{std::mt19937(seed)};
        const std::string source = g.program();
        SCOPED_TRACE("semilla " + std::to_string(seed) + ":\n" + source);
        Analysis& a = first;
        analyse(a, source);
        ASSERT_NE(a.result->phase, PHASE_LEXICO) << a.result->errors[0].message;
        ASSERT_NE(a.result->phase, PHASE_SINTACTICO) << a.result->errors[0].message;
        check_round_trip(source);
    }
}

TEST(Format, CanonicalLayout) {
    const std::string source =
        "// cabecera\n"
        "start SET x -1 SET y(x+2)*-x   // al final\n"
        "\n\n\n"
        "WHILE health>0 AND NOT x{IF enemy_ahead ( ) {SHOOT}ELSE{MOVE   LEFT}\n"
        "  // dentro\n"
        "WAIT random( 3 )}\n"
        "REPEAT 2 { }\n"
        "SET z x -1 END";
    EXPECT_EQ(format_text(source),
              "// cabecera\n"
              "start\n"
              "SET x -1\n"
              "SET y (x + 2) * -x // al final\n"
              "\n"
              "WHILE health > 0 AND NOT x {\n"
              "  IF enemy_ahead() {\n"
              "    SHOOT\n"
              "  } ELSE {\n"
              "    MOVE LEFT\n"
              "  }\n"
              "  // dentro\n"
              "  WAIT random(3)\n"
              "}\n"
              "REPEAT 2 { }\n"
              "SET z x - 1\n"
              "END\n");
}

TEST(Format, CommentsInsideAStatementKeepItWhole) {
    const std::string source = "SET x 1 + // uno\n 2\nWHILE x { // bucle\nSHOOT } // fin\n";
    const std::string out = format_text(source);
    EXPECT_EQ(out, "SET x 1 + // uno\n  2\nWHILE x { // bucle\n  SHOOT\n} // fin\n");
    expect_same_program(source, out);
}

TEST(Format, RefusesWhatDoesNotParse) {
    for (const char* source : {"SET x (1 +", "WHILE x { SHOOT", "SET x = 1", "x \"hola\""}) {
        Analysis& a = first;
        analyse(a, source);
        std::string out;
        std::string why;
        EXPECT_EQ(format_document(a, scratch, out, why), 0) << source;
        EXPECT_EQ(why, "No se puede dar formato: el programa tiene errores léxicos o de sintaxis.");
    }
    for (const std::string& source : {std::string(MAX_SOURCE_BYTES + 1, ' '), std::string("SHOOT\0SHOOT", 11)}) {
        analyse(first, source);
        std::string out;
        std::string why;
        EXPECT_EQ(format_document(first, scratch, out, why), 0);
        EXPECT_EQ(why,
                  "No se puede dar formato: el texto tiene un byte nulo o supera los 16384 bytes que lee el "
                  "compilador.");
    }
}

TEST(Format, SemanticErrorsDoNotStopIt) {
    const std::string source = "SET health   5 WAIT scroe";
    EXPECT_EQ(format_text(source), "SET health 5\nWAIT scroe\n");
}
