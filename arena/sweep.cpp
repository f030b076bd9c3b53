// The sweep. Matches are played in blocks;
// after each block the results are taken in job order, so the CSV and the
// summary do not depend on the number of workers.
#include "arena/sweep.h"

#include <cstdlib>
#include <string>

#include "arena/csv.h"
#include "arena/interrupt.h"
#include "arena/line_profile.h"
#include "arena/match_pool.h"
#include "arena/progress.h"
#include "arena/summary.h"
#include "compiler/pipeline.h"
#include "frontend/files.h"
#include "frontend/frontend.h"
#include "frontend/json_document.h"

namespace prendax {

namespace {

constexpr const char* MSG_INTERRUPTED = "Barrido interrumpido por una señal: se jugaron %llu de %llu partidas\n";

// Enumerates the jobs in CSV order: program, then level, then seed.
struct JobCursor {
    std::size_t program = 0;
    int32_t levelIndex = 0;
    uint64_t seed = 0;
};

// Fills up to `capacity` jobs from the cursor; returns how many.
bool profiling(const ArenaOptions& options) { return options.profile || options.collapsedPath != nullptr; }

// The per-line profiles after the summary, in the JSON document, and as
// collapsed stacks; false when the collapsed file could not be written.
bool report_profiles(const ArenaOptions& options, const std::vector<CompiledProgram>& programs,
                     const std::vector<ProgramLines>& lines, const MatchPool& pool, std::string* json) {
    OutputFile collapsed;
    if (options.collapsedPath != nullptr && !output_open(collapsed, options.collapsedPath)) {
        print_to(stderr, MSG_UNWRITABLE, shown(options.collapsedPath).c_str());
        return false;
    }
    auto total = std::make_unique<VmProfile>();
    std::string document = ",\"profile\":[";
    bool first = true;
    for (std::size_t i = 0; i < programs.size(); i++) {
        if (!programs[i].compiled) continue;
        pool_profile_sum(pool, i, total.get());
        std::vector<LineRow> rows = line_rows(*total, *programs[i].result);
        if (options.profile && json == nullptr) print_line_profile(programs[i].path, lines[i], rows);
        if (json != nullptr) {
            document += first ? "" : ",";
            document += json_document([&](JsonOut* out) { json_line_profile(out, programs[i].path, lines[i], rows); });
            first = false;
        }
        if (collapsed.file != nullptr) write_collapsed(collapsed.file, programs[i].path, lines[i], rows);
    }
    if (json != nullptr && options.profile && !json->empty() && json->back() == '}') {
        json->pop_back();
        *json += document + "]}";
    }
    if (collapsed.file == nullptr) return true;
    if (output_close(collapsed) && output_commit(collapsed)) return true;
    output_discard(collapsed);
    print_to(stderr, MSG_UNWRITABLE, shown(options.collapsedPath).c_str());
    return false;
}

std::size_t next_jobs(const ArenaOptions& options, const std::vector<CompiledProgram>& programs, JobCursor& cursor,
                      std::vector<MatchJob>& jobs, std::vector<std::size_t>& owners, std::size_t capacity) {
    jobs.clear();
    owners.clear();
    while (jobs.size() < capacity && cursor.program < programs.size()) {
        const CompiledProgram& p = programs[cursor.program];
        if (!p.compiled) {
            cursor.program++;
            continue;
        }
        const int32_t slot = profiling(options) ? static_cast<int32_t>(cursor.program) : -1;
        jobs.push_back(MatchJob{p.result.get(), options.levels[cursor.levelIndex], static_cast<uint32_t>(cursor.seed),
                                options.ticks, slot});
        owners.push_back(cursor.program);
        // Seeds may run to 4294967295: the cursor counts in 64 bits.
        if (cursor.seed < options.lastSeed) {
            cursor.seed++;
        } else {
            cursor.seed = options.firstSeed;
            if (++cursor.levelIndex == options.levelCount) {
                cursor.levelIndex = 0;
                cursor.program++;
            }
        }
    }
    return jobs.size();
}

// Folds the first `played` results of the block into the summaries and the CSV.
void take_results(const ArenaOptions& options, const std::vector<MatchJob>& jobs,
                  const std::vector<std::size_t>& owners, const std::vector<MatchResult>& results, std::size_t played,
                  std::vector<ProgramSummary>& summaries, CsvOutput& csv) {
    for (std::size_t i = 0; i < played; i++) {
        ProgramSummary& program = summaries[owners[i]];
        int32_t levelIndex = 0;
        while (options.levels[levelIndex] != jobs[i].level) levelIndex++;
        summary_add(program.levels[static_cast<std::size_t>(levelIndex)], jobs[i].seed, results[i]);
        if (csv.out.file != nullptr) {
            match_fields(program.path, jobs[i].level, jobs[i].seed, results[i], csv.fields);
            csv_write(csv, csv.fields);
        }
    }
}

// Plays every match block by block, until the last or until a signal is
// caught; returns the number of matches played.
uint64_t play_all(const ArenaOptions& options, const std::vector<CompiledProgram>& programs, MatchPool& pool,
                  Progress& progress, std::vector<ProgramSummary>& summaries, CsvOutput& csv) {
    JobCursor cursor;
    cursor.seed = options.firstSeed;
    std::vector<MatchJob> jobs;
    std::vector<std::size_t> owners;
    std::vector<MatchResult> results(BLOCK_MATCHES);
    uint64_t played = 0;
    while (interrupt_signal() == 0 && next_jobs(options, programs, cursor, jobs, owners, BLOCK_MATCHES) > 0) {
        std::size_t n = pool_play(pool, jobs.data(), results.data(), jobs.size(), &progress);
        take_results(options, jobs, owners, results, n, summaries, csv);
        played += n;
    }
    return played;
}

// Compiles every program (freeing its source) and readies its summary with
// one row per level; returns how many compiled.
uint64_t compile_all(const ArenaOptions& options, const std::vector<char*>& sources,
                     std::vector<CompiledProgram>& programs, std::vector<ProgramSummary>& summaries,
                     std::vector<ProgramLines>& lines) {
    auto context = std::make_unique<CompilerContext>();
    uint64_t compiledCount = 0;
    for (std::size_t i = 0; i < programs.size(); i++) {
        programs[i].path = options.programs[i];
        // With several programs each diagnostic line is named by its program.
        bool named = programs.size() > 1;
        compile_program(sources[i], programs[i], *context, !named);
        if (named && !programs[i].compiled)
            print_diagnostics(*programs[i].result, shown(programs[i].path).c_str(), true);
        if (profiling(options) && programs[i].compiled) lines[i] = program_lines(sources[i], *context);
        std::free(sources[i]);
        summaries[i].path = programs[i].path;
        summaries[i].result = programs[i].result.get();
        summaries[i].compiled = programs[i].compiled;
        if (!programs[i].compiled) continue;
        compiledCount++;
        for (int32_t l = 0; l < options.levelCount; l++) {
            summaries[i].levels.emplace_back();
            summaries[i].levels.back().level = options.levels[l];
        }
    }
    return compiledCount;
}

// The sweep proper, with SIGINT and SIGTERM caught.
int sweep(const ArenaOptions& options) {
    std::vector<char*> sources;
    if (!read_sources(options.programs, sources)) return EXIT_BAD_INVOCATION;

    CsvOutput csv;
    if (!csv_open(csv, options.csvPath)) {
        for (char* s : sources) std::free(s);
        return EXIT_BAD_INVOCATION;
    }
    csv_write(csv, csv_header());

    std::vector<CompiledProgram> programs(options.programs.size());
    std::vector<ProgramSummary> summaries(options.programs.size());
    std::vector<ProgramLines> lines(options.programs.size());
    const uint64_t compiledCount = compile_all(options, sources, programs, summaries, lines);

    uint64_t seedCount = static_cast<uint64_t>(options.lastSeed) - options.firstSeed + 1;
    uint64_t total = compiledCount * static_cast<uint64_t>(options.levelCount) * seedCount;
    MatchPool pool;
    pool_init(pool, worker_count(options.jobs, total));
    if (profiling(options)) pool_profiles(pool, programs.size());
    Progress progress;
    progress_start(progress, total);

    uint64_t played = play_all(options, programs, pool, progress, summaries, csv);
    progress_finish(progress);

    int caught = interrupt_signal();
    if (caught != 0) {
        print_to(stderr, MSG_INTERRUPTED, static_cast<unsigned long long>(played),
                 static_cast<unsigned long long>(total));
    }
    bool written = csv_close(csv, caught != 0);
    if (options.json) {
        std::string text = summary_json(options, summaries);
        if (profiling(options) && caught == 0)
            written = report_profiles(options, programs, lines, pool, &text) && written;
        print_out("%s\n", text.c_str());
    } else {
        print_summary(options, summaries);
        if (profiling(options) && caught == 0)
            written = report_profiles(options, programs, lines, pool, nullptr) && written;
    }
    if (caught != 0) return EXIT_SIGNAL_BASE + caught;
    if (!written) return EXIT_BAD_INVOCATION;
    return compiledCount == programs.size() ? EXIT_OK : EXIT_COMPILE_FAILED;
}

}  // namespace

bool read_sources(const std::vector<const char*>& paths, std::vector<char*>& sources) {
    sources.clear();
    for (const char* path : paths) {
        SourceNotes notes;
        char* source = read_source_file_noted(path, notes);
        if (source == nullptr) {
            report_unreadable(shown(path).c_str());
            for (char* s : sources) std::free(s);
            sources.clear();
            return false;
        }
        warn_source_notes(path, notes);
        sources.push_back(source);
    }
    return true;
}

void compile_program(const char* source, CompiledProgram& program, CompilerContext& context, bool printDiagnostics) {
    program.result = std::make_unique<CompileResult>();
    program.compiled = compile_source(source, program.result.get(), &context) == 1;
    if (!program.compiled && printDiagnostics) print_diagnostics(*program.result, nullptr, true);
}

int run_sweep(const ArenaOptions& options) {
    if (csv_over_program(options.csvPath, options.programs)) return EXIT_BAD_INVOCATION;
    interrupt_catch();
    int status = sweep(options);
    interrupt_release();
    return status;
}

}  // namespace prendax
