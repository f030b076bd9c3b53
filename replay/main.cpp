// prendax_replay: compiles a robot program, plays one match exactly as
// prendax_cli does with the same options, records the frame of every tick
// (from the state right after set-up) and writes a viewer page that holds the
// whole match, plus the raw frames, one JSON document a line, when asked.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/cli.h"
#include "cli/simulation.h"
#include "compiler/pipeline.h"
#include "json/frame_json.h"
#include "replay/page.h"

namespace prendax {

namespace {

constexpr const char* USAGE_TEXT =
    "Uso: prendax_replay [--ticks N] [--seed N] [--level N] [--jsonl ARCHIVO] archivo.zkv -o partida.html\n";
constexpr const char* MSG_MISSING_VALUE = "Falta el archivo después de %s\n";
constexpr const char* MSG_MISSING_OUTPUT = "Falta la opción -o con el archivo de la página\n";
constexpr const char* MSG_MISSING_SOURCE = "Falta el archivo del programa\n";
constexpr const char* MSG_OVER_SOURCE = "La salida %s es el propio programa: no se escribe encima\n";
constexpr const char* MSG_SAME_OUTPUT = "La página y los fotogramas no pueden ir al mismo archivo: %s\n";
constexpr const char* MSG_BROKEN_VIEWER = "El visor incluido está incompleto: no se puede escribir la página\n";
constexpr const char* MSG_WRITTEN = "Página escrita en %s: %lld fotogramas, resultado: %s\n";
constexpr const char* MSG_FRAMES_WRITTEN = "Fotogramas escritos en %s\n";

struct ReplayOptions {
    int32_t ticks = DEFAULT_TICKS;
    uint32_t seed = DEFAULT_SEED;
    int32_t level = DEFAULT_LEVEL;
    const char* path = nullptr;
    const char* output = nullptr;
    const char* jsonl = nullptr;
};

// The big records exist once, for the life of the process.
CompilerContext compiler_context;
CompileResult compile_result;
Vm machine;
World world;
char frame_buffer[FRAME_JSON_CAPACITY];

int bad_invocation(const char* format, const char* arg) {
    print_to(stderr, format, arg);
    print_to(stderr, "%s", USAGE_TEXT);
    return EXIT_BAD_INVOCATION;
}

enum ScanOutcome { SCAN_GO_ON, SCAN_EXIT_OK, SCAN_EXIT_BAD };

// Options are compared exactly, as prendax_cli compares them; a value option
// takes the next argument whatever it looks like.
ScanOutcome scan_options(int argc, char** argv, ReplayOptions& options) {
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        bool has_value = i + 1 < argc;
        if (take_match_option(argc, argv, i, options.ticks, options.seed, options.level)) continue;
        if (std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--jsonl") == 0) {
            if (!has_value) {
                bad_invocation(MSG_MISSING_VALUE, arg);
                return SCAN_EXIT_BAD;
            }
            (arg[1] == 'o' ? options.output : options.jsonl) = argv[++i];
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            print_out("%s", USAGE_TEXT);
            return SCAN_EXIT_OK;
        } else if (arg[0] == '-') {
            report_unknown_option(arg);
            return SCAN_EXIT_BAD;
        } else {
            options.path = arg;
        }
    }
    return SCAN_GO_ON;
}

// True when both paths name one file, whether or not it exists yet.
bool same_file(const char* a, const char* b) {
    namespace fs = std::filesystem;
    if (std::strcmp(a, b) == 0) return true;
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) return true;
    // Neither exists yet, or only one: compare the absolute paths they would take.
    std::error_code ea;
    std::error_code eb;
    fs::path pa = fs::absolute(a, ea);
    if (!ea) pa = fs::weakly_canonical(pa, ea);
    fs::path pb = fs::absolute(b, eb);
    if (!eb) pb = fs::weakly_canonical(pb, eb);
    return !ea && !eb && pa == pb;
}

// An output file of the run. A run that fails leaves no half-written file
// behind, but removes only a regular file that it opened itself (never a file
// it could not open, nor /dev/full or a pipe).
struct Output {
    const char* path = nullptr;
    std::FILE* file = nullptr;
    bool opened = false;
};

bool open_output(Output& out, const char* path) {
    out.path = path;
    out.file = std::fopen(path, "wb");
    out.opened = out.file != nullptr;
    return out.opened;
}

// Closes the file; false when any write to it failed.
bool close_output(Output& out) {
    if (out.file == nullptr) return true;
    bool ok = !std::ferror(out.file);
    ok = std::fclose(out.file) == 0 && ok;
    out.file = nullptr;
    return ok;
}

