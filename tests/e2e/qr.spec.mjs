// The page's own QR encoder (used for the relay address, and for pairing links when the
// agent sends no image): what it draws decodes to the text, across sizes and versions.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, panelPage } from './browser.mjs';
import { ARTIFACTS, BASE, decodeQR } from './harness.mjs';

const ROWS = [
  { name: 'one byte (version 1)', text: 'x' },
  { name: 'relay address (version 3)', text: 'https://relay.example.net/phone/6F1C2A9E-3B7D/' },
  { name: 'pairing link (version 4)', text: 'http://192.168.178.20:8788/?pair=0123456789abcdef' },
  { name: 'version 7, with version bits', text: 'https://relay.example.net/phone/' + 'a'.repeat(90) },
  { name: 'longest (version 10)', text: 'h'.repeat(213) },
  { name: 'non-ASCII as UTF-8', text: 'Büro → 😀' },
];
let browser;
let page;
before(async () => {
  browser = await launchBrowser();
  page = await panelPage(browser);
  await page.goto(BASE + '/admin');
});
after(() => browser.close());

for (const row of ROWS) {
  test(`QR code decodes: ${row.name}`, async () => {
    const drawn = await page.evaluate(async (text) => {
      const { drawQR } = await import('./qr.js');
      const canvas = document.createElement('canvas');
      canvas.width = canvas.height = 400;
      canvas.id = 'qr-under-test';
      document.getElementById('qr-under-test')?.remove();
      document.body.prepend(canvas);
      return drawQR(canvas, text);
    }, row.text);
    assert.equal(drawn, true);
    const file = ARTIFACTS + 'qr-under-test.png';
    await page.locator('#qr-under-test').screenshot({ path: file });
    assert.equal(decodeQR(file), row.text);
  });
}

test('text too long for the encoder draws nothing and says so', async () => {
  const drawn = await page.evaluate(async () => {
    const { drawQR } = await import('./qr.js');
    const canvas = document.createElement('canvas');
    canvas.width = canvas.height = 100;
    return drawQR(canvas, 'h'.repeat(214));
  });
  assert.equal(drawn, false);
});
