// The per-match CSV: one header row, then one row per match in the order
// program, level, seed. Fields that hold a comma, a double quote or a line break
// are quoted, with inner quotes doubled.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "arena/match_pool.h"
#include "compiler/enum_table.h"
#include "frontend/files.h"

namespace prendax {

enum CsvColumn : int32_t {
    CSV_PROGRAM,
    CSV_LEVEL,
    CSV_SEED,
    CSV_OUTCOME,
    CSV_SCORE,
    CSV_HEALTH,
    CSV_WAVE,
    CSV_TICKS,
    CSV_VM_STATUS,
    CSV_STEPS,
    CSV_BUDGET_HITS,
    CSV_ERROR,
    CSV_TICK_LIMIT,
};

struct CsvColumnRow {
    CsvColumn value;
    const char* name;
};

inline constexpr CsvColumnRow CSV_COLUMN_TABLE[] = {
    {CSV_PROGRAM, "program"},
    {CSV_LEVEL, "level"},
    {CSV_SEED, "seed"},
    {CSV_OUTCOME, "outcome"},
    {CSV_SCORE, "score"},
    {CSV_HEALTH, "health"},
    {CSV_WAVE, "wave"},
    {CSV_TICKS, "ticks"},
    {CSV_VM_STATUS, "vmStatus"},
    {CSV_STEPS, "steps"},
    {CSV_BUDGET_HITS, "budgetHits"},
    {CSV_ERROR, "error"},
    {CSV_TICK_LIMIT, "tickLimit"},
};
inline constexpr int CSV_COLUMNS = sizeof(CSV_COLUMN_TABLE) / sizeof(CSV_COLUMN_TABLE[0]);
static_assert(table_is_dense(CSV_COLUMN_TABLE) && CSV_COLUMNS == 13);
// CSVs written before the tick limit had a column of its own hold the columns
// before it; they verify only with --ticks.
inline constexpr int CSV_COLUMNS_WITHOUT_LIMIT = CSV_TICK_LIMIT;

using CsvRecord = std::vector<std::string>;

// The error column: "línea L: mensaje" as the console report writes it, or empty.
std::string match_error_text(const MatchResult& result);

// The text of every column of one match, in column order.
void match_fields(const char* program, int32_t level, uint32_t seed, const MatchResult& result, CsvRecord& fields);

// One field as it is written: quoted when it needs it.
std::string csv_field(const std::string& text);
// A record as one line, ended by a line feed.
std::string csv_line(const CsvRecord& fields);
// The header row's fields: every column, or those of the CSVs without the tick limit.
CsvRecord csv_header(int columns = CSV_COLUMNS);

// A CSV being written. It is written under a temporary name and takes its own
// name only once the run has finished and every row was written.
struct CsvOutput {
    OutputFile out;
    const char* path = nullptr;  // null: no CSV was asked for
    CsvRecord fields;            // a row's fields, reused from row to row
};

// Refuses (reported) a CSV that would overwrite one of the programs.
bool csv_over_program(const char* csvPath, const std::vector<const char*>& programs);
// Opens path for writing (nothing happens for a null path); false, reported, when it cannot be.
bool csv_open(CsvOutput& csv, const char* path);
// Writes one row; nothing when no CSV is open.
void csv_write(CsvOutput& csv, const CsvRecord& fields);
// Closes the CSV and puts it in place; false (reported) when any write failed,
// and then the file under the CSV's name stays as it was. The CSV of an
// interrupted run is dropped (reported): no file under its name may look complete.
bool csv_close(CsvOutput& csv, bool interrupted);

// The longest record read, its line feed included: a row holds a path (at most
// 4096 bytes, twice that when every byte is a quote), a message of at most
// MESSAGE_SIZE bytes and a few numbers, so this leaves room to spare while a
// file with no line feed (a device of zeros) stops being read early.
inline constexpr std::size_t MAX_CSV_RECORD_BYTES = 16384;

// Reads CSV records from a stream, quoted fields included.
struct CsvReader {
    std::FILE* file;
    int64_t line;             // the line the next record starts on, 1-based
    std::size_t recordBytes;  // bytes read of the current record
};

enum CsvReadStatus {
    CSV_READ_RECORD,
    CSV_READ_END,
    CSV_READ_UNCLOSED_QUOTE,
    CSV_READ_STRAY_QUOTE,
    CSV_READ_TOO_LONG,  // a record past MAX_CSV_RECORD_BYTES; nothing more is read
};

CsvReader csv_reader(std::FILE* file);
// The next record into fields; startLine is the line it starts on.
CsvReadStatus csv_read(CsvReader& reader, CsvRecord& fields, int64_t& startLine);

}  // namespace prendax
