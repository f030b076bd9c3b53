// prendax_lsp: the language server for ZKV on standard input and output.
// Frames that arrive together are read as one batch, so that a request
// cancelled while it was still waiting is answered as cancelled, and a
// document edited many times in a row is compiled for diagnostics once.
#include <csignal>
#include <cstdio>
#include <cstring>
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

}  // namespace

int main(int argc, char** argv) {
    using namespace prendax::lsp;
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
    std::signal(SIGPIPE, SIG_IGN);
    Output output;
    Server server(write_out, &output);
    FrameReader reader(0);
    std::vector<Frame> batch;
    std::vector<nlohmann::json> parsed;
    while (!server.exited() && !output.lost) {
        Frame first = reader.next();
        if (first.kind == Frame::NONE) break;
        batch.clear();
        batch.push_back(std::move(first));
        while (batch.size() < MAX_BATCH) {
            Frame more = reader.next_ready();
            if (more.kind == Frame::NONE) break;
            batch.push_back(std::move(more));
        }
        parsed.assign(batch.size(), nlohmann::json());
        for (std::size_t i = 0; i < batch.size(); i++) {
            if (batch[i].kind == Frame::MESSAGE) parsed[i] = nlohmann::json::parse(batch[i].text, nullptr, false);
        }
        // A cancellation counts for a request of the same batch: it is still waiting.
        for (std::size_t i = 0; i < batch.size(); i++) {
            const nlohmann::json& m = parsed[i];
            if (!m.is_object() || !m.contains("method") || m["method"] != "$/cancelRequest" || !m.contains("params")) {
                continue;
            }
            const nlohmann::json& p = m["params"];
            if (!p.is_object() || !p.contains("id")) continue;
            for (std::size_t k = 0; k < batch.size(); k++) {
                if (parsed[k].is_object() && parsed[k].contains("method") && parsed[k].contains("id") &&
                    parsed[k]["id"] == p["id"]) {
                    server.cancel(p["id"]);
                    break;
                }
            }
        }
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
    return server.exit_status();
}
