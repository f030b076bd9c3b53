// The generated TextMate grammar, tokenised by vscode-textmate with the
// Oniguruma engine (the libraries VS Code itself uses), against the lexer's
// own tokens (prendax_cli --json) on every example robot and a few texts that
// probe the edges of names, numbers and operators.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync, writeFileSync, mkdtempSync } from 'node:fs';
import { createRequire } from 'node:module';
import { spawnSync } from 'node:child_process';
import { join } from 'node:path';
import { tmpdir } from 'node:os';
import vsctm from 'vscode-textmate';
import oniguruma from 'vscode-oniguruma';
import { CLI, ROOT } from './clients.mjs';

const require = createRequire(import.meta.url);
const GRAMMAR = process.env.PRENDAX_TEXTMATE;

// The scope each lexer token type must get (a prefix of the innermost scope).
const SCOPES = {
  NUMERO: 'constant.numeric.zkv',
  SUMA: 'keyword.operator.arithmetic.zkv', RESTA: 'keyword.operator.arithmetic.zkv',
  MULT: 'keyword.operator.arithmetic.zkv', DIV: 'keyword.operator.arithmetic.zkv',
  MOD: 'keyword.operator.arithmetic.zkv',
  MENOR: 'keyword.operator.comparison.zkv', MAYOR: 'keyword.operator.comparison.zkv',
  MENOR_IGUAL: 'keyword.operator.comparison.zkv', MAYOR_IGUAL: 'keyword.operator.comparison.zkv',
  IGUAL: 'keyword.operator.comparison.zkv', DISTINTO: 'keyword.operator.comparison.zkv',
  AND: 'keyword.operator.logical.zkv', OR: 'keyword.operator.logical.zkv', NOT: 'keyword.operator.logical.zkv',
  PAR_IZQ: 'punctuation.parenthesis.zkv', PAR_DER: 'punctuation.parenthesis.zkv',
  LLAVE_IZQ: 'punctuation.section.block.zkv', LLAVE_DER: 'punctuation.section.block.zkv',
  COMA: 'punctuation.separator.comma.zkv',
  IF: 'keyword.control.conditional.zkv', ELSE: 'keyword.control.conditional.zkv',
  UP: 'constant.language.direction.zkv', DOWN: 'constant.language.direction.zkv',
  LEFT: 'constant.language.direction.zkv', RIGHT: 'constant.language.direction.zkv',
  TRUE: 'constant.language.boolean.zkv', FALSE: 'constant.language.boolean.zkv',
};
for (const k of ['START', 'END', 'SET', 'MOVE', 'SHOOT', 'SHIELD', 'WAIT', 'REPEAT', 'WHILE']) {
  SCOPES[k] = 'keyword.control.zkv';
}
const RESERVED = new Set(['health', 'score', 'enemies_left', 'level', 'ticks']);
const BUILTINS = new Set(['enemy_ahead', 'enemy_left', 'enemy_right', 'random']);

async function loadGrammar() {
  const wasm = readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async (scope) =>
      scope === 'source.zkv' ? vsctm.parseRawGrammar(readFileSync(GRAMMAR, 'utf8'), GRAMMAR) : null,
  });
  return registry.loadGrammar('source.zkv');
}

function tokenise(grammar, text) {
  let stack = vsctm.INITIAL;
  return text.split('\n').map((line) => {
    const r = grammar.tokenizeLine(line, stack);
    stack = r.ruleStack;
    return r.tokens;
  });
}

function lexerTokens(path) {
  const run = spawnSync(CLI, ['--json', path], { encoding: 'utf8' });
  return JSON.parse(run.stdout).tokens.filter((t) => t.type !== 'EOF');
}

// The scope a lexer token must get, from its type and its neighbours.
function wanted(tokens, i) {
  const t = tokens[i];
  if (t.type !== 'IDENTIFICADOR') return SCOPES[t.type];
  const call = tokens[i + 1]?.type === 'PAR_IZQ' && tokens[i - 1]?.type !== 'SET';
  if (call) return BUILTINS.has(t.lexeme.toLowerCase()) ? 'support.function.builtin.zkv' : 'entity.name.function.zkv';
  return RESERVED.has(t.lexeme) ? 'variable.language.reserved.zkv' : 'variable.other.zkv';
}

