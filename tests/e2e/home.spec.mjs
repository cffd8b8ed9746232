// The tiles view: layout per settings, icons with emoji fallback, taps that reach the agent,
// confirmation of destructive gestures, live reload, and hostile text shown as text.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { launchBrowser, panelPage, phonePage } from './browser.mjs';
import { ARTIFACTS, BASE, eventually, openPairedPhone, saveConfig, sampleConfig, workFile } from './harness.mjs';

const HOSTILE = '<img src=x onerror="window.__pwned=1">';
let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.close());

const trackCount = (page) => page.$eval('#view-home .grid', (g) => getComputedStyle(g).gridTemplateColumns.split(' ').length);

describe('tiles view', () => {
  test('lays out pages per the settings and follows saved changes by itself', async () => {
    await saveConfig(sampleConfig({ columns: 3, iconScale: 1.4, labels: false }));
    const page = await phonePage(browser);
    await openPairedPhone(page);
    await page.locator('.tile').first().waitFor();
    assert.equal(await trackCount(page), 3);
    assert.equal(await page.locator('.page-tab').count(), 2);
    assert.equal(await page.locator('.tile-label').first().isVisible(), false);
    const big = await page.$eval('.tile-icon', (el) => el.getBoundingClientRect().width);
    const mail = page.locator('.tile[aria-label="Mail"]');
    assert.equal(await mail.evaluate((el) => el.getBoundingClientRect().left >= innerWidth), true, 'second page off screen');
    await page.locator('.page-tab', { hasText: 'Work' }).click();
    await eventually(() => mail.evaluate((el) => el.getBoundingClientRect().left >= 0 && el.getBoundingClientRect().right <= innerWidth), 'the Work page to slide in');
    assert.equal(await page.getAttribute('.page-tab:nth-child(2)', 'aria-current'), 'true');

    await page.evaluate(() => { window.__samePage = true; });
    await saveConfig(sampleConfig({ columns: 5, iconScale: 0.8, labels: true }));
    await eventually(async () => (await trackCount(page)) === 5, 'five columns after saving');
    assert.equal(await page.evaluate(() => window.__samePage), true, 'updated without navigating');
    assert.equal(await page.locator('.tile-label').first().isVisible(), true);
    const small = await page.$eval('.tile-icon', (el) => el.getBoundingClientRect().width);
    assert.ok(small < big, `icon scale applies (${small} < ${big})`);
    assert.deepEqual(page.errors, []);
  });

  test('after a network loss the page reconnects, catches up and follows changes again', async () => {
    await saveConfig(sampleConfig());
    const page = await phonePage(browser);
    await openPairedPhone(page);
    await page.locator('#live[data-state=on]').waitFor();
    await page.context().setOffline(true);
    await page.locator('#live[data-state=lost]').waitFor();
    const doc = sampleConfig();
    doc.pages[0].tiles.push({ type: 'url', value: 'https://example.org/missed', label: 'Missed' });
    await saveConfig(doc); // while the phone cannot hear the reload event
    await page.context().setOffline(false);
    await page.locator('#live[data-state=on]').waitFor();
    await page.locator('.tile[aria-label="Missed"]').waitFor();
    doc.pages[0].tiles.push({ type: 'url', value: 'https://example.org/back', label: 'Back online' });
    await saveConfig(doc);
    await page.locator('.tile[aria-label="Back online"]').waitFor();
  });

  test('app tiles show the agent icon, or an emoji when there is none', async () => {
    await saveConfig(sampleConfig());
    const page = await phonePage(browser);
    await openPairedPhone(page);
    const probe = page.locator('.tile[aria-label="Harbly Probe"] img');
    await probe.waitFor();
    assert.equal(await probe.getAttribute('src'), 'api/icon?app=Harbly%20Probe');
    await eventually(() => probe.evaluate((img) => img.complete && img.naturalWidth > 0), 'the probe icon to load');
    const missing = page.locator('.tile[aria-label="No Such App"]');
    await missing.locator('.tile-emoji').waitFor();
    assert.equal(await missing.locator('img').count(), 0);
    await page.screenshot({ path: ARTIFACTS + 'phone-home.png' });
    await page.emulateMedia({ colorScheme: 'dark' });
    await page.screenshot({ path: ARTIFACTS + 'phone-home-dark.png' });
  });
});

