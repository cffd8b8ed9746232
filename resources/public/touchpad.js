// The Touchpad tab: one finger moves the pointer, a tap clicks, a two-finger tap right-clicks,
// two fingers dragged scroll, press-and-hold then drag drags. Below it, keys a text box cannot
// send, with sticky modifiers.
//
// Motion is coalesced: one request is in flight at a time and the movement made meanwhile is
// summed into the next, so a slow link (the relay, weak Wi-Fi) gets fewer, larger moves instead
// of a growing backlog.
import { post } from './api.js';
import { $ } from './dom.js';

const GAIN = 1.6;          // pointer pixels per CSS pixel of finger travel
const TAP_MS = 250;        // longest touch that still counts as a tap
const HOLD_MS = 450;       // press this long without moving to start a drag
const SLOP_PX = 8;         // finger travel still counted as "not moved"
const NOTCH_PX = 28;       // two-finger travel per scroll notch
const KEYS = [
  ['Escape', 'Esc'], ['Tab', 'Tab'], ['Enter', '⏎'], ['Backspace', '⌫'],
  ['ArrowLeft', '←'], ['ArrowUp', '↑'], ['ArrowDown', '↓'], ['ArrowRight', '→'],
  ['Home', 'Home'], ['End', 'End'], ['PageUp', 'PgUp'], ['PageDown', 'PgDn'], ['Delete', 'Del'],
  ...Array.from({ length: 12 }, (_, i) => ['F' + (i + 1), 'F' + (i + 1)]),
];
const MODIFIERS = [['ctrl', 'Ctrl'], ['alt', 'Alt'], ['shift', 'Shift'], ['super', 'Super']];

export function createTouchpad({ notify }) {
  const pad = $('#pad');
  const queue = [];
  let busy = false;
  let failed = false;

  /** Queues one request; motion and scrolling merge into a queued request of their kind. */
  function send(body) {
    const last = queue[queue.length - 1];
    if (last && 'dx' in body && 'dx' in last) { last.dx += body.dx; last.dy += body.dy; }
    else if (last && body.scroll && last.scroll) { last.scroll.dx += body.scroll.dx; last.scroll.dy += body.scroll.dy; }
    else queue.push(body);
    pump();
  }

  async function pump() {
    if (busy || !queue.length) return;
    busy = true;
    const body = queue.shift();
    if ('dx' in body) { body.dx = clamp(Math.round(body.dx)); body.dy = clamp(Math.round(body.dy)); }
    const answer = await post('pointer', body);
    busy = false;
    // One message per failing spell, not one per move.
    if (!answer.ok && !failed) notify(answer.error || 'The pointer didn’t move.', 'error');
    failed = !answer.ok;
    pump();
  }

  const clamp = (n) => Math.max(-2000, Math.min(2000, n));

  // One gesture: from the first finger down to the last finger up.
  const fingers = new Map();
  let gesture = null;

  function center() {
    let x = 0; let y = 0;
    for (const p of fingers.values()) { x += p.x; y += p.y; }
    return { x: x / fingers.size, y: y / fingers.size };
  }

  pad.addEventListener('pointerdown', (e) => {
    pad.setPointerCapture(e.pointerId);
    fingers.set(e.pointerId, { x: e.clientX, y: e.clientY });
    if (!gesture) {
      gesture = { start: performance.now(), most: 0, moved: 0, dragging: false, scrollRest: 0, hold: 0, heldX: 0, heldY: 0 };
      gesture.hold = setTimeout(() => {
        if (gesture && gesture.most === 1 && gesture.moved < SLOP_PX) {
          gesture.dragging = true;
          pad.dataset.state = 'drag';
          if (navigator.vibrate) navigator.vibrate(15);
          send({ button: 'left', action: 'down' });
        }
      }, HOLD_MS);
    }
    gesture.most = Math.max(gesture.most, fingers.size);
    gesture.last = center();
  });

  pad.addEventListener('pointermove', (e) => {
    const finger = fingers.get(e.pointerId);
    if (!finger || !gesture) return;
    finger.x = e.clientX; finger.y = e.clientY;
    const now = center();
    const dx = now.x - gesture.last.x;
    const dy = now.y - gesture.last.y;
    gesture.last = now;
    gesture.moved += Math.hypot(dx, dy);
    if (fingers.size === 1 && gesture.most === 1) {
      // Travel within the tap slop is held back, then sent whole once the finger moves on.
      gesture.heldX += dx; gesture.heldY += dy;
      if (gesture.moved >= SLOP_PX || gesture.dragging) {
        send({ dx: gesture.heldX * GAIN, dy: gesture.heldY * GAIN });
        gesture.heldX = 0; gesture.heldY = 0;
      }
    } else if (fingers.size === 2) {
      gesture.scrollRest += dy;
      const notches = Math.trunc(gesture.scrollRest / NOTCH_PX);
      if (notches) {
        gesture.scrollRest -= notches * NOTCH_PX;
        send({ scroll: { dx: 0, dy: -notches } }); // fingers up scroll the page down, as on a touchpad
      }
    }
  });

  function lift(e) {
    if (!fingers.delete(e.pointerId) || fingers.size || !gesture) return;
    const g = gesture;
    gesture = null;
    clearTimeout(g.hold);
    delete pad.dataset.state;
    const quick = performance.now() - g.start < TAP_MS && g.moved < SLOP_PX;
    if (g.dragging) send({ button: 'left', action: 'up' });
    else if (quick && g.most === 2) send({ button: 'right', action: 'click' });
    else if (quick && g.most === 1) send({ button: 'left', action: 'click' });
  }
  pad.addEventListener('pointerup', lift);
  pad.addEventListener('pointercancel', lift);
  pad.addEventListener('contextmenu', (e) => e.preventDefault());

  // Keys, with modifiers that stay down for the next key.
  const held = new Set();
  const mods = $('#pad-mods');
  for (const [name, label] of MODIFIERS) {
    const b = document.createElement('button');
    b.className = 'padkey padkey-mod';
    b.textContent = label;
    b.setAttribute('aria-pressed', 'false');
    b.addEventListener('click', () => {
      if (held.has(name)) held.delete(name); else held.add(name);
      b.setAttribute('aria-pressed', String(held.has(name)));
    });
    mods.append(b);
  }
  const keys = $('#pad-keys');
  for (const [name, label] of KEYS) {
    const b = document.createElement('button');
    b.className = 'padkey';
    b.textContent = label;
    b.dataset.key = name;
    if (label !== name) b.setAttribute('aria-label', name.replace(/([a-z])([A-Z])/g, '$1 $2'));
    b.addEventListener('click', async () => {
      const modifiers = [...held];
      held.clear();
      for (const m of mods.children) m.setAttribute('aria-pressed', 'false');
      const answer = await post('key', { key: name, modifiers });
      if (!answer.ok) notify(answer.error || 'The key didn’t reach the computer.', 'error');
    });
    keys.append(b);
  }
}
