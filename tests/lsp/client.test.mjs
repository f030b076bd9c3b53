// prendax_lsp through a scripted client: diagnostics against prendax_cli's,
// positions in UTF-16 and UTF-8, semantic tokens, malformed input of every
// kind, cancellation, a long run of edits, and the exit statuses.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync, writeFileSync, mkdtempSync } from 'node:fs';
import { join } from 'node:path';
import { tmpdir } from 'node:os';
import { ROOT, startClient, startRaw, frame, exited, cliDiagnostics, stopAll } from './clients.mjs';

// A failed check must not leave a server running, or the test would never end.
after(stopAll);

const scratch = mkdtempSync(join(tmpdir(), 'prendax-lsp-'));

// Programs that fail in each phase, beside the example robots that compile.
const BROKEN = {
  'lexico.zkv': 'SET x = 1 // ñandú\nSET s "canción" é\n',
  'sintactico.zkv': 'WHILE x { MOVE }\n',
  'semantico.zkv': 'SET health 5\nWAIT scroe\nIF enemy_ahed() { SHOOT }\nSET a 10 / 0\n',
  'cadena.zkv': 'SET x 1 SET y "ñ" + x\n',
};

test('diagnostics are exactly prendax_cli\'s, phase as source, in byte columns under UTF-8', async () => {
  const client = await startClient({ encodings: ['utf-8', 'utf-16'] });
  assert.equal(client.init.capabilities.positionEncoding, 'utf-8');
  const files = readdirSync(join(ROOT, 'examples')).filter((f) => f.endsWith('.zkv'))
    .map((f) => join(ROOT, 'examples', f));
  for (const [name, text] of Object.entries(BROKEN)) {
    writeFileSync(join(scratch, name), text);
    files.push(join(scratch, name));
  }
  let failing = 0;
  for (const path of files) {
    const uri = `file://${path}`;
    client.open(uri, readFileSync(path, 'utf8'));
    const got = (await client.diagnosticsOf(uri)).map((d) =>
      [d.source, d.range.start.line + 1, d.range.start.character + 1, d.message]);
    const want = cliDiagnostics(path);
    assert.deepEqual(got, want, path);
    if (want.length > 0) failing++;
  }
  assert.equal(failing, Object.keys(BROKEN).length);
  assert.equal(await client.close(), 0);
});

test('UTF-16 columns count accented letters and astral characters as the client does', async () => {
  const text = '// ¿qué tal? 😀\nSET s "ñandú😀" é\nSET x 1 // año 😀 fin\n';
  const lengths = {};
  for (const encodings of [undefined, ['utf-8']]) {
    const client = await startClient({ encodings });
    const utf8 = client.init.capabilities.positionEncoding === 'utf-8';
    assert.equal(client.init.capabilities.positionEncoding, utf8 ? 'utf-8' : 'utf-16');
    client.open('file:///u.zkv', text);
    const diags = await client.diagnosticsOf('file:///u.zkv');
    // The string, then the two bytes of é: both cover the whole letter.
    assert.deepEqual(diags.map((d) => [d.range.start.character, d.range.end.character]),
      utf8 ? [[6, 19], [20, 22], [21, 22]] : [[6, 15], [16, 17], [16, 17]]);
    assert.match(diags[1].message, /^Carácter no reconocido '\uFFFD'$/);
    // The comment of line 3 in semantic tokens: start and length in the client's units.
    const legend = client.init.capabilities.semanticTokensProvider.legend.tokenTypes;
    client.change('file:///u.zkv', text.replace('SET s "ñandú😀" é\n', ''));
    await client.diagnosticsOf('file:///u.zkv');
    const { data } = await client.request('textDocument/semanticTokens/full', { textDocument: { uri: 'file:///u.zkv' } });
    const tokens = [];
    let line = 0; let start = 0;
    for (let i = 0; i < data.length; i += 5) {
      line += data[i];
      start = data[i] === 0 ? start + data[i + 1] : data[i + 1];
      tokens.push({ line, start, length: data[i + 2], type: legend[data[i + 3]], modifiers: data[i + 4] });
    }
    lengths[utf8 ? 'utf8' : 'utf16'] = tokens;
    assert.deepEqual(tokens.map((t) => t.type), ['comment', 'keyword', 'variable', 'number', 'comment']);
    assert.equal(tokens[2].modifiers, 4);  // declaration
    const hover = await client.request('textDocument/hover',
      { textDocument: { uri: 'file:///u.zkv' }, position: { line: 1, character: 4 } });
    assert.match(hover.contents.value, /^Variable `x`, creada en la línea 2/);
    assert.equal(await client.close(), 0);
  }
  // "// ¿qué tal? 😀": 19 bytes, 15 UTF-16 units; "// año 😀 fin": 16 bytes, 13 units.
  assert.deepEqual([lengths.utf8[0].length, lengths.utf16[0].length], [19, 15]);
  assert.deepEqual([lengths.utf8[4].start, lengths.utf8[4].length], [8, 16]);
  assert.deepEqual([lengths.utf16[4].start, lengths.utf16[4].length], [8, 13]);
});

