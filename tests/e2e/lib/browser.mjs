// Debian's Chromium, headless, through playwright-core: a fresh profile for every launch and no traffic
// of its own (this machine's network refuses everything but loopback).

import fs from 'node:fs';
import { createRequire } from 'node:module';
import { chromium } from 'playwright-core';

const require = createRequire(import.meta.url);
const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

export const chromiumBinary = process.env.QF_CHROMIUM || '/usr/bin/chromium';

export const PHONE = { name: 'phone', viewport: { width: 375, height: 667 }, isMobile: true, hasTouch: true };
export const DESKTOP = { name: 'desktop', viewport: { width: 1280, height: 800 } };

// launch() gives every browser a new temporary --user-data-dir of its own.
export function launch() {
  return chromium.launch({
    executablePath: chromiumBinary,
    headless: true,
    timeout: 60_000,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
  });
}

// A page of a new context, which remembers every console error and uncaught exception it sees.
export async function openPage(browser, device, options = {}) {
  const { name, ...contextOptions } = device;
  const context = await browser.newContext({ ...contextOptions, ...options });
  context.setDefaultTimeout(10_000);
  const page = await context.newPage();
  page.problems = [];
  page.on('console', (message) => {
    if (message.type() === 'error')
      page.problems.push(`${name}: console error: ${message.text()} (${message.location().url || page.url()})`);
  });
  page.on('pageerror', (error) => page.problems.push(`${name}: uncaught: ${error.message} (${page.url()})`));
  return page;
}

// The serious and critical findings of axe-core on the page as it is now; `skip` names rules left out.
export async function accessibilityViolations(page, skip = []) {
  await page.addScriptTag({ content: axeSource });
  const rules = Object.fromEntries(skip.map((rule) => [rule, { enabled: false }]));
  const result = await page.evaluate((rules) => window.axe.run(document, { resultTypes: ['violations'], rules }), rules);
  return result.violations
    .filter((violation) => violation.impact === 'serious' || violation.impact === 'critical')
    .map((violation) => `${violation.id} (${violation.impact}): ${violation.help}: ` +
      violation.nodes.slice(0, 3).map((node) => node.target.join(' ')).join(', '));
}

// Waits until fn() is true, checking every 100 ms; false after `ms`.
export async function eventually(fn, ms = 5000) {
  const deadline = Date.now() + ms;
  for (;;) {
    if (await fn()) return true;
    if (Date.now() >= deadline) return false;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}
