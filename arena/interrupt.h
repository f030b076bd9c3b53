// Interrupting a sweep: SIGINT and SIGTERM are caught while the matches are
// played, so the workers stop taking matches, the matches in flight finish,
// and the run reports what was played and exits with 128 + the signal.
#pragma once

namespace prendax {

inline constexpr int EXIT_SIGNAL_BASE = 128;  // an interrupted run exits with 128 + the signal

// Catches SIGINT and SIGTERM from now on. A signal caught gets its default
// handling back, so sending the same signal again ends the process at once.
void interrupt_catch();
// The signal caught so far, or 0. Safe from any thread.
int interrupt_signal();
// Gives both signals their default handling back and forgets any caught.
void interrupt_release();

}  // namespace prendax