test('malformed frames, bad JSON and unknown methods get error answers and the server goes on', async () => {
  const raw = startRaw();
  let id = 0;
  // Requests before initialize are refused.
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'textDocument/hover', params: {} });
  assert.equal((await raw.answer(id)).error.code, -32002);
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'initialize', params: { capabilities: {} } });
  assert.ok((await raw.answer(id)).result.capabilities);
  const alive = async () => {
    raw.send({ jsonrpc: '2.0', id: ++id, method: 'textDocument/foldingRange',
      params: { textDocument: { uri: 'file:///vivo.zkv' } } });
    return raw.answer(id);
  };
  raw.send({ jsonrpc: '2.0', method: 'textDocument/didOpen',
    params: { textDocument: { uri: 'file:///vivo.zkv', version: 1, text: 'WHILE 1 {\nSHOOT\nWAIT 1\n}' } } });
  assert.deepEqual((await alive()).result, [{ startLine: 0, endLine: 2 }]);

  const nullAnswer = () => raw.take((m) => m.id === null && m.error);
  const bad = [
    ['sin Content-Length', Buffer.from('Content-Type: x\r\n\r\n'), 'Mensaje sin cabecera Content-Length'],
    ['longitud no numérica', Buffer.from('Content-Length: doce\r\n\r\n'), 'Content-Length no válido'],
    ['JSON roto', frame('{"jsonrpc": "2.0", "id": '), 'El mensaje no es JSON válido'],
    ['bytes que no son UTF-8', frame(Buffer.from([0x7b, 0xff, 0xfe, 0x00, 0x7d])), 'El mensaje no es JSON válido'],
    ['texto con UTF-8 roto', frame(Buffer.concat([Buffer.from('{"jsonrpc":"2.0","method":"x","params":"'),
      Buffer.from([0xc3]), Buffer.from('"}')])), 'El mensaje no es JSON válido'],
  ];
  for (const [what, bytes, message] of bad) {
    raw.write(bytes);
    const answer = await nullAnswer();
    assert.equal(answer.error.message, message, what);
    assert.equal(answer.error.code, -32700, what);
    assert.ok((await alive()).result, `vivo tras: ${what}`);
  }
  // A length past the cap: the body is skipped unread, without being held.
  const big = 4 * 1024 * 1024 + 1;
  raw.write(Buffer.from(`Content-Length: ${big}\r\n\r\n`));
  raw.write(Buffer.alloc(big, 0x20));
  assert.equal((await nullAnswer()).error.message, 'El mensaje supera el tamaño máximo de 4194304 bytes');
  assert.ok((await alive()).result);
  // Valid JSON that is not a request.
  raw.send([1, 2, 3]);
  assert.equal((await nullAnswer()).error.code, -32600);
  raw.send({ jsonrpc: '2.0', id: ++id });
  assert.equal((await raw.answer(id)).error.code, -32600);
  raw.send({ jsonrpc: '2.0', id: { no: 'vale' }, method: 'shutdown' });
  assert.equal((await nullAnswer()).error.code, -32600);
  // Unknown methods: a request is answered, a notification is ignored.
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'textDocument/inventado', params: {} });
  assert.equal((await raw.answer(id)).error.code, -32601);
  raw.send({ jsonrpc: '2.0', method: 'workspace/inventado', params: {} });
  raw.send({ jsonrpc: '2.0', method: '$/setTrace', params: { value: 'off' } });
  // A document never opened, and parameters of the wrong shape.
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'textDocument/hover',
    params: { textDocument: { uri: 'file:///nunca.zkv' }, position: { line: 0, character: 0 } } });
  const never = await raw.answer(id);
  assert.equal(never.error.code, -32602);
  assert.equal(never.error.message, 'Documento no abierto: file:///nunca.zkv');
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'textDocument/hover',
    params: { textDocument: { uri: 'file:///vivo.zkv' }, position: { line: 'uno', character: 0 } } });
  assert.equal((await raw.answer(id)).error.code, -32602);
  raw.send({ jsonrpc: '2.0', method: 'textDocument/didChange',
    params: { textDocument: { uri: 'file:///vivo.zkv' }, contentChanges: 'no' } });
  // Positions far outside the text are clamped to it.
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'textDocument/hover',
    params: { textDocument: { uri: 'file:///vivo.zkv' }, position: { line: 1e9, character: -5 } } });
  assert.ok('result' in (await raw.answer(id)));
  // Any bytes as a document: NUL, control bytes, a text past the compiler's limit.
  const wild = '\u0000\u0001\u001b[31m SHOOT \uFFFF' + 'é'.repeat(20000) + '\n'.repeat(3000);
  raw.send({ jsonrpc: '2.0', method: 'textDocument/didOpen',
    params: { textDocument: { uri: 'file:///raro.zkv', version: 1, text: wild } } });
  for (const method of ['textDocument/semanticTokens/full', 'textDocument/documentSymbol',
    'textDocument/foldingRange', 'textDocument/formatting']) {
    raw.send({ jsonrpc: '2.0', id: ++id, method, params: { textDocument: { uri: 'file:///raro.zkv' },
      options: { tabSize: 2, insertSpaces: true } } });
    const a = await raw.answer(id);
    assert.ok('result' in a || a.error.code === -32803, method);
  }
  assert.ok((await alive()).result);
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'shutdown' });
  await raw.answer(id);
  raw.send({ jsonrpc: '2.0', id: ++id, method: 'textDocument/hover', params: {} });
  assert.equal((await raw.answer(id)).error.code, -32600);
  raw.send({ jsonrpc: '2.0', method: 'exit' });
  assert.equal(await exited(raw.child), 0);
});

