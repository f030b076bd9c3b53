// The language server: JSON-RPC 2.0 requests and notifications of the
// Language Server Protocol, answered from the engine's compile of each open
// document. One compile is kept at a time, for the document last asked about.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsp/analysis.h"
#include "lsp/positions.h"

namespace prendax::lsp {

inline constexpr std::size_t MAX_OPEN_DOCUMENTS = 256;  // later openings are refused with a message

// JSON-RPC and protocol error codes.
enum ErrorCode : int {
    PARSE_ERROR = -32700,
    INVALID_REQUEST = -32600,
    METHOD_NOT_FOUND = -32601,
    INVALID_PARAMS = -32602,
    INTERNAL_ERROR = -32603,
    SERVER_NOT_INITIALIZED = -32002,
    REQUEST_FAILED = -32803,
    REQUEST_CANCELLED = -32800,
};

struct Document {
    std::string text;
    int64_t version = 0;
    uint64_t generation = 0;  // changes with every edit, to know a kept compile is current
};

class Server {
public:
    // Every message the server sends goes through `send` as a JSON text.
    using Sink = void (*)(const std::string& body, void* context);
    Server(Sink sink, void* context) : sink_(sink), context_(context) {}

    // Handles one message body. A PROBLEM frame comes in as `problem`.
    void handle(const std::string& body);
    void problem(const std::string& why);
    // Ids of requests to answer as cancelled, known before they are handled.
    void cancel(const nlohmann::json& id);
    // A parsed message, or a discarded value after answering a parse error.
    bool parse(const std::string& body, nlohmann::json& out);
    void dispatch(const nlohmann::json& message);
    // Diagnostics of the documents changed since the last call.
    void flush_diagnostics();

    [[nodiscard]] bool exited() const { return exited_; }
    [[nodiscard]] int exit_status() const { return shutdown_ ? 0 : 1; }

private:
    void send(const nlohmann::json& message);
    void reply(const nlohmann::json& id, nlohmann::json result);
    void fail(const nlohmann::json& id, int code, const std::string& message);
    void notify(const char* method, nlohmann::json params);

    nlohmann::json request(const std::string& method, const nlohmann::json& params);
    void notification(const std::string& method, const nlohmann::json& params);

    nlohmann::json initialize(const nlohmann::json& params);
    const Analysis& analysis_of(const nlohmann::json& params);
    void publish(const std::string& uri);

    // Conversions between the client's positions and source bytes.
    [[nodiscard]] nlohmann::json position(const Analysis& a, int32_t line, int32_t byteCol) const;
    [[nodiscard]] nlohmann::json range(const Analysis& a, const ByteRange& r) const;
    void cursor(const Analysis& a, const nlohmann::json& params, int32_t& line, int32_t& byteCol) const;
    [[nodiscard]] nlohmann::json whole_document(const Analysis& a) const;
    [[nodiscard]] int32_t token_under(const Analysis& a, const nlohmann::json& params) const;
    [[nodiscard]] nlohmann::json diagnostic(const Analysis& a, const DiagnosticItem& d) const;

    nlohmann::json hover(const nlohmann::json& params);
    nlohmann::json completion(const nlohmann::json& params);
    nlohmann::json signature_help(const nlohmann::json& params);
    nlohmann::json definition(const nlohmann::json& params);
    nlohmann::json references(const nlohmann::json& params);
    nlohmann::json prepare_rename(const nlohmann::json& params);
    nlohmann::json rename(const nlohmann::json& params);
    nlohmann::json symbols(const nlohmann::json& params);
    nlohmann::json folding(const nlohmann::json& params);
    nlohmann::json semantic(const nlohmann::json& params);
    nlohmann::json formatting(const nlohmann::json& params);
    nlohmann::json code_actions(const nlohmann::json& params);

    Sink sink_;
    void* context_;
    bool initialized_ = false;
    bool shutdown_ = false;
    bool exited_ = false;
    Encoding encoding_ = Encoding::Utf16;
    std::map<std::string, Document> documents_;
    std::set<std::string> dirty_;
    std::vector<nlohmann::json> cancelled_;
    uint64_t generations_ = 0;
    // The one kept compile and what it is of.
    Analysis analysis_;
    Analysis scratch_;  // the formatter's check of its own output
    std::string analysedUri_;
    uint64_t analysedGeneration_ = 0;
};

}  // namespace prendax::lsp
