// The WebAssembly engine against prendax_cli: final frames of the example
// robots over levels and seeds, and compile documents and frames of many
// generated programs, compared byte for byte. Then against the same C
// interface built natively, over long matches: the frame every 100 ticks, the
// per-line counts and the events must be the same bytes, and the digest of the
// exact state (every number by its bits) is compared too, which shows a
// difference of one unit in the last place anywhere in the world or the VM.
//   node module_test.mjs PRENDAX_WASM PRENDAX_CLI NATIVE_API ENGINE_JS EXAMPLES_DIR WORK_DIR
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { generator } from './programs.mjs';

const [wasmPath, cli, nativeApi, engineJs, examplesDir, workDir] = process.argv.slice(2);
const PrendaxEngine = createRequire(import.meta.url)(path.resolve(engineJs));
const engine = await PrendaxEngine.load(fs.readFileSync(wasmPath));

const SEEDS = [0, 1, 2, 99, 12345, 65536, 2147483647, 2147483648, 4294967294, 4294967295];
const LEVELS = [1, 2, 3];
const GENERATED = 300;
let failures = 0;
let compared = 0;

function cliBytes(args) {
  const run = spawnSync(cli, args, { maxBuffer: 16 * 1024 * 1024 });
  if (run.error) throw run.error;
  return run.stdout;
}

// prendax_cli ends each document with a line feed.
function expectSame(what, wasmBytes, cliOut) {
  compared++;
  const expected = cliOut.subarray(0, cliOut.length - 1);
  if (Buffer.compare(Buffer.from(wasmBytes), expected) === 0 && cliOut[cliOut.length - 1] === 0x0a) return;
  failures++;
  if (failures <= 10) {
    let at = 0;
    while (at < wasmBytes.length && at < expected.length && wasmBytes[at] === expected[at]) at++;
    console.log(`DIFERENTE: ${what} (primer byte distinto en ${at})`);
    console.log(`  wasm: ${Buffer.from(wasmBytes).subarray(Math.max(0, at - 60), at + 60).toString()}`);
    console.log(`  cli:  ${expected.subarray(Math.max(0, at - 60), at + 60).toString()}`);
  }
}

function checkCompile(file, bytes) {
  const ok = engine.compile(bytes);
  engine.compileJson();
  expectSame(`documento de compilación de ${file}`, engine.outputBytes(), cliBytes(['--json', file]));
  return ok;
}

function checkFrame(file, level, seed, ticks) {
  engine.start(level, seed);
  engine.run(ticks);
  engine.frameJson();
  const args = ['--quiet', '--frame', '--level', String(level), '--seed', String(seed), '--ticks', String(ticks), file];
  expectSame(`fotograma final de ${file} nivel ${level} semilla ${seed} ticks ${ticks}`, engine.outputBytes(),
    cliBytes(args));
}

// The example robots: every level, every seed, the default match length and a long one.
const examples = fs.readdirSync(examplesDir).filter((name) => name.endsWith('.zkv')).sort();
if (examples.length === 0) throw new Error(`no hay robots de ejemplo en ${examplesDir}`);
for (const name of examples) {
  const file = path.join(examplesDir, name);
  if (!checkCompile(file, fs.readFileSync(file))) {
    failures++;
    console.log(`NO COMPILA: ${file}`);
    continue;
  }
  for (const level of LEVELS) for (const seed of SEEDS) for (const ticks of [900, 3000]) checkFrame(file, level, seed, ticks);
}

// Generated programs, half of them damaged; those that compile also play a match.
fs.mkdirSync(workDir, { recursive: true });
let compiledCount = 0;
const compiledFiles = [];
for (let i = 0; i < GENERATED; i++) {
  const make = generator(1000 + i);
  let text = make.program();
  if (i % 2 === 1) text = make.damage(text);
  const file = path.join(workDir, `generado_${i}.zkv`);
  fs.writeFileSync(file, text);
  if (checkCompile(file, fs.readFileSync(file))) {
    compiledCount++;
    compiledFiles.push(file);
    checkFrame(file, 1 + (i % 3), SEEDS[i % SEEDS.length], 300 + (i % 7) * 100);
  }
}
// A program past the size limit is cut where prendax_cli cuts it.
{
  const file = path.join(workDir, 'largo.zkv');
  fs.writeFileSync(file, 'START\n' + 'SET a a + 1 // relleno\n'.repeat(800) + 'END\n');
  checkCompile(file, fs.readFileSync(file));
}