test('a request cancelled while it waits is answered as cancelled; late cancels are ignored', async () => {
  const raw = startRaw();
  raw.send({ jsonrpc: '2.0', id: 1, method: 'initialize', params: { capabilities: {} } });
  await raw.answer(1);
  raw.send({ jsonrpc: '2.0', method: 'textDocument/didOpen',
    params: { textDocument: { uri: 'file:///c.zkv', version: 1, text: 'SET x 1\n' } } });
  // The request and its cancellation arrive together.
  const hover = { jsonrpc: '2.0', id: 2, method: 'textDocument/hover',
    params: { textDocument: { uri: 'file:///c.zkv' }, position: { line: 0, character: 4 } } };
  raw.write(Buffer.concat([frame(hover), frame({ jsonrpc: '2.0', method: '$/cancelRequest', params: { id: 2 } })]));
  const cancelled = await raw.answer(2);
  assert.equal(cancelled.error.code, -32800);
  // A cancellation of an answered or unknown request changes nothing.
  raw.send({ ...hover, id: 3 });
  assert.ok((await raw.answer(3)).result.contents.value.startsWith('Variable `x`'));
  raw.write(Buffer.concat([frame({ jsonrpc: '2.0', method: '$/cancelRequest', params: { id: 3 } }),
    frame({ jsonrpc: '2.0', method: '$/cancelRequest', params: { id: 'nadie' } }), frame({ ...hover, id: 4 })]));
  assert.ok((await raw.answer(4)).result.contents.value.startsWith('Variable `x`'));
  raw.send({ jsonrpc: '2.0', method: 'exit' });
  assert.equal(await exited(raw.child), 1);  // exit without shutdown
});

test('exit statuses: shutdown then exit is 0; exit alone, or the input closed, is 1', async () => {
  const alone = startRaw();
  alone.send({ jsonrpc: '2.0', method: 'exit' });
  assert.equal(await exited(alone.child), 1);
  const closed = startRaw();
  closed.send({ jsonrpc: '2.0', id: 1, method: 'initialize', params: { capabilities: {} } });
  await closed.answer(1);
  closed.child.stdin.end();
  assert.equal(await exited(closed.child), 1);
  const client = await startClient();
  assert.equal(await client.close(), 0);
});

