// The match module: the loop over ticks and what it tells its observer, against
// the rule of one tick played by hand.
#include "game/match.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "compiler/pipeline.h"

namespace prendax {
namespace {

// Sits still until the enemies bring it down (about 1200 ticks at level 3).
constexpr const char* IDLE_PROGRAM = "WHILE 1 { WAIT 1 }\n";

struct Seen {
    std::vector<int32_t> ticks;
    std::vector<bool> going;
    int32_t stopAt = -1;  // the observer stops the match after this tick
};

bool remember(void* context, const Vm& vm, const World& world, int32_t tick, bool going) {
    Seen& seen = *static_cast<Seen*>(context);
    EXPECT_EQ(world.ticks, tick);
    EXPECT_EQ(going, world.status == GAME_PLAYING);
    if (!going) {
        EXPECT_EQ(vm.status, VM_DERROTA);
    }
    seen.ticks.push_back(tick);
    seen.going.push_back(going);
    return tick != seen.stopAt;
}

class MatchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(compile_source(IDLE_PROGRAM, result.get(), context.get()), 1); }

    bool play(int32_t ticks, Seen& seen, int32_t level = 1) {
        match_start(*result, level, 7, *vm, *world);
        const MatchObserver observer{&seen, remember};
        return match_play(*vm, *world, ticks, &observer);
    }

    std::unique_ptr<CompilerContext> context = std::make_unique<CompilerContext>();
    std::unique_ptr<CompileResult> result = std::make_unique<CompileResult>();
    std::unique_ptr<Vm> vm = std::make_unique<Vm>();
    std::unique_ptr<World> world = std::make_unique<World>();
};

TEST_F(MatchTest, ObserverSeesEveryTickUpToTheLimit) {
    Seen seen;
    EXPECT_TRUE(play(90, seen));
    ASSERT_EQ(seen.ticks.size(), 90u);
    for (int32_t i = 0; i < 90; i++) EXPECT_EQ(seen.ticks[static_cast<std::size_t>(i)], i + 1);
    EXPECT_EQ(world->ticks, 90);
    EXPECT_EQ(vm->ticks, 90);
}

TEST_F(MatchTest, NoTicksArePlayedForZeroOrLess) {
    for (int32_t ticks : {0, -5}) {
        Seen seen;
        EXPECT_TRUE(play(ticks, seen));
        EXPECT_TRUE(seen.ticks.empty());
        EXPECT_EQ(world->ticks, 0);
        EXPECT_EQ(vm->ticks, 0);
    }
}

TEST_F(MatchTest, TheEndingTickIsToldAndNothingFollowsIt) {
    Seen seen;
    EXPECT_TRUE(play(5000, seen, 3));
    ASSERT_FALSE(seen.going.empty());
    EXPECT_FALSE(seen.going.back());
    for (std::size_t i = 0; i + 1 < seen.going.size(); i++) EXPECT_TRUE(seen.going[i]);
    EXPECT_LT(seen.ticks.back(), 5000);
    EXPECT_EQ(world->status, GAME_DEFEAT);
    EXPECT_EQ(vm->status, VM_DERROTA);
}

TEST_F(MatchTest, TheObserverStopsTheMatch) {
    Seen seen;
    seen.stopAt = 12;
    EXPECT_FALSE(play(100, seen));
    EXPECT_EQ(seen.ticks.size(), 12u);
    EXPECT_EQ(world->ticks, 12);
}

// The loop is the rule of one tick repeated: the same seed gives the same state
// whether played through match_play or tick by tick.
TEST_F(MatchTest, LoopPlaysTheSameMatchAsTickByTick) {
    match_start(*result, 3, 99, *vm, *world);
    EXPECT_TRUE(match_play(*vm, *world, 700, nullptr));
    auto byHand = std::make_unique<Vm>();
    auto handWorld = std::make_unique<World>();
    match_start(*result, 3, 99, *byHand, *handWorld);
    for (int32_t t = 0; t < 700 && match_tick(*byHand, *handWorld); t++) {}
    EXPECT_EQ(handWorld->ticks, world->ticks);
    EXPECT_EQ(handWorld->health, world->health);
    EXPECT_EQ(handWorld->rng, world->rng);
    EXPECT_EQ(byHand->steps, vm->steps);
    EXPECT_EQ(byHand->status, vm->status);
}

// The machine fills its table of jumps on its first run in the process; threads
// that make their first runs at the same moment must all run their programs.
// Each child process starts its threads together and reports through its exit
// status whether any program stopped on an error. The moment is short: the
// sanitizer build, slower, is where a fault here shows in a few processes of 200.
TEST(MatchThreads, FirstMatchesStartedTogetherRunTheirPrograms) {
    constexpr const char* BUSY_PROGRAM =
        "START\n"
        "SET x 0\n"
        "WHILE health > 0 {\n"
        "  SET x x + 1\n"
        "  IF x > 2 { SHOOT } ELSE { MOVE LEFT }\n"
        "  WAIT 1\n"
        "}\n"
        "END\n";
    constexpr int PROCESSES = 200;
    constexpr int THREADS = 3;
    auto context = std::make_unique<CompilerContext>();
    auto result = std::make_unique<CompileResult>();
    ASSERT_EQ(compile_source(BUSY_PROGRAM, result.get(), context.get()), 1);
    int failed = 0;
    for (int p = 0; p < PROCESSES; p++) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::atomic<int> ready{0};
            std::atomic<int> errors{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < THREADS; t++) {
                threads.emplace_back([&] {
                    auto vm = std::make_unique<Vm>();
                    auto world = std::make_unique<World>();
                    match_start(*result, 1, 7, *vm, *world);
                    ready.fetch_add(1);
                    while (ready.load() < THREADS) {}
                    match_play(*vm, *world, 20, nullptr);
                    if (vm->hasError != 0) errors.fetch_add(1);
                });
            }
            for (std::thread& thread : threads) thread.join();
            _exit(errors.load() == 0 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) != 0) failed++;
    }
    EXPECT_EQ(failed, 0) << "processes in which a program stopped on an error";
}

}  // namespace
}  // namespace prendax
