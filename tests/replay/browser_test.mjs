// Opens pages written by prendax_replay in Debian's headless Chromium and checks
// what a player sees: after stepping, sliding or playing to a tick, the panel
// shows that tick's values from the recorded frame (the --jsonl file) and the
// line of the current instruction (from prendax_cli --json); the field is drawn
// where the frame says; a run-time error is shown; a hostile program text stays
// text; the page loads nothing beyond itself; and the page explains the match:
// event marks, instructions per line, the chart and stepping through a trace.
//
//   node browser_test.mjs REPLAY_BIN CLI_BIN ARENA_BIN ROBOTS_DIR OUT_DIR
import { execFileSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { launchChromium, scenario as runScenario } from '../browser/chromium.mjs';

const [replayBin, cliBin, arenaBin, robotsDir, outDir] = process.argv.slice(2).map((p) => resolve(p));
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
  // The JSONL holds the frames and, for traced ticks, one trace line before each tick's frame.
  const records = readFileSync(jsonl, 'utf8').split('\n').filter((l) => l.length > 0).map((l) => JSON.parse(l));
  const frames = records.filter((r) => r.trace === undefined);
  const traces = records.filter((r) => r.trace !== undefined).map((r) => r.trace);
  let compiled;
  try {
    compiled = execFileSync(cliBin, ['--json', robot], { encoding: 'utf8' });
  } catch (e) {
    throw new Error(`prendax_cli --json ${robot} failed: ${e.message}`);
  }
  return { page, frames, traces, code: JSON.parse(compiled).code, robot };
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
async function fieldPixels(page, frame) {
  const f = await page.evaluate(() => {
    const canvas = document.getElementById('field');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    return { width: canvas.width, height: canvas.height, data: Array.from(data) };
  });
  // The canvas holds the frame's field, scaled alike both ways.
  f.scale = f.width / frame.game.width;
  check(f.scale >= 1 && Math.abs(f.height - frame.game.height * f.scale) < 1, 'el lienzo tiene el tamaño del campo',
    `${f.width}×${f.height} para ${frame.game.width}×${frame.game.height}`);
  return f;
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
  const inside = g.enemies.filter((e) => e.y > 0 && e.y < g.height - 20 && e.x > 0 && e.x < g.width);
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
  // The game's facts in the page agree with what the frames show.
  const facts = await page.evaluate(() => JSON.parse(document.getElementById('replay-meta').textContent).game);
  const [first, end] = [replay.frames[0].game, replay.frames[last].game];
  checkEqual([facts.width, facts.height, facts.startHealth], [first.width, first.height, first.health],
    'tamaño del campo y salud inicial en los datos de la página');
  checkEqual(facts.gameStatus[replay.frames[last].vm.status], end.status,
    'el código del resultado en los datos de la página');
  await checkPanelAt(page, replay, 0, 'al abrir');
  checkFieldDrawn(await fieldPixels(page, replay.frames[0]), replay.frames[0], 'al abrir');

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
  checkFieldDrawn(await fieldPixels(page, replay.frames[busy]), replay.frames[busy], `con el deslizador en ${busy}`);
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

async function seekWithSlider(page, index) {
  await page.$eval('#scrub', (el, v) => {
    el.value = String(v);
    el.dispatchEvent(new Event('input', { bubbles: true }));
  }, index);
}

// What each tick's frames say happened, independent of the event log: the
// health lost, the points won and the wave begun in each tick.
function changesFromFrames(frames) {
  const out = [];
  for (let i = 1; i < frames.length; i++) {
    const [a, b] = [frames[i - 1].game, frames[i].game];
    out.push({ tick: b.ticks, lost: a.health - b.health, won: b.score - a.score, wave: b.wave !== a.wave ? b.wave : 0 });
  }
  return out;
}

// The page's answers to "why": markers and the event list against the frames,
// the per-line counts against prendax_arena --profile for the same match, the
// WAIT's ticks left, and stepping through a traced tick against the trace.
async function testWhy(context, robot, options, seed, level, ticks) {
  const replay = makeReplay('why', robot, [...options, '--seed', String(seed), '--level', String(level), '--ticks',
    String(ticks)]);
  const { frames } = replay;
  const last = frames.length - 1;
  const { page, problems } = await openPage(context, replay.page);

  // Markers: one per recorded event, at its tick; every change of health,
  // score and wave in the frames has its events there, summing to the change.
  const marks = await page.$$eval('#timeline .mark', (n) => n.map((m) => [Number(m.dataset.tick), m.dataset.kind,
    m.style.left]));
  const events = await page.evaluate(() => JSON.parse(document.getElementById('replay-events').textContent));
  checkEqual(marks.map((m) => [m[0], m[1]]), events.map((e) => [e[0], e[1]]), 'una marca por suceso registrado');
  check(events.length > 10, 'la partida tiene sucesos', `${events.length}`);
  const byTick = new Map();
  for (const e of events) {
    if (!byTick.has(e[0])) byTick.set(e[0], []);
    byTick.get(e[0]).push(e);
  }
  let mismatches = [];
  for (const c of changesFromFrames(frames)) {
    const here = byTick.get(c.tick) || [];
    const lost = here.filter((e) => e[1] === 'dano').reduce((s, e) => s + e[3], 0);
    const won = here.filter((e) => e[1] === 'destruido').reduce((s, e) => s + e[5], 0);
    const wave = here.filter((e) => e[1] === 'oleada').reduce((s, e) => s + e[3], 0);
    if (lost !== c.lost || won !== c.won || wave !== c.wave) mismatches.push(JSON.stringify({ ...c, lost, won, wave }));
  }
  check(mismatches.length === 0, 'los sucesos explican cada cambio de salud, puntos y oleada de los fotogramas',
    mismatches.slice(0, 3).join(' '));
  const end = frames[last].vm.status;
  check(byTick.get(frames[last].game.ticks)?.some((e) => e[1] === end), `una marca de ${end} en el último tick`);
  const items = await page.$$eval('#events li', (n) => n.map((li) => Number(li.dataset.tick)));
  checkEqual(items, events.map((e) => e[0]), 'la lista de sucesos, en orden');

  // Clicking an event or a mark seeks to its tick; N and P walk the events.
  const damage = events.findIndex((e) => e[1] === 'dano');
  check(damage >= 0, 'hay algún daño en la partida');
  await page.click(`#events li:nth-child(${damage + 1})`);
  await checkPanelAt(page, replay, events[damage][0], 'clic en el primer daño de la lista');
  await page.$eval(`#timeline .mark:nth-child(${events.length})`, (m) => m.click());
  await checkPanelAt(page, replay, Math.min(last, events[events.length - 1][0]), 'clic en la última marca');
  await page.keyboard.press('Home');
  await page.keyboard.press('n');
  await checkPanelAt(page, replay, events.find((e) => e[0] > 0)[0], 'N: el primer suceso');
  const ticksWithEvents = [...new Set(events.map((e) => e[0]))];
  await page.keyboard.press('n');
  await page.keyboard.press('n');
  await page.keyboard.press('p');
  await checkPanelAt(page, replay, ticksWithEvents.filter((x) => x > 0)[1], 'N N P: el segundo tick con sucesos');

  // Per line: the instructions executed up to the last tick are the profile's.
  const profile = JSON.parse(execFileSync(arenaBin, ['--seeds', `${seed}-${seed}`, '--levels', String(level), '--ticks',
    String(ticks), '--profile', '--json', robot], { encoding: 'utf8' })).profile[0].lines;
  const readCounts = () => page.$$eval('.src-line', (rows) => rows.map((r) => ({
    line: Number(r.querySelector('.ln').textContent),
    total: r.querySelector('.cnt').textContent,
    tick: r.querySelector('.cnt-tick').textContent,
    stop: r.classList.contains('budget-stop'),
    note: r.querySelector('.note').textContent,
  })));
  await page.keyboard.press('End');
  const atEnd = await readCounts();
  const ran = profile.filter((l) => l.executed > 0).map((l) => [l.line, String(l.executed)]);
  checkEqual(atEnd.filter((r) => r.total !== '' && r.total !== '0').map((r) => [r.line, r.total]), ran,
    'instrucciones por línea al final = prendax_arena --profile');
  const stops = profile.reduce((s, l) => s + l.budgetStops, 0);
  check(stops > 10, 'el presupuesto se agota en la partida', `${stops}`);

  // In every sampled tick: the counts of this tick add up to the steps the
  // frames show, the totals to all the steps so far, and the budget's line is
  // marked exactly when the budget ran out.
  let stopsSeen = 0;
  const badTicks = [];
  for (let i = 1; i <= last; i += Math.max(1, Math.floor(last / 60))) {
    await seekWithSlider(page, i);
    const rows = await readCounts();
    const thisTick = rows.reduce((s, r) => s + (r.tick ? Number(r.tick) : 0), 0);
    const sofar = rows.reduce((s, r) => s + (r.total ? Number(r.total) : 0), 0);
    const stopped = frames[i].vm.budgetHits - frames[i - 1].vm.budgetHits;
    const marked = rows.filter((r) => r.stop).length;
    if (marked) stopsSeen++;
    if (thisTick !== frames[i].vm.steps - frames[i - 1].vm.steps || sofar !== frames[i].vm.steps || marked !== stopped) {
      badTicks.push(`${i}: ${thisTick}/${sofar}/${marked}`);
    }
    const { vm } = frames[i];
    const ins = vm.pc > 0 && vm.pc <= replay.code.length ? replay.code[vm.pc - 1] : null;
    if (vm.status === 'esperando' && vm.wait > 0 && ins && ins.op === 'WAIT') {
      const noted = rows.filter((r) => r.note !== '').map((r) => [r.line, r.note]);
      checkEqual(noted, [[ins.line, `WAIT: quedan ${vm.wait}`]], `tick ${i}: el WAIT dice cuántos ticks le quedan`);
    }
  }
  check(badTicks.length === 0, 'cifras de cada tick = pasos de los fotogramas', badTicks.slice(0, 4).join(' '));
  check(stopsSeen > 0, 'alguna línea marcada donde se agotó el presupuesto');

  // The chart: clicking its middle seeks to the middle of the match.
  const box = await page.locator('#chart').boundingBox();
  await page.locator('#chart').click({ position: { x: box.width / 2, y: box.height / 2 } });
  const middle = Number(await page.getAttribute('body', 'data-frame'));
  check(Math.abs(middle - last / 2) <= last / 50 + 1, 'clic en la gráfica va a su tick', `${middle} de ${last}`);
  const picked = await page.$$eval('#chart-var option', (n) => n.map((o) => o.value));
  check(picked.includes('k'), 'la gráfica ofrece las variables del programa', picked.join(','));
  await page.selectOption('#chart-var', 'k');

  // Stepping: from the first traced tick, each instruction of the trace in turn
  // with its stack, and on into the next traced tick.
  const traced = replay.traces;
  check(traced.length >= 2, 'la traza tiene al menos dos ticks', `${traced.length}`);
  await seekWithSlider(page, traced[0].tick);
  const readStep = () => page.evaluate(() => ({
    frame: Number(document.body.dataset.frame),
    step: Number(document.body.dataset.step),
    ins: document.getElementById('trace-ins').textContent,
    stack: [...document.querySelectorAll('#trace-stack li')].map((li) => li.textContent),
    line: document.querySelector('.src-line.trace-line .ln')?.textContent ?? null,
  }));
  const walked = [];
  for (const { tick, steps } of traced.slice(0, 2)) {
    for (let k = 0; k < steps.length; k++) {
      await page.keyboard.press('.');
      const seen = await readStep();
      const [, pc, line, op, operand, sp, top] = steps[k];
      const want = { frame: tick, step: k, ins: `pc ${pc} · línea ${line} · ${op}${operand ? ' ' + operand : ''}`,
        depth: sp, top: sp > 0 ? String(top) : null, line: String(line) };
      const got = { frame: seen.frame, step: seen.step, ins: seen.ins, depth: seen.stack.length,
        top: seen.stack.length ? seen.stack[0] : null, line: seen.line };
      if (JSON.stringify(got) !== JSON.stringify(want)) walked.push(`${JSON.stringify(got)} ≠ ${JSON.stringify(want)}`);
      // Before a tick's first instruction the stack is the one the previous frame left.
      if (k === 0) checkEqual(seen.stack, frames[tick - 1].vm.stack.map(String), `tick ${tick}: pila al empezar`);
    }
  }
  check(walked.length === 0, 'el paso a paso recorre la traza', walked.slice(0, 2).join(' | '));
  await page.keyboard.press(',');
  const back = await readStep();
  checkEqual([back.frame, back.step], [traced[1].tick, traced[1].steps.length - 2], ', vuelve una instrucción');

  // The screenshot: a tick with a mark, the chart and a step of the trace.
  const shot = join(outDir, 'replay-why.png');
  await page.screenshot({ path: shot, fullPage: true });
  console.log(`captura: ${shot} (marcas, gráfica y paso a paso)`);
  check(problems.length === 0, 'sin errores en la página de sucesos', problems.join('; '));
  await page.close();
}

// Load and seek times of a long match, printed for the report (not a timed test).
async function measureLongMatch(context, robot, options) {
  const replay = makeReplay('long', robot, options);
  const { page, problems } = await openPage(context, replay.page);
  const loaded = await page.evaluate(() => performance.getEntriesByType('navigation')[0].domComplete);
  const script = Number(await page.getAttribute('body', 'data-ready-ms'));
  const seek = await page.evaluate((count) => {
    const scrub = document.getElementById('scrub');
    let s = 12345;
    const start = performance.now();
    for (let i = 0; i < 300; i++) {
      s = (s * 1103515245 + 12345) % 2147483648;
      scrub.value = String(s % count);
      scrub.dispatchEvent(new Event('input', { bubbles: true }));
    }
    return (performance.now() - start) / 300;
  }, replay.frames.length);
  console.log(`partida larga: ${replay.frames.length} fotogramas, página cargada en ${loaded.toFixed(0)} ms ` +
    `(de ellos, el guion del visor ${script.toFixed(0)} ms), ` +
    `salto a un tick al azar ${seek.toFixed(2)} ms de media`);
  check(replay.frames.length >= 4000, 'la partida larga es larga', `${replay.frames.length}`);
  check(problems.length === 0, 'sin errores en la página larga', problems.join('; '));
  await page.close();
}

// A line of many words and one of a single long word.
const LONG_WORDS = 'una línea de comentario muy larga que sigue y sigue '.repeat(12).trim();
const LONG_WORD = 'x'.repeat(400);

// A program whose comments try to end the data block and run a script, with
// bytes that are not UTF-8 (shown as U+FFFD), Windows line ends and long lines,
// under a name with markup.
async function testHostileSource(context, work) {
  // Folders named '<' and 'script>...<' make the path itself read '</script><script>...'.
  const folder = join(work, '<', 'script><script>window.pwned = 3<');
  mkdirSync(folder, { recursive: true });
  const robot = join(folder, 'script><b>&amp;<!--.zkv');
  const bytes = Buffer.concat([
    Buffer.from('// </script><script>window.pwned = 1</script> <!-- \r\n'),
    Buffer.from([0x2f, 0x2f, 0x20, 0xff, 0xfe, 0x0d, 0x0a]),
    Buffer.from('SET a 2\r\nWHILE 1 { SET a a + 1 WAIT 1 }\r\n// </SCRIPT><img src=x onerror="window.pwned=2">\r\n'),
    Buffer.from(`// ${LONG_WORDS}\n// ${LONG_WORD}\n`),
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
    `// ${LONG_WORDS}`,
    `// ${LONG_WORD}`,
  ], 'el programa se muestra tal cual');
  // Long lines wrap inside the program box: all their text can be read
  // without scrolling sideways, and each keeps one line number.
  const wrap = await page.evaluate(() => {
    const box = document.getElementById('source');
    const rows = [...document.querySelectorAll('.src-line')];
    const one = rows[0].getBoundingClientRect().height;
    return { overflow: box.scrollWidth - box.clientWidth, rows: rows.length,
      tall: rows.slice(-2).map((r) => r.getBoundingClientRect().height > 2 * one),
      inside: rows.slice(-2).every((r) => r.querySelector('.code').getBoundingClientRect().right <=
        box.getBoundingClientRect().right + 1) };
  });
  checkEqual(wrap, { overflow: 0, rows: 7, tall: [true, true], inside: true },
    'las líneas largas se parten dentro del recuadro del programa');
  checkEqual(await page.textContent('#program-name'), robot, 'el nombre del programa tal cual');
  for (let i = 0; i < 12; i++) await page.keyboard.press('ArrowRight');
  await checkPanelAt(page, replay, 12, 'programa hostil, tick 12');
  check(problems.length === 0, 'sin errores en la página hostil', problems.join('; '));
  await page.close();
}

const work = mkdtempSync(join(tmpdir(), 'prendax-replay-'));
const { context, requests } = await launchChromium(chromium, join(work, 'profile'), { width: 1400, height: 900 });
const scenario = (name, body) => runScenario(check, name, body);

try {
  const pages = ['hunter', 'divide', 'hostile', 'why', 'long'].map((n) => join(outDir, `${n}.html`));
  await scenario('partida ganada', () =>
    testMatch(context, makeReplay('hunter', join(robotsDir, 'hunter.zkv'), ['--ticks', '5000'])));
  await scenario('error de ejecución', () => testRuntimeError(context,
    makeReplay('divide', join(robotsDir, 'divide_by_zero.zkv'), ['--level', '3', '--ticks', '3000'])));
  await scenario('programa hostil', () => testHostileSource(context, work));
  await scenario('por qué', () => testWhy(context, join(robotsDir, 'busy.zkv'), ['--trace', '300-302'], 7, 2, 5000));
  await scenario('partida larga', () => measureLongMatch(context, join(robotsDir, 'long_match.zkv'),
    ['--seed', '374', '--level', '1', '--ticks', '5000']));
  const allowed = new Set(pages.map((p) => pathToFileURL(p).href));
  const foreign = requests.filter((u) => !allowed.has(u));
  check(foreign.length === 0, 'las páginas no piden nada más que a sí mismas', foreign.join(' '));
} finally {
  await context.close();
  rmSync(work, { recursive: true, force: true });
}

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
