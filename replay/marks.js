// The match's events and per-line counts as a page shows them: the sentence
// and colour of each event, its mark on a timeline and its entry in a list,
// and the figures written beside a program line. Events come as the engine's
// documents write them: [tick, "kind", "cause", amount, enemyType, points, line].
// Shared by the replay viewer and the playground.
(function (root) {
  'use strict';

  const COLOURS = {
    dano: '#ff5d6c', escudo_golpe: '#6fb7ff', destruido: '#7dff9a', escapado: '#ff9f43', escudo: '#4f7dff',
    oleada: '#d67bff', victoria: '#ffffff', derrota: '#ff2740', error: '#ff4dd2',
  };
  const CAUSE_TEXT = {
    bala: 'una bala enemiga', choque: 'un choque', escape: 'un enemigo que escapó', disparo: 'un disparo',
  };

  function eventText(e) {
    const [, kind, cause, amount, type, points, line] = e;
    const how = CAUSE_TEXT[cause] || cause;
    switch (kind) {
      case 'dano': return `Daño ${amount} por ${how}`;
      case 'escudo_golpe': return `El escudo para un golpe de ${amount} (${how})`;
      case 'destruido': return cause === 'choque' ? `Enemigo de tipo ${type} destruido al chocar` :
        `Enemigo de tipo ${type} destruido (+${points})`;
      case 'escapado': return `Enemigo de tipo ${type} escapa`;
      case 'escudo': return 'Escudo activado';
      case 'oleada': return `Empieza la oleada ${amount}`;
      case 'victoria': return 'Victoria';
      case 'derrota': return 'Derrota';
      case 'error': return `Error de ejecución en la línea ${line}`;
      default: return String(kind);
    }
  }

  const kindClass = (e) => 'ev-' + String(e[1]).replace(/[^a-z_]/g, '');
  const colour = (e) => COLOURS[e[1]] || '#8390b0';

  // A timeline mark at `fraction` (0..1) of the timeline's width.
  function mark(e, fraction) {
    const node = document.createElement('span');
    node.className = 'mark ' + kindClass(e);
    node.style.left = `${Math.max(0, Math.min(1, fraction)) * 100}%`;
    node.style.background = colour(e);
    node.title = `Tick ${e[0]}: ${eventText(e)}`;
    node.dataset.tick = String(e[0]);
    node.dataset.kind = String(e[1]);
    return node;
  }

  // A list entry: the tick, then the sentence.
  function item(e) {
    const node = document.createElement('li');
    node.className = kindClass(e);
    node.style.borderLeftColor = colour(e);
    node.dataset.tick = String(e[0]);
    const when = document.createElement('span');
    when.className = 't';
    when.textContent = String(e[0]);
    node.append(when, eventText(e));
    return node;
  }

  // The figures beside a line: its total so far, and "+n" for this tick's share.
  const countText = (total) => (total > 0 ? String(total) : '');
  const tickText = (now) => (now > 0 ? '+' + now : '');
  const BUDGET_STOP_TITLE = 'El presupuesto de instrucciones de este tick se agotó en esta línea';

  root.PrendaxMarks = { eventText, kindClass, colour, mark, item, countText, tickText, BUDGET_STOP_TITLE };
})(typeof globalThis !== 'undefined' ? globalThis : this);
