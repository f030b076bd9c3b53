// Two ways to talk to prendax_lsp: a real JSON-RPC client (the protocol
// library VS Code's language clients are built on), and a raw pipe that
// writes any bytes at all and reads the framed answers back.
import { spawn, spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import protocol from 'vscode-languageserver-protocol/node.js';

const { createProtocolConnection, StreamMessageReader, StreamMessageWriter } = protocol;

export const LSP = process.env.PRENDAX_LSP;
export const CLI = process.env.PRENDAX_CLI;
export const ROOT = process.env.PRENDAX_SOURCE_DIR;

const children = [];
function server(env = process.env) {
  const child = spawn(LSP, [], { stdio: ['pipe', 'pipe', 'inherit'], env });
  children.push(child);
  return child;
}

// Ends every server a test left running.
export function stopAll() {
  for (const child of children) if (child.exitCode === null && child.signalCode === null) child.kill();
}

export function exited(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null) resolve(child.exitCode);
    else child.on('exit', (code) => resolve(code));
  });
}

// A started server with a protocol connection; diagnostics are kept per uri.
export async function startClient({ encodings, env } = {}) {
  const child = server(env);
  const connection = createProtocolConnection(new StreamMessageReader(child.stdout),
    new StreamMessageWriter(child.stdin));
  const diagnostics = new Map();
  const waiters = [];
  connection.onNotification('textDocument/publishDiagnostics', (params) => {
    diagnostics.set(params.uri, params);
    for (const w of waiters.splice(0)) w();
  });
  connection.listen();
  const capabilities = encodings ? { general: { positionEncodings: encodings } } : {};
  const init = await connection.sendRequest('initialize', { processId: process.pid, rootUri: null, capabilities });
  connection.sendNotification('initialized', {});
  let version = 0;
  const client = {
    child, connection, init, diagnostics,
    open(uri, text) {
      connection.sendNotification('textDocument/didOpen',
        { textDocument: { uri, languageId: 'zkv', version: ++version, text } });
    },
    change(uri, text) {
      connection.sendNotification('textDocument/didChange',
        { textDocument: { uri, version: ++version }, contentChanges: [{ text }] });
    },
    // The diagnostics of `uri` once the server has published those of version >= v.
    async diagnosticsOf(uri, v = version) {
      while (!(diagnostics.has(uri) && diagnostics.get(uri).version >= v)) {
        await new Promise((resolve) => waiters.push(resolve));
      }
      return diagnostics.get(uri).diagnostics;
    },
    request(method, params) { return connection.sendRequest(method, params); },
    async close() {
      await connection.sendRequest('shutdown');
      connection.sendNotification('exit');
      const code = await exited(child);
      connection.dispose();
      return code;
    },
  };
  return client;
}

export function frame(body) {
  const bytes = Buffer.isBuffer(body) ? body : Buffer.from(typeof body === 'string' ? body : JSON.stringify(body));
  return Buffer.concat([Buffer.from(`Content-Length: ${bytes.length}\r\n\r\n`), bytes]);
}

// A server on raw pipes: write any bytes, read whole framed answers.
export function startRaw() {
  const child = server();
  let pending = Buffer.alloc(0);
  const messages = [];
  const waiters = [];
  child.stdout.on('data', (chunk) => {
    pending = Buffer.concat([pending, chunk]);
    for (;;) {
      const end = pending.indexOf('\r\n\r\n');
      if (end < 0) break;
      const m = /Content-Length: (\d+)/.exec(pending.subarray(0, end).toString());
      const length = Number(m[1]);
      if (pending.length < end + 4 + length) break;
      messages.push(JSON.parse(pending.subarray(end + 4, end + 4 + length).toString('utf8')));
      pending = pending.subarray(end + 4 + length);
    }
    for (const w of waiters.splice(0)) w();
  });
  child.stdin.on('error', () => {});
  child.on('exit', () => { for (const w of waiters.splice(0)) w(); });
  return {
    child,
    messages,
    write(bytes) { child.stdin.write(bytes); },
    send(message) { child.stdin.write(frame(message)); },
    // The first message not yet taken that satisfies `test`.
    async take(test) {
      for (;;) {
        const i = messages.findIndex(test);
        if (i >= 0) return messages.splice(i, 1)[0];
        if (child.exitCode !== null) throw new Error(`el servidor terminó con ${child.exitCode}`);
        await new Promise((resolve) => waiters.push(resolve));
      }
    },
    answer(id) { return this.take((m) => m.id === id && !('method' in m)); },
  };
}

// The diagnostic lines prendax_cli prints for a file: [phase, line, col, message].
export function cliDiagnostics(path) {
  const run = spawnSync(CLI, ['--quiet', '--json', path], { encoding: 'utf8' });
  const out = [];
  for (const line of run.stderr.split('\n')) {
    const m = /^\[(\w+)\] línea (\d+), col (\d+): (.*)$/.exec(line);
    if (m) out.push([m[1], Number(m[2]), Number(m[3]), m[4]]);
  }
  return out;
}

export function readText(path) { return readFileSync(path, 'utf8'); }
