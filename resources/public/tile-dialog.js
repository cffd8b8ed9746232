// The dialog that adds or edits one tile: app (searchable, with icons), web address,
// shortcut, gesture or flow.
import { get, iconUrl } from './api.js';
import { $, h, str } from './dom.js';
import { createStepsEditor } from './steps-editor.js';
import { TILE_TYPES, typeName } from './tiles.js';

const dialog = $('#tile-dialog');
const pane = $('#type-pane');
const message = $('#tile-msg');
let current = null;

/**
 * Opens the dialog for `tile` (null to add one). Resolves to the tile's new fields
 * ({type, value?, label?, emoji?, steps?}) or null when cancelled.
 */
export function editTile(tile, catalogue) {
  const draft = { type: 'app', value: '', steps: [], ...(tile ? structuredClone(tile) : {}) };
  if (!TILE_TYPES.includes(draft.type)) draft.type = 'app';
  current = { draft, catalogue, steps: null };
  $('#tile-dialog-h').textContent = tile ? 'Edit tile' : 'Add tile';
  $('#tile-ok').textContent = tile ? 'Save tile' : 'Add tile';
  $('#tile-label').value = str(draft.label);
  $('#tile-emoji').value = str(draft.emoji);
  message.textContent = '';
  renderTabs();
  renderPane();
  if (draft.type === 'shortcut') refreshShortcuts();
  dialog.showModal();
  return new Promise((resolve) => { current.resolve = resolve; });
}

function renderTabs() {
  $('#type-tabs').replaceChildren(...TILE_TYPES.map((type) => h('button', {
    type: 'button', role: 'radio', class: 'type-tab', 'aria-checked': String(type === current.draft.type),
    tabindex: type === current.draft.type ? '0' : '-1',
    onclick: () => choose(type),
    onkeydown: (e) => arrowKeys(e, type),
  }, typeName(type))));
}

function arrowKeys(e, type) {
  const step = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[e.key];
  if (!step) return;
  e.preventDefault();
  const next = TILE_TYPES[(TILE_TYPES.indexOf(type) + step + TILE_TYPES.length) % TILE_TYPES.length];
  choose(next);
  $('#type-tabs [aria-checked=true]').focus();
}

function choose(type) {
  if (type === current.draft.type) return;
  current.draft.type = type;
  current.draft.value = '';
  message.textContent = '';
  renderTabs();
  renderPane();
  if (type === 'shortcut') refreshShortcuts();
}

/** Shortcuts come and go as files; list them afresh when the user looks at them. */
async function refreshShortcuts() {
  const shown = current;
  const answer = await get('shortcuts', { auth: false });
  if (current !== shown || !answer.ok || !Array.isArray(answer.shortcuts)) return;
  current.catalogue = { ...current.catalogue, shortcuts: answer.shortcuts.filter((s) => typeof s === 'string') };
  if (current.draft.type === 'shortcut') renderPane();
}

/** A searchable list of choices; `items` = [{value, label, icon}] where icon is an element. */
function picker(items, placeholder) {
  const list = h('div', { class: 'pick-list', role: 'listbox', 'aria-label': placeholder });
  const search = h('input', { type: 'search', placeholder, 'aria-label': placeholder });
  function render() {
    const q = search.value.trim().toLowerCase();
    const shown = items.filter((it) => !q || it.label.toLowerCase().includes(q) || it.value.toLowerCase().includes(q));
    list.replaceChildren(...shown.map((it) => h('button', {
      type: 'button', role: 'option', class: 'pick', 'aria-selected': String(it.value === current.draft.value),
      onclick: () => { current.draft.value = it.value; message.textContent = ''; render(); },
    }, it.icon(), h('span', { text: it.label }))));
    if (!shown.length) list.append(h('p', { class: 'small muted pick-none', text: items.length ? 'Nothing matches.' : 'Nothing to choose from.' }));
  }
  search.addEventListener('input', render);
  render();
  return h('div', { class: 'picker' }, items.length > 8 ? search : null, list);
}

function appIcon(name) {
  return () => {
    const img = h('img', { src: iconUrl(name), alt: '', loading: 'lazy', width: 28, height: 28 });
    img.addEventListener('error', () => img.replaceWith(h('span', { class: 'pick-emoji', text: '📦' })), { once: true });
    return img;
  };
}

function renderPane() {
  const { draft, catalogue } = current;
  const emoji = (e) => () => h('span', { class: 'pick-emoji', 'aria-hidden': 'true', text: e });
  current.steps = null;
  switch (draft.type) {
    case 'app':
      pane.replaceChildren(picker(catalogue.apps.map((a) => ({ value: a, label: a, icon: appIcon(a) })), 'Search apps'));
      break;
    case 'shortcut':
      pane.replaceChildren(picker(catalogue.shortcuts.map((s) => ({ value: s, label: s, icon: emoji('⚙️') })), 'Search shortcuts'));
      break;
    case 'gesture':
      pane.replaceChildren(picker(catalogue.gestures.map((g) => ({ value: g.value, label: g.label, icon: emoji(g.emoji) })), 'Search gestures'));
      break;
    case 'url':
      pane.replaceChildren(h('label', { class: 'block' }, 'Web address',
        h('input', { type: 'url', id: 'tile-url', value: draft.value, placeholder: 'https://example.com', oninput: (e) => { draft.value = e.target.value; } })));
      break;
    case 'flow': {
      const holder = h('div');
      pane.replaceChildren(holder);
      const steps = Array.isArray(draft.steps) && draft.steps.length ? draft.steps : [{ type: 'app', value: '' }];
      current.steps = createStepsEditor(holder, catalogue, steps);
      break;
    }
  }
}

function read() {
  const { draft } = current;
  const out = { type: draft.type, label: $('#tile-label').value.trim(), emoji: $('#tile-emoji').value.trim() };
  if (draft.type === 'flow') {
    const result = current.steps.read();
    if (result.error) return { error: result.error };
    out.steps = result.steps;
    if (!out.label) return { error: 'Give the flow a label.' };
    return { tile: out };
  }
  out.value = str(draft.value).trim();
  if (!out.value) return { error: draft.type === 'url' ? 'Enter a web address.' : 'Choose one from the list.' };
  if (draft.type === 'url' && !/^https?:\/\/\S+$/i.test(out.value)) return { error: 'Enter a full address starting with http:// or https://.' };
  if (draft.type === 'gesture' && !out.emoji) {
    const g = current.catalogue.gestures.find((x) => x.value === out.value);
    if (g) { out.emoji = g.emoji; out.label = out.label || g.label; }
  }
  return { tile: out };
}

function finish(value) {
  const resolve = current && current.resolve;
  current = null;
  if (dialog.open) dialog.close();
  if (resolve) resolve(value);
}

$('#tile-form').addEventListener('submit', (e) => {
  e.preventDefault();
  const result = read();
  if (result.error) { message.textContent = result.error; return; }
  finish(result.tile);
});
$('#tile-cancel').addEventListener('click', () => finish(null));
dialog.addEventListener('cancel', () => finish(null));
