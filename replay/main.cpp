// prendax_replay: compiles a robot program, plays one match exactly as
// prendax_cli does with the same options, records the frame of every tick
// (from the state right after set-up) and writes a viewer page that holds the
// whole match, plus the raw frames, one JSON document a line, when asked.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compiler/pipeline.h"
#include "frontend/files.h"
#include "frontend/frontend.h"
#include "frontend/option_scan.h"
#include "game/match.h"
#include "json/frame_json.h"
#include "replay/accounting.h"
#include "replay/page.h"

namespace prendax {

namespace {

constexpr const char* USAGE_TEXT =
    "Uso: prendax_replay [--ticks N] [--seed N] [--level N] [--jsonl ARCHIVO] [--trace A-B] archivo.zkv -o "
    "partida.html\n";
constexpr const char* MSG_BAD_TRACE = "Rango de --trace no válido: %s (A-B, con 1 <= A <= B y como mucho %d ticks)\n";
constexpr const char* MSG_MISSING_VALUE = "Falta el archivo después de %s\n";
constexpr const char* MSG_MISSING_OUTPUT = "Falta la opción -o con el archivo de la página\n";
constexpr const char* MSG_MISSING_SOURCE = "Falta el archivo del programa\n";
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
    TraceRange trace;
};

// The big records exist once, for the life of the process.
CompilerContext compiler_context;
CompileResult compile_result;
Vm machine;
World world;
MatchRecorder recorder;
char frame_buffer[FRAME_JSON_CAPACITY];

int bad_invocation(const char* format, const char* arg) {
    print_to(stderr, format, arg);
    print_to(stderr, "%s", USAGE_TEXT);
    return EXIT_BAD_INVOCATION;
}

ScanOutcome read_trace(ReplayOptions& options, const char* value) {
    if (parse_trace_range(value, options.trace)) return SCAN_GO_ON;
    print_to(stderr, MSG_BAD_TRACE, shown(value).c_str(), MAX_TRACE_TICKS);
    print_to(stderr, "%s", USAGE_TEXT);
    return SCAN_EXIT_BAD;
}

constexpr OptionRow<ReplayOptions> OPTIONS[] = {
    {"--ticks", true, read_ticks<ReplayOptions>},
    {"--seed", true, read_seed<ReplayOptions>},
    {"--level", true, read_level<ReplayOptions>},
    {"--trace", true, read_trace},
    {"-o", true, read_path<&ReplayOptions::output>, MSG_MISSING_VALUE},
    {"--jsonl", true, read_path<&ReplayOptions::jsonl>, MSG_MISSING_VALUE},
};

void take_path(ReplayOptions& options, const char* arg) { options.path = arg; }

struct Recording {
    OutputFile* page;
    OutputFile* frames;
    int64_t count;  // frames written so far
};

void record_frame(Recording& recording) {
    frame_to_json(&machine, &world, frame_buffer, FRAME_JSON_CAPACITY);
    page_add_frame(recording.page->file, frame_buffer);
    if (recording.frames->file != nullptr) {
        std::fputs(frame_buffer, recording.frames->file);
        std::fputc('\n', recording.frames->file);
    }
    recording.count++;
}

void open_tick(void* /*context*/, int32_t tick) { recorder_before_tick(recorder, tick); }

// The tick's accounting and a frame after every tick; a failed write stops the match.
bool record_tick(void* context, const Vm& /*vm*/, const World& /*world*/, int32_t tick, bool /*going*/) {
    Recording& recording = *static_cast<Recording*>(context);
    recorder_after_tick(recorder, compile_result, tick, stdout, recording.frames->file);
    record_frame(recording);
    return !output_failed(*recording.page) && !output_failed(*recording.frames);
}

// The match prendax_cli plays, with a frame after set-up and after every tick.
// Returns the number of frames, or -1 when a write failed (the match stops).
int64_t play_and_record(const ReplayOptions& options, OutputFile& page, OutputFile& frames) {
    match_start(compile_result, options.level, options.seed, machine, world);
    recorder.range = options.trace;
    recorder_attach(recorder, machine, world);
    Recording recording{&page, &frames, 0};
    record_frame(recording);
    const MatchObserver observer{&recording, record_tick, open_tick};
    if (!match_play(machine, world, options.ticks, &observer)) return -1;
    return recording.count;
}

// Reports the output that failed; every output of the run is dropped and the
// files under the names asked for stay as they were.
int fail_writing(const char* path, OutputFile& page, OutputFile& frames) {
    print_to(stderr, MSG_UNWRITABLE, shown(path).c_str());
    output_discard(page);
    output_discard(frames);
    return EXIT_BAD_INVOCATION;
}

int write_replay(const ReplayOptions& options, const char* source) {
    OutputFile page;
    OutputFile frames;
    if (!output_open(page, options.output)) return fail_writing(options.output, page, frames);
    if (options.jsonl != nullptr && !output_open(frames, options.jsonl)) {
        return fail_writing(options.jsonl, page, frames);
    }
    PageInfo info{options.path, source, std::strlen(source), options.ticks, options.seed, options.level};
    if (!page_begin(page.file, info, compile_result)) {
        print_to(stderr, "%s", MSG_BROKEN_VIEWER);
        output_discard(page);
        output_discard(frames);
        return EXIT_BAD_INVOCATION;
    }
    int64_t count = play_and_record(options, page, frames);
    if (count < 0) return fail_writing(output_failed(page) ? options.output : options.jsonl, page, frames);
    page_end(page.file, recorder_blocks(recorder));
    if (!output_close(page)) return fail_writing(options.output, page, frames);
    if (!output_close(frames)) return fail_writing(options.jsonl, page, frames);
    if (!output_commit(page)) return fail_writing(options.output, page, frames);
    if (!output_commit(frames)) return fail_writing(options.jsonl, page, frames);

    print_out(MSG_WRITTEN, shown(options.output).c_str(), static_cast<long long>(count),
              vm_status_name(machine.status));
    if (options.jsonl != nullptr) print_out(MSG_FRAMES_WRITTEN, shown(options.jsonl).c_str());
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
    print_to(stderr, message, shown(clash).c_str());
    return EXIT_BAD_INVOCATION;
}

int compile_and_write(const ReplayOptions& options, const char* source) {
    if (!compile_source(source, &compile_result, &compiler_context)) {
        print_diagnostics(compile_result, nullptr, true);
        return EXIT_COMPILE_FAILED;
    }
    return write_replay(options, source);
}

int run(int argc, char** argv) {
    ReplayOptions options;
    switch (scan_options(argc, argv, OPTIONS, ScanRules{USAGE_TEXT, true}, options, take_path)) {
        case SCAN_EXIT_OK: return EXIT_OK;
        case SCAN_EXIT_BAD: return EXIT_BAD_INVOCATION;
        case SCAN_GO_ON: break;
    }
    if (options.path == nullptr) return bad_invocation("%s", MSG_MISSING_SOURCE);
    if (options.output == nullptr) return bad_invocation("%s", MSG_MISSING_OUTPUT);

    SourceNotes notes;
    char* source = read_source_file_noted(options.path, notes);
    if (source == nullptr) {
        report_unreadable(shown(options.path).c_str());
        return EXIT_BAD_INVOCATION;
    }
    warn_source_notes(options.path, notes);
    int status = check_outputs(options);
    if (status == EXIT_OK) status = compile_and_write(options, source);
    std::free(source);
    return status;
}

}  // namespace

}  // namespace prendax

int main(int argc, char** argv) { return prendax::finish_stdout(prendax::run(argc, argv)); }
