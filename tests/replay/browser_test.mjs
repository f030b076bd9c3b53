// Opens pages written by prendax_replay in Debian's headless Chromium and checks
// what a player sees: after stepping, sliding or playing to a tick, the panel
// shows that tick's values from the recorded frame (the --jsonl file) and the
// line of the current instruction (from prendax_cli --json); the field is drawn
// where the frame says; a run-time error is shown; a hostile program text stays
// text; and the page loads nothing beyond itself.
//
//   node browser_test.mjs REPLAY_BIN CLI_BIN ROBOTS_DIR OUT_DIR
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const [replayBin, cliBin, robotsDir, outDir] = process.argv.slice(2).map((p) => resolve(p));
mkdirSync(outDir, { recursive: true });

let passed = 0;
let failed = 0;
function check(ok, what, detail) {
  if (ok) {
    passed++;
  } else {
    failed++;
    console.log(`FALLO: ${what}${detail === undefined ? '' : ` — ${detail}`}`);
  }
}
function checkEqual(actual, expected, what) {
  const a = JSON.stringify(actual);
  const e = JSON.stringify(expected);
  check(a === e, what, `se vio ${a}, se esperaba ${e}`);
}

// One page from prendax_replay, with its frames and the compiled instructions.
function makeReplay(name, robot, options) {
  const page = join(outDir, `${name}.html`);
  const jsonl = join(outDir, `${name}.jsonl`);
  execFileSync(replayBin, [...options, robot, '-o', page, '--jsonl', jsonl], { stdio: ['ignore', 'pipe', 'inherit'] });
  const frames = readFileSync(jsonl, 'utf8').split('\n').filter((l) => l.length > 0).map((l) => JSON.parse(l));
  let compiled;
  try {
    compiled = execFileSync(cliBin, ['--json', robot], { encoding: 'utf8' });
  } catch (e) {
    throw new Error(`prendax_cli --json ${robot} failed: ${e.message}`);
  }
  return { page, frames, code: JSON.parse(compiled).code, robot };
}

// What the panel must show for a frame: every value straight from the frame,
// the instruction with its operand and the highlighted line from the listing.
function expectedPanel(frame, code) {
  const { vm, game } = frame;
  const ins = vm.pc >= 0 && vm.pc < code.length ? code[vm.pc] : null;
  // During a WAIT the highlighted line is the WAIT's own, which precedes the pc.
  const waiting = vm.status === 'esperando' && vm.pc > 0 && vm.pc <= code.length && code[vm.pc - 1].op === 'WAIT' &&
    vm.wait > 0;
  const shown = waiting ? code[vm.pc - 1] : ins;
  const line = shown && shown.line > 0 ? String(shown.line) : null;
  return {
    tick: String(game.ticks),
    health: String(game.health),
    score: String(game.score),
    wave: String(game.wave),
    enemies: String(game.enemies.length),
    level: String(game.level),
    status: vm.status,
    pc: String(vm.pc),
    instruction: vm.instruction + (ins && ins.operand ? ` ${ins.operand}` : ''),
    line: line ?? '—',
    steps: String(vm.steps),
    wait: waiting ? `${vm.wait} (quedan ${vm.wait} ticks del WAIT)` : String(vm.wait),
    budget: String(vm.budgetHits),
    loops: String(vm.loopDepth),
    stack: vm.stack.map(String),
    vars: vm.vars.map((v) => [v.name, String(v.value)]),
    currentLine: line,
    error: vm.error ? `línea ${vm.error.line}: ${vm.error.message}` : null,
  };
}

async function readPanel(page) {
  return page.evaluate(() => {
    const text = (id) => document.getElementById(id).textContent;
    const current = document.querySelector('.src-line.current .ln');
    const box = document.getElementById('error-box');
    const out = { frame: Number(document.body.dataset.frame) };
    for (const k of ['tick', 'health', 'score', 'wave', 'enemies', 'level', 'status', 'pc', 'instruction', 'line',
      'steps', 'wait', 'budget', 'loops']) {
      out[k] = text('v-' + k);
    }
    out.stack = [...document.querySelectorAll('#stack li')].map((li) => li.textContent);
    out.vars = [...document.querySelectorAll('#vars tbody tr')].map((tr) => [tr.cells[0].textContent,
      tr.cells[1].textContent]);
    out.currentLine = current ? current.textContent : null;
    out.error = box.hidden ? null : document.getElementById('error-text').textContent;
    out.scrub = Number(document.getElementById('scrub').value);
    out.position = text('frame-index');
    return out;
  });
}

