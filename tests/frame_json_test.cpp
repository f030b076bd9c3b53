// The frame document: the VM object, the game object, their one-object
// documents, and the cut of a frame that does not fit its buffer.
#include "json/frame_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "compiler/pipeline.h"
#include "compiler/sema.h"
#include "game/ship.h"
#include "game/world.h"
#include "vm/vm.h"

namespace prendax {
namespace {

const char* const EM_DASH = "\xE2\x80\x94";

// The records are large; each test gets zero-filled ones of its own.
struct Records {
    std::unique_ptr<Vm> vm = std::make_unique<Vm>();
    std::unique_ptr<World> world = std::make_unique<World>();
};

void set_var(Vm* vm, int index, const char* name, double value, int readonly) {
    std::snprintf(vm->vars[index].name, sizeof vm->vars[index].name, "%s", name);
    vm->vars[index].value = value;
    vm->vars[index].readonly = readonly;
}

// The machine as loading and resetting the program `SET x = 1` leaves it, with
// the reserved variables copied from a fresh world of the given level.
void setup_vm(Vm* vm, int level) {
    *vm = Vm{};
    vm->code[0] = Instruction{OP_PUSH, 0, 1, 1.0};
    vm->code[1] = Instruction{OP_STORE, 6, 1, 0.0};
    vm->code[2] = Instruction{OP_HALT, 0, 0, 0.0};
    vm->codeCount = 3;
    const double reserved[RESERVED_VARS] = {100, 0, 0, static_cast<double>(level), 0, 0};
    for (int i = 0; i < RESERVED_VARS; i++) set_var(vm, i, RESERVED_TABLE[i].name, reserved[i], 1);
    set_var(vm, 6, "x", 0, 0);
    vm->varCount = 7;
    vm->status = VM_EJECUTANDO;
}

std::string frame_text(const Vm* vm, const World* world) {
    std::vector<char> buf(65536);
    frame_to_json(vm, world, buf.data(), buf.size());
    return std::string(buf.data());
}

std::string vm_text(const Vm* vm) {
    std::vector<char> buf(65536);
    vm_state_to_json(vm, buf.data(), buf.size());
    return std::string(buf.data());
}

std::string world_text(const World* world) {
    std::vector<char> buf(65536);
    world_state_to_json(world, buf.data(), buf.size());
    return std::string(buf.data());
}

const char* const SETUP_VM =
    "{\"status\":\"ejecutando\",\"statusCode\":1,\"pc\":0,\"steps\":0,\"ticks\":0,\"wait\":0,\"budgetHits\":0,"
    "\"instruction\":\"PUSH\",\"stack\":[],\"vars\":["
    "{\"name\":\"health\",\"value\":100,\"readonly\":1},"
    "{\"name\":\"score\",\"value\":0,\"readonly\":1},"
    "{\"name\":\"enemies_left\",\"value\":0,\"readonly\":1},"
    "{\"name\":\"level\",\"value\":2,\"readonly\":1},"
    "{\"name\":\"shield\",\"value\":0,\"readonly\":1},"
    "{\"name\":\"ticks\",\"value\":0,\"readonly\":1},"
    "{\"name\":\"x\",\"value\":0,\"readonly\":0}],"
    "\"loopDepth\":0,\"error\":null}";

const char* const SETUP_GAME =
    "{\"px\":240,\"py\":560,\"health\":100,\"score\":0,\"level\":2,\"wave\":1,\"ticks\":0,"
    "\"shield\":0,\"shieldCooldown\":0,\"shootCooldown\":0,\"hitFlash\":0,"
    "\"width\":480,\"height\":640,\"status\":0,\"enemies\":[],\"bullets\":[],\"explosions\":[]}";

TEST(FrameJson, StateRightAfterSetUp) {
    Records r;
    setup_vm(r.vm.get(), 2);
    world_init(r.world.get(), 2, 7);
    std::string frame = frame_text(r.vm.get(), r.world.get());
    EXPECT_EQ(frame, std::string("{\"vm\":") + SETUP_VM + ",\"game\":" + SETUP_GAME + "}");

    nlohmann::json j = nlohmann::json::parse(frame);
    EXPECT_EQ(j["vm"]["status"], "ejecutando");
    EXPECT_TRUE(j["vm"]["error"].is_null());
    EXPECT_EQ(j["vm"]["vars"].size(), 7u);
    EXPECT_EQ(j["game"]["enemies"], nlohmann::json::array());
}

TEST(FrameJson, OneObjectDocumentsAreTheHalvesOfTheFrame) {
    Records r;
    setup_vm(r.vm.get(), 3);
    world_init(r.world.get(), 3, 1);
    r.vm->error = Diagnostic{PHASE_EJECUCION, 4, 0, "x"};
    r.vm->hasError = 1;
    r.world->enemies[5] = Enemy{10.5, 20.25, 1, 0, 2, ENEMY_MEDIUM, 1, 0, 3};
    std::string vm = vm_text(r.vm.get());
    std::string world = world_text(r.world.get());
    EXPECT_EQ(frame_text(r.vm.get(), r.world.get()), "{\"vm\":" + vm + ",\"game\":" + world + "}");
    EXPECT_TRUE(nlohmann::json::parse(vm).is_object());
    EXPECT_TRUE(nlohmann::json::parse(world).is_object());
}

TEST(FrameJson, StackIsWrittenFromTheTopDown) {
    struct Case {
        const char* name;
        std::vector<double> stack;  // bottom first
        const char* expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"empty", {}, "\"stack\":[]"},
        {"one value", {4.5}, "\"stack\":[4.5]"},
        {"three pushed in order", {1, 2, 3}, "\"stack\":[3,2,1]"},
        {"guarded numbers", {std::nan(""), inf, -inf, 1e6, 1.0 / 3.0}, "\"stack\":[0.333333,1e+06,0,0,0]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Records r;
        setup_vm(r.vm.get(), 1);
        for (double v : c.stack) r.vm->stack[r.vm->sp++] = v;
        std::string text = vm_text(r.vm.get());
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        nlohmann::json j = nlohmann::json::parse(text);
        EXPECT_EQ(j["stack"].size(), c.stack.size());
    }
}

TEST(FrameJson, VariablesWithNonFiniteValuesAreWrittenAsZero) {
    Records r;
    setup_vm(r.vm.get(), 1);
    set_var(r.vm.get(), 6, "a", std::nan(""), 0);
    set_var(r.vm.get(), 7, "b", std::numeric_limits<double>::infinity(), 0);
    set_var(r.vm.get(), 8, "c", -2.5, 0);
    set_var(r.vm.get(), 9, "d", 0, 7);  // any non-zero flag is written as 1
    r.vm->varCount = 10;
    std::string text = vm_text(r.vm.get());
    EXPECT_NE(text.find("{\"name\":\"a\",\"value\":0,\"readonly\":0},"
                        "{\"name\":\"b\",\"value\":0,\"readonly\":0},"
                        "{\"name\":\"c\",\"value\":-2.5,\"readonly\":0},"
                        "{\"name\":\"d\",\"value\":0,\"readonly\":1}]"),
              std::string::npos)
        << text;
    EXPECT_EQ(nlohmann::json::parse(text)["vars"].size(), 10u);
}

TEST(FrameJson, CurrentInstruction) {
    struct Case {
        const char* name;
        int32_t pc;
        int32_t codeCount;
        const char* expected;
    };
    const Case cases[] = {
        {"first", 0, 3, "PUSH"},
        {"last", 2, 3, "HALT"},
        {"pc equal to codeCount", 3, 3, EM_DASH},
        {"negative pc", -1, 3, EM_DASH},
        {"empty program", 0, 0, EM_DASH},
        {"unknown opcode", 3, 4, "?"},
        // A damaged record: codeCount past the array never makes pc an index beyond it.
        {"pc past the array", MAX_CODE, MAX_CODE + 100, EM_DASH},
        {"pc at the last slot", MAX_CODE - 1, MAX_CODE + 100, "WAIT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Records r;
        setup_vm(r.vm.get(), 1);
        r.vm->code[3].op = 40;
        r.vm->code[MAX_CODE - 1].op = OP_WAIT;
        r.vm->pc = c.pc;
        r.vm->codeCount = c.codeCount;
        nlohmann::json j = nlohmann::json::parse(vm_text(r.vm.get()));
        EXPECT_EQ(j["instruction"], c.expected);
        EXPECT_EQ(j["pc"], c.pc);
    }
}

TEST(FrameJson, DamagedCountsAreClampedToTheTables) {
    struct Case {
        const char* name;
        int32_t sp;
        int32_t varCount;
        std::size_t stackSize;
        std::size_t varsSize;
    };
    const Case cases[] = {
        {"full tables", MAX_STACK, MAX_VARS, MAX_STACK, MAX_VARS},
        {"counts past the tables", MAX_STACK + 50, MAX_VARS + 50, MAX_STACK, MAX_VARS},
        {"negative counts", -3, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Records r;
        setup_vm(r.vm.get(), 1);
        for (int i = 0; i < MAX_STACK; i++) r.vm->stack[i] = i;
        for (int i = 0; i < MAX_VARS; i++) std::memset(r.vm->vars[i].name, 'v', sizeof r.vm->vars[i].name);
        r.vm->sp = c.sp;
        r.vm->varCount = c.varCount;
        nlohmann::json j = nlohmann::json::parse(vm_text(r.vm.get()));
        ASSERT_EQ(j["stack"].size(), c.stackSize);
        ASSERT_EQ(j["vars"].size(), c.varsSize);
        if (c.stackSize > 0) {
            EXPECT_EQ(j["stack"][0], MAX_STACK - 1);
        }
        // An unterminated name is read only up to the end of its field.
        if (c.varsSize > 0) {
            EXPECT_EQ(j["vars"][0]["name"], std::string(sizeof(VmVar::name), 'v'));
        }
    }
}

TEST(FrameJson, ErrorObject) {
    Records r;
    setup_vm(r.vm.get(), 1);
    r.vm->status = VM_ERROR;
    r.vm->hasError = 1;
    r.vm->error = Diagnostic{PHASE_EJECUCION, 12, 0, "División entre cero en ejecución"};
    r.vm->pc = 2;
    r.vm->steps = 41;
    r.vm->ticks = 3;
    std::string text = vm_text(r.vm.get());
    EXPECT_NE(text.find("{\"status\":\"error\",\"statusCode\":6,\"pc\":2,\"steps\":41,\"ticks\":3,"), std::string::npos)
        << text;
    const std::string tail =
        "\"loopDepth\":0,\"error\":{\"phase\":5,\"phaseName\":\"ejecucion\",\"line\":12,\"col\":0,"
        "\"message\":\"División entre cero en ejecución\"}}";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

    // Quotes in a message are escaped; an unterminated message stops at its field.
    std::memset(r.vm->error.message, '"', sizeof r.vm->error.message);
    nlohmann::json j = nlohmann::json::parse(vm_text(r.vm.get()));
    EXPECT_EQ(j["error"]["message"], std::string(MESSAGE_SIZE, '"'));
}

TEST(FrameJson, StatusNamesAndCounters) {
    struct Case {
        int32_t status;
        const char* name;
    };
    const Case cases[] = {{VM_LISTO, "listo"},
                          {VM_ESPERANDO, "esperando"},
                          {VM_HALT, "halt"},
                          {VM_VICTORIA, "victoria"},
                          {VM_DERROTA, "derrota"},
                          {9, "?"},
                          {-1, "?"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        Records r;
        setup_vm(r.vm.get(), 1);
        r.vm->status = static_cast<VmStatus>(c.status);
        r.vm->steps = 2147483647;
        r.vm->ticks = -5;
        r.vm->wait = 599;
        r.vm->budgetHits = 17;
        r.vm->loopDepth = 3;
        nlohmann::json j = nlohmann::json::parse(vm_text(r.vm.get()));
        EXPECT_EQ(j["status"], c.name);
        EXPECT_EQ(j["statusCode"], c.status);
        EXPECT_EQ(j["steps"], 2147483647);
        EXPECT_EQ(j["ticks"], -5);
        EXPECT_EQ(j["wait"], 599);
        EXPECT_EQ(j["budgetHits"], 17);
        EXPECT_EQ(j["loopDepth"], 3);
    }
}

TEST(FrameJson, GameListsKeepSlotOrderAndSkipFreeSlots) {
    Records r;
    world_init(r.world.get(), 1, 1);
    World& w = *r.world;
    w.enemies[0] = Enemy{1, 2, 0.5, 0.1, 1, ENEMY_LIGHT, 0, 0, 0};  // free: skipped
    w.enemies[3] = Enemy{100.5, 40, 0.5, 0.1, 2, ENEMY_MEDIUM, 1, 12, 4};
    w.enemies[MAX_ENEMIES - 1] = Enemy{7, 8, 0.5, 0.1, 3, ENEMY_HEAVY, 1, 0, 0};
    w.bullets[2] = Bullet{240, 553, -7, 1, 1, 1};
    w.bullets[9] = Bullet{50, 60, 3, 0, 0, 9};  // free: skipped
    w.bullets[10] = Bullet{50.25, 61.125, 3, 1, 0, 9};
    w.explosions[0] = Explosion{5, 6, 0, 24, EXPLOSION_HIT};   // spent: skipped
    w.explosions[1] = Explosion{5, 6, -2, 24, EXPLOSION_HIT};  // spent: skipped
    w.explosions[4] = Explosion{15, 16, 36, 36, EXPLOSION_SHIELD};
    w.explosions[MAX_EXPLOSIONS - 1] = Explosion{0.5, 1e6, 1, 24, EXPLOSION_DESTROY};
    std::string text = world_text(r.world.get());
    EXPECT_NE(text.find("\"enemies\":[{\"x\":100.5,\"y\":40,\"hp\":2,\"type\":1,\"hit\":4},"
                        "{\"x\":7,\"y\":8,\"hp\":3,\"type\":2,\"hit\":0}],"
                        "\"bullets\":[{\"x\":240,\"y\":553,\"friendly\":1},"
                        "{\"x\":50.25,\"y\":61.125,\"friendly\":0}],"
                        "\"explosions\":[{\"x\":15,\"y\":16,\"life\":36,\"maxLife\":36,\"kind\":2},"
                        "{\"x\":0.5,\"y\":1e+06,\"life\":1,\"maxLife\":24,\"kind\":1}]}"),
              std::string::npos)
        << text;
    nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["enemies"].size(), 2u);
    EXPECT_EQ(j["bullets"].size(), 2u);
    EXPECT_EQ(j["explosions"].size(), 2u);
}

TEST(FrameJson, GameCountersAndShieldFlag) {
    struct Case {
        int32_t shield;
        int expected;
    };
    const Case cases[] = {{180, 1}, {1, 1}, {0, 0}, {-4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shield);
        Records r;
        world_init(r.world.get(), 3, 1);
        World& w = *r.world;
        w.shield = c.shield;
        w.shieldCooldown = 600;
        w.shootCooldown = 7;
        w.hitFlash = 5;
        w.px = 24.5;
        w.py = 604;
        w.health = 0;
        w.score = 1230;
        w.wave = 3;
        w.ticks = 999;
        w.status = GAME_DEFEAT;
        std::string text = world_text(r.world.get());
        char expected[512];
        std::snprintf(expected, sizeof expected,
                      "{\"px\":24.5,\"py\":604,\"health\":0,\"score\":1230,\"level\":3,\"wave\":3,\"ticks\":999,"
                      "\"shield\":%d,\"shieldCooldown\":600,\"shootCooldown\":7,\"hitFlash\":5,"
                      "\"width\":480,\"height\":640,\"status\":2,\"enemies\":[],\"bullets\":[],\"explosions\":[]}",
                      c.expected);
        EXPECT_EQ(text, expected);
    }
}

TEST(FrameJson, AbsentRecordsAreWrittenAsNull) {
    Records r;
    world_init(r.world.get(), 1, 1);
    nlohmann::json j = nlohmann::json::parse(frame_text(nullptr, r.world.get()));
    EXPECT_TRUE(j["vm"].is_null());
    EXPECT_EQ(j["game"]["px"], 240);
    EXPECT_EQ(frame_text(nullptr, nullptr), "{\"vm\":null,\"game\":null}");
    EXPECT_EQ(vm_text(nullptr), "null");
    EXPECT_EQ(world_text(nullptr), "null");
}

TEST(FrameJson, TooSmallBufferEndsAtTheLastWholePiece) {
    Records r;
    setup_vm(r.vm.get(), 2);
    world_init(r.world.get(), 2, 7);
    r.vm->stack[0] = 1;
    r.vm->sp = 1;
    const std::string full = frame_text(r.vm.get(), r.world.get());
    const std::string vmPrefix = "{\"vm\":{";
    const std::string statusPiece = "\"status\":";
    const std::string countersStart = vmPrefix + statusPiece + "\"ejecutando\"";
    const std::string countersPiece = ",\"statusCode\":1,\"pc\":0,\"steps\":0,\"ticks\":0,\"wait\":0,\"budgetHits\":0";
    ASSERT_EQ(full.compare(0, countersStart.size() + countersPiece.size(), countersStart + countersPiece), 0);

    struct Case {
        std::size_t cap;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0, ""},
        {1, ""},
        {2, ""},
        {8, "{\"vm\":"},  // the object's "{" needs one byte more
        {9, vmPrefix},
        {vmPrefix.size() + statusPiece.size() + 1, vmPrefix},
        {vmPrefix.size() + statusPiece.size() + 2, vmPrefix + statusPiece},
        {vmPrefix.size() + statusPiece.size() + 4, vmPrefix + statusPiece + "\"e"},  // inside a string
        // The counters are one piece: nothing of it until it fits whole.
        {countersStart.size() + countersPiece.size() + 1, countersStart},
        {countersStart.size() + countersPiece.size() + 2, countersStart + countersPiece},
        {full.size() + 1, full.substr(0, full.size() - 1)},  // the closing brace does not fit
        {full.size() + 2, full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cap);
        std::vector<char> buf(c.cap + 8, '#');
        frame_to_json(r.vm.get(), r.world.get(), buf.data(), c.cap);
        if (c.cap == 0) {
            EXPECT_EQ(buf[0], '#');  // a capacity of 0 leaves the buffer untouched
            continue;
        }
        EXPECT_EQ(std::string(buf.data()), c.text);
        for (std::size_t i = c.cap; i < buf.size(); i++) ASSERT_EQ(buf[i], '#') << i;
    }

    // Every capacity gives a terminated prefix of the whole frame that leaves
    // at least one byte of the buffer unused.
    for (std::size_t cap = 1; cap <= full.size() + 2; cap++) {
        std::vector<char> buf(cap + 1, '#');
        frame_to_json(r.vm.get(), r.world.get(), buf.data(), cap);
        std::size_t n = std::strlen(buf.data());
        if (cap >= 2) {
            ASSERT_LE(n + 2, cap) << cap;
        } else {
            ASSERT_EQ(n, 0u);
        }
        ASSERT_EQ(full.compare(0, n, buf.data()), 0) << cap;
        ASSERT_EQ(buf[cap], '#') << cap;
    }
}

// A real match set up as the driver does it: compile, start the world, load
// and reset the machine, copy the reserved variables.
struct Match {
    std::unique_ptr<CompileResult> result = std::make_unique<CompileResult>();
    std::unique_ptr<CompilerContext> ctx = std::make_unique<CompilerContext>();
    Records r;

    Match(const char* source, int level, uint32_t seed) {
        EXPECT_EQ(compile_source(source, result.get(), ctx.get()), 1);
        world_init(r.world.get(), level, seed);
        VmHost host = world_host(r.world.get());
        vm_load(r.vm.get(), result.get(), &host);
        vm_reset(r.vm.get());
        sync_reserved(r.vm.get(), r.world.get());
    }
    std::string frame() const { return frame_text(r.vm.get(), r.world.get()); }
};

TEST(FrameJsonEndToEnd, StateRightAfterSetUp) {
    Match m("SET x 1", 2, 7);
    EXPECT_EQ(m.frame(), std::string("{\"vm\":") + SETUP_VM + ",\"game\":" + SETUP_GAME + "}");
}

TEST(FrameJsonEndToEnd, HaltedProgramShowsTheEmDash) {
    Match m("SET x 1", 1, 7);
    vm_run(m.r.vm.get(), 200);
    ASSERT_EQ(m.r.vm->status, VM_HALT);
    nlohmann::json vm = nlohmann::json::parse(m.frame())["vm"];
    EXPECT_EQ(vm["status"], "halt");
    EXPECT_EQ(vm["pc"], m.r.vm->codeCount);
    EXPECT_EQ(vm["instruction"], EM_DASH);
    EXPECT_EQ(vm["vars"][6], (nlohmann::json{{"name", "x"}, {"value", 1}, {"readonly", 0}}));
    EXPECT_EQ(vm["steps"], 3);
    EXPECT_EQ(vm["ticks"], 1);
}

TEST(FrameJsonEndToEnd, RunTimeError) {
    Match m("SET a 10\nSET b a / (2 - 2)", 1, 7);
    vm_run(m.r.vm.get(), 200);
    ASSERT_EQ(m.r.vm->status, VM_ERROR);
    nlohmann::json vm = nlohmann::json::parse(m.frame())["vm"];
    EXPECT_EQ(vm["status"], "error");
    EXPECT_EQ(vm["statusCode"], 6);
    EXPECT_EQ(vm["error"], (nlohmann::json{{"phase", 5},
                                           {"phaseName", "ejecucion"},
                                           {"line", 2},
                                           {"col", 0},
                                           {"message", "División entre cero en ejecución"}}));
}

}  // namespace
}  // namespace prendax
