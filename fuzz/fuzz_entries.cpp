// The fuzzed entries and the properties each checks beyond "no crash, no
// undefined behaviour" (which the sanitizers watch): the records stay inside
// their bounds, a successful compile is well-formed bytecode, every document is
// valid JSON, a document cut by a small buffer is a prefix of the whole one and
// never writes past the buffer, and running the same input twice gives the same
// bytes (nothing carries over from the previous input; a compilation leaves its
// records exactly as one into records cleared whole does).
#include "fuzz/fuzz_entries.h"

#include <cstring>

#include "compiler/pipeline.h"
#include "compiler/sema.h"
#include "frontend/frontend.h"
#include "fuzz/json_check.h"
#include "game/match.h"
#include "game/ship.h"
#include "game/tick.h"
#include "json/compile_json.h"
#include "json/frame_json.h"

namespace prendax {

namespace {

// Large enough that no document is ever cut, so the whole text can be checked.
constexpr std::size_t FULL_DOCUMENT_CAPACITY = std::size_t{2} * 1024 * 1024;
constexpr std::size_t SMALL_CAPACITY_RANGE = 4096;  // the cut check uses capacities 0..4095
constexpr std::size_t CANARY_BYTES = 64;
constexpr unsigned char CANARY = 0x5A;
constexpr int VM_EXTRA_STEPS = 16;

CompilerContext context;
CompileResult result;
CompilerContext firstContext;  // the records after the first compilation of an input
CompileResult firstResult;
CompileResult handMade;
Vm machine;
Vm loadedMachine;  // the machine right after a load into a used one
World world;
char source[FUZZ_SOURCE_LIMIT + 1];
char fullDocument[FULL_DOCUMENT_CAPACITY];
char firstDocument[FULL_DOCUMENT_CAPACITY];
char driverDocument[COMPILE_JSON_CAPACITY];
char smallDocument[SMALL_CAPACITY_RANGE + CANARY_BYTES];
char partDocument[FRAME_JSON_CAPACITY];

// Little-endian fields of an input; bytes past its end read as 0.
struct Reader {
    const uint8_t* data;
    std::size_t size;
    std::size_t at;
};

uint8_t read_u8(Reader& r) { return r.at < r.size ? r.data[r.at++] : (r.at++, uint8_t{0}); }

// A byte read as a two's-complement value, -128..127.
int32_t read_s8(Reader& r) {
    const int32_t b = read_u8(r);
    return b < 128 ? b : b - 256;
}

uint32_t read_u32(Reader& r) {
    uint32_t value = 0;
    for (int i = 0; i < 4; i++) value |= static_cast<uint32_t>(read_u8(r)) << (8 * i);
    return value;
}

uint16_t read_u16(Reader& r) {
    const uint16_t low = read_u8(r);
    return static_cast<uint16_t>(low | static_cast<uint16_t>(read_u8(r) << 8));
}

void put_u8(uint8_t* out, std::size_t capacity, std::size_t& at, uint8_t value) {
    if (at < capacity) out[at] = value;
    at++;
}

void put_bytes(uint8_t* out, std::size_t capacity, std::size_t& at, const void* bytes, std::size_t n) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (std::size_t i = 0; i < n; i++) put_u8(out, capacity, at, p[i]);
}

void put_u32(uint8_t* out, std::size_t capacity, std::size_t& at, uint32_t value) {
    for (int i = 0; i < 4; i++) put_u8(out, capacity, at, static_cast<uint8_t>(value >> (8 * i)));
}

bool terminated(const char* text, std::size_t capacity) { return std::memchr(text, '\0', capacity) != nullptr; }

// The source as the driver hands it on: the bytes up to the first NUL.
void take_source(const uint8_t* data, std::size_t size) {
    const std::size_t n = size < FUZZ_SOURCE_LIMIT ? size : FUZZ_SOURCE_LIMIT;
    if (n > 0) std::memcpy(source, data, n);
    source[n] = '\0';
}

// A capacity in 0..4095 drawn from the input, for the cut-document check.
std::size_t small_capacity(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    return (static_cast<std::size_t>(data[0]) * 131u + size * 17u + data[size - 1]) % SMALL_CAPACITY_RANGE;
}

// A document written into a buffer of `capacity` must be a terminated prefix of
// the whole document, at most capacity - 2 bytes long, and must leave every
// byte from `capacity` on untouched.
template <typename Write>
const char* check_cut_document(std::size_t capacity, const char* whole, Write write) {
    std::memset(smallDocument, CANARY, sizeof smallDocument);
    write(smallDocument, capacity);
    for (std::size_t i = capacity; i < capacity + CANARY_BYTES; i++) {
        if (static_cast<unsigned char>(smallDocument[i]) != CANARY) return "a cut document wrote past its buffer";
    }
    if (capacity == 0) {
        return static_cast<unsigned char>(smallDocument[0]) == CANARY ? nullptr : "a zero-capacity buffer was written";
    }
    if (!terminated(smallDocument, capacity)) return "a cut document is not terminated";
    const std::size_t length = std::strlen(smallDocument);
    if (capacity >= 2 && length > capacity - 2) return "a cut document fills its buffer to the last byte";
    if (capacity < 2 && length != 0) return "a one-byte buffer holds text";
    if (std::strncmp(smallDocument, whole, length) != 0) return "a cut document is not a prefix of the whole";
    return nullptr;
}

const char* check_diagnostic(const Diagnostic& d) {
    if (!terminated(d.message, MESSAGE_SIZE)) return "a diagnostic message is not terminated";
    return nullptr;
}

bool is_jump(int32_t op) { return op == OP_JMP || op == OP_JZ || op == OP_JNZ || op == OP_REPEAT_START; }

// A compiled instruction points inside the program or its tables.
const char* check_compiled_instruction(const CompileResult& r, const Instruction& ins) {
    if (ins.op >= OPCODE_COUNT) return "a compiled instruction has an unknown opcode";
    const bool variable = ins.op == OP_LOAD || ins.op == OP_STORE;
    if (variable && (ins.arg < 0 || ins.arg >= r.varCount)) return "a compiled LOAD or STORE names no variable";
    if (ins.op == OP_STORE && ins.arg < RESERVED_VARS) return "a compiled STORE writes a reserved variable";
    if (is_jump(ins.op) && (ins.arg < 0 || ins.arg >= r.codeCount)) return "a compiled jump leaves the program";
    if (ins.op == OP_CALL && (ins.arg < 0 || ins.arg >= BUILTIN_COUNT)) return "a compiled CALL has no built-in";
    return nullptr;
}

// A successful compile is a program the VM can run without a load error: every
// operand points inside the program or its tables, and it ends with HALT.
const char* check_compiled_code(const CompileResult& r) {
    if (r.phase != PHASE_NINGUNA || r.errorCount != 0) return "a successful compile has a phase or errors";
    if (r.codeCount < 1 || r.codeCount > MAX_CODE) return "a successful compile has no code or too much";
    if (r.code[r.codeCount - 1].op != OP_HALT) return "a compiled program does not end with HALT";
    if (r.varCount < RESERVED_VARS || r.varCount > MAX_VARS) return "a compiled program has a bad variable count";
    for (int32_t i = 0; i < r.varCount; i++) {
        if (!terminated(r.varNames[i], NAME_SIZE)) return "a variable name is not terminated";
        if ((r.varReadonly[i] != 0) != (i < RESERVED_VARS)) return "a read-only flag is on the wrong variable";
    }
    for (int32_t i = 0; i < r.codeCount; i++) {
        if (const char* problem = check_compiled_instruction(r, r.code[i])) return problem;
    }
    return nullptr;
}

// A failed compile names its phase, reports in it, and keeps code only from the code generator.
const char* check_failed_compile(const CompileResult& r) {
    if (r.phase < PHASE_LEXICO || r.phase > PHASE_CODIGO) return "a failed compile names no compiler phase";
    if (r.phase == PHASE_SINTACTICO && r.errorCount > 1) return "a failed parse reports more than one error";
    if (r.phase != PHASE_SINTACTICO && r.errorCount == 0) return "a failed compile reports no error";
    if (r.phase == PHASE_CODIGO && r.errorCount != 1) return "a failed code generation reports more than one error";
    if (r.phase != PHASE_CODIGO && (r.codeCount != 0 || r.disasm[0] != '\0')) {
        return "a compile that failed before code generation left code";
    }
    return nullptr;
}

const char* check_tokens(const CompilerContext& ctx) {
    if (ctx.tokenCount < 1 || ctx.tokenCount > MAX_TOKENS) return "tokenCount is out of range";
    if (ctx.tokens[ctx.tokenCount - 1].type != TOK_EOF) return "the token array does not end with EOF";
    for (int32_t i = 0; i < ctx.tokenCount; i++) {
        if (!terminated(ctx.tokens[i].lexeme, LEXEME_SIZE)) return "a lexeme is not terminated";
    }
    return nullptr;
}

const char* check_compile_records(int compiled, const CompileResult& r, const CompilerContext& ctx) {
    if (compiled != r.ok || (compiled != 0 && compiled != 1)) return "compile_source and ok disagree";
    if (r.errorCount < 0 || r.errorCount > MAX_DIAGNOSTICS) return "errorCount is out of range";
    for (int32_t i = 0; i < r.errorCount; i++) {
        if (const char* problem = check_diagnostic(r.errors[i])) return problem;
        if (r.errors[i].phase != r.phase) return "a diagnostic carries another phase than the failure";
    }
    if (!terminated(r.astText, AST_TEXT_CAPACITY)) return "the tree text is not terminated";
    if (!terminated(r.disasm, LISTING_CAPACITY)) return "the listing is not terminated";
    if (const char* problem = check_tokens(ctx)) return problem;
    return r.ok ? check_compiled_code(r) : check_failed_compile(r);
}

// Two records byte for byte, padding included: identical, not merely equal field by field.
bool same_bytes(const void* a, const void* b, std::size_t size) { return std::memcmp(a, b, size) == 0; }

const char* check_document(const char* text, const char* what) {
    if (!fuzzcheck::json_is_valid(text, std::strlen(text))) return what;
    return nullptr;
}

const char* check_vm_record(const Vm& vm) {
    if (vm.sp < 0 || vm.sp > MAX_STACK) return "sp is out of range";
    if (vm.loopDepth < 0 || vm.loopDepth > MAX_REPEAT) return "loopDepth is out of range";
    if (vm.wait < 0 || vm.wait > MAX_WAIT_TICKS) return "wait is out of range";
    if (vm.status < VM_LISTO || vm.status > VM_ERROR) return "the VM status is out of range";
    if (vm.codeCount < 0 || vm.codeCount > MAX_CODE) return "the VM codeCount is out of range";
    if (vm.varCount < 0 || vm.varCount > MAX_VARS) return "the VM varCount is out of range";
    for (int32_t i = 0; i < vm.loopDepth; i++) {
        const int32_t remaining = vm.repeatStack[i].remaining;
        if (remaining < 1 || remaining > MAX_REPEAT_PASSES) return "an active REPEAT frame has a bad count";
    }
    for (int32_t i = 0; i < vm.varCount; i++) {
        if (!terminated(vm.vars[i].name, NAME_SIZE)) return "a VM variable name is not terminated";
    }
    if (vm.hasError) {
        if (vm.error.phase != PHASE_EJECUCION) return "a run-time error has another phase";
        if (const char* problem = check_diagnostic(vm.error)) return problem;
    } else if (vm.status == VM_ERROR) {
        return "the VM is in error with no error recorded";
    }
    return nullptr;
}

const char* check_world_record(const World& w) {
    if (w.status < GAME_PLAYING || w.status > GAME_DEFEAT) return "the game status is out of range";
    if (w.level < MIN_LEVEL || w.level > MAX_LEVEL) return "the world level is out of range";
    if (w.enemiesAlive < 0 || w.enemiesAlive > MAX_ENEMIES) return "enemiesAlive is out of range";
    return nullptr;
}

// The frame of the finished run: checked whole, as its two halves and as a cut
// prefix, and copied into `into` for the replay comparison.
const char* check_frame(std::size_t smallCapacity, char* into) {
    frame_to_json(&machine, &world, into, FULL_DOCUMENT_CAPACITY);
    if (const char* problem = check_document(into, "the frame document is not valid JSON")) return problem;
    if (std::strlen(into) + 2 > FRAME_JSON_CAPACITY) return "the frame document does not fit the driver's buffer";

    vm_state_to_json(&machine, partDocument, sizeof partDocument);
    const std::size_t vmLength = std::strlen(partDocument);
    if (std::strncmp(into, "{\"vm\":", 6) != 0 || std::strncmp(into + 6, partDocument, vmLength) != 0) {
        return "the VM object differs from the frame's";
    }
    world_state_to_json(&world, partDocument, sizeof partDocument);
    const char* gameAt = into + 6 + vmLength;
    if (std::strncmp(gameAt, ",\"game\":", 8) != 0 ||
        std::strncmp(gameAt + 8, partDocument, std::strlen(partDocument)) != 0) {
        return "the game object differs from the frame's";
    }
    return check_cut_document(smallCapacity, into, [](char* buffer, std::size_t capacity) {
        frame_to_json(&machine, &world, buffer, capacity);
    });
}

// The VM's end state as match_tick leaves it when the match is over.
void judge_match_end() {
    if (world.status != GAME_PLAYING) machine.status = world.status == GAME_VICTORY ? VM_VICTORIA : VM_DERROTA;
}

// --- compile entry ---------------------------------------------------------

const char* compile_once(const uint8_t* data, std::size_t size, char* document) {
    take_source(data, size);
    const int compiled = compile_source(source, &result, &context);
    if (const char* problem = check_compile_records(compiled, result, context)) return problem;
    compile_result_to_json(&result, &context, document, FULL_DOCUMENT_CAPACITY);
    return check_document(document, "the compile result document is not valid JSON");
}

// --- match entry -----------------------------------------------------------

struct MatchSettings {
    uint32_t seed;
    int32_t level;
    int32_t ticks;
    const uint8_t* text;
    std::size_t textSize;
};

MatchSettings read_match_settings(const uint8_t* data, std::size_t size) {
    Reader r{data, size, 0};
    MatchSettings m{};
    m.seed = read_u32(r);
    m.level = read_s8(r);
    const int32_t span = MATCH_MAX_TICKS + MATCH_TICKS_BELOW_ZERO + 1;
    m.ticks = static_cast<int32_t>(read_u16(r) % span) - MATCH_TICKS_BELOW_ZERO;
    m.text = size > MATCH_HEADER_BYTES ? data + MATCH_HEADER_BYTES : data;
    m.textSize = size > MATCH_HEADER_BYTES ? size - MATCH_HEADER_BYTES : 0;
    return m;
}

// Compiles and plays one match; *playedOut is false when the program does not compile.
const char* play_match(const MatchSettings& m, bool* playedOut) {
    *playedOut = false;
    take_source(m.text, m.textSize);
    if (!compile_source(source, &result, &context)) return nullptr;
    match_start(result, m.level, m.seed, machine, world);
    match_play(machine, world, m.ticks, nullptr);
    *playedOut = true;
    if (const char* problem = check_vm_record(machine)) return problem;
    if (const char* problem = check_world_record(world)) return problem;
    if (world.status != GAME_PLAYING && machine.status != VM_VICTORIA && machine.status != VM_DERROTA) {
        return "the match ended but the VM was not told";
    }
    if (m.ticks <= 0 && (world.ticks != 0 || machine.ticks != 0)) return "a match of no ticks played some";
    return nullptr;
}

// --- VM entry --------------------------------------------------------------

struct VmSettings {
    uint32_t seed;
    int32_t level;
    int32_t ticks;
    int32_t budget;
    uint8_t mode;
};

uint8_t opcode_from_byte(uint8_t b) {
    return b < VM_FIRST_UNKNOWN_OPCODE_BYTE ? static_cast<uint8_t>(b % OPCODE_COUNT) : b;
}

// The bits of the opcode byte above the opcode (below 248 only): how arg and num are read.
uint8_t operand_mode(uint8_t b) {
    return b < VM_FIRST_UNKNOWN_OPCODE_BYTE ? static_cast<uint8_t>(b / OPCODE_COUNT) : uint8_t{0};
}

// One instruction of the input; its mode may bring arg into -1..count and num
// to a small whole number, so that loops, jumps and variables line up often.
void read_instruction(Reader& r, int32_t count, Instruction& ins) {
    const uint8_t b = read_u8(r);
    const uint8_t mode = operand_mode(b);
    ins.op = opcode_from_byte(b);
    const uint32_t rawArg = read_u32(r);
    ins.arg = static_cast<int32_t>(rawArg);
    if ((mode & VM_OPERAND_NEAR_ARG) != 0) {
        ins.arg = static_cast<int32_t>(rawArg % static_cast<uint32_t>(count + 2)) - 1;
    }
    ins.line = static_cast<int16_t>(read_u16(r));
    uint8_t bytes[sizeof(double)];
    for (uint8_t& byte : bytes) byte = read_u8(r);
    std::memcpy(&ins.num, bytes, sizeof bytes);
    if ((mode & VM_OPERAND_SMALL_NUM) != 0) ins.num = bytes[0] < 128 ? bytes[0] : bytes[0] - 256;
}

// Builds the hand-made compile result the VM loads: the reserved names first,
// then v6, v7, ...; the read-only flag on the reserved six.
VmSettings read_vm_input(const uint8_t* data, std::size_t size) {
    Reader r{data, size, 0};
    std::memset(&handMade, 0, sizeof handMade);
    handMade.ok = 1;
    handMade.varCount = read_u8(r) % (MAX_VARS + 1);
    for (int32_t i = 0; i < handMade.varCount; i++) {
        if (i < RESERVED_VARS) {
            std::strncpy(handMade.varNames[i], RESERVED_TABLE[i].name, NAME_SIZE - 1);
        } else {
            handMade.varNames[i][0] = 'v';
            handMade.varNames[i][1] = static_cast<char>('0' + i / 10);
            handMade.varNames[i][2] = static_cast<char>('0' + i % 10);
        }
        handMade.varReadonly[i] = i < RESERVED_VARS ? 1 : 0;
    }
    VmSettings s{};
    s.seed = read_u32(r);
    s.level = read_s8(r);
    s.ticks = read_u8(r);
    s.budget = read_s8(r);
    s.mode = read_u8(r);
    const std::size_t rest = size > VM_HEADER_BYTES ? size - VM_HEADER_BYTES : 0;
    std::size_t count = rest / VM_INSTRUCTION_BYTES;
    if (count > static_cast<std::size_t>(MAX_CODE)) count = MAX_CODE;
    handMade.codeCount = static_cast<int32_t>(count);
    for (std::size_t i = 0; i < count; i++) read_instruction(r, handMade.codeCount, handMade.code[i]);
    return s;
}

// The match module's tick loop, with the machine driven by vm_run or, in the
// step-waiting mode, by up to `budget` calls of vm_step_waiting per tick.
void run_vm(const VmSettings& s) {
    world_init(&world, s.level, s.seed);
    const VmHost host = world_host(&world);
    vm_load(&machine, &handMade, &host);
    vm_reset(&machine);
    sync_reserved(&machine, &world);
    const int32_t budget = s.budget > 0 ? s.budget : DEFAULT_BUDGET;
    for (int32_t t = 0; t < s.ticks && world.status == GAME_PLAYING; t++) {
        world_tick(&world);
        sync_reserved(&machine, &world);
        if (world.status == GAME_PLAYING) {
            if ((s.mode & VM_MODE_STEP_WAITING) != 0) {
                for (int32_t i = 0; i < budget; i++) {
                    const VmStatus st = vm_step_waiting(&machine);
                    if (st != VM_EJECUTANDO && st != VM_ESPERANDO) break;
                }
            } else {
                vm_run(&machine, s.budget);
            }
        }
        sync_reserved(&machine, &world);
        judge_match_end();
    }
    if ((s.mode & VM_MODE_EXTRA_STEPS) != 0) {
        for (int i = 0; i < VM_EXTRA_STEPS; i++) vm_step(&machine);
    }
}

}  // namespace

