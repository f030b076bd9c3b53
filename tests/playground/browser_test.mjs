// Opens the playground page from disk in Debian's headless Chromium and checks
// it against the console tools: typed programs show prendax_cli's diagnostics,
// underlined where they point; the example robots played on the page end on
// prendax_cli's final frame byte for byte; stepping instructions gives the pc
// and stack of vm_step_waiting run natively; a shared link reopens the same
// program, level, seed and frame. It saves a screenshot mid-match and prints
// how long a 3000-tick match and a recompilation of a 16384-byte program take.
//
//   node browser_test.mjs PAGE PRENDAX_CLI NATIVE_STEPS EXAMPLES_DIR OUT_DIR
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const [pagePath, cli, nativeSteps, examplesDir, outDir] = process.argv.slice(2);
const pageUrl = pathToFileURL(pagePath).href;
const work = mkdtempSync(join(tmpdir(), 'prendax-playground-'));

let passed = 0;
let failed = 0;
function check(ok, what, detail) {
  if (ok) passed++;
  else {
    failed++;
    console.log(`FALLO: ${what}${detail === undefined ? '' : ` — ${detail}`}`);
  }
}

function run(tool, args) {
  const result = spawnSync(tool, args, { encoding: 'utf8', maxBuffer: 64 * 1024 * 1024 });
  if (result.error) throw result.error;
  return result;
}

