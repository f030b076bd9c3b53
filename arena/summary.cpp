// Folding match results into the summary, and writing it as text or as JSON.
// Sums are kept as whole numbers and the score distribution as counts, so the
// figures come out the same whatever order the matches arrive in.
#include "arena/summary.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "arena/csv.h"
#include "compiler/diagnostics.h"
#include "frontend/files.h"
#include "frontend/frontend.h"
#include "frontend/json_document.h"
#include "json/diagnostic_json.h"
#include "json/json_out.h"

namespace prendax {

namespace {

double mean(int64_t sum, uint64_t n) { return n == 0 ? 0.0 : static_cast<double>(sum) / static_cast<double>(n); }

double rate(uint64_t part, uint64_t n) { return n == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(n); }

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

void add_worst(LevelSummary& summary, const WorstSeed& entry) {
    int32_t n = summary.worstCount;
    if (n == WORST_SEEDS && !worse_seed(entry, summary.worst[n - 1])) return;
    int32_t at = n < WORST_SEEDS ? n : n - 1;
    while (at > 0 && worse_seed(entry, summary.worst[at - 1])) {
        summary.worst[at] = summary.worst[at - 1];
        at--;
    }
    summary.worst[at] = entry;
    if (n < WORST_SEEDS) summary.worstCount = n + 1;
}

// "1,2,3"
std::string level_list_text(const ArenaOptions& options) {
    std::string text;
    for (int32_t i = 0; i < options.levelCount; i++) {
        if (i != 0) text += ',';
        text += std::to_string(options.levels[i]);
    }
    return text;
}

// A path as one shell word: unchanged when it holds only safe characters,
// otherwise in single quotes (an inner quote written as '\'').
std::string shell_word(const char* path) {
    std::string text = path;
    if (!text.empty() &&
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./+-:=@%,") ==
            std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// The commands that replay the worst seed: the console report and the page.
void print_replay_commands(const char* path, int32_t level, const WorstSeed& w) {
    std::string word = shown(shell_word(path));
    print_out("  Repetir la peor: prendax_cli --ticks %d --level %d --seed %u %s\n", w.tickLimit, level, w.seed,
              word.c_str());
    print_out("                   prendax_replay --ticks %d --level %d --seed %u %s -o partida.html\n", w.tickLimit,
              level, w.seed, word.c_str());
}

void print_level(const char* path, const LevelSummary& s) {
    WilsonInterval ci = wilson_interval(s.victories, s.matches);
    print_out("Nivel %d\n", s.level);
    print_out("  Partidas: %llu  victorias: %llu  derrotas: %llu  sin terminar: %llu\n", ull(s.matches),
              ull(s.victories), ull(s.defeats), ull(s.unfinished));
    print_out("  Tasa de victorias: %.1f%% (IC 95%%: %.1f%% a %.1f%%)\n", 100.0 * rate(s.victories, s.matches),
              100.0 * ci.low, 100.0 * ci.high);
    print_out("  Puntuación media: %.1f  mediana: %.1f\n", mean(s.scoreSum, s.matches), median_score(s));
    print_out("  Salud media restante: %.1f\n", mean(s.healthSum, s.matches));
    print_out("  Ticks medios: %.1f\n", mean(s.ticksSum, s.matches));
    uint64_t topCount = 0;
    const std::string* top = most_frequent_error(s, topCount);
    if (top == nullptr) {
        print_out("  Errores de ejecución: 0\n");
    } else {
        print_out("  Errores de ejecución: %llu (el más frecuente, %llu veces: %s)\n", ull(s.runtimeErrors),
                  ull(topCount), top->c_str());
    }
    print_out("  Peores semillas:");
    for (int32_t i = 0; i < s.worstCount; i++) {
        const WorstSeed& w = s.worst[i];
        print_out("%s %u (%s, %d)", i == 0 ? "" : ",", w.seed, vm_status_name(w.status), w.score);
    }
    print_out("\n");
    if (s.worstCount > 0) print_replay_commands(path, s.level, s.worst[0]);
}

void print_ranking(const std::vector<ProgramSummary>& programs) {
    print_out("\nClasificación (%s)\n", LEADERBOARD_ORDER_TEXT);
    std::vector<std::size_t> order = rank_programs(programs);
    for (std::size_t place = 0; place < order.size(); place++) {
        const ProgramSummary& p = programs[order[place]];
        ProgramTotals t = program_totals(p);
        print_out("  %zu. %s: victorias %llu/%llu (%.1f%%), derrotas %llu, puntuación media %.1f, salud media %.1f, ",
                  place + 1, p.path, ull(t.victories), ull(t.matches), 100.0 * rate(t.victories, t.matches),
                  ull(t.defeats), mean(t.scoreSum, t.matches), mean(t.healthSum, t.matches));
        if (t.victories == 0) {
            print_out("ticks por victoria -\n");
        } else {
            print_out("ticks por victoria %.1f\n", mean(t.victoryTicksSum, t.victories));
        }
    }
}

void json_diagnostics(JsonOut* out, const CompileResult* result) {
    json_append(out, "[");
    int32_t n = result == nullptr ? 0 : std::min(result->errorCount, static_cast<int32_t>(MAX_DIAGNOSTICS));
    for (int32_t i = 0; i < n; i++) {
        if (i != 0) json_append(out, ",");
        json_diagnostic(out, result->errors[i]);
    }
    json_append(out, "]");
}

void json_level(JsonOut* out, const LevelSummary& s) {
    WilsonInterval ci = wilson_interval(s.victories, s.matches);
    json_appendf(out, "{\"level\":%d,\"matches\":%llu,\"victories\":%llu,\"defeats\":%llu,\"unfinished\":%llu", s.level,
                 ull(s.matches), ull(s.victories), ull(s.defeats), ull(s.unfinished));
    json_append(out, ",\"winRate\":");
    json_number(out, rate(s.victories, s.matches));
    json_append(out, ",\"winRateLow\":");
    json_number(out, ci.low);
    json_append(out, ",\"winRateHigh\":");
    json_number(out, ci.high);
    json_append(out, ",\"meanScore\":");
    json_number(out, mean(s.scoreSum, s.matches));
    json_append(out, ",\"medianScore\":");
    json_number(out, median_score(s));
    json_append(out, ",\"meanHealth\":");
    json_number(out, mean(s.healthSum, s.matches));
    json_append(out, ",\"meanTicks\":");
    json_number(out, mean(s.ticksSum, s.matches));
    json_appendf(out, ",\"runtimeErrors\":%llu,\"topError\":", ull(s.runtimeErrors));
    uint64_t topCount = 0;
    const std::string* top = most_frequent_error(s, topCount);
    if (top == nullptr) {
        json_append(out, "null");
    } else {
        json_string(out, top->c_str());
    }
    json_appendf(out, ",\"topErrorCount\":%llu,\"worstSeeds\":[", ull(topCount));
    for (int32_t i = 0; i < s.worstCount; i++) {
        const WorstSeed& w = s.worst[i];
        json_appendf(out, "%s{\"seed\":%u,\"outcome\":", i == 0 ? "" : ",", w.seed);
        json_string(out, vm_status_name(w.status));
        json_appendf(out, ",\"score\":%d}", w.score);
    }
    json_append(out, "]}");
}

void json_program(JsonOut* out, const ProgramSummary& p) {
    json_append(out, "{\"program\":");
    json_string(out, p.path);
    json_appendf(out, ",\"compiled\":%d,\"diagnostics\":", p.compiled ? 1 : 0);
    json_diagnostics(out, p.compiled ? nullptr : p.result);
    json_append(out, ",\"levels\":[");
    for (std::size_t i = 0; i < p.levels.size(); i++) {
        if (i != 0) json_append(out, ",");
        json_level(out, p.levels[i]);
    }
    json_append(out, "]}");
}

void json_ranking(JsonOut* out, const std::vector<ProgramSummary>& programs) {
    std::vector<std::size_t> order = rank_programs(programs);
    json_append(out, "[");
    for (std::size_t place = 0; place < order.size(); place++) {
        const ProgramSummary& p = programs[order[place]];
        ProgramTotals t = program_totals(p);
        json_appendf(out, "%s{\"rank\":%zu,\"program\":", place == 0 ? "" : ",", place + 1);
        json_string(out, p.path);
        json_appendf(out, ",\"matches\":%llu,\"victories\":%llu,\"defeats\":%llu,\"winRate\":", ull(t.matches),
                     ull(t.victories), ull(t.defeats));
        json_number(out, rate(t.victories, t.matches));
        json_append(out, ",\"meanScore\":");
        json_number(out, mean(t.scoreSum, t.matches));
        json_append(out, ",\"meanHealth\":");
        json_number(out, mean(t.healthSum, t.matches));
        json_append(out, ",\"meanVictoryTicks\":");
        if (t.victories == 0) {
            json_append(out, "null");
        } else {
            json_number(out, mean(t.victoryTicksSum, t.victories));
        }
        json_append(out, "}");
    }
    json_append(out, "]");
}

}  // namespace

bool worse_seed(const WorstSeed& a, const WorstSeed& b) {
    bool aLost = a.status == VM_DERROTA;
    bool bLost = b.status == VM_DERROTA;
    if (aLost != bLost) return aLost;
    if (a.score != b.score) return a.score < b.score;
    return a.seed < b.seed;
}

void summary_add(LevelSummary& summary, uint32_t seed, const MatchResult& result) {
    summary_add_row(summary, seed, result, result.hasError ? match_error_text(result) : std::string());
}

void summary_add_row(LevelSummary& summary, uint32_t seed, const MatchResult& result, const std::string& errorText) {
    summary.matches++;
    if (result.status == VM_VICTORIA) {
        summary.victories++;
    } else if (result.status == VM_DERROTA) {
        summary.defeats++;
    } else {
        summary.unfinished++;
    }
    summary.scoreSum += result.score;
    summary.healthSum += result.health;
    summary.ticksSum += result.ticks;
    if (result.status == VM_VICTORIA) summary.victoryTicksSum += result.ticks;
    summary.scoreCounts[result.score]++;
    if (result.hasError) {
        summary.runtimeErrors++;
        summary.errorCounts[errorText]++;
    }
    add_worst(summary, WorstSeed{seed, result.status, result.score, result.tickLimit});
}

WilsonInterval wilson_interval(uint64_t wins, uint64_t n) {
    if (n == 0) return WilsonInterval{0.0, 0.0};
    double nn = static_cast<double>(n);
    double p = static_cast<double>(wins) / nn;
    double z2 = WILSON_Z * WILSON_Z;
    double denominator = 1.0 + z2 / nn;
    double centre = (p + z2 / (2.0 * nn)) / denominator;
    double margin = WILSON_Z * std::sqrt(p * (1.0 - p) / nn + z2 / (4.0 * nn * nn)) / denominator;
    double low = centre - margin;
    double high = centre + margin;
    return WilsonInterval{low < 0.0 ? 0.0 : low, high > 1.0 ? 1.0 : high};
}

double median_score(const LevelSummary& summary) {
    if (summary.matches == 0) return 0.0;
    // The middle match (odd count) or the two middle ones (even count), 0-based.
    uint64_t lowRank = (summary.matches - 1) / 2;
    uint64_t highRank = summary.matches / 2;
    bool haveLow = false;
    double low = 0.0;
    uint64_t seen = 0;
    for (const auto& [score, count] : summary.scoreCounts) {
        seen += count;
        if (!haveLow && seen > lowRank) {
            low = score;
            haveLow = true;
        }
        if (seen > highRank) return (low + static_cast<double>(score)) / 2.0;
    }
    return low;
}

const std::string* most_frequent_error(const LevelSummary& summary, uint64_t& count) {
    const std::string* top = nullptr;
    count = 0;
    // The map is in text order, so the first of equal counts is the smallest text.
    for (const auto& [text, n] : summary.errorCounts) {
        if (n > count) {
            top = &text;
            count = n;
        }
    }
    return top;
}

ProgramTotals program_totals(const ProgramSummary& program) {
    ProgramTotals t{0, 0, 0, 0, 0, 0};
    for (const LevelSummary& s : program.levels) {
        t.matches += s.matches;
        t.victories += s.victories;
        t.defeats += s.defeats;
        t.scoreSum += s.scoreSum;
        t.healthSum += s.healthSum;
        t.victoryTicksSum += s.victoryTicksSum;
    }
    return t;
}

std::vector<std::size_t> rank_programs(const std::vector<ProgramSummary>& programs) {
    std::vector<std::size_t> order;
    std::vector<ProgramTotals> totals;
    for (std::size_t i = 0; i < programs.size(); i++) {
        totals.push_back(program_totals(programs[i]));
        if (programs[i].compiled) order.push_back(i);
    }
    // Every compiled program plays the same matches, so victories and defeats
    // compare as counts; the rest compare as means.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const ProgramTotals& x = totals[a];
        const ProgramTotals& y = totals[b];
        if (x.victories != y.victories) return x.victories > y.victories;
        if (x.defeats != y.defeats) return x.defeats < y.defeats;
        double xScore = mean(x.scoreSum, x.matches);
        double yScore = mean(y.scoreSum, y.matches);
        if (xScore != yScore) return xScore > yScore;
        double xHealth = mean(x.healthSum, x.matches);
        double yHealth = mean(y.healthSum, y.matches);
        if (xHealth != yHealth) return xHealth > yHealth;
        return mean(x.victoryTicksSum, x.victories) < mean(y.victoryTicksSum, y.victories);
    });
    return order;
}

void print_summary(const ArenaOptions& options, const std::vector<ProgramSummary>& programs) {
    print_out("Arena PRENDAX %s — programas: %zu  niveles: %s  semillas: %u-%u  ticks: %d\n", VERSION_TEXT,
              programs.size(), level_list_text(options).c_str(), options.firstSeed, options.lastSeed, options.ticks);
    for (const ProgramSummary& p : programs) {
        print_out("\n== %s ==\n", p.path);
        if (!p.compiled) {
            print_out("No compila (errores: %d)\n", p.result == nullptr ? 0 : p.result->errorCount);
            continue;
        }
        for (const LevelSummary& s : p.levels) print_level(p.path, s);
    }
    if (programs.size() > 1) print_ranking(programs);
}

int print_run_summary(const ArenaOptions& options, const std::vector<ProgramSummary>& programs) {
    if (!options.json) {
        print_summary(options, programs);
        return EXIT_OK;
    }
    print_out("%s\n", summary_json(options, programs).c_str());
    return EXIT_OK;
}

std::string summary_json(const ArenaOptions& options, const std::vector<ProgramSummary>& programs) {
    return json_document([&](JsonOut* out) {
        json_append(out, "{\"version\":");
        json_string(out, VERSION_TEXT);
        json_appendf(out, ",\"firstSeed\":%u,\"lastSeed\":%u,\"ticks\":%d,\"levels\":[", options.firstSeed,
                     options.lastSeed, options.ticks);
        for (int32_t i = 0; i < options.levelCount; i++)
            json_appendf(out, "%s%d", i == 0 ? "" : ",", options.levels[i]);
        json_append(out, "],\"programs\":[");
        for (std::size_t i = 0; i < programs.size(); i++) {
            if (i != 0) json_append(out, ",");
            json_program(out, programs[i]);
        }
        json_append(out, "],\"leaderboardOrder\":");
        json_string(out, LEADERBOARD_ORDER_TEXT);
        json_append(out, ",\"leaderboard\":");
        json_ranking(out, programs);
        json_append(out, "}");
    });
}

}  // namespace prendax
