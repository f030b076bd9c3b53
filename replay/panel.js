// The state panel of a match (the game's figures, the VM's registers, the
// run-time error, the stack and the variables) filled from a frame document.
// Shared by the pages that show one: the replay viewer and the playground,
// whose panels are the same markup (the playground's is taken from the
// viewer's page when it is built).
//   const panel = PrendaxPanel.create(); const line = panel.fill(frame, code);
(function (root) {
  'use strict';

  const show = (value) => (value === undefined || value === null ? '—' : String(value));

  function setText(node, text) {
    if (node && node.textContent !== text) node.textContent = text;
  }

  const errorSentence = (error) => `línea ${error.line}: ${error.message}`;

  // The instruction a frame stands at, with the line shown for it. While a WAIT
  // runs out, the program counter already names the instruction after it: the
  // line shown is then the WAIT's own, with the ticks it has left.
  function position(vm, code) {
    const at = (pc) => (Number.isInteger(pc) && pc >= 0 && pc < code.length ? code[pc] : null);
    const entry = at(vm.pc);
    const waiting = vm.status === 'esperando' && vm.wait > 0 && at(vm.pc - 1) !== null && code[vm.pc - 1].op === 'WAIT';
    const shown = waiting ? code[vm.pc - 1] : entry;
    const line = shown && Number.isInteger(shown.line) && shown.line > 0 ? shown.line : 0;
    return { entry, waiting, line };
  }

  function create(doc) {
    const $ = (id) => (doc || document).getElementById(id);
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

    function fillStack(stack) {
      const values = Array.isArray(stack) ? stack : [];
      while (stackList.children.length > values.length) stackList.lastChild.remove();
      while (stackList.children.length < values.length) stackList.appendChild(document.createElement('li'));
      for (let i = 0; i < values.length; i++) setText(stackList.children[i], show(values[i]));
      if (stackEmpty) stackEmpty.hidden = values.length > 0;
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

    // Fills every field from the frame (null: a dash everywhere); returns where
    // the program stands: { entry, waiting, line }.
    function fill(frame, code) {
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
      const where = position(vm, code);
      const operand = where.entry && where.entry.operand ? ' ' + where.entry.operand : '';
      setText(fields.instruction, frame ? show(vm.instruction) + operand : '—');
      setText(fields.line, where.line > 0 ? String(where.line) : '—');
      setText(fields.steps, show(vm.steps));
      setText(fields.wait, where.waiting ? `${vm.wait} (quedan ${vm.wait} ticks del WAIT)` : show(vm.wait));
      setText(fields.budget, show(vm.budgetHits));
      setText(fields.loops, show(vm.loopDepth));
      if (vm.error) setText(errorText, errorSentence(vm.error));
      errorBox.hidden = !vm.error;
      fillStack(vm.stack);
      fillVars(vm.vars);
      return where;
    }

    return { fill };
  }

  root.PrendaxPanel = { create, show, setText, errorSentence };
})(typeof globalThis !== 'undefined' ? globalThis : this);
