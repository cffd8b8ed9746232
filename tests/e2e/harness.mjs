// Helpers shared by the browser tests: the agent started by run.sh, its API, and pages.
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { setTimeout as sleep } from 'node:timers/promises';

export const BASE = process.env.HB_E2E_BASE;
export const WORK = process.env.HB_E2E_WORK;
export const ARTIFACTS = new URL('../artifacts/', import.meta.url).pathname;
if (!BASE || !WORK) throw new Error('run these tests through tests/e2e/run.sh <bin dir>');

/** One API call from this machine (local to the agent); answers { status, body }. */
export async function api(path, { body, token, method } = {}) {
  const headers = token ? { 'x-hb-token': token } : {};
  const res = await fetch(BASE + '/api/' + path, {
    method: method || (body === undefined ? 'GET' : 'POST'),
    headers,
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const text = await res.text();
  let json = null;
  try { json = JSON.parse(text); } catch { json = null; }
  return { status: res.status, body: json };
}

export async function saveConfig(doc) {
  const { status, body } = await api('config', { body: doc });
  if (!body || body.ok !== true) throw new Error(`saving the configuration failed: ${status} ${JSON.stringify(body)}`);
}

/** A fresh one-time pairing code. */
export async function pairCode() {
  const { body } = await api('connect');
  return new URL(body.url).searchParams.get('pair');
}

export async function token() {
  const { body } = await api('pair-code', { body: { code: await pairCode() } });
  return body.token;
}

/** Opens the phone app paired through a pairing link and waits for the tiles view. */
export async function openPairedPhone(page) {
  await page.goto(BASE + '/?pair=' + (await pairCode()));
  await page.locator('#main').waitFor({ state: 'visible' });
  return page;
}

/** Polls `check` until it returns a truthy value (bounded: 50 × 100 ms). */
export async function eventually(check, what) {
  for (let i = 0; i < 50; i++) {
    const value = await check();
    if (value) return value;
    await sleep(100);
  }
  throw new Error('timed out waiting for ' + what);
}

export function workFile(name) {
  const path = WORK + '/' + name;
  return existsSync(path) ? readFileSync(path, 'utf8') : '';
}

/** Decodes the QR code in a PNG file with zbarimg; '' when none is found. */
export function decodeQR(pngPath) {
  try {
    return execFileSync('zbarimg', ['--raw', '-q', '--nodbus', pngPath]).toString().trim();
  } catch {
    return '';
  }
}

/** A configuration with an allowed app, one of every other tile type and a second page. */
export function sampleConfig(settings = {}) {
  return {
    pages: [
      {
        name: 'Apps', icon: '🚀', 'x-page-note': 'kept',
        tiles: [
          { type: 'app', value: 'Harbly Probe', 'x-tile-note': 'kept' },
          { type: 'app', value: 'No Such App', emoji: '' },
          { type: 'url', value: 'https://example.org/docs', label: 'Docs', emoji: '📚' },
          { type: 'gesture', value: 'spotlight', label: 'Spotlight', emoji: '🔍' },
          { type: 'gesture', value: 'lock_screen', label: 'Lock Screen', emoji: '🔒' },
          { type: 'flow', label: 'Probe twice', emoji: '⚡', steps: [{ type: 'app', value: 'Harbly Probe' }] },
        ],
      },
      { name: 'Work', icon: '💼', tiles: [{ type: 'url', value: 'https://example.org/mail', label: 'Mail', emoji: '✉️' }] },
    ],
    settings: { columns: 4, iconScale: 1.12, labels: true, 'x-setting': 7, ...settings },
    'x-top-level': { nested: [1, 2, 3] },
  };
}
