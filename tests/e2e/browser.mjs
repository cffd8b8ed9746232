// Launches Debian's chromium through playwright-core, headless, with the flags that
// make it quiet and reproducible in a container.
import { chromium } from 'playwright-core';

export const PHONE = { width: 360, height: 780 };
export const PANEL = { width: 980, height: 740 };

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.HB_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

/** A phone-sized page; errors on the page are collected so tests can assert there were none. */
export async function phonePage(browser, options = {}) {
  const context = await browser.newContext({ viewport: PHONE, deviceScaleFactor: 2, isMobile: true, hasTouch: true, ...options });
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(String(e)));
  // Failed loads (an app without an icon answers 404) are expected; anything else is not.
  page.on('console', (m) => { if (m.type() === 'error' && !m.text().startsWith('Failed to load resource')) page.errors.push(m.text()); });
  return page;
}

export async function panelPage(browser) {
  const context = await browser.newContext({ viewport: PANEL });
  const page = await context.newPage();
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(String(e)));
  return page;
}
