// The playground's C interface built natively, driven as the Node test drives
// the WebAssembly module: for each job read from standard input
//   PROGRAM.zkv LEVEL SEED TICKS EVERY
// it compiles the file's bytes, plays up to TICKS ticks and prints one line:
//   {"frames":[{...},...],"digests":["...",...],"lines":{...},"events":{...}}
// with the state digest and the frame document after set-up, after every
// EVERY-th tick and after the last tick played, then the per-line counts and
// the events of the match. A program that does not compile prints
// {"digests":[]}.
#include <cstdio>
#include <cstring>

#include "playground/prendax_api.h"

namespace {

void print_output(int32_t length) { std::fwrite(prendax_output(), 1, static_cast<std::size_t>(length), stdout); }

bool load(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    const std::size_t length =
        std::fread(prendax_source(), 1, static_cast<std::size_t>(prendax_source_capacity()), file);
    std::fclose(file);
    return prendax_compile(static_cast<int32_t>(length)) == 1;
}

// The checkpoints: set-up, every EVERY-th tick, the last tick played. The
// frames are printed as they come, the digests kept for after them.
constexpr int MAX_CHECKPOINTS = 4096;  // saturates: later digests are not printed
constexpr int DIGEST_SIZE = 20;
char digests[MAX_CHECKPOINTS][DIGEST_SIZE];
int checkpoint_count = 0;

void checkpoint() {
    std::printf("%s", checkpoint_count == 0 ? "" : ",");
    prendax_digest();
    if (checkpoint_count < MAX_CHECKPOINTS) {
        std::snprintf(digests[checkpoint_count], DIGEST_SIZE, "%s", prendax_output());
        checkpoint_count++;
    }
    print_output(prendax_frame_json());
}

void play(const char* path, int level, unsigned long seed, int ticks, int every) {
    if (!load(path) || prendax_start(level, static_cast<uint32_t>(seed)) != 1) {
        std::printf("{\"digests\":[]}\n");
        return;
    }
    checkpoint_count = 0;
    std::printf("{\"frames\":[");
    checkpoint();
    int played = 0;
    bool going = true;
    while (played < ticks && going) {
        going = prendax_tick() == 1;
        played++;
        if (played % every == 0 || played == ticks || !going) checkpoint();
    }
    std::printf("],\"digests\":[");
    for (int i = 0; i < checkpoint_count; i++) std::printf("%s\"%s\"", i == 0 ? "" : ",", digests[i]);
    std::printf("],\"lines\":");
    print_output(prendax_lines_json());
    std::printf(",\"events\":");
    print_output(prendax_events_json(0));
    std::printf("}\n");
}

}  // namespace

int main() {
    char path[4096];
    int level = 0;
    unsigned long seed = 0;
    int ticks = 0;
    int every = 0;
    while (std::scanf("%4095s %d %lu %d %d", path, &level, &seed, &ticks, &every) == 5) {
        play(path, level, seed, ticks, every < 1 ? 1 : every);
    }
    return 0;
}
