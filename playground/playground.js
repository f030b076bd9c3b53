// The playground: edit a robot program, see its diagnostics as you type, and
// play, pause and step its match with the WebAssembly engine, with the
// instructions run per line and the match's events as they happen. The page
// holds the module (base64), the example robots and the pieces shared with the
// replay viewer (field, state panel, event marks); it loads nothing. A shared
// link carries program, level and seed in the URL's fragment, deflated.
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const KEYWORDS = new Set(['START', 'END', 'SET', 'MOVE', 'SHOOT', 'SHIELD', 'WAIT', 'REPEAT', 'WHILE', 'IF', 'ELSE',
    'AND', 'OR', 'NOT']);
  const DIRECTIONS = new Set(['UP', 'DOWN', 'LEFT', 'RIGHT']);
  const MAX_FRAME_GAP_MS = 250;  // a stalled tab does not jump ahead on return

  const dataNode = $('playground-data');
  const data = dataNode ? JSON.parse(dataNode.textContent) : { examples: [] };

  const code = $('code');
  const highlight = $('highlight');
  const gutter = $('gutter');
  const counts = $('counts');
  const timeline = $('timeline');
  const eventList = $('events');
  const diagnosticsList = $('diagnostics');
  const compileState = $('compile-state');
  let field = null;          // drawn with the game's facts, once the engine has given them
  const panel = PrendaxPanel.create(document);

  let engine = null;
  let compiled = null;     // the compile document of the editor's text
  let matchCode = [];      // the instructions of the program the match runs
  let matchOn = false;     // a match is set up and not over
  let ticksPlayed = 0;
  let playing = false;
  let carry = 0;
  let lastTime = 0;
  let currentLine = 0;
  let frameText = '';
  let lineFigures = { stopLine: 0, lines: [] };  // the engine's per-line counts of the match shown
  let events = [];                                // the match's events so far

  // ---- editor -------------------------------------------------------------

  const escapeHtml = (text) => text.replace(/[&<>]/g, (c) => (c === '&' ? '&amp;' : c === '<' ? '&lt;' : '&gt;'));

  function tokenClass(token, next) {
    const type = token.type;
    if (KEYWORDS.has(type)) return 't-kw';
    if (DIRECTIONS.has(type)) return 't-dir';
    if (type === 'TRUE' || type === 'FALSE') return 't-bool';
    if (type === 'NUMERO') return 't-num';
    if (type === 'IDENTIFICADOR') return next && next.type === 'PAR_IZQ' ? 't-fn' : 't-id';
    return 't-op';
  }

  // The token's length in the text: its lexeme, or longer when the lexeme was cut.
  function tokenLength(line, start, token) {
    const lexeme = token.lexeme || '';
    if (token.type === 'IDENTIFICADOR' || token.type === 'NUMERO' || KEYWORDS.has(token.type)) {
      const match = /^[A-Za-z0-9_.]+/.exec(line.slice(start));
      if (match) return Math.max(match[0].length, 1);
    }
    return Math.max(lexeme.length, 1);
  }

  // Spans per line from the lexer's tokens and the diagnostics; text outside
  // every token is plain, or a comment from its "//" on.
  function renderHighlight(text, doc) {
    const lines = text.split('\n');
    const marks = lines.map(() => []);
    const tokens = doc && Array.isArray(doc.tokens) ? doc.tokens : [];
    tokens.forEach((token, i) => {
      if (token.type === 'EOF' || !(token.line >= 1 && token.line <= lines.length)) return;
      const start = Math.max(0, token.col - 1);
      const length = tokenLength(lines[token.line - 1], start, token);
      marks[token.line - 1].push({ start, end: start + length, cls: tokenClass(token, tokens[i + 1]) });
    });
    const errorLines = new Set();
    for (const diag of doc && Array.isArray(doc.errors) ? doc.errors : []) {
      if (!(diag.line >= 1 && diag.line <= lines.length)) continue;
      errorLines.add(diag.line);
      const line = lines[diag.line - 1];
      let start = Math.max(0, diag.col - 1);
      if (start >= line.length) start = Math.max(0, line.length - 1);
      const token = marks[diag.line - 1].find((m) => m.start === start);
      const end = token ? token.end : Math.max(start + 1, line.length === 0 ? 0 : start + 1);
      marks[diag.line - 1].push({ start, end: line.length === 0 ? 0 : end, cls: 't-diag', diag: true });
    }
    const html = lines.map((line, n) => {
      const spans = marks[n].filter((m) => !m.diag).sort((a, b) => a.start - b.start);
      const diags = marks[n].filter((m) => m.diag);
      const comment = commentFrom(line, spans);
      // Cut the line wherever a class may change, then class each piece once.
      const cuts = new Set([0, line.length]);
      for (const m of marks[n]) {
        cuts.add(Math.min(m.start, line.length));
        cuts.add(Math.min(m.end, line.length));
      }
      if (comment < line.length) cuts.add(comment);
      const points = [...cuts].sort((a, b) => a - b);
      let out = '';
      let next = 0;
      for (let i = 0; i + 1 < points.length; i++) {
        const from = points[i];
        const to = points[i + 1];
        while (next < spans.length && spans[next].end <= from) next++;
        const cls = [];
        if (next < spans.length && spans[next].start <= from) cls.push(spans[next].cls);
        else if (comment <= from) cls.push('t-comment');
        if (diags.some((m) => from >= m.start && from < m.end)) cls.push('t-diag');
        const piece = escapeHtml(line.slice(from, to));
        out += cls.length ? `<span class="${cls.join(' ')}">${piece}</span>` : piece;
      }
      if (line.length === 0 && diags.length) out = '<span class="t-diag"> </span>';
      return out;
    });
    updateLines(highlight, lineHtml, html, (n) => (n + 1 === currentLine ? 'ln-current' : ''));
    const numbers = html.map((_, n) => String(n + 1));
    updateLines(gutter, gutterText, numbers,
      (n) => [n + 1 === currentLine ? 'current' : '', errorLines.has(n + 1) ? 'has-error' : ''].join(' ').trim());
    renderCounts(lines.length);
  }

  // Beside each line: the instructions executed there in the match and in the
  // current tick, and a mark on the line where the tick's budget ran out.
  const countHtml = [];
  function renderCounts(lineCount) {
    const byLine = new Map(lineFigures.lines.map(([line, total, now]) => [line, [total, now]]));
    const texts = [];
    for (let n = 1; n <= lineCount; n++) {
      const [total, now] = byLine.get(n) || [0, 0];
      const tick = PrendaxMarks.tickText(now);
      texts.push(`<span class="cnt">${PrendaxMarks.countText(total)}</span><span class="cnt-tick">${tick}</span>`);
    }
    updateLines(counts, countHtml, texts, (n) => (n + 1 === lineFigures.stopLine ? 'budget-stop' : ''));
    const stop = lineFigures.stopLine > 0 && lineFigures.stopLine <= lineCount ? counts.children[lineFigures.stopLine - 1] : null;
    for (const node of counts.querySelectorAll('[title]')) if (node !== stop) node.removeAttribute('title');
    if (stop) stop.title = PrendaxMarks.BUDGET_STOP_TITLE;
  }

  // One element per line, rewritten only where its text changed, so a keystroke
  // touches a line or two of a long program, not all of it.
  const lineHtml = [];
  const gutterText = [];
  function updateLines(box, cache, texts, classOf) {
    while (box.children.length > texts.length) box.lastChild.remove();
    cache.length = Math.min(cache.length, texts.length);
    while (box.children.length < texts.length) box.appendChild(document.createElement('div'));
    for (let n = 0; n < texts.length; n++) {
      const node = box.children[n];
      if (cache[n] !== texts[n]) {
        if (box === gutter) node.textContent = texts[n];
        else if (box === counts) node.innerHTML = texts[n];
        else node.innerHTML = texts[n] || ' ';
        cache[n] = texts[n];
      }
      const cls = classOf(n);
      if (node.className !== cls) node.className = cls;
    }
  }

  // Where a comment starts on a line: the first "//" outside every token.
  function commentFrom(line, spans) {
    let at = line.indexOf('//');
    while (at !== -1 && spans.some((m) => at >= m.start && at < m.end)) at = line.indexOf('//', at + 1);
    return at === -1 ? Infinity : at;
  }

  function renderDiagnostics(doc) {
    diagnosticsList.textContent = '';
    const errors = doc && Array.isArray(doc.errors) ? doc.errors : [];
    for (const diag of errors) {
      const item = document.createElement('li');
      item.textContent = `[${diag.phaseName}] línea ${diag.line}, col ${diag.col}: ${diag.message}`;
      item.dataset.line = String(diag.line);
      item.dataset.col = String(diag.col);
      item.addEventListener('click', () => goToPosition(diag.line, diag.col));
      diagnosticsList.appendChild(item);
    }
    compileState.textContent = doc && doc.ok ? '· compila' : `· ${errors.length} error(es)`;
    document.body.dataset.compiled = doc && doc.ok ? '1' : '0';
  }

  function goToPosition(line, col) {
    const lines = code.value.split('\n');
    let offset = 0;
    for (let i = 0; i < line - 1 && i < lines.length; i++) offset += lines[i].length + 1;
    offset += Math.max(0, col - 1);
    code.focus();
    code.setSelectionRange(offset, offset);
  }

  function recompile() {
    if (!engine) return;
    engine.compile(code.value);
    compiled = JSON.parse(engine.compileJson());
    // The module keeps one program: the match stops until Reset starts the new one.
    if (matchOn) setPlaying(false);
    matchOn = false;
    lineFigures = { stopLine: 0, lines: [] };
    renderDiagnostics(compiled);
    renderHighlight(code.value, compiled);
    document.body.dataset.edits = String(Number(document.body.dataset.edits || 0) + 1);
  }

  // ---- match --------------------------------------------------------------

  const numberInput = (id, low, high, fallback) => {
    const value = Math.trunc(Number($(id).value));
    return Number.isFinite(value) && value >= low && value <= high ? value : fallback;
  };
  const level = () => Number($('level').value);
  const seed = () => numberInput('seed', 0, 4294967295, 0);
  const tickLimit = () => numberInput('ticks', 1, 1000000, 900);

  function reset() {
    setPlaying(false);
    if (!engine) return;
    engine.compile(code.value);
    matchCode = compiled && Array.isArray(compiled.code) ? compiled.code : [];
    matchOn = engine.start(level(), seed());
    ticksPlayed = 0;
    events = [];
    timeline.textContent = '';
    eventList.textContent = '';
    render();
  }

  function ensureMatch() {
    if (!matchOn && ticksPlayed === 0) reset();
    return matchOn;
  }

  function playTicks(count) {
    if (!ensureMatch()) return;
    const n = Math.min(count, tickLimit() - ticksPlayed);
    if (n > 0) ticksPlayed += engine.run(n);
    if (ticksPlayed >= tickLimit() || engineOver()) matchOn = false;
  }

  // The match is over once a tick reports it: the module then refuses more ticks.
  function engineOver() {
    const vm = JSON.parse(engine.vmJson());
    return vm.status === 'victoria' || vm.status === 'derrota';
  }

  function stepInstruction() {
    setPlaying(false);
    if (!ensureMatch()) return;
    engine.step();
    render();
  }

  function stepTick() {
    setPlaying(false);
    playTicks(1);
    render();
  }

  function loop(now) {
    if (!playing) return;
    const rate = Number($('speed').value);
    if (rate === 0) {
      playTicks(tickLimit());
    } else {
      carry += (Math.min(MAX_FRAME_GAP_MS, Math.max(0, now - lastTime)) * rate) / 1000;
      lastTime = now;
      const steps = Math.floor(carry);
      carry -= steps;
      if (steps > 0) playTicks(steps);
    }
    render();
    if (!matchOn) setPlaying(false);
    else requestAnimationFrame(loop);
  }

  function setPlaying(on) {
    if (on && !matchOn && ticksPlayed > 0) reset();
    if (on && !ensureMatch()) on = false;
    playing = on;
    $('btn-run').textContent = playing ? '⏸ Pausa' : '▶ Ejecutar';
    document.body.dataset.playing = playing ? '1' : '0';
    if (playing) {
      carry = 0;
      lastTime = performance.now();
      requestAnimationFrame(loop);
    }
  }

  // ---- panel --------------------------------------------------------------

  // The events the engine recorded since the last look, added to the list and
  // to the timeline, which spans the ticks the match may last.
  function takeEvents() {
    for (;;) {
      const doc = JSON.parse(engine.eventsJson(events.length));
      const fresh = doc.events.filter((e) => Array.isArray(e));
      const marks = document.createDocumentFragment();
      const items = document.createDocumentFragment();
      for (const e of fresh) {
        events.push(e);
        marks.appendChild(PrendaxMarks.mark(e, e[0] / tickLimit()));
        items.appendChild(PrendaxMarks.item(e));
      }
      timeline.appendChild(marks);
      eventList.appendChild(items);
      if (fresh.length && eventList.lastChild) eventList.scrollTop = eventList.scrollHeight;
      PrendaxPanel.setText($('events-count'), `(${events.length}${doc.dropped ? `, ${doc.dropped} sin guardar` : ''})`);
      if (fresh.length === 0 || events.length >= doc.count) return;
    }
  }

  function render() {
    frameText = engine ? engine.frameJson() : '';
    const frame = frameText ? JSON.parse(frameText) : null;
    if (field) field.draw(frame);
    const where = panel.fill(frame, matchCode);
    const g = frame ? frame.game : {};
    const vm = frame ? frame.vm : {};
    if (engine) {
      lineFigures = JSON.parse(engine.linesJson());
      takeEvents();
    }
    const line = where.line && (matchOn || ticksPlayed === 0) ? where.line : 0;
    if (line !== currentLine) {
      currentLine = line;
      renderHighlight(code.value, compiled);
    } else {
      renderCounts(gutter.children.length);
    }
    const over = vm.status === 'victoria' || vm.status === 'derrota';
    const summary = `salud ${g.health} · puntuación ${g.score} · oleada ${g.wave}`;
    $('outcome').textContent = matchOn || ticksPlayed === 0 ? `Tick ${ticksPlayed} de ${tickLimit()}` :
      over ? `Resultado: ${vm.status} · ${summary}` : `Fin de los ${tickLimit()} ticks · ${summary}`;
    document.body.dataset.ticks = String(ticksPlayed);
    document.body.dataset.over = matchOn ? '0' : '1';
  }

  // ---- sharing ------------------------------------------------------------

  const toBase64Url = (bytes) => {
    let binary = '';
    for (const b of bytes) binary += String.fromCharCode(b);
    return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  };
  const fromBase64Url = (text) => {
    const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
    return Uint8Array.from(binary, (c) => c.charCodeAt(0));
  };

  async function through(stream, bytes) {
    const piped = new Blob([bytes]).stream().pipeThrough(stream);
    return new Uint8Array(await new Response(piped).arrayBuffer());
  }

  async function shareLink() {
    const state = JSON.stringify({ programa: code.value, nivel: level(), semilla: seed() });
    const packed = await through(new CompressionStream('deflate-raw'), new TextEncoder().encode(state));
    const url = `${location.href.split('#')[0]}#z=${toBase64Url(packed)}`;
    const box = $('share-link');
    box.hidden = false;
    box.value = url;
    box.select();
    history.replaceState(null, '', url);
    return url;
  }

  async function openShared() {
    const match = /#z=([A-Za-z0-9_-]+)/.exec(location.hash);
    if (!match) return false;
    try {
      const bytes = await through(new DecompressionStream('deflate-raw'), fromBase64Url(match[1]));
      const state = JSON.parse(new TextDecoder().decode(bytes));
      code.value = String(state.programa || '');
      $('level').value = String(Math.min(3, Math.max(1, Number(state.nivel) || 1)));
      $('seed').value = String(Number(state.semilla) >>> 0);
      return true;
    } catch (e) {
      compileState.textContent = '· el enlace compartido no se pudo leer';
      return false;
    }
  }

  // ---- start --------------------------------------------------------------

  function fillExamples() {
    const select = $('example');
    data.examples.forEach((example, i) => {
      const option = document.createElement('option');
      option.value = String(i);
      option.textContent = example.name;
      select.appendChild(option);
    });
    select.addEventListener('change', () => {
      const example = data.examples[Number(select.value)];
      if (!example) return;
      code.value = example.source;
      recompile();
      reset();
    });
  }

  code.addEventListener('input', recompile);
  code.addEventListener('keydown', (event) => {
    if (event.key !== 'Tab') return;
    event.preventDefault();
    code.setRangeText('  ', code.selectionStart, code.selectionEnd, 'end');
    recompile();
  });
  $('btn-run').addEventListener('click', () => setPlaying(!playing));
  $('btn-tick').addEventListener('click', stepTick);
  $('btn-instruction').addEventListener('click', stepInstruction);
  $('btn-reset').addEventListener('click', reset);
  $('btn-share').addEventListener('click', shareLink);
  for (const id of ['level', 'seed', 'ticks']) $(id).addEventListener('change', reset);

  async function start() {
    const wasm = Uint8Array.from(atob($('prendax-wasm').textContent.trim()), (c) => c.charCodeAt(0));
    engine = await PrendaxEngine.load(wasm);
    field = PrendaxField.create($('field'), JSON.parse(engine.gameFactsJson()));
    fillExamples();
    if (!(await openShared())) code.value = data.examples.length ? data.examples[0].source : 'START\nEND\n';
    recompile();
    reset();
    // What the browser tests read: the engine and the document of the frame shown.
    window.prendaxPlayground = {
      engine, frameJson: () => frameText, shareLink, reset, recompile, lineFigures: () => lineFigures,
      events: () => events.slice(),
    };
    document.body.dataset.ready = '1';
  }
  start().catch((error) => {
    compileState.textContent = `· no se pudo iniciar el motor: ${error.message}`;
    document.body.dataset.ready = 'error';
  });
})();
