// Cost of compiling the largest programs a player can hand in: a source of
// exactly 16384 bytes that holds just under the 2048-token limit, lexed alone,
// compiled through every phase, and written as the compile result document.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "compiler/lexer.h"
#include "compiler/pipeline.h"
#include "frontend/frontend.h"
#include "json/compile_json.h"

using namespace prendax;

namespace {

// Statements stop this many tokens short of the limit (END and EOF follow).
constexpr int TOKEN_MARGIN = 8;
constexpr int NAME_COUNT = 40;  // distinct variables, well inside the table

CompilerContext context;
CompileResult result;
char document[COMPILE_JSON_CAPACITY];

// START, 40 variables of 15-byte names set to 1, then SET statements of five
// tokens each mixing them with the five arithmetic operators, then END and a
// comment that pads the text to 16384 bytes.
std::string near_limit_program() {
    std::string text = "START\n";
    int tokens = 1;
    char line[96];
    for (int v = 0; v < NAME_COUNT; v++) {
        std::snprintf(line, sizeof line, "SET counter_value%02d 1\n", v);
        text += line;
        tokens += 3;
    }
    for (int i = 0; tokens + 5 + 1 + TOKEN_MARGIN <= MAX_TOKENS; i++) {
        const int v = i % NAME_COUNT;
        const int w = (i * 7 + 3) % NAME_COUNT;
        std::snprintf(line, sizeof line, "SET counter_value%02d counter_value%02d %c %d\n", v, w, "+-*/%"[i % 5],
                      1 + i % 9);
        text += line;
        tokens += 5;
    }
    text += "END\n";
    text += "//";
    if (text.size() < static_cast<std::size_t>(MAX_SOURCE_BYTES)) text.append(MAX_SOURCE_BYTES - text.size(), '=');
    return text;
}

const std::string& program() {
    static const std::string text = near_limit_program();
    return text;
}

// The program must be what the figures claim: 16384 bytes, near the token limit, compiling.
bool program_is_as_described(benchmark::State& state) {
    if (program().size() != static_cast<std::size_t>(MAX_SOURCE_BYTES)) {
        state.SkipWithError("the program is not 16384 bytes long");
        return false;
    }
    if (!compile_source(program().c_str(), &result, &context)) {
        state.SkipWithError("the program does not compile");
        return false;
    }
    if (context.tokenCount < MAX_TOKENS - 2 * TOKEN_MARGIN) {
        state.SkipWithError("the program is not near the token limit");
        return false;
    }
    state.counters["tokens"] = context.tokenCount;
    state.counters["instructions"] = result.codeCount;
    return true;
}

void BM_LexNearTokenLimit(benchmark::State& state) {
    if (!program_is_as_described(state)) return;
    for (auto _ : state) {
        context.diagCount = 0;
        benchmark::DoNotOptimize(lex_source(&context, program().c_str()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * MAX_SOURCE_BYTES);
}
BENCHMARK(BM_LexNearTokenLimit);

// Every phase, with the clearing of both records that each compilation starts with.
void BM_CompileNearTokenLimit(benchmark::State& state) {
    if (!program_is_as_described(state)) return;
    for (auto _ : state) {
        benchmark::DoNotOptimize(compile_source(program().c_str(), &result, &context));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * MAX_SOURCE_BYTES);
}
BENCHMARK(BM_CompileNearTokenLimit);

// The --json road: the whole document of that compilation (tokens, tree, listing, code).
void BM_CompileResultJsonNearTokenLimit(benchmark::State& state) {
    if (!program_is_as_described(state)) return;
    std::size_t length = 0;
    for (auto _ : state) {
        compile_result_to_json(&result, &context, document, sizeof document);
        benchmark::DoNotOptimize(document[0]);
        benchmark::ClobberMemory();
    }
    length = std::strlen(document);
    if (length + 2 >= sizeof document) state.SkipWithError("the document was cut");
    state.counters["documentBytes"] = static_cast<double>(length);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(length));
}
BENCHMARK(BM_CompileResultJsonNearTokenLimit);

}  // namespace
