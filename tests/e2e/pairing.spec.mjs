// Pairing in the phone app: by link (code removed from the address bar), by PIN with the
// server's own messages, lockout, and the way back to pairing when the token is revoked.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { launchBrowser, phonePage } from './browser.mjs';
import { ARTIFACTS, BASE, api, openPairedPhone, pairCode, saveConfig, sampleConfig } from './harness.mjs';

let browser;
before(async () => {
  browser = await launchBrowser();
  await saveConfig(sampleConfig());
});
after(() => browser.close());

async function typePin(page, pin) {
  for (const digit of pin) await page.click(`.key[data-key="${digit}"]`);
  await page.click('.key[data-key="ok"]');
}

describe('pairing by link', () => {
  test('a valid code pairs, is removed from the address bar and the token is kept', async () => {
    const page = await phonePage(browser);
    await openPairedPhone(page);
    assert.doesNotMatch(page.url(), /pair=/);
    const token = await page.evaluate(() => localStorage.getItem('harbly.token'));
    assert.match(token, /^[0-9a-f]{48}$/);
    assert.equal((await api('config', { token })).status, 200);
    // Still paired after a reload, without the link.
    await page.reload();
    await page.locator('#main').waitFor({ state: 'visible' });
    assert.deepEqual(page.errors, []);
  });

  test('a used code shows the server message and is removed too', async () => {
    const code = await pairCode();
    await api('pair-code', { body: { code } });
    const page = await phonePage(browser);
    await page.goto(BASE + '/?pair=' + code + '&keep=1');
    await page.locator('#pair-message', { hasText: 'Invalid or expired code' }).waitFor();
    assert.equal(new URL(page.url()).search, '?keep=1');
    assert.equal(await page.locator('#main').isVisible(), false);
  });

  test('a used link opened on a paired phone keeps it paired', async () => {
    const page = await phonePage(browser);
    await openPairedPhone(page);
    const token = await page.evaluate(() => localStorage.getItem('harbly.token'));
    const code = await pairCode();
    await api('pair-code', { body: { code } });
    await page.goto(BASE + '/?pair=' + code);
    await page.locator('.toast-error', { hasText: 'Invalid or expired code' }).waitFor();
    await page.locator('#main').waitFor({ state: 'visible' });
    assert.equal(await page.evaluate(() => localStorage.getItem('harbly.token')), token);
    assert.doesNotMatch(page.url(), /pair=/);
  });

  test('a revoked token brings the phone back to pairing', async () => {
    const page = await phonePage(browser);
    await openPairedPhone(page);
    const token = await page.evaluate(() => localStorage.getItem('harbly.token'));
    assert.equal((await api('unpair', { body: {}, token })).status, 200);
    await page.reload();
    await page.locator('#pair').waitFor({ state: 'visible' });
    assert.match(await page.locator('#pair-message').textContent(), /no longer paired/);
    assert.equal(await page.evaluate(() => localStorage.getItem('harbly.token')), null);
  });
});

// Runs last in this file: the lockout lasts until the agent restarts (codes still work).
describe('pairing by PIN', () => {
  test('wrong PIN, right PIN, then lockout after repeated wrong PINs', async () => {
    const { body } = await api('admin');
    const pin = body.pin;
    const wrong = pin === '0000' ? '1111' : '0000';
    const page = await phonePage(browser);
    await page.goto(BASE + '/');
    await page.locator('.key').first().waitFor();
    assert.equal(await page.locator('.key[data-key="ok"]').isDisabled(), true, 'fewer than 4 digits cannot be sent');
    await page.screenshot({ path: ARTIFACTS + 'phone-pair.png' });

    await typePin(page, wrong);
    await page.locator('#pair-message', { hasText: 'Wrong PIN' }).waitFor();

    await page.keyboard.type(pin); // a hardware keyboard works as well as the pad
    await page.keyboard.press('Enter');
    await page.locator('#main').waitFor({ state: 'visible' });

    const other = await phonePage(browser);
    await other.goto(BASE + '/');
    await other.locator('.key').first().waitFor();
    for (let i = 0; i < 8 && !(await other.locator('#pair.locked').count()); i++) {
      await typePin(other, wrong);
      await other.locator('#pair-message:not([data-kind=busy])').waitFor();
    }
    await other.locator('#pair-message', { hasText: 'Locked — too many tries' }).waitFor();
    assert.equal(await other.locator('.key[data-key="1"]').isDisabled(), true);
    await other.screenshot({ path: ARTIFACTS + 'phone-pair-locked.png' });
  });
});
