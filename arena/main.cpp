// prendax_arena: plays robot programs over many seeds and levels on worker
// threads and reports how they fare, or replays an earlier CSV to check that
// every match still ends the same way, or compares two programs pair by pair.
#include "arena/compare.h"
#include "arena/options.h"
#include "arena/sweep.h"
#include "arena/verify.h"
#include "frontend/files.h"
#include "frontend/frontend.h"

namespace {

int run(int argc, char** argv) {
    prendax::ArenaOptions options;
    switch (prendax::scan_arena_options(argc, argv, options)) {
        case prendax::SCAN_EXIT_OK: return prendax::EXIT_OK;
        case prendax::SCAN_EXIT_BAD: return prendax::EXIT_BAD_INVOCATION;
        case prendax::SCAN_GO_ON: break;
    }
    if (options.verifyPath != nullptr) return prendax::run_verify(options);
    if (options.summary) return prendax::run_csv_summary(options);
    if (options.compare) return prendax::run_compare(options);
    return prendax::run_sweep(options);
}

}  // namespace

int main(int argc, char** argv) { return prendax::finish_stdout(run(argc, argv)); }
