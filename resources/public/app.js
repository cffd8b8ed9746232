// Phone web app: pairing, pages of tiles, controls and Ask.
import { get, session } from './api.js';
import { createAsk } from './ask.js';
import { createControls } from './controls.js';
import { $, confirmDialog, toast } from './dom.js';
import { watchEvents } from './events.js';
import { createHome } from './home.js';
import { createPairing } from './pair.js';
import { createTouchpad } from './touchpad.js';

const CONFIG_CACHE_KEY = 'harbly.config';
const app = $('#app');
let events = null;
let shownConfig = '';

function notify(message, kind) { toast($('#toasts'), message, kind); }

const confirm = confirmDialog;

const home = createHome({ notify, confirm });
const controls = createControls({ notify, confirm, onUnpair: () => showPairing('') });
createAsk({ notify });
createTouchpad({ notify });
const pairing = createPairing({ onPaired: () => showMain() });

function setView(name) {
  app.dataset.view = name;
  for (const view of ['home', 'touchpad', 'controls', 'ask']) $('#view-' + view).hidden = view !== name;
  for (const tab of document.querySelectorAll('.tab')) {
    if (tab.dataset.view === name) tab.setAttribute('aria-current', 'page');
    else tab.removeAttribute('aria-current');
  }
  if (name === 'controls') controls.refresh();
}

function showPairing(note) {
  session.clear();
  forgetConfig();
  if (events) { events.close(); events = null; }
  showPairView(note);
}

function showPairView(note) {
  app.dataset.view = 'pair';
  $('#pair').hidden = false;
  $('#main').hidden = true;
  $('#tabbar').hidden = true;
  $('#host').textContent = 'Harbly';
  setLive('off');
  pairing.show(note);
}

function showMain() {
  $('#pair').hidden = true;
  $('#main').hidden = false;
  $('#tabbar').hidden = false;
  if (!app.dataset.view || app.dataset.view === 'pair' || app.dataset.view === 'boot') setView('home');
  const cached = cachedConfig();
  if (cached) render(cached);
  loadConfig();
  if (!events) events = watchEvents({ onReload: loadConfig, onResync: loadConfig, onState: setLive, onMedia: controls.showMedia });
}

function render(answer) {
  const text = JSON.stringify(answer.config);
  if (text === shownConfig) return;
  shownConfig = text;
  home.render(answer.config);
  if (!performance.getEntriesByName('harbly:tiles').length) performance.mark('harbly:tiles');
  $('#host').textContent = typeof answer.host === 'string' && answer.host ? answer.host : 'Harbly';
  $('#version').textContent = typeof answer.version === 'string' ? 'Harbly ' + answer.version : '';
}

async function loadConfig() {
  const answer = await get('config');
  if (!answer.ok || !answer.config || typeof answer.config !== 'object') {
    if (!session.token()) return;
    if (!shownConfig) notify(answer.error || 'Couldn’t load your tiles.', 'error');
    return;
  }
  render(answer);
  try { localStorage.setItem(CONFIG_CACHE_KEY, JSON.stringify({ config: answer.config, host: answer.host, version: answer.version })); } catch { /* full or private */ }
}

function cachedConfig() {
  try {
    const value = JSON.parse(localStorage.getItem(CONFIG_CACHE_KEY) || 'null');
    return value && typeof value.config === 'object' ? value : null;
  } catch { return null; }
}

function forgetConfig() {
  shownConfig = '';
  try { localStorage.removeItem(CONFIG_CACHE_KEY); } catch { /* ignore */ }
}

const LIVE_LABELS = { on: 'Connected', lost: 'Reconnecting', idle: 'Connected, updates when opened', off: 'Not paired' };

function setLive(state) {
  const dot = $('#live');
  dot.dataset.state = state || 'off';
  dot.setAttribute('aria-label', LIVE_LABELS[state || 'off']);
}

for (const tab of document.querySelectorAll('.tab')) tab.addEventListener('click', () => setView(tab.dataset.view));
session.onUnauthorized(() => showPairing('This phone is no longer paired. Enter the PIN to pair again.'));

async function boot() {
  if (new URLSearchParams(location.search).has('pair')) {
    showPairView('');
    if (await pairing.tryLink()) return showMain();
    // A stale link does not unpair a phone that is already paired.
    if (session.token()) {
      showMain();
      notify($('#pair-message').textContent, 'error');
    }
    return;
  }
  if (session.token()) showMain();
  else showPairing('');
}

boot();