async function checkPanelAt(page, replay, index, how) {
  const seen = await readPanel(page);
  const want = expectedPanel(replay.frames[index], replay.code);
  check(seen.frame === index, `${how}: fotograma ${index}`, `se mostró ${seen.frame}`);
  check(seen.scrub === index && seen.position === String(index), `${how}: deslizador y posición en ${index}`,
    `${seen.scrub} / ${seen.position}`);
  for (const [key, value] of Object.entries(want)) checkEqual(seen[key], value, `${how}, tick ${index}: ${key}`);
}

// Pixels of the field as the canvas holds them, read in the page.
async function fieldPixels(page) {
  return page.evaluate(() => {
    const canvas = document.getElementById('field');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    return { width: canvas.width, height: canvas.height, scale: canvas.width / 480, data: Array.from(data) };
  });
}
function pixel(f, x, y) {
  const px = Math.round(x * f.scale);
  const py = Math.round(y * f.scale);
  const i = (py * f.width + px) * 4;
  return [f.data[i], f.data[i + 1], f.data[i + 2]];
}
const near = (a, b, tolerance = 6) => a.every((v, i) => Math.abs(v - b[i]) <= tolerance);
const SKY = [5, 8, 20];
const SHIP = [79, 209, 255];
const ENEMY = [[125, 255, 154], [255, 179, 71], [214, 123, 255]];
const FLASH = [255, 255, 255];

function checkFieldDrawn(f, frame, how) {
  let lit = 0;
  const colours = new Set();
  for (let i = 0; i < f.data.length; i += 4) {
    const c = [f.data[i], f.data[i + 1], f.data[i + 2]];
    if (!near(c, SKY, 30)) lit++;
    colours.add(c.join(','));
  }
  const share = lit / (f.width * f.height);
  check(share > 0.003 && colours.size > 20, `${how}: el campo no está en blanco`,
    `${(share * 100).toFixed(2)} % de píxeles dibujados, ${colours.size} colores`);
  const g = frame.game;
  // A point of the ship's left wing, where neither the cockpit nor the flame is drawn.
  if (!g.shield && g.hitFlash === 0 && g.explosions.length === 0) {
    const seen = pixel(f, g.px - 6, g.py + 6);
    check(near(seen, SHIP), `${how}: la nave está en (${g.px}, ${g.py})`, `color ${seen}`);
  }
  // Enemies enter from above the field: only those inside it can be seen.
  const inside = g.enemies.filter((e) => e.y > 0 && e.y < 620 && e.x > 0 && e.x < 480);
  let found = 0;
  for (const e of inside) {
    const seen = pixel(f, e.x, e.y + 6);
    if (near(seen, e.hit > 0 ? FLASH : ENEMY[e.type])) found++;
  }
  check(found * 2 >= inside.length, `${how}: enemigos dibujados en su sitio`, `${found} de ${inside.length}`);
}

async function openPage(context, file) {
  const page = await context.newPage();
  const problems = [];
  page.on('pageerror', (e) => problems.push(`error de la página: ${e.message}`));
  page.on('console', (m) => {
    if (m.type() === 'error') problems.push(`consola: ${m.text()}`);
  });
  const url = pathToFileURL(file).href;
  await page.goto(url);
  await page.waitForSelector('body[data-ready="1"]', { timeout: 10000 });
  return { page, problems, url };
}

