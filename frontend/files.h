// Files and streams as the front ends other than prendax_cli handle them: an
// output never replaces a file until it is complete, input repeated in a
// message is escaped, and standard output is checked before the exit status
// is given.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace prendax {

// Texts every front end prints alike.
inline constexpr const char* MSG_STDOUT_FAILED = "No se pudo escribir la salida estándar\n";
inline constexpr const char* MSG_OVER_SOURCE = "La salida %s es el propio programa: no se escribe encima\n";

// True when both paths name one file (through links too), whether or not it exists yet.
bool same_file(const char* a, const char* b);

// The text with every control byte, C1 control and byte that is not part of
// valid UTF-8 written as \xNN, so that a message repeating input cannot move
// the cursor or retitle the terminal.
std::string shown(std::string_view text);

// Flushes standard output. When any write to it failed, says so on standard
// error and gives EXIT_BAD_INVOCATION; otherwise gives status unchanged.
int finish_stdout(int status);

// What reading a robot program found besides its text.
struct SourceNotes {
    long long size = 0;    // the file's size in bytes
    bool cut = false;      // only the first MAX_SOURCE_BYTES bytes were read
    long long nulAt = -1;  // offset of the first NUL byte read (it ends the text), or -1
};

// read_source_file, also telling whether the text was cut or ended by a NUL.
char* read_source_file_noted(const char* path, SourceNotes& notes);
// Warns on standard error when the program was cut or ended early by a NUL.
void warn_source_notes(const char* path, const SourceNotes& notes);

// An output file written under a temporary name in the folder of its target
// and renamed onto it only when everything succeeded; the earlier file stays
// as it was until then. An output that exists and is not a regular file (a
// device, a pipe) is written in place.
struct OutputFile {
    std::string target;  // the file that is replaced in the end (a link is followed)
    std::string temp;    // the temporary name; empty when writing in place
    std::FILE* file = nullptr;
};

// Opens the output; false when it cannot be created.
bool output_open(OutputFile& out, const char* path);
// True when a write to the output has failed so far.
bool output_failed(const OutputFile& out);
// Flushes and closes the stream; false when any write failed.
bool output_close(OutputFile& out);
// Renames the closed temporary file onto the target; false when that fails.
bool output_commit(OutputFile& out);
// Closes and removes the temporary file; the target is left as it was.
void output_discard(OutputFile& out);

}  // namespace prendax