test('thousands of edits keep memory bounded and end with the last text\'s diagnostics', async () => {
  // Under AddressSanitizer freed memory waits in a quarantine first; without
  // one the resident size shows what the server really keeps.
  const asan = process.env.ASAN_OPTIONS;
  const env = asan === undefined ? process.env : { ...process.env, ASAN_OPTIONS: `${asan}:quarantine_size_mb=0` };
  const client = await startClient({ env });
  const uri = 'file:///largo.zkv';
  const rss = () => {
    const status = readFileSync(`/proc/${client.child.pid}/status`, 'utf8');
    return Number(/VmRSS:\s+(\d+)/.exec(status)[1]);
  };
  client.open(uri, 'SET x 1\n');
  await client.diagnosticsOf(uri);
  const body = (i) => `SET x ${i}\n// ${'relleno '.repeat(i % 200)}\nWHILE x > 0 { SET x x - 1 WAIT scroe }\n`;
  let early = 0;
  for (let i = 1; i <= 5000; i++) {
    client.change(uri, body(i));
    if (i % 250 === 0) {
      await client.diagnosticsOf(uri);
      if (i === 1000) early = rss();
    }
  }
  const last = await client.diagnosticsOf(uri);
  assert.deepEqual(last.map((d) => d.message), ["Variable no definida 'scroe'. ¿Quiso decir 'score'?"]);
  const growth = rss() - early;
  assert.ok(growth < 2048, `la memoria creció ${growth} kB entre la edición 1000 y la 5000`);
  assert.equal(await client.close(), 0);
});

test('names and outline through the protocol: references, rename checks, symbols, folds, signature, quick fix', async () => {
  const client = await startClient();
  const uri = 'file:///nombres.zkv';
  const text = 'SET vueltas 0\n// uno\n// dos\nWHILE vueltas < 3 {\n  SET vueltas vueltas + random(2)\n}\n' +
    'WAIT vueltsa\n';
  client.open(uri, text);
  const diags = await client.diagnosticsOf(uri);
  assert.deepEqual(diags.map((d) => [d.source, d.message, d.range.start.line, d.range.start.character,
    d.range.end.character]), [['semantico', "Variable no definida 'vueltsa'. ¿Quiso decir 'vueltas'?", 6, 5, 12]]);
  const at = (line, character) => ({ textDocument: { uri }, position: { line, character } });
  const refs = await client.request('textDocument/references', { ...at(3, 8), context: { includeDeclaration: true } });
  assert.deepEqual(refs.map((r) => [r.range.start.line, r.range.start.character]), [[0, 4], [3, 6], [4, 6], [4, 14]]);
  const noDecl = await client.request('textDocument/references', { ...at(3, 8), context: { includeDeclaration: false } });
  assert.equal(noDecl.length, 3);
  const prepared = await client.request('textDocument/prepareRename', at(4, 16));
  assert.deepEqual(prepared.placeholder, 'vueltas');
  await assert.rejects(client.request('textDocument/prepareRename', at(4, 24)),
    { message: 'Solo se pueden renombrar variables del programa.' });
  await assert.rejects(client.request('textDocument/rename', { ...at(0, 5), newName: 'ticks' }),
    { message: "'ticks' es una variable reservada del juego." });
  const rename = await client.request('textDocument/rename', { ...at(0, 5), newName: 'n' });
  assert.equal(rename.changes[uri].length, 4);
  const symbols = await client.request('textDocument/documentSymbol', { textDocument: { uri } });
  assert.deepEqual(symbols.map((s) => [s.name, s.kind, s.range.start.line, s.range.end.line]),
    [['vueltas', 13, 0, 0], ['WHILE vueltas < 3', 3, 3, 5]]);
  const folds = await client.request('textDocument/foldingRange', { textDocument: { uri } });
  assert.deepEqual(folds, [{ startLine: 3, endLine: 4 }, { startLine: 1, endLine: 2, kind: 'comment' }]);
  const signature = await client.request('textDocument/signatureHelp', at(4, 31));
  assert.equal(signature.signatures[0].label, 'random(n)');
  assert.deepEqual(signature.signatures[0].parameters, [{ label: 'n' }]);
  const actions = await client.request('textDocument/codeAction',
    { textDocument: { uri }, range: diags[0].range, context: { diagnostics: diags } });
  assert.equal(actions.length, 1);
  assert.deepEqual(actions[0].edit.changes[uri], [{ range: diags[0].range, newText: 'vueltas' }]);
  assert.equal(await client.close(), 0);
});
