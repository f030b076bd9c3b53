// Safe handling of files and streams for the front ends: comparing files by
// identity, escaping input for messages, checked standard output, warnings on
// programs read in part, and outputs replaced only when complete.
#include "frontend/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "compiler/limits.h"
#include "frontend/frontend.h"

namespace prendax {

namespace {

constexpr const char* MSG_SOURCE_CUT = "Aviso: %s ocupa %lld bytes: solo se juegan sus primeros %d\n";
constexpr const char* MSG_SOURCE_NUL = "Aviso: %s tiene un byte NUL en la posición %lld: el programa acaba ahí\n";
constexpr const char* TEMP_SUFFIX = ".tmp-XXXXXX";  // mkstemp fills the X

// Length of the valid UTF-8 sequence at text[i] (1 to 4), or 0 when none starts there.
std::size_t utf8_length(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    unsigned c = byte(i);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;  // bounds of the second byte; later ones are 0x80..0xBF
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;   // no overlong forms
        if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < n; k++) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return n;
}

void append_escaped(std::string& out, unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
}

mode_t creation_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool same_file(const char* a, const char* b) {
    namespace fs = std::filesystem;
    if (std::strcmp(a, b) == 0) return true;
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) return true;
    // Neither exists yet, or only one: compare the absolute paths they would take.
    std::error_code ea;
    std::error_code eb;
    fs::path pa = fs::absolute(a, ea);
    if (!ea) pa = fs::weakly_canonical(pa, ea);
    fs::path pb = fs::absolute(b, eb);
    if (!eb) pb = fs::weakly_canonical(pb, eb);
    return !ea && !eb && pa == pb;
}

std::string shown(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = utf8_length(text, i);
        // C0 controls, DEL, and the C1 controls U+0080..U+009F (0xC2 0x80..0x9F).
        bool control = c < 0x20 || c == 0x7F || (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (n == 0 || control) {
            std::size_t bytes = n == 0 ? 1 : n;
            for (std::size_t k = 0; k < bytes; k++) append_escaped(out, static_cast<unsigned char>(text[i + k]));
            i += bytes;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

int finish_stdout(int status) {
    bool ok = std::fflush(stdout) == 0;
    if (std::ferror(stdout)) ok = false;
    if (ok) return status;
    print_to(stderr, "%s", MSG_STDOUT_FAILED);
    return EXIT_BAD_INVOCATION;
}

void warn_source_notes(const char* path, const SourceNotes& notes) {
    std::string name = shown(path);
    if (notes.cut) print_to(stderr, MSG_SOURCE_CUT, name.c_str(), notes.size, MAX_SOURCE_BYTES);
    if (notes.nulAt >= 0) print_to(stderr, MSG_SOURCE_NUL, name.c_str(), notes.nulAt);
}

bool output_open(OutputFile& out, const char* path) {
    namespace fs = std::filesystem;
    out = OutputFile{};
    std::error_code ec;
    fs::path target = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) target = path;
    struct stat info {};
    bool exists = stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        // A device or a pipe cannot be replaced by a rename: write to it as it is.
        out.target = path;
        out.file = std::fopen(path, "wb");
        return out.file != nullptr;
    }
    out.target = target.string();
    std::string name = ".";
    name += target.filename().string();
    name += TEMP_SUFFIX;
    std::string temp = (target.parent_path() / name).string();
    int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    // The finished file keeps the mode of the one it replaces, or takes the usual one for a new file.
    if (fchmod(fd, exists ? (info.st_mode & 07777) : creation_mode()) != 0 ||
        (out.file = fdopen(fd, "wb")) == nullptr) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    out.temp = temp;
    return true;
}

bool output_failed(const OutputFile& out) { return out.file != nullptr && std::ferror(out.file) != 0; }

bool output_close(OutputFile& out) {
    if (out.file == nullptr) return true;
    bool ok = std::fflush(out.file) == 0 && std::ferror(out.file) == 0;
    ok = std::fclose(out.file) == 0 && ok;
    out.file = nullptr;
    return ok;
}

bool output_commit(OutputFile& out) {
    if (out.temp.empty()) return true;
    if (std::rename(out.temp.c_str(), out.target.c_str()) != 0) return false;
    out.temp.clear();
    return true;
}

void output_discard(OutputFile& out) {
    if (out.file != nullptr) {
        std::fclose(out.file);
        out.file = nullptr;
    }
    if (!out.temp.empty()) unlink(out.temp.c_str());
    out.temp.clear();
}

}  // namespace prendax
