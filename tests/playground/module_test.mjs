// The WebAssembly engine against prendax_cli: final frames of the example
// robots over levels and seeds, and compile documents and frames of many
// generated programs, compared byte for byte.
//   node module_test.mjs PRENDAX_WASM PRENDAX_CLI ENGINE_JS EXAMPLES_DIR WORK_DIR
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { generator } from './programs.mjs';

const [wasmPath, cli, engineJs, examplesDir, workDir] = process.argv.slice(2);
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
for (let i = 0; i < GENERATED; i++) {
  const make = generator(1000 + i);
  let text = make.program();
  if (i % 2 === 1) text = make.damage(text);
  const file = path.join(workDir, `generado_${i}.zkv`);
  fs.writeFileSync(file, text);
  if (checkCompile(file, fs.readFileSync(file))) {
    compiledCount++;
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
if (compiledCount < GENERATED / 4 || compiledCount > GENERATED - GENERATED / 8) {
  console.log('FALLO: la mezcla de programas generados no cubre compilaciones buenas y fallidas');
  failures++;
}
if (failures > 0) {
  console.log(`FALLO: ${failures} diferencias`);
  process.exit(1);
}
console.log('OK: el módulo WebAssembly da los mismos documentos que prendax_cli');
