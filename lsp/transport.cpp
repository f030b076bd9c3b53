// Reading and writing framed messages on raw file descriptors, so that the
// server can see which frames are already waiting (for cancellation) and can
// drop an oversized body without holding it.
#include "lsp/transport.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "compiler/text.h"

namespace prendax::lsp {

namespace {

// Position of "content-length:" in a header line, any letter case, or npos.
std::size_t find_length_field(const std::string& line) {
    static constexpr const char* FIELD = "content-length:";
    static constexpr std::size_t FIELD_LEN = 15;
    for (std::size_t i = 0; i + FIELD_LEN <= line.size(); i++) {
        std::size_t k = 0;
        while (k < FIELD_LEN && fold_ascii(line[i + k]) == FIELD[k]) k++;
        if (k == FIELD_LEN) return i + FIELD_LEN;
    }
    return std::string::npos;
}

// The stated length, or -1 when the value is not a plain decimal number;
// anything beyond the cap reads as cap + 1.
long long parse_length(const std::string& line, std::size_t from) {
    std::size_t i = from;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
    if (i >= line.size() || line[i] < '0' || line[i] > '9') return -1;
    long long value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; i++) {
        if (value <= static_cast<long long>(MAX_MESSAGE_BYTES)) value = value * 10 + (line[i] - '0');
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) i++;
    if (i != line.size()) return -1;
    return value;
}

Frame problem(const std::string& why) { return Frame{Frame::PROBLEM, why}; }

}  // namespace

bool FrameReader::fill(bool wait) {
    if (eof_) return false;
    if (!wait) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return false;
    }
    char chunk[READ_CHUNK];
    for (;;) {
        const ssize_t got = read(fd_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            eof_ = true;
            return false;
        }
        std::size_t n = static_cast<std::size_t>(got);
        std::size_t from = 0;
        if (skip_ > 0) {
            from = n < skip_ ? n : skip_;
            skip_ -= from;
        }
        buf_.append(chunk + from, n - from);
        return true;
    }
}

Frame FrameReader::take() {
    if (skip_ > 0) return Frame{};
    const std::size_t end = buf_.find("\r\n\r\n");
    if (end == std::string::npos) {
        if (buf_.size() > MAX_HEADER_BYTES) {
            // Keep the last bytes: they may begin the end of the header block.
            buf_.erase(0, buf_.size() - 3);
            return problem("Cabecera demasiado larga: se descarta (máximo " + std::to_string(MAX_HEADER_BYTES) +
                           " bytes)");
        }
        return Frame{};
    }
    const std::string header = buf_.substr(0, end);
    long long length = -2;
    std::size_t lineStart = 0;
    while (lineStart <= header.size()) {
        std::size_t lineEnd = header.find("\r\n", lineStart);
        if (lineEnd == std::string::npos) lineEnd = header.size();
        const std::string line = header.substr(lineStart, lineEnd - lineStart);
        const std::size_t field = find_length_field(line);
        if (field != std::string::npos) length = parse_length(line, field);
        lineStart = lineEnd + 2;
    }
    if (length < 0) {
        buf_.erase(0, end + 4);
        return problem(length == -2 ? "Mensaje sin cabecera Content-Length" : "Content-Length no válido");
    }
    const auto body = static_cast<std::size_t>(length);
    if (body > MAX_MESSAGE_BYTES) {
        buf_.erase(0, end + 4);
        const std::size_t now = buf_.size() < body ? buf_.size() : body;
        buf_.erase(0, now);
        skip_ = body - now;
        return problem("El mensaje supera el tamaño máximo de " + std::to_string(MAX_MESSAGE_BYTES) + " bytes");
    }
    if (buf_.size() < end + 4 + body) return Frame{};
    Frame f{Frame::MESSAGE, buf_.substr(end + 4, body)};
    buf_.erase(0, end + 4 + body);
    return f;
}

Frame FrameReader::next() {
    for (;;) {
        Frame f = take();
        if (f.kind != Frame::NONE) return f;
        if (!fill(true)) return Frame{};
    }
}

Frame FrameReader::next_ready() {
    for (;;) {
        Frame f = take();
        if (f.kind != Frame::NONE) return f;
        if (!fill(false)) return Frame{};
    }
}

bool write_frame(int fd, const std::string& body) {
    const std::string data = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t put = write(fd, data.data() + done, data.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace prendax::lsp
