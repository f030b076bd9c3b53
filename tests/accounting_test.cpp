// The accounting a tool may attach to a match: the VM's profile (per
// instruction executions, budget stops and waiting ticks, and the trace) and
// the world's event log. Attaching either never changes a match; the profile's
// sums agree with the VM's own counters and the events explain every change
// of health and score.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/pipeline.h"
#include "game/events.h"
#include "game/match.h"
#include "json/frame_json.h"
#include "vm/profile.h"

namespace prendax {
namespace {

constexpr std::size_t FRAME_CAPACITY = 65536;

struct Records {
    CompilerContext context;
    CompileResult result;
    Vm vm;
    World world;
    VmProfile profile;
    EventLog log;
    char plainFrame[FRAME_CAPACITY];
    char accountedFrame[FRAME_CAPACITY];
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A small deterministic generator of robot programs that reach every statement,
// nested loops and conditions, long straight runs (budget stops) and run-time
// errors (a division by a variable that may be zero).
struct ProgramMaker {
    uint32_t state;
    std::string text;

    uint32_t next(uint32_t m) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state % m;
    }

    std::string expr() {
        static const char* const atoms[] = {"health", "score", "enemies_left", "ticks", "a", "b", "3", "random(4)"};
        std::string left = atoms[next(8)];
        if (next(3) != 0) return left;
        static const char* const ops[] = {" + ", " - ", " * ", " / ", " % "};
        return "(" + left + ops[next(5)] + atoms[next(8)] + ")";
    }

    std::string condition() {
        static const char* const tests[] = {"enemy_ahead()", "enemy_left()", "enemy_right()", "a < 5", "b == 0"};
        return tests[next(5)];
    }

    void block(int depth) {
        int count = 1 + static_cast<int>(next(4));
        for (int i = 0; i < count; i++) statement(depth);
    }

    void statement(int depth) {
        uint32_t pick = next(depth >= 3 ? 7 : 10);
        switch (pick) {
            case 0: text += "SET a " + expr() + "\n"; break;
            case 1: text += "SET b (b + 1) % 3\n"; break;
            case 2: text += std::string("MOVE ") + (next(2) ? "LEFT\n" : "RIGHT\n"); break;
            case 3: text += "SHOOT\n"; break;
            case 4: text += "SHIELD\n"; break;
            case 5: text += "WAIT " + std::to_string(next(4)) + "\n"; break;
            case 6: text += "SET a a / b\n"; break;
            case 7:
                text += "REPEAT " + std::to_string(1 + next(30)) + " {\n";
                block(depth + 1);
                text += "}\n";
                break;
            case 8:
                text += "IF " + condition() + " {\n";
                block(depth + 1);
                text += "} ELSE {\n";
                block(depth + 1);
                text += "}\n";
                break;
            default:
                text += "WHILE " + condition() + " {\n";
                block(depth + 1);
                text += "SET a a + 1\n}\n";
                break;
        }
    }

