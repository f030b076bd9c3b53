// The replay viewer. The page holds two JSON data blocks: "replay-meta" (the
// program's path, the match options, one entry per instruction with its opcode,
// operand and source line, and the source text in base64) and "replay-frames"
// (one frame document per line, the first the state right after set-up). The
// viewer draws one frame on the field and shows its state beside it; frames
// are parsed only when shown, so a long match opens at once and plays smoothly.
(function () {
  'use strict';

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

  function instructionLine(pc) {
    if (!Number.isInteger(pc) || pc < 0 || pc >= code.length) return 0;
    const line = code[pc].line;
    return Number.isInteger(line) && line > 0 ? line : 0;
  }

  // ---- field --------------------------------------------------------------

  const field = PrendaxField.create($('field'));
  const drawField = field.draw;

  // ---- panel --------------------------------------------------------------

  const fields = {};
  for (const name of ['tick', 'health', 'score', 'wave', 'enemies', 'level', 'shield', 'bullets', 'status', 'pc',
    'instruction', 'line', 'steps', 'wait', 'budget', 'loops']) {
    fields[name] = $('v-' + name);
  }
  const errorBox = $('error-box');
  const errorText = $('error-text');
  const stackList = $('stack');
  const stackEmpty = $('stack-empty');
  const varsBody = $('vars').tBodies[0];
  const sourceBox = $('source');

  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  const show = (value) => (value === undefined || value === null ? '—' : String(value));

  function errorSentence(error) {
    return `línea ${error.line}: ${error.message}`;
  }

  function fillStack(stack) {
    const values = Array.isArray(stack) ? stack : [];
    while (stackList.children.length > values.length) stackList.lastChild.remove();
    while (stackList.children.length < values.length) stackList.appendChild(document.createElement('li'));
    for (let i = 0; i < values.length; i++) setText(stackList.children[i], show(values[i]));
    stackEmpty.hidden = values.length > 0;
  }

  function fillVars(vars) {
    const list = Array.isArray(vars) ? vars : [];
    const rows = varsBody.rows;
    while (rows.length > list.length) varsBody.deleteRow(-1);
    while (rows.length < list.length) {
      const row = varsBody.insertRow(-1);
      row.insertCell(-1);
      row.insertCell(-1);
      row.insertCell(-1).className = 'ro';
    }
    for (let i = 0; i < list.length; i++) {
      const cells = rows[i].cells;
      setText(cells[0], show(list[i].name));
      setText(cells[1], show(list[i].value));
      setText(cells[2], list[i].readonly ? 'solo lectura' : '');
    }
  }

  function fillPanel(frame) {
    const g = frame ? frame.game : {};
    const vm = frame ? frame.vm : {};
    const bullets = g.bullets || [];
    const own = bullets.filter((b) => b.friendly).length;
    setText(fields.tick, show(g.ticks));
    setText(fields.health, show(g.health));
    setText(fields.score, show(g.score));
    setText(fields.wave, show(g.wave));
    setText(fields.enemies, show(g.enemies ? g.enemies.length : undefined));
    setText(fields.level, show(g.level));
    setText(fields.shield, frame ? `${g.shield ? 'activo' : 'inactivo'} · recarga ${g.shieldCooldown}` : '—');
    setText(fields.bullets, frame ? `${own} propias · ${bullets.length - own} enemigas` : '—');
    setText(fields.status, show(vm.status));
    fields.status.className = vm.status === 'error' || vm.status === 'derrota' ? 'bad' : '';
    setText(fields.pc, show(vm.pc));
    const entry = Number.isInteger(vm.pc) && vm.pc >= 0 && vm.pc < code.length ? code[vm.pc] : null;
    const operand = entry && entry.operand ? ' ' + entry.operand : '';
    setText(fields.instruction, frame ? show(vm.instruction) + operand : '—');
    // While a WAIT runs out, the program counter already names the instruction
    // after it: the line shown is the WAIT's own, with the ticks it has left.
    const waiting = vm.status === 'esperando' && Number.isInteger(vm.pc) && vm.pc > 0 && vm.pc <= code.length &&
      code[vm.pc - 1].op === 'WAIT' && vm.wait > 0;
    const line = instructionLine(waiting ? vm.pc - 1 : vm.pc);
    setText(fields.line, line > 0 ? String(line) : '—');
    setText(fields.steps, show(vm.steps));
    setText(fields.wait, waiting ? `${vm.wait} (quedan ${vm.wait} ticks del WAIT)` : show(vm.wait));
    setText(fields.budget, show(vm.budgetHits));
    setText(fields.loops, show(vm.loopDepth));
    if (vm.error) setText(errorText, errorSentence(vm.error));
    errorBox.hidden = !vm.error;
    fillStack(vm.stack);
    fillVars(vm.vars);
    markSource(line, vm.error ? vm.error.line : 0);
  }

  // ---- source -------------------------------------------------------------

  const lineNodes = [];
  {
    const fragment = document.createDocumentFragment();
    sourceLines.forEach((text, i) => {
      const row = document.createElement('div');
      row.className = 'src-line';
      const number = document.createElement('span');
      number.className = 'ln';
      number.textContent = String(i + 1);
      const body = document.createElement('span');
      body.className = 'code';
      body.textContent = text;
      row.append(number, body);
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
    setText(frameIndexText, String(index));
    if (Number(scrub.value) !== index) scrub.value = String(index);
    document.body.dataset.frame = String(index);
  }

  function goTo(i) {
    const target = Math.max(0, Math.min(lastIndex, Math.trunc(i) || 0));
    if (target === index && document.body.dataset.frame !== undefined) return;
    index = target;
    render();
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
  scrub.addEventListener('input', () => {
    setPlaying(false);
    goTo(Number(scrub.value));
  });

  // The shortcuts work wherever the focus is, except that a focused list
  // keeps its own arrow keys; they replace a focused button's own Space.
  document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    const onSelect = event.target === speedSelect;
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
      default:
        return;
    }
    event.preventDefault();
  });
  // A focused button would otherwise take the Space once more when it is released.
  document.addEventListener('keyup', (event) => {
    if (event.key === ' ' && event.target instanceof HTMLButtonElement) event.preventDefault();
  });

  window.addEventListener('resize', () => render());

  scrub.max = String(lastIndex);
  $('frame-last').textContent = String(lastIndex);
  fillHeader();
  render();
  document.body.dataset.ready = '1';
})();
