// Journey: pair a phone by link or by PIN, and stay paired across a reload.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, phonePage } from './browser.mjs';
import { BASE, api, openPairedPhone, saveConfig, sampleConfig } from './harness.mjs';

let browser;
before(async () => {
  browser = await launchBrowser();
  await saveConfig(sampleConfig());
});
after(() => browser.close());

test('a pairing link pairs, leaves the address bar and survives a reload', async () => {
  const page = await phonePage(browser);
  await openPairedPhone(page);
  assert.doesNotMatch(page.url(), /pair=/);
  const token = await page.evaluate(() => localStorage.getItem('harbly.token'));
  assert.equal((await api('config', { token })).status, 200);
  await page.reload();
  await page.locator('#main').waitFor({ state: 'visible' });
  assert.deepEqual(page.errors, []);
});

test('the PIN pad shows the agent message for a wrong PIN and pairs with the right one', async () => {
  const { body } = await api('admin');
  const page = await phonePage(browser);
  await page.goto(BASE + '/');
  for (const digit of body.pin === '0000' ? '1111' : '0000') await page.click(`.key[data-key="${digit}"]`);
  await page.click('.key[data-key="ok"]');
  await page.locator('#pair-message', { hasText: 'Wrong PIN' }).waitFor();
  await page.keyboard.type(body.pin); // a hardware keyboard works as well as the pad
  await page.keyboard.press('Enter');
  await page.locator('#main').waitFor({ state: 'visible' });
});