    std::string program() {
        text = "START\nSET a 0\nSET b 1\nWHILE health > 0 {\n";
        block(0);
        text += "}\nEND\n";
        return text;
    }
};

std::vector<std::string> test_programs() {
    std::vector<std::string> sources;
    for (const char* name :
         {"01_primer_robot", "02_barrido", "03_apuntar", "04_escudo", "05_patrulla", "06_aleatorio", "07_campeon"}) {
        sources.push_back(read_file(std::string(PRENDAX_SOURCE_DIR) + "/examples/" + name + ".zkv"));
    }
    for (uint32_t seed = 1; seed <= 24; seed++) {
        ProgramMaker maker{seed * 2654435761u, {}};
        sources.push_back(maker.program());
    }
    return sources;
}

int64_t sum(const int64_t (&counts)[PROFILE_SLOTS]) {
    int64_t total = 0;
    for (int64_t n : counts) total += n;
    return total;
}

// What a match's events add up to in one tick.
struct TickSums {
    int32_t damage = 0;
    int32_t points = 0;
    int32_t waves = 0;
    int32_t ends = 0;
    int32_t errors = 0;
};

TickSums sum_events(const EventLog& log, int32_t tick) {
    TickSums sums;
    for (int32_t i = 0; i < log.count; i++) {
        const MatchEvent& e = log.events[i];
        EXPECT_EQ(e.tick, tick);
        if (e.kind == EVENT_DAMAGE) sums.damage += e.amount;
        if (e.kind == EVENT_DESTROYED) sums.points += e.points;
        if (e.kind == EVENT_WAVE) sums.waves++;
        if (e.kind == EVENT_VICTORY || e.kind == EVENT_DEFEAT) sums.ends++;
        if (e.kind == EVENT_ERROR) sums.errors++;
        if (e.kind == EVENT_DESTROYED && e.cause == CAUSE_RAM) {
            EXPECT_EQ(e.points, 0);
        }
        if (e.kind == EVENT_DAMAGE || e.kind == EVENT_SHIELD_BLOW) {
            EXPECT_NE(e.cause, CAUSE_NONE);
        }
    }
    return sums;
}

// Plays a match without anything attached; counts the ticks that began in a WAIT.
int64_t play_plain(Records& r, int32_t level, uint32_t seed, int32_t ticks) {
    match_start(r.result, level, seed, r.vm, r.world);
    int64_t waiting = 0;
    for (int32_t t = 0; t < ticks; t++) {
        const bool began_waiting = r.vm.status == VM_ESPERANDO;
        // The program takes its turn only while the game goes on, and nothing
        // the program does ends the game.
        if (!match_tick(r.vm, r.world)) break;
        if (began_waiting) waiting++;
    }
    frame_to_json(&r.vm, &r.world, r.plainFrame, FRAME_CAPACITY);
    return waiting;
}

// The same match with the profile and the event log attached, checking the
// events against the world tick by tick.
void play_accounted(Records& r, int32_t level, uint32_t seed, int32_t ticks) {
    match_start(r.result, level, seed, r.vm, r.world);
    profile_clear(&r.profile);
    r.profile.trace = nullptr;
    r.vm.profile = &r.profile;
    r.log.count = 0;
    r.log.dropped = 0;
    r.world.events = &r.log;
    for (int32_t t = 0; t < ticks; t++) {
        const int32_t health = r.world.health;
        const int32_t score = r.world.score;
        const int32_t wave = r.world.wave;
        const int32_t hadError = r.vm.hasError;
        const bool going = match_tick(r.vm, r.world);
        TickSums sums = sum_events(r.log, r.world.ticks);
        EXPECT_EQ(health - sums.damage, r.world.health) << "tick " << r.world.ticks;
        EXPECT_EQ(score + sums.points, r.world.score) << "tick " << r.world.ticks;
        EXPECT_EQ(r.world.wave - wave, sums.waves);
        EXPECT_EQ(going ? 0 : 1, sums.ends);
        EXPECT_EQ(r.vm.hasError - hadError, sums.errors);
        EXPECT_EQ(r.log.dropped, 0);
        if (!going) break;
    }
    frame_to_json(&r.vm, &r.world, r.accountedFrame, FRAME_CAPACITY);
}

TEST(Accounting, NeverChangesAMatchAndItsSumsAgreeWithTheMachine) {
    auto r = std::make_unique<Records>();
    int matches = 0;
    int64_t stopsSeen = 0;
    int64_t waitsSeen = 0;
    int64_t errorsSeen = 0;
    for (const std::string& source : test_programs()) {
        ASSERT_EQ(compile_source(source.c_str(), &r->result, &r->context), 1) << source;
        for (int32_t level = 1; level <= 3; level++) {
            for (uint32_t seed : {1u, 16u, 777u}) {
                const int64_t waiting = play_plain(*r, level, seed, 1500);
                play_accounted(*r, level, seed, 1500);
                ASSERT_STREQ(r->plainFrame, r->accountedFrame) << source << " level " << level << " seed " << seed;
                EXPECT_EQ(sum(r->profile.executed), r->vm.steps);
                EXPECT_EQ(sum(r->profile.budgetStops), r->vm.budgetHits);
                EXPECT_EQ(sum(r->profile.waitTicks), waiting);
                for (int32_t pc = 0; pc < PROFILE_SLOTS; pc++) {
                    if (r->profile.waitTicks[pc] == 0) continue;
                    EXPECT_EQ(r->vm.code[pc].op, OP_WAIT) << "waiting ticks in a non-WAIT at " << pc;
                }
                stopsSeen += r->vm.budgetHits;
                waitsSeen += waiting;
                errorsSeen += r->vm.hasError;
                matches++;
            }
        }
    }
    // The programs reach every kind of tick the sums are about.
    EXPECT_EQ(matches, 31 * 9);
    EXPECT_GT(stopsSeen, 0);
    EXPECT_GT(waitsSeen, 0);
    EXPECT_GT(errorsSeen, 0);
}

// A hand-made program whose counts are known: PUSH 2, WAIT, then a loop of
// two instructions that runs the budget out.
TEST(Accounting, ProfileCountsWaitsStopsAndTheTrace) {
    auto r = std::make_unique<Records>();
    CompileResult& result = r->result;
    result = CompileResult{};
    const Instruction code[] = {
        {OP_PUSH, 0, 1, 2.0}, {OP_WAIT, 0, 1, 0.0}, {OP_PUSH, 0, 2, 7.0}, {OP_STORE, 6, 2, 0.0}, {OP_JMP, 2, 3, 0.0},
    };
    result.codeCount = 5;
    for (int i = 0; i < 5; i++) result.code[i] = code[i];
    result.varCount = 7;
    vm_load(&r->vm, &result, nullptr);
    vm_reset(&r->vm);
    profile_clear(&r->profile);
    VmTraceStep steps[4];
    r->profile.trace = steps;
    r->profile.traceCapacity = 4;
    r->vm.profile = &r->profile;

    vm_run(&r->vm, 10);  // PUSH, WAIT: starts waiting 2 ticks
    EXPECT_EQ(r->profile.traceCount, 2);
    EXPECT_EQ(steps[1].pc, 1);
    EXPECT_EQ(steps[1].sp, 1);
    EXPECT_EQ(steps[1].top, 2.0);
    EXPECT_EQ(steps[0].sp, 0);
    vm_run(&r->vm, 10);  // waiting
    vm_run(&r->vm, 10);  // the WAIT ends; 10 instructions of the loop
    EXPECT_EQ(r->profile.waitTicks[1], 2);
    EXPECT_EQ(r->profile.executed[2], 4);
    EXPECT_EQ(r->profile.executed[3], 3);
    EXPECT_EQ(r->profile.executed[4], 3);
    EXPECT_EQ(r->profile.budgetStops[3], 1);
    EXPECT_EQ(r->vm.budgetHits, 1);
    EXPECT_EQ(r->profile.traceCount, 4);
    EXPECT_EQ(r->profile.traceDropped, 8);

    // A single step is counted too; detached, nothing more is.
    vm_step(&r->vm);
    EXPECT_EQ(r->profile.executed[3], 4);
    r->vm.profile = nullptr;
    vm_run(&r->vm, 10);
    EXPECT_EQ(sum(r->profile.executed), 13);
    EXPECT_EQ(r->vm.steps, 23);

    VmProfile* total = &r->profile;
    auto other = std::make_unique<VmProfile>();
    profile_clear(other.get());
    profile_add(other.get(), total);
    profile_add(other.get(), total);
    EXPECT_EQ(sum(other->executed), 26);
    EXPECT_EQ(other->waitTicks[1], 4);
}

// Each blow names its cause: a bullet under the shield is a shield blow, a
// ram destroys the enemy without points, an escape costs health.
TEST(Accounting, EventsNameTheirCauses) {
    auto r = std::make_unique<Records>();
    const char* source = "START\nSHIELD\nWHILE health > 0 { WAIT 50 }\nEND\n";
    ASSERT_EQ(compile_source(source, &r->result, &r->context), 1);
    match_start(r->result, 3, 16, r->vm, r->world);
    r->world.events = &r->log;
    int counts[10] = {};
    int causes[5] = {};
    for (int t = 0; t < 5000; t++) {
        const bool going = match_tick(r->vm, r->world);
        for (int32_t i = 0; i < r->log.count; i++) {
            counts[r->log.events[i].kind]++;
            causes[r->log.events[i].cause]++;
        }
        if (!going) break;
    }
    EXPECT_EQ(counts[EVENT_SHIELD_UP], 1);
    EXPECT_EQ(counts[EVENT_DEFEAT], 1);
    EXPECT_GT(counts[EVENT_ESCAPED], 0);
    EXPECT_GT(counts[EVENT_DAMAGE], 0);
    EXPECT_GT(causes[CAUSE_ESCAPE], 0);
    EXPECT_EQ(counts[EVENT_SHOT], 0);
    EXPECT_STREQ(match_event_name(EVENT_SHIELD_BLOW), "escudo_golpe");
    EXPECT_STREQ(event_cause_name(CAUSE_RAM), "choque");
    EXPECT_STREQ(match_event_name(99), "?");
}

}  // namespace
}  // namespace prendax