console.log(`${compared} documentos comparados; ${compiledCount} de ${GENERATED} programas generados compilaron`);

// Long matches against the native build of the same interface, checkpoint by checkpoint.
const CHECK_EVERY = 100;
const LONG_SEEDS = [0, 4294967295];
for (let i = 0; LONG_SEEDS.length < 32; i++) LONG_SEEDS.push((i * 2654435761 + 17) >>> 0);
const jobs = [];
for (const name of examples) {
  for (const level of LEVELS) for (const seed of LONG_SEEDS) jobs.push([path.join(examplesDir, name), level, seed, 5000]);
}
compiledFiles.forEach((file, i) => {
  for (const seed of [LONG_SEEDS[i % 32], LONG_SEEDS[(i + 7) % 32]]) jobs.push([file, 1 + (i % 3), seed, 3000]);
});
const native = spawnSync(nativeApi, [], {
  input: jobs.map((job) => `${job.join(' ')} ${CHECK_EVERY}\n`).join(''), maxBuffer: 1 << 30, encoding: 'utf8',
});
if (native.error) throw native.error;
const nativeLines = native.stdout.split('\n').filter((line) => line.length > 0);
if (nativeLines.length !== jobs.length) {
  failures++;
  console.log(`FALLO: la interfaz nativa dio ${nativeLines.length} partidas de ${jobs.length}`);
}
const api = engine.exports;
const read = (length) => new TextDecoder().decode(new Uint8Array(api.memory.buffer, api.prendax_output(), length));
let longTicks = 0;
jobs.forEach(([file, level, seed, ticks], k) => {
  if (k >= nativeLines.length) return;
  const want = JSON.parse(nativeLines[k]);
  const what = `${path.basename(file)} nivel ${level} semilla ${seed}`;
  engine.compile(fs.readFileSync(file));
  if (!engine.start(level, seed)) {
    compared++;
    if (want.digests.length !== 0) failures++, console.log(`DIFERENTE: ${what} no arranca en WebAssembly`);
    return;
  }
  const frames = [read(api.prendax_frame_json())];
  const digests = [read(api.prendax_digest())];
  let played = 0;
  for (let going = true; played < ticks && going;) {
    going = api.prendax_tick() === 1;
    played++;
    if (played % CHECK_EVERY === 0 || played === ticks || !going) {
      frames.push(read(api.prendax_frame_json()));
      digests.push(read(api.prendax_digest()));
    }
  }
  longTicks += played;
  // Both sides read back the same way: a number that differs in what a frame shows differs here.
  const sameFrames = JSON.stringify(frames.map((frame) => JSON.parse(frame))) === JSON.stringify(want.frames);
  const lines = JSON.parse(read(api.prendax_lines_json()));
  const events = JSON.parse(read(api.prendax_events_json(0)));
  compared += 3;
  for (const [ok, part] of [[sameFrames, 'los fotogramas cada 100 ticks'],
    [JSON.stringify(lines) === JSON.stringify(want.lines), 'las cuentas por línea'],
    [JSON.stringify(events) === JSON.stringify(want.events), 'los eventos']]) {
    if (ok) continue;
    failures++;
    console.log(`DIFERENTE: ${part} de ${what} entre WebAssembly y la interfaz nativa`);
  }
  let at = 0;
  while (at < digests.length && digests[at] === want.digests[at]) at++;
  compared++;
  if (at < digests.length || digests.length !== want.digests.length) {
    failures++;
    console.log(`DIFERENTE: el estado exacto de ${what} entre los ticks ${Math.max(at - 1, 0) * CHECK_EVERY} y ${at * CHECK_EVERY}`);
  }
});
console.log(`${jobs.length} partidas largas (${longTicks} ticks) contra la interfaz nativa: fotogramas, cuentas, ` +
  'eventos y estado exacto comparados');
if (compiledCount < GENERATED / 4 || compiledCount > GENERATED - GENERATED / 8) {
  console.log('FALLO: la mezcla de programas generados no cubre compilaciones buenas y fallidas');
  failures++;
}
if (failures > 0) {
  console.log(`FALLO: ${failures} diferencias`);
  process.exit(1);
}
console.log('OK: el módulo WebAssembly da los mismos documentos que prendax_cli');
