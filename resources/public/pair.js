// Pairing: a PIN pad (4–8 digits) and automatic pairing from "?pair=<code>".
import { post, session } from './api.js';
import { $, h } from './dom.js';

const MIN_PIN = 4;
const MAX_PIN = 8;

// First match wins: Chrome-based browsers also say "Chrome" and "Safari".
const BROWSERS = [['Edg', 'Edge'], ['SamsungBrowser/', 'Samsung Internet'], ['OPR/', 'Opera'], ['OPiOS/', 'Opera'], ['Firefox/', 'Firefox'],
  ['FxiOS/', 'Firefox'], ['CriOS/', 'Chrome'], ['Chrome/', 'Chrome'], ['Safari/', 'Safari']];
const SYSTEMS = [['iPhone', 'iPhone'], ['iPad', 'iPad'], ['Android', 'Android'], ['CrOS', 'ChromeOS'],
  ['Windows', 'Windows'], ['Macintosh', 'Mac'], ['Linux', 'Linux']];

/** A name for this phone such as "Chrome on Android", from its User-Agent. */
export function guessName(userAgent = navigator.userAgent) {
  const find = (table) => (table.find(([needle]) => userAgent.includes(needle)) || [])[1];
  const [browser, system] = [find(BROWSERS), find(SYSTEMS)];
  return browser && system ? browser + ' on ' + system : browser || system || 'Phone';
}

/** Removes "pair" from the address bar so the one-time code is not kept in history. */
function takePairCode() {
  const url = new URL(location.href);
  const code = url.searchParams.get('pair');
  if (code === null) return null;
  url.searchParams.delete('pair');
  history.replaceState(history.state, '', url.pathname + url.search + url.hash);
  return code;
}

export function createPairing({ onPaired }) {
  const input = $('#pin-input');
  const dots = $('#pin-dots');
  const message = $('#pair-message');
  const keypad = $('#keypad');
  const name = $('#pair-name');
  name.value = guessName();
  let busy = false;
  let locked = false;

  function render() {
    const n = input.value.length;
    dots.replaceChildren(...Array.from({ length: Math.max(MIN_PIN, n) }, (_, i) =>
      h('span', { class: i < n ? 'dot on' : 'dot' })));
    keypad.querySelector('[data-key="ok"]').disabled = busy || locked || n < MIN_PIN;
  }

  function say(text, kind) {
    message.textContent = text;
    message.dataset.kind = kind || '';
  }

  function setLocked(on) {
    locked = on;
    $('#pair').classList.toggle('locked', on);
    for (const b of keypad.querySelectorAll('button')) b.disabled = on;
    input.disabled = on;
  }

  async function submit() {
    if (busy || locked || input.value.length < MIN_PIN) return;
    busy = true;
    render();
    say('Pairing…', 'busy');
    const answer = await post('pair', { pin: input.value, name: name.value }, { auth: false });
    busy = false;
    input.value = '';
    render();
    if (answer.ok && typeof answer.token === 'string') {
      say('', '');
      session.save(answer.token);
      onPaired();
      return;
    }
    say(answer.error || 'Pairing failed. Try again.', 'error');
    if (answer.locked === true) setLocked(true);
    else shake();
  }

  function shake() {
    dots.classList.remove('shake');
    void dots.offsetWidth;
    dots.classList.add('shake');
  }

  function press(key) {
    if (busy || locked) return;
    if (key === 'back') input.value = input.value.slice(0, -1);
    else if (key === 'ok') return submit();
    else if (input.value.length < MAX_PIN) input.value += key;
    if (message.dataset.kind === 'error') say('', '');
    render();
  }

  const keys = ['1', '2', '3', '4', '5', '6', '7', '8', '9', 'back', '0', 'ok'];
  keypad.replaceChildren(...keys.map((key) => {
    const label = key === 'back' ? 'Delete digit' : key === 'ok' ? 'Pair' : key;
    const glyph = key === 'back' ? '⌫' : key === 'ok' ? 'Pair' : key;
    return h('button', { type: 'button', class: 'key key-' + key, dataset: { key }, 'aria-label': label, onclick: () => press(key) }, glyph);
  }));
  input.addEventListener('input', () => {
    input.value = input.value.replace(/\D/g, '').slice(0, MAX_PIN);
    render();
  });
  input.addEventListener('keydown', (e) => { if (e.key === 'Enter') submit(); });
  name.addEventListener('keydown', (e) => { if (e.key === 'Enter') submit(); });
  // A hardware keyboard works on the pad too.
  document.addEventListener('keydown', (e) => {
    if ($('#pair').hidden || e.target === input || e.target === name || e.ctrlKey || e.metaKey || e.altKey) return;
    const key = /^[0-9]$/.test(e.key) ? e.key : { Backspace: 'back', Enter: 'ok' }[e.key];
    if (!key || (key === 'ok' && e.target.closest && e.target.closest('button'))) return;
    e.preventDefault();
    press(key);
  });
  render();

  return {
    /** Exchanges a "?pair=" code if the address has one; resolves true when paired. */
    async tryLink() {
      const code = takePairCode();
      if (code === null) return false;
      say('Pairing…', 'busy');
      const answer = await post('pair-code', { code, name: name.value }, { auth: false });
      if (answer.ok && typeof answer.token === 'string') {
        say('', '');
        session.save(answer.token);
        return true;
      }
      say(answer.error || 'Pairing failed. Try again.', 'error');
      return false;
    },
    show(note) {
      if (note) say(note, 'info');
    },
  };
}
