// Journey: ask in a sentence (a fake Messages API on loopback), run the steps, save them as a
// flow; a planner failure reads as a human message.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, phonePage } from './browser.mjs';
import { api, eventually, openPairedPhone, saveConfig, sampleConfig, workFile } from './harness.mjs';

let browser;
before(async () => {
  browser = await launchBrowser();
  await saveConfig(sampleConfig());
});
after(() => browser.close());

async function ask(intent) {
  const page = await phonePage(browser);
  await openPairedPhone(page);
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
