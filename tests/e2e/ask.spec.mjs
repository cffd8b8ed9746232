// Ask: a sentence goes to the planner (a fake Messages API on loopback), the steps are
// reviewed, run, or saved as a flow; planner failures read as human messages.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { launchBrowser, phonePage } from './browser.mjs';
import { ARTIFACTS, api, eventually, openPairedPhone, saveConfig, sampleConfig, workFile } from './harness.mjs';

let browser;
before(async () => {
  browser = await launchBrowser();
  await saveConfig(sampleConfig());
});
after(() => browser.close());

async function ask(page, intent) {
  await page.click('.tab[data-view=ask]');
  await page.fill('#ask-input', intent);
  await page.click('#ask-btn');
}

describe('Ask', () => {
  test('proposed steps are reviewed, run, and saved as a flow', async () => {
    const page = await phonePage(browser);
    await openPairedPhone(page);
    await ask(page, 'read the news and start the probe');
    await page.locator('.step').nth(1).waitFor();
    assert.deepEqual(await page.locator('.step-text').allTextContents(), ['Open the news', 'Start the probe']);
    await page.screenshot({ path: ARTIFACTS + 'phone-ask.png' });

    const launched = workFile('launched').split('\n').filter(Boolean).length;
    await page.click('#run-plan');
    await page.locator('.toast-ok', { hasText: 'Done: 2 steps.' }).waitFor();
    await eventually(() => workFile('opened').includes('https://example.org/news'), 'the address to open');
    await eventually(() => workFile('launched').split('\n').filter(Boolean).length > launched, 'the probe to run');

    await page.click('#save-plan');
    await page.fill('#flow-name', 'News and probe');
    await page.click('#save-flow button[type=submit]');
    await page.locator('.toast-ok', { hasText: 'News and probe' }).waitFor();
    const { body } = await api('admin');
    const flow = body.config.pages.find((p) => p.name === 'Flows').tiles.find((t) => t.label === 'News and probe');
    assert.deepEqual(flow.steps.map((s) => s.value), ['https://example.org/news', 'Harbly Probe']);

    await page.click('.tab[data-view=home]');
    await page.locator('.page-tab', { hasText: 'Flows' }).click();
    await page.locator('.tile[aria-label="News and probe"]').waitFor();
  });

  test('a step can be dropped before running', async () => {
    const page = await phonePage(browser);
    await openPairedPhone(page);
    await ask(page, 'news and probe again');
    await page.locator('.step').nth(1).waitFor();
    const sent = page.waitForRequest((r) => r.url().endsWith('/api/run-plan'));
    await page.getByRole('button', { name: 'Remove step 2' }).click();
    await page.click('#run-plan');
    assert.deepEqual((await sent).postDataJSON().steps.map((s) => s.label), ['Open the news']);
  });

  const failures = [
    { name: 'an unreadable answer', intent: 'garbled please', message: /didn’t make sense/ },
    { name: 'an API failure', intent: 'outage please', message: /Couldn’t reach the planner/ },
  ];
  for (const row of failures) {
    test(`planner failure is explained: ${row.name}`, async () => {
      const page = await phonePage(browser);
      await openPairedPhone(page);
      await ask(page, row.intent);
      await page.locator('#ask-message[data-kind=error]').waitFor();
      assert.match(await page.locator('#ask-message').textContent(), row.message);
      assert.equal(await page.locator('#plan').isVisible(), false);
    });
  }
});
