// The Control Panel: PIN and pairing link with its QR code, PIN change, the page and tile
// editor (with the keyboard), unknown members kept, flows, and an open phone that follows.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { launchBrowser, panelPage, phonePage } from './browser.mjs';
import { ARTIFACTS, BASE, api, decodeQR, eventually, openPairedPhone, saveConfig, sampleConfig, token } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.close());

async function openPanel() {
  const page = await panelPage(browser);
  await page.goto(BASE + '/admin');
  await page.locator('.tile-card').first().waitFor();
  return page;
}

describe('pairing card', () => {
  test('shows the PIN and a fresh pairing link whose QR code decodes to it', async () => {
    const page = await openPanel();
    const { body } = await api('admin');
    await page.locator('#pin', { hasText: body.pin }).waitFor();
    const link = page.locator('#link');
    await eventually(async () => /\/\?pair=[0-9a-f]{16}$/.test(await link.textContent()), 'the pairing link');
    const qr = page.locator('#qr:visible, #qr-drawn:visible');
    await qr.screenshot({ path: ARTIFACTS + 'panel-qr.png' });
    assert.equal(decodeQR(ARTIFACTS + 'panel-qr.png'), await link.textContent());
  });

  test('changing the PIN keeps to 4–8 digits (the field takes at most 8)', async () => {
    const page = await openPanel();
    const rows = [
      { name: 'three digits', pin: '123', ok: false },
      { name: 'a letter', pin: '12a4', ok: false },
      { name: 'five digits', pin: '24680', ok: true },
    ];
    for (const row of rows) {
      await page.fill('#new-pin', '');
      await page.locator('#new-pin').pressSequentially(row.pin);
      await page.click('#pin-form button[type=submit]');
      const kind = row.ok ? 'ok' : 'error';
      await page.locator(`#pin-msg[data-kind=${kind}]`).waitFor();
      const { body } = await api('admin');
      if (row.ok) assert.equal(body.pin, row.pin, row.name);
      else assert.notEqual(body.pin, row.pin.slice(0, 8), row.name);
    }
    await page.locator('#pin', { hasText: '24680' }).waitFor();
    await page.fill('#new-pin', '');
    await page.locator('#new-pin').pressSequentially('123456789');
    assert.equal(await page.inputValue('#new-pin'), '12345678');
  });
});