const char* fuzz_compile_input(const uint8_t* data, std::size_t size) {
    if (const char* problem = compile_once(data, size, firstDocument)) return problem;

    // The driver's buffer holds the same document, cut only if it is too long.
    compile_result_to_json(&result, &context, driverDocument, sizeof driverDocument);
    const std::size_t length = std::strlen(driverDocument);
    if (std::strncmp(driverDocument, firstDocument, length) != 0) return "the driver's document is not a prefix";
    if (std::strlen(firstDocument) + 2 <= sizeof driverDocument && firstDocument[length] != '\0') {
        return "a document that fits the driver's buffer was cut";
    }
    if (const char* problem = check_cut_document(
            small_capacity(data, size), firstDocument,
            [](char* buffer, std::size_t capacity) { compile_result_to_json(&result, &context, buffer, capacity); })) {
        return problem;
    }
    compile_result_to_json(&result, nullptr, fullDocument, FULL_DOCUMENT_CAPACITY);
    if (const char* problem = check_document(fullDocument, "the document without tokens is not valid JSON")) {
        return problem;
    }

    // The first compilation cleared only what the previous input used; a second
    // one of the same text into records cleared whole gives the same records,
    // byte for byte, and the same document.
    std::memcpy(&firstResult, &result, sizeof result);  // padding included
    std::memcpy(&firstContext, &context, sizeof context);
    compile_records_clear(&result, &context);
    if (const char* problem = compile_once(data, size, fullDocument)) return problem;
    if (std::strcmp(firstDocument, fullDocument) != 0) return "compiling the same text twice gave different results";
    if (!same_bytes(&firstResult, &result, sizeof result) || !same_bytes(&firstContext, &context, sizeof context)) {
        return "compiling into used records differs from compiling into cleared ones";
    }
    return nullptr;
}

