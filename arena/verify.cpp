// The regression check. Rows are read in blocks; the programs they name are
// read and compiled on first sight (on this thread), the block is played on
// the workers, and the rows are compared in file order, so the row named is
// always the first that differs, whatever the number of workers.
//
// The CSV is untrusted input: its records are bounded in length, the programs
// it names must be regular files inside the current folder (unless
// --trust-paths), their compile diagnostics are not quoted, and every field
// repeated in a message is escaped.
#include "arena/verify.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "arena/csv.h"
#include "arena/match_pool.h"
#include "arena/progress.h"
#include "arena/summary.h"
#include "arena/sweep.h"
#include "frontend/files.h"
#include "frontend/frontend.h"

namespace prendax {

namespace {

constexpr const char* MSG_BAD_CSV = "CSV no válido: %s, línea %lld: %s\n";
constexpr const char* WHY_HEADER = "la cabecera no es la de prendax_arena";
constexpr const char* WHY_COLUMNS = "se esperan %d columnas";
constexpr const char* WHY_TICK_LIMIT = "límite de ticks no válido";
constexpr const char* MSG_TICKS_NEEDED =
    "%s no tiene la columna tickLimit (lo escribió una versión anterior): indique con --ticks N los ticks con que se "
    "jugó\n";
constexpr const char* WHY_LEVEL = "nivel no válido";
constexpr const char* WHY_SEED = "semilla no válida";
constexpr const char* WHY_UNCLOSED = "comillas sin cerrar";
constexpr const char* WHY_STRAY = "comillas fuera de lugar";
constexpr const char* WHY_TOO_LONG = "línea demasiado larga";
constexpr const char* MSG_OUTSIDE =
    "CSV no válido: %s, línea %lld: el programa %s está fuera de la carpeta actual (se admite con --trust-paths)\n";
constexpr const char* MSG_NOT_REGULAR = "CSV no válido: %s, línea %lld: %s no es un archivo regular\n";
constexpr const char* MSG_NO_ROWS = "Verificación fallida: %s no tiene filas: no hay partidas que comparar\n";
constexpr const char* MSG_REREAD = "No se pudo volver al principio de %s\n";
constexpr const char* MSG_ROW_DIFFERS = "Fila distinta en %s, línea %lld (%s, nivel %d, semilla %u):\n";
constexpr const char* MSG_COLUMN_DIFFERS = "  %s: en el CSV \"%s\", al repetir \"%s\"\n";
constexpr const char* MSG_NOT_COMPILED =
    "Fila distinta en %s, línea %lld (%s, nivel %d, semilla %u): el programa no compila (primer error en la línea "
    "%d, col %d)\n";
constexpr const char* MSG_ALL_AGREE = "Verificación correcta: %llu partidas de %s coinciden\n";
constexpr const char* WHY_NUMBER = "número no válido";
constexpr const char* WHY_REPEATED = "partida repetida";

constexpr int EXIT_ROW_DIFFERS = 1;  // a row differs, or its program no longer compiles

// One row waiting for its replay.
struct PendingRow {
    int64_t line;
    std::size_t program;
    CsvRecord fields;
};

// Why the reading of rows stopped before the end of the file.
enum StopReason { STOP_NONE, STOP_BAD_CSV, STOP_UNREADABLE, STOP_NOT_COMPILED };

// Why a program named by a row is not read.
enum ProgramRefusal { PROGRAM_OK, PROGRAM_OUTSIDE, PROGRAM_NOT_REGULAR, PROGRAM_UNREADABLE };

struct Verification {
    const char* path;
    std::string shownPath;  // the CSV's name as messages show it
    bool trustPaths;
    std::FILE* file;
    CsvReader reader;
    std::unique_ptr<CompilerContext> context;
    std::vector<CompiledProgram> programs;  // in order of first sight
    std::map<std::string, std::size_t> programIndex;
    int columns = CSV_COLUMNS;  // the columns of this file's header
    int32_t ticks = 0;          // every row's tick limit when the file has no column for it
    StopReason stop = STOP_NONE;
    std::string why;
    int64_t stopLine = 0;
    CsvRecord stopFields;
    uint64_t verified = 0;
};

int bad_csv(const Verification& v, int64_t line, const std::string& why) {
    print_to(stderr, MSG_BAD_CSV, v.shownPath.c_str(), static_cast<long long>(line), why.c_str());
    return EXIT_BAD_INVOCATION;
}

// A relative path whose file, links resolved, lies inside the current folder.
bool inside_current_folder(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path p(path);
    if (path.empty() || p.is_absolute()) return false;
    std::error_code ec;
    fs::path here = fs::current_path(ec);
    if (ec) return false;
    fs::path resolved = fs::weakly_canonical(here / p, ec);
    if (ec) return false;
    here = fs::weakly_canonical(here, ec);
    if (ec) return false;
    auto [end, at] = std::mismatch(here.begin(), here.end(), resolved.begin(), resolved.end());
    return end == here.end() && at != resolved.end();
}

// Whether a program a row names may be read: inside the current folder
// unless trusted, and a regular file (a pipe or a device would hang the run
// or never end).
ProgramRefusal check_program_path(const Verification& v, const std::string& path) {
    if (!v.trustPaths && !inside_current_folder(path)) return PROGRAM_OUTSIDE;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return PROGRAM_UNREADABLE;
    if (!S_ISREG(info.st_mode)) return PROGRAM_NOT_REGULAR;
    return PROGRAM_OK;
}

bool parse_level(const std::string& text, int32_t& level) {
    if (text.size() != 1 || text[0] < '0' + MIN_LEVEL || text[0] > '0' + MAX_LEVEL) return false;
    level = text[0] - '0';
    return true;
}

bool parse_seed(const std::string& text, uint32_t& seed) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > MAX_SEED) return false;
    seed = static_cast<uint32_t>(v);
    return true;
}

