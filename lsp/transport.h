// The base protocol: messages framed by a "Content-Length: N" header block
// ended by an empty line, read from a file descriptor. A frame that cannot be
// read (no or bad length, a length past the cap, an endless header) is
// reported as a problem and skipped; reading goes on with the next frame.
#pragma once

#include <cstddef>
#include <string>

namespace prendax::lsp {

inline constexpr std::size_t MAX_MESSAGE_BYTES = std::size_t{4} * 1024 * 1024;  // larger bodies are skipped unread
inline constexpr std::size_t MAX_HEADER_BYTES = 8192;                           // a longer header block is dropped
inline constexpr std::size_t READ_CHUNK = 65536;

struct Frame {
    enum Kind { NONE, MESSAGE, PROBLEM } kind = NONE;
    std::string text;  // the body of a MESSAGE, the Spanish reason of a PROBLEM
};

class FrameReader {
public:
    explicit FrameReader(int fd) : fd_(fd) {}
    // The next frame, blocking for input; NONE at the end of the input.
    Frame next();
    // A frame already buffered or readable without waiting, else NONE.
    Frame next_ready();

private:
    Frame take();          // one frame out of the buffer, NONE when incomplete
    bool fill(bool wait);  // reads once; false at the end of input or when nothing is ready

    int fd_;
    std::string buf_;
    std::size_t skip_ = 0;  // body bytes of an oversized message still to drop
    bool eof_ = false;
};

// Writes one framed message; false when the output is gone.
bool write_frame(int fd, const std::string& body);

}  // namespace prendax::lsp
