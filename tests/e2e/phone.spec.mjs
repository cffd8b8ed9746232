// Journeys on a phone: pair by PIN or link and stay paired across a reload; tap tiles; follow
// saved changes and show hostile configuration text as text; ask in a sentence (a fake Messages
// API on loopback), run the steps and save them as a flow.
import assert from 'node:assert/strict';
import { before, test } from 'node:test';
import { BASE, api, eventually, launches, newPage, openPairedPhone, saveConfig, sampleConfig, useBrowser, workFile } from './harness.mjs';

const HOSTILE = '<img src=x onerror="window.__pwned=1">';
const held = useBrowser();
before(() => saveConfig(sampleConfig()));
const phone = async () => openPairedPhone(await newPage(held.browser));

test('the PIN pad refuses a wrong PIN; a pairing link pairs, leaves the address bar and survives a reload', async () => {
  const { body } = await api('admin');
  const pad = await newPage(held.browser);
  await pad.goto(BASE + '/');
  for (const digit of body.pin === '0000' ? '1111' : '0000') await pad.click(`.key[data-key="${digit}"]`);
  await pad.click('.key[data-key="ok"]');
  await pad.locator('#pair-message', { hasText: 'Wrong PIN' }).waitFor();
  await pad.keyboard.type(body.pin); // a hardware keyboard works as well as the pad
  await pad.keyboard.press('Enter');
  await pad.locator('#main').waitFor({ state: 'visible' });

  const page = await phone();
  assert.doesNotMatch(page.url(), /pair=/);
  const token = await page.evaluate(() => localStorage.getItem('harbly.token'));
  assert.equal((await api('config', { token })).status, 200);
  await page.reload();
  await page.locator('#main').waitFor({ state: 'visible' });
  assert.deepEqual([...pad.errors, ...page.errors], []);
});

test('tiles launch, run a flow and ask before locking; a saved change arrives as text', async () => {
  const page = await phone();
  await page.evaluate(() => { window.__samePage = true; });
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

test('a planner failure is explained; proposed steps run and are saved as a flow', async () => {
  const page = await phone();
  await page.click('.tab[data-view=ask]');
  await page.fill('#ask-input', 'outage please');
  await page.click('#ask-btn');
  await page.locator('#ask-message[data-kind=error]', { hasText: 'Couldn’t reach the planner' }).waitFor();

  await page.fill('#ask-input', 'read the news and start the probe');
  await page.click('#ask-btn');
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
