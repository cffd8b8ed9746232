// Control Panel: pairing (PIN, QR link, PIN change), phone layout and relay settings,
// the page and tile editor, and flows. Everything is saved with "POST api/config".
import { get, post } from './api.js';
import { $, confirmDialog, h, str, toast } from './dom.js';
import { createDevices } from './devices.js';
import { createEditor } from './editor.js';
import { watchEvents } from './events.js';
import { createFlows } from './flows.js';
import { SETTING_LIMITS, displaySettings } from './tiles.js';

const state = { admin: null, saved: '', work: null };
const notify = (message, kind) => toast($('#toasts'), message, kind);
const work = () => state.work;
const dirty = () => state.work !== null && JSON.stringify(state.work) !== state.saved;

function catalogue() {
  const a = state.admin || {};
  const texts = (v) => (Array.isArray(v) ? v.filter((x) => typeof x === 'string') : []);
  const gestures = (Array.isArray(a.gestures) ? a.gestures : [])
    .filter((g) => g && typeof g.value === 'string')
    .map((g) => ({ value: g.value, label: str(g.label, g.value), emoji: str(g.emoji) }))
    .sort((x, y) => x.label.localeCompare(y.label));
  return { apps: texts(a.apps).sort((x, y) => x.localeCompare(y)), shortcuts: texts(a.shortcuts), gestures };
}

function changed() {
  const isDirty = dirty();
  $('#save').disabled = !isDirty;
  $('#discard').disabled = !isDirty;
  $('#save-state').textContent = isDirty ? 'Unsaved changes' : 'All changes saved';
  document.body.classList.toggle('is-dirty', isDirty);
  flows.render();
}

const editor = createEditor({ work, catalogue, changed, confirm: confirmDialog });
const flows = createFlows({ work, catalogue, dirty, notify });
const devices = createDevices({ notify, confirm: confirmDialog });

async function load() {
  const answer = await get('admin', { auth: false });
  if (!answer.ok) {
    $('#save-state').textContent = 'Can’t read the configuration. Open this page from Harbly on this computer.';
    return;
  }
  state.admin = answer;
  const config = answer.config && typeof answer.config === 'object' ? answer.config : { pages: [], settings: {} };
  state.work = structuredClone(config);
  state.saved = JSON.stringify(config);
  $('#host').textContent = [str(answer.host), answer.version ? 'version ' + answer.version : ''].filter(Boolean).join(' · ');
  $('#pin').textContent = str(answer.pin, '····');
  $('#banner').hidden = true;
  renderSettings();
  editor.render();
  changed();
  devices.refresh();
}

async function newLink() {
  const answer = await get('connect', { auth: false });
  const qr = $('#qr');
  if (!answer.ok) { $('#link').textContent = 'Couldn’t make a pairing link.'; return; }
  $('#link').textContent = str(answer.url);
  showQR(qr, answer.qr);
}

/** Shows the agent's QR image; without one the address beside it is still there to type. */
function showQR(img, image) {
  const ok = str(image).startsWith('data:image/png');
  img.hidden = !ok;
  if (ok) img.src = image;
  img.closest('.qr-box').hidden = !ok;
}

// Settings live in the configuration document and are saved with it.
function settings() {
  const doc = work();
  if (!doc.settings || typeof doc.settings !== 'object' || Array.isArray(doc.settings)) doc.settings = {};
  return doc.settings;
}

function renderSettings() {
  const shown = displaySettings(work());
  const select = $('#columns');
  const [lo, hi] = SETTING_LIMITS.columns;
  select.replaceChildren(...Array.from({ length: hi - lo + 1 }, (_, i) => h('option', { value: String(lo + i), selected: lo + i === shown.columns }, String(lo + i))));
  $('#icon-scale').value = String(shown.iconScale);
  $('#icon-scale-out').textContent = Math.round(shown.iconScale * 100) + '%';
  $('#labels').checked = shown.labels;
  $('#relay').checked = settings().relayEnabled === true;
  renderRelay();
}

function renderRelay() {
  const on = $('#relay').checked;
  const url = relayAddress();
  $('#relay-info').hidden = !on || !url;
  if (on && url) {
    $('#relay-url').textContent = url;
    showQR($('#relay-qr'), state.admin.relayQr);
  }
}

/** The relay phone address, with the trailing slash the page's relative addresses need. */
function relayAddress() {
  const url = str(state.admin && state.admin.relayUrl);
  return url && !url.endsWith('/') ? url + '/' : url;
}

$('#columns').addEventListener('change', (e) => { settings().columns = Number(e.target.value); changed(); editor.render(); });
$('#icon-scale').addEventListener('input', (e) => {
  settings().iconScale = Math.round(Number(e.target.value) * 100) / 100;
  $('#icon-scale-out').textContent = Math.round(settings().iconScale * 100) + '%';
  changed();
  editor.render();
});
$('#labels').addEventListener('change', (e) => { settings().labels = e.target.checked; changed(); editor.render(); });
$('#relay').addEventListener('change', (e) => { settings().relayEnabled = e.target.checked; changed(); renderRelay(); });

$('#pin-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  const input = $('#new-pin');
  const msg = $('#pin-msg');
  const pin = input.value.trim();
  if (!/^\d{4,8}$/.test(pin)) {
    msg.textContent = 'A PIN is 4 to 8 digits.';
    msg.dataset.kind = 'error';
    return;
  }
  const answer = await post('set-pin', { pin }, { auth: false });
  msg.textContent = answer.ok ? 'PIN changed. Paired phones stay paired.' : (answer.error || 'The PIN wasn’t accepted.');
  msg.dataset.kind = answer.ok ? 'ok' : 'error';
  if (answer.ok) { $('#pin').textContent = pin; input.value = ''; }
});

$('#new-link').addEventListener('click', newLink);

$('#save').addEventListener('click', async () => {
  $('#save').disabled = true;
  const text = JSON.stringify(state.work);
  const answer = await post('config', state.work, { auth: false });
  if (!answer.ok) { notify(answer.error || 'Saving failed.', 'error'); changed(); return; }
  state.saved = text;
  changed();
  notify('Saved. Phones update by themselves.', 'ok');
});

$('#discard').addEventListener('click', load);
$('#banner-reload').addEventListener('click', load);
window.addEventListener('beforeunload', (e) => { if (dirty()) { e.preventDefault(); e.returnValue = ''; } });
document.addEventListener('keydown', (e) => {
  if ((e.ctrlKey || e.metaKey) && e.key === 's') {
    e.preventDefault();
    if (dirty()) $('#save').click();
  }
});

// A reload event follows our own saves too: reload when nothing is pending, otherwise
// keep the user's edits and offer to load the new document.
async function onReload() {
  if (!dirty()) return load();
  const answer = await get('admin', { auth: false });
  if (answer.ok && JSON.stringify(answer.config) !== state.saved) $('#banner').hidden = false;
}

watchEvents({ onReload, onResync: onReload });
load();
newLink();
