// The field of a match drawn on a canvas from a frame document: the sky, the
// enemies, the bullets, the ship with its shield, the explosions, the health
// bar and the closing banner. Shared by every page that shows a match (the
// replay viewer and the playground); it reads the frame and nothing else.
//   const field = PrendaxField.create(canvasElement); field.draw(frame);
(function (root) {
  'use strict';

  const FIELD_WIDTH = 480;
  const FIELD_HEIGHT = 640;
  const PLAYER_HIT_FLASH = 8;  // ticks of the ship's flash after damage
  const STAR_COUNT = 90;

  function create(canvas) {
    const ctx = canvas.getContext('2d');
    let pixelRatio = 1;

    function fitCanvas() {
      const ratio = Math.min(3, Math.max(1, window.devicePixelRatio || 1));
      if (ratio === pixelRatio && canvas.width === FIELD_WIDTH * ratio) return;
      pixelRatio = ratio;
      canvas.width = FIELD_WIDTH * ratio;
      canvas.height = FIELD_HEIGHT * ratio;
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
        stars.push({ x: next() * FIELD_WIDTH, y: next() * FIELD_HEIGHT, depth: 0.2 + next() * 0.8 });
      }
    }

    const ENEMY_COLOURS = ['#7dff9a', '#ffb347', '#d67bff'];
    const EXPLOSION_COLOURS = ['255,230,120', '255,130,60', '110,190,255'];

    function drawSky(tick) {
      ctx.fillStyle = '#050814';
      ctx.fillRect(0, 0, FIELD_WIDTH, FIELD_HEIGHT);
      for (const star of stars) {
        const y = (star.y + tick * star.depth * 0.6) % FIELD_HEIGHT;
        ctx.fillStyle = `rgba(200,215,255,${(0.25 + star.depth * 0.5).toFixed(2)})`;
        ctx.fillRect(star.x, y, star.depth * 2, star.depth * 2);
      }
    }

    function drawEnemy(e) {
      const flash = e.hit > 0;
      ctx.fillStyle = flash ? '#ffffff' : ENEMY_COLOURS[e.type] || ENEMY_COLOURS[0];
      ctx.beginPath();
      if (e.type === 1) {
        ctx.moveTo(e.x, e.y - 13);
        ctx.lineTo(e.x + 15, e.y);
        ctx.lineTo(e.x, e.y + 13);
        ctx.lineTo(e.x - 15, e.y);
      } else if (e.type === 2) {
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
      const colour = EXPLOSION_COLOURS[x.kind] || EXPLOSION_COLOURS[1];
      const radius = x.kind === 2 ? 18 + 26 * grown : x.kind === 0 ? 4 + 10 * grown : 8 + 30 * grown;
      if (x.kind !== 2) {
        ctx.fillStyle = `rgba(${colour},${(0.55 * left).toFixed(3)})`;
        ctx.beginPath();
        ctx.arc(x.x, x.y, radius * 0.7, 0, Math.PI * 2);
        ctx.fill();
      }
      ctx.strokeStyle = `rgba(${colour},${left.toFixed(3)})`;
      ctx.lineWidth = x.kind === 2 ? 3 : 2;
      ctx.beginPath();
      ctx.arc(x.x, x.y, radius, 0, Math.PI * 2);
      ctx.stroke();
    }

    function drawHealthBar(g) {
      const share = Math.max(0, Math.min(1, g.health / 100));
      ctx.fillStyle = 'rgba(255,255,255,0.15)';
      ctx.fillRect(10, 10, 104, 8);
      ctx.fillStyle = share > 0.5 ? '#7dff9a' : share > 0.25 ? '#ffd166' : '#ff5d6c';
      ctx.fillRect(12, 12, 100 * share, 4);
    }

    function drawBanner(text, colour) {
      ctx.fillStyle = 'rgba(5,8,20,0.6)';
      ctx.fillRect(0, FIELD_HEIGHT / 2 - 40, FIELD_WIDTH, 80);
      ctx.fillStyle = colour;
      ctx.font = 'bold 40px system-ui, sans-serif';
      ctx.textAlign = 'center';
      ctx.textBaseline = 'middle';
      ctx.fillText(text, FIELD_WIDTH / 2, FIELD_HEIGHT / 2);
    }

    function drawField(frame) {
      fitCanvas();
      ctx.setTransform(pixelRatio, 0, 0, pixelRatio, 0, 0);
      const g = frame ? frame.game : null;
      const tick = g && Number.isFinite(g.ticks) ? g.ticks : 0;
      drawSky(tick);
      if (!g) {
        drawBanner('Fotograma ilegible', '#ff5d6c');
        return;
      }
      for (const e of g.enemies || []) drawEnemy(e);
      for (const b of g.bullets || []) drawBullet(b);
      drawShip(g, tick);
      for (const x of g.explosions || []) drawExplosion(x);
      if (g.hitFlash > 0) {
        ctx.strokeStyle = `rgba(255,60,80,${(0.7 * Math.min(1, g.hitFlash / PLAYER_HIT_FLASH)).toFixed(3)})`;
        ctx.lineWidth = 10;
        ctx.strokeRect(5, 5, FIELD_WIDTH - 10, FIELD_HEIGHT - 10);
      }
      drawHealthBar(g);
      if (g.status === 1) drawBanner('¡VICTORIA!', '#7dff9a');
      else if (g.status === 2) drawBanner('DERROTA', '#ff5d6c');
    }

    return { draw: drawField };
  }

  root.PrendaxField = { create, FIELD_WIDTH, FIELD_HEIGHT };
})(typeof globalThis !== 'undefined' ? globalThis : this);
