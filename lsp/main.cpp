// prendax_lsp: the language server for ZKV on standard input and output.
// Frames that arrive together are read as one batch, so that a request
// cancelled while it was still waiting is answered as cancelled, and a
// document edited many times in a row is compiled for diagnostics once.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "lsp/server.h"
#include "lsp/transport.h"

namespace {

constexpr std::size_t MAX_BATCH = 256;  // frames read ahead of handling

struct Output {
    bool lost = false;  // the client closed its end
};

void write_out(const std::string& body, void* context) {
    auto* out = static_cast<Output*>(context);
    if (!out->lost && !prendax::lsp::write_frame(1, body)) out->lost = true;
}

void usage() {
    std::printf(
        "Uso: prendax_lsp\n"
        "Servidor de lenguaje (Language Server Protocol 3.17) para ZKV: habla JSON-RPC por la\n"
        "entrada y la salida estándar. Lo arranca el editor; ver el capítulo de editores de la guía.\n");
}

// -1 to go on serving, or the exit status for --help or an unknown option.
int read_options(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage();
            return 0;
        }
        if (std::strcmp(argv[i], "--stdio") != 0) {
            std::fprintf(stderr, "Opción desconocida: %s\n", argv[i]);
            return 2;
        }
    }
    return -1;
}

// The frames that arrive together: one waited for, then those already readable.
bool read_batch(prendax::lsp::FrameReader& reader, std::vector<prendax::lsp::Frame>& batch) {
    using prendax::lsp::Frame;
    Frame first = reader.next();
    if (first.kind == Frame::NONE) return false;
    batch.clear();
    batch.push_back(std::move(first));
    while (batch.size() < MAX_BATCH) {
        Frame more = reader.next_ready();
        if (more.kind == Frame::NONE) break;
        batch.push_back(std::move(more));
    }
    return true;
}

// The id a $/cancelRequest message names, or nullptr for any other message.
const nlohmann::json* cancelled_id(const nlohmann::json& m) {
    if (!m.is_object() || !m.contains("method") || m["method"] != "$/cancelRequest" || !m.contains("params")) {
        return nullptr;
    }
    const nlohmann::json& p = m["params"];
    if (!p.is_object() || !p.contains("id")) return nullptr;
    return &p["id"];
}

// A cancellation counts for a request of the same batch: it is still waiting.
void cancel_waiting(prendax::lsp::Server& server, const std::vector<nlohmann::json>& parsed) {
    for (const nlohmann::json& m : parsed) {
        const nlohmann::json* id = cancelled_id(m);
        if (id == nullptr) continue;
        const bool waiting = std::ranges::any_of(parsed, [id](const nlohmann::json& r) {
            return r.is_object() && r.contains("method") && r.contains("id") && r["id"] == *id;
        });
        if (waiting) server.cancel(*id);
    }
}

void handle_batch(prendax::lsp::Server& server, const std::vector<prendax::lsp::Frame>& batch,
                  const std::vector<nlohmann::json>& parsed) {
    using prendax::lsp::Frame;
    for (std::size_t i = 0; i < batch.size() && !server.exited(); i++) {
        if (batch[i].kind == Frame::PROBLEM) {
            server.problem(batch[i].text);
        } else if (parsed[i].is_discarded()) {
            server.handle(batch[i].text);
        } else {
            server.dispatch(parsed[i]);
        }
    }
    if (!server.exited()) server.flush_diagnostics();
}

int serve() {
    using namespace prendax::lsp;
    std::signal(SIGPIPE, SIG_IGN);
    Output output;
    Server server(write_out, &output);
    FrameReader reader(0);
    std::vector<Frame> batch;
    std::vector<nlohmann::json> parsed;
    while (!server.exited() && !output.lost) {
        if (!read_batch(reader, batch)) break;
        parsed.assign(batch.size(), nlohmann::json());
        for (std::size_t i = 0; i < batch.size(); i++) {
            if (batch[i].kind == Frame::MESSAGE) parsed[i] = nlohmann::json::parse(batch[i].text, nullptr, false);
        }
        cancel_waiting(server, parsed);
        handle_batch(server, batch, parsed);
    }
    return server.exit_status();
}

}  // namespace

int main(int argc, char** argv) {
    // Anything thrown past the server (memory exhausted above all) ends the
    // run with a message instead of an abort.
    try {
        const int status = read_options(argc, argv);
        if (status >= 0) return status;
        return serve();
    } catch (const std::bad_alloc&) {
        std::fputs("prendax_lsp: memoria agotada; el servidor se detiene.\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "prendax_lsp: error interno (%s); el servidor se detiene.\n", e.what());
    } catch (...) {
        std::fputs("prendax_lsp: error interno; el servidor se detiene.\n", stderr);
    }
    return 1;
}
