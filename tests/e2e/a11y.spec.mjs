// Every control on both pages has an accessible name, in every view and in the tile dialog,
// as Chromium's accessibility tree computes it.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { launchBrowser, panelPage, phonePage } from './browser.mjs';
import { ARTIFACTS, BASE, openPairedPhone, saveConfig, sampleConfig } from './harness.mjs';

const CONTROL_ROLES = new Set(['button', 'textbox', 'searchbox', 'combobox', 'slider', 'checkbox', 'switch', 'radio', 'tab', 'option', 'spinbutton', 'link', 'menuitem']);
let browser;
before(async () => {
  browser = await launchBrowser();
  await saveConfig(sampleConfig());
});
after(() => browser.close());

/** Controls without a name: "role (html id or class)" for each. */
async function unnamedControls(page) {
  const cdp = await page.context().newCDPSession(page);
  const { nodes } = await cdp.send('Accessibility.getFullAXTree');
  const bad = [];
  for (const node of nodes) {
    const role = node.role && node.role.value;
    if (node.ignored || !CONTROL_ROLES.has(role)) continue;
    if (node.name && String(node.name.value).trim()) continue;
    const described = node.backendDOMNodeId
      ? await cdp.send('DOM.describeNode', { backendNodeId: node.backendDOMNodeId }).then((d) => d.node.attributes.join(' ')).catch(() => '')
      : '';
    bad.push(`${role} (${described})`);
  }
  await cdp.detach();
  return bad;
}

test('phone app: pairing, tiles, controls and Ask views', async () => {
  const pairing = await phonePage(browser);
  await pairing.goto(BASE + '/');
  await pairing.locator('.key').first().waitFor();
  assert.deepEqual(await unnamedControls(pairing), [], 'pairing view');

  const page = await phonePage(browser);
  await openPairedPhone(page);
  await page.locator('.tile').first().waitFor();
  for (const view of ['home', 'controls', 'ask']) {
    await page.click(`.tab[data-view=${view}]`);
    assert.deepEqual(await unnamedControls(page), [], view);
    if (view === 'controls') await page.locator('#volume-out:not(:empty)').waitFor();
    await page.screenshot({ path: `${ARTIFACTS}phone-view-${view}.png` });
  }
});

test('Control Panel, with the tile and flow dialogs open', async () => {
  const page = await panelPage(browser);
  await page.goto(BASE + '/admin');
  await page.locator('.tile-card').first().waitFor();
  assert.deepEqual(await unnamedControls(page), [], 'panel');
  for (const type of ['App', 'Website', 'Shortcut', 'Gesture', 'Flow']) {
    if (!(await page.locator('#tile-dialog[open]').count())) await page.click('#add-tile');
    await page.locator('.type-tab', { hasText: type }).click();
    assert.deepEqual(await unnamedControls(page), [], 'tile dialog: ' + type);
    await page.screenshot({ path: `${ARTIFACTS}panel-dialog-${type.replace(' ', '-').toLowerCase()}.png` });
  }
  await page.click('#tile-cancel');
  await page.click('#new-flow');
  assert.deepEqual(await unnamedControls(page), [], 'flow dialog');
});