async function openPage(context, url) {
  const page = await context.newPage();
  const problems = [];
  page.on('pageerror', (e) => problems.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
  await page.goto(url);
  await page.waitForFunction(() => document.body.dataset.ready === '1' || document.body.dataset.ready === 'error');
  check(await page.evaluate(() => document.body.dataset.ready === '1'), 'el motor arranca en la página', problems.join('; '));
  return { page, problems };
}

// Replaces the editor's text by typing it, as a player would.
async function typeProgram(page, text) {
  await page.click('#code');
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  await page.keyboard.type(text);
}

async function diagnosticsScenario(context) {
  const { page, problems } = await openPage(context, pageUrl);
  const cases = [
    { name: 'sintaxis', text: 'START\nSET a 1 +\nMOVE LEFT\nEND\n', underlined: 'MOVE' },
    { name: 'semántica', text: 'START\nSET a 2\nIF scroe > 1 { SHOOT }\nEND\n', underlined: 'scroe' },
    { name: 'léxico', text: 'START\nSET a 1 @ 2\nEND\n', underlined: '@' },
  ];
  for (const c of cases) {
    await typeProgram(page, c.text);
    const file = join(work, `diag_${c.name}.zkv`);
    writeFileSync(file, c.text);
    const expected = run(cli, [file]).stderr.split('\n').filter((l) => l.length > 0);
    const seen = await page.$$eval('#diagnostics li', (items) => items.map((i) => i.textContent));
    check(JSON.stringify(seen) === JSON.stringify(expected), `diagnósticos de ${c.name} como los de prendax_cli`,
      `se vio ${JSON.stringify(seen)}, se esperaba ${JSON.stringify(expected)}`);
    const firstLine = Number(/línea (\d+)/.exec(expected[0] || '')?.[1]);
    const marks = await page.evaluate(() => ({
      underlined: [...document.querySelectorAll('#highlight .t-diag')].map((s) => s.textContent),
      errorLines: [...document.querySelectorAll('#gutter div.has-error')].map((d) => Number(d.textContent)),
    }));
    check(marks.underlined.includes(c.underlined), `subrayado en '${c.underlined}' (${c.name})`, JSON.stringify(marks));
    check(marks.errorLines.includes(firstLine), `línea ${firstLine} marcada (${c.name})`, JSON.stringify(marks));
  }
  // Fixing the program clears the list.
  await typeProgram(page, 'START\nSHOOT\nEND\n');
  check(await page.$$eval('#diagnostics li', (items) => items.length) === 0, 'un programa correcto no deja diagnósticos');
  check(problems.length === 0, 'sin errores en la página (diagnósticos)', problems.join('; '));
  await page.close();
}

async function playToEnd(page, example, level, seed, ticks) {
  await page.selectOption('#example', { label: example });
  await page.selectOption('#level', String(level));
  await page.fill('#seed', String(seed));
  await page.fill('#ticks', String(ticks));
  await page.dispatchEvent('#ticks', 'change');
  await page.selectOption('#speed', '0');
  await page.click('#btn-run');
  await page.waitForFunction(() => document.body.dataset.over === '1' && document.body.dataset.playing === '0');
  return page.evaluate(() => window.prendaxPlayground.frameJson());
}

async function examplesScenario(context) {
  const { page, problems } = await openPage(context, pageUrl);
  const examples = readdirSync(examplesDir).filter((n) => n.endsWith('.zkv')).sort();
  let compared = 0;
  for (const name of examples) {
    for (const level of [1, 2, 3]) {
      for (const seed of [0, 7, 4294967295]) {
        const frame = await playToEnd(page, name.slice(0, -4), level, seed, 900);
        const expected = run(cli, ['--quiet', '--frame', '--level', String(level), '--seed', String(seed), '--ticks', '900',
          join(examplesDir, name)]).stdout;
        compared++;
        check(`${frame}\n` === expected, `fotograma final de ${name} nivel ${level} semilla ${seed} igual a prendax_cli`);
      }
    }
  }
  console.log(`${compared} fotogramas finales comparados con prendax_cli`);
  check(problems.length === 0, 'sin errores en la página (ejemplos)', problems.join('; '));
  await page.close();
}

async function stepScenario(context) {
  const { page, problems } = await openPage(context, pageUrl);
  const example = '03_apuntar';
  const ticks = 40;
  const steps = 30;
  await page.selectOption('#example', { label: example });
  await page.selectOption('#level', '2');
  await page.fill('#seed', '5');
  await page.dispatchEvent('#seed', 'change');
  for (let i = 0; i < ticks; i++) await page.click('#btn-tick');
  const native = run(nativeSteps, [join(examplesDir, `${example}.zkv`), '2', '5', String(ticks), String(steps)])
    .stdout.split('\n').filter((l) => l.length > 0).map((l) => JSON.parse(l));
  check(native.length === steps, 'el motor nativo da un documento por paso');
  let waited = 0;
  for (let i = 0; i < steps && i < native.length; i++) {
    await page.click('#btn-step');
    const vm = JSON.parse(await page.evaluate(() => window.prendaxPlayground.frameJson())).vm;
    const panelPc = await page.textContent('#v-pc');
    const stack = await page.$$eval('#stack li', (items) => items.map((li) => li.textContent));
    if (native[i].status === 'esperando') waited++;
    check(vm.pc === native[i].pc && JSON.stringify(vm.stack) === JSON.stringify(native[i].stack) &&
      vm.wait === native[i].wait && vm.status === native[i].status,
    `paso ${i + 1}: pc, pila, espera y estado como vm_step_waiting`,
    `página ${JSON.stringify([vm.pc, vm.stack, vm.wait, vm.status])}, nativo ` +
      `${JSON.stringify([native[i].pc, native[i].stack, native[i].wait, native[i].status])}`);
    check(panelPc === String(native[i].pc) && JSON.stringify(stack) === JSON.stringify(native[i].stack.map(String)),
      `paso ${i + 1}: el panel muestra pc y pila`);
  }
  check(waited > 0, 'los pasos atraviesan un WAIT');
  check(problems.length === 0, 'sin errores en la página (pasos)', problems.join('; '));
  await page.close();
}

async function shareScenario(context) {
  const { page, problems } = await openPage(context, pageUrl);
  await page.selectOption('#example', { label: '07_campeon' });
  await typeProgram(page, `${await page.inputValue('#code')}// compartido ñ\n`);
  await page.selectOption('#level', '3');
  await page.fill('#seed', '4294967295');
  await page.dispatchEvent('#seed', 'change');
  await page.click('#btn-share');
  await page.waitForFunction(() => /#z=/.test(document.getElementById('share-link').value));
  const link = await page.inputValue('#share-link');
  const before = {
    code: await page.inputValue('#code'),
    level: await page.inputValue('#level'),
    seed: await page.inputValue('#seed'),
    frame: await page.evaluate(() => window.prendaxPlayground.frameJson()),
  };
  await page.close();
  const reopened = await openPage(context, link);
  const after = {
    code: await reopened.page.inputValue('#code'),
    level: await reopened.page.inputValue('#level'),
    seed: await reopened.page.inputValue('#seed'),
    frame: await reopened.page.evaluate(() => window.prendaxPlayground.frameJson()),
  };
  for (const key of Object.keys(before)) check(before[key] === after[key], `el enlace compartido devuelve ${key}`);
  check(link.length < 4000, 'el enlace va comprimido', `${link.length} caracteres`);
  // The frame reached after playing the reopened match matches prendax_cli too.
  const frame = await playToEnd(reopened.page, '07_campeon', 3, 4294967295, 600);
  const expected = run(cli, ['--quiet', '--frame', '--level', '3', '--seed', '4294967295', '--ticks', '600',
    join(examplesDir, '07_campeon.zkv')]).stdout;
  check(`${frame}\n` === expected, 'el ejemplo tras reabrir el enlace sigue igual a prendax_cli');
  check(problems.length === 0 && reopened.problems.length === 0, 'sin errores en la página (compartir)');
  await reopened.page.close();
}

async function screenshotAndTimes(context) {
  const { page } = await openPage(context, pageUrl);
  await page.selectOption('#example', { label: '07_campeon' });
  await page.selectOption('#level', '3');
  await page.fill('#seed', '12345');
  await page.dispatchEvent('#seed', 'change');
  await page.fill('#ticks', '260');
  await page.dispatchEvent('#ticks', 'change');
  await page.selectOption('#speed', '0');
  await page.click('#btn-run');
  await page.waitForFunction(() => document.body.dataset.over === '1');
  const shot = join(outDir, 'playground_mid_match.png');
  await page.screenshot({ path: shot });
  const enemies = await page.textContent('#v-enemies');
  check(Number(enemies) > 0, 'la captura muestra una partida en curso', `enemigos ${enemies}`);
  console.log(`captura: ${shot}`);

  // Figures, printed and not judged: a 3000-tick match and a recompile of a
  // 16384-byte program (engine, diagnostics and highlighting together).
  const times = await page.evaluate(() => {
    const api = window.prendaxPlayground;
    const engine = api.engine;
    // A robot that hides behind its shield and never wins plays the whole 3000 ticks.
    engine.compile('START\nWHILE 1 { SHIELD MOVE LEFT WAIT 2 MOVE RIGHT WAIT 2 }\nEND\n');
    const match = [];
    let played = 0;
    for (let i = 0; i < 7; i++) {
      const t0 = performance.now();
      engine.start(1, 12345 + i);
      played = engine.run(3000);
      match.push(performance.now() - t0);
    }
    const code = document.getElementById('code');
    let text = '';
    for (let i = 0; text.length < 16384; i++) text += `SET a${i % 40} a${i % 40} + ${i} // línea ${i}\n`;
    code.value = `START\n${text}`.slice(0, 16380) + '\nEND\n';
    const edit = [];
    for (let i = 0; i < 10; i++) {
      code.value = code.value.replace(/END\n$/, `SHOOT\nEND\n`);
      const t0 = performance.now();
      api.recompile();
      edit.push(performance.now() - t0);
    }
    const median = (list) => list.slice().sort((a, b) => a - b)[Math.floor(list.length / 2)];
    return { match: median(match), played, edit: median(edit), bytes: new TextEncoder().encode(code.value).length };
  });
  console.log(`partida de ${times.played} ticks: ${times.match.toFixed(1)} ms (mediana de 7); ` +
    `recompilar ${times.bytes} bytes con diagnósticos y resaltado: ${times.edit.toFixed(1)} ms (mediana de 10)`);
  await page.close();
}

const context = await chromium.launchPersistentContext(join(work, 'profile'), {
  executablePath: '/usr/bin/chromium',
  headless: true,
  viewport: { width: 1500, height: 1000 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const requests = [];
context.on('request', (r) => requests.push(r.url()));
async function scenario(name, body) {
  try {
    await body();
  } catch (e) {
    check(false, `${name}: se interrumpió`, e.message.split('\n')[0]);
  }
}
try {
  await scenario('diagnósticos', () => diagnosticsScenario(context));
  await scenario('ejemplos', () => examplesScenario(context));
  await scenario('pasos de instrucción', () => stepScenario(context));
  await scenario('compartir', () => shareScenario(context));
  await scenario('captura y tiempos', () => screenshotAndTimes(context));
} finally {
  await context.close();
}
const foreign = requests.filter((url) => !url.startsWith('file://'));
check(foreign.length === 0, 'la página no carga nada de fuera', foreign.join(' '));
console.log(`${passed} comprobaciones correctas, ${failed} fallidas`);
process.exit(failed === 0 ? 0 : 1);
