// The worker threads of a run. A block of matches is handed out one match at a
// time through a shared counter; each result goes to the slot of its match, so
// the order of the results is the order of the jobs whatever the scheduling.
// After a signal no match is handed out any more: the ones handed out are
// finished, and they are always the first ones of the block.
#include "arena/match_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "arena/interrupt.h"
#include "arena/progress.h"
#include "game/match.h"

namespace prendax {

namespace {

constexpr auto PROGRESS_REDRAW = std::chrono::milliseconds(100);  // the bar is redrawn ten times a second

struct Block {
    const MatchJob* jobs;
    MatchResult* results;
    std::size_t count;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex mutex;
    std::condition_variable finished;
};

void play_jobs(Block& block, MatchWorker& worker) {
    while (true) {
        if (interrupt_signal() != 0) return;
        std::size_t i = block.next.fetch_add(1, std::memory_order_relaxed);
        if (i >= block.count) return;
        const MatchJob& job = block.jobs[i];
        VmProfile* profile = nullptr;
        if (job.profileSlot >= 0 && static_cast<std::size_t>(job.profileSlot) < worker.profiles.size()) {
            profile = worker.profiles[static_cast<std::size_t>(job.profileSlot)].get();
        }
        play_match(job, *worker.vm, *worker.world, block.results[i], profile);
        if (block.done.fetch_add(1, std::memory_order_acq_rel) + 1 == block.count) {
            std::lock_guard<std::mutex> lock(block.mutex);
            block.finished.notify_all();
        }
    }
}

// Waits for the block's last match, redrawing the progress bar meanwhile.
void wait_for_block(Block& block, Progress* progress, uint64_t doneBefore) {
    std::unique_lock<std::mutex> lock(block.mutex);
    auto over = [&] { return block.done.load() == block.count || interrupt_signal() != 0; };
    while (!block.finished.wait_for(lock, PROGRESS_REDRAW, over)) {
        if (progress != nullptr) progress_draw(*progress, doneBefore + block.done.load());
    }
}

}  // namespace

void play_match(const MatchJob& job, Vm& vm, World& world, MatchResult& out, VmProfile* profile) {
    match_start(*job.program, job.level, job.seed, vm, world);
    vm.profile = profile;
    match_play(vm, world, job.ticks, nullptr);
    vm.profile = nullptr;
    out.status = vm.status;
    out.score = world.score;
    out.health = world.health;
    out.wave = world.wave;
    out.ticks = vm.ticks;
    out.tickLimit = job.ticks;
    out.steps = vm.steps;
    out.budgetHits = vm.budgetHits;
    out.hasError = vm.hasError != 0;
    out.errorLine = vm.hasError ? vm.error.line : 0;
    std::memset(out.errorMessage, 0, sizeof out.errorMessage);
    if (vm.hasError) std::memcpy(out.errorMessage, vm.error.message, sizeof out.errorMessage - 1);
}

void pool_profiles(MatchPool& pool, std::size_t slots) {
    for (MatchWorker& worker : pool.workers) {
        worker.profiles.clear();
        for (std::size_t s = 0; s < slots; s++) {
            worker.profiles.push_back(std::make_unique<VmProfile>());
            profile_clear(worker.profiles.back().get());
            worker.profiles.back()->trace = nullptr;
        }
    }
}

void pool_profile_sum(const MatchPool& pool, std::size_t slot, VmProfile* into) {
    profile_clear(into);
    for (const MatchWorker& worker : pool.workers) {
        if (slot < worker.profiles.size()) profile_add(into, worker.profiles[slot].get());
    }
}

void pool_init(MatchPool& pool, int32_t workers) {
    pool.workers.clear();
    pool.workers.resize(static_cast<std::size_t>(workers < 1 ? 1 : workers));
    for (MatchWorker& worker : pool.workers) {
        worker.vm = std::make_unique<Vm>();
        worker.world = std::make_unique<World>();
    }
}

std::size_t pool_play(MatchPool& pool, const MatchJob* jobs, MatchResult* results, std::size_t count,
                      Progress* progress) {
    if (count == 0) return 0;
    Block block;
    block.jobs = jobs;
    block.results = results;
    block.count = count;
    uint64_t doneBefore = progress != nullptr ? progress->done : 0;

    std::size_t wanted = pool.workers.size() < count ? pool.workers.size() : count;
    std::vector<std::thread> threads;
    threads.reserve(wanted);
    for (std::size_t w = 0; w < wanted; w++) {
        try {
            threads.emplace_back(play_jobs, std::ref(block), std::ref(pool.workers[w]));
        } catch (const std::system_error&) {
            break;  // the system gives no more threads: the ones started share the block
        }
    }
    if (threads.empty()) {
        play_jobs(block, pool.workers[0]);
    } else {
        wait_for_block(block, progress, doneBefore);
    }
    for (std::thread& thread : threads) thread.join();
    std::size_t handedOut = block.next.load();
    std::size_t played = handedOut < count ? handedOut : count;
    if (progress != nullptr) progress_advance(*progress, played);
    return played;
}

}  // namespace prendax
