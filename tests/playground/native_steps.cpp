// The native engine's answer for the playground's instruction stepping: sets
// up a match as prendax_cli does, plays some ticks, then runs vm_step_waiting
// one call at a time and prints the VM document after each call, one per line.
//   prendax_native_steps PROGRAM.zkv LEVEL SEED TICKS STEPS
#include <cstdio>
#include <cstdlib>

#include "compiler/pipeline.h"
#include "frontend/frontend.h"
#include "game/match.h"
#include "json/frame_json.h"

namespace {

prendax::CompilerContext compiler_context;
prendax::CompileResult compile_result;
prendax::Vm machine;
prendax::World world;
char document[prendax::FRAME_JSON_CAPACITY];

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "Uso: prendax_native_steps programa.zkv nivel semilla ticks pasos\n");
        return 2;
    }
    char* source = prendax::read_source_file(argv[1]);
    if (source == nullptr) return 2;
    const int compiled = prendax::compile_source(source, &compile_result, &compiler_context);
    std::free(source);
    if (!compiled) return 1;
    prendax::match_start(compile_result, prendax::read_int_option(argv[2]), prendax::read_seed_option(argv[3]), machine,
                         world);
    const int32_t ticks = prendax::read_int_option(argv[4]);
    for (int32_t t = 0; t < ticks && prendax::match_tick(machine, world); t++) {}
    const int32_t steps = prendax::read_int_option(argv[5]);
    for (int32_t i = 0; i < steps; i++) {
        prendax::vm_step_waiting(&machine);
        prendax::vm_state_to_json(&machine, document, sizeof document);
        std::printf("%s\n", document);
    }
    return 0;
}
