// The arena's option scan. Options are compared exactly and case-sensitively, as
// prendax_cli does; a value option takes the next argument whatever it looks
// like, and every value is checked before anything is read or played.
#include "arena/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "frontend/files.h"
#include "frontend/option_scan.h"

namespace prendax {

namespace {

constexpr const char* USAGE_TEXT =
    "Uso: prendax_arena [--seeds A-B | --seeds N] [--levels 1,2,3] [--ticks N] [--jobs N] [--csv FILE] "
    "[--json] [--profile] [--profile-collapsed FILE] [--verify FILE [--trust-paths]] robot.zkv [robot2.zkv ...]\n"
    "       prendax_arena --summary [--json] [--ticks N] FILE.csv [FILE.csv ...]\n"

    "       prendax_arena --compare [--sprt [--p1 P] [--alpha A] [--beta B]] [--seeds A-B | --seeds N] "
    "[--levels 1,2,3] [--ticks N] [--jobs N] [--csv FILE] [--json] A.zkv B.zkv\n";
constexpr const char* MSG_BAD_SEEDS =
    "Rango de semillas no válido: %s (se espera N, de 1 a %u, o A-B con A <= B <= %u)\n";
constexpr const char* MSG_BAD_LEVELS =
    "Lista de niveles no válida: %s (niveles de %d a %d separados por comas, sin repetir)\n";
constexpr const char* MSG_BAD_TICKS = "Número de ticks no válido: %s\n";
constexpr const char* MSG_BAD_JOBS = "Número de trabajos no válido: %s (mínimo 1)\n";
constexpr const char* MSG_NO_PROGRAM = "No se indicó ningún programa\n";
constexpr const char* MSG_REPEATED_PROGRAM = "Programa repetido: %s\n";
constexpr const char* MSG_BAD_P1 = "Valor de --p1 no válido: %s (se espera un número mayor que 0.5 y menor que 1)\n";
constexpr const char* MSG_BAD_ERROR_RATE =
    "Valor de %s no válido: %s (se espera un número mayor que 0 y menor que 0.5)\n";
constexpr const char* MSG_COMPARE_COUNT = "--compare necesita exactamente dos programas, A y B (se indicaron %zu)\n";
constexpr const char* MSG_NEEDS_COMPARE = "%s solo vale junto con --compare\n";
constexpr const char* MSG_NEEDS_SPRT = "--p1, --alpha y --beta solo valen junto con --sprt\n";
constexpr const char* MSG_COMPARE_PROFILE = "--profile y --profile-collapsed no valen junto con --compare\n";
constexpr const char* MSG_COMPARE_VERIFY = "--compare y --verify no se pueden usar juntos\n";

// Decimal digits only, at least one, within 32 bits unsigned.
bool parse_u32(const char* begin, const char* end, uint32_t& value) {
    if (begin == end) return false;
    uint64_t v = 0;
    for (const char* p = begin; p != end; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > MAX_SEED) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

// Reports a bad value and gives the scan's answer to it.
ScanOutcome bad_value(const char* message, const char* value) {
    print_to(stderr, message, shown(value).c_str());
    return SCAN_EXIT_BAD;
}

ScanOutcome read_seeds(ArenaOptions& options, const char* value) {
    if (parse_seed_range(value, options.firstSeed, options.lastSeed)) return SCAN_GO_ON;
    print_to(stderr, MSG_BAD_SEEDS, shown(value).c_str(), MAX_SEED, MAX_SEED);
    return SCAN_EXIT_BAD;
}

ScanOutcome read_levels(ArenaOptions& options, const char* value) {
    if (parse_level_list(value, options.levels, options.levelCount)) return SCAN_GO_ON;
    print_to(stderr, MSG_BAD_LEVELS, shown(value).c_str(), MIN_LEVEL, MAX_LEVEL);
    return SCAN_EXIT_BAD;
}

ScanOutcome read_ticks(ArenaOptions& options, const char* value) {
    if (!parse_int32(value, options.ticks)) return bad_value(MSG_BAD_TICKS, value);
    options.ticksGiven = true;
    return SCAN_GO_ON;
}

ScanOutcome read_jobs(ArenaOptions& options, const char* value) {
    if (!parse_int32(value, options.jobs) || options.jobs < 1) return bad_value(MSG_BAD_JOBS, value);
    return SCAN_GO_ON;
}

ScanOutcome read_p1(ArenaOptions& options, const char* value) {
    options.sprtParameterGiven = true;
    if (!parse_open_fraction(value, 0.5, 1.0, options.sprtP1)) return bad_value(MSG_BAD_P1, value);
    return SCAN_GO_ON;
}

template <double ArenaOptions::*rate>
ScanOutcome read_error_rate(ArenaOptions& options, const char* value) {
    options.sprtParameterGiven = true;
    if (parse_open_fraction(value, 0.0, 0.5, options.*rate)) return SCAN_GO_ON;
    print_to(stderr, MSG_BAD_ERROR_RATE, rate == &ArenaOptions::sprtAlpha ? "--alpha" : "--beta", value);
    return SCAN_EXIT_BAD;
}

constexpr OptionRow<ArenaOptions> OPTIONS[] = {
    {"--seeds", true, read_seeds},
    {"--levels", true, read_levels},
    {"--ticks", true, read_ticks},
    {"--jobs", true, read_jobs},
    {"--csv", true, read_path<&ArenaOptions::csvPath>},
    {"--verify", true, read_path<&ArenaOptions::verifyPath>},
    {"--profile-collapsed", true, read_path<&ArenaOptions::collapsedPath>},
    {"--p1", true, read_p1},
    {"--alpha", true, read_error_rate<&ArenaOptions::sprtAlpha>},
    {"--beta", true, read_error_rate<&ArenaOptions::sprtBeta>},
    {"--json", false, set_flag<&ArenaOptions::json>},
    {"--profile", false, set_flag<&ArenaOptions::profile>},
    {"--summary", false, set_flag<&ArenaOptions::summary>},
    {"--trust-paths", false, set_flag<&ArenaOptions::trustPaths>},
    {"--compare", false, set_flag<&ArenaOptions::compare>},
    {"--sprt", false, set_flag<&ArenaOptions::sprt>},
};

void take_program(ArenaOptions& options, const char* arg) { options.programs.push_back(arg); }

// The same program twice would give two rows for one (program, level, seed).
// Files are compared, not spellings: ok.zkv and ./ok.zkv are one program.
bool has_repeated_program(const ArenaOptions& options) {
    for (std::size_t i = 0; i < options.programs.size(); i++) {
        for (std::size_t j = 0; j < i; j++) {
            if (same_file(options.programs[i], options.programs[j])) {
                print_to(stderr, MSG_REPEATED_PROGRAM, shown(options.programs[i]).c_str());
                return true;
            }
        }
    }
    return false;
}

// The combinations that --compare and --sprt allow; a bad one is reported.
bool compare_options_fit(const ArenaOptions& options) {
    if (options.compare && options.verifyPath != nullptr) {
        print_to(stderr, "%s", MSG_COMPARE_VERIFY);
        return false;
    }
    if (options.compare && (options.profile || options.collapsedPath != nullptr)) {
        print_to(stderr, "%s", MSG_COMPARE_PROFILE);
        return false;
    }
    if (!options.compare && options.sprt) {
        print_to(stderr, MSG_NEEDS_COMPARE, "--sprt");
        return false;
    }
    if (!options.sprt && options.sprtParameterGiven) {
        print_to(stderr, "%s", MSG_NEEDS_SPRT);
        return false;
    }
    if (options.compare && options.programs.size() != 2) {
        print_to(stderr, MSG_COMPARE_COUNT, options.programs.size());
        return false;
    }
    return true;
}

}  // namespace

bool parse_open_fraction(const char* text, double low, double high, double& value) {
    // Digits, one optional point and an optional exponent: no signs, spaces, "nan" or "inf".
    if (*text == '\0' || std::strspn(text, "0123456789.eE-") != std::strlen(text)) return false;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v > low && v < high)) return false;
    value = v;
    return true;
}

