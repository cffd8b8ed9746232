// The Touchpad tab driven by emulated touches: each gesture sends the request it stands for,
// motion is coalesced behind a slow answer (never two requests in flight, no movement lost),
// modifiers are sticky for one key, and gestures never scroll or shift the page.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';
import { newPage, openPairedPhone, useBrowser } from './harness.mjs';

/** The requests with consecutive moves, and consecutive scrolls, summed (as coalescing may split them). */
function merged(bodies) {
  const out = [];
  for (const b of bodies) {
    const last = out[out.length - 1];
    if (last && 'dx' in b && 'dx' in last) { last.dx += b.dx; last.dy += b.dy; }
    else if (last && b.scroll && last.scroll) { last.scroll.dx += b.scroll.dx; last.scroll.dy += b.scroll.dy; }
    else out.push(structuredClone(b));
  }
  return out;
}

const held = useBrowser();

test('gestures on the pad become pointer requests, keys carry sticky modifiers', async () => {
  const page = await newPage(held.browser);
  await openPairedPhone(page);
  await page.click('.tab[data-view=touchpad]');
  const sent = [];
  let inFlight = 0;
  let most = 0;
  // A slow link: each answer takes 120 ms, so moves made meanwhile must be summed.
  for (const path of ['**/api/pointer', '**/api/key']) {
    await page.route(path, async (route) => {
      sent.push(route.request().postDataJSON());
      most = Math.max(most, ++inFlight);
      await sleep(120);
      inFlight--;
      await route.fulfill({ contentType: 'application/json', body: '{"ok":true}' });
    });
  }
  const box = await page.locator('#pad').boundingBox();
  const cdp = await page.context().newCDPSession(page);
  const x = box.x + box.width / 2;
  const y = box.y + box.height / 2;
  const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', {
    type, touchPoints: points.map(([px, py], id) => ({ x: px, y: py, id })),
  });
  // Until `count` requests arrived and none followed for 300 ms.
  const settle = async (count) => {
    for (let i = 0, seen = -1, quiet = 0; i < 80 && (sent.length < count || inFlight || quiet < 6); i++) {
      quiet = sent.length === seen ? quiet + 1 : 0;
      seen = sent.length;
      await sleep(50);
    }
  };

  // One finger: 30 moves of 4 px right and 2 px up.
  await touch('touchStart', [[x, y]]);
  for (let i = 1; i <= 30; i++) { await touch('touchMove', [[x + 4 * i, y - 2 * i]]); await sleep(8); }
  await touch('touchEnd', []);
  await settle(2);
  const moves = sent.filter((b) => 'dx' in b);
  assert.ok(moves.length < 15, `coalesced into few requests (${moves.length})`);
  const total = moves.reduce((s, b) => [s[0] + b.dx, s[1] + b.dy], [0, 0]);
  assert.ok(Math.abs(total[0] - 120 * 1.6) <= 3 && Math.abs(total[1] + 60 * 1.6) <= 3, `no movement lost: ${total}`);
  sent.length = 0;

  const cases = [
    ['tap', async () => { await touch('touchStart', [[x, y]]); await touch('touchEnd', []); },
      [{ button: 'left', action: 'click' }]],
    ['two-finger tap', async () => { await touch('touchStart', [[x, y], [x + 40, y]]); await touch('touchEnd', []); },
      [{ button: 'right', action: 'click' }]],
    ['two fingers dragged up', async () => {
      await touch('touchStart', [[x, y], [x + 40, y]]);
      for (let i = 1; i <= 6; i++) await touch('touchMove', [[x, y - 15 * i], [x + 40, y - 15 * i]]);
      await touch('touchEnd', []);
    }, [{ scroll: { dx: 0, dy: 3 } }]],
    ['hold, then drag', async () => {
      await touch('touchStart', [[x, y]]);
      await sleep(600);
      await touch('touchMove', [[x + 10, y]]);
      await touch('touchEnd', []);
    }, [{ button: 'left', action: 'down' }, { dx: 16, dy: 0 }, { button: 'left', action: 'up' }]],
    ['ctrl, then Esc, then Tab', async () => {
      await page.getByRole('button', { name: 'Ctrl' }).click();
      await page.getByRole('button', { name: 'Escape' }).click();
      await settle(1);
      await page.getByRole('button', { name: 'Tab', exact: true }).click();
    }, [{ key: 'Escape', modifiers: ['ctrl'] }, { key: 'Tab', modifiers: [] }]],
  ];
  for (const [name, act, expected] of cases) {
    sent.length = 0;
    await act();
    await settle(expected.length);
    assert.deepEqual(merged(sent), expected, name);
  }
  assert.equal(most, 1, 'one request in flight at a time');
  assert.equal(await page.evaluate(() => window.scrollY), 0, 'the page never scrolled');
  assert.deepEqual(await page.locator('#pad').boundingBox(), box, 'the pad never moved');
  assert.deepEqual(page.errors, []);
});