describe('editor', () => {
  test('adds a tile with the keyboard, saves, keeps unknown members, and the phone follows', async () => {
    await saveConfig(sampleConfig());
    const phone = await phonePage(browser);
    await openPairedPhone(phone);
    await phone.evaluate(() => { window.__samePage = true; });
    const page = await openPanel();

    await page.focus('#add-tile');
    await page.keyboard.press('Enter');
    await page.locator('#tile-dialog[open]').waitFor();
    await page.locator('.type-tab[aria-checked=true]').focus();
    await page.keyboard.press('ArrowRight'); // App → Web address
    assert.equal(await page.locator('.type-tab[aria-checked=true]').textContent(), 'Website');
    await page.fill('#tile-url', 'example.org');
    await page.fill('#tile-label', 'Handbook');
    await page.keyboard.press('Enter');
    await page.locator('#tile-msg', { hasText: 'http' }).waitFor(); // refused without a scheme
    await page.fill('#tile-url', 'https://example.org/handbook');
    await page.click('#tile-ok');
    await page.locator('#tile-dialog').waitFor({ state: 'hidden' });
    await page.locator('#save:not([disabled])').waitFor();
    await page.keyboard.press('Control+s');
    await page.locator('#save-state', { hasText: 'All changes saved' }).waitFor();

    await phone.locator('.tile[aria-label="Handbook"]').waitFor();
    assert.equal(await phone.evaluate(() => window.__samePage), true);

    const { body } = await api('config', { token: await token() });
    const doc = body.config;
    assert.deepEqual(doc['x-top-level'], { nested: [1, 2, 3] });
    assert.equal(doc.settings['x-setting'], 7);
    assert.equal(doc.pages[0]['x-page-note'], 'kept');
    assert.equal(doc.pages[0].tiles[0]['x-tile-note'], 'kept');
    assert.deepEqual(doc.pages[0].tiles.at(-1), { type: 'url', label: 'Handbook', value: 'https://example.org/handbook' });
  });

  test('reloads itself when the configuration changes, but keeps unsaved edits', async () => {
    await saveConfig(sampleConfig());
    const page = await openPanel();
    const doc = sampleConfig();
    doc.pages[0].tiles.push({ type: 'url', value: 'https://example.org/elsewhere', label: 'Elsewhere' });
    await saveConfig(doc);
    await page.locator('.tile-card', { hasText: 'Elsewhere' }).waitFor();

    await page.fill('#page-name', 'Edited here');
    doc.pages[0].tiles.pop();
    await saveConfig(doc);
    await page.locator('#banner').waitFor();
    assert.equal(await page.inputValue('#page-name'), 'Edited here');
    await page.click('#banner-reload');
    await page.locator('.tile-card', { hasText: 'Elsewhere' }).waitFor({ state: 'detached' });
    assert.equal(await page.inputValue('#page-name'), 'Apps');
  });

  test('pages are added, renamed, reordered and deleted; settings are saved', async () => {
    await saveConfig(sampleConfig());
    const page = await openPanel();
    await page.click('#add-page');
    await page.fill('#page-name', 'Media');
    await page.fill('#page-icon', '🎵');
    await page.click('#page-left');
    await page.locator('.page-pill[aria-selected=true]', { hasText: 'Media' }).waitFor();
    await page.locator('.page-pill', { hasText: 'Apps' }).click();
    await page.click('#page-delete');
    await page.locator('#confirm-ok').click();
    await page.selectOption('#columns', '5');
    await page.locator('#labels').uncheck();
    await page.click('#save');
    await page.locator('#save-state', { hasText: 'All changes saved' }).waitFor();
    const { body } = await api('admin');
    assert.deepEqual(body.config.pages.map((p) => [p.icon, p.name]), [['🎵', 'Media'], ['💼', 'Work']]);
    assert.equal(body.config.settings.columns, 5);
    assert.equal(body.config.settings.labels, false);
    assert.equal(body.config.settings['x-setting'], 7);
  });

  test('tiles are reordered by dragging and by their arrow buttons', async () => {
    await saveConfig(sampleConfig());
    const page = await openPanel();
    const labels = () => page.locator('.tile-item[data-index] .tile-label').allTextContents();
    const before = await labels();
    await page.locator('.tile-item[data-index="0"]').dragTo(page.locator('.tile-item[data-index="2"]'));
    assert.deepEqual(await labels(), [before[1], before[2], before[0], ...before.slice(3)]);
    await page.locator('.tile-item[data-index="2"]').hover();
    await page.getByRole('button', { name: 'Move ' + before[0] + ' earlier' }).click();
    assert.deepEqual(await labels(), [before[1], before[0], before[2], ...before.slice(3)]);
    await page.click('#save');
    await page.locator('#save-state', { hasText: 'All changes saved' }).waitFor();
    const { body } = await api('admin');
    assert.deepEqual(body.config.pages[0].tiles.slice(0, 3).map((t) => t.label || t.value), [before[1], before[0], before[2]]);
  });

  test('an app tile is chosen from the installed list, with search', async () => {
    await saveConfig({ pages: [{ name: 'Apps', icon: '🚀', tiles: [] }], settings: { columns: 4, iconScale: 1.12, labels: true } });
    const page = await openPanel();
    await page.click('#add-tile');
    const search = page.locator('#type-pane input[type=search]');
    if (await search.count()) await search.fill('harbly pro');
    await page.locator('.pick', { hasText: 'Harbly Probe' }).click();
    await page.click('#tile-ok');
    await page.locator('.tile-card', { hasText: 'Harbly Probe' }).waitFor();
    await page.click('#save');
    await page.locator('#save-state', { hasText: 'All changes saved' }).waitFor();
    const { body } = await api('admin');
    assert.deepEqual(body.config.pages[0].tiles, [{ type: 'app', value: 'Harbly Probe' }]);
  });
});

describe('flows', () => {
  test('a flow is created from steps, listed, and removed', async () => {
    await saveConfig(sampleConfig());
    const page = await openPanel();
    await page.click('#new-flow');
    await page.fill('#flow-label', 'Reading');
    await page.selectOption('.step-row select >> nth=0', 'url');
    await page.fill('.step-row input[type=url]', 'https://example.org/read');
    await page.click('#flow-form button[type=submit]');
    const item = page.locator('.flow-item', { hasText: 'Reading' });
    await item.waitFor();
    assert.match(await item.textContent(), /example\.org\/read/);
    await page.screenshot({ path: ARTIFACTS + 'panel.png' });
    await page.emulateMedia({ colorScheme: 'dark' });
    await page.screenshot({ path: ARTIFACTS + 'panel-dark.png' });

    await item.getByRole('button', { name: 'Remove flow Reading' }).click();
    await item.waitFor({ state: 'detached' });
    const { body } = await api('admin');
    const flows = body.config.pages.filter((p) => p.name === 'Flows').flatMap((p) => p.tiles);
    assert.equal(flows.some((t) => t.label === 'Reading'), false);
    assert.deepEqual(page.errors, []);
  });
});
