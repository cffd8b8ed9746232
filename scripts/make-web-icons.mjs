// Renders resources/public/icon.svg to the PNG icons of the web manifest with chromium
// (this machine's ImageMagick has no SVG reader). Run after changing the SVG:
//   node scripts/make-web-icons.mjs   (after tests/e2e: npm ci)
import { readFile } from 'node:fs/promises';
import { chromium } from '../tests/e2e/node_modules/playwright-core/index.mjs';

const launchBrowser = () => chromium.launch({ executablePath: process.env.HB_CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });

const dir = new URL('../resources/public/', import.meta.url).pathname;
const svg = await readFile(dir + 'icon.svg', 'utf8');
const browser = await launchBrowser();
for (const size of [192, 512]) {
  const page = await browser.newPage({ viewport: { width: size, height: size } });
  await page.setContent(`<body style="margin:0;background:transparent">${svg.replace('<svg ', `<svg width="${size}" height="${size}" `)}</body>`);
  await page.screenshot({ path: `${dir}icon-${size}.png`, omitBackground: true });
}
await browser.close();
