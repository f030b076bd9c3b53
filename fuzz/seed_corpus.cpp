// Writes the starting corpora of the three fuzz targets from robot programs:
//   seed_corpus OUTPUT_DIR program.zkv...
// OUTPUT_DIR/compile gets each program as it is; OUTPUT_DIR/match gets it behind
// a few seed, level and tick headers; OUTPUT_DIR/vm gets the compiled
// instructions of each program that compiles. File names come from the
// program's folder and name, so a rerun overwrites rather than duplicates.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "compiler/pipeline.h"
#include "fuzz/fuzz_entries.h"

namespace {

namespace fs = std::filesystem;
using prendax::CompilerContext;
using prendax::CompileResult;

CompilerContext context;
CompileResult result;

struct MatchSeed {
    uint32_t seed;
    int8_t level;
    uint16_t ticksField;  // read mod 411, less 10: 310 gives 300 ticks
};

constexpr MatchSeed MATCH_SEEDS[] = {{12345, 1, 310}, {7, 2, 250}, {0, 3, 410}};
constexpr uint8_t VM_TICKS = 200;

bool read_file(const fs::path& path, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char chunk[4096];
    std::size_t n = 0;
    out.clear();
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool write_file(const fs::path& path, const uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// "tests/golden/compile_syntax_error/robot.zkv" becomes "compile_syntax_error-robot".
std::string seed_name(const fs::path& program) {
    return program.parent_path().filename().string() + "-" + program.stem().string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR program.zkv...\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* target : {"compile", "match", "vm"}) fs::create_directories(out / target);

    std::vector<uint8_t> bytes(prendax::FUZZ_SOURCE_LIMIT + prendax::MATCH_HEADER_BYTES + prendax::VM_HEADER_BYTES +
                               prendax::MAX_CODE * prendax::VM_INSTRUCTION_BYTES);
    int written = 0;
    for (int i = 2; i < argc; i++) {
        const fs::path program = argv[i];
        std::string text;
        if (!read_file(program, text)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        text = text.substr(0, text.find('\0'));
        const std::string name = seed_name(program);
        bool ok = write_file(out / "compile" / name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        for (const MatchSeed& m : MATCH_SEEDS) {
            const std::size_t n =
                prendax::encode_match_input(m.seed, m.level, m.ticksField, text.c_str(), bytes.data(), bytes.size());
            ok = ok && write_file(out / "match" / (name + "-s" + std::to_string(m.seed)), bytes.data(), n);
        }
        written += 1 + static_cast<int>(std::size(MATCH_SEEDS));
        if (prendax::compile_source(text.c_str(), &result, &context)) {
            const std::size_t n = prendax::encode_vm_input(result, 12345, 1, VM_TICKS, bytes.data(), bytes.size());
            ok = ok && write_file(out / "vm" / name, bytes.data(), n);
            written++;
        }
        if (!ok) {
            std::fprintf(stderr, "cannot write the seeds of %s\n", argv[i]);
            return 1;
        }
    }
    std::printf("%d seed inputs written to %s\n", written, out.c_str());
    return 0;
}
