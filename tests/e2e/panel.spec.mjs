// Journey: edit and save in the Control Panel; an open phone follows; the pairing card's QR
// code is the pairing link.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, panelPage, phonePage } from './browser.mjs';
import { ARTIFACTS, BASE, api, decodeQR, eventually, openPairedPhone, saveConfig, sampleConfig } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.close());

async function openPanel() {
  const page = await panelPage(browser);
  await page.goto(BASE + '/admin');
  await page.locator('.tile-card').first().waitFor();
  return page;
}

test('the pairing card shows the PIN and a link whose QR code decodes to it', async () => {
  const page = await openPanel();
  await page.locator('#pin', { hasText: (await api('admin')).body.pin }).waitFor();
  const link = page.locator('#link');
  await eventually(async () => /\/\?pair=[0-9a-f]{16}$/.test(await link.textContent()), 'the pairing link');
  await page.locator('#qr:visible, #qr-drawn:visible').screenshot({ path: ARTIFACTS + 'panel-qr.png' });
  assert.equal(decodeQR(ARTIFACTS + 'panel-qr.png'), await link.textContent());
});

test('a tile added and saved keeps unknown members and reaches the open phone', async () => {
  await saveConfig(sampleConfig());
  const phone = await phonePage(browser);
  await openPairedPhone(phone);
  const page = await openPanel();
  await page.click('#add-tile');
  await page.locator('.type-tab', { hasText: 'Website' }).click();
  await page.fill('#tile-url', 'example.org');
  await page.fill('#tile-label', 'Handbook');
  await page.click('#tile-ok');
  await page.locator('#tile-msg', { hasText: 'http' }).waitFor(); // refused without a scheme
  await page.fill('#tile-url', 'https://example.org/handbook');
  await page.click('#tile-ok');
  await page.keyboard.press('Control+s');
  await page.locator('#save-state', { hasText: 'All changes saved' }).waitFor();
  await phone.locator('.tile[aria-label="Handbook"]').waitFor();
  const doc = (await api('admin')).body.config;
  assert.deepEqual(doc['x-top-level'], { nested: [1, 2, 3] });
  assert.equal(doc.pages[0].tiles[0]['x-tile-note'], 'kept');
  assert.deepEqual(doc.pages[0].tiles.at(-1), { type: 'url', label: 'Handbook', value: 'https://example.org/handbook' });
  assert.deepEqual(page.errors, []);
});
