// Replaying a CSV written by an earlier sweep: every row's match is played
// again and compared column by column; the first row that differs is named.
#pragma once

#include "arena/options.h"

namespace prendax {

// Returns the process exit status: 0 when every row agrees, 1 at the first row
// that differs (or whose program no longer compiles), 2 for an unreadable or
// malformed file.
int run_verify(const ArenaOptions& options);

// --summary: the summary of CSVs written by --csv (one run's or several merged),
// without playing; the same text or document as the run that wrote them. A
// program that did not compile left no rows, so it does not appear.
int run_csv_summary(const ArenaOptions& options);

}  // namespace prendax
