// The phone app through the relay service at /phone/<id>/: the same files, relative API
// addresses, pairing by link, tiles, and a tap that reaches the agent.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { api, eventually, launches, newPage, pairCode, saveConfig, sampleConfig, token, useBrowser } from './harness.mjs';

const skip = process.env.HB_E2E_RELAY ? false : 'the relay service was not built';
const held = useBrowser();

test('the phone app works through the relay', { skip }, async () => {
  await saveConfig(sampleConfig({ relayEnabled: true }));
  const { body } = await api('config', { token: await token() });
  const relayUrl = body.relayUrl;
  assert.match(relayUrl, /^http:\/\/127\.0\.0\.1:\d+\/phone\/[^/]+$/);
  // Wait until the agent's link to the relay is up.
  await eventually(async () => (await fetch(relayUrl + '/api/config')).status === 401, 'the relay link');

  const page = await newPage(held.browser);
  const requests = [];
  page.on('request', (r) => requests.push(new URL(r.url()).pathname));
  await page.goto(relayUrl + '?pair=' + (await pairCode())); // the relay adds the slash
  await page.locator('#main').waitFor({ state: 'visible' });
  assert.doesNotMatch(page.url(), /pair=/);
  assert.ok(new URL(page.url()).pathname.endsWith('/'));

  const launched = launches();
  await page.locator('.tile[aria-label="Harbly Probe"]').click();
  await eventually(() => launches() > launched, 'the probe to run');
  const prefix = new URL(relayUrl).pathname + '/';
  const outside = requests.filter((p) => !p.startsWith(prefix) && p !== prefix.slice(0, -1)); // that one is redirected
  assert.deepEqual(outside, [], 'every request stays under the relay path');
  assert.ok(requests.includes(prefix + 'api/launch'));

  await saveConfig(sampleConfig({ relayEnabled: false }));
});
