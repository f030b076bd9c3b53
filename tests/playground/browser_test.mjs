// Opens the playground page from disk in Debian's headless Chromium and checks
// it against the console tools: typed programs show prendax_cli's diagnostics,
// underlined where they point; the example robots played on the page end on
// prendax_cli's final frame byte for byte; stepping instructions gives the pc
// and stack of vm_step_waiting run natively; a shared link reopens the same
// program, level, seed and frame; the event marks are the events prendax_replay
// records for the same match, and the figures beside each line are the native
// profile's counts (prendax_arena --profile for the whole match, the C
// interface built natively for the current tick and the budget's stop line).
// It saves a screenshot mid-match and prints how long a 3000-tick match and a
// recompilation of a 16384-byte program take.
//
//   node browser_test.mjs PAGE PRENDAX_CLI NATIVE_STEPS PRENDAX_REPLAY PRENDAX_ARENA NATIVE_API EXAMPLES_DIR OUT_DIR
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { launchChromium, scenario as runScenario } from '../browser/chromium.mjs';

const [pagePath, cli, nativeSteps, replayTool, arena, nativeApi, examplesDir, outDir] = process.argv.slice(2);
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

function run(tool, args, input) {
  const result = spawnSync(tool, args, { encoding: 'utf8', maxBuffer: 64 * 1024 * 1024, input });
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

// Plays an example robot (or, with example null, the program in the editor) to its end.
async function playToEnd(page, example, level, seed, ticks) {
  if (example !== null) await page.selectOption('#example', { label: example });
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
    await page.click('#btn-instruction');
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

// A robot that runs out of its budget in some ticks, shoots, shields and moves.
const BUSY_ROBOT = `START
SET n 0
WHILE health > 0 {
  IF enemy_ahead() { SHOOT } ELSE { MOVE LEFT }
  IF health < 60 { SHIELD }
  REPEAT 20 + random(50) {
    SET n n + 1
  }
  MOVE RIGHT
  WAIT 1
}
END
`;

async function figuresScenario(context) {
  const { page, problems } = await openPage(context, pageUrl);
  const file = join(work, 'ocupado.zkv');
  writeFileSync(file, BUSY_ROBOT);
  await typeProgram(page, BUSY_ROBOT);
  const level = 2;
  const seed = 77;
  for (const ticks of [251, 1400]) {
    await playToEnd(page, null, level, seed, ticks);
    const played = Number(await page.evaluate(() => document.body.dataset.ticks));
    const seen = await page.evaluate(() => ({
      marks: [...document.querySelectorAll('#timeline .mark')].map((m) => [Number(m.dataset.tick), m.dataset.kind]),
      items: [...document.querySelectorAll('#events li')].map((li) => li.textContent),
      totals: [...document.querySelectorAll('#counts > div')].map((d) => d.querySelector('.cnt').textContent),
      now: [...document.querySelectorAll('#counts > div')].map((d) => d.querySelector('.cnt-tick').textContent),
      stop: [...document.querySelectorAll('#counts > div')].findIndex((d) => d.classList.contains('budget-stop')) + 1,
    }));

    // The events prendax_replay records for the same match.
    const html = join(work, `ocupado_${ticks}.html`);
    run(replayTool, ['--level', String(level), '--seed', String(seed), '--ticks', String(ticks), file, '-o', html]);
    const block = /<script type="application\/json" id="replay-events">([^<]*)<\/script>/.exec(readFileSync(html, 'utf8'));
    const recorded = block ? JSON.parse(block[1]) : null;
    check(recorded !== null && recorded.length > 0, `prendax_replay registra sucesos (${ticks} ticks)`);
    const want = (recorded || []).map((e) => [e[0], e[1]]);
    check(JSON.stringify(seen.marks) === JSON.stringify(want), `marcas de la línea de tiempo = sucesos de prendax_replay (${ticks} ticks)`,
      `se vio ${JSON.stringify(seen.marks.slice(0, 8))}…, se esperaba ${JSON.stringify(want.slice(0, 8))}…`);
    check(seen.items.length === want.length && seen.items.every((text, i) => text.startsWith(String(want[i][0]))),
      `la lista de sucesos sigue a las marcas (${ticks} ticks)`);

    // Totals per line: prendax_arena's profile of the same match.
    const profile = JSON.parse(run(arena, ['--seeds', `${seed}-${seed}`, '--levels', String(level), '--ticks',
      String(ticks), '--profile', '--json', file]).stdout).profile[0].lines;
    const wantTotals = seen.totals.map(() => '');
    for (const entry of profile) if (entry.executed > 0) wantTotals[entry.line - 1] = String(entry.executed);
    check(JSON.stringify(seen.totals) === JSON.stringify(wantTotals), `instrucciones por línea = perfil nativo (${ticks} ticks)`,
      `se vio ${JSON.stringify(seen.totals)}, se esperaba ${JSON.stringify(wantTotals)}`);

    // This tick's share and the budget's stop line: the C interface built natively.
    const native = JSON.parse(run(nativeApi, [], `${file} ${level} ${seed} ${ticks} ${ticks}\n`).stdout).lines;
    const wantNow = seen.now.map(() => '');
    for (const [line, , now] of native.lines) if (now > 0) wantNow[line - 1] = `+${now}`;
    check(native.tick === played, `la partida nativa llega al mismo tick (${played})`);
    check(JSON.stringify(seen.now) === JSON.stringify(wantNow), `instrucciones del tick por línea (${ticks} ticks)`,
      `se vio ${JSON.stringify(seen.now)}, se esperaba ${JSON.stringify(wantNow)}`);
    check(seen.stop === native.stopLine, `línea donde se agotó el presupuesto (${ticks} ticks)`,
      `se vio ${seen.stop}, se esperaba ${native.stopLine}`);
    if (ticks === 251) check(native.stopLine > 0, 'el presupuesto se agota en el tick comparado');
  }
  // Stepping one instruction counts it in the current tick, on its line.
  await page.click('#btn-reset');
  for (let i = 0; i < 3; i++) await page.click('#btn-tick');
  const before = await page.evaluate(() => window.prendaxPlayground.lineFigures());
  await page.click('#btn-instruction');
  const after = await page.evaluate(() => window.prendaxPlayground.lineFigures());
  const sum = (doc, k) => doc.lines.reduce((n, entry) => n + entry[k], 0);
  check(sum(after, 1) === sum(before, 1) + 1 && sum(after, 2) === sum(before, 2) + 1,
    'una instrucción a mano suma uno en la partida y en el tick', `${JSON.stringify(before)} → ${JSON.stringify(after)}`);
  check(problems.length === 0, 'sin errores en la página (cifras y sucesos)', problems.join('; '));
  await page.close();
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

  // Figures, printed and not judged. A 3000-tick match in the engine: an
  // example robot, and one that spends its whole budget of 200 instructions in
  // every tick (600000 instructions, the most a 3000-tick match can run). Then
  // the same worst case through the page's Run at full speed, from the click to
  // the last tick drawn. Then a keystroke in a 16384-byte program: the input
  // event (compile, diagnostics, highlighting) and the layout that follows it.
  const times = await page.evaluate(async (examples) => {
    const api = window.prendaxPlayground;
    const engine = api.engine;
    const median = (list) => list.slice().sort((a, b) => a - b)[Math.floor(list.length / 2)];
    const burner = 'START\nSET n 0\nWHILE 1 {\n  SHIELD\n  IF enemy_ahead() { SHOOT }\n  SET n n + 1\n}\nEND\n';
    function match(source, level, seed) {
      engine.compile(source);
      const spent = [];
      let played = 0;
      for (let i = 0; i < 9; i++) {
        const t0 = performance.now();
        engine.start(level, seed);
        played = engine.run(3000);
        spent.push(performance.now() - t0);
      }
      return { ms: median(spent), played, steps: JSON.parse(engine.vmJson()).steps };
    }
    const example = match(examples, 1, 4294967295);
    const worst = match(burner, 1, 12345);

    const code = document.getElementById('code');
    code.value = burner;
    code.dispatchEvent(new Event('input'));
    document.getElementById('level').value = '1';
    document.getElementById('seed').value = '12345';
    document.getElementById('ticks').value = '3000';
    document.getElementById('ticks').dispatchEvent(new Event('change'));
    document.getElementById('speed').value = '0';
    const page = [];
    for (let i = 0; i < 5; i++) {
      api.reset();
      const t0 = performance.now();
      document.getElementById('btn-run').click();
      while (document.body.dataset.over !== '1') await new Promise((done) => requestAnimationFrame(done));
      page.push(performance.now() - t0);
    }

    // A program of exactly 16384 bytes that compiles (within 2048 tokens and
    // 2048 instructions): lines of an assignment and a comment, the last comment
    // lengthened to the byte. The keystrokes type and delete a character in a
    // comment halfway down, as many of each.
    const encoder = new TextEncoder();
    let body = '';
    for (let i = 0; ; i++) {
      const line = `SET a${i % 40} a${i % 40} + ${i % 10} // línea ${i}: ${'suma y sigue '.repeat(3)}\n`;
      if (encoder.encode(`START\n${body}${line}END\n`).length > 16384) break;
      body += line;
    }
    const pad = 16384 - encoder.encode(`START\n${body}END\n`).length;
    code.value = `START\n${body.slice(0, -1)}${'x'.repeat(pad)}\nEND\n`;
    code.dispatchEvent(new Event('input'));
    const middle = code.value.indexOf('// línea 120') + 3;
    const keystroke = [];
    for (let i = 0; i < 16; i++) {
      code.setRangeText(i % 2 ? '' : 'k', middle, middle + (i % 2), 'end');
      const t0 = performance.now();
      code.dispatchEvent(new Event('input'));
      void document.getElementById('highlight').offsetHeight;
      keystroke.push(performance.now() - t0);
    }
    return { example, worst, page: median(page), keystroke: median(keystroke), worstKeystroke: Math.max(...keystroke),
      bytes: encoder.encode(code.value).length, compiled: document.body.dataset.compiled };
  }, readFileSync(join(examplesDir, '01_primer_robot.zkv'), 'utf8'));
  check(times.worst.played === 3000 && times.example.played === 3000, 'las partidas medidas duran 3000 ticks',
    JSON.stringify(times));
  check(times.compiled === '1' && times.bytes === 16384, 'el programa medido ocupa 16384 bytes y compila',
    `${times.bytes} bytes`);
  console.log(`partida de 3000 ticks en el motor: 01_primer_robot ${times.example.ms.toFixed(1)} ms ` +
    `(${times.example.steps} instrucciones), todo el presupuesto en cada tick ${times.worst.ms.toFixed(1)} ms ` +
    `(${times.worst.steps} instrucciones); medianas de 9`);
  console.log(`la misma partida desde el botón Ejecutar a velocidad máxima hasta el último tick dibujado: ` +
    `${times.page.toFixed(1)} ms (mediana de 5)`);
  console.log(`una pulsación en un programa de ${times.bytes} bytes (compilar, diagnósticos, resaltado y ` +
    `maquetación): ${times.keystroke.toFixed(1)} ms de mediana, ${times.worstKeystroke.toFixed(1)} ms la peor de 16`);
  await page.close();
}

const { context, requests } = await launchChromium(chromium, join(work, 'profile'), { width: 1500, height: 1000 });
const scenario = (name, body) => runScenario(check, name, body);
try {
  await scenario('diagnósticos', () => diagnosticsScenario(context));
  await scenario('ejemplos', () => examplesScenario(context));
  await scenario('pasos de instrucción', () => stepScenario(context));
  await scenario('compartir', () => shareScenario(context));
  await scenario('cifras y sucesos', () => figuresScenario(context));
  await scenario('captura y tiempos', () => screenshotAndTimes(context));
} finally {
  await context.close();
}
const foreign = requests.filter((url) => !url.startsWith('file://'));
check(foreign.length === 0, 'la página no carga nada de fuera', foreign.join(' '));
console.log(`${passed} comprobaciones correctas, ${failed} fallidas`);
process.exit(failed === 0 ? 0 : 1);
