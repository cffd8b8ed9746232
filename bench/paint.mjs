// Prints the phone app's first paint and time to tiles, as a phone on Wi-Fi would see them
// (4× slower CPU, 20 ms latency, 30 Mbit/s), cold cache. Not a test: it prints figures.
//   node bench/paint.mjs http://127.0.0.1:<port>    (an agent with a paired config; after tests/e2e: npm ci)
import { chromium } from '../tests/e2e/node_modules/playwright-core/index.mjs';

const launchBrowser = () => chromium.launch({ executablePath: process.env.HB_CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });
const phonePage = async (browser) => (await browser.newContext({ viewport: { width: 360, height: 780 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true })).newPage();

const base = process.argv[2];
const RUNS = 5;
if (!base) { console.error('usage: bench/paint.mjs <agent base URL>'); process.exit(2); }

const browser = await launchBrowser();
const rows = [];
for (let i = 0; i < RUNS; i++) {
  const page = await phonePage(browser);
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Emulation.setCPUThrottlingRate', { rate: 4 });
  await cdp.send('Network.enable');
  await cdp.send('Network.emulateNetworkConditions', { offline: false, latency: 20, downloadThroughput: 30e6 / 8, uploadThroughput: 15e6 / 8 });
  const code = new URL((await (await fetch(base + '/api/connect')).json()).url).searchParams.get('pair');
  await page.goto(base + '/?pair=' + code);
  await page.locator('#main').waitFor({ state: 'visible' });
  await page.reload(); // paired now: the everyday start
  await page.locator('.tile, #home-empty').first().waitFor();
  rows.push(await page.evaluate(() => {
    const paint = performance.getEntriesByName('first-contentful-paint')[0];
    const tiles = performance.getEntriesByName('harbly:tiles')[0];
    return { fcp: paint ? paint.startTime : NaN, tiles: tiles ? tiles.startTime : NaN, bytes: performance.getEntriesByType('resource').reduce((n, r) => n + r.transferSize, 0) };
  }));
  await page.context().close();
}
await browser.close();
const median = (k) => rows.map((r) => r[k]).sort((a, b) => a - b)[Math.floor(rows.length / 2)];
console.log(`phone app, ${RUNS} runs, median: first contentful paint ${median('fcp').toFixed(0)} ms, ` +
  `tiles shown by ${median('tiles').toFixed(0)} ms, ${Math.round(median('bytes') / 1024)} KiB transferred`);
