// The diagnostic object shared by the compile result and the frame documents.
#include "json/diagnostic_json.h"

namespace prendax {

void json_diagnostic(JsonOut* out, const Diagnostic& diag) {
    json_append(out, "{\"phase\":");
    json_appendf(out, "%d", static_cast<int>(diag.phase));
    json_append(out, ",\"phaseName\":");
    json_string(out, phase_name(diag.phase));
    json_appendf(out, ",\"line\":%d,\"col\":%d,\"message\":", diag.line, diag.col);
    // The message field may come from a damaged record: never read past it.
    json_string_bounded(out, diag.message, sizeof diag.message);
    json_append(out, "}");
}

}  // namespace prendax
