// The diagnostic object that both documents write: phase, its name, position
// and message.
#pragma once

#include "compiler/diagnostics.h"
#include "json/json_out.h"

namespace prendax {

// {"phase":P,"phaseName":"...","line":L,"col":C,"message":"..."}
void json_diagnostic(JsonOut* out, const Diagnostic& diag);

}  // namespace prendax
