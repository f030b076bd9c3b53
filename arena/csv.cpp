// Writing and reading the per-match CSV. Numbers are whole numbers written in
// plain decimal, so a row is a pure function of its match.
#include "arena/csv.h"

#include <algorithm>
#include <cstring>

#include "frontend/frontend.h"

namespace prendax {

std::string match_error_text(const MatchResult& result) {
    if (!result.hasError) return {};
    char text[MESSAGE_SIZE + 32];
    std::snprintf(text, sizeof text, "línea %d: %.*s", result.errorLine, MESSAGE_SIZE - 1, result.errorMessage);
    return text;
}

void match_fields(const char* program, int32_t level, uint32_t seed, const MatchResult& result, CsvRecord& fields) {
    fields.assign(CSV_COLUMNS, std::string());
    fields[CSV_PROGRAM] = program;
    fields[CSV_LEVEL] = std::to_string(level);
    fields[CSV_SEED] = std::to_string(seed);
    fields[CSV_OUTCOME] = vm_status_name(result.status);
    fields[CSV_SCORE] = std::to_string(result.score);
    fields[CSV_HEALTH] = std::to_string(result.health);
    fields[CSV_WAVE] = std::to_string(result.wave);
    fields[CSV_TICKS] = std::to_string(result.ticks);
    fields[CSV_VM_STATUS] = std::to_string(result.status);
    fields[CSV_STEPS] = std::to_string(result.steps);
    fields[CSV_BUDGET_HITS] = std::to_string(result.budgetHits);
    fields[CSV_ERROR] = match_error_text(result);
    fields[CSV_TICK_LIMIT] = std::to_string(result.tickLimit);
}

constexpr const char* MSG_CSV_DROPPED = "El CSV de un barrido interrumpido no se guarda: %s queda como estaba\n";

bool csv_over_program(const char* csvPath, const std::vector<const char*>& programs) {
    if (csvPath == nullptr) return false;
    const bool over = std::ranges::any_of(programs, [csvPath](const char* path) { return same_file(csvPath, path); });
    if (over) print_to(stderr, MSG_OVER_SOURCE, shown(csvPath).c_str());
    return over;
}

bool csv_open(CsvOutput& csv, const char* path) {
    csv.path = path;
    if (path == nullptr) return true;
    if (output_open(csv.out, path)) return true;
    print_to(stderr, MSG_UNWRITABLE, shown(path).c_str());
    return false;
}

void csv_write(CsvOutput& csv, const CsvRecord& fields) {
    if (csv.out.file == nullptr) return;
    std::string line = csv_line(fields);
    std::fwrite(line.data(), 1, line.size(), csv.out.file);
}

bool csv_close(CsvOutput& csv, bool interrupted) {
    if (csv.path == nullptr) return true;
    if (interrupted) {
        output_discard(csv.out);
        print_to(stderr, MSG_CSV_DROPPED, shown(csv.path).c_str());
        return true;
    }
    if (output_close(csv.out) && output_commit(csv.out)) return true;
    output_discard(csv.out);
    print_to(stderr, MSG_UNWRITABLE, shown(csv.path).c_str());
    return false;
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string csv_line(const CsvRecord& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); i++) {
        if (i != 0) line += ',';
        line += csv_field(fields[i]);
    }
    line += '\n';
    return line;
}

CsvRecord csv_header(int columns) {
    CsvRecord fields;
    for (int i = 0; i < columns && i < CSV_COLUMNS; i++) fields.emplace_back(CSV_COLUMN_TABLE[i].name);
    return fields;
}

CsvReader csv_reader(std::FILE* file) { return CsvReader{file, 1, 0}; }

namespace {

constexpr int QUOTE_UNCLOSED = EOF - 1;   // the file ended inside quotes
constexpr int RECORD_TOO_LONG = EOF - 2;  // the record reached MAX_CSV_RECORD_BYTES

// The next byte of the record, EOF, or RECORD_TOO_LONG once the record holds
// its most bytes.
int next_byte(CsvReader& reader) {
    if (reader.recordBytes >= MAX_CSV_RECORD_BYTES) return RECORD_TOO_LONG;
    int c = std::getc(reader.file);
    if (c != EOF) reader.recordBytes++;
    return c;
}

// Reads a quoted field's text up to its closing quote ("" stands for one
// quote) and returns the character after that quote, QUOTE_UNCLOSED or
// RECORD_TOO_LONG.
int read_quoted(CsvReader& reader, std::string& field) {
    for (;;) {
        int c = next_byte(reader);
        if (c == EOF) return QUOTE_UNCLOSED;
        if (c == RECORD_TOO_LONG) return c;
        if (c == '"') {
            int next = next_byte(reader);
            if (next != '"') return next;
            field += '"';
            continue;
        }
        if (c == '\n') reader.line++;
        field += static_cast<char>(c);
    }
}

// Closes the record at c, a line feed or EOF, with its last field; a carriage
// return before the line feed is dropped unless it was quoted.
void close_record(CsvReader& reader, CsvRecord& fields, std::string& field, bool wasQuoted, int c) {
    if (c == '\n') reader.line++;
    if (!wasQuoted && !field.empty() && field.back() == '\r') field.pop_back();
    fields.push_back(field);
}

}  // namespace

// A record ends at a line feed outside quotes (a carriage return before it is
// dropped) or at the end of the file.
CsvReadStatus csv_read(CsvReader& reader, CsvRecord& fields, int64_t& startLine) {
    fields.clear();
    startLine = reader.line;
    reader.recordBytes = 0;
    int c = next_byte(reader);
    if (c == EOF) return CSV_READ_END;
    std::string field;
    bool wasQuoted = false;  // the current field was quoted and its quotes are closed
    while (true) {
        if (c == RECORD_TOO_LONG) return CSV_READ_TOO_LONG;
        if (c == ',') {
            fields.push_back(field);
            field.clear();
            wasQuoted = false;
        } else if (c == '\n' || c == EOF) {
            close_record(reader, fields, field, wasQuoted, c);
            return CSV_READ_RECORD;
        } else if (c == '"') {
            if (!field.empty() || wasQuoted) return CSV_READ_STRAY_QUOTE;
            c = read_quoted(reader, field);
            if (c == QUOTE_UNCLOSED) return CSV_READ_UNCLOSED_QUOTE;
            wasQuoted = true;
            continue;  // c may be RECORD_TOO_LONG: the loop's first test takes it
        } else if (wasQuoted && c != '\r') {
            return CSV_READ_STRAY_QUOTE;  // text after a closing quote
        } else if (!wasQuoted) {
            field += static_cast<char>(c);
        }
        c = next_byte(reader);
    }
}

}  // namespace prendax