// Every lexer token is one TextMate token of the wanted scope, and whatever
// lies between tokens is blank or a comment.
function compare(grammar, path) {
  const text = readFileSync(path, 'utf8');
  const lines = tokenise(grammar, text);
  const tokens = lexerTokens(path);
  assert.ok(tokens.length > 0, path);
  const covered = lines.map(() => []);
  tokens.forEach((t, i) => {
    const row = lines[t.line - 1];
    const start = t.col - 1;  // no accented letter precedes a token on its line in a valid program
    const tm = row.find((x) => x.startIndex === start);
    const source = text.split('\n')[t.line - 1];
    assert.ok(tm, `${path}:${t.line}:${t.col} ${t.type}: ningún token TextMate empieza ahí`);
    const scope = tm.scopes[tm.scopes.length - 1];
    assert.equal(scope, wanted(tokens, i), `${path}:${t.line}:${t.col} ${t.type} '${t.lexeme}'`);
    assert.equal(source.slice(tm.startIndex, tm.endIndex), t.lexeme, `${path}:${t.line}:${t.col} extensión`);
    covered[t.line - 1].push([tm.startIndex, tm.endIndex]);
  });
  lines.forEach((row, n) => {
    for (const x of row) {
      const inToken = covered[n].some(([s, e]) => s === x.startIndex && e === x.endIndex);
      const piece = text.split('\n')[n].slice(x.startIndex, x.endIndex);
      if (inToken || piece.trim() === '') continue;
      assert.equal(x.scopes[x.scopes.length - 1], 'comment.line.double-slash.zkv',
        `${path}:${n + 1}:${x.startIndex + 1} '${piece}' no es un token ni un comentario`);
    }
  });
  return tokens.length;
}

test('the TextMate grammar gives every lexer token its scope, on every example', async () => {
  const grammar = await loadGrammar();
  let count = 0;
  const dir = join(ROOT, 'examples');
  for (const f of readdirSync(dir).filter((name) => name.endsWith('.zkv'))) count += compare(grammar, join(dir, f));
  assert.ok(count > 400, `solo ${count} tokens`);
});

test('names, numbers and operators split where the lexer splits them', async () => {
  const grammar = await loadGrammar();
  const scratch = mkdtempSync(join(tmpdir(), 'prendax-tm-'));
  const texts = [
    'SET x 1.e5 SET y 1.2.3 SET z .5+2x',
    'SET ending 1 SET starter ending SET if2 starter SET _end 2',
    'IF !(x!=y) && NOT x || y<=2 OR y>=1 AND x==x { SHOOT }',
    'SET r Random (3) + ENEMY_AHEAD() + enemy_left ( ) - levels',
    'wait ticks % 3 * -score / 2 // comentario con if y 12',
    'While TRUE { Move Up MOVE down Shield } Else',
    'SET random 1 SET w random + 1',
  ];
  texts.forEach((text, i) => {
    const path = join(scratch, `caso${i}.zkv`);
    writeFileSync(path, text);
    compare(grammar, path);
  });
});

test('the guide\'s editor configuration names the server and this grammar', () => {
  const guide = readFileSync(join(ROOT, 'docs', 'guia.md'), 'utf8');
  const chapter = guide.slice(guide.search(/^## \d+\. Escribir robots en un editor/m));
  const blocks = [...chapter.matchAll(/^( *)```(lua|json|elisp|toml)[^\n]*\n([\s\S]*?)^ *```$/gm)]
    .map((m) => ({ lang: m[2], text: m[3].split('\n').map((l) => l.slice(m[1].length)).join('\n') }));
  assert.deepEqual(blocks.map((b) => b.lang), ['lua', 'lua', 'json', 'json', 'elisp', 'toml']);
  const grammar = JSON.parse(readFileSync(GRAMMAR, 'utf8'));
  const [extension, settings] = blocks.filter((b) => b.lang === 'json').map((b) => JSON.parse(b.text));
  assert.equal(extension.contributes.grammars[0].scopeName, grammar.scopeName);
  assert.equal(extension.contributes.grammars[0].path, './zkv.tmLanguage.json');
  assert.deepEqual(extension.contributes.languages[0].extensions, ['.zkv']);
  assert.equal(settings['glspc.server.command'], 'prendax_lsp');
  assert.deepEqual(settings['glspc.server.languageId'], [extension.contributes.languages[0].id]);
  for (const b of blocks.filter((x) => x.lang !== 'json')) assert.match(b.text, /prendax_lsp/, b.lang);
});
