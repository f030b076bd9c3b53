// Parser: recursive descent over the token array, building the syntax tree in
// the context's node pools. Only the first syntax error is reported; from then
// on every operation unwinds, and the root is stored with the statements
// completed before the error. One depth counter bounds block and expression
// nesting together at 64, so no input can exhaust the stack.
#include "compiler/parser.h"

#include <cstdio>
#include <cstring>

#include "compiler/diagnostics.h"

namespace prendax {

namespace {

// What the parser reads when the context holds no token at all.
constexpr Token NO_TOKEN = {TOK_EOF, 0, 0, 0.0, {}};

ExprNode* parse_unary(Parser* p);

void report_too_deep(Parser* p) {
    report_syntax_error(p, peek(p), "La expresión está anidada demasiado profundo (máximo %d)", MAX_DEPTH);
}

bool is_one_of(TokenType type, const TokenType* ops, int count) {
    for (int i = 0; i < count; i++) {
        if (ops[i] == type) return true;
    }
    return false;
}

// The shape shared by the six binary levels: operands from the next level
// down, operators of this level grouped left to right.
template <int N>
ExprNode* parse_binary_level(Parser* p, const TokenType (&ops)[N], ExprNode* (*operand)(Parser*)) {
    ExprNode* left = operand(p);
    if (left == nullptr) return nullptr;
    for (;;) {
        const Token* op = peek(p);
        if (!is_one_of(op->type, ops, N)) return left;
        advance(p);
        ExprNode* right = operand(p);
        if (right == nullptr) return nullptr;
        ExprNode* node = alloc_expr(p, EXPR_BINARIO, op->line, op->col);
        if (node == nullptr) return nullptr;
        node->op = op->type;
        node->left = left;
        node->right = right;
        left = node;
    }
}

// multiplicative -> unary { ( '*' | '/' | '%' ) unary }
ExprNode* parse_multiplicative(Parser* p) {
    static constexpr TokenType OPS[] = {TOK_MULT, TOK_DIV, TOK_MOD};
    return parse_binary_level(p, OPS, parse_unary);
}

// additive -> multiplicative { ( '+' | '-' ) multiplicative }
ExprNode* parse_additive(Parser* p) {
    static constexpr TokenType OPS[] = {TOK_SUMA, TOK_RESTA};
    return parse_binary_level(p, OPS, parse_multiplicative);
}

// comparison -> additive { ( '<' | '>' | '<=' | '>=' ) additive }
ExprNode* parse_comparison(Parser* p) {
    static constexpr TokenType OPS[] = {TOK_MENOR, TOK_MAYOR, TOK_MENOR_IGUAL, TOK_MAYOR_IGUAL};
    return parse_binary_level(p, OPS, parse_additive);
}

// equality -> comparison { ( '==' | '!=' ) comparison }
ExprNode* parse_equality(Parser* p) {
    static constexpr TokenType OPS[] = {TOK_IGUAL, TOK_DISTINTO};
    return parse_binary_level(p, OPS, parse_comparison);
}

// and -> equality { AND equality }
ExprNode* parse_and(Parser* p) {
    static constexpr TokenType OPS[] = {TOK_AND};
    return parse_binary_level(p, OPS, parse_equality);
}

// call -> IDENTIFICADOR '(' [ expr { ',' expr } ] ')'
// Entered with the name and the '(' consumed. Only the first argument is
// linked; every argument is counted so the arity check can reject the call.
ExprNode* parse_call(Parser* p, const Token* name) {
    ExprNode* call = alloc_expr(p, EXPR_CALL, name->line, name->col);
    if (call == nullptr) return nullptr;
    copy_name(call->name, name->lexeme);
    if (peek(p)->type != TOK_PAR_DER) {
        ExprNode* first = parse_expression(p);
        if (first == nullptr) return nullptr;
        call->left = first;
        call->argCount = 1;
        while (peek(p)->type == TOK_COMA) {
            advance(p);
            if (parse_expression(p) == nullptr) return nullptr;
            call->argCount++;
        }
    }
    if (expect(p, TOK_PAR_DER, "')'") == nullptr) return nullptr;
    return call;
}

// group -> '(' expr ')'
// Entered with the '(' consumed. An open parenthesis costs one more level.
ExprNode* parse_group(Parser* p) {
    p->depth++;
    if (p->depth > MAX_DEPTH) {
        report_too_deep(p);
        p->depth--;
        return nullptr;
    }
    ExprNode* inner = parse_expression(p);
    p->depth--;
    if (inner == nullptr) return nullptr;
    if (expect(p, TOK_PAR_DER, "')'") == nullptr) return nullptr;
    return inner;
}

// prefix -> ( '-' | NOT ) unary | NUMERO | TRUE | FALSE | IDENTIFICADOR | call | group
ExprNode* parse_prefix_or_primary(Parser* p) {
    const Token* t = peek(p);
    ExprNode* e = nullptr;
    switch (t->type) {
        case TOK_RESTA:
        case TOK_NOT: {
            advance(p);
            ExprNode* operand = parse_unary(p);
            if (operand == nullptr) return nullptr;
            e = alloc_expr(p, EXPR_UNARIO, t->line, t->col);
            if (e == nullptr) return nullptr;
            e->op = t->type;
            e->left = operand;
            return e;
        }
        case TOK_NUMERO:
            advance(p);
            e = alloc_expr(p, EXPR_NUM, t->line, t->col);
            if (e != nullptr) e->value = t->num;
            return e;
        case TOK_TRUE:
        case TOK_FALSE:
            advance(p);
            e = alloc_expr(p, EXPR_BOOL, t->line, t->col);
            if (e != nullptr) e->value = t->type == TOK_TRUE ? 1.0 : 0.0;
            return e;
        case TOK_IDENTIFICADOR:
            advance(p);
            if (peek(p)->type == TOK_PAR_IZQ) {
                advance(p);
                return parse_call(p, t);
            }
            e = alloc_expr(p, EXPR_VAR, t->line, t->col);
            if (e != nullptr) copy_name(e->name, t->lexeme);
            return e;
        case TOK_PAR_IZQ: advance(p); return parse_group(p);
        default:
            report_syntax_error(p, t, "Se esperaba un número, una variable, una llamada o '(' pero se encontró %s",
                                describe_token(p->ctx, t));
            return nullptr;
    }
}

// unary -> prefix, one nesting level for each prefix operator and primary
ExprNode* parse_unary(Parser* p) {
    p->depth++;
    ExprNode* e = nullptr;
    if (p->depth > MAX_DEPTH) {
        report_too_deep(p);
    } else {
        e = parse_prefix_or_primary(p);
    }
    p->depth--;
    return e;
}

// The end of a block's statement list while it is being parsed, so that each
// append is constant work (the tree itself keeps no link to the last statement).
struct ListEnd {
    StmtNode** next;
};

ListEnd list_end(StmtNode* block) { return ListEnd{&block->body}; }

// Appends a statement at the end of a block's list.
void append_statement(ListEnd& end, StmtNode* s) {
    *end.next = s;
    end.next = &s->next;
}

// The kind of a statement that is its keyword alone: START, END, SHOOT or SHIELD.
StmtKind simple_kind(TokenType type) {
    switch (type) {
        case TOK_START: return STMT_START;
        case TOK_END: return STMT_END;
        case TOK_SHOOT: return STMT_SHOOT;
        default: return STMT_SHIELD;
    }
}

// simple_stmt -> START | END | SHOOT | SHIELD
StmtNode* parse_simple(Parser* p, const Token* t) {
    advance(p);
    return alloc_stmt(p, simple_kind(t->type), t->line, t->col);
}

// set_stmt -> SET IDENTIFICADOR expr
StmtNode* parse_set(Parser* p, const Token* t) {
    advance(p);
    const Token* name = expect(p, TOK_IDENTIFICADOR, "el nombre de una variable");
    if (name == nullptr) return nullptr;
    ExprNode* value = parse_expression(p);
    if (value == nullptr) return nullptr;
    StmtNode* s = alloc_stmt(p, STMT_SET, t->line, t->col);
    if (s == nullptr) return nullptr;
    copy_name(s->name, name->lexeme);
    s->expr = value;
    return s;
}

// move_stmt -> MOVE ( UP | DOWN | LEFT | RIGHT )
StmtNode* parse_move(Parser* p, const Token* t) {
    advance(p);
    const Token* d = peek(p);
    if (d->type != TOK_UP && d->type != TOK_DOWN && d->type != TOK_LEFT && d->type != TOK_RIGHT) {
        report_syntax_error(p, d, "Se esperaba una dirección (UP, DOWN, LEFT o RIGHT) pero se encontró %s",
                            describe_token(p->ctx, d));
        return nullptr;
    }
    advance(p);
    StmtNode* s = alloc_stmt(p, STMT_MOVE, t->line, t->col);
    if (s == nullptr) return nullptr;
    s->dir = d->type - TOK_UP;
    return s;
}

// wait_stmt -> WAIT expr
StmtNode* parse_wait(Parser* p, const Token* t) {
    advance(p);
    ExprNode* ticks = parse_expression(p);
    if (ticks == nullptr) return nullptr;
    StmtNode* s = alloc_stmt(p, STMT_WAIT, t->line, t->col);
    if (s == nullptr) return nullptr;
    s->expr = ticks;
    return s;
}

// repeat_stmt -> REPEAT expr block
// while_stmt -> WHILE expr block
StmtNode* parse_loop(Parser* p, const Token* t, StmtKind kind) {
    advance(p);
    ExprNode* e = parse_expression(p);
    if (e == nullptr) return nullptr;
    StmtNode* body = parse_block(p);
    if (body == nullptr) return nullptr;
    StmtNode* s = alloc_stmt(p, kind, t->line, t->col);
    if (s == nullptr) return nullptr;
    s->expr = e;
    s->body = body;
    return s;
}

// if_stmt -> IF expr block [ ELSE block ]
// The IF node is taken before its ELSE block; when that block is missing the
// node stays unlinked.
StmtNode* parse_if(Parser* p, const Token* t) {
    advance(p);
    ExprNode* cond = parse_expression(p);
    if (cond == nullptr) return nullptr;
    StmtNode* body = parse_block(p);
    if (body == nullptr) return nullptr;
    StmtNode* s = alloc_stmt(p, STMT_IF, t->line, t->col);
    if (s == nullptr) return nullptr;
    s->expr = cond;
    s->body = body;
    if (peek(p)->type == TOK_ELSE) {
        advance(p);
        StmtNode* elseBody = parse_block(p);
        if (elseBody == nullptr) return nullptr;
        s->elseBody = elseBody;
    }
    return s;
}

}  // namespace

const Token* peek(Parser* p) {
    if (p == nullptr || p->ctx == nullptr) return &NO_TOKEN;
    int32_t count = p->ctx->tokenCount;
    if (count > MAX_TOKENS) count = MAX_TOKENS;
    if (count <= 0) {
        p->pos = 0;
        return &NO_TOKEN;
    }
    if (p->pos < 0) p->pos = 0;
    if (p->pos >= count) p->pos = count - 1;
    return &p->ctx->tokens[p->pos];
}

void advance(Parser* p) {
    if (peek(p)->type != TOK_EOF) p->pos++;
}

const Token* expect(Parser* p, TokenType type, const char* what) {
    const Token* t = peek(p);
    if (t->type == type) {
        advance(p);
        return t;
    }
    report_syntax_error(p, t, "Se esperaba %s pero se encontró %s", what, describe_token(p->ctx, t));
    return nullptr;
}

const char* describe_token(CompilerContext* ctx, const Token* t) {
    if (t == nullptr || t->type == TOK_EOF) return "el fin del archivo";
    const int32_t slot = ctx->nextDescription == 0 ? 0 : 1;
    char* buf = ctx->tokenDescriptions[slot];
    ctx->nextDescription = 1 - slot;
    // The whole lexeme fits between the quotes.
    static_assert(sizeof t->lexeme + 3 <= DESCRIBE_SIZE);
    const std::size_t n = strnlen(t->lexeme, sizeof t->lexeme);
    buf[0] = '\'';
    std::memcpy(buf + 1, t->lexeme, n);
    buf[n + 1] = '\'';
    buf[n + 2] = '\0';
    return buf;
}

// expr -> and { OR and }
ExprNode* parse_expression(Parser* p) {
    static constexpr TokenType OPS[] = {TOK_OR};
    return parse_binary_level(p, OPS, parse_and);
}

// statement -> simple_stmt | set_stmt | move_stmt | wait_stmt | repeat_stmt | while_stmt | if_stmt
StmtNode* parse_statement(Parser* p) {
    const Token* t = peek(p);
    switch (t->type) {
        case TOK_START:
        case TOK_END:
        case TOK_SHOOT:
        case TOK_SHIELD: return parse_simple(p, t);
        case TOK_SET: return parse_set(p, t);
        case TOK_MOVE: return parse_move(p, t);
        case TOK_WAIT: return parse_wait(p, t);
        case TOK_REPEAT: return parse_loop(p, t, STMT_REPEAT);
        case TOK_WHILE: return parse_loop(p, t, STMT_WHILE);
        case TOK_IF: return parse_if(p, t);
        default:
            report_syntax_error(p, t,
                                "Se esperaba una instrucción (SET, MOVE, SHOOT, SHIELD, WAIT, REPEAT, WHILE, IF) pero "
                                "se encontró %s",
                                describe_token(p->ctx, t));
            return nullptr;
    }
}

// block -> '{' { statement } '}'
// Once its node exists the block is always yielded, after an error with the
// statements appended so far.
StmtNode* parse_block(Parser* p) {
    const Token* t = peek(p);
    if (expect(p, TOK_LLAVE_IZQ, "'{'") == nullptr) return nullptr;
    StmtNode* block = alloc_stmt(p, STMT_BLOQUE, t->line, t->col);
    if (block == nullptr) return nullptr;
    p->depth++;
    if (p->depth > MAX_DEPTH) {
        report_syntax_error(p, peek(p), "Los bloques están anidados demasiado profundo (máximo %d)", MAX_DEPTH);
        p->depth--;
        return block;
    }
    ListEnd end = list_end(block);
    for (;;) {
        TokenType c = peek(p)->type;
        if (c == TOK_LLAVE_DER || c == TOK_EOF) break;
        if (p->hadError) {
            p->depth--;
            return block;
        }
        StmtNode* s = parse_statement(p);
        if (s == nullptr) break;
        append_statement(end, s);
    }
    p->depth--;
    // Consumes the '}', or reports that the text ended inside the block.
    if (!p->hadError) expect(p, TOK_LLAVE_DER, "'}'");
    return block;
}

// program -> { statement } EOF
StmtNode* parse_program(CompilerContext* ctx) {
    if (ctx == nullptr || ctx->tokenCount <= 0) return nullptr;
    Parser p{ctx, 0, 0, 0};
    const Token& first = ctx->tokens[0];
    StmtNode* root = alloc_stmt(&p, STMT_BLOQUE, first.line, first.col);
    if (root == nullptr) return nullptr;
    ListEnd end = list_end(root);
    for (;;) {
        if (peek(&p)->type == TOK_EOF || p.hadError) break;
        StmtNode* s = parse_statement(&p);
        if (s == nullptr) break;
        append_statement(end, s);
    }
    // Stored after an error too: the tree then holds what was completed.
    ctx->root = root;
    return root;
}

}  // namespace prendax
