// The Control Panel's "Paired phones" card, and an open phone that the user unpairs there.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, panelPage, phonePage } from './browser.mjs';
import { BASE, api, openPairedPhone, pairCode } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(() => browser.close());

async function pairNamed(name) {
  const { body } = await api('pair-code', { body: { code: await pairCode(), name } });
  return body.token;
}

const listed = async (name) => (await api('devices')).body.devices.find((d) => d.name === name);

test('the card lists phones, renames one and unpairs another after a confirmation', async () => {
  const anna = await pairNamed('Anna’s phone');
  const ben = await pairNamed('Ben’s tablet');
  const panel = await panelPage(browser);
  await panel.goto(BASE + '/admin');
  const annaRow = panel.locator('.device-item', { hasText: 'Anna’s phone' });
  await annaRow.locator('.device-seen', { hasText: 'last seen just now' }).waitFor();

  await panel.getByRole('button', { name: 'Rename Ben’s tablet' }).click();
  await panel.getByRole('textbox', { name: 'New name for Ben’s tablet' }).fill('Kitchen tablet');
  await panel.keyboard.press('Enter');
  await panel.locator('.device-item', { hasText: 'Kitchen tablet' }).waitFor();
  assert.ok(await listed('Kitchen tablet'));

  await panel.getByRole('button', { name: 'Unpair Anna’s phone' }).click();
  await panel.click('#confirm-ok');
  await annaRow.waitFor({ state: 'detached' });
  assert.equal((await api('config', { token: anna })).status, 401);
  assert.equal((await api('config', { token: ben })).status, 200);
  assert.deepEqual(panel.errors, []);
});

test('an open phone shows its own name, and its pairing screen once all phones are unpaired', async () => {
  const phone = await openPairedPhone(await phonePage(browser));
  await phone.locator('.tab[data-view=controls]').click();
  const own = phone.locator('#device-name');
  await own.filter({ hasText: /^This phone: ./ }).waitFor();
  const name = (await own.textContent()).replace('This phone: ', '');
  assert.ok(await listed(name), 'the name the phone shows is the one it paired with');

  const panel = await panelPage(browser);
  await panel.goto(BASE + '/admin');
  await panel.locator('.device-item').first().waitFor();
  await panel.click('#unpair-all');
  await panel.click('#confirm-ok');
  await panel.locator('#devices-note', { hasText: 'No phone is paired.' }).waitFor();
  await phone.locator('#pair').waitFor({ state: 'visible' });
  assert.equal(await phone.inputValue('#pair-name'), name, 'the name field holds the phone’s guess');
  assert.deepEqual(phone.errors, []);
});