async function testMatch(context, replay) {
  const { page, problems } = await openPage(context, replay.page);
  const last = replay.frames.length - 1;
  checkEqual(await page.textContent('#frame-last'), String(last), 'último fotograma');
  await checkPanelAt(page, replay, 0, 'al abrir');
  checkFieldDrawn(await fieldPixels(page), replay.frames[0], 'al abrir');

  for (let i = 0; i < 25; i++) await page.keyboard.press('ArrowRight');
  await checkPanelAt(page, replay, 25, 'tras 25 veces →');
  for (let i = 0; i < 3; i++) await page.keyboard.press('Shift+ArrowRight');
  await checkPanelAt(page, replay, 55, 'tras 3 veces Mayús+→');
  await page.keyboard.press('ArrowLeft');
  await checkPanelAt(page, replay, 54, 'tras ←');
  await page.click('#btn-forward');
  await page.click('#btn-forward');
  await checkPanelAt(page, replay, 56, 'tras dos clics en adelante');
  await page.click('#btn-back');
  await checkPanelAt(page, replay, 55, 'tras un clic atrás');

  // The busiest frame (enemies, bullets of both sides and explosions) makes the screenshot.
  const busy = replay.frames.reduce((best, f, i) => {
    const g = f.game;
    const own = g.bullets.filter((b) => b.friendly).length;
    const shown = g.enemies.filter((e) => e.y > 40).length;
    const score = Math.min(shown, 4) * 2 + Math.min(own, 3) + Math.min(g.bullets.length - own, 3) +
      Math.min(g.explosions.length, 3) * 2;
    return score > best.score ? { score, i } : best;
  }, { score: -1, i: 0 }).i;
  await page.$eval('#scrub', (el, v) => {
    el.value = String(v);
    el.dispatchEvent(new Event('input', { bubbles: true }));
  }, busy);
  await checkPanelAt(page, replay, busy, 'con el deslizador');
  checkFieldDrawn(await fieldPixels(page), replay.frames[busy], `con el deslizador en ${busy}`);
  const shot = join(outDir, 'replay-busy.png');
  await page.screenshot({ path: shot, fullPage: true });
  console.log(`captura: ${shot} (tick ${busy})`);

  await page.keyboard.press('End');
  await checkPanelAt(page, replay, last, 'con Fin');
  const outcome = await page.textContent('#outcome');
  check(outcome.startsWith(`Resultado: ${replay.frames[last].vm.status}`), 'el resultado final en la cabecera',
    outcome);
  await page.screenshot({ path: join(outDir, 'replay-end.png'), fullPage: true });
  await page.keyboard.press('Home');
  await checkPanelAt(page, replay, 0, 'con Inicio');

  // Playing: Space starts and stops; what is shown then is the frame at the slider.
  await page.keyboard.press('Space');
  checkEqual(await page.getAttribute('body', 'data-playing'), '1', 'Espacio reproduce');
  await page.waitForTimeout(500);
  await page.keyboard.press('Space');
  checkEqual(await page.getAttribute('body', 'data-playing'), '0', 'Espacio pausa');
  const reached = Number(await page.getAttribute('body', 'data-frame'));
  check(reached > 5 && reached < last, 'la reproducción avanzó', `fotograma ${reached}`);
  await checkPanelAt(page, replay, reached, 'tras reproducir y pausar');

  // A focused button takes Space once: the shortcut, not a second click.
  await page.focus('#btn-play');
  await page.keyboard.press('Space');
  checkEqual(await page.getAttribute('body', 'data-playing'), '1', 'Espacio sobre el botón reproduce');
  await page.keyboard.press('Space');
  checkEqual(await page.getAttribute('body', 'data-playing'), '0', 'Espacio sobre el botón pausa');

  // Speed: + and - walk the list; at 8× the whole match plays out and stops at the end.
  await page.keyboard.press('+');
  checkEqual(await page.inputValue('#speed'), '2', '+ sube la velocidad');
  await page.keyboard.press('-');
  await page.keyboard.press('-');
  checkEqual(await page.inputValue('#speed'), '0.5', '- baja la velocidad');
  await page.selectOption('#speed', '8');
  await page.keyboard.press('End');
  await page.keyboard.press('Shift+ArrowLeft');
  await page.keyboard.press('Shift+ArrowLeft');
  await page.keyboard.press('Space');
  await page.waitForFunction(() => document.body.dataset.playing === '0', null, { timeout: 5000 });
  await checkPanelAt(page, replay, last, 'reproducido hasta el final a 8×');

  // Smooth for a whole match: showing every frame in turn costs little each.
  const cost = await page.evaluate((count) => {
    const scrub = document.getElementById('scrub');
    const start = performance.now();
    for (let i = 0; i < count; i++) {
      scrub.value = String(i);
      scrub.dispatchEvent(new Event('input', { bubbles: true }));
    }
    return (performance.now() - start) / count;
  }, replay.frames.length);
  console.log(`coste por fotograma: ${cost.toFixed(2)} ms en ${replay.frames.length} fotogramas`);
  check(cost < 16, 'cada fotograma se muestra en menos de 16 ms', `${cost.toFixed(2)} ms`);

  check(problems.length === 0, 'sin errores en la página', problems.join('; '));
  await page.close();
}

