// Media keys, volume and mute, text to type or copy, and whole-computer actions.
import { get, post } from './api.js';
import { $ } from './dom.js';

const VOLUME_SEND_MS = 150;

export function createControls({ notify, confirm, onUnpair }) {
  const slider = $('#volume');
  const out = $('#volume-out');
  const mute = $('#mute');
  let muted = false;
  let sendTimer = 0;
  let dragging = false;

  function showVolume(level) {
    const known = typeof level === 'number' && level >= 0;
    slider.disabled = !known;
    if (known) slider.value = String(level);
    out.textContent = known ? String(Math.round(level)) : '–';
    slider.style.setProperty('--fill', (known ? level : 0) + '%');
  }

  function showMuted(on) {
    muted = on;
    mute.setAttribute('aria-pressed', String(on));
    mute.setAttribute('aria-label', on ? 'Unmute' : 'Mute');
    $('#mute-glyph').textContent = on ? '🔇' : '🔊';
  }

  /** What the computer plays and its volume, as the "media" event and "now-playing" give it. */
  function showMedia(state) {
    if (!state || typeof state !== 'object') return;
    const text = (v) => (typeof v === 'string' ? v : '');
    const title = text(state.title) || (text(state.player) ? text(state.player) : 'Nothing playing');
    $('#np-title').textContent = title;
    $('#np-artist').textContent = text(state.artist);
    const playing = state.playing === true;
    const button = document.querySelector('[data-media=playpause]');
    button.setAttribute('aria-label', playing ? 'Pause' : 'Play');
    button.dataset.playing = String(playing);
    button.firstElementChild.textContent = playing ? '⏸' : '▶';
    if (!dragging && typeof state.volume === 'number') showVolume(state.volume);
    if (typeof state.muted === 'boolean') showMuted(state.muted);
  }

  async function showName() {
    const answer = await get('devices');
    const self = Array.isArray(answer.devices) ? answer.devices.find((d) => d && d.current === true) : null;
    $('#device-name').textContent = self && typeof self.name === 'string' ? 'This phone: ' + self.name : '';
  }

  async function refresh() {
    showName();
    get('now-playing').then((state) => { if (state.ok) showMedia(state); });
    if (dragging) return;
    const answer = await get('volume');
    if (!answer.ok) return;
    showVolume(answer.level);
    showMuted(answer.muted === true);
  }

  async function sendLevel() {
    const answer = await post('volume', { level: Number(slider.value) });
    if (!answer.ok) notify(answer.error || 'Couldn’t change the volume.', 'error');
  }

  slider.addEventListener('input', () => {
    dragging = true;
    showVolume(Number(slider.value));
    clearTimeout(sendTimer);
    sendTimer = setTimeout(sendLevel, VOLUME_SEND_MS);
  });
  slider.addEventListener('change', () => {
    dragging = false;
    clearTimeout(sendTimer);
    sendLevel();
  });

  mute.addEventListener('click', async () => {
    const want = !muted;
    showMuted(want);
    const answer = await post('volume', { muted: want });
    if (!answer.ok) {
      showMuted(!want);
      notify(answer.error || 'Couldn’t change mute.', 'error');
    }
  });

  for (const button of document.querySelectorAll('[data-media]')) {
    button.addEventListener('click', () => act(button, 'media', { action: button.dataset.media }, 'Media keys didn’t work.'));
  }

  async function act(button, name, body, failure, success) {
    button.disabled = true;
    const answer = await post(name, body);
    button.disabled = false;
    if (!answer.ok) notify(answer.error || failure, 'error');
    else if (success) notify(success, 'ok');
    return answer.ok;
  }

  const text = $('#send-text');
  $('#type-btn').addEventListener('click', (e) => {
    if (!text.value) return text.focus();
    act(e.currentTarget, 'type', { text: text.value }, 'Couldn’t type the text.', 'Typed.');
  });
  $('#clip-btn').addEventListener('click', (e) => {
    act(e.currentTarget, 'clipboard', { text: text.value }, 'Couldn’t set the clipboard.', 'Copied to the computer’s clipboard.');
  });
  $('#screensaver-btn').addEventListener('click', (e) =>
    act(e.currentTarget, 'system', { action: 'screensaver' }, 'Couldn’t start the screen saver.'));
  $('#lock-btn').addEventListener('click', async (e) => {
    if (await confirm('Lock the computer?', 'You will need its password to get back in.', 'Lock')) {
      act(e.currentTarget, 'gesture', { value: 'lock_screen' }, 'Couldn’t lock the computer.');
    }
  });
  $('#sleep-btn').addEventListener('click', async (e) => {
    if (await confirm('Put the computer to sleep?', 'This phone can’t wake it up again.', 'Sleep')) {
      act(e.currentTarget, 'system', { action: 'sleep' }, 'Couldn’t put the computer to sleep.');
    }
  });
  $('#unpair-btn').addEventListener('click', async () => {
    if (await confirm('Unpair this phone?', 'You will need the PIN or QR code to pair again.', 'Unpair')) {
      await post('unpair');
      onUnpair();
    }
  });

  return { refresh, showMedia };
}
