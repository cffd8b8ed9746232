// The pages of tiles: swipeable pages with tabs, laid out per the display settings.
import { iconUrl, post } from './api.js';
import { $, h } from './dom.js';
import { displaySettings, isDestructive, pagesOf, tileEmoji, tileLabel, tileRequest } from './tiles.js';

const LONG_PRESS_MS = 600;
const missingIcons = new Set(); // apps whose icon failed once: no refetch on every re-render
const FEEDBACK_MS = 900;

export function createHome({ notify, confirm }) {
  const tabs = $('#page-tabs');
  const pagesEl = $('#pages');
  const empty = $('#home-empty');
  let current = 0;

  function icon(tile) {
    const emoji = h('span', { class: 'tile-emoji', 'aria-hidden': 'true', text: tileEmoji(tile) });
    if (tile.type !== 'app' || typeof tile.value !== 'string' || tile.value === '' || tile.emoji) return emoji;
    if (missingIcons.has(tile.value)) return emoji;
    const img = h('img', { class: 'tile-img', src: iconUrl(tile.value), alt: '', loading: 'lazy', decoding: 'async', width: 64, height: 64 });
    img.addEventListener('error', () => { missingIcons.add(tile.value); img.replaceWith(emoji); }, { once: true });
    return img;
  }

  async function run(tile, button) {
    const call = tileRequest(tile);
    if (!call) return;
    if (isDestructive(tile) && !button.dataset.longPressed) {
      const yes = await confirm(tileLabel(tile) + '?', 'This will ' + tileLabel(tile).toLowerCase() + ' on your computer.', tileLabel(tile));
      if (!yes) return;
    }
    delete button.dataset.longPressed;
    button.classList.add('busy');
    const answer = await post(call[0], call[1]);
    button.classList.remove('busy');
    flash(button, answer.ok ? 'ok' : 'fail');
    if (!answer.ok) notify(answer.error || 'Couldn’t ' + verb(tile) + ' ' + tileLabel(tile) + '.', 'error');
  }

  function tileButton(tile) {
    const label = tileLabel(tile);
    const button = h('button', { type: 'button', class: 'tile tile-' + tile.type, 'aria-label': label, title: label },
      h('span', { class: 'tile-icon' }, icon(tile)),
      h('span', { class: 'tile-label', text: label, 'aria-hidden': 'true' }));
    button.addEventListener('click', () => run(tile, button));
    if (isDestructive(tile)) holdToRun(button, () => run(tile, button));
    return button;
  }

  function render(config) {
    const settings = displaySettings(config);
    const pages = pagesOf(config);
    const root = $('#view-home');
    root.style.setProperty('--columns', String(settings.columns));
    root.style.setProperty('--icon-scale', String(settings.iconScale));
    root.classList.toggle('no-labels', !settings.labels);
    tabs.hidden = pages.length < 2;
    tabs.replaceChildren(...pages.map((p, i) => h('button', {
      type: 'button', class: 'page-tab', dataset: { index: String(i) },
      onclick: () => go(i, true),
    }, p.icon ? h('span', { 'aria-hidden': 'true', text: p.icon }) : null, h('span', { text: p.name }))));
    pagesEl.replaceChildren(...pages.map((p) => h('div', { class: 'page', role: 'group', 'aria-label': p.name },
      h('div', { class: 'grid' }, p.tiles.map(tileButton)))));
    empty.hidden = pages.some((p) => p.tiles.length > 0);
    current = Math.min(current, Math.max(0, pages.length - 1));
    go(current, false);
  }

  function go(index, smooth) {
    current = index;
    const page = pagesEl.children[index];
    if (page) pagesEl.scrollTo({ left: page.offsetLeft, behavior: smooth ? 'smooth' : 'auto' });
    markTab();
  }

  function markTab() {
    tabs.querySelectorAll('.page-tab').forEach((tab, i) => tab.setAttribute('aria-current', i === current ? 'true' : 'false'));
  }

  pagesEl.addEventListener('scroll', () => {
    const width = pagesEl.clientWidth || 1;
    const index = Math.round(pagesEl.scrollLeft / width);
    if (index !== current) { current = index; markTab(); }
  }, { passive: true });

  return { render };
}

function verb(tile) {
  return { app: 'open', url: 'open', shortcut: 'run', gesture: 'do', flow: 'run' }[tile.type] || 'run';
}

function flash(button, kind) {
  button.classList.remove('ok', 'fail');
  void button.offsetWidth;
  button.classList.add(kind);
  setTimeout(() => button.classList.remove(kind), FEEDBACK_MS);
}

/** A long press runs a destructive tile without the confirmation sheet. */
function holdToRun(button, action) {
  let timer = 0;
  const cancel = () => { clearTimeout(timer); button.classList.remove('holding'); };
  button.addEventListener('pointerdown', () => {
    button.classList.add('holding');
    timer = setTimeout(() => {
      button.classList.remove('holding');
      button.dataset.longPressed = '1';
      button.dataset.suppressClick = '1';
      action();
    }, LONG_PRESS_MS);
  });
  for (const type of ['pointerup', 'pointerleave', 'pointercancel']) button.addEventListener(type, cancel);
  button.addEventListener('click', (e) => {
    if (button.dataset.suppressClick) {
      delete button.dataset.suppressClick;
      e.stopImmediatePropagation();
    }
  }, { capture: true });
  button.addEventListener('contextmenu', (e) => e.preventDefault());
}