void discard_output(Output& out) {
    if (!out.opened) return;
    if (out.file != nullptr) {
        std::fclose(out.file);
        out.file = nullptr;
    }
    std::error_code ec;
    if (std::filesystem::is_regular_file(out.path, ec)) std::remove(out.path);
}

bool failed(const Output& out) { return out.file != nullptr && std::ferror(out.file); }

void record_frame(Output& page, Output& frames) {
    frame_to_json(&machine, &world, frame_buffer, FRAME_JSON_CAPACITY);
    page_add_frame(page.file, frame_buffer);
    if (frames.file != nullptr) {
        std::fputs(frame_buffer, frames.file);
        std::fputc('\n', frames.file);
    }
}

// The match of run_simulation, with a frame after set-up and after every tick.
// Returns the number of frames, or -1 when a write failed (the match stops).
int64_t play_and_record(const ReplayOptions& options, Output& page, Output& frames) {
    match_start(compile_result, options.level, options.seed, machine, world);
    record_frame(page, frames);
    int64_t count = 1;
    for (int32_t t = 0; t < options.ticks;) {
        bool going = match_tick(machine, world);
        record_frame(page, frames);
        count++;
        if (failed(page) || failed(frames)) return -1;
        if (!going) break;
        t++;
    }
    return count;
}

int fail_writing(const char* path, Output& page, Output& frames) {
    print_to(stderr, MSG_UNWRITABLE, path);
    discard_output(page);
    discard_output(frames);
    return EXIT_BAD_INVOCATION;
}

int write_replay(const ReplayOptions& options, const char* source) {
    Output page;
    Output frames;
    if (!open_output(page, options.output)) {
        print_to(stderr, MSG_UNWRITABLE, options.output);
        return EXIT_BAD_INVOCATION;
    }
    if (options.jsonl != nullptr && !open_output(frames, options.jsonl)) {
        return fail_writing(options.jsonl, page, frames);
    }
    PageInfo info{options.path, source, std::strlen(source), options.ticks, options.seed, options.level};
    if (!page_begin(page.file, info, compile_result)) {
        print_to(stderr, "%s", MSG_BROKEN_VIEWER);
        discard_output(page);
        discard_output(frames);
        return EXIT_BAD_INVOCATION;
    }
    int64_t count = play_and_record(options, page, frames);
    if (count < 0) return fail_writing(failed(page) ? page.path : frames.path, page, frames);
    page_end(page.file);
    if (!close_output(page)) return fail_writing(page.path, page, frames);
    if (!close_output(frames)) return fail_writing(frames.path, page, frames);

    print_out(MSG_WRITTEN, options.output, static_cast<long long>(count), vm_status_name(machine.status));
    if (options.jsonl != nullptr) print_out(MSG_FRAMES_WRITTEN, options.jsonl);
    if (machine.hasError) print_out(RUNTIME_ERROR_LINE, machine.error.line, machine.error.message);
    return EXIT_OK;
}

// Refuses outputs that would overwrite the program or each other.
int check_outputs(const ReplayOptions& options) {
    const char* clash = nullptr;
    const char* message = nullptr;
    if (same_file(options.output, options.path)) {
        clash = options.output, message = MSG_OVER_SOURCE;
    } else if (options.jsonl != nullptr && same_file(options.jsonl, options.path)) {
        clash = options.jsonl, message = MSG_OVER_SOURCE;
    } else if (options.jsonl != nullptr && same_file(options.jsonl, options.output)) {
        clash = options.jsonl, message = MSG_SAME_OUTPUT;
    }
    if (clash == nullptr) return EXIT_OK;
    print_to(stderr, message, clash);
    return EXIT_BAD_INVOCATION;
}

int compile_and_write(const ReplayOptions& options, const char* source) {
    if (!compile_source(source, &compile_result, &compiler_context)) {
        print_diagnostics(compile_result);
        return EXIT_COMPILE_FAILED;
    }
    return write_replay(options, source);
}

int run(int argc, char** argv) {
    ReplayOptions options;
    switch (scan_options(argc, argv, options)) {
        case SCAN_EXIT_OK: return EXIT_OK;
        case SCAN_EXIT_BAD: return EXIT_BAD_INVOCATION;
        case SCAN_GO_ON: break;
    }
    if (options.path == nullptr) return bad_invocation("%s", MSG_MISSING_SOURCE);
    if (options.output == nullptr) return bad_invocation("%s", MSG_MISSING_OUTPUT);

    char* source = read_source_file(options.path);
    if (source == nullptr) {
        report_unreadable(options.path);
        return EXIT_BAD_INVOCATION;
    }
    int status = check_outputs(options);
    if (status == EXIT_OK) status = compile_and_write(options, source);
    std::free(source);
    return status;
}

}  // namespace

}  // namespace prendax

int main(int argc, char** argv) { return prendax::run(argc, argv); }
