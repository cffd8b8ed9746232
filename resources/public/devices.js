// The Control Panel's "Paired phones" card: every phone with its name and last contact,
// renamed in place, revoked one by one or all at once ("api/devices").
import { get, post } from './api.js';
import { $, h, str } from './dom.js';

const MINUTE = 60 * 1000;
const UNITS = [['day', 24 * 60 * MINUTE], ['hour', 60 * MINUTE], ['minute', MINUTE]];
const relative = new Intl.RelativeTimeFormat('en', { numeric: 'always' });

/** "last seen 5 minutes ago", "last seen just now", "never seen". */
export function lastSeenText(iso, now = Date.now()) {
  const time = Date.parse(str(iso));
  if (Number.isNaN(time)) return 'never seen';
  const elapsed = Math.max(0, now - time);
  for (const [unit, size] of UNITS) {
    if (elapsed >= size) return 'last seen ' + relative.format(-Math.floor(elapsed / size), unit);
  }
  return 'last seen just now';
}

export function createDevices({ notify, confirm }) {
  const list = $('#device-list');
  let devices = [];

  async function change(body, done) {
    const answer = await post('devices', body, { auth: false });
    if (answer.ok) notify(done, 'ok');
    else notify(answer.error || 'That phone is no longer paired.', 'error');
    refresh(true);
  }

  function rename(device, item) {
    const input = h('input', { value: device.name, maxlength: 40, 'aria-label': 'New name for ' + device.name });
    const form = h('form', { class: 'inline device-rename' }, input,
      h('button', { class: 'btn btn-small', type: 'submit' }, 'Save'),
      h('button', { class: 'btn btn-small btn-quiet', type: 'button', onclick: render }, 'Cancel'));
    form.addEventListener('submit', (e) => {
      e.preventDefault();
      const name = input.value.trim();
      if (name) change({ rename: device.id, name }, 'Renamed to “' + name + '”.');
    });
    item.replaceChildren(form);
    input.select();
  }

  async function revoke(device) {
    if (await confirm('Unpair “' + device.name + '”?', 'It will need the PIN or a QR code to pair again.', 'Unpair')) {
      change({ revoke: device.id }, 'Unpaired “' + device.name + '”.');
    }
  }

  function row(device) {
    const item = h('li', { class: 'device-item' });
    const via = device.via === 'relay' ? ' · through the relay' : '';
    item.append(
      h('span', { class: 'device-body' },
        h('span', { class: 'device-name', text: device.name }),
        h('span', { class: 'small muted device-seen', text: lastSeenText(device.lastSeen) + via })),
      h('button', { type: 'button', class: 'btn btn-small btn-quiet', 'aria-label': 'Rename ' + device.name, onclick: () => rename(device, item) }, 'Rename'),
      h('button', { type: 'button', class: 'icon-btn danger', 'aria-label': 'Unpair ' + device.name, onclick: () => revoke(device) }, '✕'));
    return item;
  }

  function render() {
    list.replaceChildren(...devices.map(row));
    $('#unpair-all').disabled = devices.length === 0;
    $('#devices-note').textContent = devices.length ? '' : 'No phone is paired.';
  }

  async function refresh(force = false) {
    const answer = await get('devices', { auth: false });
    if (!answer.ok || !Array.isArray(answer.devices)) return;
    devices = answer.devices.filter((d) => d && typeof d.id === 'string')
      .map((d) => ({ ...d, name: str(d.name, 'Unknown phone') }));
    // A timed refresh keeps a rename being typed.
    if (force === true || !list.querySelector('.device-rename')) render();
  }

  $('#unpair-all').addEventListener('click', async () => {
    if (await confirm('Unpair all phones?', 'Every phone will need the PIN or a QR code to pair again.', 'Unpair all')) {
      change({ revokeAll: true }, 'All phones unpaired.');
    }
  });
  // "Last seen" ages while the panel is open.
  setInterval(() => refresh(), MINUTE);
  document.addEventListener('visibilitychange', () => { if (!document.hidden) refresh(); });

  return { refresh };
}
