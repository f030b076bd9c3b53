// Requests and notifications of the Language Server Protocol 3.17 answered from
// the engine's compile. Bad input never ends the server: a message that cannot
// be read gets the protocol's error answer (or, for a notification, nothing)
// and the next message is read as usual.
#include "lsp/server.h"

#include <algorithm>

#include "lsp/format.h"
#include "lsp/help_text.h"

namespace prendax::lsp {

using nlohmann::json;

namespace {

// A request that cannot be answered, with its protocol error code.
struct RequestError {
    int code;
    std::string message;
};

constexpr const char* SERVER_NAME = "prendax_lsp";
constexpr const char* SERVER_VERSION = "1.0.0";

// Text the engine wrote byte for byte may hold a cut or stray UTF-8 sequence
// (an unrecognised byte is quoted in its message); it reaches the client as
// U+FFFD instead of breaking the message.
std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

const json& member(const json& object, const char* key) {
    if (!object.is_object() || !object.contains(key)) {
        throw RequestError{INVALID_PARAMS, std::string("Falta el campo '") + key + "'"};
    }
    return object.at(key);
}

std::string text_member(const json& object, const char* key) {
    const json& v = member(object, key);
    if (!v.is_string()) throw RequestError{INVALID_PARAMS, std::string("El campo '") + key + "' debe ser un texto"};
    return v.get<std::string>();
}

int64_t integer_member(const json& object, const char* key) {
    const json& v = member(object, key);
    if (!v.is_number()) throw RequestError{INVALID_PARAMS, std::string("El campo '") + key + "' debe ser un número"};
    const double d = v.get<double>();
    if (!(d >= 0)) return 0;
    if (d > 2147483647.0) return 2147483647;
    return static_cast<int64_t>(d);
}

std::string uri_of(const json& params) { return text_member(member(params, "textDocument"), "uri"); }

int phase_severity(Phase) { return 1; }  // every diagnostic stops the compilation: an error

int completion_kind(ItemKind kind) {
    switch (kind) {
        case ItemKind::Keyword: return 14;
        case ItemKind::Function: return 3;
        case ItemKind::Variable: return 6;
        case ItemKind::Constant: return 21;
        case ItemKind::Operator: return 24;
    }
    return 1;
}

}  // namespace

void Server::send(const json& message) { sink_(dump(message), context_); }

void Server::reply(const json& id, json result) {
    send(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void Server::fail(const json& id, int code, const std::string& message) {
    send(json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

void Server::notify(const char* method, json params) {
    send(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

void Server::problem(const std::string& why) { fail(nullptr, PARSE_ERROR, why); }

bool Server::parse(const std::string& body, json& out) {
    out = json::parse(body, nullptr, false);
    if (out.is_discarded()) {
        fail(nullptr, PARSE_ERROR, "El mensaje no es JSON válido");
        return false;
    }
    return true;
}

void Server::cancel(const json& id) {
    if (cancelled_.size() < 1024) cancelled_.push_back(id);
}

void Server::handle(const std::string& body) {
    json message;
    if (parse(body, message)) dispatch(message);
}

void Server::dispatch(const json& message) {
    const bool hasId = message.is_object() && message.contains("id") &&
                       (message["id"].is_string() || message["id"].is_number_integer());
    const json id = hasId ? message["id"] : json(nullptr);
    if (!message.is_object() || !message.contains("method") || !message["method"].is_string()) {
        // A response from the client (to nothing the server asked) is ignored.
        if (message.is_object() && message.contains("id") && (message.contains("result") || message.contains("error")))
            return;
        fail(id, INVALID_REQUEST, "Mensaje JSON-RPC no válido: falta 'method'");
        return;
    }
    const std::string method = message["method"].get<std::string>();
    const json params = message.contains("params") ? message["params"] : json::object();
    if (!hasId) {
        if (message.contains("id")) {
            fail(nullptr, INVALID_REQUEST, "El 'id' debe ser un número entero o un texto");
            return;
        }
        try {
            notification(method, params);
        } catch (const RequestError&) {
            // A notification that cannot be read is dropped: there is nobody to answer.
        } catch (const json::exception&) {}
        return;
    }
    const auto was = std::find(cancelled_.begin(), cancelled_.end(), id);
    if (was != cancelled_.end()) {
        cancelled_.erase(was);
        fail(id, REQUEST_CANCELLED, "Petición cancelada");
        return;
    }
    if (!initialized_ && method != "initialize") {
        fail(id, SERVER_NOT_INITIALIZED, "El servidor aún no ha recibido 'initialize'");
        return;
    }
    if (shutdown_) {
        fail(id, INVALID_REQUEST, "El servidor ya recibió 'shutdown'");
        return;
    }
    try {
        reply(id, request(method, params));
    } catch (const RequestError& e) {
        fail(id, e.code, e.message);
    } catch (const json::exception& e) {
        fail(id, INVALID_PARAMS, std::string("Parámetros no válidos: ") + e.what());
    }
}

json Server::request(const std::string& method, const json& params) {
    if (method == "initialize") {
        if (initialized_) throw RequestError{INVALID_REQUEST, "El servidor ya recibió 'initialize'"};
        return initialize(params);
    }
    if (method == "shutdown") {
        shutdown_ = true;
        return nullptr;
    }
    if (method == "textDocument/hover") return hover(params);
    if (method == "textDocument/completion") return completion(params);
    if (method == "textDocument/signatureHelp") return signature_help(params);
    if (method == "textDocument/definition") return definition(params);
    if (method == "textDocument/references") return references(params);
    if (method == "textDocument/prepareRename") return prepare_rename(params);
    if (method == "textDocument/rename") return rename(params);
    if (method == "textDocument/documentSymbol") return symbols(params);
    if (method == "textDocument/foldingRange") return folding(params);
    if (method == "textDocument/semanticTokens/full") return semantic(params);
    if (method == "textDocument/formatting") return formatting(params);
    if (method == "textDocument/codeAction") return code_actions(params);
    throw RequestError{METHOD_NOT_FOUND, "Método desconocido: " + method};
}

void Server::notification(const std::string& method, const json& params) {
    if (method == "exit") {
        exited_ = true;
        return;
    }
    if (!initialized_ || shutdown_) return;
    if (method == "textDocument/didOpen") {
        const json& doc = member(params, "textDocument");
        const std::string uri = text_member(doc, "uri");
        if (documents_.size() >= MAX_OPEN_DOCUMENTS && !documents_.contains(uri)) {
            notify("window/showMessage",
                   {{"type", 2},
                    {"message", "prendax_lsp: demasiados documentos abiertos (máximo " +
                                    std::to_string(MAX_OPEN_DOCUMENTS) + "); no se analiza " + uri}});
            return;
        }
        Document& d = documents_[uri];
        d.text = text_member(doc, "text");
        d.version = doc.contains("version") && doc["version"].is_number_integer() ? doc["version"].get<int64_t>() : 0;
        d.generation = ++generations_;
        dirty_.insert(uri);
    } else if (method == "textDocument/didChange") {
        const std::string uri = uri_of(params);
        auto it = documents_.find(uri);
        if (it == documents_.end()) return;
        const json& changes = member(params, "contentChanges");
        if (!changes.is_array() || changes.empty()) return;
        // Full synchronisation: the last change holds the whole text.
        it->second.text = text_member(changes.back(), "text");
        const json& doc = params["textDocument"];
        if (doc.contains("version") && doc["version"].is_number_integer()) {
            it->second.version = doc["version"].get<int64_t>();
        }
        it->second.generation = ++generations_;
        dirty_.insert(uri);
    } else if (method == "textDocument/didClose") {
        const std::string uri = uri_of(params);
        if (documents_.erase(uri) == 0) return;
        dirty_.erase(uri);
        if (analysedUri_ == uri) analysedUri_.clear();
        notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", json::array()}});
    } else if (method == "$/cancelRequest") {
        // Handled before the request is read, when both were waiting (see main).
    }
}

json Server::initialize(const json& params) {
    initialized_ = true;
    encoding_ = Encoding::Utf16;
    if (params.is_object() && params.contains("capabilities")) {
        const json& caps = params["capabilities"];
        if (caps.is_object() && caps.contains("general") && caps["general"].is_object() &&
            caps["general"].contains("positionEncodings") && caps["general"]["positionEncodings"].is_array()) {
            for (const json& e : caps["general"]["positionEncodings"]) {
                if (e == "utf-8") encoding_ = Encoding::Utf8;
            }
        }
    }
    json tokenTypes = json::array();
    for (const char* t : SEMANTIC_TYPE_NAMES) tokenTypes.push_back(t);
    json tokenModifiers = json::array();
    for (const char* m : SEMANTIC_MODIFIER_NAMES) tokenModifiers.push_back(m);
    json capabilities = {
        {"positionEncoding", encoding_ == Encoding::Utf8 ? "utf-8" : "utf-16"},
        {"textDocumentSync", {{"openClose", true}, {"change", 1}}},
        {"hoverProvider", true},
        {"completionProvider", {{"triggerCharacters", json::array()}, {"resolveProvider", false}}},
        {"signatureHelpProvider", {{"triggerCharacters", {"(", ","}}}},
        {"definitionProvider", true},
        {"referencesProvider", true},
        {"renameProvider", {{"prepareProvider", true}}},
        {"documentSymbolProvider", true},
        {"foldingRangeProvider", true},
        {"semanticTokensProvider",
         {{"legend", {{"tokenTypes", tokenTypes}, {"tokenModifiers", tokenModifiers}}}, {"full", true}}},
        {"documentFormattingProvider", true},
        {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
    };
    return {{"capabilities", capabilities}, {"serverInfo", {{"name", SERVER_NAME}, {"version", SERVER_VERSION}}}};
}

const Analysis& Server::analysis_of(const json& params) {
    const std::string uri = uri_of(params);
    auto it = documents_.find(uri);
    if (it == documents_.end()) throw RequestError{INVALID_PARAMS, "Documento no abierto: " + uri};
    if (analysedUri_ != uri || analysedGeneration_ != it->second.generation) {
        analyse(analysis_, it->second.text);
        analysedUri_ = uri;
        analysedGeneration_ = it->second.generation;
    }
    return analysis_;
}

void Server::publish(const std::string& uri) {
    const json params = {{"textDocument", {{"uri", uri}}}};
    const Analysis& a = analysis_of(params);
    json list = json::array();
    for (const DiagnosticItem& d : diagnostics(a)) list.push_back(diagnostic(a, d));
    notify("textDocument/publishDiagnostics",
           {{"uri", uri}, {"version", documents_[uri].version}, {"diagnostics", list}});
}

void Server::flush_diagnostics() {
    for (const std::string& uri : dirty_) {
        if (documents_.contains(uri)) publish(uri);
    }
    dirty_.clear();
}

json Server::position(const Analysis& a, int32_t line, int32_t byteCol) const {
    std::string_view text;
    if (line >= 0 && static_cast<std::size_t>(line) < a.lines.starts.size()) {
        text = std::string_view(a.text).substr(a.lines.starts[static_cast<std::size_t>(line)],
                                               line_length(a.lines, a.text, line));
    }
    return {{"line", line}, {"character", units_from_bytes(text, byteCol, encoding_)}};
}

json Server::range(const Analysis& a, const ByteRange& r) const {
    return {{"start", position(a, r.line, r.start)}, {"end", position(a, r.line, r.end)}};
}

void Server::cursor(const Analysis& a, const json& params, int32_t& line, int32_t& byteCol) const {
    const json& pos = member(params, "position");
    const int64_t l = integer_member(pos, "line");
    const int64_t c = integer_member(pos, "character");
    const auto lastLine = static_cast<int64_t>(a.lines.starts.size()) - 1;
    line = static_cast<int32_t>(std::min(l, lastLine));
    const std::string_view text = std::string_view(a.text).substr(a.lines.starts[static_cast<std::size_t>(line)],
                                                                  line_length(a.lines, a.text, line));
    byteCol = l > lastLine ? static_cast<int32_t>(text.size()) : bytes_from_units(text, c, encoding_);
}

int32_t Server::token_under(const Analysis& a, const json& params) const {
    int32_t line;
    int32_t col;
    cursor(a, params, line, col);
    return token_at(a, line, col);
}

json Server::diagnostic(const Analysis& a, const DiagnosticItem& d) const {
    json item = {{"range", range(a, d.range)},
                 {"severity", phase_severity(d.phase)},
                 {"source", phase_name(d.phase)},
                 {"message", d.message}};
    if (!d.suggestion.empty()) item["data"] = {{"suggestion", d.suggestion}};
    return item;
}

json Server::whole_document(const Analysis& a) const {
    const auto last = static_cast<int32_t>(a.lines.starts.size()) - 1;
    const auto end = static_cast<int32_t>(line_length(a.lines, a.text, last));
    return {{"start", {{"line", 0}, {"character", 0}}}, {"end", position(a, last, end)}};
}

json Server::hover(const json& params) {
    const Analysis& a = analysis_of(params);
    const int32_t t = token_under(a, params);
    const std::string text = hover_text(a, t);
    if (text.empty()) return nullptr;
    return {{"contents", {{"kind", "markdown"}, {"value", text}}}, {"range", range(a, token_range(a, t))}};
}

json Server::completion(const json& params) {
    const Analysis& a = analysis_of(params);
    int32_t line = 0;
    int32_t col = 0;
    cursor(a, params, line, col);
    json items = json::array();
    for (const CompletionEntry& e : completions(a, line, col)) {
        json item = {{"label", e.label},
                     {"kind", completion_kind(e.kind)},
                     {"detail", e.detail},
                     {"insertText", e.insertText},
                     {"insertTextFormat", 1}};
        if (!e.documentation.empty()) item["documentation"] = {{"kind", "markdown"}, {"value", e.documentation}};
        items.push_back(item);
    }
    return {{"isIncomplete", false}, {"items", items}};
}

json Server::signature_help(const json& params) {
    const Analysis& a = analysis_of(params);
    int32_t line = 0;
    int32_t col = 0;
    cursor(a, params, line, col);
    const SignatureInfo s = signature_at(a, line, col);
    if (s.builtin < 0) return nullptr;
    json parameters = json::array();
    const std::string label = builtin_signature(s.builtin);
    if (BUILTIN_TABLE[s.builtin].arity > 0) {
        parameters.push_back({{"label", BUILTIN_PARAMETER[s.builtin]}});
    }
    return {{"signatures",
             {{{"label", label}, {"documentation", builtin_description(s.builtin)}, {"parameters", parameters}}}},
            {"activeSignature", 0},
            {"activeParameter", s.activeParameter}};
}

json Server::definition(const json& params) {
    const Analysis& a = analysis_of(params);
    const int32_t t = token_under(a, params);
    if (!is_variable_token(a, t)) return nullptr;
    const int32_t def = first_set(a, a.ctx->tokens[t].lexeme);
    if (def < 0) return nullptr;
    return {{"uri", uri_of(params)}, {"range", range(a, token_range(a, def))}};
}

json Server::references(const json& params) {
    const Analysis& a = analysis_of(params);
    const int32_t t = token_under(a, params);
    json out = json::array();
    if (!is_variable_token(a, t)) return out;
    const char* name = a.ctx->tokens[t].lexeme;
    const int32_t def = first_set(a, name);
    bool withDeclaration = true;
    if (params.contains("context") && params["context"].is_object() &&
        params["context"].contains("includeDeclaration") && params["context"]["includeDeclaration"].is_boolean()) {
        withDeclaration = params["context"]["includeDeclaration"].get<bool>();
    }
    const std::string uri = uri_of(params);
    for (const int32_t i : variable_tokens(a, name)) {
        if (i == def && !withDeclaration) continue;
        out.push_back({{"uri", uri}, {"range", range(a, token_range(a, i))}});
    }
    return out;
}

json Server::prepare_rename(const json& params) {
    const Analysis& a = analysis_of(params);
    const int32_t t = token_under(a, params);
    const std::string why = rename_refusal(a, t);
    if (!why.empty()) throw RequestError{REQUEST_FAILED, why};
    return {{"range", range(a, token_range(a, t))}, {"placeholder", a.ctx->tokens[t].lexeme}};
}

json Server::rename(const json& params) {
    const Analysis& a = analysis_of(params);
    const int32_t t = token_under(a, params);
    std::string why = rename_refusal(a, t);
    if (!why.empty()) throw RequestError{REQUEST_FAILED, why};
    const std::string oldName = a.ctx->tokens[t].lexeme;
    const std::string newName = text_member(params, "newName");
    why = check_new_name(a, oldName, newName);
    if (!why.empty()) throw RequestError{REQUEST_FAILED, why};
    json edits = json::array();
    for (const int32_t i : variable_tokens(a, oldName.c_str())) {
        edits.push_back({{"range", range(a, token_range(a, i))}, {"newText", newName}});
    }
    return {{"changes", {{uri_of(params), edits}}}};
}

namespace {

// DocumentSymbol kinds: a variable, and a block as a namespace of its own.
constexpr int SYMBOL_VARIABLE = 13;
constexpr int SYMBOL_BLOCK = 3;

}  // namespace

json Server::symbols(const json& params) {
    const Analysis& a = analysis_of(params);
    // Nested blocks hold their children; a recursive lambda writes them.
    auto convert = [&](const Symbol& s, auto& self) -> json {
        json children = json::array();
        for (const Symbol& c : s.children) children.push_back(self(c, self));
        return {{"name", s.name},
                {"detail", s.detail},
                {"kind", s.isVariable ? SYMBOL_VARIABLE : SYMBOL_BLOCK},
                {"range", {{"start", position(a, s.firstLine, 0)}, {"end", position(a, s.lastLine, s.lastLineEnd)}}},
                {"selectionRange", range(a, s.selection)},
                {"children", children}};
    };
    json out = json::array();
    for (const Symbol& s : document_symbols(a)) out.push_back(convert(s, convert));
    return out;
}

json Server::folding(const json& params) {
    const Analysis& a = analysis_of(params);
    json out = json::array();
    for (const Fold& f : folding_ranges(a)) {
        json item = {{"startLine", f.startLine}, {"endLine", f.endLine}};
        if (f.comment) item["kind"] = "comment";
        out.push_back(item);
    }
    return out;
}

json Server::semantic(const json& params) {
    const Analysis& a = analysis_of(params);
    json data = json::array();
    int32_t prevLine = 0;
    int32_t prevStart = 0;
    for (const SemanticToken& t : semantic_tokens(a)) {
        const json start = position(a, t.range.line, t.range.start);
        const json end = position(a, t.range.line, t.range.end);
        const int32_t startChar = start["character"].get<int32_t>();
        const int32_t length = end["character"].get<int32_t>() - startChar;
        if (length <= 0) continue;
        data.push_back(t.range.line - prevLine);
        data.push_back(t.range.line == prevLine ? startChar - prevStart : startChar);
        data.push_back(length);
        data.push_back(t.type);
        data.push_back(t.modifiers);
        prevLine = t.range.line;
        prevStart = startChar;
    }
    return {{"data", data}};
}

json Server::formatting(const json& params) {
    const Analysis& a = analysis_of(params);
    std::string text;
    std::string why;
    if (!format_document(a, scratch_, text, why)) throw RequestError{REQUEST_FAILED, why};
    if (text == a.text) return json::array();
    return json::array({{{"range", whole_document(a)}, {"newText", text}}});
}

json Server::code_actions(const json& params) {
    const Analysis& a = analysis_of(params);
    const std::string uri = uri_of(params);
    const json& wanted = member(params, "range");
    const int64_t firstLine = integer_member(member(wanted, "start"), "line");
    const int64_t lastLine = integer_member(member(wanted, "end"), "line");
    json out = json::array();
    for (const DiagnosticItem& d : diagnostics(a)) {
        if (d.suggestion.empty() || d.range.line < firstLine || d.range.line > lastLine) continue;
        json edit = {{"changes", {{uri, {{{"range", range(a, d.range)}, {"newText", d.suggestion}}}}}}};
        out.push_back({{"title", "Cambiar por '" + d.suggestion + "'"},
                       {"kind", "quickfix"},
                       {"diagnostics", json::array({diagnostic(a, d)})},
                       {"isPreferred", true},
                       {"edit", edit}});
    }
    return out;
}

}  // namespace prendax::lsp