// The program of a row, read and compiled the first time it is named; false
// (reported) when it may not or cannot be read. Its diagnostics are not
// printed: they would quote the file, which the CSV's author chose.
bool find_program(Verification& v, const std::string& path, int64_t line, std::size_t& index) {
    auto found = v.programIndex.find(path);
    if (found != v.programIndex.end()) {
        index = found->second;
        return true;
    }
    ProgramRefusal refusal = check_program_path(v, path);
    char* source = refusal == PROGRAM_OK ? read_source_file(path.c_str()) : nullptr;
    if (source == nullptr) {
        std::string name = shown(path);
        auto at = static_cast<long long>(line);
        if (refusal == PROGRAM_OUTSIDE) {
            print_to(stderr, MSG_OUTSIDE, v.shownPath.c_str(), at, name.c_str());
        } else if (refusal == PROGRAM_NOT_REGULAR) {
            print_to(stderr, MSG_NOT_REGULAR, v.shownPath.c_str(), at, name.c_str());
        } else {
            report_unreadable(name.c_str());
        }
        return false;
    }
    index = v.programs.size();
    v.programs.emplace_back();
    compile_program(source, v.programs.back(), *v.context, false);
    std::free(source);
    v.programIndex.emplace(path, index);
    return true;
}

// A blank line reads as one empty field; it holds no match.
bool is_blank(const CsvRecord& fields) { return fields.size() == 1 && fields[0].empty(); }

void stop_reading(Verification& v, StopReason reason, int64_t line, const char* why, const CsvRecord& fields) {
    v.stop = reason;
    v.stopLine = line;
    v.why = why != nullptr ? why : "";
    v.stopFields = fields;
}

// Why a read that gave no record failed.
const char* read_failure(CsvReadStatus status) {
    switch (status) {
        case CSV_READ_UNCLOSED_QUOTE: return WHY_UNCLOSED;
        case CSV_READ_STRAY_QUOTE: return WHY_STRAY;
        case CSV_READ_TOO_LONG: return WHY_TOO_LONG;
        case CSV_READ_RECORD:
        case CSV_READ_END: break;
    }
    return WHY_HEADER;
}

// Reads rows until the block is full, the file ends or a row cannot be replayed.
void read_block(Verification& v, std::vector<PendingRow>& rows, std::vector<MatchJob>& jobs) {
    rows.clear();
    jobs.clear();
    CsvRecord fields;
    int64_t line = 0;
    while (rows.size() < BLOCK_MATCHES && v.stop == STOP_NONE) {
        CsvReadStatus status = csv_read(v.reader, fields, line);
        if (status == CSV_READ_END) return;
        if (status != CSV_READ_RECORD) {
            stop_reading(v, STOP_BAD_CSV, line, read_failure(status), fields);
            return;
        }
        if (is_blank(fields)) continue;
        int32_t level = 0;
        uint32_t seed = 0;
        int32_t ticks = v.ticks;
        std::size_t program = 0;
        if (fields.size() != static_cast<std::size_t>(v.columns)) {
            char why[64];
            std::snprintf(why, sizeof why, WHY_COLUMNS, v.columns);
            stop_reading(v, STOP_BAD_CSV, line, why, fields);
        } else if (!parse_level(fields[CSV_LEVEL], level)) {
            stop_reading(v, STOP_BAD_CSV, line, WHY_LEVEL, fields);
        } else if (!parse_seed(fields[CSV_SEED], seed)) {
            stop_reading(v, STOP_BAD_CSV, line, WHY_SEED, fields);
        } else if (v.columns > CSV_TICK_LIMIT && !parse_int32(fields[CSV_TICK_LIMIT].c_str(), ticks)) {
            stop_reading(v, STOP_BAD_CSV, line, WHY_TICK_LIMIT, fields);
        } else if (!find_program(v, fields[CSV_PROGRAM], line, program)) {
            stop_reading(v, STOP_UNREADABLE, line, nullptr, fields);
        } else if (!v.programs[program].compiled) {
            stop_reading(v, STOP_NOT_COMPILED, line, nullptr, fields);
        } else {
            jobs.push_back(MatchJob{v.programs[program].result.get(), level, seed, ticks});
            rows.push_back(PendingRow{line, program, fields});
        }
    }
}

