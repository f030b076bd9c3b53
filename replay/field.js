// The field of a match drawn on a canvas from a frame document: the sky, the
// enemies, the bullets, the ship with its shield, the explosions, the health
// bar and the closing banner. Shared by every page that shows a match (the
// replay viewer and the playground). The game's facts (the field's size, the
// start health, the flash ticks and the codes of statuses, enemy types and
// explosion kinds) come from the engine with the page, never from here; the
// canvas takes the size of the frame's field.
//   const field = PrendaxField.create(canvasElement, facts); field.draw(frame);
(function (root) {
  'use strict';

  const STAR_COUNT = 90;
  const HEALTH_BAR_WIDTH = 100;  // pixels for a full health bar
  const MAX_PIXEL_RATIO = 3;

  // How each enemy type and explosion kind looks, by the name the engine gives it.
  const ENEMY_LOOKS = {
    light: { colour: '#7dff9a', shape: 'ellipse' },
    medium: { colour: '#ffb347', shape: 'diamond' },
    heavy: { colour: '#d67bff', shape: 'hexagon' },
  };
  const EXPLOSION_LOOKS = {
    hit: { colour: '255,230,120', from: 4, grows: 10, filled: true, line: 2 },
    destroy: { colour: '255,130,60', from: 8, grows: 30, filled: true, line: 2 },
    shield: { colour: '110,190,255', from: 18, grows: 26, filled: false, line: 3 },
  };

  // A table of name -> code turned into code -> name.
  function namesByCode(codes) {
    const names = [];
    for (const [name, code] of Object.entries(codes || {})) if (Number.isInteger(code)) names[code] = name;
    return names;
  }

  function create(canvas, facts) {
    const ctx = canvas.getContext('2d');
    const known = facts && Number.isFinite(facts.width) && Number.isFinite(facts.height) && facts.gameStatus;
    const enemyNames = namesByCode(known ? facts.enemyTypes : null);
    const explosionNames = namesByCode(known ? facts.explosionKinds : null);
    let width = known ? facts.width : canvas.width;
    let height = known ? facts.height : canvas.height;
    let pixelRatio = 0;

    // The canvas holds the frame's field at the screen's pixel density.
    function fitCanvas(w, h) {
      const ratio = Math.min(MAX_PIXEL_RATIO, Math.max(1, window.devicePixelRatio || 1));
      if (Number.isFinite(w) && w > 0 && Number.isFinite(h) && h > 0) {
        width = w;
        height = h;
      }
      if (ratio === pixelRatio && canvas.width === Math.round(width * ratio) &&
        canvas.height === Math.round(height * ratio)) return;
      pixelRatio = ratio;
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
    }

    // A fixed sky: the same stars on every page, drifting down with the ticks.
    const stars = [];
    {
      let s = 2463534242;
      const next = () => {
        s ^= s << 13; s >>>= 0;
        s ^= s >>> 17;
        s ^= s << 5; s >>>= 0;
        return s / 4294967296;
      };
      for (let i = 0; i < STAR_COUNT; i++) {
        stars.push({ x: next(), y: next(), depth: 0.2 + next() * 0.8 });
      }
    }

    function drawSky(tick) {
      ctx.fillStyle = '#050814';
      ctx.fillRect(0, 0, width, height);
      for (const star of stars) {
        const y = (star.y * height + tick * star.depth * 0.6) % height;
        ctx.fillStyle = `rgba(200,215,255,${(0.25 + star.depth * 0.5).toFixed(2)})`;
        ctx.fillRect(star.x * width, y, star.depth * 2, star.depth * 2);
      }
    }

    function drawEnemy(e) {
      const flash = e.hit > 0;
      const looks = ENEMY_LOOKS[enemyNames[e.type]] || ENEMY_LOOKS.light;
      ctx.fillStyle = flash ? '#ffffff' : looks.colour;
      ctx.beginPath();
      if (looks.shape === 'diamond') {
        ctx.moveTo(e.x, e.y - 13);
        ctx.lineTo(e.x + 15, e.y);
        ctx.lineTo(e.x, e.y + 13);
        ctx.lineTo(e.x - 15, e.y);
      } else if (looks.shape === 'hexagon') {
        for (let k = 0; k < 6; k++) {
          const a = Math.PI / 6 + (k * Math.PI) / 3;
          ctx.lineTo(e.x + Math.cos(a) * 17, e.y + Math.sin(a) * 15);
        }
      } else {
        ctx.ellipse(e.x, e.y, 14, 10, 0, 0, Math.PI * 2);
      }
      ctx.closePath();
      ctx.fill();
      // Eyes, and one pip per hit point left.
      ctx.fillStyle = '#10142a';
      ctx.fillRect(e.x - 6, e.y - 3, 4, 4);
      ctx.fillRect(e.x + 2, e.y - 3, 4, 4);
      ctx.fillStyle = flash ? '#ff5d6c' : '#ffffff';
      for (let k = 0; k < e.hp && k < 8; k++) ctx.fillRect(e.x - 9 + k * 7, e.y + 17, 4, 3);
    }

    function drawBullet(b) {
      if (b.friendly) {
        ctx.fillStyle = '#fff27a';
        ctx.fillRect(b.x - 1.5, b.y - 7, 3, 12);
      } else {
        ctx.fillStyle = 'rgba(255,93,108,0.35)';
        ctx.beginPath();
        ctx.arc(b.x, b.y, 6, 0, Math.PI * 2);
        ctx.fill();
        ctx.fillStyle = '#ff6b6b';
        ctx.beginPath();
        ctx.arc(b.x, b.y, 3.5, 0, Math.PI * 2);
        ctx.fill();
      }
    }

    function drawShip(g, tick) {
      const x = g.px;
      const y = g.py;
      // The flame flickers with the ticks.
      ctx.fillStyle = tick % 4 < 2 ? '#ff9f43' : '#ffd166';
      ctx.beginPath();
      ctx.moveTo(x - 5, y + 10);
      ctx.lineTo(x, y + 20 + (tick % 3) * 2);
      ctx.lineTo(x + 5, y + 10);
      ctx.fill();
      const flashing = g.hitFlash > 0 && g.hitFlash % 2 === 0;
      ctx.fillStyle = flashing ? '#ff5d6c' : '#4fd1ff';
      ctx.beginPath();
      ctx.moveTo(x, y - 18);
      ctx.lineTo(x + 15, y + 14);
      ctx.lineTo(x, y + 8);
      ctx.lineTo(x - 15, y + 14);
      ctx.closePath();
      ctx.fill();
      ctx.fillStyle = '#dff6ff';
      ctx.fillRect(x - 2, y - 6, 4, 8);
      if (g.shield) {
        ctx.fillStyle = 'rgba(80,160,255,0.18)';
        ctx.strokeStyle = 'rgba(130,210,255,0.9)';
        ctx.lineWidth = 2;
        ctx.beginPath();
        ctx.arc(x, y, 28, 0, Math.PI * 2);
        ctx.fill();
        ctx.stroke();
      }
    }

    function drawExplosion(x) {
      const left = x.maxLife > 0 ? Math.min(1, Math.max(0, x.life / x.maxLife)) : 0;
      const grown = 1 - left;
      const looks = EXPLOSION_LOOKS[explosionNames[x.kind]] || EXPLOSION_LOOKS.destroy;
      const radius = looks.from + looks.grows * grown;
      if (looks.filled) {
        ctx.fillStyle = `rgba(${looks.colour},${(0.55 * left).toFixed(3)})`;
        ctx.beginPath();
        ctx.arc(x.x, x.y, radius * 0.7, 0, Math.PI * 2);
        ctx.fill();
      }
      ctx.strokeStyle = `rgba(${looks.colour},${left.toFixed(3)})`;
      ctx.lineWidth = looks.line;
      ctx.beginPath();
      ctx.arc(x.x, x.y, radius, 0, Math.PI * 2);
      ctx.stroke();
    }

    function drawHealthBar(g) {
      const share = Math.max(0, Math.min(1, g.health / facts.startHealth));
      ctx.fillStyle = 'rgba(255,255,255,0.15)';
      ctx.fillRect(10, 10, HEALTH_BAR_WIDTH + 4, 8);
      ctx.fillStyle = share > 0.5 ? '#7dff9a' : share > 0.25 ? '#ffd166' : '#ff5d6c';
      ctx.fillRect(12, 12, HEALTH_BAR_WIDTH * share, 4);
    }

    function drawBanner(text, colour) {
      ctx.fillStyle = 'rgba(5,8,20,0.6)';
      ctx.fillRect(0, height / 2 - 40, width, 80);
      ctx.fillStyle = colour;
      ctx.font = 'bold 40px system-ui, sans-serif';
      ctx.textAlign = 'center';
      ctx.textBaseline = 'middle';
      ctx.fillText(text, width / 2, height / 2);
    }

    function drawField(frame) {
      const g = frame ? frame.game : null;
      fitCanvas(g ? g.width : NaN, g ? g.height : NaN);
      ctx.setTransform(pixelRatio, 0, 0, pixelRatio, 0, 0);
      const tick = g && Number.isFinite(g.ticks) ? g.ticks : 0;
      drawSky(tick);
      if (!known) {
        drawBanner('Faltan los datos del juego', '#ff5d6c');
        return;
      }
      if (!g) {
        drawBanner('Fotograma ilegible', '#ff5d6c');
        return;
      }
      for (const e of g.enemies || []) drawEnemy(e);
      for (const b of g.bullets || []) drawBullet(b);
      drawShip(g, tick);
      for (const x of g.explosions || []) drawExplosion(x);
      if (g.hitFlash > 0) {
        ctx.strokeStyle = `rgba(255,60,80,${(0.7 * Math.min(1, g.hitFlash / facts.playerHitFlash)).toFixed(3)})`;
        ctx.lineWidth = 10;
        ctx.strokeRect(5, 5, width - 10, height - 10);
      }
      drawHealthBar(g);
      if (g.status === facts.gameStatus.victoria) drawBanner('¡VICTORIA!', '#7dff9a');
      else if (g.status === facts.gameStatus.derrota) drawBanner('DERROTA', '#ff5d6c');
    }

    return { draw: drawField };
  }

  root.PrendaxField = { create };
})(typeof globalThis !== 'undefined' ? globalThis : this);