async function testRuntimeError(context, replay) {
  const { page, problems } = await openPage(context, replay.page);
  const last = replay.frames.length - 1;
  const firstError = replay.frames.findIndex((f) => f.vm.error !== null);
  check(firstError > 0, 'el programa falla en algún tick', `primer error en ${firstError}`);
  await checkPanelAt(page, replay, 0, 'antes del error');
  await page.$eval('#scrub', (el, v) => {
    el.value = String(v);
    el.dispatchEvent(new Event('input', { bubbles: true }));
  }, firstError);
  await checkPanelAt(page, replay, firstError, 'en el tick del error');
  await page.keyboard.press('End');
  await checkPanelAt(page, replay, last, 'al final de la partida con error');
  const error = replay.frames[last].vm.error;
  const outcome = await page.textContent('#outcome');
  check(outcome.includes(`Error de ejecución: línea ${error.line}: ${error.message}`),
    'la cabecera muestra el error de ejecución', outcome);
  check(await page.isVisible('#error-box'), 'el recuadro de error se ve');
  const marked = await page.$$eval('.src-line.error-line .ln', (n) => n.map((x) => x.textContent));
  checkEqual(marked, [String(error.line)], 'la línea del error está marcada');
  await page.screenshot({ path: join(outDir, 'replay-error.png'), fullPage: true });
  check(problems.length === 0, 'sin errores en la página con error', problems.join('; '));
  await page.close();
}

// A program whose comments try to end the data block and run a script, with
// bytes that are not UTF-8 and Windows line ends, under a name with markup.
async function testHostileSource(context, work) {
  // Folders named '<' and 'script>...<' make the path itself read '</script><script>...'.
  const folder = join(work, '<', 'script><script>window.pwned = 3<');
  mkdirSync(folder, { recursive: true });
  const robot = join(folder, 'script><b>&amp;<!--.zkv');
  const bytes = Buffer.concat([
    Buffer.from('// </script><script>window.pwned = 1</script> <!-- \r\n'),
    Buffer.from([0x2f, 0x2f, 0x20, 0xff, 0xfe, 0x0d, 0x0a]),
    Buffer.from('SET a 2\r\nWHILE 1 { SET a a + 1 WAIT 1 }\r\n// </SCRIPT><img src=x onerror="window.pwned=2">\r\n'),
  ]);
  writeFileSync(robot, bytes);
  const replay = makeReplay('hostile', robot, ['--ticks', '30']);
  const { page, problems } = await openPage(context, replay.page);
  checkEqual(await page.evaluate(() => window.pwned === undefined), true, 'el texto del programa no se ejecuta');
  // meta, frames, events, per-line counts, trace, and the viewer's script
  checkEqual(await page.evaluate(() => document.scripts.length), 6, 'solo los seis bloques de la página');
  checkEqual(await page.evaluate(() => document.images.length), 0, 'ninguna imagen del programa');
  const lines = await page.$$eval('.src-line .code', (n) => n.map((x) => x.textContent));
  checkEqual(lines, [
    '// </script><script>window.pwned = 1</script> <!-- ',
    '// \uFFFD\uFFFD',
    'SET a 2',
    'WHILE 1 { SET a a + 1 WAIT 1 }',
    '// </SCRIPT><img src=x onerror="window.pwned=2">',
  ], 'el programa se muestra tal cual');
  checkEqual(await page.textContent('#program-name'), robot, 'el nombre del programa tal cual');
  for (let i = 0; i < 12; i++) await page.keyboard.press('ArrowRight');
  await checkPanelAt(page, replay, 12, 'programa hostil, tick 12');
  check(problems.length === 0, 'sin errores en la página hostil', problems.join('; '));
  await page.close();
}

const work = mkdtempSync(join(tmpdir(), 'prendax-replay-'));
const context = await chromium.launchPersistentContext(join(work, 'profile'), {
  executablePath: '/usr/bin/chromium',
  headless: true,
  viewport: { width: 1400, height: 900 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const requests = [];
context.on('request', (r) => requests.push(r.url()));
// A scenario that throws (a page that never gets ready, say) counts as one failure.
async function scenario(name, body) {
  try {
    await body();
  } catch (e) {
    check(false, `${name}: se interrumpió`, e.message.split('\n')[0]);
  }
}

try {
  const pages = [join(outDir, 'hunter.html'), join(outDir, 'divide.html'), join(outDir, 'hostile.html')];
  await scenario('partida ganada', () =>
    testMatch(context, makeReplay('hunter', join(robotsDir, 'hunter.zkv'), ['--ticks', '5000'])));
  await scenario('error de ejecución', () => testRuntimeError(context,
    makeReplay('divide', join(robotsDir, 'divide_by_zero.zkv'), ['--level', '3', '--ticks', '3000'])));
  await scenario('programa hostil', () => testHostileSource(context, work));
  const allowed = new Set(pages.map((p) => pathToFileURL(p).href));
  const foreign = requests.filter((u) => !allowed.has(u));
  check(foreign.length === 0, 'las páginas no piden nada más que a sí mismas', foreign.join(' '));
} finally {
  await context.close();
  rmSync(work, { recursive: true, force: true });
}

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
