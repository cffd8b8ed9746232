// The page and tile editor. It edits the working copy of the configuration in place,
// so members it does not know about stay exactly as they were.
import { iconUrl } from './api.js';
import { $, h, str } from './dom.js';
import { editTile } from './tile-dialog.js';
import { displaySettings, tileEmoji, tileLabel, typeName } from './tiles.js';

const NEW_PAGE = () => ({ name: 'New page', icon: '⭐', tiles: [] });

export function createEditor({ work, catalogue, changed, confirm }) {
  let selected = 0;

  /** Indices of the pages that are objects (others are kept but not shown). */
  function pageIndices() {
    const pages = work().pages;
    return Array.isArray(pages) ? pages.map((p, i) => (p && typeof p === 'object' ? i : -1)).filter((i) => i >= 0) : [];
  }
  function pages() {
    const doc = work();
    if (!Array.isArray(doc.pages)) doc.pages = [];
    return doc.pages;
  }
  function page() { return pages()[selected]; }
  function tiles() {
    const p = page();
    if (!Array.isArray(p.tiles)) p.tiles = [];
    return p.tiles;
  }

  function render() {
    const shown = pageIndices();
    if (!shown.includes(selected)) selected = shown.length ? shown[0] : -1;
    $('#page-list').replaceChildren(...shown.map((i) => {
      const p = pages()[i];
      return h('button', {
        type: 'button', role: 'tab', class: 'page-pill', 'aria-selected': String(i === selected),
        tabindex: i === selected ? '0' : '-1',
        onclick: () => { selected = i; render(); },
        onkeydown: (e) => pillKeys(e, shown, i),
      }, h('span', { class: 'pill-emoji', 'aria-hidden': 'true', text: str(p.icon) }), h('span', { text: str(p.name, 'Page') }));
    }));
    $('#page-card').hidden = selected < 0;
    if (selected < 0) return;
    const p = page();
    $('#page-name').value = str(p.name);
    $('#page-icon').value = str(p.icon);
    $('#page-left').disabled = shown.indexOf(selected) === 0;
    $('#page-right').disabled = shown.indexOf(selected) === shown.length - 1;
    renderTiles();
  }

  function pillKeys(e, shown, i) {
    const step = { ArrowRight: 1, ArrowLeft: -1 }[e.key];
    if (!step) return;
    e.preventDefault();
    const at = shown.indexOf(i) + step;
    if (at < 0 || at >= shown.length) return;
    selected = shown[at];
    render();
    $('#page-list [aria-selected=true]').focus();
  }

  function renderTiles() {
    const settings = displaySettings(work());
    const grid = $('#tile-grid');
    grid.style.setProperty('--columns', String(settings.columns));
    grid.style.setProperty('--icon-scale', String(settings.iconScale));
    grid.classList.toggle('no-labels', !settings.labels);
    const list = tiles();
    const items = [];
    list.forEach((tile, i) => {
      if (!tile || typeof tile !== 'object') return;
      items.push(h('li', { class: 'tile-item', draggable: 'true', dataset: { index: String(i) } },
        h('button', { type: 'button', class: 'tile-card', 'aria-label': 'Edit ' + typeName(tile.type) + ' tile ' + tileLabel(tile), onclick: () => edit(i) },
          h('span', { class: 'tile-icon' }, tileIcon(tile)),
          h('span', { class: 'tile-label', text: tileLabel(tile) }),
          h('span', { class: 'tile-type', text: typeName(tile.type) })),
        h('div', { class: 'tile-tools' },
          h('button', { type: 'button', class: 'icon-btn', 'aria-label': 'Move ' + tileLabel(tile) + ' earlier', disabled: i === 0, onclick: () => moveTile(i, -1) }, '←'),
          h('button', { type: 'button', class: 'icon-btn', 'aria-label': 'Move ' + tileLabel(tile) + ' later', disabled: i === list.length - 1, onclick: () => moveTile(i, 1) }, '→'),
          h('button', { type: 'button', class: 'icon-btn danger', 'aria-label': 'Delete ' + tileLabel(tile), onclick: () => removeTile(i) }, '✕'))));
    });
    items.push(h('li', { class: 'tile-item' }, h('button', { type: 'button', class: 'tile-card tile-add', id: 'add-tile', onclick: add },
      h('span', { class: 'tile-icon', 'aria-hidden': 'true' }, '+'), h('span', { class: 'tile-label', text: 'Add tile' }))));
    grid.replaceChildren(...items);
  }

  // Drag a tile onto another to move it there (the arrow buttons do the same by keyboard).
  let dragFrom = -1;
  $('#tile-grid').addEventListener('dragstart', (e) => {
    const item = e.target.closest('.tile-item[data-index]');
    if (!item) return;
    dragFrom = Number(item.dataset.index);
    e.dataTransfer.effectAllowed = 'move';
    item.classList.add('dragging');
  });
  $('#tile-grid').addEventListener('dragend', () => {
    dragFrom = -1;
    for (const el of $('#tile-grid').querySelectorAll('.dragging, .drop-target')) el.classList.remove('dragging', 'drop-target');
  });
  $('#tile-grid').addEventListener('dragover', (e) => {
    const item = e.target.closest('.tile-item[data-index]');
    if (dragFrom < 0 || !item) return;
    e.preventDefault();
    for (const el of $('#tile-grid').querySelectorAll('.drop-target')) if (el !== item) el.classList.remove('drop-target');
    item.classList.add('drop-target');
  });
  $('#tile-grid').addEventListener('drop', (e) => {
    const item = e.target.closest('.tile-item[data-index]');
    if (dragFrom < 0 || !item) return;
    e.preventDefault();
    const to = Number(item.dataset.index);
    if (to !== dragFrom) {
      const list = tiles();
      list.splice(to, 0, list.splice(dragFrom, 1)[0]);
      changed();
      render();
    }
  });

  function tileIcon(tile) {
    const emoji = h('span', { class: 'tile-emoji', 'aria-hidden': 'true', text: tileEmoji(tile) });
    if (tile.type !== 'app' || !str(tile.value) || tile.emoji) return emoji;
    const img = h('img', { class: 'tile-img', src: iconUrl(tile.value), alt: '', loading: 'lazy', width: 48, height: 48 });
    img.addEventListener('error', () => img.replaceWith(emoji), { once: true });
    return img;
  }

  async function add() {
    const fields = await editTile(null, catalogue());
    if (!fields) return $('#add-tile').focus();
    tiles().push(clean({}, fields));
    changed();
    render();
    $('#add-tile').focus();
  }

  async function edit(i) {
    const tile = tiles()[i];
    const fields = await editTile(tile, catalogue());
    if (fields) { clean(tile, fields); changed(); render(); }
    const cards = $('#tile-grid').querySelectorAll('.tile-card');
    if (cards[i]) cards[i].focus();
  }

  function moveTile(i, delta) {
    const list = tiles();
    const [tile] = list.splice(i, 1);
    list.splice(i + delta, 0, tile);
    changed();
    render();
    const buttons = $('#tile-grid').querySelectorAll('.tile-item')[i + delta].querySelectorAll('.tile-tools button');
    const again = buttons[delta < 0 ? 0 : 1];
    (again.disabled ? buttons[delta < 0 ? 1 : 0] : again).focus();
  }

  async function removeTile(i) {
    const tile = tiles()[i];
    if (!(await confirm('Delete “' + tileLabel(tile) + '”?', 'The tile disappears from the phone when you save.', 'Delete'))) return;
    tiles().splice(i, 1);
    changed();
    render();
    const left = $('#tile-grid').querySelectorAll('.tile-card');
    left[Math.min(i, left.length - 1)].focus();
  }

  $('#page-name').addEventListener('input', (e) => { page().name = e.target.value; changed(); renderPills(); });
  $('#page-icon').addEventListener('input', (e) => { page().icon = e.target.value; changed(); renderPills(); });
  function renderPills() {
    const pill = $('#page-list [aria-selected=true]');
    if (!pill) return;
    pill.children[0].textContent = str(page().icon);
    pill.children[1].textContent = str(page().name, 'Page');
  }
  $('#add-page').addEventListener('click', () => {
    pages().push(NEW_PAGE());
    selected = pages().length - 1;
    changed();
    render();
    $('#page-name').select();
    $('#page-name').focus();
  });
  for (const [id, delta] of [['#page-left', -1], ['#page-right', 1]]) {
    $(id).addEventListener('click', () => {
      const shown = pageIndices();
      const other = shown[shown.indexOf(selected) + delta];
      const list = pages();
      [list[selected], list[other]] = [list[other], list[selected]];
      selected = other;
      changed();
      render();
      ($(id).disabled ? $(delta < 0 ? '#page-right' : '#page-left') : $(id)).focus();
    });
  }
  $('#page-delete').addEventListener('click', async () => {
    const p = page();
    const count = Array.isArray(p.tiles) ? p.tiles.length : 0;
    if (!(await confirm('Delete the page “' + str(p.name, 'Page') + '”?', count ? 'Its ' + count + (count === 1 ? ' tile goes' : ' tiles go') + ' with it.' : 'It has no tiles.', 'Delete page'))) return;
    pages().splice(selected, 1);
    selected = Math.max(0, selected - 1);
    changed();
    render();
  });

  return { render };
}

/** Writes the dialog's fields onto `tile`, dropping members that no longer apply. */
function clean(tile, fields) {
  tile.type = fields.type;
  for (const key of ['label', 'emoji']) {
    if (fields[key]) tile[key] = fields[key];
    else delete tile[key];
  }
  if (fields.type === 'flow') { tile.steps = fields.steps; delete tile.value; }
  else { tile.value = fields.value; delete tile.steps; }
  return tile;
}