const char* fuzz_match_input(const uint8_t* data, std::size_t size) {
    const MatchSettings m = read_match_settings(data, size);
    bool played = false;
    if (const char* problem = play_match(m, &played)) return problem;
    if (!played) return nullptr;
    if (const char* problem = check_frame(small_capacity(data, size), firstDocument)) return problem;

    // The same seed replays the same match.
    if (const char* problem = play_match(m, &played)) return problem;
    frame_to_json(&machine, &world, fullDocument, FULL_DOCUMENT_CAPACITY);
    if (std::strcmp(firstDocument, fullDocument) != 0) return "replaying a match gave a different frame";
    return nullptr;
}

// Loading into the machine the previous input ran leaves it byte for byte as
// loading into a machine cleared whole.
const char* check_load_into_used_machine() {
    const VmHost host = world_host(&world);
    vm_load(&machine, &handMade, &host);
    std::memcpy(&loadedMachine, &machine, sizeof machine);
    vm_clear(&machine);
    vm_load(&machine, &handMade, &host);
    if (!same_bytes(&loadedMachine, &machine, sizeof machine)) {
        return "loading into a used machine differs from loading into a cleared one";
    }
    return nullptr;
}

const char* fuzz_vm_input(const uint8_t* data, std::size_t size) {
    const VmSettings s = read_vm_input(data, size);
    if (const char* problem = check_load_into_used_machine()) return problem;
    run_vm(s);
    if (const char* problem = check_vm_record(machine)) return problem;
    if (const char* problem = check_world_record(world)) return problem;
    if (const char* problem = check_frame(small_capacity(data, size), firstDocument)) return problem;

    run_vm(s);
    frame_to_json(&machine, &world, fullDocument, FULL_DOCUMENT_CAPACITY);
    if (std::strcmp(firstDocument, fullDocument) != 0) return "rerunning the same code gave a different frame";
    return nullptr;
}

