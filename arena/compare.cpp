// The comparison run and its report. Matches are played in blocks on the
// workers, A's and B's match of a pair side by side; the pairs of a block are
// then judged one by one in seed order. With the sequential test a block may
// hold pairs past the one where the test decides: they are played but
// discarded, so the stopping pair and every figure are those of a strictly
// sequential run, whatever the number of workers.
#include "arena/compare.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "arena/csv.h"
#include "arena/interrupt.h"
#include "arena/progress.h"
#include "arena/sweep.h"
#include "frontend/files.h"
#include "frontend/frontend.h"
#include "frontend/json_document.h"
#include "json/json_out.h"
#include "vm/vm.h"

namespace prendax {

namespace {

constexpr std::size_t SPRT_PAIRS_PER_WORKER = 4;  // pairs a worker may play ahead of the test's decision

constexpr const char* MSG_INTERRUPTED = "Comparación interrumpida por una señal: se juzgaron %llu de %llu pares\n";
constexpr const char* MSG_NOT_COMPILED = "No se puede comparar: %s no compila\n";
constexpr const char* PAIR_CSV_HEADER[] = {"level",  "seed",    "pair",    "outcomeA", "outcomeB", "scoreA",
                                           "scoreB", "healthA", "healthB", "ticksA",   "ticksB"};

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

bool safe_in_shell(const char* path) {
    if (*path == '\0') return false;
    for (const char* p = path; *p != '\0'; p++) {
        char c = *p;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '.' || c == '/' || c == '-' || c == '+' || c == ',' || c == ':' || c == '=' || c == '@';
        if (!plain) return false;
    }
    return true;
}

// One pair's row of the comparison CSV.
CsvRecord pair_fields(PairSeed at, PairKind kind, const MatchResult& a, const MatchResult& b) {
    return CsvRecord{std::to_string(at.level), std::to_string(at.seed),  PAIR_KIND_TABLE[kind].name,
                     vm_status_name(a.status), vm_status_name(b.status), std::to_string(a.score),
                     std::to_string(b.score),  std::to_string(a.health), std::to_string(b.health),
                     std::to_string(a.ticks),  std::to_string(b.ticks)};
}

// Everything the report needs: the tallies per level and overall, and the test.
struct Comparison {
    std::vector<PairTally> levels;  // in the run's level order
    PairTally overall;
    SprtState sprt;
};

// The pair at a place in the sequence: seed by seed, each seed's levels ascending.
PairSeed pair_at(const ArenaOptions& options, uint64_t index) {
    uint64_t levels = static_cast<uint64_t>(options.levelCount);
    return PairSeed{options.levels[index % levels], static_cast<uint32_t>(options.firstSeed + index / levels)};
}

// Judges the played pairs in order; false once the sequential test has decided.
bool judge_block(const ArenaOptions& options, uint64_t firstIndex, std::size_t pairs,
                 const std::vector<MatchResult>& results, Comparison& comparison, CsvOutput& csv) {
    for (std::size_t i = 0; i < pairs; i++) {
        PairSeed at = pair_at(options, firstIndex + i);
        const MatchResult& a = results[2 * i];
        const MatchResult& b = results[2 * i + 1];
        int32_t levelIndex = 0;
        while (options.levels[levelIndex] != at.level) levelIndex++;
        tally_add(comparison.levels[static_cast<std::size_t>(levelIndex)], at, a, b);
        tally_add(comparison.overall, at, a, b);
        csv_write(csv, pair_fields(at, pair_kind(a, b), a, b));
        if (options.sprt && sprt_add(comparison.sprt, at, pair_kind(a, b)) != SPRT_CONTINUE) return false;
    }
    return true;
}

// The test's state on one line of standard error, redrawn in place.
void draw_sprt_progress(const SprtState& s) {
    print_to(stderr, "\rSPRT: %llu pares, %llu discordantes (B %llu, A %llu), LLR %.3f entre %.3f y %.3f\033[K",
             ull(s.pairs), ull(s.aWins + s.bWins), ull(s.bWins), ull(s.aWins), s.llr, s.bounds.lower, s.bounds.upper);
    std::fflush(stderr);
}

// Plays and judges every pair, or until the sequential test decides or a
// signal is caught; after a signal only the pairs whose two matches were both
// played are judged.
void play_pairs(const ArenaOptions& options, const CompileResult* a, const CompileResult* b, uint64_t total,
                Comparison& comparison, CsvOutput& csv) {
    MatchPool pool;
    pool_init(pool, worker_count(options.jobs, 2 * total));
    std::size_t blockPairs = options.sprt ? SPRT_PAIRS_PER_WORKER * pool.workers.size() : BLOCK_MATCHES / 2;
    bool drawSprt = options.sprt && progress_wanted();
    // The sequential test draws its own line: the number of matches it needs is not known ahead.
    Progress progress{};
    if (!options.sprt) progress_start(progress, 2 * total);

    std::vector<MatchJob> jobs;
    std::vector<MatchResult> results(2 * blockPairs);
    for (uint64_t first = 0; first < total && interrupt_signal() == 0;) {
        std::size_t pairs = total - first < blockPairs ? static_cast<std::size_t>(total - first) : blockPairs;
        jobs.clear();
        for (std::size_t i = 0; i < pairs; i++) {
            PairSeed at = pair_at(options, first + i);
            jobs.push_back(MatchJob{a, at.level, at.seed, options.ticks});
            jobs.push_back(MatchJob{b, at.level, at.seed, options.ticks});
        }
        std::size_t played =
            pool_play(pool, jobs.data(), results.data(), jobs.size(), options.sprt ? nullptr : &progress);
        std::size_t judged = played / 2;
        bool goOn = judge_block(options, first, judged, results, comparison, csv);
        if (drawSprt) draw_sprt_progress(comparison.sprt);
        if (!goOn || judged < pairs) break;
        first += pairs;
    }
    if (drawSprt) print_to(stderr, "\n");
    progress_finish(progress);
}

// "+1.5 (-0.3 a +3.3)", or the mean alone when there is no spread to measure.
std::string interval_text(const DiffStats& stats) {
    PairedInterval ci = paired_interval(stats);
    char text[160];
    if (ci.n == 0) {
        std::snprintf(text, sizeof text, "sin pares");
    } else if (!ci.bounded) {
        std::snprintf(text, sizeof text, "%+.1f (sin intervalo: un solo par)", ci.mean);
    } else {
        std::snprintf(text, sizeof text, "%+.1f (%+.1f a %+.1f)", ci.mean, ci.low, ci.high);
    }
    return text;
}

void print_regression(const ArenaOptions& options, PairSeed at) {
    print_out("    nivel %d, semilla %u\n", at.level, at.seed);
    print_out("      B: %s\n", replay_command(options.ticks, at, options.programs[1]).c_str());
    print_out("      A: %s\n", replay_command(options.ticks, at, options.programs[0]).c_str());
}

void print_tally(const ArenaOptions& options, const PairTally& t, bool listRegressions) {
    if (t.level == 0) {
        print_out("\nTodos los niveles\n");
    } else {
        print_out("\nNivel %d\n", t.level);
    }
    print_out("  Pares: %llu  ", ull(t.pairs));
    for (int k = 0; k < PAIR_KINDS; k++) {
        print_out("%s: %llu%s", PAIR_KIND_TABLE[k].label, ull(t.kinds[k]), k + 1 < PAIR_KINDS ? "  " : "\n");
    }
    uint64_t discordant = t.kinds[PAIR_ONLY_A] + t.kinds[PAIR_ONLY_B];
    print_out("  McNemar exacto, dos colas, sobre %llu pares discordantes: p = %.4g\n", ull(discordant),
              mcnemar_exact_p(t.kinds[PAIR_ONLY_A], t.kinds[PAIR_ONLY_B]));
    print_out("  Diferencia media B − A (IC 95%%):\n");
    print_out("    puntuación: %s\n", interval_text(t.score).c_str());
    print_out("    salud restante: %s\n", interval_text(t.health).c_str());
    if (t.ticksToWin.n == 0) {
        print_out("    ticks hasta ganar: ningún par lo ganan ambos\n");
    } else {
        print_out("    ticks hasta ganar: %s, en %llu pares que ganan ambos\n", interval_text(t.ticksToWin).c_str(),
                  ull(t.ticksToWin.n));
    }
    print_out("  Veredicto: %s\n", VERDICT_TABLE[tally_verdict(t)].text);
    if (!listRegressions) return;
    if (t.regressionCount == 0) {
        print_out("  B no pierde ninguna partida que A gana\n");
        return;
    }
    print_out("  B pierde donde A gana en %llu pares; los primeros, para repetirlos:\n", ull(t.kinds[PAIR_ONLY_A]));
    for (int32_t i = 0; i < t.regressionCount; i++) print_regression(options, t.regressions[i]);
}

void print_sprt(const ArenaOptions& options, const SprtState& s) {
    print_out(
        "\nSPRT sobre los pares discordantes (H0: B gana la mitad; H1: B gana al menos %.3g; alfa %.3g, beta "
        "%.3g)\n",
        s.p1, options.sprtAlpha, options.sprtBeta);
    print_out("  Pares necesarios: %llu (hasta la semilla %u, nivel %d)  discordantes: %llu (B %llu, A %llu)\n",
              ull(s.pairs), s.last.seed, s.last.level, ull(s.aWins + s.bWins), ull(s.bWins), ull(s.aWins));
    print_out("  LLR: %.3f  límites: %.3f y %.3f\n", s.llr, s.bounds.lower, s.bounds.upper);
    print_out("  Decisión: %s\n", SPRT_DECISION_TABLE[s.decision].text);
}

void print_comparison(const ArenaOptions& options, const Comparison& c) {
    print_out("Comparación PRENDAX %s — A: %s  B: %s  niveles: ", VERSION_TEXT, options.programs[0],
              options.programs[1]);
    for (int32_t i = 0; i < options.levelCount; i++) print_out("%s%d", i == 0 ? "" : ",", options.levels[i]);
    print_out("  semillas: %u-%u  ticks: %d\n", options.firstSeed, options.lastSeed, options.ticks);
    for (const PairTally& t : c.levels) print_tally(options, t, true);
    if (c.levels.size() > 1) print_tally(options, c.overall, false);
    if (options.sprt) print_sprt(options, c.sprt);
}

void json_interval(JsonOut* out, const char* key, const DiffStats& stats) {
    PairedInterval ci = paired_interval(stats);
    json_appendf(out, ",\"%s\":{\"pairs\":%llu,\"mean\":", key, ull(ci.n));
    json_number(out, ci.mean);
    if (ci.bounded) {
        json_append(out, ",\"low\":");
        json_number(out, ci.low);
        json_append(out, ",\"high\":");
        json_number(out, ci.high);
        json_append(out, "}");
    } else {
        json_append(out, ",\"low\":null,\"high\":null}");
    }
}

void json_tally(JsonOut* out, const ArenaOptions& options, const PairTally& t) {
    json_appendf(out, "{\"level\":%d,\"pairs\":%llu", t.level, ull(t.pairs));
    for (int k = 0; k < PAIR_KINDS; k++) json_appendf(out, ",\"%s\":%llu", PAIR_KIND_TABLE[k].name, ull(t.kinds[k]));
    json_append(out, ",\"mcnemarP\":");
    json_number(out, mcnemar_exact_p(t.kinds[PAIR_ONLY_A], t.kinds[PAIR_ONLY_B]));
    json_interval(out, "score", t.score);
    json_interval(out, "health", t.health);
    json_interval(out, "ticksToWin", t.ticksToWin);
    json_append(out, ",\"verdict\":");
    json_string(out, VERDICT_TABLE[tally_verdict(t)].text);
    json_append(out, ",\"regressions\":[");
    for (int32_t i = 0; i < t.regressionCount; i++) {
        PairSeed at = t.regressions[i];
        json_appendf(out, "%s{\"level\":%d,\"seed\":%u,\"commandB\":", i == 0 ? "" : ",", at.level, at.seed);
        json_string(out, replay_command(options.ticks, at, options.programs[1]).c_str());
        json_append(out, ",\"commandA\":");
        json_string(out, replay_command(options.ticks, at, options.programs[0]).c_str());
        json_append(out, "}");
    }
    json_append(out, "]}");
}

void json_sprt(JsonOut* out, const ArenaOptions& options, const SprtState& s) {
    json_append(out, "{\"p0\":");
    json_number(out, SPRT_P0);
    json_append(out, ",\"p1\":");
    json_number(out, s.p1);
    json_append(out, ",\"alpha\":");
    json_number(out, options.sprtAlpha);
    json_append(out, ",\"beta\":");
    json_number(out, options.sprtBeta);
    json_appendf(out, ",\"pairs\":%llu,\"lastSeed\":%u,\"lastLevel\":%d,\"bWins\":%llu,\"aWins\":%llu,\"llr\":",
                 ull(s.pairs), s.last.seed, s.last.level, ull(s.bWins), ull(s.aWins));
    json_number(out, s.llr);
    json_append(out, ",\"lower\":");
    json_number(out, s.bounds.lower);
    json_append(out, ",\"upper\":");
    json_number(out, s.bounds.upper);
    json_append(out, ",\"decision\":");
    json_string(out, SPRT_DECISION_TABLE[s.decision].key);
    json_append(out, ",\"decisionText\":");
    json_string(out, SPRT_DECISION_TABLE[s.decision].text);
    json_append(out, "}");
}

std::string comparison_json(const ArenaOptions& options, const Comparison& c) {
    return json_document([&](JsonOut* out) {
        json_append(out, "{\"version\":");
        json_string(out, VERSION_TEXT);
        json_append(out, ",\"programA\":");
        json_string(out, options.programs[0]);
        json_append(out, ",\"programB\":");
        json_string(out, options.programs[1]);
        json_appendf(out, ",\"firstSeed\":%u,\"lastSeed\":%u,\"ticks\":%d,\"levels\":[", options.firstSeed,
                     options.lastSeed, options.ticks);
        for (int32_t i = 0; i < options.levelCount; i++)
            json_appendf(out, "%s%d", i == 0 ? "" : ",", options.levels[i]);
        json_append(out, "],\"perLevel\":[");
        for (std::size_t i = 0; i < c.levels.size(); i++) {
            if (i != 0) json_append(out, ",");
            json_tally(out, options, c.levels[i]);
        }
        json_append(out, "],\"overall\":");
        json_tally(out, options, c.overall);
        json_append(out, ",\"sprt\":");
        if (options.sprt) {
            json_sprt(out, options, c.sprt);
        } else {
            json_append(out, "null");
        }
        json_append(out, "}");
    });
}

}  // namespace

PairKind pair_kind(const MatchResult& a, const MatchResult& b) {
    bool aWon = a.status == VM_VICTORIA;
    bool bWon = b.status == VM_VICTORIA;
    if (aWon && bWon) return PAIR_BOTH;
    if (aWon) return PAIR_ONLY_A;
    if (bWon) return PAIR_ONLY_B;
    return PAIR_NEITHER;
}

void tally_add(PairTally& tally, PairSeed at, const MatchResult& a, const MatchResult& b) {
    PairKind kind = pair_kind(a, b);
    tally.pairs++;
    tally.kinds[kind]++;
    diff_add(tally.score, static_cast<double>(b.score) - static_cast<double>(a.score));
    diff_add(tally.health, static_cast<double>(b.health) - static_cast<double>(a.health));
    if (kind == PAIR_BOTH) diff_add(tally.ticksToWin, static_cast<double>(b.ticks) - static_cast<double>(a.ticks));
    if (kind == PAIR_ONLY_A && tally.regressionCount < REGRESSION_SEEDS)
        tally.regressions[tally.regressionCount++] = at;
}

Verdict tally_verdict(const PairTally& tally) {
    uint64_t onlyA = tally.kinds[PAIR_ONLY_A];
    uint64_t onlyB = tally.kinds[PAIR_ONLY_B];
    if (!(mcnemar_exact_p(onlyA, onlyB) < SIGNIFICANCE)) return VERDICT_NO_DIFFERENCE;
    return onlyB > onlyA ? VERDICT_B_BETTER : VERDICT_A_BETTER;
}

SprtState sprt_start(double p1, double alpha, double beta) {
    SprtState state;
    state.p1 = p1;
    state.bounds = sprt_bounds(alpha, beta);
    return state;
}

SprtDecision sprt_add(SprtState& state, PairSeed at, PairKind kind) {
    state.pairs++;
    state.last = at;
    if (kind == PAIR_ONLY_B) state.bWins++;
    if (kind == PAIR_ONLY_A) state.aWins++;
    state.llr = sprt_llr(state.bWins, state.aWins, state.p1);
    state.decision = sprt_decide(state.llr, state.bounds);
    return state.decision;
}

std::string replay_command(int32_t ticks, PairSeed at, const char* path) {
    std::string command = "prendax_cli --ticks " + std::to_string(ticks) + " --level " + std::to_string(at.level) +
                          " --seed " + std::to_string(at.seed) + " ";
    if (safe_in_shell(path) && path[0] != '-') return command + path;
    command += '\'';
    for (const char* p = path; *p != '\0'; p++) {
        if (*p == '\'') {
            command += "'\\''";
        } else {
            command += *p;
        }
    }
    return command + '\'';
}

namespace {

// The comparison proper, with SIGINT and SIGTERM caught.
int compare(const ArenaOptions& options) {
    std::vector<char*> sources;
    if (!read_sources(options.programs, sources)) return EXIT_BAD_INVOCATION;
    auto context = std::make_unique<CompilerContext>();
    CompiledProgram programs[2];
    bool compiled = true;
    for (int i = 0; i < 2; i++) {
        programs[i].path = options.programs[static_cast<std::size_t>(i)];
        compile_program(sources[static_cast<std::size_t>(i)], programs[i], *context, false);
        std::free(sources[static_cast<std::size_t>(i)]);
        if (!programs[i].compiled) {
            // Each diagnostic line is named by its program, as with several programs in a sweep.
            print_diagnostics(*programs[i].result, shown(programs[i].path).c_str());
            print_to(stderr, MSG_NOT_COMPILED, shown(programs[i].path).c_str());
            compiled = false;
        }
    }
    if (!compiled) return EXIT_COMPILE_FAILED;

    CsvOutput csv;
    if (!csv_open(csv, options.csvPath)) return EXIT_BAD_INVOCATION;
    csv_write(csv, CsvRecord(std::begin(PAIR_CSV_HEADER), std::end(PAIR_CSV_HEADER)));

    Comparison comparison;
    for (int32_t l = 0; l < options.levelCount; l++) {
        comparison.levels.emplace_back();
        comparison.levels.back().level = options.levels[l];
    }
    comparison.sprt = sprt_start(options.sprtP1, options.sprtAlpha, options.sprtBeta);
    uint64_t seedCount = static_cast<uint64_t>(options.lastSeed) - options.firstSeed + 1;
    uint64_t total = seedCount * static_cast<uint64_t>(options.levelCount);
    play_pairs(options, programs[0].result.get(), programs[1].result.get(), total, comparison, csv);

    int caught = interrupt_signal();
    if (caught != 0) print_to(stderr, MSG_INTERRUPTED, ull(comparison.overall.pairs), ull(total));
    bool written = csv_close(csv, caught != 0);
    if (options.json) {
        print_out("%s\n", comparison_json(options, comparison).c_str());
    } else {
        print_comparison(options, comparison);
    }
    if (caught != 0) return EXIT_SIGNAL_BASE + caught;
    return written ? EXIT_OK : EXIT_BAD_INVOCATION;
}

}  // namespace

int run_compare(const ArenaOptions& options) {
    if (csv_over_program(options.csvPath, options.programs)) return EXIT_BAD_INVOCATION;
    interrupt_catch();
    int status = compare(options);
    interrupt_release();
    return status;
}

}  // namespace prendax
