// The option scan every tool shares, driven by a table of the tool's options.
// Options are compared exactly and case-sensitively; a value option takes the
// next argument whatever it looks like. "--help" and "-h" print the usage; any
// other argument that starts with "-" is an unknown option and ends the scan;
// the rest are operands, in order.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "compiler/sema.h"
#include "frontend/files.h"
#include "frontend/frontend.h"

namespace prendax {

enum ScanOutcome { SCAN_GO_ON, SCAN_EXIT_OK, SCAN_EXIT_BAD };

template <typename Options>
struct OptionRow {
    const char* name;
    bool takesValue;
    // What the option sets; `value` is null for an option without one. A value
    // the option refuses is reported here, and the scan ends with SCAN_EXIT_BAD.
    ScanOutcome (*apply)(Options& options, const char* value);
    // Printed with the usage when a value option comes last; null makes it an
    // unknown option there.
    const char* missingValue = nullptr;
};

// How a tool reports what the scan cannot place.
struct ScanRules {
    const char* usage;  // printed on standard output by --help and -h
    // An unknown option is shown with its control bytes and invalid UTF-8
    // escaped, and a long one close to a known one gets "¿Quiso decir '%s'?".
    bool helpful;
};

inline constexpr const char* MSG_UNKNOWN_OPTION_SUGGESTION = "Opción desconocida: %s. ¿Quiso decir '%s'?\n";

// A long option within two edits of a known long option (case folded, the
// compiler's rule for names) is named in the report.
template <typename Options, std::size_t N>
void report_unknown(const OptionRow<Options> (&table)[N], const ScanRules& rules, const char* arg) {
    if (!rules.helpful) {
        report_unknown_option(arg);
        return;
    }
    const char* names[N + 1];
    int count = 0;
    for (const OptionRow<Options>& row : table) {
        if (std::strncmp(row.name, "--", 2) == 0) names[count++] = row.name;
    }
    names[count++] = "--help";
    int close = std::strncmp(arg, "--", 2) == 0 ? closest_name(arg, names, count) : -1;
    // A value option with nothing after it is named as it stands.
    if (close >= 0 && std::strcmp(names[close], arg) == 0) close = -1;
    if (close < 0) {
        report_unknown_option(shown(arg).c_str());
    } else {
        print_to(stderr, MSG_UNKNOWN_OPTION_SUGGESTION, shown(arg).c_str(), names[close]);
    }
}

// --ticks, --seed and --level, read as prendax_cli reads them.
template <typename Options>
ScanOutcome read_ticks(Options& options, const char* value) {
    options.ticks = read_int_option(value);
    return SCAN_GO_ON;
}
template <typename Options>
ScanOutcome read_seed(Options& options, const char* value) {
    options.seed = read_seed_option(value);
    return SCAN_GO_ON;
}
template <typename Options>
ScanOutcome read_level(Options& options, const char* value) {
    options.level = read_int_option(value);
    return SCAN_GO_ON;
}

// The options record a member pointer belongs to.
template <typename Member>
struct MemberOf;
template <typename Options, typename Field>
struct MemberOf<Field Options::*> {
    using type = Options;
};

// An option without a value that turns its member on.
template <auto flag>
ScanOutcome set_flag(typename MemberOf<decltype(flag)>::type& options, const char* /*value*/) {
    options.*flag = true;
    return SCAN_GO_ON;
}

// A value option kept as it stands, such as a file's path.
template <auto field>
ScanOutcome read_path(typename MemberOf<decltype(field)>::type& options, const char* value) {
    options.*field = value;
    return SCAN_GO_ON;
}

// Scans argv[1..] into options; each operand goes to `operand`.
template <typename Options, std::size_t N>
ScanOutcome scan_options(int argc, char** argv, const OptionRow<Options> (&table)[N], const ScanRules& rules,
                         Options& options, void (*operand)(Options& options, const char* arg)) {
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        const OptionRow<Options>* row = nullptr;
        for (const OptionRow<Options>& candidate : table) {
            if (std::strcmp(arg, candidate.name) == 0) row = &candidate;
        }
        if (row != nullptr && row->takesValue && i + 1 >= argc && row->missingValue != nullptr) {
            print_to(stderr, row->missingValue, arg);
            print_to(stderr, "%s", rules.usage);
            return SCAN_EXIT_BAD;
        }
        if (row != nullptr && (!row->takesValue || i + 1 < argc)) {
            const ScanOutcome outcome = row->apply(options, row->takesValue ? argv[++i] : nullptr);
            if (outcome != SCAN_GO_ON) return outcome;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            print_out("%s", rules.usage);
            return SCAN_EXIT_OK;
        } else if (arg[0] == '-') {
            report_unknown(table, rules, arg);
            return SCAN_EXIT_BAD;
        } else {
            operand(options, arg);
        }
    }
    return SCAN_GO_ON;
}

}  // namespace prendax
