// The progress bar on standard error: matches done out of the total, the rate
// and the time left. It is drawn only when standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdint>

namespace prendax {

struct Progress {
    bool enabled;
    uint64_t total;
    uint64_t done;  // matches of the blocks already handed over
    std::chrono::steady_clock::time_point start;
};

// Whether standard error is a terminal.
bool progress_wanted();
// Enabled only when standard error is a terminal.
void progress_start(Progress& progress, uint64_t total);
// Redraws the bar with `done` matches finished.
void progress_draw(const Progress& progress, uint64_t done);
// Counts a finished block and redraws.
void progress_advance(Progress& progress, uint64_t count);
// Ends the bar's line.
void progress_finish(const Progress& progress);

// "m:ss", or "h:mm:ss" from an hour up, into out.
void format_time_left(double seconds, char* out, int size);

}  // namespace prendax
