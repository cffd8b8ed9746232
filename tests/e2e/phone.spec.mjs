// Journeys on a phone: pair by link or PIN and stay paired across a reload; tap tiles; follow
// saved changes and show hostile configuration text as text; ask in a sentence (a fake Messages
// API on loopback), run the steps and save them as a flow.
import assert from 'node:assert/strict';
import { before, test } from 'node:test';
import { BASE, api, eventually, launches, newPage, openPairedPhone, saveConfig, sampleConfig, useBrowser, workFile } from './harness.mjs';

const HOSTILE = '<img src=x onerror="window.__pwned=1">';
const held = useBrowser();
before(() => saveConfig(sampleConfig()));
const phone = async () => openPairedPhone(await newPage(held.browser));

test('a pairing link pairs, leaves the address bar and survives a reload', async () => {
  const page = await phone();
  assert.doesNotMatch(page.url(), /pair=/);
  const token = await page.evaluate(() => localStorage.getItem('harbly.token'));
  assert.equal((await api('config', { token })).status, 200);
  await page.reload();
  await page.locator('#main').waitFor({ state: 'visible' });
  assert.deepEqual(page.errors, []);
});

test('the PIN pad shows the agent message for a wrong PIN and pairs with the right one', async () => {
  const { body } = await api('admin');
  const page = await newPage(held.browser);
  await page.goto(BASE + '/');
  for (const digit of body.pin === '0000' ? '1111' : '0000') await page.click(`.key[data-key="${digit}"]`);
  await page.click('.key[data-key="ok"]');
  await page.locator('#pair-message', { hasText: 'Wrong PIN' }).waitFor();
  await page.keyboard.type(body.pin); // a hardware keyboard works as well as the pad
  await page.keyboard.press('Enter');
  await page.locator('#main').waitFor({ state: 'visible' });
});

test('an app tile launches the application, a flow runs, lock asks first', async () => {
  const page = await phone();
  let before = launches();
  await page.locator('.tile[aria-label="Harbly Probe"]').click();
  await eventually(() => launches() > before, 'the probe to run');
  before = launches();
  await page.locator('.tile[aria-label="Probe twice"]').click();
  await eventually(() => launches() > before, 'the flow to run');
  const gestures = [];
  page.on('request', (r) => { if (r.url().endsWith('/api/gesture')) gestures.push(r); });
  await page.locator('.tile[aria-label="Lock Screen"]').click();
  await page.getByRole('button', { name: 'Cancel' }).click();
  await page.locator('dialog.sheet').waitFor({ state: 'detached' });
  assert.deepEqual(gestures, [], 'nothing sent when cancelled');
});

test('a saved change reaches an open page without navigation, text stays text', async () => {
  const page = await phone();
  await page.evaluate(() => { window.__samePage = true; });
  const doc = sampleConfig();
  doc.pages[0].name = HOSTILE;
  doc.pages[0].tiles.push({ type: 'url', value: 'https://example.org/', label: HOSTILE });
  await saveConfig(doc);
  const tile = page.locator('.tile-label', { hasText: 'onerror' });
  await tile.waitFor();
  assert.equal(await tile.textContent(), HOSTILE);
  assert.equal(await page.evaluate(() => window.__samePage), true, 'updated without navigating');
  assert.equal(await page.locator('img[src="x"]').count(), 0);
  assert.equal(await page.evaluate(() => window.__pwned), undefined);
  await saveConfig(sampleConfig());
});

async function ask(intent) {
  const page = await phone();
  await page.click('.tab[data-view=ask]');
  await page.fill('#ask-input', intent);
  await page.click('#ask-btn');
  return page;
}

test('proposed steps run and are saved as a flow', async () => {
  const page = await ask('read the news and start the probe');
  await page.locator('.step').nth(1).waitFor();
  await page.click('#run-plan');
  await page.locator('.toast-ok', { hasText: 'Done: 2 steps.' }).waitFor();
  await eventually(() => workFile('opened').includes('https://example.org/news'), 'the address to open');
  await page.click('#save-plan');
  await page.fill('#flow-name', 'News and probe');
  await page.click('#save-flow button[type=submit]');
  await page.locator('.toast-ok', { hasText: 'News and probe' }).waitFor();
  const flows = (await api('admin')).body.config.pages.find((p) => p.name === 'Flows').tiles;
  assert.deepEqual(flows.find((t) => t.label === 'News and probe').steps.map((s) => s.value),
    ['https://example.org/news', 'Harbly Probe']);
});

test('a planner failure is explained', async () => {
  const page = await ask('outage please');
  await page.locator('#ask-message[data-kind=error]').waitFor();
  assert.match(await page.locator('#ask-message').textContent(), /Couldn’t reach the planner/);
});
