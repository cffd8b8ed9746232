// The Controls view against the agent's real volume (PulseAudio of the test desktop),
// and the agent's own messages when an action fails.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, phonePage } from './browser.mjs';
import { api, eventually, openPairedPhone, token } from './harness.mjs';

let browser;
let auth;
before(async () => {
  browser = await launchBrowser();
  auth = await token();
});
after(() => browser.close());

async function openControls() {
  const page = await phonePage(browser);
  await openPairedPhone(page);
  await page.click('.tab[data-view=controls]');
  return page;
}

test('the volume slider and mute button reflect and change the computer volume', async (t) => {
  const { body } = await api('volume', { token: auth });
  if (body.level < 0) return t.skip('no sound server here');
  await api('volume', { token: auth, body: { level: 33 } });
  await api('volume', { token: auth, body: { muted: false } });
  const page = await openControls();
  await page.locator('#volume-out', { hasText: '33' }).waitFor();
  assert.equal(await page.inputValue('#volume'), '33');
  assert.equal(await page.getAttribute('#mute', 'aria-pressed'), 'false');

  await page.click('#mute');
  await eventually(async () => (await api('volume', { token: auth })).body.muted === true, 'mute to reach the computer');
  assert.equal(await page.getAttribute('#mute', 'aria-label'), 'Unmute');

  await page.locator('#volume').fill('70');
  await eventually(async () => (await api('volume', { token: auth })).body.level === 70, 'the new level');
});

test('a failed action shows the agent message', async () => {
  const page = await openControls();
  await page.fill('#send-text', 'hello');
  const answer = page.waitForResponse((r) => r.url().endsWith('/api/type'));
  await page.click('#type-btn');
  const body = await (await answer).json();
  const toast = page.locator(body.ok ? '.toast-ok' : '.toast-error').last();
  await toast.waitFor();
  assert.equal(await toast.textContent(), body.ok ? 'Typed.' : body.error || 'Couldn’t type the text.');
});

test('sleep asks first and sends nothing when cancelled', async () => {
  const page = await openControls();
  const sent = [];
  page.on('request', (r) => { if (r.url().endsWith('/api/system')) sent.push(r.postDataJSON()); });
  await page.click('#sleep-btn');
  await page.locator('dialog.sheet[open]').waitFor();
  await page.getByRole('button', { name: 'Cancel' }).click();
  await page.locator('dialog.sheet').waitFor({ state: 'detached' });
  await page.click('#screensaver-btn');
  await eventually(() => sent.length === 1, 'the screen saver request');
  assert.deepEqual(sent, [{ action: 'screensaver' }]);
});
