// The regression check. Rows are read in blocks; the programs they name are
// read and compiled on first sight (on this thread), the block is played on
// the workers, and the rows are compared in file order, so the row named is
// always the first that differs, whatever the number of workers.
#include "arena/verify.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "arena/csv.h"
#include "arena/match_pool.h"
#include "arena/progress.h"
#include "arena/sweep.h"
#include "cli/cli.h"

namespace prendax {

namespace {

constexpr const char* MSG_BAD_CSV = "CSV no válido: %s, línea %lld: %s\n";
constexpr const char* WHY_HEADER = "la cabecera no es la de prendax_arena";
constexpr const char* WHY_COLUMNS = "se esperan 12 columnas";
constexpr const char* WHY_LEVEL = "nivel no válido";
constexpr const char* WHY_SEED = "semilla no válida";
constexpr const char* WHY_UNCLOSED = "comillas sin cerrar";
constexpr const char* WHY_STRAY = "comillas fuera de lugar";
constexpr const char* MSG_ROW_DIFFERS = "Fila distinta en %s, línea %lld (%s, nivel %d, semilla %u):\n";
constexpr const char* MSG_COLUMN_DIFFERS = "  %s: en el CSV \"%s\", al repetir \"%s\"\n";
constexpr const char* MSG_NOT_COMPILED =
    "Fila distinta en %s, línea %lld (%s, nivel %d, semilla %u): el programa no compila\n";
constexpr const char* MSG_ALL_AGREE = "Verificación correcta: %llu partidas de %s coinciden\n";

static_assert(CSV_COLUMNS == 12, "WHY_COLUMNS names the column count");

constexpr int EXIT_ROW_DIFFERS = 1;  // a row differs, or its program no longer compiles

// One row waiting for its replay.
struct PendingRow {
    int64_t line;
    std::size_t program;
    CsvRecord fields;
};

// Why the reading of rows stopped before the end of the file.
enum StopReason { STOP_NONE, STOP_BAD_CSV, STOP_UNREADABLE, STOP_NOT_COMPILED };

struct Verification {
    const char* path;
    std::FILE* file;
    CsvReader reader;
    std::unique_ptr<CompilerContext> context;
    std::vector<CompiledProgram> programs;  // in order of first sight
    std::map<std::string, std::size_t> programIndex;
    StopReason stop = STOP_NONE;
    const char* why = nullptr;
    int64_t stopLine = 0;
    CsvRecord stopFields;
    uint64_t verified = 0;
};

int bad_csv(const Verification& v, int64_t line, const char* why) {
    print_to(stderr, MSG_BAD_CSV, v.path, static_cast<long long>(line), why);
    return EXIT_BAD_INVOCATION;
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
// (with the reason kept) when it cannot be read.
bool find_program(Verification& v, const std::string& path, std::size_t& index) {
    auto found = v.programIndex.find(path);
    if (found != v.programIndex.end()) {
        index = found->second;
        return true;
    }
    char* source = read_source_file(path.c_str());
    if (source == nullptr) {
        report_unreadable(path.c_str());
        return false;
    }
    index = v.programs.size();
    v.programs.emplace_back();
    compile_program(source, v.programs.back(), *v.context);
    std::free(source);
    v.programIndex.emplace(path, index);
    return true;
}

// A blank line reads as one empty field; it holds no match.
bool is_blank(const CsvRecord& fields) { return fields.size() == 1 && fields[0].empty(); }

void stop_reading(Verification& v, StopReason reason, int64_t line, const char* why, const CsvRecord& fields) {
    v.stop = reason;
    v.stopLine = line;
    v.why = why;
    v.stopFields = fields;
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
        if (status == CSV_READ_UNCLOSED_QUOTE || status == CSV_READ_STRAY_QUOTE) {
            stop_reading(v, STOP_BAD_CSV, line, status == CSV_READ_UNCLOSED_QUOTE ? WHY_UNCLOSED : WHY_STRAY, fields);
            return;
        }
        if (is_blank(fields)) continue;
        int32_t level = 0;
        uint32_t seed = 0;
        std::size_t program = 0;
        if (fields.size() != static_cast<std::size_t>(CSV_COLUMNS)) {
            stop_reading(v, STOP_BAD_CSV, line, WHY_COLUMNS, fields);
        } else if (!parse_level(fields[CSV_LEVEL], level)) {
            stop_reading(v, STOP_BAD_CSV, line, WHY_LEVEL, fields);
        } else if (!parse_seed(fields[CSV_SEED], seed)) {
            stop_reading(v, STOP_BAD_CSV, line, WHY_SEED, fields);
        } else if (!find_program(v, fields[CSV_PROGRAM], program)) {
            stop_reading(v, STOP_UNREADABLE, line, nullptr, fields);
        } else if (!v.programs[program].compiled) {
            stop_reading(v, STOP_NOT_COMPILED, line, nullptr, fields);
        } else {
            jobs.push_back(MatchJob{v.programs[program].result.get(), level, seed});
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
        if (replayed == row.fields) {
            v.verified++;
            continue;
        }
        print_out(MSG_ROW_DIFFERS, v.path, static_cast<long long>(row.line), row.fields[CSV_PROGRAM].c_str(),
                  jobs[i].level, jobs[i].seed);
        for (int32_t c = 0; c < CSV_COLUMNS; c++) {
            if (replayed[c] == row.fields[c]) continue;
            print_out(MSG_COLUMN_DIFFERS, CSV_COLUMN_TABLE[c].name, row.fields[c].c_str(), replayed[c].c_str());
        }
        return false;
    }
    return true;
}

// The number of rows, for the progress bar only; the file is read back from the start after.
uint64_t count_rows(Verification& v) {
    CsvReader counter = v.reader;
    CsvRecord fields;
    int64_t line = 0;
    uint64_t n = 0;
    long start = std::ftell(v.file);
    while (csv_read(counter, fields, line) == CSV_READ_RECORD) {
        if (!is_blank(fields)) n++;
    }
    std::clearerr(v.file);
    std::fseek(v.file, start, SEEK_SET);
    return n;
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
            print_out(MSG_NOT_COMPILED, v.path, static_cast<long long>(v.stopLine), f[CSV_PROGRAM].c_str(), level,
                      seed);
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
    v.file = std::fopen(v.path, "rb");
    if (v.file == nullptr) {
        report_unreadable(v.path);
        return EXIT_BAD_INVOCATION;
    }
    v.reader = csv_reader(v.file);
    v.context = std::make_unique<CompilerContext>();

    CsvRecord header;
    int64_t line = 0;
    CsvReadStatus status = csv_read(v.reader, header, line);
    if (status != CSV_READ_RECORD || header != csv_header()) {
        // A directory opens but cannot be read.
        if (std::ferror(v.file)) {
            std::fclose(v.file);
            report_unreadable(v.path);
            return EXIT_BAD_INVOCATION;
        }
        std::fclose(v.file);
        return bad_csv(v, line, WHY_HEADER);
    }

    Progress progress;
    progress_start(progress, progress_wanted() ? count_rows(v) : 0);

    MatchPool pool;
    pool_init(pool, worker_count(options.jobs, BLOCK_MATCHES), options.ticks);
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
        report_unreadable(v.path);
        return EXIT_BAD_INVOCATION;
    }
    print_out(MSG_ALL_AGREE, static_cast<unsigned long long>(v.verified), v.path);
    return EXIT_OK;
}

}  // namespace prendax
