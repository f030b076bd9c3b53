// The progress bar. It is redrawn in place with a carriage return; nothing at
// all is written when standard error is not a terminal.
#include "arena/progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "frontend/frontend.h"

namespace prendax {

namespace {

constexpr int BAR_WIDTH = 24;
constexpr const char* NO_TIME_LEFT = "--:--";

}  // namespace

bool progress_wanted() { return isatty(fileno(stderr)) == 1; }

void progress_start(Progress& progress, uint64_t total) {
    progress.enabled = progress_wanted();
    progress.total = total;
    progress.done = 0;
    progress.start = std::chrono::steady_clock::now();
    progress_draw(progress, 0);
}

void format_time_left(double seconds, char* out, int size) {
    // A rate of zero, or a time beyond a year, has no useful estimate.
    if (!(seconds >= 0.0) || seconds > 366.0 * 86400.0) {
        std::snprintf(out, static_cast<std::size_t>(size), "%s", NO_TIME_LEFT);
        return;
    }
    long s = static_cast<long>(std::ceil(seconds));
    if (s >= 3600) {
        std::snprintf(out, static_cast<std::size_t>(size), "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(out, static_cast<std::size_t>(size), "%ld:%02ld", s / 60, s % 60);
    }
}

void progress_draw(const Progress& progress, uint64_t done) {
    if (!progress.enabled) return;
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.start).count();
    double rate = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    char left[32];
    format_time_left(rate > 0.0 ? static_cast<double>(progress.total - done) / rate : -1.0, left, sizeof left);

    char bar[BAR_WIDTH + 1];
    uint64_t filled = progress.total == 0 ? BAR_WIDTH : done * BAR_WIDTH / progress.total;
    for (int i = 0; i < BAR_WIDTH; i++) bar[i] = static_cast<uint64_t>(i) < filled ? '#' : '-';
    bar[BAR_WIDTH] = '\0';
    print_to(stderr, "\r[%s] %llu/%llu partidas  %.0f partidas/s  quedan %s\033[K", bar,
             static_cast<unsigned long long>(done), static_cast<unsigned long long>(progress.total), rate, left);
    std::fflush(stderr);
}

void progress_advance(Progress& progress, uint64_t count) {
    progress.done += count;
    progress_draw(progress, progress.done);
}

void progress_finish(const Progress& progress) {
    if (progress.enabled) print_to(stderr, "\n");
}

}  // namespace prendax
