// Robot programs made up from a seed: well-formed ones that exercise every
// statement, operator and built-in (division and remainder by zero, large
// and fractional numbers, the reserved variables), and damaged copies that
// trip the lexer, the parser and the semantic checks.
const DIRECTIONS = ['UP', 'DOWN', 'LEFT', 'RIGHT'];
const RESERVED = ['health', 'score', 'enemies_left', 'level', 'shield', 'ticks'];
const OWN = ['a', 'b', 'pos', 'dir', 'cuenta'];
const OPERATORS = ['+', '-', '*', '/', '%', '<', '>', '<=', '>=', '==', '!=', 'AND', 'OR', '&&', '||'];
const NUMBERS = ['0', '1', '2', '3', '7', '0.5', '2.25', '13', '100', '999999', '1000000', '0.001', '12.75'];
const NOISE = ['@', '#', '$', '"', '\t', '\r\n', '1000001', 'ñ', '\u00e9', '\x01', '.', '..', '0.', '9999999', '{', '}',
  '(', ')', ',', 'ELSE', 'END', 'START', 'SET', 'WAIT', 'foo', 'scroe', 'enemy_ahead', 'random(', 'random(1, 2)'];

export function generator(seed) {
  let state = seed >>> 0 || 1;
  const next = () => {
    state ^= state << 13; state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5; state >>>= 0;
    return state;
  };
  const pick = (list) => list[next() % list.length];
  const chance = (percent) => next() % 100 < percent;

  function expr(depth) {
    const roll = next() % 10;
    if (depth > 2 || roll < 3) return pick(NUMBERS);
    if (roll < 5) return pick(chance(50) ? RESERVED : OWN);
    if (roll < 6) return pick(['enemy_ahead()', 'enemy_left()', 'enemy_right()', `random(${expr(depth + 1)})`]);
    if (roll < 7) return `${pick(['-', 'NOT ', '!'])}${expr(depth + 1)}`;
    if (roll < 8) return `(${expr(depth + 1)})`;
    return `${expr(depth + 1)} ${pick(OPERATORS)} ${expr(depth + 1)}`;
  }

  function block(depth, indent) {
    const lines = [];
    const count = 1 + (next() % 4);
    for (let i = 0; i < count; i++) lines.push(indent + statement(depth, indent));
    return lines.join('\n');
  }

  function statement(depth, indent) {
    const roll = next() % 12;
    const inner = indent + '  ';
    if (depth < 3 && roll === 0) return `REPEAT ${expr(1)} {\n${block(depth + 1, inner)}\n${indent}}`;
    if (depth < 3 && roll === 1) return `WHILE ${expr(0)} {\n${block(depth + 1, inner)}\n${indent}}`;
    if (depth < 3 && roll === 2) {
      const otherwise = chance(50) ? ` ELSE {\n${block(depth + 1, inner)}\n${indent}}` : '';
      return `IF ${expr(0)} {\n${block(depth + 1, inner)}\n${indent}}${otherwise}`;
    }
    if (roll <= 4) return `SET ${pick(OWN)} ${expr(0)}`;
    if (roll === 5) return `MOVE ${pick(DIRECTIONS)}`;
    if (roll === 6) return 'SHOOT';
    if (roll === 7) return 'SHIELD';
    if (roll === 8) return `WAIT ${expr(1)}`;
    if (roll === 9) return `SET ${pick(OWN)} ${pick(OWN)} ${pick(['+', '-', '*'])} 1 // paso`;
    return `IF enemy_ahead() { SHOOT } ELSE { MOVE ${pick(DIRECTIONS)} }`;
  }

  function program() {
    const body = [];
    for (const name of OWN) if (chance(60)) body.push(`SET ${name} ${pick(NUMBERS)}`);
    body.push(block(0, ''));
    body.push(`WHILE health > 0 {\n${block(1, '  ')}\n  WAIT ${1 + (next() % 5)}\n}`);
    return `// programa ${seed}\nSTART\n${body.join('\n')}\nEND\n`;
  }

  // A few bytes deleted, repeated or replaced by noise.
  function damage(text) {
    let out = text;
    const edits = 1 + (next() % 3);
    for (let i = 0; i < edits; i++) {
      const at = next() % Math.max(1, out.length);
      const cut = next() % 4;
      out = out.slice(0, at) + (chance(70) ? pick(NOISE) : '') + out.slice(at + cut);
    }
    return out;
  }

  return { program, damage, chance };
}
