/* The engine's operations behind a small C interface, for the WebAssembly
 * module and any other front end that reaches the engine through plain
 * functions. The module owns its records and two byte buffers: the caller
 * writes a program into the source buffer, and every function that writes a
 * document leaves it, NUL-terminated, in the output buffer and returns its
 * length. Nothing is allocated after start-up. */
#ifndef PRENDAX_API_H
#define PRENDAX_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The source buffer: prendax_source_capacity() bytes plus room for the terminator. */
char* prendax_source(void);
int32_t prendax_source_capacity(void);
/* The output buffer and its size; a document that does not fit is cut as prendax_cli cuts it. */
char* prendax_output(void);
int32_t prendax_output_capacity(void);

/* Compiles the first `length` bytes of the source buffer (at most the capacity;
 * a NUL byte ends the text earlier, as when prendax_cli reads a file). 1 when the
 * program compiled, 0 when it did not; either way the compile result is kept. */
int32_t prendax_compile(int32_t length);
/* The compile result document of the last compilation (prendax_cli --json). */
int32_t prendax_compile_json(void);
/* The bytecode listing of the last compilation, whole lines only. */
int32_t prendax_listing(void);

/* Starts a match of the last compiled program: the world from level and seed,
 * the program loaded and reset. 0, and nothing started, when it did not compile. */
int32_t prendax_start(int32_t level, uint32_t seed);
/* One tick of the match: 1 while it goes on, 0 once it has ended. */
int32_t prendax_tick(void);
/* Up to `ticks` ticks, stopping after the tick that ends the match; the
 * number played (prendax_cli --ticks N plays the same ticks). */
int32_t prendax_run(int32_t ticks);
/* One instruction of the program within the current tick: a waiting program
 * counts down one tick of its WAIT instead. The VM status after it. */
int32_t prendax_step(void);

/* The frame document (prendax_cli --frame), and its VM and game halves. */
int32_t prendax_frame_json(void);
int32_t prendax_vm_json(void);
int32_t prendax_world_json(void);
/* The game's facts that a page drawing a match reads: the field's size, the
 * start health, the flash ticks and the codes of statuses, enemy types and
 * explosion kinds (the replay page carries the same document). */
int32_t prendax_game_facts_json(void);

/* The instructions executed per source line: {"tick":T,"stopLine":L,"lines":
 * [[line,total,thisTick],...]}, the lines that ran in the match in ascending
 * order, each with its count over the whole match and its count since the
 * current tick began (instructions stepped by hand since count in it); stopLine
 * is the line where the tick's budget ran out, 0 when it did not. */
int32_t prendax_lines_json(void);
/* The match's events from index `from` on (0: all), shots left out:
 * {"count":N,"dropped":D,"from":F,"events":[[tick,"kind","cause",amount,
 * enemyType,points,line],...]}; count is the events kept so far, dropped those
 * past the history's capacity. A long list stops at whole entries: ask again
 * from the next index. */
int32_t prendax_events_json(int32_t from);
/* A digest of the exact state, 16 hexadecimal digits: every number of the
 * world and the VM enters by its bits, so two engines that give the same
 * digest tick after tick play the same match bit for bit. */
int32_t prendax_digest(void);

#ifdef __cplusplus
}
#endif

#endif
