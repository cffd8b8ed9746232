// Controls follows the computer: a volume changed with pactl and a track changed by a media
// player (the fake MPRIS player on the test desktop's session bus) reach the open page through
// the agent's event stream.
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { after, test } from 'node:test';
import { WORK, api, newPage, openPairedPhone, token, useBrowser } from './harness.mjs';

const held = useBrowser();
let player;
after(() => { if (player) player.kill(); });

test('the volume and the track changed on the computer show on Controls', async (t) => {
  const { body } = await api('volume', { token: await token() });
  if (body.level < 0 || !process.env.DBUS_SESSION_BUS_ADDRESS) return t.skip('no sound server or session bus here');
  const page = await newPage(held.browser);
  await openPairedPhone(page);
  await page.click('.tab[data-view=controls]');
  await page.locator('#live[data-state=on]').waitFor();

  execFileSync('pactl', ['set-sink-volume', '@DEFAULT_SINK@', '41%']);
  await page.locator('#volume-out', { hasText: '41' }).waitFor({ timeout: 5000 });

  const fakes = new URL('../fakes/', import.meta.url).pathname;
  player = spawn('/usr/bin/python3', [fakes + 'hb_fake_dbus.py', 'mpris', WORK + '/mpris.jsonl', 'e2e', 'Paused'], { stdio: ['ignore', 'pipe', 'inherit'] });
  await new Promise((resolve) => { player.stdout.once('data', resolve); player.once('exit', resolve); });
  execFileSync('gdbus', ['call', '--session', '--dest', 'org.mpris.MediaPlayer2.e2e', '--object-path', '/org/mpris/MediaPlayer2',
    '--method', 'org.harbly.Test.SetTrack', 'Windowlicker', 'Aphex Twin', 'Playing']);
  await page.locator('#np-title', { hasText: 'Windowlicker' }).waitFor({ timeout: 5000 });
  assert.equal(await page.textContent('#np-artist'), 'Aphex Twin');
  assert.equal(await page.getAttribute('[data-media=playpause]', 'aria-label'), 'Pause');
  assert.deepEqual(page.errors, []);
});