bool parse_seed_range(const char* text, uint32_t& first, uint32_t& last) {
    const char* end = text + std::strlen(text);
    const char* dash = std::strchr(text, '-');
    uint32_t a = 0;
    uint32_t b = 0;
    if (dash == nullptr) {
        if (!parse_u32(text, end, b) || b < 1) return false;
        a = 1;
    } else if (!parse_u32(text, dash, a) || !parse_u32(dash + 1, end, b) || a > b) {
        return false;
    }
    first = a;
    last = b;
    return true;
}

bool parse_level_list(const char* text, int32_t (&levels)[LEVEL_COUNT], int32_t& count) {
    bool seen[LEVEL_COUNT] = {};
    const char* p = text;
    while (true) {
        const char* end = std::strchr(p, ',');
        if (end == nullptr) end = p + std::strlen(p);
        uint32_t level = 0;
        if (!parse_u32(p, end, level) || level < MIN_LEVEL || level > MAX_LEVEL) return false;
        if (seen[level - MIN_LEVEL]) return false;
        seen[level - MIN_LEVEL] = true;
        if (*end == '\0') break;
        p = end + 1;
    }
    int32_t n = 0;
    for (int32_t i = 0; i < LEVEL_COUNT; i++) {
        if (seen[i]) levels[n++] = MIN_LEVEL + i;
    }
    count = n;
    return true;
}

bool parse_int32(const char* text, int32_t& value) {
    bool negative = *text == '-';
    const char* digits = negative ? text + 1 : text;
    if (*digits == '\0') return false;
    int64_t v = 0;
    for (const char* p = digits; *p != '\0'; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) return false;
    }
    if (negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

int32_t worker_count(int32_t jobs, uint64_t matches) {
    int64_t n = jobs;
    if (n < 1) {
        unsigned cores = std::thread::hardware_concurrency();
        n = cores == 0 ? 1 : static_cast<int64_t>(cores);
    }
    if (n > MAX_JOBS) n = MAX_JOBS;
    if (static_cast<uint64_t>(n) > matches) n = static_cast<int64_t>(matches);
    return static_cast<int32_t>(n < 1 ? 1 : n);
}

ScanOutcome scan_arena_options(int argc, char** argv, ArenaOptions& options) {
    const ScanOutcome outcome = scan_options(argc, argv, OPTIONS, ScanRules{USAGE_TEXT, true}, options, take_program);
    if (outcome != SCAN_GO_ON) return outcome;
    if (!compare_options_fit(options)) return SCAN_EXIT_BAD;
    if (options.verifyPath == nullptr && options.programs.empty()) {
        print_to(stderr, MSG_NO_PROGRAM);
        print_to(stderr, "%s", USAGE_TEXT);
        return SCAN_EXIT_BAD;
    }
    // A comparison writes one row per pair, so A and B may even be the same file.
    if (!options.compare && has_repeated_program(options)) return SCAN_EXIT_BAD;
    return SCAN_GO_ON;
}

}  // namespace prendax