// Compares the replayed block with its rows; false after naming the first row that differs.
bool compare_block(Verification& v, const std::vector<PendingRow>& rows, const std::vector<MatchJob>& jobs,
                   const std::vector<MatchResult>& results) {
    CsvRecord replayed;
    for (std::size_t i = 0; i < rows.size(); i++) {
        const PendingRow& row = rows[i];
        match_fields(row.fields[CSV_PROGRAM].c_str(), jobs[i].level, jobs[i].seed, results[i], replayed);
        replayed.resize(static_cast<std::size_t>(v.columns));
        if (replayed == row.fields) {
            v.verified++;
            continue;
        }
        print_out(MSG_ROW_DIFFERS, v.shownPath.c_str(), static_cast<long long>(row.line),
                  shown(row.fields[CSV_PROGRAM]).c_str(), jobs[i].level, jobs[i].seed);
        for (int32_t c = 0; c < v.columns; c++) {
            if (replayed[c] == row.fields[c]) continue;
            print_out(MSG_COLUMN_DIFFERS, CSV_COLUMN_TABLE[c].name, shown(row.fields[c]).c_str(),
                      shown(replayed[c]).c_str());
        }
        return false;
    }
    return true;
}

// The number of rows, for the progress bar only, counted only in a regular
// file (a pipe cannot be read twice): 0 when unknown. False when the file
// cannot be read back from where the rows start.
bool count_rows(Verification& v, uint64_t& n) {
    n = 0;
    struct stat info {};
    if (fstat(fileno(v.file), &info) != 0 || !S_ISREG(info.st_mode)) return true;
    long start = std::ftell(v.file);
    if (start < 0) return true;
    CsvReader counter = v.reader;
    CsvRecord fields;
    int64_t line = 0;
    while (csv_read(counter, fields, line) == CSV_READ_RECORD) {
        if (!is_blank(fields)) n++;
    }
    std::clearerr(v.file);
    return std::fseek(v.file, start, SEEK_SET) == 0;
}

int report_stop(const Verification& v) {
    const CsvRecord& f = v.stopFields;
    switch (v.stop) {
        case STOP_BAD_CSV: return bad_csv(v, v.stopLine, v.why);
        case STOP_UNREADABLE: return EXIT_BAD_INVOCATION;  // already reported
        case STOP_NOT_COMPILED: {
            int32_t level = 0;
            uint32_t seed = 0;
            parse_level(f[CSV_LEVEL], level);
            parse_seed(f[CSV_SEED], seed);
            const CompileResult& result = *v.programs[v.programIndex.at(f[CSV_PROGRAM])].result;
            const Diagnostic* first = result.errorCount > 0 ? &result.errors[0] : nullptr;
            print_out(MSG_NOT_COMPILED, v.shownPath.c_str(), static_cast<long long>(v.stopLine),
                      shown(f[CSV_PROGRAM]).c_str(), level, seed, first != nullptr ? first->line : 0,
                      first != nullptr ? first->col : 0);
            return EXIT_ROW_DIFFERS;
        }
        case STOP_NONE: break;
    }
    return EXIT_OK;
}

}  // namespace