std::size_t encode_match_input(uint32_t seed, int8_t level, uint16_t ticksField, const char* text, uint8_t* out,
                               std::size_t capacity) {
    std::size_t at = 0;
    put_u32(out, capacity, at, seed);
    put_u8(out, capacity, at, static_cast<uint8_t>(level));
    put_u8(out, capacity, at, static_cast<uint8_t>(ticksField));
    put_u8(out, capacity, at, static_cast<uint8_t>(ticksField >> 8));
    put_bytes(out, capacity, at, text, std::strlen(text));
    return at < capacity ? at : capacity;
}

std::size_t encode_vm_input(const CompileResult& compiled, uint32_t seed, int8_t level, uint8_t ticks, uint8_t* out,
                            std::size_t capacity) {
    std::size_t at = 0;
    put_u8(out, capacity, at, static_cast<uint8_t>(compiled.varCount));
    put_u32(out, capacity, at, seed);
    put_u8(out, capacity, at, static_cast<uint8_t>(level));
    put_u8(out, capacity, at, ticks);
    put_u8(out, capacity, at, 0);  // the default budget
    put_u8(out, capacity, at, 0);  // driven by vm_run
    for (int32_t i = 0; i < compiled.codeCount && i < MAX_CODE; i++) {
        const Instruction& ins = compiled.code[i];
        put_u8(out, capacity, at, ins.op);
        put_u32(out, capacity, at, static_cast<uint32_t>(ins.arg));
        const auto line = static_cast<uint16_t>(ins.line);
        put_u8(out, capacity, at, static_cast<uint8_t>(line));
        put_u8(out, capacity, at, static_cast<uint8_t>(line >> 8));
        put_bytes(out, capacity, at, &ins.num, sizeof ins.num);
    }
    return at < capacity ? at : capacity;
}

}  // namespace prendax
