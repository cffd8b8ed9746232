// Journey: tap tiles on a paired phone; the page follows saved changes by itself, and shows
// hostile configuration text as text.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, phonePage } from './browser.mjs';
import { eventually, openPairedPhone, saveConfig, sampleConfig, workFile } from './harness.mjs';

const HOSTILE = '<img src=x onerror="window.__pwned=1">';
const launches = () => workFile('launched').split('\n').filter(Boolean).length;
let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.close());

test('an app tile launches the application, a flow runs, lock asks first', async () => {
  await saveConfig(sampleConfig());
  const page = await phonePage(browser);
  await openPairedPhone(page);
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
  await saveConfig(sampleConfig());
  const page = await phonePage(browser);
  await openPairedPhone(page);
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
});
