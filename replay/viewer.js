// The replay viewer. The page holds JSON data blocks: "replay-meta" (the
// program's path, the match options, one entry per instruction with its opcode,
// operand and source line, and the source text in base64), "replay-frames"
// (one frame document per line, the first the state right after set-up),
// "replay-events" (what happened in each tick), "replay-lines" (per tick, the
// instructions executed on each source line and the line where the budget ran
// out) and "replay-trace" (every instruction of the traced ticks). The viewer
// draws one frame on the field and shows its state beside it; a frame is
// parsed in full only when shown, and every figure over the whole match is
// computed once at load, so a long match plays and seeks smoothly.
(function () {
  'use strict';

  const startedAt = performance.now();

  const TICKS_PER_SECOND = 60;   // playback rate at 1×
  const BIG_STEP = 10;           // ticks per step with Shift held
  const MAX_FRAME_GAP_MS = 250;  // a stalled tab does not jump ahead on return

  const $ = (id) => document.getElementById(id);

  // ---- data ---------------------------------------------------------------

  function readJsonBlock(id) {
    const node = $(id);
    if (!node) return null;
    try {
      return JSON.parse(node.textContent);
    } catch (e) {
      return null;
    }
  }

  // Any bytes may stand in a program: invalid UTF-8 shows as replacement marks.
  function decodeBase64Text(text) {
    try {
      const binary = atob(text || '');
      const bytes = new Uint8Array(binary.length);
      for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
      return new TextDecoder('utf-8').decode(bytes);
    } catch (e) {
      return '';
    }
  }

  const meta = readJsonBlock('replay-meta') || {};
  const code = Array.isArray(meta.code) ? meta.code : [];
  const framesNode = $('replay-frames');
  const frameLines = (framesNode ? framesNode.textContent : '').split('\n').filter((line) => line.length > 0);
  const lastIndex = Math.max(0, frameLines.length - 1);

  // The lexer counts lines at line feeds only; a carriage return before one is not shown.
  const sourceLines = decodeBase64Text(meta.source).split('\n').map((line) => line.replace(/\r$/, ''));
  if (sourceLines.length > 1 && sourceLines[sourceLines.length - 1] === '') sourceLines.pop();

  let cachedIndex = -1;
  let cachedFrame = null;
  function frameAt(i) {
    if (i !== cachedIndex) {
      cachedIndex = i;
      cachedFrame = null;
      try {
        const frame = JSON.parse(frameLines[i]);
        if (frame && typeof frame.vm === 'object' && typeof frame.game === 'object') cachedFrame = frame;
      } catch (e) {
        cachedFrame = null;
      }
    }
    return cachedFrame;
  }

  // Frame i shows the state after tick i: the data of tick i is entry i - 1.
  const events = (readJsonBlock('replay-events') || []).filter((e) => Array.isArray(e) && Number.isInteger(e[0]));
  const tickLines = readJsonBlock('replay-lines') || [];
  const traceSteps = readJsonBlock('replay-trace') || [];

  // ---- field --------------------------------------------------------------

  // The game's facts (field size, start health, codes) as the engine wrote them.
  const facts = meta.game && typeof meta.game === 'object' ? meta.game : null;
  const field = PrendaxField.create($('field'), facts);
  const drawField = field.draw;

  // ---- panel --------------------------------------------------------------

  // The panel's fields are filled by the code it shares with the playground.
  const { setText, show, errorSentence } = PrendaxPanel;
  const panel = PrendaxPanel.create(document);
  const sourceBox = $('source');

  function fillPanel(frame) {
    const vm = frame ? frame.vm : {};
    const where = panel.fill(frame, code);
    markSource(where.line, vm.error ? vm.error.line : 0);
    markNote(where.waiting ? where.line : 0, where.waiting ? `WAIT: quedan ${vm.wait}` : '');
  }

  // ---- source -------------------------------------------------------------

  const lineNodes = [];
  {
    const fragment = document.createDocumentFragment();
    sourceLines.forEach((text, i) => {
      const row = document.createElement('div');
      row.className = 'src-line';
      const parts = {};
      for (const name of ['ln', 'cnt', 'cnt-tick', 'code', 'note']) {
        const span = document.createElement('span');
        span.className = name;
        parts[name] = span;
        row.appendChild(span);
      }
      parts.ln.textContent = String(i + 1);
      parts.code.textContent = text;
      row.parts = parts;
      fragment.appendChild(row);
      lineNodes.push(row);
    });
    sourceBox.appendChild(fragment);
  }

  let markedLine = 0;
  let markedErrorLine = 0;
  function lineNode(line) {
    return line > 0 && line <= lineNodes.length ? lineNodes[line - 1] : null;
  }

  // Keeps a line in view inside the program box without moving the page.
  function keepVisible(node) {
    const top = node.offsetTop;
    const bottom = top + node.offsetHeight;
    const margin = node.offsetHeight * 2;
    if (top < sourceBox.scrollTop + margin) sourceBox.scrollTop = Math.max(0, top - margin);
    else if (bottom > sourceBox.scrollTop + sourceBox.clientHeight - margin) {
      sourceBox.scrollTop = bottom - sourceBox.clientHeight + margin;
    }
  }

  function markSource(line, errorLine) {
    if (line !== markedLine) {
      const old = lineNode(markedLine);
      if (old) old.classList.remove('current');
      const now = lineNode(line);
      if (now) {
        now.classList.add('current');
        keepVisible(now);
      }
      markedLine = line;
    }
    if (errorLine !== markedErrorLine) {
      const old = lineNode(markedErrorLine);
      if (old) old.classList.remove('error-line');
      const now = lineNode(errorLine);
      if (now) now.classList.add('error-line');
      markedErrorLine = errorLine;
    }
  }

  // One note at a time beside a line: the ticks a WAIT has left.
  let notedLine = 0;
  function markNote(line, text) {
    if (line !== notedLine) {
      const old = lineNode(notedLine);
      if (old) setText(old.parts.note, '');
      notedLine = line;
    }
    const now = lineNode(line);
    if (now) setText(now.parts.note, text);
  }

  // ---- instructions per line ----------------------------------------------

  // For each line that ran: the frames in which it ran and its running total
  // there, so the total up to any frame is one binary search away.
  const lineRuns = new Map();
  {
    const building = new Map();
    tickLines.forEach((entry, t) => {
      const pairs = Array.isArray(entry) && Array.isArray(entry[0]) ? entry[0] : [];
      for (let k = 0; k + 1 < pairs.length; k += 2) {
        let run = building.get(pairs[k]);
        if (!run) building.set(pairs[k], (run = { frames: [], totals: [], total: 0 }));
        run.total += pairs[k + 1];
        run.frames.push(t + 1);
        run.totals.push(run.total);
      }
    });
    for (const [line, run] of building) {
      lineRuns.set(line, { frames: Int32Array.from(run.frames), totals: Float64Array.from(run.totals) });
    }
  }

  // The last position whose frame is at most i, or -1.
  function lastAtMost(frames, i) {
    let lo = 0;
    let hi = frames.length - 1;
    let found = -1;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (frames[mid] <= i) {
        found = mid;
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    return found;
  }

  const budgetStopLine = (i) => {
    const entry = i >= 1 && i <= tickLines.length ? tickLines[i - 1] : null;
    return entry && Number.isInteger(entry[1]) ? entry[1] : 0;
  };

  let stopMarked = 0;
  function fillCounts(i) {
    for (const [line, run] of lineRuns) {
      const node = lineNode(line);
      if (!node) continue;
      const at = lastAtMost(run.frames, i);
      const total = at < 0 ? 0 : run.totals[at];
      const now = at >= 0 && run.frames[at] === i ? total - (at > 0 ? run.totals[at - 1] : 0) : 0;
      setText(node.parts.cnt, String(total));
      setText(node.parts['cnt-tick'], now > 0 ? '+' + now : '');
    }
    const stop = budgetStopLine(i);
    if (stop !== stopMarked) {
      const old = lineNode(stopMarked);
      if (old) {
        old.classList.remove('budget-stop');
        old.title = '';
      }
      const now = lineNode(stop);
      if (now) {
        now.classList.add('budget-stop');
        now.title = 'El presupuesto de instrucciones de este tick se agotó en esta línea';
      }
      stopMarked = stop;
    }
  }

  // ---- events -------------------------------------------------------------

  // Each event's sentence, colour, mark and list entry come from replay/marks.js.

  const frameOfTick = (tick) => Math.max(0, Math.min(lastIndex, tick));
  // The frames that hold an event, in order, for the next/previous keys.
  const eventFrames = [...new Set(events.map((e) => frameOfTick(e[0])))].sort((a, b) => a - b);

  const timeline = $('timeline');
  const eventList = $('events');
  const eventItems = [];
  {
    const marks = document.createDocumentFragment();
    const items = document.createDocumentFragment();
    for (const e of events) {
      const frame = frameOfTick(e[0]);
      marks.appendChild(PrendaxMarks.mark(e, lastIndex > 0 ? frame / lastIndex : 0));
      const item = PrendaxMarks.item(e);
      item.dataset.frame = String(frame);
      items.appendChild(item);
      eventItems.push(item);
    }
    timeline.appendChild(marks);
    eventList.appendChild(items);
    $('events-count').textContent = `(${events.length})`;
  }

  let listedHere = [];
  function markEventsHere(i) {
    for (const item of listedHere) item.classList.remove('here');
    listedHere = eventItems.filter((item) => Number(item.dataset.frame) === i);
    for (const item of listedHere) item.classList.add('here');
    // The list scrolls by itself, never the page, to show the events of this tick.
    if (listedHere.length) {
      const first = listedHere[0];
      const bottom = first.offsetTop + first.offsetHeight;
      if (first.offsetTop < eventList.scrollTop || bottom > eventList.scrollTop + eventList.clientHeight) {
        eventList.scrollTop = Math.max(0, first.offsetTop - first.offsetHeight);
      }
    }
  }

  // ---- chart --------------------------------------------------------------

  const chart = $('chart');
  const chartVar = $('chart-var');
  const SERIES_COLOURS = { health: '#7dff9a', score: '#ffd166', enemies: '#ff9f43', picked: '#4fd1ff' };
  const series = { health: null, score: null, enemies: null, vars: new Map() };
  {
    const n = frameLines.length;
    series.health = new Float64Array(n);
    series.score = new Float64Array(n);
    series.enemies = new Float64Array(n);
    for (let i = 0; i < n; i++) {
      let f = null;
      try {
        f = JSON.parse(frameLines[i]);
      } catch (e) {
        f = null;
      }
      if (!f || !f.game || !f.vm) continue;
      series.health[i] = f.game.health;
      series.score[i] = f.game.score;
      for (const v of Array.isArray(f.vm.vars) ? f.vm.vars : []) {
        if (v.name === 'enemies_left') series.enemies[i] = v.value;
        if (v.readonly) continue;
        let values = series.vars.get(v.name);
        if (!values) series.vars.set(v.name, (values = new Float64Array(n).fill(NaN)));
        values[i] = v.value;
      }
    }
    for (const name of series.vars.keys()) {
      const option = document.createElement('option');
      option.value = name;
      option.textContent = name;
      chartVar.appendChild(option);
    }
  }

  const chartBack = document.createElement('canvas');
  chartBack.width = 0;
  function fitChart() {
    const ratio = Math.min(3, Math.max(1, window.devicePixelRatio || 1));
    const w = Math.max(1, Math.round(chart.clientWidth * ratio));
    const h = Math.max(1, Math.round(chart.clientHeight * ratio));
    if (chart.width !== w || chart.height !== h) {
      chart.width = w;
      chart.height = h;
    }
    return ratio;
  }

  // Each series on its own scale, from its lowest (or 0) to its highest value (or `top`).
  function plot(ctx, values, colour, w, h, top) {
    let lo = Infinity;
    let hi = Number.isFinite(top) ? top : -Infinity;
    for (const v of values) {
      if (Number.isFinite(v)) {
        lo = Math.min(lo, v);
        hi = Math.max(hi, v);
      }
    }
    if (lo === Infinity) return;
    if (lo > 0) lo = 0;
    const span = hi > lo ? hi - lo : 1;
    const last = Math.max(1, values.length - 1);
    ctx.strokeStyle = colour;
    ctx.lineWidth = 1.5;
    ctx.beginPath();
    let open = false;
    for (let i = 0; i < values.length; i++) {
      if (!Number.isFinite(values[i])) {
        open = false;
        continue;
      }
      const x = (i / last) * (w - 4) + 2;
      const y = h - 3 - ((values[i] - lo) / span) * (h - 6);
      if (open) ctx.lineTo(x, y);
      else ctx.moveTo(x, y);
      open = true;
    }
    ctx.stroke();
  }

  function drawChartBack() {
    fitChart();
    chartBack.width = chart.width;
    chartBack.height = chart.height;
    const ctx = chartBack.getContext('2d');
    const w = chart.width;
    const h = chart.height;
    ctx.fillStyle = '#050814';
    ctx.fillRect(0, 0, w, h);
    // A faint red stripe behind the curves at every tick that hurt.
    ctx.fillStyle = 'rgba(255,93,108,0.25)';
    for (const e of events) {
      if (e[1] !== 'dano' && e[1] !== 'derrota' && e[1] !== 'error') continue;
      ctx.fillRect((frameOfTick(e[0]) / Math.max(1, lastIndex)) * (w - 4) + 2, 0, 1, h);
    }
    plot(ctx, series.enemies, SERIES_COLOURS.enemies, w, h);
    plot(ctx, series.score, SERIES_COLOURS.score, w, h);
    plot(ctx, series.health, SERIES_COLOURS.health, w, h, facts ? facts.startHealth : NaN);
    const picked = series.vars.get(chartVar.value);
    if (picked) plot(ctx, picked, SERIES_COLOURS.picked, w, h);
  }

  function drawChart(i) {
    if (chartBack.width === 0 || chartBack.width !== chart.width) drawChartBack();
    const ctx = chart.getContext('2d');
    ctx.drawImage(chartBack, 0, 0);
    const x = (i / Math.max(1, lastIndex)) * (chart.width - 4) + 2;
    ctx.fillStyle = '#ffffff';
    ctx.fillRect(Math.round(x) - 1, 0, 2, chart.height);
  }

  // ---- trace --------------------------------------------------------------

  // The traced instructions of each tick, in the order they ran.
  const traceByTick = new Map();
  for (const s of traceSteps) {
    if (!Array.isArray(s)) continue;
    let list = traceByTick.get(s[0]);
    if (!list) traceByTick.set(s[0], (list = []));
    list.push(s);
  }
  const traceBox = $('trace-box');
  const tracePos = $('trace-pos');
  const traceIns = $('trace-ins');
  const traceStack = $('trace-stack');
  let traceStep = -1;  // -1: the frame as recorded; else the traced instruction shown

  // The stack before step k of tick i, bottom first. It starts as the previous
  // frame left it; each step gives its depth and its top, and an instruction
  // pushes at most one value, so everything below the top is as it was.
  function stackBefore(i, k) {
    const prev = i > 0 ? frameAt(i - 1) : null;
    let stack = prev && Array.isArray(prev.vm.stack) ? prev.vm.stack.slice().reverse() : [];
    const steps = traceByTick.get(i) || [];
    for (let j = 1; j <= k; j++) {
      const [, , , , , sp, top] = steps[j];
      stack = stack.slice(0, sp);
      while (stack.length < sp) stack.push(null);
      if (sp > 0) stack[sp - 1] = top;
    }
    return stack;
  }

  function fillTrace(i) {
    const steps = traceByTick.get(i);
    traceBox.hidden = !steps;
    if (!steps) return 0;
    if (traceStep < 0) {
      setText(tracePos, `Tick ${i}: ${steps.length} instrucciones en la traza; pulse . para recorrerlas`);
      setText(traceIns, '');
      while (traceStack.firstChild) traceStack.firstChild.remove();
      return 0;
    }
    const [, pc, line, op, operand] = steps[traceStep];
    setText(tracePos, `Tick ${i}: instrucción ${traceStep + 1} de ${steps.length}`);
    setText(traceIns, `pc ${pc} · línea ${line} · ${op}${operand ? ' ' + operand : ''}`);
    const stack = stackBefore(i, traceStep).reverse();
    while (traceStack.children.length > stack.length) traceStack.lastChild.remove();
    while (traceStack.children.length < stack.length) traceStack.appendChild(document.createElement('li'));
    for (let j = 0; j < stack.length; j++) setText(traceStack.children[j], show(stack[j]));
    return line;
  }

  // ---- header -------------------------------------------------------------

  function fillHeader() {
    const name = typeof meta.name === 'string' ? meta.name : '';
    $('program-name').textContent = name;
    document.title = `PRENDAX — ${name}`;
    $('match-info').textContent = `Nivel ${show(meta.level)} · semilla ${show(meta.seed)} · ` +
      `${show(meta.ticks)} ticks pedidos · ${frameLines.length} fotogramas`;
    const outcome = $('outcome');
    const last = frameLines.length ? frameAt(lastIndex) : null;
    if (!last) {
      outcome.textContent = frameLines.length ? 'Resultado ilegible' : 'Esta página no contiene fotogramas';
      return;
    }
    let text = `Resultado: ${last.vm.status} · salud ${last.game.health} · puntuación ${last.game.score} · ` +
      `oleada ${last.game.wave}`;
    if (last.vm.error) text += ` · Error de ejecución: ${errorSentence(last.vm.error)}`;
    outcome.textContent = text;
    outcome.className = String(last.vm.status);
  }

  // ---- playback -----------------------------------------------------------

  const scrub = $('scrub');
  const playButton = $('btn-play');
  const speedSelect = $('speed');
  const frameIndexText = $('frame-index');
  let index = 0;
  let playing = false;
  let carry = 0;
  let lastTime = 0;
  let animation = 0;

  function render() {
    const frame = frameLines.length ? frameAt(index) : null;
    drawField(frame);
    fillPanel(frame);
    fillCounts(index);
    const traceLine = fillTrace(index);
    if (traceLine > 0) markSource(traceLine, frame && frame.vm.error ? frame.vm.error.line : 0);
    const traced = lineNode(traceStep >= 0 ? traceLine : 0);
    for (const node of sourceBox.querySelectorAll('.trace-line')) {
      if (node !== traced) node.classList.remove('trace-line');
    }
    if (traced) traced.classList.add('trace-line');
    markEventsHere(index);
    drawChart(index);
    document.body.dataset.step = String(traceStep);
    setText(frameIndexText, String(index));
    if (Number(scrub.value) !== index) scrub.value = String(index);
    document.body.dataset.frame = String(index);
  }

  function goTo(i, stepInTick = -1) {
    const target = Math.max(0, Math.min(lastIndex, Math.trunc(i) || 0));
    if (target === index && stepInTick === traceStep && document.body.dataset.frame !== undefined) return;
    index = target;
    traceStep = stepInTick;
    render();
  }

  // Walks the trace one instruction at a time, across the traced ticks.
  function stepInstruction(delta) {
    setPlaying(false);
    const steps = traceByTick.get(index);
    if (delta > 0) {
      if (steps && traceStep + 1 < steps.length) goTo(index, traceStep + 1);
      else if (traceByTick.has(index + 1)) goTo(index + 1, 0);
      else if (steps) goTo(index, -1);
    } else if (steps && traceStep > 0) {
      goTo(index, traceStep - 1);
    } else if (steps && traceStep < 0) {
      goTo(index, steps.length - 1);
    } else if (traceByTick.has(index - 1)) {
      goTo(index - 1, traceByTick.get(index - 1).length - 1);
    }
  }

  function jumpToEvent(delta) {
    setPlaying(false);
    if (delta > 0) {
      const next = eventFrames.find((f) => f > index);
      if (next !== undefined) goTo(next);
    } else {
      for (let k = eventFrames.length - 1; k >= 0; k--) {
        if (eventFrames[k] < index) {
          goTo(eventFrames[k]);
          break;
        }
      }
    }
  }

  function tickLoop(now) {
    animation = 0;
    if (!playing) return;
    carry += (Math.min(MAX_FRAME_GAP_MS, Math.max(0, now - lastTime)) * TICKS_PER_SECOND * Number(speedSelect.value)) / 1000;
    lastTime = now;
    const steps = Math.floor(carry);
    if (steps > 0) {
      carry -= steps;
      goTo(index + steps);
      if (index >= lastIndex) {
        setPlaying(false);
        return;
      }
    }
    animation = requestAnimationFrame(tickLoop);
  }

  function setPlaying(on) {
    if (on && index >= lastIndex) goTo(0);
    playing = on && lastIndex > 0;
    playButton.textContent = playing ? '⏸ Pausa' : '▶ Reproducir';
    document.body.dataset.playing = playing ? '1' : '0';
    if (animation) cancelAnimationFrame(animation);
    animation = 0;
    if (playing) {
      carry = 0;
      lastTime = performance.now();
      animation = requestAnimationFrame(tickLoop);
    }
  }

  function step(delta) {
    setPlaying(false);
    goTo(index + delta);
  }

  function changeSpeed(delta) {
    const i = Math.max(0, Math.min(speedSelect.options.length - 1, speedSelect.selectedIndex + delta));
    speedSelect.selectedIndex = i;
  }

  $('btn-first').addEventListener('click', () => step(-Infinity));
  $('btn-back').addEventListener('click', () => step(-1));
  $('btn-forward').addEventListener('click', () => step(1));
  $('btn-last').addEventListener('click', () => step(Infinity));
  playButton.addEventListener('click', () => setPlaying(!playing));
  $('btn-step').addEventListener('click', () => stepInstruction(1));
  $('btn-step-back').addEventListener('click', () => stepInstruction(-1));
  const seekTo = (target) => {
    if (target instanceof Element && target.dataset.tick !== undefined) {
      setPlaying(false);
      goTo(frameOfTick(Number(target.dataset.tick)));
    }
  };
  timeline.addEventListener('click', (event) => seekTo(event.target));
  eventList.addEventListener('click', (event) => seekTo(event.target.closest('li')));
  chart.addEventListener('click', (event) => {
    const box = chart.getBoundingClientRect();
    const share = Math.max(0, Math.min(1, (event.clientX - box.left - 2) / Math.max(1, box.width - 4)));
    setPlaying(false);
    goTo(Math.round(share * lastIndex));
  });
  chartVar.addEventListener('change', () => {
    drawChartBack();
    drawChart(index);
  });
  scrub.addEventListener('input', () => {
    setPlaying(false);
    goTo(Number(scrub.value));
  });

  // The shortcuts work wherever the focus is, except that a focused list
  // keeps its own arrow keys; they replace a focused button's own Space.
  document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    const onSelect = event.target instanceof HTMLSelectElement;
    const big = event.shiftKey ? BIG_STEP : 1;
    switch (event.key) {
      case ' ':
      case 'k':
        setPlaying(!playing);
        break;
      case 'ArrowRight':
      case 'l':
        if (onSelect) return;
        step(big);
        break;
      case 'ArrowLeft':
      case 'j':
        if (onSelect) return;
        step(-big);
        break;
      case 'Home':
        step(-Infinity);
        break;
      case 'End':
        step(Infinity);
        break;
      case '+':
      case '=':
        changeSpeed(1);
        break;
      case '-':
        changeSpeed(-1);
        break;
      case 'n':
      case 'N':
        jumpToEvent(1);
        break;
      case 'p':
      case 'P':
        jumpToEvent(-1);
        break;
      case '.':
        stepInstruction(1);
        break;
      case ',':
        stepInstruction(-1);
        break;
      default:
        return;
    }
    event.preventDefault();
  });
  // A focused button would otherwise take the Space once more when it is released.
  document.addEventListener('keyup', (event) => {
    if (event.key === ' ' && event.target instanceof HTMLButtonElement) event.preventDefault();
  });

  window.addEventListener('resize', () => {
    drawChartBack();
    render();
  });

  scrub.max = String(lastIndex);
  $('frame-last').textContent = String(lastIndex);
  fillHeader();
  render();
  // How long the script took to read the data and show the first frame.
  document.body.dataset.readyMs = (performance.now() - startedAt).toFixed(1);
  document.body.dataset.ready = '1';
})();
