// Journeys in the Control Panel: the pairing card's QR code is the pairing link; a tile edited
// and saved reaches an open phone; the "Paired phones" card renames and unpairs phones.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { ARTIFACTS, BASE, api, decodeQR, eventually, newPage, openPairedPhone, pairCode, saveConfig, sampleConfig, useBrowser } from './harness.mjs';

const held = useBrowser();

async function openPanel(ready = '.tile-card') {
  const page = await newPage(held.browser, true);
  await page.goto(BASE + '/admin');
  await page.locator(ready).first().waitFor();
  return page;
}

test('the pairing card shows the PIN and a link whose QR code decodes to it', async () => {
  const page = await openPanel();
  await page.locator('#pin', { hasText: (await api('admin')).body.pin }).waitFor();
  const link = page.locator('#link');
  await eventually(async () => /\/\?pair=[0-9a-f]{16}$/.test(await link.textContent()), 'the pairing link');
  await page.locator('#qr').screenshot({ path: ARTIFACTS + 'panel-qr.png' });
  assert.equal(decodeQR(ARTIFACTS + 'panel-qr.png'), await link.textContent());
});

test('a tile added and saved keeps unknown members and reaches the open phone', async () => {
  await saveConfig(sampleConfig());
  const phone = await openPairedPhone(await newPage(held.browser));
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

const pairNamed = async (name) => (await api('pair-code', { body: { code: await pairCode(), name } })).body.token;
const listed = async (name) => (await api('devices')).body.devices.find((d) => d.name === name);

test('the phones card renames, unpairs one and then all; an open phone shows its name, then its pairing screen', async () => {
  const anna = await pairNamed('Anna’s phone');
  const ben = await pairNamed('Ben’s tablet');
  const phone = await openPairedPhone(await newPage(held.browser));
  await phone.locator('.tab[data-view=controls]').click();
  const own = phone.locator('#device-name');
  await own.filter({ hasText: /^This phone: ./ }).waitFor();
  const name = (await own.textContent()).replace('This phone: ', '');
  assert.ok(await listed(name), 'the name the phone shows is the one it paired with');

  const panel = await openPanel('.device-item');
  const annaRow = panel.locator('.device-item', { hasText: 'Anna’s phone' });
  await annaRow.locator('.device-seen', { hasText: 'last seen just now' }).waitFor();
  await panel.getByRole('button', { name: 'Rename Ben’s tablet' }).click();
  await panel.getByRole('textbox', { name: 'New name for Ben’s tablet' }).fill('Kitchen tablet');
  await panel.keyboard.press('Enter');
  await panel.locator('.device-item', { hasText: 'Kitchen tablet' }).waitFor();
  assert.ok(await listed('Kitchen tablet'));

  await panel.getByRole('button', { name: 'Unpair Anna’s phone' }).click();
  await panel.click('#confirm-ok');
  await annaRow.waitFor({ state: 'detached' });
  assert.equal((await api('config', { token: anna })).status, 401);
  assert.equal((await api('config', { token: ben })).status, 200);

  await panel.click('#unpair-all');
  await panel.click('#confirm-ok');
  await panel.locator('#devices-note', { hasText: 'No phone is paired.' }).waitFor();
  await phone.locator('#pair').waitFor({ state: 'visible' });
  assert.equal(await phone.inputValue('#pair-name'), name, 'the name field holds the phone’s guess');
  assert.deepEqual([...panel.errors, ...phone.errors], []);
});
