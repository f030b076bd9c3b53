// prendax_cli: scans the options, reads the robot program (or takes the built-in
// demo), compiles it, and then lists the errors, prints the compile result as
// JSON, or plays one match and reports it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli.h"
#include "cli/simulation.h"
#include "compiler/pipeline.h"
#include "frontend/files.h"
#include "frontend/option_scan.h"
#include "json/compile_json.h"
#include "json/frame_json.h"

namespace prendax {

namespace {

constexpr const char* USAGE_TEXT =
    "Uso: prendax_cli [--ticks N] [--seed N] [--level N] [--quiet] [--json] [--frame] archivo.zkv\n";
constexpr const char* MSG_DEMO_NOTICE = "No se indicó archivo: ejecutando la demo incluida.\n\n";

// The big records exist once, for the life of the process.
CompilerContext compiler_context;
CompileResult compile_result;
Vm machine;
World world;
char json_buffer[COMPILE_JSON_CAPACITY];

constexpr OptionRow<RunOptions> OPTIONS[] = {
    {"--ticks", true, read_ticks<RunOptions>},      {"--seed", true, read_seed<RunOptions>},
    {"--level", true, read_level<RunOptions>},      {"--quiet", false, set_flag<&RunOptions::quiet>},
    {"--json", false, set_flag<&RunOptions::json>}, {"--frame", false, set_flag<&RunOptions::frame>},
    {"--demo", false, set_flag<&RunOptions::demo>},
};

// The last file named is the program.
void take_path(RunOptions& options, const char* arg) { options.path = arg; }

void print_compile_json() {
    compile_result_to_json(&compile_result, &compiler_context, json_buffer, sizeof json_buffer);
    print_out("%s\n", json_buffer);
}

int finish(bool demo_run, int status) {
    if (demo_run) pause_for_enter();
    return status;
}

int run(int argc, char** argv) {
    RunOptions options;
    switch (scan_options(argc, argv, OPTIONS, ScanRules{USAGE_TEXT, false}, options, take_path)) {
        case SCAN_EXIT_OK: return EXIT_OK;
        case SCAN_EXIT_BAD: return EXIT_BAD_INVOCATION;
        case SCAN_GO_ON: break;
    }

    bool demo_run = options.path == nullptr || options.demo;
    const char* display_name = DEMO_DISPLAY_NAME;
    int compiled;
    if (demo_run) {
        if (!options.quiet) print_out("%s", MSG_DEMO_NOTICE);
        compiled = compile_source(demo_source, &compile_result, &compiler_context);
    } else {
        char* source = read_source_file(options.path);
        if (source == nullptr) {
            report_unreadable(options.path);
            return EXIT_BAD_INVOCATION;
        }
        display_name = options.path;
        compiled = compile_source(source, &compile_result, &compiler_context);
        std::free(source);
    }

    if (!compiled) {
        print_diagnostics(compile_result);
        if (options.json) print_compile_json();
        return finish(demo_run, EXIT_COMPILE_FAILED);
    }
    if (options.json) {
        print_compile_json();
        return finish(demo_run, EXIT_OK);
    }
    run_simulation(options, display_name, compile_result, machine, world);
    if (options.frame) {
        frame_to_json(&machine, &world, json_buffer, FRAME_JSON_CAPACITY);
        print_out("%s\n", json_buffer);
    }
    return finish(demo_run, EXIT_OK);
}

}  // namespace

}  // namespace prendax

int main(int argc, char** argv) { return prendax::finish_stdout(prendax::run(argc, argv)); }