int run_verify(const ArenaOptions& options) {
    Verification v;
    v.path = options.verifyPath;
    v.shownPath = shown(v.path);
    v.trustPaths = options.trustPaths;
    v.file = std::fopen(v.path, "rb");
    if (v.file == nullptr) {
        report_unreadable(v.shownPath.c_str());
        return EXIT_BAD_INVOCATION;
    }
    v.reader = csv_reader(v.file);
    v.context = std::make_unique<CompilerContext>();

    CsvRecord header;
    int64_t line = 0;
    CsvReadStatus status = csv_read(v.reader, header, line);
    if (status == CSV_READ_RECORD && header == csv_header(CSV_COLUMNS_WITHOUT_LIMIT)) {
        if (!options.ticksGiven) {
            std::fclose(v.file);
            print_to(stderr, MSG_TICKS_NEEDED, v.shownPath.c_str());
            return EXIT_BAD_INVOCATION;
        }
        v.columns = CSV_COLUMNS_WITHOUT_LIMIT;
        v.ticks = options.ticks;
    } else if (status != CSV_READ_RECORD || header != csv_header()) {
        // A directory opens but cannot be read.
        if (std::ferror(v.file)) {
            std::fclose(v.file);
            report_unreadable(v.shownPath.c_str());
            return EXIT_BAD_INVOCATION;
        }
        std::fclose(v.file);
        return bad_csv(v, line, status == CSV_READ_RECORD ? WHY_HEADER : read_failure(status));
    }

    uint64_t rowCount = 0;
    if (progress_wanted() && !count_rows(v, rowCount)) {
        std::fclose(v.file);
        print_to(stderr, MSG_REREAD, v.shownPath.c_str());
        return EXIT_BAD_INVOCATION;
    }
    Progress progress;
    progress_start(progress, rowCount);

    MatchPool pool;
    pool_init(pool, worker_count(options.jobs, BLOCK_MATCHES));
    std::vector<PendingRow> rows;
    std::vector<MatchJob> jobs;
    std::vector<MatchResult> results(BLOCK_MATCHES);
    int exitStatus = EXIT_OK;
    while (true) {
        read_block(v, rows, jobs);
        pool_play(pool, jobs.data(), results.data(), jobs.size(), &progress);
        if (!compare_block(v, rows, jobs, results)) {
            exitStatus = EXIT_ROW_DIFFERS;
            break;
        }
        if (v.stop != STOP_NONE) {
            exitStatus = report_stop(v);
            break;
        }
        if (rows.size() < BLOCK_MATCHES) break;
    }
    progress_finish(progress);
    bool readFailed = std::ferror(v.file) != 0;
    std::fclose(v.file);
    if (exitStatus != EXIT_OK) return exitStatus;
    if (readFailed) {
        report_unreadable(v.shownPath.c_str());
        return EXIT_BAD_INVOCATION;
    }
    // A file with no rows checked nothing: that is no success.
    if (v.verified == 0) {
        print_out(MSG_NO_ROWS, v.shownPath.c_str());
        return EXIT_ROW_DIFFERS;
    }
    print_out(MSG_ALL_AGREE, static_cast<unsigned long long>(v.verified), v.shownPath.c_str());
    return EXIT_OK;
}

