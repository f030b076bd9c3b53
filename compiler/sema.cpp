// Semantic checks: build the variable table (the six reserved variables, then
// every name assigned with SET in text order), resolve variable reads and
// built-in calls in the tree, and report every rule the program breaks. The
// code generator reads the resolved indices.
#include "compiler/sema.h"

#include <cstring>

#include "compiler/diagnostics.h"
#include "compiler/lexer.h"
#include "compiler/syntax_tree.h"
#include "compiler/text.h"

namespace prendax {

const char* builtin_name(int32_t index) { return table_name(BUILTIN_TABLE, index, "?"); }

// Levenshtein distance over the first 31 bytes of each text, ASCII case folded.
static int edit_distance(const char* a, const char* b) {
    constexpr int SIDE = SUGGEST_BYTES + 1;
    int d[SIDE][SIDE];
    const int la = static_cast<int>(bounded_length(a, SUGGEST_BYTES));
    const int lb = static_cast<int>(bounded_length(b, SUGGEST_BYTES));
    for (int i = 0; i <= la; i++) d[i][0] = i;
    for (int j = 0; j <= lb; j++) d[0][j] = j;
    for (int i = 1; i <= la; i++) {
        for (int j = 1; j <= lb; j++) {
            const int cost = fold_ascii(a[i - 1]) == fold_ascii(b[j - 1]) ? 0 : 1;
            int best = d[i - 1][j] + 1;
            if (d[i][j - 1] + 1 < best) best = d[i][j - 1] + 1;
            if (d[i - 1][j - 1] + cost < best) best = d[i - 1][j - 1] + cost;
            d[i][j] = best;
        }
    }
    return d[la][lb];
}

int closest_name(const char* name, const char* const* candidates, int count) {
    if (count <= 0 || candidates == nullptr) return -1;
    const char* target = name == nullptr ? "" : name;
    int bestDistance = SUGGEST_MAX_DISTANCE + 1;
    int bestIndex = -1;
    for (int i = 0; i < count; i++) {
        if (candidates[i] == nullptr) continue;
        const int distance = edit_distance(target, candidates[i]);
        // Strictly closer only, so the earliest candidate wins a tie.
        if (distance < bestDistance) {
            bestDistance = distance;
            bestIndex = i;
        }
    }
    return bestIndex;
}

// Index of the variable named exactly `name`, or -1.
static int find_variable(const CompilerContext* ctx, const char* name) {
    const int count = ctx->varCount < MAX_VARS ? ctx->varCount : MAX_VARS;
    for (int i = 0; i < count; i++) {
        if (std::strcmp(ctx->varNames[i], name) == 0) return i;
    }
    return -1;
}

// Appends a variable; -1 when the table is full.
static int add_variable(CompilerContext* ctx, const char* name, int32_t readonly) {
    if (ctx->varCount < 0 || ctx->varCount >= MAX_VARS) return -1;
    const int index = ctx->varCount++;
    copy_name(ctx->varNames[index], name);
    ctx->varReadonly[index] = readonly;
    return index;
}

// The target of a SET exists from this statement on: reserved names are
// refused, new names are appended while the table has room.
static int define_variable(CompilerContext* ctx, StmtNode* s) {
    int ok = 1;
    int index = find_variable(ctx, s->name);
    if (index >= 0) {
        if (ctx->varReadonly[index]) {
            add_diagnostic(ctx, PHASE_SEMANTICO, s->line, s->col,
                           "'%s' es una variable reservada y no se puede modificar", s->name);
            ok = 0;
        }
    } else {
        index = add_variable(ctx, s->name, 0);
        if (index < 0) {
            add_diagnostic(ctx, PHASE_SEMANTICO, 0, 0, "Demasiadas variables (máximo %d)", MAX_VARS);
            ok = 0;
        }
    }
    s->varSlot = index;
    return ok;
}

static int check_variable(CompilerContext* ctx, ExprNode* x) {
    const int index = find_variable(ctx, x->name);
    if (index >= 0) {
        x->varSlot = index;
        return 1;
    }
    const char* candidates[MAX_VARS];
    const int count = ctx->varCount < MAX_VARS ? ctx->varCount : MAX_VARS;
    for (int i = 0; i < count; i++) candidates[i] = ctx->varNames[i];
    const int close = closest_name(x->name, candidates, count);
    if (close >= 0) {
        add_diagnostic(ctx, PHASE_SEMANTICO, x->line, x->col, "Variable no definida '%s'. ¿Quiso decir '%s'?", x->name,
                       candidates[close]);
    } else {
        add_diagnostic(ctx, PHASE_SEMANTICO, x->line, x->col,
                       "Variable no definida '%s'. Usa SET para crearla antes de leerla.", x->name);
    }
    return 0;
}

// Built-in names match ignoring ASCII case; the arity must match exactly.
static int check_call(CompilerContext* ctx, ExprNode* x) {
    int index = -1;
    for (int i = 0; i < BUILTIN_COUNT; i++) {
        if (equals_ignore_case(x->name, BUILTIN_TABLE[i].name)) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        const char* candidates[BUILTIN_COUNT];
        for (int i = 0; i < BUILTIN_COUNT; i++) candidates[i] = BUILTIN_TABLE[i].name;
        const int close = closest_name(x->name, candidates, BUILTIN_COUNT);
        if (close >= 0) {
            add_diagnostic(ctx, PHASE_SEMANTICO, x->line, x->col, "Función desconocida '%s'. ¿Quiso decir '%s'?",
                           x->name, candidates[close]);
        } else {
            add_diagnostic(
                ctx, PHASE_SEMANTICO, x->line, x->col,
                "Función desconocida '%s'. Disponibles: enemy_ahead(), enemy_left(), enemy_right(), random(n)",
                x->name);
        }
        return 0;
    }
    const int32_t arity = BUILTIN_TABLE[index].arity;
    if (x->argCount != arity) {
        add_diagnostic(ctx, PHASE_SEMANTICO, x->line, x->col, "'%s' espera %d argumento%s y recibió %d", x->name, arity,
                       arity == 1 ? "" : "s", x->argCount);
        return 0;
    }
    if (x->left != nullptr && !check_expr(ctx, x->left)) return 0;
    x->funcIndex = index;
    return 1;
}

// A divisor written as the number 0 (or -0) is refused; any other divisor is
// left to the machine.
static int check_literal_divisor(CompilerContext* ctx, const ExprNode* x) {
    if (x->op != TOK_DIV && x->op != TOK_MOD) return 1;
    const ExprNode* divisor = x->right;
    if (divisor == nullptr || divisor->kind != EXPR_NUM || divisor->value != 0.0) return 1;
    add_diagnostic(ctx, PHASE_SEMANTICO, x->line, x->col, "División entre cero: el divisor es 0");
    return 0;
}

int check_expr(CompilerContext* ctx, ExprNode* node) {
    if (ctx == nullptr || node == nullptr) return 0;
    switch (node->kind) {
        case EXPR_NUM:
        case EXPR_BOOL: return 1;
        case EXPR_VAR: return check_variable(ctx, node);
        case EXPR_CALL: return check_call(ctx, node);
        case EXPR_UNARIO: return check_expr(ctx, node->left);
        case EXPR_BINARIO: {
            // Both operands are always examined, so all their problems are reported.
            const int left = check_expr(ctx, node->left);
            const int right = check_expr(ctx, node->right);
            const int divisor = check_literal_divisor(ctx, node);
            return left && right && divisor;
        }
    }
    add_diagnostic(ctx, PHASE_SEMANTICO, node->line, node->col, "Expresión no válida");
    return 0;
}

// Every part of a statement is examined even after an earlier part failed.
static int check_stmt(CompilerContext* ctx, StmtNode* s) {
    switch (s->kind) {
        case STMT_BLOQUE: return check_stmt_list(ctx, s->body);
        case STMT_START:
        case STMT_END:
        case STMT_MOVE:
        case STMT_SHOOT:
        case STMT_SHIELD: return 1;
        case STMT_SET: {
            const int defined = define_variable(ctx, s);
            const int value = check_expr(ctx, s->expr);
            return defined && value;
        }
        case STMT_WAIT:
        case STMT_REPEAT:
        case STMT_WHILE: {
            const int value = check_expr(ctx, s->expr);
            const int body = check_stmt_list(ctx, s->body);
            return value && body;
        }
        case STMT_IF: {
            const int condition = check_expr(ctx, s->expr);
            const int body = check_stmt_list(ctx, s->body);
            const int otherwise = check_stmt_list(ctx, s->elseBody);
            return condition && body && otherwise;
        }
    }
    add_diagnostic(ctx, PHASE_SEMANTICO, s->line, s->col, "Instrucción no válida");
    return 0;
}

int check_stmt_list(CompilerContext* ctx, StmtNode* first) {
    if (ctx == nullptr) return 0;
    int ok = 1;
    // Statements after an END are checked like all others.
    for (StmtNode* s = first; s != nullptr; s = s->next) {
        if (!check_stmt(ctx, s)) ok = 0;
    }
    return ok;
}

int sema_check(CompilerContext* ctx) {
    if (ctx == nullptr) return 0;
    ctx->varCount = 0;
    for (const ReservedRow& reserved : RESERVED_TABLE) add_variable(ctx, reserved.name, 1);
    if (ctx->root == nullptr) return 0;
    if (!check_stmt_list(ctx, ctx->root)) return 0;
    return ctx->diagCount == 0 ? 1 : 0;
}

}  // namespace prendax
