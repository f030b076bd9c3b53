// The caught signal is kept in one lock-free atomic, the only state a signal
// handler may safely touch besides its own locals.
#include "arena/interrupt.h"

#include <atomic>
#include <csignal>

namespace prendax {

namespace {

std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int CAUGHT_SIGNALS[] = {SIGINT, SIGTERM};

extern "C" void on_signal(int signal) { caught.store(signal); }

void set_handler(void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (int signal : CAUGHT_SIGNALS) sigaction(signal, &action, nullptr);
}

}  // namespace

// SA_RESETHAND: the first signal restores the default, so a second one ends the run.
void interrupt_catch() { set_handler(on_signal, SA_RESETHAND); }

int interrupt_signal() { return caught.load(); }

void interrupt_release() {
    set_handler(SIG_DFL, 0);
    caught.store(0);
}

}  // namespace prendax
