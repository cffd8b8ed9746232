// Helpers shared by the browser tests: the agent started by run.sh, its API, and Debian's
// chromium through playwright-core.
import { execFileSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { after, before } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';
import { chromium } from 'playwright-core';

export const BASE = process.env.HB_E2E_BASE;
export const WORK = process.env.HB_E2E_WORK;
export const ARTIFACTS = new URL('../artifacts/', import.meta.url).pathname;
if (!BASE || !WORK) throw new Error('run these tests through tests/e2e/run.sh <bin dir>');

/** A headless browser for the tests of this file; `.browser` once they run. */
export function useBrowser() {
  const held = {};
  before(async () => {
    held.browser = await chromium.launch({
      executablePath: process.env.HB_CHROMIUM || '/usr/bin/chromium',
      args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync'],
    });
  });
  after(() => held.browser.close());
  return held;
}

/** A new page, phone-sized unless `panel`; errors on it (bar failed loads, such as an app
 *  without an icon) are collected in `page.errors`. */
export async function newPage(browser, panel = false) {
  const context = await browser.newContext(panel ? { viewport: { width: 980, height: 740 } }
    : { viewport: { width: 360, height: 780 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error' && !m.text().startsWith('Failed to load resource')) page.errors.push(m.text()); });
  return page;
}

/** One API call from this machine (local to the agent); answers { status, body }. */
export async function api(path, { body, token } = {}) {
  const res = await fetch(BASE + '/api/' + path, {
    method: body === undefined ? 'GET' : 'POST',
    headers: token ? { 'x-hb-token': token } : {},
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  return { status: res.status, body: await res.json().catch(() => null) };
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

export const workFile = (name) => (existsSync(WORK + '/' + name) ? readFileSync(WORK + '/' + name, 'utf8') : '');

/** Times the probe app has been launched so far. */
export const launches = () => workFile('launched').split('\n').filter(Boolean).length;

/** The text of the QR code in a PNG file (zbarimg). */
export const decodeQR = (png) => execFileSync('zbarimg', ['--raw', '-q', '--nodbus', png]).toString().trim();

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