describe('tapping tiles', () => {
  test('an allowed app tile launches the application; a flow tile runs its steps', async () => {
    await saveConfig(sampleConfig());
    const page = await phonePage(browser);
    await openPairedPhone(page);
    const before = workFile('launched').split('\n').filter(Boolean).length;
    const answer = page.waitForResponse((r) => r.url().endsWith('/api/launch'));
    await page.locator('.tile[aria-label="Harbly Probe"]').click();
    assert.deepEqual(await (await answer).json(), { ok: true });
    await eventually(() => workFile('launched').split('\n').filter(Boolean).length > before, 'the probe to run');
    await page.locator('.tile[aria-label="Harbly Probe"].ok').waitFor();

    // A flow tile runs its stored steps.
    const count = workFile('launched').split('\n').filter(Boolean).length;
    const run = page.waitForRequest((r) => r.url().endsWith('/api/run-plan'));
    await page.locator('.tile[aria-label="Probe twice"]').click();
    assert.deepEqual((await run).postDataJSON(), { steps: [{ type: 'app', value: 'Harbly Probe' }] });
    await eventually(() => workFile('launched').split('\n').filter(Boolean).length > count, 'the flow to run');
  });

  test('a failed action shows the agent message; lock asks first and can be cancelled', async () => {
    await saveConfig(sampleConfig());
    const page = await phonePage(browser);
    await openPairedPhone(page);
    const gestures = [];
    page.on('request', (r) => { if (r.url().endsWith('/api/gesture')) gestures.push(r.postDataJSON()); });

    await page.locator('.tile[aria-label="Lock Screen"]').click();
    await page.locator('dialog.sheet[open]').waitFor();
    await page.getByRole('button', { name: 'Cancel' }).click();
    await page.locator('dialog.sheet').waitFor({ state: 'detached' });
    assert.deepEqual(gestures, [], 'nothing sent when cancelled');

    // The agent runs without a display here, so gestures fail with its accessibility message.
    const response = page.waitForResponse((r) => r.url().endsWith('/api/gesture'));
    await page.locator('.tile[aria-label="Spotlight"]').click();
    const body = await (await response).json();
    assert.equal(body.ok, false);
    const toast = page.locator('.toast-error').last();
    await toast.waitFor();
    assert.equal(await toast.textContent(), body.error || 'Couldn’t do Spotlight.');
  });
});

describe('configuration text', () => {
  test('a hostile label or page name is shown as text, never as markup', async () => {
    const doc = sampleConfig();
    doc.pages[0].name = HOSTILE;
    doc.pages[0].tiles.push({ type: 'url', value: 'https://example.org/', label: HOSTILE, emoji: '<b>x</b>' });
    await saveConfig(doc);
    const page = await phonePage(browser);
    await openPairedPhone(page);
    const tile = page.locator('.page').first().locator('.tile').last();
    await tile.waitFor();
    assert.equal(await tile.locator('.tile-label').textContent(), HOSTILE);
    assert.equal(await tile.locator('.tile-emoji').textContent(), '<b>x</b>');
    assert.equal(await page.locator('.page-tab').first().textContent(), '🚀' + HOSTILE);
    assert.equal(await page.locator('img[src="x"], b').count(), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);

    const panel = await panelPage(browser);
    await panel.goto(BASE + '/admin');
    const card = panel.locator('.tile-card').filter({ hasText: 'onerror' });
    await card.waitFor();
    assert.equal(await card.locator('.tile-label').textContent(), HOSTILE);
    assert.equal(await panel.locator('.page-pill[aria-selected=true] span').last().textContent(), HOSTILE);
    assert.equal(await panel.inputValue('#page-name'), HOSTILE);
    assert.equal(await panel.locator('img[src="x"], b').count(), 0);
    assert.equal(await panel.evaluate(() => window.__pwned), undefined);
    assert.deepEqual(panel.errors, []);
  });
});