namespace {

// The rows of every CSV of --summary, folded per program and level.
struct CsvSummary {
    std::vector<std::string> paths;  // programs in order of first sight
    std::map<std::string, std::size_t> index;
    std::map<std::pair<std::size_t, int32_t>, LevelSummary> levels;
    std::set<std::tuple<std::size_t, int32_t, uint32_t>> seen;  // (program, level, seed): a match counts once
    std::set<int32_t> levelSet;
    std::set<int32_t> limits;
    uint32_t firstSeed = UINT32_MAX;
    uint32_t lastSeed = 0;
};

bool parse_number(const std::string& text, int32_t& value) { return parse_int32(text.c_str(), value); }

// One row back into the figures its match gave; false when a field is not a number.
bool row_result(const CsvRecord& f, int32_t limit, MatchResult& r) {
    r = MatchResult{};
    r.tickLimit = limit;
    r.hasError = f[CSV_ERROR].empty() ? 0 : 1;
    return parse_number(f[CSV_VM_STATUS], r.status) && parse_number(f[CSV_SCORE], r.score) &&
           parse_number(f[CSV_HEALTH], r.health) && parse_number(f[CSV_WAVE], r.wave) &&
           parse_number(f[CSV_TICKS], r.ticks) && parse_number(f[CSV_STEPS], r.steps) &&
           parse_number(f[CSV_BUDGET_HITS], r.budgetHits);
}

// Folds one row of columns fields into the summary; returns why the row is
// refused, or an empty text.
std::string add_summary_row(const ArenaOptions& options, const CsvRecord& fields, int columns, CsvSummary& sum) {
    int32_t level = 0;
    uint32_t seed = 0;
    int32_t limit = options.ticks;
    MatchResult result;
    if (fields.size() != static_cast<std::size_t>(columns)) {
        char text[64];
        std::snprintf(text, sizeof text, WHY_COLUMNS, columns);
        return text;
    }
    if (!parse_level(fields[CSV_LEVEL], level)) return WHY_LEVEL;
    if (!parse_seed(fields[CSV_SEED], seed)) return WHY_SEED;
    if (columns > CSV_TICK_LIMIT && !parse_number(fields[CSV_TICK_LIMIT], limit)) return WHY_TICK_LIMIT;
    if (!row_result(fields, limit, result)) return WHY_NUMBER;
    auto [found, added] = sum.index.emplace(fields[CSV_PROGRAM], sum.paths.size());
    if (added) sum.paths.push_back(fields[CSV_PROGRAM]);
    if (!sum.seen.emplace(found->second, level, seed).second) return WHY_REPEATED;
    LevelSummary& s = sum.levels[{found->second, level}];
    s.level = level;
    summary_add_row(s, seed, result, fields[CSV_ERROR]);
    sum.levelSet.insert(level);
    sum.limits.insert(limit);
    if (seed < sum.firstSeed) sum.firstSeed = seed;
    if (seed > sum.lastSeed) sum.lastSeed = seed;
    return {};
}

// Reads one CSV into the summary; returns 0, or the exit status after reporting.
int read_summary_csv(const ArenaOptions& options, const char* path, CsvSummary& sum) {
    Verification v;
    v.path = path;
    v.shownPath = shown(path);
    v.file = std::fopen(path, "rb");
    if (v.file == nullptr) {
        report_unreadable(v.shownPath.c_str());
        return EXIT_BAD_INVOCATION;
    }
    v.reader = csv_reader(v.file);
    CsvRecord fields;
    int64_t line = 0;
    CsvReadStatus status = csv_read(v.reader, fields, line);
    int columns = CSV_COLUMNS;
    if (status == CSV_READ_RECORD && fields == csv_header(CSV_COLUMNS_WITHOUT_LIMIT)) {
        if (!options.ticksGiven) {
            std::fclose(v.file);
            print_to(stderr, MSG_TICKS_NEEDED, v.shownPath.c_str());
            return EXIT_BAD_INVOCATION;
        }
        columns = CSV_COLUMNS_WITHOUT_LIMIT;
    } else if (status != CSV_READ_RECORD || fields != csv_header()) {
        bool unreadable = std::ferror(v.file) != 0;
        std::fclose(v.file);
        if (unreadable) {
            report_unreadable(v.shownPath.c_str());
            return EXIT_BAD_INVOCATION;
        }
        return bad_csv(v, line, status == CSV_READ_RECORD ? WHY_HEADER : read_failure(status));
    }
    std::string why;
    while (why.empty() && (status = csv_read(v.reader, fields, line)) != CSV_READ_END) {
        if (status != CSV_READ_RECORD) {
            why = read_failure(status);
            break;
        }
        if (!is_blank(fields)) why = add_summary_row(options, fields, columns, sum);
    }
    bool unreadable = std::ferror(v.file) != 0;
    std::fclose(v.file);
    if (!why.empty()) return bad_csv(v, line, why);
    if (unreadable) {
        report_unreadable(v.shownPath.c_str());
        return EXIT_BAD_INVOCATION;
    }
    return EXIT_OK;
}

}  // namespace

int run_csv_summary(const ArenaOptions& options) {
    CsvSummary sum;
    for (const char* path : options.programs) {
        int status = read_summary_csv(options, path, sum);
        if (status != EXIT_OK) return status;
    }
    // The settings the run that wrote the rows had: its levels, its seed range, its ticks.
    ArenaOptions settings = options;
    settings.levelCount = 0;
    for (int32_t level : sum.levelSet) settings.levels[settings.levelCount++] = level;
    settings.firstSeed = sum.paths.empty() ? 0 : sum.firstSeed;
    settings.lastSeed = sum.lastSeed;
    if (!sum.limits.empty()) settings.ticks = *sum.limits.begin();
    std::vector<ProgramSummary> programs(sum.paths.size());
    for (std::size_t i = 0; i < programs.size(); i++) {
        programs[i].path = sum.paths[i].c_str();
        programs[i].compiled = true;
        for (int32_t level : sum.levelSet) {
            auto found = sum.levels.find({i, level});
            if (found != sum.levels.end()) programs[i].levels.push_back(found->second);
        }
    }
    return print_run_summary(settings, programs);
}

}  // namespace prendax
